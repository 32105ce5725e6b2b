// Where the running program and its user live on this host.
#pragma once

#include <string>

namespace velmora {

// The directory of the running executable (/proc/self/exe), without a trailing separator;
// empty when it cannot be read.
std::string ExecutableDir();

// The user's home directory: $HOME when it is an absolute path, else the password database's
// entry for the effective user; empty when neither is known.
std::string HomeDir();

}  // namespace velmora
