// velmora-mpq-reader: the process that makes every StormLib call for the viewer. StormLib is not
// safe on damaged archives (heap overflows, aborting assertions, gigabytes allocated, endless
// decompression loops), so it runs here under an address-space limit, without core dumps, dying
// with the viewer; the viewer puts a deadline on every request and restarts this process when it
// crashes, runs out of memory or misses one. Archive bytes are exactly what an exploit of those bugs
// is made of, so before it reads any, the reader confines itself (archive/ReaderSandbox.h): it can
// read the archive files the viewer named and nothing else, and make only the system calls its
// work needs. The viewer starts it with an empty environment, in /, with only its socket, its
// shared memory and stderr open (0 and 1 on /dev/null). Before StormLib sees an archive its header
// is held to the file's size (archive/MpqHeaderCheck.h), and while StormLib opens it the address
// space is held to what the file can justify. Messages: archive/ReaderProtocol.h.
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
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/MpqHeaderCheck.h"
#include "archive/ReaderProtocol.h"
#include "archive/ReaderSandbox.h"
#include "archive/Storm.h"
#include "base/UniqueFd.h"

#ifdef VELMORA_READER_FAULTS
#include <sys/ptrace.h>
#endif

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
using velmora::TFd;

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

// The process's address space now, from its /proc/self/status (VmSize, in KiB), opened before
// the sandbox closed the file system; 0 when unknown. The file is made anew at every read from
// its start.
std::uint64_t AddressSpaceInUse(int statusFd) {
  char buf[8192];
  std::size_t used = 0;
  for (;;) {
    const ssize_t r = ::pread(statusFd, buf + used, sizeof buf - 1 - used, static_cast<off_t>(used));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    used += static_cast<std::size_t>(r);
    if (used == sizeof buf - 1) break;
  }
  buf[used] = '\0';
  const char* field = std::strstr(buf, "\nVmSize:");
  return field == nullptr ? 0 : std::strtoull(field + 8, nullptr, 10) << 10;
}

