// Kernel probes for the archive reader's sandbox, and its description.
#include "archive/SandboxSupport.h"

#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmora {

std::uint32_t LandlockAbi() {
  const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<std::uint32_t>(abi) : 0;
}

bool SeccompKillAvailable() {
  std::uint32_t action = SECCOMP_RET_KILL_PROCESS;
  return ::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

TSandboxState ProbeSandbox() { return {LandlockAbi(), SeccompKillAvailable()}; }

std::string DescribeSandbox(const TSandboxState& state) {
  std::string text = "archive reader sandbox: ";
  text += state.landlockAbi > 0 ? "reads only its archives (Landlock ABI " + std::to_string(state.landlockAbi) + ")"
                                : std::string("file system unconfined (no Landlock)");
  text += state.seccomp ? ", system calls filtered (seccomp)" : ", system calls unfiltered (no seccomp)";
  return text + ", empty environment";
}

}  // namespace velmora
