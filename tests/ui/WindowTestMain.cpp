// GoogleTest main with a QApplication: on the X display of the test run when there is one,
// otherwise on the offscreen platform.
#include <QApplication>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// libxkbcommon-x11 1.5 strndup()s X atom names that are not NUL-terminated, which
// AddressSanitizer's strict_string_checks reports while Qt's xcb platform starts: restart this
// program once with only that flag off.
void RestartWithoutStrictStringChecks(char** argv) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  if (!asan) return;
  std::string options = asan;
  const std::string flag = "strict_string_checks=1";
  const std::size_t at = options.find(flag);
  if (at == std::string::npos) return;
  options.replace(at, flag.size(), "strict_string_checks=0");
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  ::execv("/proc/self/exe", argv);
}

// The leak suppressions for the toolkit's libraries (dbus, fontconfig), when the environment
// did not bring them.
void AddLeakSuppressions() {
  const char* lsan = std::getenv("LSAN_OPTIONS");
  std::string options = lsan ? lsan : "";
  if (options.find("suppressions=") != std::string::npos) return;
  if (!options.empty()) options += ':';
  options += "suppressions=" VELMORA_LSAN_SUPPRESSIONS;
  ::setenv("LSAN_OPTIONS", options.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  AddLeakSuppressions();  // read by the leak check at exit, so setting it now is in time
  if (display && *display) {
    RestartWithoutStrictStringChecks(argv);
  } else {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
