// Where the running program and its user live on this host.
#pragma once

#include <string>

namespace velmora {

// The directory of the running executable (/proc/self/exe), without a trailing separator;
// empty when it cannot be read.
std::string ExecutableDir();

// The data folder of an installed copy relative to its program's folder, as the build's install
// layout has it (e.g. "../share/velmora").
std::string DataDirFromProgramDir();

// Whether `exeDir` is the program folder of an installed copy: the data folder is there beside
// it. Such a folder (/usr/bin) belongs to the package manager and takes no files of a run.
bool IsInstalledProgramDir(const std::string& exeDir);

// The user's home directory: $HOME when it is an absolute path, else the password database's
// entry for the effective user; empty when neither is known.
std::string HomeDir();

}  // namespace velmora
