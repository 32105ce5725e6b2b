// A scratch MPQ archive for the fuzz targets: the input is written into it as a member or as
// the "(listfile)", then the product reads it back through StormLib as it reads any archive.
// One file per process in memory-backed storage, rewritten for every input.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "support/MpqWriter.h"

namespace velmora::fuzz {

class TScratchArchive {
public:
  // The file is <dir>/velmora-<target>-<pid>.mpq, dir being /dev/shm when it exists.
  explicit TScratchArchive(const std::string& target);
  ~TScratchArchive();  // as Close
  TScratchArchive(const TScratchArchive&) = delete;
  TScratchArchive& operator=(const TScratchArchive&) = delete;

  // Closes the last archive, writes a new one and opens it; aborts when our own archive does
  // not open, since every later check would then pass vacuously.
  MpqHandle Open(const std::vector<test::MpqMember>& members, const std::optional<std::string>& listfile);
  // Closes the archive and removes the file.
  void Close();

private:
  std::filesystem::path path_;
  TArchiveHandle archive_;
};

}  // namespace velmora::fuzz
