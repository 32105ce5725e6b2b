// The viewer's side of the archive reader process: start, requests under deadlines, restarts.
#include "archive/ReaderClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "base/Paths.h"

extern char** environ;

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;
using namespace reader;

constexpr std::chrono::milliseconds kHookInterval{50};
// Address space of the reader: a few GiB, and at most half of the machine's memory. Real
// archives need far less; damaged ones have asked StormLib for 8 GB.
constexpr std::uint64_t kAddressLimit = std::uint64_t{4} << 30;

std::uint64_t AddressLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kAddressLimit;
  return std::min(kAddressLimit, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2);
}

// A /proc/<pid>/status field in KiB; -1 when absent.
long StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > field.size() && line.compare(0, field.size(), field) == 0 && line[field.size()] == ':') {
      return std::atol(line.c_str() + field.size() + 1);
    }
  }
  return -1;
}

// `fd` moved to a number of at least `min`, so that handing descriptors to the reader at fixed
// numbers cannot overwrite one of them; close-on-exec.
int Above(int fd, int min) {
  if (fd < 0 || fd >= min) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, min);
  ::close(fd);
  return moved;
}

}  // namespace

std::string_view ReaderStopText(TReaderStop stop) {
  switch (stop) {
    case TReaderStop::Crash: return "crash";
    case TReaderStop::Memory: return "memory";
    case TReaderStop::TimeOut: return "time-out";
    case TReaderStop::None: break;
  }
  return {};
}

TArchiveReader::TArchiveReader() = default;

TArchiveReader::~TArchiveReader() { Kill(); }

TArchiveReader& TArchiveReader::Instance() {
  // Never destroyed: owners held by other static objects may still close handles while the
  // program exits, and the reader process dies with the viewer anyway.
  alignas(TArchiveReader) static unsigned char storage[sizeof(TArchiveReader)];
  static TArchiveReader* const instance = std::construct_at(reinterpret_cast<TArchiveReader*>(storage));
  return *instance;
}

std::string TArchiveReader::DefaultProgram() {
  // <exeDir>/../libexec/velmora/ holds it both in the build tree (build/app/VelmoraGL) and in an
  // installation (bin/VelmoraGL); test and benchmark programs elsewhere use the build tree's.
  const std::string exeDir = ExecutableDir();
  if (!exeDir.empty()) {
    const auto beside =
        (std::filesystem::path(exeDir) / ".." / "libexec" / "velmora" / "velmora-mpq-reader").lexically_normal();
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return VELMORA_READER_BUILD_PATH;
}

void TArchiveReader::TShared::Release() {
  if (data_ != nullptr) ::munmap(const_cast<char*>(data_), kSharedBytes);
  fd_.Reset();
  data_ = nullptr;
}

bool TArchiveReader::TShared::Create() {
  if (data_ != nullptr) return true;
  fd_.Reset(Above(::memfd_create("velmora-mpq-reader", MFD_CLOEXEC | MFD_ALLOW_SEALING), kReaderSharedFd + 1));
  if (!fd_.valid() || ::ftruncate(fd_.get(), kSharedBytes) != 0 ||
      ::fcntl(fd_.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    Release();
    return false;
  }
  // Read-only here: only the reader writes. Populated at once: one call instead of a fault per
  // page.
  void* p = ::mmap(nullptr, kSharedBytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_.get(), 0);
  if (p == MAP_FAILED) {
    Release();
    return false;
  }
  data_ = static_cast<const char*>(p);
  return true;
}

bool TArchiveReader::Start() {
  Kill();
  if (program_.empty()) program_ = DefaultProgram();
  if (!shared_.Create()) {
    std::fprintf(stderr, "cannot create the archive reader's shared memory: %s\n", std::strerror(errno));
    return false;
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
  TFd ours(sv[0]);
  // dup2 onto the same number would keep close-on-exec set, and onto the other target number
  // would overwrite it.
  const TFd child(Above(sv[1], kReaderSharedFd + 1));
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, child.get(), kReaderSocketFd);
  ::posix_spawn_file_actions_adddup2(&actions, shared_.Fd(), kReaderSharedFd);
  const std::string parent = std::to_string(::getpid());
  const std::string limit = std::to_string(AddressLimit());
  std::string name = "velmora-mpq-reader";
  char* argv[] = {name.data(), const_cast<char*>(parent.c_str()), const_cast<char*>(limit.c_str()), nullptr};
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "cannot start the archive reader %s: %s\n", program_.c_str(), std::strerror(error));
    return false;
  }
  ::fcntl(ours.get(), F_SETFL, ::fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
  socket_ = std::move(ours);
  pid_ = pid;
  ++generation_;
  return true;
}

void TArchiveReader::Kill() {
  socket_.Reset();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = 0;
}

void TArchiveReader::Stop() {
  Kill();
  shared_.Release();
  culprits_.clear();
}

TReaderStop TArchiveReader::DeathReason() {
  // The socket closed: the process is exiting. Give it a moment to be reaped with its status.
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = 0;
      if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory) return TReaderStop::Memory;
      return TReaderStop::Crash;
    }
    if (r < 0 && errno != EINTR) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return TReaderStop::Crash;
}

