// Where the game is installed: the "InstallPath" value of the game's registry key, read from the
// Wine prefix's system.reg (Linux has no registry), and where that directory lies on this host.
#pragma once

#include <string>

namespace velmora {

// The registry key that holds the game's installation directory, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kGameRegistryKey = "\\SOFTWARE\\Blizzard Entertainment\\World of Warcraft";
inline constexpr const char* kInstallPathValue = "InstallPath";

enum class TGameInstallStatus {
  kFound,             // the key exists; installPath holds the value (empty when it has none)
  kNoRegistryKey,     // system.reg is missing, unreadable, no Wine hive, or lacks the key
  kInvalidValueType,  // "InstallPath" is not a string value
};

struct TGameInstall {
  TGameInstallStatus status = TGameInstallStatus::kNoRegistryKey;
  std::string installPath;    // the value as UTF-8; no separator is added to it
  std::string winePrefix;     // the prefix whose drives map Windows paths onto the host
  std::string hivePath;       // the system.reg that was read
  std::string hostDirectory;  // installPath on the host file system; empty without a value
  bool directoryExists = false;
  // Why the game was not found, in words, naming what was looked at; for kFound with a
  // directory that does not exist, says so.
  std::string reason;
};

// Looks the game up in the registry of `winePrefix`.
TGameInstall FindGameInstall(const std::string& winePrefix);

}  // namespace velmora
