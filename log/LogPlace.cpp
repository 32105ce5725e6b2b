// The user's state directory for logs, and the checks that decide it is needed.
#include "log/LogPlace.h"

#include "base/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace velmora {

std::string UserStateDir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const std::string home = HomeDir();
    if (home.empty()) return {};
    base = home + "/.local/state";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/velmora/";
}

std::string UserStateLogsDir() {
  const std::string state = UserStateDir();
  return state.empty() ? state : state + "logs/";
}

bool IsWritableDir(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // AT_EACCESS: the effective ids decide, as they do for the open that follows.
  return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool MakePrivateDirs(const std::string& dir) {
  std::filesystem::path path;
  for (const auto& part : std::filesystem::path(dir)) {
    if (part.empty()) continue;
    path /= part;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace velmora
