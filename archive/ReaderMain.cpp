// velmora-mpq-reader: the process that makes every StormLib call for the viewer. StormLib is not
// safe on damaged archives (heap overflows, aborting assertions, gigabytes allocated, endless
// decompression loops), so it runs here under an address-space limit, without core dumps, dying
// with the viewer; the viewer puts a deadline on every request and restarts this process when it
// crashes, runs out of memory or misses one. Before StormLib sees an archive its header is held to
// the file's size (archive/MpqHeaderCheck.h), and while StormLib opens it the address space is
// held to what the file can justify. Messages: archive/ReaderProtocol.h.
//
// Usage: velmora-mpq-reader <viewer pid> <address-space limit in bytes>; socket on descriptor 3,
// shared memory on descriptor 4, stderr to the viewer.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "archive/MpqHeaderCheck.h"
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
// A failed StormLib open ends the process once its reply is sent.
struct TEndAfterReply {};

// While StormLib opens an archive: the address space it already uses, and what the file can
// justify on top, the file's size times this plus the margin, at most kOpenAllowanceCap. Tables
// the header check lets through (up to kTableSlack past the end each, and the file table built
// from them) fit within the margin; an allocation for a table that lies fails at once instead of
// being touched for seconds.
constexpr std::uint64_t kOpenSizeFactor = 4;
constexpr std::uint64_t kOpenMargin = std::uint64_t{128} << 20;
constexpr std::uint64_t kOpenAllowanceCap = std::uint64_t{1} << 30;

// The process's address space now, from /proc/self/status (VmSize, in KiB); 0 when unknown.
std::uint64_t AddressSpaceInUse() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) << 10;
  }
  return 0;
}

// Lowers the soft address-space limit for the span of one open; the hard limit stays, so the soft
// one goes back up when the open is over.
class TOpenLimit {
public:
  explicit TOpenLimit(std::uint64_t fileSize) {
    if (::getrlimit(RLIMIT_AS, &saved_) != 0) return;
    const std::uint64_t allowance = std::min(kOpenAllowanceCap, fileSize * kOpenSizeFactor + kOpenMargin);
    const std::uint64_t inUse = AddressSpaceInUse();
    if (inUse == 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min<std::uint64_t>(saved_.rlim_cur, inUse + allowance);
    active_ = ::setrlimit(RLIMIT_AS, &lowered) == 0;
  }
  ~TOpenLimit() {
    if (active_) ::setrlimit(RLIMIT_AS, &saved_);
  }
  TOpenLimit(const TOpenLimit&) = delete;
  TOpenLimit& operator=(const TOpenLimit&) = delete;

private:
  rlimit saved_{};
  bool active_ = false;
};

// The header check on the archive's file; nullopt when it passes or the file cannot be read here
// (StormLib then reports why).
std::optional<std::string> HeaderProblem(const std::string& path, std::uint64_t& fileSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> problem;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    fileSize = static_cast<std::uint64_t>(st.st_size);
    problem = velmora::mpq::CheckMpqHeader(
        [fd](std::uint64_t offset, void* dst, std::size_t size) {
          std::size_t done = 0;
          while (done < size) {
            const ssize_t r = ::pread(fd, static_cast<char*>(dst) + done, size - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            done += static_cast<std::size_t>(r);
          }
          return done;
        },
        fileSize, path);
  }
  ::close(fd);
  return problem;
}

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

void SendReply(TReplyHeader reply, const std::string& text) {
  const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), kMaxReplyText));
  if (reply.textSize == 0) reply.textSize = size;  // a test build's lie stays
  WriteAll(&reply, sizeof reply);
  WriteAll(text.data(), size);
}

// A failed StormLib call that failed for want of memory stops this process.
void CheckMemory() {
  if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) throw TOutOfMemory{};
}

class TServer {
public:
  explicit TServer(char* shared) : shared_(shared) {}

