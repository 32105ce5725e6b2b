// GoogleTest main with a QApplication: on the X display when there is one (the view tests need
// it), otherwise on the offscreen platform so that the model tests still run.
#include <QApplication>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// libxkbcommon-x11 (1.5, Debian 12) strndup()s X atom names that are not NUL-terminated;
// AddressSanitizer's strict_string_checks reads past them to a NUL and reports an overflow
// while Qt's xcb platform starts. Everything else stays checked: only that flag goes, by
// starting this program again with it off.
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

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  const bool haveDisplay = display && *display;
  if (haveDisplay) {
    RestartWithoutStrictStringChecks(argv);
  } else {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
