// The viewer's side of the archive reader process: start and greeting, requests under deadlines,
// replies held to their requests, restarts.
#include "archive/ReaderClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
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

#include "base/Escape.h"
#include "base/Paths.h"

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;
using namespace reader;

constexpr std::chrono::milliseconds kHookInterval{50};
// Address space of the reader: a few GiB, and at most half of the machine's memory. Real
// archives need far less; damaged ones have asked StormLib for 8 GB.
constexpr std::uint64_t kAddressLimit = std::uint64_t{4} << 30;

// Archives open in one reader at a time, whatever the descriptor limit allows, and the
// descriptors kept for the reader's own use.
constexpr std::uint64_t kMaxOpenArchives = 8192;
constexpr std::uint64_t kMinOpenArchives = 16;
constexpr std::uint64_t kReservedFds = 64;
// What is kept of the reader's stderr, and how many of its last lines go with a stop.
constexpr std::size_t kStderrTail = 4096;
constexpr std::size_t kStderrLines = 4;

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

// A crash, and a call the sandbox killed the reader for, may be an earlier archive's doing (a heap
// it damaged): the request is tried once more in a fresh reader before it is blamed.
bool Retried(TReaderStop stop) { return stop == TReaderStop::Crash || stop == TReaderStop::Sandbox; }

// The claimed size refused as a decompression bomb.
std::string BombText(std::uint64_t size, std::uint64_t stored) {
  return "decompression bomb: claims " + std::to_string(size) + " bytes, stores " + std::to_string(stored) +
         " (at most " + std::to_string(kMaxExpansion) + " x " + std::to_string(stored) + " = " +
         std::to_string(stored * kMaxExpansion) + ")";
}

// An absolute form of `path`, which the reader, running in /, opens as the viewer would.
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
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
    case TReaderStop::Sandbox: return "sandbox violation";
    case TReaderStop::None: break;
  }
  return {};
}

std::string TReaderStopEvent::Text() const {
  std::string text = EscapeName(archive) + ": the archive reader stopped (" + std::string(ReaderStopText(stop)) + ") while ";
  switch (stage) {
    case TStage::OpenArchive: text += "opening it"; break;
    case TStage::OpenFile: text += "opening " + EscapeName(member); break;
    case TStage::Read: text += "reading " + EscapeName(member); break;
    case TStage::Close: text += "closing " + (member.empty() ? std::string("it") : EscapeName(member)); break;
    case TStage::ListNames: text += "listing its files"; break;
  }
  if (!words.empty()) text += "; it said: " + words;
  return text;
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

namespace {

// Where the reader is looked for, in order: <exeDir>/../libexec/velmora/ holds it both in the
// build tree (build/app/VelmoraGL) and in an installation (bin/VelmoraGL); test and benchmark
// programs elsewhere use the build tree's.
std::vector<std::string> ProgramCandidates() {
  std::vector<std::string> out;
  const std::string exeDir = ExecutableDir();
  if (!exeDir.empty()) {
    out.push_back(
        (std::filesystem::path(exeDir) / ".." / "libexec" / "velmora" / "velmora-mpq-reader").lexically_normal().string());
  }
  if (out.empty() || out.front() != VELMORA_READER_BUILD_PATH) out.push_back(VELMORA_READER_BUILD_PATH);
  return out;
}

}  // namespace

std::string TArchiveReader::DefaultProgram() {
  const std::vector<std::string> candidates = ProgramCandidates();
  for (const std::string& c : candidates) {
    if (::access(c.c_str(), X_OK) == 0) return c;
  }
  return candidates.front();
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

std::size_t TArchiveReader::MaxOpen() const {
  if (maxOpen_ > 0) return maxOpen_;
  // The reader raises its soft descriptor limit to the hard one; each open archive holds one
  // descriptor there, and a few are the reader's own.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_max == RLIM_INFINITY) return kMaxOpenArchives;
  const auto hard = static_cast<std::uint64_t>(files.rlim_max);
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(hard > kReservedFds ? hard - kReservedFds : 0,
                                                            kMinOpenArchives, kMaxOpenArchives));
}

void TArchiveReader::DrainStderr() {
  if (!stderr_.valid()) return;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(stderr_.get(), buf, sizeof buf);
    if (n > 0) {
      stderrTail_.append(buf, static_cast<std::size_t>(n));
      if (stderrTail_.size() > kStderrTail) stderrTail_.erase(0, stderrTail_.size() - kStderrTail);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) stderr_.Reset();  // the reader is gone and all it wrote has been read
    return;
  }
}

std::string TArchiveReader::TakeWords() {
  DrainStderr();
  std::vector<std::string_view> lines;
  const std::string_view tail(stderrTail_);
  std::size_t begin = 0;
  while (begin < tail.size()) {
    std::size_t end = tail.find('\n', begin);
    if (end == std::string_view::npos) end = tail.size();
    if (end > begin) lines.push_back(tail.substr(begin, end - begin));
    begin = end + 1;
  }
  std::string words;
  const std::size_t first = lines.size() > kStderrLines ? lines.size() - kStderrLines : 0;
  for (std::size_t i = first; i < lines.size(); ++i) words += (words.empty() ? "" : " / ") + EscapeName(lines[i]);
  stderrTail_.clear();
  return words;
}

bool TArchiveReader::EnsureRunning() { return pid_ > 0 || Start(); }