  // Fills `reply` and `text`; throws TEndAfterReply when the process is to end once they are sent.
  void Handle(const TRequestHeader& rq, const std::string& name, TReplyHeader& reply, std::string& text) {
    switch (rq.kind) {
      case TRequestKind::OpenArchive: return OpenArchive(name, reply, text);
      case TRequestKind::CloseArchive: return Close(archives_, rq.target);
      case TRequestKind::OpenFile: return OpenFile(rq.target, name, reply);
      case TRequestKind::ReadFile:
      case TRequestKind::ReadOn: return ReadFile(rq, reply);
      case TRequestKind::SeekFile: reply.value = Seek(rq.target, rq.offset); return;
      case TRequestKind::CloseFile:
        if (rq.target > 0 && rq.target <= names_.size()) names_[rq.target - 1].clear();
        if (rq.target > 0 && rq.target <= fileArchives_.size()) fileArchives_[rq.target - 1].clear();
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

  void OpenArchive(const std::string& path, TReplyHeader& reply, std::string& text) {
    FaultOnName(path, path + ".open-fault");
    std::uint64_t fileSize = 0;
    if (std::optional<std::string> problem = HeaderProblem(path, fileSize)) {
      reply.status = TReplyStatus::Failed;
      text = std::move(*problem);
      return;
    }
    HANDLE h = nullptr;
    bool opened = false;
    {
      const TOpenLimit limit(fileSize);
      // Priority 0, flags 0, as the viewer always opened its archives.
      HoldDescriptorZero();
      opened = SFileOpenArchive(path.c_str(), 0, 0, &h);
      HoldDescriptorZero();
    }
    if (!opened) {
      CheckMemory();
      reply.status = TReplyStatus::Failed;
      reply.error = GetLastError();
      throw TEndAfterReply{};
    }
    reply.value = Add(archives_, h);
    archivePaths_.resize(archives_.size());
    archivePaths_.back() = path;
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
    fileArchives_.resize(files_.size());
    fileArchives_.back() = archivePaths_[archive - 1];
    DWORD high = 0;
    const DWORD low = SFileGetFileSize(h, &high);
    reply.size = low == SFILE_INVALID_SIZE ? 0 : (static_cast<std::uint64_t>(high) << 32 | low);
    // What the archive stores for it: the viewer holds the claimed size to a multiple of this.
    DWORD stored = 0;
    reply.stored = SFileGetFileInfo(h, SFileInfoCompressedSize, &stored, sizeof stored, nullptr) ? stored : 0;
    LieOnName(name, TRequestKind::OpenFile, reply);
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
    FaultOnRead(rq.target);
    DWORD read = 0;
    // Straight into the shared memory. A short read at the end of the file reports failure but
    // still counts the bytes read.
    const bool ok = rq.length == 0 || SFileReadFile(file, shared_, rq.length, &read, nullptr);
    if (!ok) CheckMemory();
    reply.size = std::min<DWORD>(read, rq.length);
    reply.status = ok && read == rq.length ? TReplyStatus::Ok : TReplyStatus::Failed;
    LieOnName(names_[rq.target - 1], rq.kind, reply);
  }

  // Test builds: a file name (archive path or member, after its last separator) beginning with
  // "velmora-fault-crash", "-memory" or "-hang" makes this process fail the way damaged archives
  // make StormLib fail; "-once-crash" crashes only the first time, as a heap that an earlier
  // archive damaged would (a file `marker` records that it did). The "(listfile)" of an archive
  // named "velmora-fault-list-<fault>" fails as a member named "velmora-fault-<fault>".
  static void FaultOnName([[maybe_unused]] const std::string& path, [[maybe_unused]] const std::string& marker) {
#ifdef VELMORA_READER_FAULTS
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::string prefix = "velmora-fault-";
    if (name.compare(0, prefix.size(), prefix) != 0) return;
    const std::string what = name.substr(prefix.size());
    if (what.starts_with("once-crash") && ::access(marker.c_str(), F_OK) != 0) {
      const int fd = ::open(marker.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      if (fd >= 0) ::close(fd);
      Fault(TRequestKind::FaultCrash);
    }
    if (what.starts_with("crash")) Fault(TRequestKind::FaultCrash);
    if (what.starts_with("memory")) Fault(TRequestKind::FaultMemory);
    if (what.starts_with("hang")) Fault(TRequestKind::FaultHang);
#endif
  }

  void FaultOnRead([[maybe_unused]] std::uint32_t file) const {
#ifdef VELMORA_READER_FAULTS
    const std::string& member = names_[file - 1];
    const std::string& archive = fileArchives_[file - 1];
    const std::string base = archive.substr(archive.find_last_of('/') + 1);
    const std::string listPrefix = "velmora-fault-list-";
    if (member == "(listfile)" && base.compare(0, listPrefix.size(), listPrefix) == 0) {
      FaultOnName("velmora-fault-" + base.substr(listPrefix.size()), archive + ".list-fault");
    } else {
      FaultOnName(member, archive + ".read-fault");
    }
#endif
  }

  // Test builds: a member whose name begins with "velmora-fault-lie-" gets replies that break the
  // bounds the viewer checks: "-lie-count" reads more bytes than asked for and than the shared
  // memory holds, "-lie-position" a position past the one asked for, "-lie-id" a file id never
  // given out, "-lie-size" a claimed size of 2 GiB, "-lie-text" more text than a reply carries,
  // "-lie-sequence" another request's sequence number.
  static void LieOnName([[maybe_unused]] const std::string& path, [[maybe_unused]] TRequestKind kind,
                        [[maybe_unused]] TReplyHeader& reply) {
#ifdef VELMORA_READER_FAULTS
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::string prefix = "velmora-fault-lie-";
    if (name.compare(0, prefix.size(), prefix) != 0) return;
    const std::string what = name.substr(prefix.size());
    const bool read = kind == TRequestKind::ReadFile || kind == TRequestKind::ReadOn;
    if (read && what.starts_with("count")) reply.size = std::uint64_t{kSharedBytes} + 4096;
    if (read && what.starts_with("position")) reply.value += 1000000;
    if (kind == TRequestKind::OpenFile && what.starts_with("id")) reply.value = 0xFFFFFFF0u;
    if (kind == TRequestKind::OpenFile && what.starts_with("size")) reply.size = std::uint64_t{2} << 30;
    if (read && what.starts_with("text")) reply.textSize = 1u << 20;
    if (read && what.starts_with("sequence")) reply.sequence += 1;
#endif
  }

  static void Fault([[maybe_unused]] TRequestKind kind) {
#ifdef VELMORA_READER_FAULTS
    if (kind == TRequestKind::FaultCrash) {
      // As glibc says when a damaged heap stops it.
      std::fputs("velmora-fault: crash on request\n", stderr);
      std::abort();
    }
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
  // For the test faults: each archive's path, and each file's name and archive path.
  std::vector<std::string> archivePaths_;
  std::vector<std::string> names_;
  std::vector<std::string> fileArchives_;
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
  // Each open archive holds a descriptor: as many as the system lets this user have.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

// The version this reader announces; a test build takes another from VELMORA_FAULT_VERSION, as a
// reader left from another build would.
std::uint32_t AnnouncedVersion() {
#ifdef VELMORA_READER_FAULTS
  if (const char* v = std::getenv("VELMORA_FAULT_VERSION"); v != nullptr && *v != '\0') {
    return static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10));
  }
#endif
  return kProtocolVersion;
}

// The first message each way. False when the viewer speaks another protocol; it has been told
// this reader's version then.
bool Greet() {
  THello viewer{};
  if (!ReadAll(&viewer, sizeof viewer)) return false;
  const THello own{kProtocolMagic, AnnouncedVersion()};
  try {
    WriteAll(&own, sizeof own);
  } catch (const TPeerGone&) {
    return false;
  }
  return viewer.magic == kProtocolMagic && viewer.version == own.version;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  ApplyLimits(static_cast<pid_t>(std::strtol(argv[1], nullptr, 10)), std::strtoull(argv[2], nullptr, 10));

  if (!Greet()) return kExitVersion;

  void* shared = ::mmap(nullptr, kSharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kReaderSharedFd, 0);
  if (shared == MAP_FAILED) return 2;
  TServer server(static_cast<char*>(shared));
  std::string name;
  std::string text;
  TRequestHeader rq{};
  while (ReadAll(&rq, sizeof rq)) {
    if (rq.nameSize > kMaxNameSize) return 2;
    TReplyHeader reply{rq.sequence, TReplyStatus::Ok, 0, 0, 0, 0, 0, 0};
    text.clear();
    try {
      name.resize(rq.nameSize);
      if (!ReadAll(name.data(), name.size())) return 0;
      try {
        server.Handle(rq, name, reply, text);
      } catch (const TEndAfterReply&) {
        SendReply(reply, text);
        return 0;
      }
      SendReply(reply, text);
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
        SendReply(reply, {});
      } catch (...) {
      }
      return kExitOutOfMemory;
    }
  }
  return 0;
}
