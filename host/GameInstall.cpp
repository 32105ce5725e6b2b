// Finding the game's installation directory through the Wine registry.
#include "host/GameInstall.h"

#include <sys/stat.h>

#include "base/FileRead.h"
#include "host/HostPath.h"
#include "host/Registry.h"

namespace velmora {

TGameInstall FindGameInstall(const std::string& winePrefix) {
  TGameInstall game;
  game.winePrefix = winePrefix;
  game.hivePath = winePrefix + "/system.reg";
  std::string hive;
  std::string error;
  if (!ReadFileBytes(game.hivePath, hive, error)) {
    game.reason = "cannot read " + game.hivePath + ": " + error;
    return game;
  }
  // Reading the hive needs nothing but read access.
  const TRegLookup reg = LookupWineRegistry(hive, kGameRegistryKey, kInstallPathValue);
  if (!reg.keyFound) {
    game.reason = std::string("no key HKEY_LOCAL_MACHINE") + kGameRegistryKey + " in " + game.hivePath;
    return game;
  }
  if (reg.value) {
    if (reg.value->type != kRegSz && reg.value->type != kRegExpandSz) {
      game.status = TGameInstallStatus::kInvalidValueType;
      game.reason = "Invalid data type for '" + std::string(kInstallPathValue) + "': " + RegTypeName(reg.value->type);
      return game;
    }
    game.installPath = reg.value->data;
  }
  game.status = TGameInstallStatus::kFound;
  if (!game.installPath.empty()) {
    game.hostDirectory = MapWindowsPath(game.installPath, winePrefix);
    struct stat st {};
    game.directoryExists = ::stat(game.hostDirectory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!game.directoryExists) {
      game.reason = "the installation directory " + game.installPath + " (" + game.hostDirectory + ") does not exist";
    }
  }
  return game;
}

}  // namespace velmora