bool TArchiveReader::Start() {
  Kill();
  if (!startProblem_.empty()) return false;
  const bool defaultProgram = program_.empty();
  if (defaultProgram) program_ = DefaultProgram();
  auto fail = [&](const std::string& why) {
    startProblem_ = "the archive reader " + EscapeName(program_) + " cannot run: " + why;
    if (defaultProgram) {
      std::string places;
      for (const std::string& c : ProgramCandidates()) places += (places.empty() ? "" : ", then ") + EscapeName(c);
      startProblem_ += " (looked for " + places + ")";
    }
    if (defaultProgram) program_.clear();
    Kill();
    return false;
  };
  if (!shared_.Create()) return fail(std::string("no shared memory: ") + std::strerror(errno));
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return fail(std::strerror(errno));
  TFd ours(sv[0]);
  // dup2 onto the same number would keep close-on-exec set, and onto the other target number
  // would overwrite it.
  const TFd child(Above(sv[1], kReaderSharedFd + 1));
  int errPipe[2];
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return fail(std::strerror(errno));
  TFd errOurs(errPipe[0]);
  const TFd errChild(Above(errPipe[1], kReaderSharedFd + 1));
  // Nothing of the viewer's to take along: its terminal or pipes on 0 and 1, its working folder,
  // its environment (the display, the session bus, the home folder).
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, child.get(), kReaderSocketFd);
  ::posix_spawn_file_actions_adddup2(&actions, shared_.Fd(), kReaderSharedFd);
  ::posix_spawn_file_actions_adddup2(&actions, errChild.get(), kReaderStderrFd);
  ::posix_spawn_file_actions_addchdir_np(&actions, "/");
  const std::string parent = std::to_string(::getpid());
  const std::string limit = std::to_string(AddressLimit());
  std::string name = "velmora-mpq-reader";
  char* argv[] = {name.data(), const_cast<char*>(parent.c_str()), const_cast<char*>(limit.c_str()), nullptr};
  char* noEnvironment[] = {nullptr};
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, noEnvironment);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return fail(std::strerror(error));
  ::fcntl(ours.get(), F_SETFL, ::fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
  ::fcntl(errOurs.get(), F_SETFL, ::fcntl(errOurs.get(), F_GETFL) | O_NONBLOCK);
  socket_ = std::move(ours);
  stderr_ = std::move(errOurs);
  stderrTail_.clear();
  pid_ = pid;

  // The first message each way: a reader of another build is not used.
  const auto deadline = Clock::now() + deadlines_.open;
  const THello hello{kProtocolMagic, kProtocolVersion};
  THello answer{};
  timedOut_ = false;
  if (!Send(&hello, sizeof hello, deadline) || !Receive(&answer, sizeof answer, deadline)) {
    const bool late = timedOut_;
    const TReaderStop death = late ? TReaderStop::TimeOut : DeathReason();
    const std::string words = TakeWords();
    return fail(std::string(late ? "it did not answer within the deadline" : "it ended before it answered") +
                (death == TReaderStop::Memory ? " (out of memory)" : "") + (words.empty() ? "" : ": " + words));
  }
  if (answer.magic != kProtocolMagic) return fail("it does not speak the viewer's protocol");
  if (answer.version != kProtocolVersion) {
    return fail("archive reader version " + std::to_string(answer.version) + ", viewer expects " +
                std::to_string(kProtocolVersion));
  }
  if (const std::string problem = Confine(deadline); !problem.empty()) return fail(problem);
  ++generation_;
  archiveOpensSent_ = 0;
  fileOpensSent_ = 0;
  openInReader_ = 0;
  return true;
}

void TArchiveReader::Kill() {
  socket_.Reset();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    rusage usage{};
    while (::wait4(pid_, nullptr, 0, &usage) < 0 && errno == EINTR) {
    }
    endedPeakKiB_ = usage.ru_maxrss;
  }
  pid_ = 0;
  openInReader_ = 0;
  DrainStderr();
  stderr_.Reset();
}

void TArchiveReader::Stop() {
  Kill();
  shared_.Release();
  culprits_.clear();
  startProblem_.clear();
}

