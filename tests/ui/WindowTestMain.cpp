// GoogleTest main with a QApplication: on the X display of the test run when there is one,
// otherwise on the offscreen platform.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// The sanitizer options are read when the process starts, so a change restarts the program once.
// - libxkbcommon-x11 1.5 strndup()s X atom names that are not NUL-terminated, which
//   AddressSanitizer's strict_string_checks reports while Qt's xcb platform starts: that flag
//   goes off.
// - The leak suppressions for the toolkit's libraries (dbus, fontconfig) are added when the
//   environment did not bring them.
void RestartWithSanitizerOptions(char** argv, bool display) {
  bool changed = false;
  if (const char* asan = std::getenv("ASAN_OPTIONS"); asan && display) {
    std::string options = asan;
    const std::string flag = "strict_string_checks=1";
    if (const std::size_t at = options.find(flag); at != std::string::npos) {
      options.replace(at, flag.size(), "strict_string_checks=0");
      ::setenv("ASAN_OPTIONS", options.c_str(), 1);
      changed = true;
    }
  }
  const char* lsan = std::getenv("LSAN_OPTIONS");
  std::string options = lsan ? lsan : "";
  if (options.find("suppressions=") == std::string::npos) {
    if (!options.empty()) options += ':';
    options += "suppressions=" VELMORA_LSAN_SUPPRESSIONS;
    ::setenv("LSAN_OPTIONS", options.c_str(), 1);
    changed = true;
  }
  if (changed) ::execv("/proc/self/exe", argv);
}

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  RestartWithSanitizerOptions(argv, display && *display);
  if (!(display && *display)) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  // Mesa's driver is unloaded at exit, which would leave its allocations to the leak check as
  // <unknown module>; kept loaded, they are reported against the driver (or not at all).
  ::dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
  ::testing::InitGoogleTest(&argc, argv);
  // The window reads and writes per-user settings: never the user's own in a test.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