// Lowers the soft address-space limit for the span of one open; the hard limit stays, so the soft
// one goes back up when the open is over.
class TOpenLimit {
public:
  TOpenLimit(std::uint64_t fileSize, int statusFd) {
    if (::getrlimit(RLIMIT_AS, &saved_) != 0) return;
    const std::uint64_t allowance = std::min(kOpenAllowanceCap, fileSize * kOpenSizeFactor + kOpenMargin);
    const std::uint64_t inUse = AddressSpaceInUse(statusFd);
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

// A name StormLib made up for a member it cannot name: "File%08u.<ext>" with the member's block
// index, the extension guessed from its first bytes ("xxx" when none fits). Such a name is not
// the member's, and no listfile or lookup knows it.
bool IsMadeUpName(const SFILE_FIND_DATA& data) {
  const std::string_view name(data.cFileName, ::strnlen(data.cFileName, sizeof data.cFileName));
  if (name.size() < 14 || name.substr(0, 4) != "File") return false;
  std::size_t i = 4;
  std::uint64_t number = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && number <= 0xFFFFFFFFu) number = number * 10 + static_cast<unsigned>(name[i++] - '0');
  if (i < 12 || i >= name.size() || name[i] != '.' || number != data.dwBlockIndex) return false;
  for (++i; i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

class TServer {
public:
  TServer(char* shared, int statusFd, pid_t viewer) : shared_(shared), statusFd_(statusFd), viewer_(viewer) {}

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
      case TRequestKind::ListNames: return ListNames(rq.target, reply);
      case TRequestKind::ReadWhole: return ReadWhole(rq, name, reply);
      case TRequestKind::ReadBatch: return ReadBatch(rq, name, reply);
      case TRequestKind::Sandbox: break;  // only as the second message
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
      const TOpenLimit limit(fileSize, statusFd_);
      // Priority 0. Read only: with flags 0 StormLib opens the file for writing too, which the
      // sandbox refuses, as do archives the user may only read.
      HoldDescriptorZero();
      opened = SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &h);
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
    if (mpq != nullptr) ProbeOnName(name, archivePaths_[archive - 1]);
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
    Sizes(h, reply);
    LieOnName(name, TRequestKind::OpenFile, reply);
  }

  // The size a member claims (64 bits; 0 when unknown) and the bytes its archive stores for it:
  // the viewer holds the one to a multiple of the other.
  static void Sizes(HANDLE file, TReplyHeader& reply) {
    DWORD high = 0;
    const DWORD low = SFileGetFileSize(file, &high);
    reply.size = low == SFILE_INVALID_SIZE ? 0 : (static_cast<std::uint64_t>(high) << 32 | low);
    DWORD stored = 0;
    reply.stored = SFileGetFileInfo(file, SFileInfoCompressedSize, &stored, sizeof stored, nullptr) ? stored : 0;
  }

  void ListNames(std::uint32_t archive, TReplyHeader& reply) {
    void* mpq = Find(archives_, archive);
    SFILE_FIND_DATA data{};
    HANDLE find = mpq == nullptr ? nullptr : SFileFindFirstFile(mpq, "*", &data, nullptr);
    if (find == nullptr) {
      CheckMemory();
      // An archive without members has nothing to list.
      if (mpq == nullptr || GetLastError() != ERROR_NO_MORE_FILES) {
        reply.status = TReplyStatus::Failed;
        reply.error = GetLastError();
      }
      return;
    }
    std::size_t used = 0;
    std::uint32_t listed = 0, unnamed = 0, leftOut = 0;
    do {
      const std::size_t length = ::strnlen(data.cFileName, sizeof data.cFileName);
      if (length == 0 || length > kMaxListedName || IsMadeUpName(data)) {
        ++unnamed;
      } else if (used + length + 1 > kSharedBytes) {
        ++leftOut;
      } else {
        std::memcpy(shared_ + used, data.cFileName, length);
        shared_[used + length] = '\0';
        used += length + 1;
        ++listed;
      }
    } while (SFileFindNextFile(find, &data));
    SFileFindClose(find);
    CheckMemory();
    reply.value = listed;
    reply.size = used;
    reply.stored = unnamed;
    reply.error = leftOut;
    LieOnName(archivePaths_[archive - 1], TRequestKind::ListNames, reply);
  }

  void ReadWhole(const TRequestHeader& rq, const std::string& name, TReplyHeader& reply) {
    HANDLE h = nullptr;
    void* mpq = Find(archives_, rq.target);
    if (mpq != nullptr) ProbeOnName(name, archivePaths_[rq.target - 1]);
    if (mpq == nullptr || !SFileOpenFileEx(mpq, name.c_str(), 0, &h)) {
      CheckMemory();
      reply.status = TReplyStatus::Failed;
      reply.error = GetLastError();
      return;
    }
    const TMpqFile file(h);
    Sizes(h, reply);
    // Too large for one trip, or a claim its stored bytes cannot give: the viewer reads it in
    // pieces or refuses it.
    if (rq.length > kSharedBytes || reply.size > rq.length || reply.size > reply.stored * kMaxClaimFactor) {
      reply.status = TReplyStatus::Declined;
      LieOnName(name, TRequestKind::ReadWhole, reply);
      return;
    }
    FaultOnRead(name, archivePaths_[rq.target - 1]);
    DWORD read = 0;
    const auto size = static_cast<DWORD>(reply.size);
    const bool ok = size == 0 || SFileReadFile(h, shared_, size, &read, nullptr);
    if (!ok) CheckMemory();
    reply.value = std::min(read, size);
    reply.status = ok && read == size ? TReplyStatus::Ok : TReplyStatus::Failed;
    LieOnName(name, TRequestKind::ReadWhole, reply);
  }

  // ReadWhole for each NUL-ended name of `names`, the answers packed into the shared memory (a
  // TBatchRecord, then the bytes read) until the next member would not fit there.
  void ReadBatch(const TRequestHeader& rq, const std::string& names, TReplyHeader& reply) {
    void* mpq = Find(archives_, rq.target);
    if (mpq == nullptr || rq.length > kMaxBatchMember) {
      reply.status = TReplyStatus::Failed;
      return;
    }
    const std::string& archive = archivePaths_[rq.target - 1];
    std::size_t used = 0;
    std::uint32_t answered = 0;
    for (std::size_t begin = 0; answered < rq.offset && begin < names.size(); ++answered) {
      const std::size_t end = names.find('\0', begin);
      if (end == std::string::npos || used + sizeof(TBatchRecord) > kSharedBytes) break;
      const std::string name = names.substr(begin, end - begin);
      begin = end + 1;
      TBatchRecord record{};
      ProbeOnName(name, archive);
      HANDLE h = nullptr;
      if (!SFileOpenFileEx(mpq, name.c_str(), 0, &h)) {
        CheckMemory();
        record.status = TReplyStatus::Failed;
        record.error = GetLastError();
      } else {
        const TMpqFile file(h);
        TReplyHeader sizes{};
        Sizes(h, sizes);
        record.size = sizes.size;
        record.stored = sizes.stored;
        if (record.size > rq.length || record.size > record.stored * kMaxClaimFactor) {
          record.status = TReplyStatus::Declined;
        } else if (used + sizeof record + record.size > kSharedBytes) {
          break;  // the next request asks again, from this member
        } else {
          FaultOnRead(name, archive);
          DWORD read = 0;
          const auto size = static_cast<DWORD>(record.size);
          const bool ok = size == 0 || SFileReadFile(h, shared_ + used + sizeof record, size, &read, nullptr);
          if (!ok) CheckMemory();
          record.read = std::min(read, size);
          record.status = ok && read == size ? TReplyStatus::Ok : TReplyStatus::Failed;
          LieOnRecord(name, record);
        }
      }
      std::memcpy(shared_ + used, &record, sizeof record);
      used += sizeof record + record.read;
      used = std::min<std::size_t>((used + kBatchAlign - 1) / kBatchAlign * kBatchAlign, kSharedBytes);
    }
    reply.value = answered;
    reply.size = used;
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
    FaultOnRead(names_[rq.target - 1], fileArchives_[rq.target - 1]);
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
  // make StormLib fail, "-sandbox" makes it try a call the sandbox forbids (it crashes when that
  // goes through); "-once-crash" crashes only the first time, as a heap that an earlier archive
  // damaged would (`marker` records that it did). The "(listfile)" of an archive named
  // "velmora-fault-list-<fault>" fails as a member named "velmora-fault-<fault>".
  void FaultOnName([[maybe_unused]] const std::string& path, [[maybe_unused]] const std::string& marker) {
#ifdef VELMORA_READER_FAULTS
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::string prefix = "velmora-fault-";
    if (name.compare(0, prefix.size(), prefix) != 0) return;
    const std::string what = name.substr(prefix.size());
    if (what.starts_with("once-crash") && MarkOnce(marker)) Fault(TRequestKind::FaultCrash);
    if (what.starts_with("crash")) Fault(TRequestKind::FaultCrash);
    if (what.starts_with("memory")) Fault(TRequestKind::FaultMemory);
    if (what.starts_with("hang")) Fault(TRequestKind::FaultHang);
    if (what.starts_with("sandbox")) {
      ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      Fault(TRequestKind::FaultCrash);
    }
#endif
  }

#ifdef VELMORA_READER_FAULTS
  // True the first time `marker` is seen by any reader of this viewer. The marks live in the last
  // page of the shared memory, which outlives reader processes (the sandbox leaves no file to
  // write them to) and is new for each Stop of the viewer's side; test reads stay far below it.
  bool MarkOnce(const std::string& marker) {
    std::uint64_t hash = 1469598103934665603u;  // FNV-1a
    for (const char c : marker) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    hash |= 1;  // 0 is a free slot
    constexpr std::size_t kSlots = 4096 / sizeof(std::uint64_t);
    char* const table = shared_ + kSharedBytes - 4096;
    for (std::size_t i = 0; i < kSlots; ++i) {
      std::uint64_t slot = 0;
      std::memcpy(&slot, table + i * sizeof slot, sizeof slot);
      if (slot == hash) return false;
      if (slot == 0) {
        std::memcpy(table + i * sizeof slot, &hash, sizeof hash);
        return true;
      }
    }
    return false;
  }
#endif

  // Test builds: a member whose name begins with "velmora-probe-" makes this process try what the
  // sandbox must stop, after it is up: "read=<path>" and "create=<path>" open a file for reading
  // or create one, "tcp" and "unix" open a socket, "ptrace" attaches to the viewer, "exec" runs
  // /bin/sh, and "read-archive" reads the archive's own file, which is allowed. An attempt that
  // goes through ends the process with a crash and says so; one that fails leaves the member to
  // open as any other.
  void ProbeOnName([[maybe_unused]] const std::string& member, [[maybe_unused]] const std::string& archive) const {
#ifdef VELMORA_READER_FAULTS
    const std::string prefix = "velmora-probe-";
    if (member.compare(0, prefix.size(), prefix) != 0) return;
    const std::string what = member.substr(prefix.size());
    const std::size_t eq = what.find('=');
    const std::string path = eq == std::string::npos ? std::string() : what.substr(eq + 1);
    bool done = false;
    if (what.starts_with("read=") || what == "read-archive") {
      const TFd fd(::open(what == "read-archive" ? archive.c_str() : path.c_str(), O_RDONLY | O_CLOEXEC));
      char c = 0;
      done = fd.valid() && ::read(fd.get(), &c, 1) >= 0;
    } else if (what.starts_with("create=")) {
      done = TFd(::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600)).valid();
    } else if (what == "tcp") {
      done = TFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)).valid();
    } else if (what == "unix") {
      done = TFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)).valid();
    } else if (what == "ptrace") {
      done = ::ptrace(PTRACE_ATTACH, viewer_, nullptr, nullptr) == 0;
    } else if (what == "exec") {
      char sh[] = "sh";
      char* argv[] = {sh, nullptr};
      char* envp[] = {nullptr};
      ::execve("/bin/sh", argv, envp);
    }
    if (done) {
      std::fprintf(stderr, "velmora-probe: %s went through\n", what.c_str());
      std::abort();
    }
