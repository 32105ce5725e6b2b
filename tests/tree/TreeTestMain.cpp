// GoogleTest main with a QApplication: on the X display when there is one (the view tests need
// it), otherwise on the offscreen platform so that the model tests still run.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The tests need no desktop session bus; Qt's attempt to reach one leaves libdbus's
  // connection data allocated for the life of the process.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