TReaderStop TArchiveReader::DeathReason() {
  // The socket closed: the process is exiting. Give it a moment to be reaped with its status.
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    rusage usage{};
    const pid_t r = ::wait4(pid_, &status, WNOHANG, &usage);
    if (r == pid_) {
      pid_ = 0;
      endedPeakKiB_ = usage.ru_maxrss;
      if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory) return TReaderStop::Memory;
      // The seccomp filter kills with SIGSYS.
      if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) return TReaderStop::Sandbox;
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
    // The reader's stderr is read meanwhile, so that it never blocks on a full pipe.
    pollfd p[2] = {{socket_.get(), events, 0}, {stderr_.get(), POLLIN, 0}};
    const int r = ::poll(p, stderr_.valid() ? 2 : 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (r > 0 && p[1].revents != 0) DrainStderr();
    if (r > 0 && p[0].revents != 0) return true;  // readiness, or a hang-up that the next call reports
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

std::string TArchiveReader::Breach(const TRequestHeader& rq, const TAnswer& answer) const {
  const TReplyHeader& r = answer.reply;
  const bool declined = r.status == TReplyStatus::Declined && rq.kind == TRequestKind::ReadWhole;
  if (r.status != TReplyStatus::Ok && r.status != TReplyStatus::Failed && r.status != TReplyStatus::OutOfMemory &&
      !declined) {
    return "status " + std::to_string(static_cast<std::uint32_t>(r.status));
  }
  if (r.status != TReplyStatus::Ok) return {};
  switch (rq.kind) {
    case TRequestKind::OpenArchive:
      if (r.value == 0 || r.value > archiveOpensSent_) {
        return "archive id " + std::to_string(r.value) + " (" + std::to_string(archiveOpensSent_) + " opened)";
      }
      break;
    case TRequestKind::OpenFile:
      if (r.value == 0 || r.value > fileOpensSent_) {
        return "file id " + std::to_string(r.value) + " (" + std::to_string(fileOpensSent_) + " opened)";
      }
      break;
    default:
      break;
  }
  return {};
}

TArchiveReader::TAnswer TArchiveReader::Exchange(const TRequestHeader& rq, std::string_view name,
                                                 std::chrono::milliseconds deadlineIn) {
  const auto deadline = Clock::now() + deadlineIn;
  return Answer(rq, deadline, SendRequest(rq, name, deadline));
}

bool TArchiveReader::SendRequest(const TRequestHeader& rq, std::string_view name, Clock::time_point deadline) {
  timedOut_ = false;
  if (rq.kind == TRequestKind::OpenArchive) ++archiveOpensSent_;
  if (rq.kind == TRequestKind::OpenFile) ++fileOpensSent_;
  // One message: sent in two, the reader wakes for the header only to wait again for the name.
  std::string message(reinterpret_cast<const char*>(&rq), sizeof rq);
  message.append(name);
  return Send(message.data(), message.size(), deadline);
}

TArchiveReader::TAnswer TArchiveReader::Answer(const TRequestHeader& rq, Clock::time_point deadline, bool sent) {
  TAnswer answer;
  TReplyHeader& reply = answer.reply;
  if (sent) timedOut_ = false;
  bool ok = sent && Receive(&reply, sizeof reply, deadline);
  // A reply is used only within what was asked for and what the shared memory holds; one that
  // breaks a bound is a reader gone wrong, as if it had crashed.
  std::string breach;
  if (ok && reply.sequence != rq.sequence) {
    breach = "sequence " + std::to_string(reply.sequence) + " for request " + std::to_string(rq.sequence);
  } else if (ok && reply.textSize > kMaxReplyText) {
    breach = "text of " + std::to_string(reply.textSize) + " bytes (limit " + std::to_string(kMaxReplyText) + ")";
  } else if (ok) {
    answer.text.resize(reply.textSize);
    ok = Receive(answer.text.data(), answer.text.size(), deadline);
    if (ok) breach = Breach(rq, answer);
  }
  if (ok && breach.empty() && reply.status != TReplyStatus::OutOfMemory) return answer;
  if (!breach.empty()) {
    answer.stop = TReaderStop::Crash;
  } else if (timedOut_) {
    answer.stop = TReaderStop::TimeOut;
  } else if (ok) {
    answer.stop = TReaderStop::Memory;
  } else {
    answer.stop = DeathReason();
  }
  Kill();
  answer.words = TakeWords();
  if (!breach.empty()) answer.words = "reply out of bounds: " + breach + (answer.words.empty() ? "" : " / " + answer.words);
  Stopped(answer.stop, answer.words);
  return answer;
}

void TArchiveReader::Stopped(TReaderStop stop, const std::string& words) {
  ++restarts_;
  if (stopHook_) stopHook_({aboutStage_, aboutArchive_, aboutMember_, stop, words});
}

void TArchiveReader::MakeRoom(MpqHandle keep) {
  if (openInReader_ < MaxOpen()) return;
  // The archive used longest ago without an open file in this reader.
  std::map<MpqHandle, bool> busyArchives;
  for (const auto& [h, f] : files_) {
    if (f.generation == generation_ && !f.lost) busyArchives[f.archive] = true;
  }
  MpqHandle oldest = 0;
  std::uint64_t oldestUse = 0;
  for (const auto& [h, a] : archives_) {
    if (h == keep || a.generation != generation_ || a.id == 0 || busyArchives.count(h) != 0) continue;
    if (oldest == 0 || a.lastUse < oldestUse) {
      oldest = h;
      oldestUse = a.lastUse;
    }
  }
  if (oldest == 0) return;
  TArchive& a = archives_[oldest];
  About(TReaderStopEvent::TStage::Close, a.path);
  const TRequestHeader rq{TRequestKind::CloseArchive, ++sequence_, a.id, 0, 0, 0};
  a.generation = 0;
  a.id = 0;
  --openInReader_;
  Exchange(rq, {}, deadlines_.open);
}

TArchiveReader::TAnswer TArchiveReader::OpenInReader(const std::string& path, bool& ended) {
  ended = false;
  TAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!EnsureRunning()) {
      ended = true;
      return answer;
    }
    About(TReaderStopEvent::TStage::OpenArchive, path);
    const TRequestHeader rq{TRequestKind::OpenArchive, ++sequence_, 0, 0, 0, static_cast<std::uint32_t>(path.size())};
    answer = Exchange(rq, path, deadlines_.open);
    // A crash may be an earlier archive's doing: once more, in a fresh reader.
    if (!Retried(answer.stop)) break;
  }
  if (answer.stop == TReaderStop::None && answer.reply.status == TReplyStatus::Failed && answer.text.empty()) {
    // StormLib failed to open it and the reader ends: its heap may be damaged.
    Kill();
    stderrTail_.clear();
  }
  return answer;
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

// Why StormLib did not open an archive, from its error code.
std::string OpenErrorText(std::uint32_t error) {
  switch (error) {
    case 1000: return "not an MPQ archive, or its header is damaged (StormLib error 1000)";
    case 1004: return "the archive is damaged (StormLib error 1004)";
    case 10000: return "an AVI file, not an MPQ archive (StormLib error 10000)";
    default: break;
  }
  if (error > 0 && error < 1000) return std::strerror(static_cast<int>(error));
  return "StormLib error " + std::to_string(error);
}

}  // namespace

TArchiveReader::TArchiveOpen TArchiveReader::OpenArchive(const std::string& path) {
  TArchiveOpen result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered()) return result;
  auto cannot = [&](std::string reason, int error) {
    result.status = TArchiveOpenStatus::CannotOpen;
    result.reason = std::move(reason);
    result.error = error;
    return result;
  };

  // What the viewer can tell itself costs no reader.
  TArchive entry;
  entry.path = path;
  entry.readerPath = AbsolutePath(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return cannot(std::strerror(errno), errno);
  if (!S_ISREG(st.st_mode)) {
    return S_ISDIR(st.st_mode) ? cannot("a folder, not an archive", EISDIR) : cannot("not a regular file", 0);
  }
  if (::access(path.c_str(), R_OK) != 0) return cannot(std::strerror(errno), errno);
  if (path.size() > kMaxNameSize) return cannot("path of " + std::to_string(path.size()) + " bytes", 0);
  entry.identified = true;
  entry.dev = st.st_dev;
  entry.ino = st.st_ino;
  entry.fileSize = static_cast<std::uint64_t>(st.st_size);
  // Each file once, however it is named.
  for (const auto& [handle, a] : archives_) {
    if (!a.identified || a.dev != st.st_dev || a.ino != st.st_ino) continue;
    result.handle = handle;
    result.stop = a.stop.stop;
    result.words = a.stop.words;
    result.status = a.stop.stop == TReaderStop::None ? TArchiveOpenStatus::AlreadyOpen : TArchiveOpenStatus::ReaderStopped;
    return result;
  }
  if (const auto it = culprits_.find({st.st_dev, st.st_ino}); it != culprits_.end()) {
    result.status = TArchiveOpenStatus::ReaderStopped;
    result.stop = it->second.stop;
    result.words = it->second.words;
    return result;
  }

  const MpqHandle handle = nextArchive_++;
  auto forget = [&] {
    archives_.erase(handle);
    // Handles stay consecutive in the log when opens fail.
    if (nextArchive_ == handle + 1) nextArchive_ = handle;
  };
  TArchive& a = archives_.emplace(handle, std::move(entry)).first->second;
  // A reader may read only the files it was started for: one that covers this file takes over.
  if (pid_ > 0 && granted_.count({st.st_dev, st.st_ino}) == 0) Kill();
  if (pid_ > 0) MakeRoom(handle);
  bool ended = false;
  const TAnswer answer = OpenInReader(a.readerPath, ended);
  if (ended) {
    forget();
    result.status = TArchiveOpenStatus::ReaderUnavailable;
    result.reason = startProblem_;
    return result;
  }
  if (answer.stop != TReaderStop::None) {
    a.stop = {answer.stop, answer.words};
    culprits_[{a.dev, a.ino}] = a.stop;
    forget();
    result.status = TArchiveOpenStatus::ReaderStopped;
    result.stop = answer.stop;
    result.words = answer.words;
    return result;
  }
  if (answer.reply.status != TReplyStatus::Ok) {
    const std::uint32_t error = answer.reply.error;
    forget();
    return cannot(answer.text.empty() ? OpenErrorText(error) : EscapeName(answer.text), static_cast<int>(error));
  }
  a.id = answer.reply.value;
  a.generation = generation_;
  a.lastUse = ++useClock_;
  ++openInReader_;
  result.status = TArchiveOpenStatus::Opened;
  result.handle = handle;
  return result;
}