#endif
  }

  void FaultOnRead([[maybe_unused]] const std::string& member, [[maybe_unused]] const std::string& archive) {
#ifdef VELMORA_READER_FAULTS
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
    if (kind == TRequestKind::ReadWhole && what.starts_with("whole-count")) reply.value = kSharedBytes + 4096;
    if (kind == TRequestKind::ListNames && what.starts_with("names-size")) reply.size = std::uint64_t{kSharedBytes} + 1;
    if (kind == TRequestKind::ListNames && what.starts_with("names-count")) reply.value += 1;
#endif
  }

  // Test builds: a batch member named "velmora-fault-lie-batch-count" says it read more bytes
  // than it claims and than the shared memory holds.
  static void LieOnRecord([[maybe_unused]] const std::string& path, [[maybe_unused]] TBatchRecord& record) {
#ifdef VELMORA_READER_FAULTS
    if (path.substr(path.find_last_of("/\\") + 1).starts_with("velmora-fault-lie-batch-count")) {
      record.read = kSharedBytes + 4096;
    }
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
      // As StormLib's endless decompression loops: busy, and without a system call.
      for (volatile bool forever = true; forever;) {
      }
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
  int statusFd_;
  pid_t viewer_;
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

// The second message: the archive files this reader may open. The sandbox is up before anything
// else is read, and the viewer is told what it could put in place. False when the message is not
// that or the viewer is gone.
bool ConfineTo() {
  TRequestHeader rq{};
  if (!ReadAll(&rq, sizeof rq) || rq.kind != TRequestKind::Sandbox || rq.nameSize > kMaxSandboxPathBytes) return false;
  std::string names(rq.nameSize, '\0');
  if (!ReadAll(names.data(), names.size())) return false;
  std::vector<std::string> archives;
  for (std::size_t begin = 0; begin < names.size();) {
    const std::size_t end = std::min(names.find('\0', begin), names.size());
    archives.emplace_back(names, begin, end - begin);
    begin = end + 1;
  }
  velmora::TSandboxState offered = velmora::ProbeSandbox();
#ifdef VELMORA_READER_FAULTS
  // A test build acts as on a kernel without either, so that the viewer's account of it is tested
  // on every kernel.
  if (const char* v = std::getenv("VELMORA_FAULT_NO_SANDBOX"); v != nullptr && *v != '\0') offered = {};
#endif
  const TSandboxOutcome sandbox = EnterSandbox(archives, kReaderSocketFd, offered);
  TReplyHeader reply{rq.sequence, TReplyStatus::Ok, sandbox.state.landlockAbi, 0, 0, 0, 0, 0};
  reply.value = (sandbox.state.landlockAbi > 0 ? kProtectFiles : 0) | (sandbox.state.seccomp ? kProtectCalls : 0);
  std::string text;
  for (const std::string& line : sandbox.missing) text += line + "\n";
  try {
    SendReply(reply, text);
  } catch (const TPeerGone&) {
    return false;
  }
  return true;
}


}  // namespace

#ifdef VELMORA_READER_UBSAN
// The sanitizer build's reader: its environment is empty, so the runtime's options come from
// here. Deadly signals are left to the kernel, as in the product, since the runtime's own report
// of one symbolizes through calls the sandbox refuses; a report of undefined behaviour goes to
// stderr uncoloured (no terminal query) and ends the process.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=0:symbolize=0:color=never:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
         "handle_abort=0:handle_sigill=0";
}
#endif

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto viewer = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
  ApplyLimits(viewer, std::strtoull(argv[2], nullptr, 10));

  if (!Greet()) return kExitVersion;

  void* shared = ::mmap(nullptr, kSharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kReaderSharedFd, 0);
  if (shared == MAP_FAILED) return 2;
  const TFd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (!ConfineTo()) return 2;
  TServer server(static_cast<char*>(shared), status.get(), viewer);
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
