// The message box of the window's default error handler.
#include "ui/ErrorHandler.h"

#include <QApplication>
#include <QMessageBox>

namespace velmora {

void ShowErrorMessage(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                  QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("ErrorMessageBox"));
  box.exec();
}

}  // namespace velmora
