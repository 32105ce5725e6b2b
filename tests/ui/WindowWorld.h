// What the window tests share: a scratch world for one window (a Wine prefix with drive C:, a
// working folder with the shaders, a log and a settings folder of its own), a wait that runs
// events, and a watcher that closes message boxes.
#pragma once

#include <QStringList>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace velmora::test {

inline constexpr const char* kHiveHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
inline constexpr const char* kWowKey = "[Software\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n";
inline constexpr const char* kWow64Key =
    "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n";
inline constexpr const char* kInstallValue = "\"InstallPath\"=\"C:\\\\Games\\\\WoW\\\\\"\n";

// The source tree: $VELMORA_SOURCE_DIR, else the one the tests were built from.
std::filesystem::path SourceDir();

// The game folder is C:\Games\WoW (with Data/enUS/); nothing else is in it until a test puts it
// there. The working folder's shader/ holds the project's files that `shaders` names. Sets
// WINEPREFIX, the working folder and the log while alive.
class TScratchWorld {
public:
  explicit TScratchWorld(const std::vector<std::string>& shaders = {"vertex.glsl", "fragment.glsl"});
  ~TScratchWorld();
  TScratchWorld(const TScratchWorld&) = delete;
  TScratchWorld& operator=(const TScratchWorld&) = delete;

  const std::filesystem::path& root() const { return tmp_.path(); }
  const std::filesystem::path& prefix() const { return prefix_; }
  const std::filesystem::path& drive() const { return drive_; }
  const std::filesystem::path& game() const { return game_; }
  const std::filesystem::path& work() const { return work_; }

  // system.reg: the header, then `body` (keys and values).
  void Hive(const std::string& body) const;
  void Archive(const std::filesystem::path& path, const std::vector<MpqMember>& members) const;
  // An archive list in the working folder.
  void MpqToLoad(const std::string& bytes, const std::string& name = "mpqToLoad.txt") const;
  // The messages of the log, without their time stamps.
  std::vector<std::string> LogMessages() const;

private:
  TempDir tmp_;
  std::filesystem::path prefix_, drive_, game_, work_, oldCwd_;
  std::optional<std::string> oldPrefix_;
};

// Runs events until `done` or `ms` milliseconds have passed; false on the time-out.
bool WaitFor(const std::function<bool()>& done, int ms = 30000);

// Closes every message box that shows up and keeps its text, so that no person has to.
class TMessageBoxWatcher {
public:
  TMessageBoxWatcher();
  QStringList texts;

private:
  QTimer timer_;
};

}  // namespace velmora::test
