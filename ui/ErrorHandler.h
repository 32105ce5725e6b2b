// The window's default error handler: an error that leaves an event handler is caught there and
// its message shown to the user in a message box; the window goes on running.
#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace velmora {

// Shows `message` in a modal message box over `parent` and waits until it is closed.
void ShowErrorMessage(QWidget* parent, const QString& message);

// Runs one event handler. A std::exception that leaves it is shown with its what() text (taken
// as UTF-8); anything else thrown is shown as "Unknown error". Returns false when it caught one.
template <class Handler>
bool RunEventHandler(QWidget* parent, Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
    return true;
  } catch (const std::exception& e) {
    ShowErrorMessage(parent, QString::fromUtf8(e.what()));
  } catch (...) {
    ShowErrorMessage(parent, QStringLiteral("Unknown error"));
  }
  return false;
}

}  // namespace velmora
