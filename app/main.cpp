// The program main: the log writer first, then the window and the event loop; the log lock is
// destroyed last, after the window.
#include <QApplication>

#include "log/LogHandler.h"
#include "ui/UnitMain.h"

int main(int argc, char** argv) {
  velmora::InitLogFiles();
  velmora::CreateLogLock();
  int rc = 0;
  {
    QApplication app(argc, argv);
    velmora::TForm1 form;  // the window owns the taskbar button; destroyed before the toolkit
    form.show();
    rc = QApplication::exec();
  }
  velmora::DestroyLogLock();
  return rc;
}
