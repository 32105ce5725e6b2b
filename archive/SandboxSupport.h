// What the kernel offers the archive reader to confine itself with (Landlock for the file system,
// seccomp for system calls), and how the viewer says which of them are in place.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The Landlock ABI version the kernel offers; 0 when it offers none (too old, or left out at
// build or boot time).
std::uint32_t LandlockAbi();

// Whether the kernel takes seccomp filters whose action kills the process.
bool SeccompKillAvailable();

// The protections of an archive reader: what one put in place, or what the kernel would let one.
struct TSandboxState {
  std::uint32_t landlockAbi = 0;  // 0: the file system is not confined
  bool seccomp = false;           // system calls are filtered
};

// What a reader started now would put in place.
TSandboxState ProbeSandbox();

// One line for --version and the About box: "archive reader sandbox: reads only its archives
// (Landlock ABI 7), system calls filtered (seccomp), empty environment"; what is missing is said
// in its place ("file system unconfined (no Landlock)").
std::string DescribeSandbox(const TSandboxState& state);

}  // namespace velmora
