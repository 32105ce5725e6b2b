// Helpers of the limit tests.
#include "HardeningSupport.h"

#include <pthread.h>

#include <stdexcept>

namespace velmora::test {

ScratchArchive::ScratchArchive(const std::vector<MpqMember>& members, const std::optional<std::string>& listfile) {
  const std::filesystem::path path = dir_.path() / "hostile.mpq";
  WriteMpq(path, members, listfile ? *listfile : ListFileOf(members));
  CreateArchiveIndex();
  TArchiveHandle archive;
  if (!OpenMpqArchive(path.string(), archive)) return;
  const MpqHandle h = archive.Get();
  MpqList->Append(std::move(archive));
  handle_ = h;
}

ScratchArchive::~ScratchArchive() { FreeArchiveIndex(); }

void RunOnSmallStack(std::size_t stackBytes, const std::function<void()>& work) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  const auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  const int rc = pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work));
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
}

}  // namespace velmora::test
