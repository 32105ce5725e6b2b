// velmora-mpq-reader: the process that makes every StormLib call for the viewer. StormLib is not
// safe on damaged archives (heap overflows, aborting assertions, gigabytes allocated, endless
// decompression loops), so it runs here under an address-space limit, without core dumps, dying
// with the viewer; the viewer puts a deadline on every request and restarts this process when it
// crashes, runs out of memory or misses one. Messages: archive/ReaderProtocol.h.
//
// Usage: velmora-mpq-reader <viewer pid> <address-space limit in bytes>; socket on descriptor 3,
// shared memory on descriptor 4.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/ReaderProtocol.h"
#include "archive/Storm.h"

namespace {

// StormLib 9.22 closes file descriptor 0 whenever SFileOpenArchive fails (its stream's handle
// starts out as 0): standard input first, then whatever file took that number since, such as an
// archive opened earlier, whose reads would then fail. With /dev/null held there before and after
// every open, the number never goes to an archive.
void HoldDescriptorZero() {
  if (::fcntl(0, F_GETFD) != -1) return;
  const int fd = ::open("/dev/null", O_RDONLY);
  if (fd > 0) ::close(fd);  // 0 was taken meanwhile after all
}

using namespace velmora::reader;
using velmora::storm::TMpqArchive;
using velmora::storm::TMpqFile;

struct TOutOfMemory {};
struct TPeerGone {};

bool ReadAll(void* p, std::size_t n) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    const ssize_t r = ::read(kReaderSocketFd, c, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    c += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

void WriteAll(const void* p, std::size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    const ssize_t w = ::send(kReaderSocketFd, c, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw TPeerGone{};
    c += w;
    n -= static_cast<std::size_t>(w);
  }
}

void SendReply(const TReplyHeader& reply) { WriteAll(&reply, sizeof reply); }

// A failed StormLib call that failed for want of memory stops this process.
void CheckMemory() {
  if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) throw TOutOfMemory{};
}

class TServer {
public:
  explicit TServer(char* shared) : shared_(shared) {}

  void Handle(const TRequestHeader& rq, const std::string& name, TReplyHeader& reply) {
    switch (rq.kind) {
      case TRequestKind::OpenArchive: return OpenArchive(name, reply);
      case TRequestKind::CloseArchive: return Close(archives_, rq.target);
      case TRequestKind::OpenFile: return OpenFile(rq.target, name, reply);
      case TRequestKind::ReadFile:
      case TRequestKind::ReadOn: return ReadFile(rq, reply);
      case TRequestKind::SeekFile: reply.value = Seek(rq.target, rq.offset); return;
      case TRequestKind::CloseFile:
        if (rq.target > 0 && rq.target <= names_.size()) names_[rq.target - 1].clear();
        return Close(files_, rq.target);
      case TRequestKind::FaultCrash:
      case TRequestKind::FaultMemory:
      case TRequestKind::FaultHang: return Fault(rq.kind);
    }
    reply.status = TReplyStatus::Failed;
  }

private:
  template <typename TOwner>
  static void* Find(const std::vector<TOwner>& table, std::uint32_t id) {
    return id > 0 && id <= table.size() ? table[id - 1].get() : nullptr;
  }

  template <typename TOwner>
  static void Close(std::vector<TOwner>& table, std::uint32_t id) {
    if (id > 0 && id <= table.size()) table[id - 1].reset();
  }

  // Ids are table positions + 1; closed slots are not reused, so a stale id finds nothing.
  template <typename TOwner>
  static std::uint32_t Add(std::vector<TOwner>& table, HANDLE h) {
    table.emplace_back(h);
    return static_cast<std::uint32_t>(table.size());
  }

  void OpenArchive(const std::string& path, TReplyHeader& reply) {
    FaultOnName(path);
    HANDLE h = nullptr;
    // Priority 0, flags 0, as the viewer always opened its archives.
    HoldDescriptorZero();
    const bool opened = SFileOpenArchive(path.c_str(), 0, 0, &h);
    HoldDescriptorZero();
    if (!opened) {
      CheckMemory();
      reply.status = TReplyStatus::Failed;
      reply.error = GetLastError();
      return;
    }
    reply.value = Add(archives_, h);
  }

  void OpenFile(std::uint32_t archive, const std::string& name, TReplyHeader& reply) {
    HANDLE h = nullptr;
    void* mpq = Find(archives_, archive);
    // Search scope 0: the archive itself.
    if (mpq == nullptr || !SFileOpenFileEx(mpq, name.c_str(), 0, &h)) {
      CheckMemory();
      reply.status = TReplyStatus::Failed;
      reply.error = GetLastError();
      return;
    }
    reply.value = Add(files_, h);
    names_.resize(files_.size());
    names_.back() = name;
    DWORD high = 0;
    const DWORD low = SFileGetFileSize(h, &high);
    reply.size = low == SFILE_INVALID_SIZE ? 0 : (static_cast<std::uint64_t>(high) << 32 | low);
  }

