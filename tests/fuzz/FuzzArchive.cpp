// Scratch archive of the fuzz targets.
#include "fuzz/FuzzArchive.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace velmora::fuzz {

TScratchArchive::TScratchArchive(const std::string& target) {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm", ec)
                                        ? std::filesystem::path("/dev/shm")
                                        : std::filesystem::temp_directory_path();
  path_ = dir / ("velmora-" + target + "-" + std::to_string(getpid()) + ".mpq");
}

TScratchArchive::~TScratchArchive() { Close(); }

MpqHandle TScratchArchive::Open(const std::vector<test::MpqMember>& members,
                                const std::optional<std::string>& listfile) {
  Close();
  test::WriteMpq(path_, members, listfile);
  if (!OpenMpqArchive(path_.string(), archive_)) {
    std::fprintf(stderr, "scratch archive %s does not open\n", path_.c_str());
    std::abort();
  }
  return archive_.Get();
}

void TScratchArchive::Close() {
  archive_.Reset();
  // Removed after every input: the targets keep their state to the end of the process, so no
  // destructor would remove it.
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

}  // namespace velmora::fuzz