bool TArchiveReader::EnsureArchive(MpqHandle handle, TArchive& a, TCulprit& stop) {
  if (a.stop.stop != TReaderStop::None) {
    stop = a.stop;
    return false;
  }
  if (a.lost) return false;
  if (!EnsureRunning()) return false;
  a.lastUse = ++useClock_;
  if (a.generation == generation_ && a.id != 0) return true;
  // Opened in an earlier reader process, or closed there to make room: open it again in this one.
  MakeRoom(handle);
  bool ended = false;
  const TAnswer answer = OpenInReader(a.readerPath, ended);
  if (ended) return false;
  if (answer.stop != TReaderStop::None) {
    a.stop = {answer.stop, answer.words};
    if (a.identified) culprits_[{a.dev, a.ino}] = a.stop;
    stop = a.stop;
    return false;
  }
  if (answer.reply.status != TReplyStatus::Ok) {
    a.lost = true;
    return false;
  }
  a.id = answer.reply.value;
  a.generation = generation_;
  ++openInReader_;
  return true;
}

void TArchiveReader::CloseArchive(MpqHandle archive) {
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  const auto it = archives_.find(archive);
  if (it == archives_.end()) return;
  const TArchive& a = it->second;
  if (busy.Entered() && pid_ > 0 && a.generation == generation_ && a.id != 0) {
    About(TReaderStopEvent::TStage::Close, a.path);
    const TRequestHeader rq{TRequestKind::CloseArchive, ++sequence_, a.id, 0, 0, 0};
    --openInReader_;
    Exchange(rq, {}, deadlines_.open);
  }
  archives_.erase(archive);
}

TReaderStop TArchiveReader::ArchiveStop(MpqHandle archive) const {
  const auto it = archives_.find(archive);
  return it == archives_.end() ? TReaderStop::None : it->second.stop.stop;
}

std::string TArchiveReader::ArchiveStopWords(MpqHandle archive) const {
  const auto it = archives_.find(archive);
  return it == archives_.end() ? std::string() : it->second.stop.words;
}

void TArchiveReader::SkipArchive(MpqHandle archive, TReaderStop stop, const std::string& words) {
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  const auto it = archives_.find(archive);
  if (it == archives_.end() || stop == TReaderStop::None) return;
  TArchive& a = it->second;
  if (busy.Entered() && pid_ > 0 && a.generation == generation_ && a.id != 0) {
    About(TReaderStopEvent::TStage::Close, a.path);
    const TRequestHeader rq{TRequestKind::CloseArchive, ++sequence_, a.id, 0, 0, 0};
    --openInReader_;
    Exchange(rq, {}, deadlines_.open);
  }
  a.generation = 0;
  a.id = 0;
  a.stop = {stop, words};
  if (a.identified) culprits_[{a.dev, a.ino}] = a.stop;
}

TArchiveReader::TFile* TArchiveReader::EnsureFile(MpqHandle file, TCulprit& stop) {
  const auto f = files_.find(file);
  if (f == files_.end() || f->second.lost) return nullptr;
  const auto a = archives_.find(f->second.archive);
  if (a == archives_.end()) return nullptr;
  if (const auto bad = a->second.badFiles.find(f->second.name); bad != a->second.badFiles.end()) {
    stop = bad->second;
    return nullptr;
  }
  if (!EnsureArchive(a->first, a->second, stop)) return nullptr;
  if (f->second.generation == generation_) return &f->second;
  // Opened in an earlier reader process: open it again in this one.
  About(TReaderStopEvent::TStage::OpenFile, a->second.path, f->second.name);
  const TRequestHeader rq{TRequestKind::OpenFile, ++sequence_, a->second.id, 0, 0,
                          static_cast<std::uint32_t>(f->second.name.size())};
  const TAnswer answer = Exchange(rq, f->second.name, deadlines_.open);
  if (answer.stop != TReaderStop::None) {
    // Crashes are tried again by the caller's request as a whole.
    if (!Retried(answer.stop)) a->second.badFiles[f->second.name] = {answer.stop, answer.words};
    stop = {answer.stop, answer.words};
    return nullptr;
  }
  if (answer.reply.status != TReplyStatus::Ok) {
    f->second.lost = true;
    return nullptr;
  }
  f->second.id = answer.reply.value;
  f->second.generation = generation_;
  return &f->second;
}

