// The executable's directory and the user's home.
#include "base/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace velmora {

std::string ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::string DataDirFromProgramDir() { return VELMORA_DATA_FROM_BIN; }

bool IsInstalledProgramDir(const std::string& exeDir) {
  std::error_code ec;
  return !exeDir.empty() && std::filesystem::is_directory(std::filesystem::path(exeDir) / VELMORA_DATA_FROM_BIN, ec);
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

}  // namespace velmora
