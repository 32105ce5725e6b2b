// The archive reader's confinement, put in place before it reads any archive byte: Landlock lets
// it read the archive files it was given and nothing else, a seccomp filter lets it make only the
// system calls its work needs and kills it on any other. Built into the reader only.
#pragma once

#include <string>
#include <vector>

#include "archive/SandboxSupport.h"

namespace velmora::reader {

struct TSandboxOutcome {
  TSandboxState state;                  // what is in place
  std::vector<std::string> missing;     // a log line for each protection that is not, with why
};

// Confines the calling process for good with what `offered` (ProbeSandbox) says the kernel has.
// `archives`: the files it may read (other paths and missing files get no access). `socketFd`:
// the descriptor it talks to the viewer on.
TSandboxOutcome EnterSandbox(const std::vector<std::string>& archives, int socketFd, const TSandboxState& offered);

}  // namespace velmora::reader
