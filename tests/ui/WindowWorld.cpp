#include "WindowWorld.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSettings>
#include <QThread>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "log/LogHandler.h"

namespace fs = std::filesystem;

namespace velmora::test {

fs::path SourceDir() {
  if (const char* env = std::getenv("VELMORA_SOURCE_DIR"); env != nullptr && *env != '\0') return env;
  return VELMORA_TEST_SOURCE_DIR;
}

TScratchWorld::TScratchWorld(const std::vector<std::string>& shaders) {
  prefix_ = tmp_.path() / "prefix";
  drive_ = prefix_ / "drive_c";
  game_ = drive_ / "Games/WoW";
  work_ = tmp_.path() / "work";
  fs::create_directories(game_ / "Data/enUS");
  fs::create_directories(prefix_ / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix_ / "dosdevices/c:");
  // The window's view builds its shader program from the working directory.
  fs::create_directories(work_ / "shader");
  for (const std::string& name : shaders) {
    fs::copy_file(SourceDir() / "shader" / name, work_ / "shader" / name);
  }
  oldCwd_ = fs::current_path();
  fs::current_path(work_);
  if (const char* p = std::getenv("WINEPREFIX")) oldPrefix_ = p;
  ::setenv("WINEPREFIX", prefix_.c_str(), 1);
  InitLogFilesAt((tmp_.path() / "exe").string(), std::time(nullptr));
  CreateLogLock();
  // Nothing remembered from another window: the first-start layout.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((tmp_.path() / "config").string()));
}

TScratchWorld::~TScratchWorld() {
  DestroyLogLock();
  std::error_code ec;
  fs::current_path(oldCwd_, ec);
  if (oldPrefix_) ::setenv("WINEPREFIX", oldPrefix_->c_str(), 1); else ::unsetenv("WINEPREFIX");
}

void TScratchWorld::Hive(const std::string& body) const { std::ofstream(prefix_ / "system.reg") << kHiveHeader << body; }

void TScratchWorld::Archive(const fs::path& path, const std::vector<MpqMember>& members) const {
  fs::create_directories(path.parent_path());
  WriteMpq(path, members, ListFileOf(members));
}

void TScratchWorld::MpqToLoad(const std::string& bytes, const std::string& name) const {
  std::ofstream(work_ / name, std::ios::binary) << bytes;
}

std::vector<std::string> TScratchWorld::LogMessages() const {
  std::vector<std::string> out;
  std::ifstream in(LogFileName, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    const std::size_t stamp = line.find("] ");
    out.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    pos = end + 2;
  }
  return out;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

TMessageBoxWatcher::TMessageBoxWatcher() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box && box->isVisible()) {
        texts.push_back(box->text());
        box->done(0);
      }
    }
  });
  timer_.start();
}

}  // namespace velmora::test
