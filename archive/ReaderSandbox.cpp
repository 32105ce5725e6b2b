// The archive reader's Landlock ruleset and seccomp filter.
#include "archive/ReaderSandbox.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/UniqueFd.h"

namespace velmora::reader {
namespace {

// Landlock's access rights by the ABI that brought them; the system headers of older
// distributions lack the later ones, and the kernel's numbers never change.
constexpr std::uint64_t kFsRightsAbi1 = (std::uint64_t{1} << 13) - 1;  // EXECUTE ... MAKE_SYM
constexpr std::uint64_t kFsRefer = std::uint64_t{1} << 13;            // ABI 2
constexpr std::uint64_t kFsTruncate = std::uint64_t{1} << 14;         // ABI 3
constexpr std::uint64_t kFsIoctlDev = std::uint64_t{1} << 15;         // ABI 5
constexpr std::uint64_t kFsReadFile = std::uint64_t{1} << 2;
constexpr std::uint64_t kNetBindTcp = std::uint64_t{1} << 0;     // ABI 4
constexpr std::uint64_t kNetConnectTcp = std::uint64_t{1} << 1;  // ABI 4
constexpr std::uint64_t kScopeAbstractUnix = std::uint64_t{1} << 0;  // ABI 6
constexpr std::uint64_t kScopeSignal = std::uint64_t{1} << 1;        // ABI 6

// struct landlock_ruleset_attr as the kernel reads it, in its full size; older kernels are
// handed the part they know.
struct TRulesetAttr {
  std::uint64_t handledAccessFs = 0;
  std::uint64_t handledAccessNet = 0;
  std::uint64_t scoped = 0;
};

std::string Unavailable(const char* what, const std::string& why, const char* consequence) {
  return std::string("archive reader: ") + what + " unavailable (" + why + "); " + consequence;
}

std::string Failed(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// Everything Landlock of this ABI can deny is denied, except reading the archive files (and
// /dev/null, which holds descriptor 0). Returns an empty string, or what went wrong.
std::string RestrictFiles(std::uint32_t abi, const std::vector<std::string>& archives) {
  TRulesetAttr attr;
  attr.handledAccessFs = kFsRightsAbi1 | (abi >= 2 ? kFsRefer : 0) | (abi >= 3 ? kFsTruncate : 0) |
                         (abi >= 5 ? kFsIoctlDev : 0);
  if (abi >= 4) attr.handledAccessNet = kNetBindTcp | kNetConnectTcp;
  if (abi >= 6) attr.scoped = kScopeAbstractUnix | kScopeSignal;
  const std::size_t size = abi >= 6 ? 24 : abi >= 4 ? 16 : 8;
  const TFd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, size, 0)));
  if (!ruleset.valid()) return Failed("landlock_create_ruleset");

  auto allowRead = [&](const std::string& path) {
    // A file that is missing or not a regular file gets no rule: opening it fails as it would.
    const TFd file(::open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = kFsReadFile;
    rule.parent_fd = file.get();
    return ::syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
  };
  for (const std::string& path : archives) {
    if (!allowRead(path)) return Failed("landlock_add_rule");
  }
  if (!allowRead("/dev/null")) return Failed("landlock_add_rule");

  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Failed("PR_SET_NO_NEW_PRIVS");
  if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) return Failed("landlock_restrict_self");
  return {};
}

// The filter's allow-list: reading archives (opens that Landlock then limits, reads, positions,
// sizes), memory (never executable), answering the viewer on its socket, messages on stderr,
// clocks, the address-space limit around each open, and ending, abort() included. Everything
// else, socket creation, connect, ptrace, fork, clone and exec among it, kills the process.
std::string FilterCalls(int socketFd) {
  scmp_filter_ctx ctx = ::seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (ctx == nullptr) return "seccomp_init failed";
  struct TRelease {
    scmp_filter_ctx ctx;
    ~TRelease() { ::seccomp_release(ctx); }
  } release{ctx};

  int rc = 0;
  auto allow = [&](int call) {
    if (rc == 0) rc = ::seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0);
  };
  auto allowIf = [&](int call, scmp_arg_cmp cmp) {
    if (rc == 0) rc = ::seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 1, cmp);
  };
  const auto fd = [](int n) { return static_cast<scmp_datum_t>(static_cast<unsigned>(n)); };

  // Files: opened for reading only; Landlock decides which.
  constexpr scmp_datum_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
  allowIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, kWriteFlags, 0));
  for (int call : {SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(lseek), SCMP_SYS(fstat), SCMP_SYS(close)}) allow(call);
  // fstat() as glibc makes it: of a descriptor, not of a path.
  allowIf(SCMP_SYS(newfstatat), SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
  // StormLib's descriptor 0 guard asks whether 0 is open.
  allowIf(SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, F_GETFD));

  // Memory, never executable.
  allowIf(SCMP_SYS(mmap), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  allowIf(SCMP_SYS(mprotect), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  for (int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk), SCMP_SYS(futex)}) allow(call);

  // The viewer: its socket, and stderr, which it reads.
  allowIf(SCMP_SYS(sendto), SCMP_A0(SCMP_CMP_EQ, fd(socketFd)));
  allowIf(SCMP_SYS(recvfrom), SCMP_A0(SCMP_CMP_EQ, fd(socketFd)));
  allowIf(SCMP_SYS(write), SCMP_A0(SCMP_CMP_EQ, fd(STDERR_FILENO)));
  allowIf(SCMP_SYS(writev), SCMP_A0(SCMP_CMP_EQ, fd(STDERR_FILENO)));

  // Clocks.
  for (int call : {SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(time)}) allow(call);

  // The soft address-space limit of each open, on this process only.
  allowIf(SCMP_SYS(prlimit64), SCMP_A0(SCMP_CMP_EQ, 0));

  // Ending: exit, and abort() (glibc's reports of a damaged heap end there), which signals this
  // process itself.
  for (int call : {SCMP_SYS(exit), SCMP_SYS(exit_group), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction),
                   SCMP_SYS(rt_sigreturn), SCMP_SYS(restart_syscall), SCMP_SYS(getpid), SCMP_SYS(gettid)}) {
    allow(call);
  }
  allowIf(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid())));

  if (rc != 0) return std::string("seccomp_rule_add: ") + std::strerror(-rc);
  rc = ::seccomp_load(ctx);
  if (rc != 0) return std::string("seccomp_load: ") + std::strerror(-rc);
  return {};
}

}  // namespace

TSandboxOutcome EnterSandbox(const std::vector<std::string>& archives, int socketFd, const TSandboxState& offered) {
  TSandboxOutcome out;
  if (const std::uint32_t abi = offered.landlockAbi; abi == 0) {
    out.missing.push_back(Unavailable("file-system sandbox", "no Landlock", "running unconfined"));
  } else if (const std::string problem = RestrictFiles(abi, archives); !problem.empty()) {
    out.missing.push_back(Unavailable("file-system sandbox", problem, "running unconfined"));
  } else {
    out.state.landlockAbi = abi;
  }
  if (!offered.seccomp) {
    out.missing.push_back(Unavailable("system-call filter", "no seccomp", "running unfiltered"));
  } else if (const std::string problem = FilterCalls(socketFd); !problem.empty()) {
    out.missing.push_back(Unavailable("system-call filter", problem, "running unfiltered"));
  } else {
    out.state.seccomp = true;
  }
  return out;
}

}  // namespace velmora::reader