TArchiveReader::TFileOpen TArchiveReader::OpenFile(MpqHandle archive, const std::string& name) {
  TFileOpen result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered() || name.size() > kMaxNameSize) return result;
  const auto it = archives_.find(archive);
  if (it == archives_.end()) return result;
  TArchive& a = it->second;
  if (const auto bad = a.badFiles.find(name); bad != a.badFiles.end()) {
    result.stop = bad->second.stop;
    result.words = bad->second.words;
    return result;
  }
  TAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    TCulprit stop;
    if (!EnsureArchive(archive, a, stop)) {
      result.stop = stop.stop;
      result.words = stop.words;
      return result;
    }
    About(TReaderStopEvent::TStage::OpenFile, a.path, name);
    const TRequestHeader rq{TRequestKind::OpenFile, ++sequence_, a.id, 0, 0, static_cast<std::uint32_t>(name.size())};
    answer = Exchange(rq, name, deadlines_.open);
    if (!Retried(answer.stop)) break;
  }
  if (answer.stop != TReaderStop::None) {
    a.badFiles[name] = {answer.stop, answer.words};
    result.stop = answer.stop;
    result.words = answer.words;
    return result;
  }
  if (answer.reply.status != TReplyStatus::Ok) return result;
  const std::uint32_t id = answer.reply.value;
  // The size is the archive's claim: it counts up to kMaxExpansion times what is stored, and no
  // file stores more than its archive's file holds.
  const std::uint64_t stored = std::min(answer.reply.stored, a.fileSize);
  if (answer.reply.size > stored * kMaxExpansion) {
    result.refusal = BombText(answer.reply.size, stored);
    About(TReaderStopEvent::TStage::Close, a.path, name);
    const TRequestHeader close{TRequestKind::CloseFile, ++sequence_, id, 0, 0, 0};
    Exchange(close, {}, deadlines_.open);
    return result;
  }
  const MpqHandle handle = nextFile_++;
  files_.emplace(handle, TFile{archive, name, id, generation_, false});
  result.handle = handle;
  result.size = answer.reply.size;
  result.stored = stored;
  return result;
}

TArchiveReader::TRead TArchiveReader::Read(MpqHandle file, std::uint32_t offset, std::uint32_t length, void* dst) {
  TRead result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered()) return result;
  // In pieces of the shared memory's size: the first positions, the others read on. After a
  // crash the rest is asked for once more, positioned, in a fresh reader.
  if (files_.count(file) == 0) return result;
  char* out = static_cast<char*>(dst);
  std::uint32_t done = 0;
  bool positioned = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool again = false;
    TFile* f = FileToRead(file, attempt, result, again);
    if (f == nullptr) {
      if (again) continue;
      return result;
    }
    positioned = false;
    TAnswer answer;
    do {
      const std::uint32_t piece = std::min(length - done, kSharedBytes);
      const std::uint64_t at = std::uint64_t{offset} + done;
      const TRequestHeader rq{positioned ? TRequestKind::ReadOn : TRequestKind::ReadFile, ++sequence_, f->id,
                              static_cast<std::uint32_t>(std::min<std::uint64_t>(at, 0xFFFFFFFFu)), piece, 0};
      answer = Exchange(rq, {}, ReadDeadline(piece));
      if (answer.stop != TReaderStop::None) break;
      const TReplyHeader& reply = answer.reply;
      // The bytes read lie at the start of the shared memory and are at most those asked for;
      // a position is at most the one asked for (StormLib clamps it at the size).
      std::string breach;
      if (reply.size > piece) breach = std::to_string(reply.size) + " bytes read of " + std::to_string(piece) + " asked for";
      if (!positioned && reply.value > rq.offset && reply.value != 0xFFFFFFFFu) {
        breach = "position " + std::to_string(reply.value) + " for offset " + std::to_string(rq.offset);
      }
      if (!breach.empty()) {
        Breached(answer, breach);
        break;
      }
      if (!positioned && done == 0) result.position = reply.value;
      positioned = true;
      const auto got = static_cast<std::uint32_t>(reply.size);
      std::memcpy(out + done, shared_.Data(), got);
      done += got;
      result.read = done;
      if (reply.status != TReplyStatus::Ok || got != piece) return result;
    } while (done < length);
    if (answer.stop == TReaderStop::None) {
      result.complete = true;
      return result;
    }
    if (Retried(answer.stop) && attempt == 0) continue;
    // Only this file is blamed: the others of its archive are read from the archive opened again.
    BlameFile(file, {answer.stop, answer.words});
    result.stop = answer.stop;
    result.words = answer.words;
    return result;
  }
  return result;
}

TArchiveReader::TFile* TArchiveReader::FileToRead(MpqHandle file, int attempt, TRead& result, bool& again) {
  again = false;
  TCulprit stop;
  TFile* f = EnsureFile(file, stop);
  if (f == nullptr) {
    if (Retried(stop.stop) && attempt == 0) {
      again = true;
      return nullptr;
    }
    if (stop.stop != TReaderStop::None) BlameFile(file, stop);
    result.stop = stop.stop;
    result.words = stop.words;
    return nullptr;
  }
  About(TReaderStopEvent::TStage::Read, archives_.count(f->archive) ? archives_.at(f->archive).path : std::string(), f->name);
  return f;
}

void TArchiveReader::BlameFile(MpqHandle file, const TCulprit& stop) {
  const TFile& f = files_.at(file);
  if (const auto a = archives_.find(f.archive); a != archives_.end()) a->second.badFiles[f.name] = stop;
}

TArchiveReader::TRead TArchiveReader::Seek(MpqHandle file, std::uint32_t offset) {
  TRead result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered() || files_.count(file) == 0) return result;
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool again = false;
    TFile* f = FileToRead(file, attempt, result, again);
    if (f == nullptr) {
      if (again) continue;
      return result;
    }
    const TRequestHeader rq{TRequestKind::SeekFile, ++sequence_, f->id, offset, 0, 0};
    const TAnswer answer = Exchange(rq, {}, deadlines_.readBase);
    if (answer.stop == TReaderStop::None) {
      if (answer.reply.value > offset && answer.reply.value != 0xFFFFFFFFu) {
        Kill();
        result.stop = TReaderStop::Crash;
        result.words = "reply out of bounds: position " + std::to_string(answer.reply.value) + " for offset " +
                       std::to_string(offset);
        Stopped(result.stop, result.words);
      } else {
        result.position = answer.reply.value;
        result.complete = true;
        return result;
      }
    } else {
      result.stop = answer.stop;
      result.words = answer.words;
    }
    if (Retried(result.stop) && attempt == 0) continue;
    BlameFile(file, {result.stop, result.words});
    return result;
  }
  return result;
}

