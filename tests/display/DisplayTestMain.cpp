// GoogleTest main with a QApplication on the X display of the test run. Without a display the
// tests skip: the view needs a window system to draw into. Built with VELMORA_SCALE_FACTOR, the
// desktop is scaled by that factor.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "DisplayWorld.h"

namespace {

bool gHaveDisplay = false;

// The leak suppressions for the toolkit's libraries (dbus, fontconfig) are read when the process
// starts: when the environment did not bring them, the program restarts once with them.
void RestartWithLeakSuppressions(char** argv) {
  const char* lsan = std::getenv("LSAN_OPTIONS");
  std::string options = lsan != nullptr ? lsan : "";
  if (options.find("suppressions=") != std::string::npos) return;
  if (!options.empty()) options += ':';
  options += "suppressions=" VELMORA_LSAN_SUPPRESSIONS;
  ::setenv("LSAN_OPTIONS", options.c_str(), 1);
  ::execv("/proc/self/exe", argv);
}

}  // namespace

namespace velmora::test {
bool HaveDisplay() { return gHaveDisplay; }
}  // namespace velmora::test

int main(int argc, char** argv) {
  RestartWithLeakSuppressions(argv);
  // Mesa's driver is unloaded at exit, which would leave its allocations to the leak check as
  // <unknown module>; kept loaded, they are reported against the driver (or not at all).
  ::dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
  ::testing::InitGoogleTest(&argc, argv);
  // The window reads and writes per-user settings: never the user's own in a test.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  const char* display = std::getenv("DISPLAY");
  gHaveDisplay = display != nullptr && *display != '\0';
  std::unique_ptr<QApplication> app;
  if (gHaveDisplay) {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
#ifdef VELMORA_SCALE_FACTOR
    // A scaled desktop, as a high-resolution screen has; read when the application object starts.
    ::setenv("QT_SCALE_FACTOR", VELMORA_SCALE_FACTOR, 1);
#endif
    app = std::make_unique<QApplication>(argc, argv);
  }
  const int result = RUN_ALL_TESTS();
  app.reset();
  return result;
}