bool TArchiveReader::Wait(short events, Clock::time_point deadline) {
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) {
      timedOut_ = true;
      return false;
    }
    if (waitHook_ && now - lastHook_ >= kHookInterval) {
      lastHook_ = now;
      waitHook_();
    }
    const auto slice = std::min<Clock::duration>(kHookInterval, deadline - now);
    pollfd p{socket_.get(), events, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (r > 0) return true;  // readiness, or a hang-up that the next call reports
    if (r < 0 && errno != EINTR) return false;
  }
}

bool TArchiveReader::Send(const void* p, std::size_t n, Clock::time_point deadline) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    const ssize_t w = ::send(socket_.get(), c, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      c += w;
      n -= static_cast<std::size_t>(w);
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(POLLOUT, deadline)) return false;
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool TArchiveReader::Receive(void* p, std::size_t n, Clock::time_point deadline) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    const ssize_t r = ::recv(socket_.get(), c, n, MSG_DONTWAIT);
    if (r > 0) {
      c += r;
      n -= static_cast<std::size_t>(r);
    } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(POLLIN, deadline)) return false;
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      return false;  // end of stream: the reader is gone
    }
  }
  return true;
}

TReaderStop TArchiveReader::Exchange(const TRequestHeader& rq, std::string_view name, TReplyHeader& reply,
                                     Clock::time_point deadline) {
  timedOut_ = false;
  const bool ok = Send(&rq, sizeof rq, deadline) && Send(name.data(), name.size(), deadline) &&
                  Receive(&reply, sizeof reply, deadline) && reply.sequence == rq.sequence;
  if (ok && reply.status != TReplyStatus::OutOfMemory) return TReaderStop::None;
  TReaderStop stop = TReaderStop::Crash;
  if (timedOut_) {
    stop = TReaderStop::TimeOut;
  } else if (ok) {
    stop = TReaderStop::Memory;
  } else {
    stop = DeathReason();
  }
  Kill();
  return stop;
}

void TArchiveReader::Drop(MpqHandle culprit, TReaderStop stop) {
  const auto it = archives_.find(culprit);
  if (it == archives_.end()) return;
  it->second.stop = stop;
  if (it->second.identified) culprits_[{it->second.dev, it->second.ino}] = stop;
}

void TArchiveReader::Reopen() {
  // Each stop here drops one more archive, so this ends.
  for (;;) {
    if (pid_ <= 0 && !Start()) return;
    bool restarted = false;
    for (auto& [handle, a] : archives_) {
      if (a.stop != TReaderStop::None || a.lost || a.generation == 0 || a.generation == generation_) continue;
      const TRequestHeader rq{TRequestKind::OpenArchive, ++sequence_, 0, 0, 0,
                              static_cast<std::uint32_t>(a.path.size())};
      TReplyHeader reply{};
      const TReaderStop stop = Exchange(rq, a.path, reply, Clock::now() + deadlines_.open);
      if (stop != TReaderStop::None) {
        Drop(handle, stop);
        ++restarts_;
        restarted = true;
        break;
      }
      if (reply.status == TReplyStatus::Ok) {
        a.id = reply.value;
        a.generation = generation_;
      } else {
        a.lost = true;
      }
    }
    if (!restarted) return;
  }
}

TReaderStop TArchiveReader::Call(MpqHandle culprit, const TRequestHeader& rq, std::string_view name,
                                 TReplyHeader& reply, std::chrono::milliseconds deadline) {
  const TReaderStop stop = Exchange(rq, name, reply, Clock::now() + deadline);
  if (stop != TReaderStop::None) {
    Drop(culprit, stop);
    ++restarts_;
    Reopen();
  }
  return stop;
}

std::chrono::milliseconds TArchiveReader::ReadDeadline(std::uint32_t length) const {
  return deadlines_.readBase + deadlines_.readPerMiB * ((std::uint64_t{length} + (1u << 20) - 1) >> 20);
}