  std::uint32_t Seek(std::uint32_t id, std::uint32_t offset) {
    void* file = Find(files_, id);
    if (file == nullptr) return SFILE_INVALID_POS;
    // StormLib sign-extends the low half of a move, so an offset of 2 GiB or more would count as
    // a move before the start: the call fails and leaves the pointer where the last read left
    // it. Such offsets are reached in steps below 2 GiB; StormLib clamps every step at the size.
    constexpr std::uint32_t kMaxStep = 0x7FFFFFFF;
    std::uint32_t step = std::min(offset, kMaxStep);
    LONG high = 0;
    DWORD position = SFileSetFilePointer(file, static_cast<LONG>(step), &high, FILE_BEGIN);
    for (std::uint32_t rest = offset - step; rest > 0 && position != SFILE_INVALID_POS; rest -= step) {
      step = std::min(rest, kMaxStep);
      high = 0;
      position = SFileSetFilePointer(file, static_cast<LONG>(step), &high, FILE_CURRENT);
    }
    return position;
  }

  void ReadFile(const TRequestHeader& rq, TReplyHeader& reply) {
    void* file = Find(files_, rq.target);
    if (rq.kind == TRequestKind::ReadFile) reply.value = Seek(rq.target, rq.offset);
    if (file == nullptr || rq.length > kSharedBytes) {
      reply.status = TReplyStatus::Failed;
      return;
    }
    FaultOnName(names_[rq.target - 1]);
    DWORD read = 0;
    // Straight into the shared memory. A short read at the end of the file reports failure but
    // still counts the bytes read.
    const bool ok = rq.length == 0 || SFileReadFile(file, shared_, rq.length, &read, nullptr);
    if (!ok) CheckMemory();
    reply.size = std::min<DWORD>(read, rq.length);
    reply.status = ok && read == rq.length ? TReplyStatus::Ok : TReplyStatus::Failed;
  }

  // Test builds: a file name (archive path or member, after its last separator) beginning with
  // "velmora-fault-crash", "-memory" or "-hang" makes this process fail the way damaged archives
  // make StormLib fail.
  static void FaultOnName([[maybe_unused]] const std::string& path) {
#ifdef VELMORA_READER_FAULTS
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::string prefix = "velmora-fault-";
    if (name.compare(0, prefix.size(), prefix) != 0) return;
    const std::string what = name.substr(prefix.size());
    if (what.starts_with("crash")) Fault(TRequestKind::FaultCrash);
    if (what.starts_with("memory")) Fault(TRequestKind::FaultMemory);
    if (what.starts_with("hang")) Fault(TRequestKind::FaultHang);
#endif
  }

  static void Fault([[maybe_unused]] TRequestKind kind) {
#ifdef VELMORA_READER_FAULTS
    if (kind == TRequestKind::FaultCrash) std::abort();
    if (kind == TRequestKind::FaultHang) {
      for (;;) ::pause();
    }
    if (kind == TRequestKind::FaultMemory) {
      // Address space without touching it: the limit counts reservations, not resident pages.
      std::vector<void*> blocks;
      for (;;) {
        void* p = std::malloc(std::size_t{64} << 20);
        if (p == nullptr) break;
        blocks.push_back(p);
      }
      for (void* p : blocks) std::free(p);
      throw TOutOfMemory{};
    }
#endif
  }

  std::vector<TMpqArchive> archives_;
  std::vector<TMpqFile> files_;
  std::vector<std::string> names_;  // per file id, for the test faults
  char* shared_;
};

void ApplyLimits(pid_t viewer, rlim_t addressSpace) {
  // Die with the viewer; if it is already gone, the signal would never come.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != viewer) std::_Exit(1);
  // Nothing of the viewer's but the socket and the shared memory: descriptors it left open
  // without close-on-exec (a test runner's pipes, a display connection) stay out of reach.
  ::close_range(kReaderSharedFd + 1, ~0u, 0);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  const rlimit space{addressSpace, addressSpace};
  ::setrlimit(RLIMIT_AS, &space);
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  ApplyLimits(static_cast<pid_t>(std::strtol(argv[1], nullptr, 10)), std::strtoull(argv[2], nullptr, 10));

  void* shared = ::mmap(nullptr, kSharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kReaderSharedFd, 0);
  if (shared == MAP_FAILED) return 2;
  TServer server(static_cast<char*>(shared));
  std::string name;
  TRequestHeader rq{};
  while (ReadAll(&rq, sizeof rq)) {
    if (rq.nameSize > kMaxNameSize) return 2;
    TReplyHeader reply{rq.sequence, TReplyStatus::Ok, 0, 0, 0};
    try {
      name.resize(rq.nameSize);
      if (!ReadAll(name.data(), name.size())) return 0;
      server.Handle(rq, name, reply);
      SendReply(reply);
    } catch (const TPeerGone&) {
      return 0;
    } catch (const std::bad_alloc&) {
      reply.status = TReplyStatus::OutOfMemory;
    } catch (const TOutOfMemory&) {
      reply.status = TReplyStatus::OutOfMemory;
    }
    if (reply.status == TReplyStatus::OutOfMemory) {
      // StormLib's state after a failed allocation is not to be trusted: report and go.
      try {
        SendReply(reply);
      } catch (...) {
      }
      return kExitOutOfMemory;
    }
  }
  return 0;
}
