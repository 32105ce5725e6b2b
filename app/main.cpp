// The program main: the viewer made non-dumpable, then the command line (help, version and usage
// errors need nothing else),
// then the log writer; then either the export without a window, or the window and the event
// loop. The log lock is destroyed last, after the window.
#include <QApplication>

#include <sys/prctl.h>

#include <cstdio>

#include "app/CommandLine.h"
#include "app/HeadlessExport.h"
#include "log/LogHandler.h"
#include "ui/UnitMain.h"

int main(int argc, char** argv) {
  // No process of the same user may attach to the viewer or read its memory: not a program of
  // theirs, and not the archive reader, should a crafted archive take it over. (Core dumps go
  // with it; a debugger that starts the program still works.)
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const velmora::TCommandLine cmd = velmora::ParseCommandLine(velmora::ProgramArguments(argc, argv));
  switch (cmd.action) {
    case velmora::TCommandLine::TAction::kHelp:
    case velmora::TCommandLine::TAction::kVersion:
      std::fputs(cmd.text.c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case velmora::TCommandLine::TAction::kUsageError:
      std::fputs(cmd.text.c_str(), stderr);
      return velmora::kExitUsage;
    default:
      break;
  }

  velmora::InitLogFiles();
  velmora::CreateLogLock();
  int rc = 0;
  if (cmd.action == velmora::TCommandLine::TAction::kExport) {
    rc = velmora::RunHeadlessExport(cmd);
  } else {
    QApplication app(argc, argv);
    velmora::TForm1 form;  // the window owns the taskbar button; destroyed before the toolkit
    form.SetStartupOptions(cmd.startup);
    form.show();
    rc = QApplication::exec();
  }
  velmora::DestroyLogLock();
  return rc;
}