void TArchiveReader::CloseFile(MpqHandle file) {
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  const auto f = files_.find(file);
  if (f == files_.end()) return;
  if (busy.Entered() && pid_ > 0 && !f->second.lost && f->second.generation == generation_) {
    const auto a = archives_.find(f->second.archive);
    About(TReaderStopEvent::TStage::Close, a != archives_.end() ? a->second.path : std::string(), f->second.name);
    const TRequestHeader rq{TRequestKind::CloseFile, ++sequence_, f->second.id, 0, 0, 0};
    Exchange(rq, {}, deadlines_.open);
  }
  files_.erase(file);
}

void TArchiveReader::ExpectArchives(const std::vector<std::string>& paths) {
  expected_.clear();
  for (const std::string& p : paths) expected_.push_back(AbsolutePath(p));
}

std::vector<std::string> TArchiveReader::GrantPaths() {
  std::vector<std::string> paths;
  granted_.clear();
  std::uint64_t bytes = 0;
  auto add = [&](const std::string& path, dev_t dev, ino_t ino) {
    if (bytes + path.size() + 1 > kMaxSandboxPathBytes) return;
    bytes += path.size() + 1;
    paths.push_back(path);
    granted_.insert({dev, ino});
  };
  // Newest first: the archive being opened is the newest, and must not be the one left out.
  for (auto it = archives_.rbegin(); it != archives_.rend(); ++it) {
    const TArchive& a = it->second;
    if (a.identified && a.stop.stop == TReaderStop::None && !a.lost) add(a.readerPath, a.dev, a.ino);
  }
  for (const std::string& path : expected_) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) add(path, st.st_dev, st.st_ino);
  }
  return paths;
}

std::string TArchiveReader::Confine(Clock::time_point deadline) {
  const std::vector<std::string> paths = GrantPaths();
  std::string names;
  for (const std::string& p : paths) names.append(p).push_back('\0');
  const TRequestHeader rq{TRequestKind::Sandbox, ++sequence_, static_cast<std::uint32_t>(paths.size()), 0, 0,
                          static_cast<std::uint32_t>(names.size())};
  TReplyHeader reply{};
  timedOut_ = false;
  std::string text;
  bool ok = Send(&rq, sizeof rq, deadline) && Send(names.data(), names.size(), deadline) &&
            Receive(&reply, sizeof reply, deadline);
  if (ok && (reply.sequence != rq.sequence || reply.status != TReplyStatus::Ok || reply.textSize > kMaxReplyText ||
             reply.value > (kProtectFiles | kProtectCalls))) {
    return "it answered the sandbox message out of bounds";
  }
  if (ok) {
    text.resize(reply.textSize);
    ok = Receive(text.data(), text.size(), deadline);
  }
  if (!ok) {
    const bool late = timedOut_;
    const TReaderStop death = late ? TReaderStop::TimeOut : DeathReason();
    const std::string words = TakeWords();
    return std::string(late ? "it did not confine itself within the deadline" : "it ended while it confined itself") +
           (death == TReaderStop::Sandbox ? " (sandbox violation)" : "") + (words.empty() ? "" : ": " + words);
  }
  sandbox_.known = true;
  sandbox_.state.landlockAbi = (reply.value & kProtectFiles) != 0 ? reply.error : 0;
  sandbox_.state.seccomp = (reply.value & kProtectCalls) != 0;
  sandbox_.missing.clear();
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    if (end > begin) sandbox_.missing.push_back(EscapeName(std::string_view(text).substr(begin, end - begin)));
    begin = end + 1;
  }
  for (const std::string& line : sandbox_.missing) {
    if (std::find(sandboxSaid_.begin(), sandboxSaid_.end(), line) != sandboxSaid_.end()) continue;
    sandboxSaid_.push_back(line);
    if (sandboxHook_) sandboxHook_(line);
  }
  return {};
}

void TArchiveReader::Breached(TAnswer& answer, const std::string& breach) {
  Kill();
  answer.stop = TReaderStop::Crash;
  answer.words = "reply out of bounds: " + breach;
  Stopped(answer.stop, answer.words);
}

TArchiveReader::TNames TArchiveReader::ListNames(MpqHandle archive) {
  TNames result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered()) return result;
  const auto it = archives_.find(archive);
  if (it == archives_.end()) return result;
  TArchive& a = it->second;
  TAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    TCulprit stop;
    if (!EnsureArchive(archive, a, stop)) {
      result.stop = stop.stop;
      result.words = stop.words;
      return result;
    }
    About(TReaderStopEvent::TStage::ListNames, a.path);
    const TRequestHeader rq{TRequestKind::ListNames, ++sequence_, a.id, 0, 0, 0};
    answer = Exchange(rq, {}, deadlines_.open);
    if (!Retried(answer.stop)) break;
  }
  if (answer.stop == TReaderStop::None && answer.reply.status == TReplyStatus::Ok) {
    // The names lie at the start of the shared memory, each ended by a NUL, as many as said, none
    // empty or longer than StormLib's names can be.
    const TReplyHeader& reply = answer.reply;
    std::string breach;
    if (reply.size > kSharedBytes) breach = std::to_string(reply.size) + " bytes of names (limit " + std::to_string(kSharedBytes) + ")";
    if (breach.empty() && reply.stored > 0xFFFFFFFFu) breach = std::to_string(reply.stored) + " unnamed members";
    const std::string_view names(shared_.Data(), breach.empty() ? static_cast<std::size_t>(reply.size) : 0);
    std::vector<std::string> found;
    for (std::size_t begin = 0; breach.empty() && begin < names.size();) {
      const std::size_t end = names.find('\0', begin);
      if (end == std::string_view::npos || end == begin || end - begin > kMaxListedName) {
        breach = "a name at byte " + std::to_string(begin) + " unended, empty or too long";
      } else {
        found.emplace_back(names.substr(begin, end - begin));
        begin = end + 1;
      }
    }
    if (breach.empty() && found.size() != reply.value) {
      breach = std::to_string(reply.value) + " names said, " + std::to_string(found.size()) + " there";
    }
    if (!breach.empty()) {
      Breached(answer, breach);
    } else {
      result.complete = true;
      result.names = std::move(found);
      result.unnamed = static_cast<std::uint32_t>(reply.stored);
      result.leftOut = reply.error;
      return result;
    }
  }
  if (answer.stop != TReaderStop::None) {
    result.stop = answer.stop;
    result.words = answer.words;
  }
  return result;
}