namespace {

// Marks the client busy for one public call; a call made from inside the wait hook finds it set.
class TBusy {
public:
  explicit TBusy(bool& busy) : busy_(busy), entered_(!busy) { busy_ = true; }
  ~TBusy() {
    if (entered_) busy_ = false;
  }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;
  bool Entered() const { return entered_; }

private:
  bool& busy_;
  bool entered_;
};

}  // namespace

TArchiveReader::TArchiveOpen TArchiveReader::OpenArchive(const std::string& path) {
  TArchiveOpen result;
  const TBusy busy(busy_);
  if (!busy.Entered()) return result;

  TArchive entry;
  entry.path = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    entry.identified = true;
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
    // Each file once, however it is named.
    for (const auto& [handle, a] : archives_) {
      if (!a.identified || a.dev != st.st_dev || a.ino != st.st_ino) continue;
      result.handle = handle;
      result.stop = a.stop;
      result.status = a.stop == TReaderStop::None ? TArchiveOpenStatus::AlreadyOpen : TArchiveOpenStatus::ReaderStopped;
      return result;
    }
    if (const auto it = culprits_.find({st.st_dev, st.st_ino}); it != culprits_.end()) {
      result.status = TArchiveOpenStatus::ReaderStopped;
      result.stop = it->second;
      return result;
    }
  }
  if (path.size() > kMaxNameSize) return result;
  if (pid_ <= 0) Reopen();

  const MpqHandle handle = nextArchive_++;
  TArchive& a = archives_.emplace(handle, std::move(entry)).first->second;
  const TRequestHeader rq{TRequestKind::OpenArchive, ++sequence_, 0, 0, 0, static_cast<std::uint32_t>(path.size())};
  TReplyHeader reply{};
  const TReaderStop stop = pid_ > 0 ? Call(handle, rq, path, reply, deadlines_.open) : TReaderStop::Crash;
  if (stop == TReaderStop::None && reply.status == TReplyStatus::Ok) {
    a.id = reply.value;
    a.generation = generation_;
    result.status = TArchiveOpenStatus::Opened;
    result.handle = handle;
    return result;
  }
  if (stop != TReaderStop::None) {
    Drop(handle, stop);
    result.status = TArchiveOpenStatus::ReaderStopped;
    result.stop = stop;
  }
  archives_.erase(handle);
  // Handles stay consecutive in the log when opens fail.
  if (nextArchive_ == handle + 1) nextArchive_ = handle;
  return result;
}

void TArchiveReader::CloseArchive(MpqHandle archive) {
  const TBusy busy(busy_);
  const auto it = archives_.find(archive);
  if (it == archives_.end()) return;
  const TArchive& a = it->second;
  if (busy.Entered() && pid_ > 0 && a.stop == TReaderStop::None && !a.lost && a.generation == generation_) {
    const TRequestHeader rq{TRequestKind::CloseArchive, ++sequence_, a.id, 0, 0, 0};
    TReplyHeader reply{};
    Call(archive, rq, {}, reply, deadlines_.open);
  }
  archives_.erase(archive);
}

TReaderStop TArchiveReader::ArchiveStop(MpqHandle archive) const {
  const auto it = archives_.find(archive);
  return it == archives_.end() ? TReaderStop::None : it->second.stop;
}

TArchiveReader::TFile* TArchiveReader::EnsureFile(MpqHandle file, TReaderStop& stop) {
  const auto f = files_.find(file);
  if (f == files_.end() || f->second.lost) return nullptr;
  if (pid_ <= 0) Reopen();
  const auto a = archives_.find(f->second.archive);
  if (a == archives_.end()) return nullptr;
  if (a->second.stop != TReaderStop::None) {
    stop = a->second.stop;
    return nullptr;
  }
  if (pid_ <= 0 || a->second.lost || a->second.generation != generation_) return nullptr;
  if (f->second.generation == generation_) return &f->second;
  // Opened in an earlier reader process: open it again in this one.
  const TRequestHeader rq{TRequestKind::OpenFile, ++sequence_, a->second.id, 0, 0,
                          static_cast<std::uint32_t>(f->second.name.size())};
  TReplyHeader reply{};
  stop = Call(a->first, rq, f->second.name, reply, deadlines_.open);
  if (stop != TReaderStop::None) return nullptr;
  if (reply.status != TReplyStatus::Ok) {
    f->second.lost = true;
    return nullptr;
  }
  f->second.id = reply.value;
  f->second.generation = generation_;
  return &f->second;
}

