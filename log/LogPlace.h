// Where the log files go when the folder beside the executable cannot take them: the user's
// state directory (XDG Base Directory), as for every user of an installed copy.
#pragma once

#include <string>

namespace velmora {

// $XDG_STATE_HOME/velmora/, or ~/.local/state/velmora/ when XDG_STATE_HOME is unset, empty or
// not absolute (relative values are to be ignored). HOME comes from the environment, else from
// the password database. Empty when no home is known.
std::string UserStateDir();

// UserStateDir() + "logs/"; empty when no home is known.
std::string UserStateLogsDir();

// Whether this process may create files in `dir` (an existing directory, write and search
// permission for the effective user; a read-only file system counts as not writable).
bool IsWritableDir(const std::string& dir);

// Creates `dir` and its missing parents, the new ones with mode 0700 (state data is the
// user's own). True when `dir` exists as a directory afterwards.
bool MakePrivateDirs(const std::string& dir);

}  // namespace velmora