// What was read lies at the start of the shared memory: all of the size when Ok, none when
// declined, at most what was asked for when short. A reply beyond that is a reader gone wrong.
void TArchiveReader::CheckWhole(TAnswer& answer, std::uint32_t maxBytes) {
  const TReplyHeader& reply = answer.reply;
  std::string breach;
  if (reply.status == TReplyStatus::Ok && (reply.size > maxBytes || reply.value != reply.size)) {
    breach = std::to_string(reply.value) + " bytes read of " + std::to_string(reply.size) + " (at most " +
             std::to_string(maxBytes) + " asked for)";
  } else if (reply.status == TReplyStatus::Declined && reply.value != 0) {
    breach = std::to_string(reply.value) + " bytes read of a file declined";
  } else if (reply.status == TReplyStatus::Failed && reply.value > std::min<std::uint64_t>(reply.size, maxBytes)) {
    breach = std::to_string(reply.value) + " bytes read of " + std::to_string(reply.size) + " (at most " +
             std::to_string(maxBytes) + " asked for)";
  }
  if (!breach.empty()) Breached(answer, breach);
}

TArchiveReader::TWhole TArchiveReader::ReadWhole(MpqHandle archive, const std::string& name, std::uint32_t maxBytes,
                                                 std::string& out) {
  using TStatus = TWhole::TStatus;
  TWhole result;
  const TBusy busy(busy_);
  if (busy.Entered()) Settle();
  if (!busy.Entered() || name.size() > kMaxNameSize) return result;
  const auto it = archives_.find(archive);
  if (it == archives_.end()) return result;
  TArchive& a = it->second;
  if (const auto bad = a.badFiles.find(name); bad != a.badFiles.end()) {
    result.status = TStatus::Stopped;
    result.stop = bad->second.stop;
    result.words = bad->second.words;
    return result;
  }
  maxBytes = std::min(maxBytes, kSharedBytes);
  TAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    TCulprit stop;
    if (!EnsureArchive(archive, a, stop)) {
      result.status = stop.stop == TReaderStop::None ? TStatus::NotOpened : TStatus::Stopped;
      result.stop = stop.stop;
      result.words = stop.words;
      return result;
    }
    About(TReaderStopEvent::TStage::Read, a.path, name);
    const TRequestHeader rq{TRequestKind::ReadWhole, ++sequence_, a.id, 0, maxBytes, static_cast<std::uint32_t>(name.size())};
    answer = Exchange(rq, name, deadlines_.open + ReadDeadline(maxBytes));
    if (answer.stop == TReaderStop::None) CheckWhole(answer, maxBytes);
    if (!Retried(answer.stop)) break;
  }
  if (answer.stop != TReaderStop::None) {
    a.badFiles[name] = {answer.stop, answer.words};
    result.status = TStatus::Stopped;
    result.stop = answer.stop;
    result.words = answer.words;
    return result;
  }
  const TReplyHeader& reply = answer.reply;
  result = WholeFrom(reply.status, reply.size, reply.stored, reply.value, a);
  if (result.status == TStatus::Read) out.assign(shared_.Data(), static_cast<std::size_t>(reply.size));
  return result;
}

TArchiveReader::TWhole TArchiveReader::WholeFrom(TReplyStatus status, std::uint64_t size, std::uint64_t stored,
                                                 std::uint32_t read, const TArchive& a) {
  using TStatus = TWhole::TStatus;
  TWhole result;
  if (status == TReplyStatus::Failed && size == 0) return result;  // not opened
  result.size = size;
  // The size is the archive's claim, held as OpenFile holds it.
  result.stored = std::min(stored, a.fileSize);
  if (size > result.stored * kMaxExpansion) {
    result.status = TStatus::Refused;
    result.refusal = BombText(size, result.stored);
    return result;
  }
  result.read = read;
  result.status = status == TReplyStatus::Declined ? TStatus::TooLarge
                  : status == TReplyStatus::Ok     ? TStatus::Read
                                                   : TStatus::ReadFailed;
  return result;
}

std::vector<std::size_t> TArchiveReader::CheckBatch(TAnswer& answer, std::size_t asked, std::uint32_t maxBytes) {
  const TReplyHeader& reply = answer.reply;
  std::vector<std::size_t> at;
  std::string breach;
  if (reply.value == 0 || reply.value > asked || reply.size > kSharedBytes) {
    breach = std::to_string(reply.value) + " of " + std::to_string(asked) + " members answered in " +
             std::to_string(reply.size) + " bytes";
  }
  std::uint64_t used = 0;
  for (std::uint32_t i = 0; breach.empty() && i < reply.value; ++i) {
    TBatchRecord record{};
    if (used + sizeof record > reply.size) {
      breach = "record " + std::to_string(i) + " past the " + std::to_string(reply.size) + " bytes used";
      break;
    }
    std::memcpy(&record, shared_.Data() + used, sizeof record);
    const bool fits = record.read <= reply.size - used - sizeof record;
    const bool held = record.status == TReplyStatus::Ok         ? record.read == record.size && record.size <= maxBytes
                      : record.status == TReplyStatus::Declined ? record.read == 0
                      : record.status == TReplyStatus::Failed   ? record.read <= std::min<std::uint64_t>(record.size, maxBytes)
                                                                : false;
    if (!fits || !held) {
      breach = "record " + std::to_string(i) + ": status " + std::to_string(static_cast<std::uint32_t>(record.status)) +
               ", " + std::to_string(record.read) + " bytes read of " + std::to_string(record.size) + " (at most " +
               std::to_string(maxBytes) + " asked for)";
      break;
    }
    at.push_back(used);
    used += sizeof record + record.read;
    used = std::min<std::uint64_t>((used + kBatchAlign - 1) / kBatchAlign * kBatchAlign, reply.size);
  }
  if (breach.empty() && used != reply.size) {
    breach = std::to_string(reply.size) + " bytes said used, " + std::to_string(used) + " in the records";
  }
  if (!breach.empty()) {
    Breached(answer, breach);
    at.clear();
  }
  return at;
}