TArchiveReader::TFileOpen TArchiveReader::OpenFile(MpqHandle archive, const std::string& name) {
  TFileOpen result;
  const TBusy busy(busy_);
  if (!busy.Entered() || name.size() > kMaxNameSize) return result;
  if (pid_ <= 0) Reopen();
  const auto a = archives_.find(archive);
  if (a == archives_.end()) return result;
  if (a->second.stop != TReaderStop::None) {
    result.stop = a->second.stop;
    return result;
  }
  if (pid_ <= 0 || a->second.lost || a->second.generation != generation_) return result;
  const TRequestHeader rq{TRequestKind::OpenFile, ++sequence_, a->second.id, 0, 0,
                          static_cast<std::uint32_t>(name.size())};
  TReplyHeader reply{};
  result.stop = Call(archive, rq, name, reply, deadlines_.open);
  if (result.stop != TReaderStop::None || reply.status != TReplyStatus::Ok) return result;
  const MpqHandle handle = nextFile_++;
  files_.emplace(handle, TFile{archive, name, reply.value, generation_, false});
  result.handle = handle;
  result.size = reply.size;
  return result;
}

TArchiveReader::TRead TArchiveReader::Read(MpqHandle file, std::uint32_t offset, std::uint32_t length, void* dst) {
  TRead result;
  const TBusy busy(busy_);
  if (!busy.Entered()) return result;
  TFile* f = EnsureFile(file, result.stop);
  if (f == nullptr) return result;
  // In pieces of the shared memory's size: the first positions, the others read on.
  char* out = static_cast<char*>(dst);
  std::uint32_t done = 0;
  do {
    const std::uint32_t piece = std::min(length - done, kSharedBytes);
    const TRequestHeader rq{done == 0 ? TRequestKind::ReadFile : TRequestKind::ReadOn, ++sequence_, f->id, offset,
                            piece, 0};
    TReplyHeader reply{};
    result.stop = Call(f->archive, rq, {}, reply, ReadDeadline(piece));
    if (result.stop != TReaderStop::None) return result;
    if (done == 0) result.position = reply.value;
    const auto got = static_cast<std::uint32_t>(std::min<std::uint64_t>(reply.size, piece));
    std::memcpy(out + done, shared_.Data(), got);
    done += got;
    result.read = done;
    if (reply.status != TReplyStatus::Ok || got != piece) return result;
  } while (done < length);
  result.complete = true;
  return result;
}

TArchiveReader::TRead TArchiveReader::Seek(MpqHandle file, std::uint32_t offset) {
  TRead result;
  const TBusy busy(busy_);
  if (!busy.Entered()) return result;
  TFile* f = EnsureFile(file, result.stop);
  if (f == nullptr) return result;
  const TRequestHeader rq{TRequestKind::SeekFile, ++sequence_, f->id, offset, 0, 0};
  TReplyHeader reply{};
  result.stop = Call(f->archive, rq, {}, reply, deadlines_.readBase);
  if (result.stop == TReaderStop::None) {
    result.position = reply.value;
    result.complete = true;
  }
  return result;
}

void TArchiveReader::CloseFile(MpqHandle file) {
  const TBusy busy(busy_);
  const auto f = files_.find(file);
  if (f == files_.end()) return;
  const auto a = archives_.find(f->second.archive);
  if (busy.Entered() && pid_ > 0 && !f->second.lost && f->second.generation == generation_ && a != archives_.end() &&
      a->second.stop == TReaderStop::None) {
    const TRequestHeader rq{TRequestKind::CloseFile, ++sequence_, f->second.id, 0, 0, 0};
    TReplyHeader reply{};
    Call(a->first, rq, {}, reply, deadlines_.open);
  }
  files_.erase(file);
}

std::optional<TArchiveReader::TUsage> TArchiveReader::Usage() const {
  if (pid_ <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the parenthesised name: state is field 3, utime 14 and stime 15.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  unsigned long long utime = 0, stime = 0;
  fields >> utime >> stime;
  TUsage u;
  u.pid = pid_;
  u.cpuMs = static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  u.rssKiB = StatusKiB(pid_, "VmRSS");
  u.peakRssKiB = StatusKiB(pid_, "VmHWM");
  return u;
}

TArchiveHandle& TArchiveHandle::operator=(TArchiveHandle&& o) noexcept {
  if (this != &o) {
    Reset();
    h_ = o.h_;
    o.h_ = 0;
  }
  return *this;
}

void TArchiveHandle::Reset() {
  if (h_ != 0) TArchiveReader::Instance().CloseArchive(h_);
  h_ = 0;
}

TArchiveFileHandle& TArchiveFileHandle::operator=(TArchiveFileHandle&& o) noexcept {
  if (this != &o) {
    Reset();
    h_ = o.h_;
    o.h_ = 0;
  }
  return *this;
}

void TArchiveFileHandle::Reset() {
  if (h_ != 0) TArchiveReader::Instance().CloseFile(h_);
  h_ = 0;
}

}  // namespace velmora