bool TArchiveReader::SendTrip(TMany& m) {
  using TStatus = TWhole::TStatus;
  const auto it = archives_.find(m.archive);
  if (it == archives_.end()) return false;
  TArchive& a = it->second;
  m.trip.clear();
  while (m.next < m.names.size()) {
    std::string packed;
    for (; m.next < m.names.size() && m.trip.size() < kMaxBatchNames; ++m.next) {
      const std::string& name = m.names[m.next];
      if (name.find('\0') != std::string::npos || name.size() > kMaxBatchNameBytes - 1) {
        m.alone.push_back(m.next);  // ReadWhole says what comes of such a name
        continue;
      }
      if (const auto bad = a.badFiles.find(name); bad != a.badFiles.end()) {
        m.results[m.next].status = TStatus::Stopped;
        m.results[m.next].stop = bad->second.stop;
        m.results[m.next].words = bad->second.words;
        continue;
      }
      if (packed.size() + name.size() + 1 > kMaxBatchNameBytes) break;
      m.trip.push_back(m.next);
      packed.append(name).push_back('\0');
    }
    if (m.trip.empty()) continue;
    TCulprit stop;
    if (!EnsureArchive(m.archive, a, stop)) {
      for (std::size_t i = m.trip.front(); i < m.names.size(); ++i) {
        m.results[i].status = stop.stop == TReaderStop::None ? TStatus::NotOpened : TStatus::Stopped;
        m.results[i].stop = stop.stop;
        m.results[i].words = stop.words;
      }
      m.next = m.names.size();
      m.trip.clear();
      return false;
    }
    const std::string more = m.trip.size() > 1 ? " and " + std::to_string(m.trip.size() - 1) + " more in one trip" : "";
    m.about = m.names[m.trip.front()] + more;
    About(TReaderStopEvent::TStage::Read, a.path, m.about);
    m.rq = {TRequestKind::ReadBatch, ++sequence_, a.id, static_cast<std::uint32_t>(m.trip.size()), m.maxBytes,
            static_cast<std::uint32_t>(packed.size())};
    m.generation = generation_;
    m.sent = SendRequest(m.rq, packed, Clock::now() + deadlines_.open + ReadDeadline(kSharedBytes));
    m.out = true;
    return true;
  }
  return false;
}

void TArchiveReader::TakeTrip(TMany& m) {
  m.out = false;
  const auto it = archives_.find(m.archive);
  if (it == archives_.end()) return;
  // A reader ended since the trip was sent (Stop) took the trip's answer with it.
  TAnswer answer;
  if (m.generation == generation_ && pid_ > 0) {
    About(TReaderStopEvent::TStage::Read, it->second.path, m.about);
    // The caller may come for a trip sent ahead long after the reader answered it: the deadline,
    // for a reader that hangs, counts from now.
    answer = Answer(m.rq, Clock::now() + deadlines_.open + ReadDeadline(kSharedBytes), m.sent);
  } else {
    answer.stop = TReaderStop::Crash;
  }
  const std::vector<std::size_t> at = answer.stop == TReaderStop::None && answer.reply.status == TReplyStatus::Ok
                                          ? CheckBatch(answer, m.trip.size(), m.maxBytes)
                                          : std::vector<std::size_t>();
  if (at.empty()) {
    // Stopped, out of bounds or refused: each of the trip alone.
    m.alone.insert(m.alone.end(), m.trip.begin(), m.trip.end());
    return;
  }
  for (std::size_t k = 0; k < at.size(); ++k) {
    TBatchRecord record{};
    std::memcpy(&record, shared_.Data() + at[k], sizeof record);
    TWhole& result = m.results[m.trip[k]];
    result = WholeFrom(record.status, record.size, record.stored, record.read, it->second);
    if (result.status == TWhole::TStatus::Read) m.outs[m.trip[k]].assign(shared_.Data() + at[k] + sizeof record, record.read);
  }
  if (at.size() < m.trip.size()) m.next = m.trip[at.size()];
}

std::vector<TArchiveReader::TWhole> TArchiveReader::FinishMany(TMany& m, std::vector<std::string>& outs) {
  {
    const TBusy busy(busy_);
    if (busy.Entered()) {
      while (m.out || SendTrip(m)) TakeTrip(m);
    }
  }
  std::sort(m.alone.begin(), m.alone.end());
  for (const std::size_t i : m.alone) m.results[i] = ReadWhole(m.archive, m.names[i], m.maxBytes, m.outs[i]);
  outs = std::move(m.outs);
  return std::move(m.results);
}

TArchiveReader::TMany TArchiveReader::PlanMany(MpqHandle archive, std::vector<std::string> names, std::uint32_t maxBytes) {
  TMany m;
  m.archive = archive;
  m.names = std::move(names);
  m.maxBytes = std::min(maxBytes, kMaxBatchMember);
  m.results.resize(m.names.size());
  m.outs.resize(m.names.size());
  return m;
}

std::vector<TArchiveReader::TWhole> TArchiveReader::ReadWholeMany(MpqHandle archive, const std::vector<std::string>& names,
                                                                  std::uint32_t maxBytes, std::vector<std::string>& outs) {
  TMany m = PlanMany(archive, names, maxBytes);
  return FinishMany(m, outs);
}

void TArchiveReader::Settle() {
  if (ahead_ && ahead_->out) TakeTrip(*ahead_);
}

void TArchiveReader::StartMany(MpqHandle archive, std::vector<std::string> names, std::uint32_t maxBytes) {
  const TBusy busy(busy_);
  if (!busy.Entered()) return;
  Settle();
  ahead_ = PlanMany(archive, std::move(names), maxBytes);
  SendTrip(*ahead_);
}

std::vector<TArchiveReader::TWhole> TArchiveReader::TakeMany(MpqHandle archive, const std::vector<std::string>& names,
                                                             std::uint32_t maxBytes, std::vector<std::string>& outs) {
  if (busy_) {  // from inside the wait hook: nothing, as every request there
    outs.assign(names.size(), std::string());
    return std::vector<TWhole>(names.size());
  }
  std::optional<TMany> ahead = std::move(ahead_);
  ahead_.reset();
  if (ahead && (ahead->archive != archive || ahead->names != names ||
                ahead->maxBytes != std::min(maxBytes, kMaxBatchMember))) {
    // Started for other files: its answer taken, to keep the replies in step, and left.
    if (ahead->out) {
      const TBusy busy(busy_);
      TakeTrip(*ahead);
    }
    ahead.reset();
  }
  if (!ahead) ahead = PlanMany(archive, names, maxBytes);
  return FinishMany(*ahead, outs);
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
