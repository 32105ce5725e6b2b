// The start-up notice, and the window's last start-up step that shows it.
#include "ui/StartupNotice.h"

#include "archive/Zanth.h"
#include "log/LogHandler.h"
#include "render/GlCommon.h"
#include "render/ShaderSearch.h"
#include "render/View.h"
#include "ui/FileTree.h"
#include "ui/NamedFiles.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"

namespace velmora {

std::string ShaderFilesProblem() {
  if (FindShaderBaseDir(ShaderList, {ShaderBaseDir})) return {};
  std::string files;
  for (const TShaderInfo* entry = ShaderList; entry->stype != 0; ++entry) {
    files += (files.empty() ? "" : " and ") + ShaderRelativePath(entry->filename);
  }
  return "The shader files " + files + " are not in " + ShaderFolderOf(ShaderList, ShaderBaseDir) +
         " nor in the installed data folder beside the program: textures cannot be drawn.\n"
         "Start the viewer in a folder that holds shader/, or install it (cmake --install).";
}

QString StartupNoticeText(const TStartupReport& report, bool treeEmpty, const std::string& shaderProblem,
                          const std::string& logFile) {
  std::string text;
  for (const std::string& line : ArchiveTroubleLines(report)) text += (text.empty() ? "" : "\n") + line;
  if (!shaderProblem.empty()) text += (text.empty() ? "" : "\n") + shaderProblem;
  const std::string loading = treeEmpty ? DescribeStartupProblem(report, logFile) : std::string();
  if (!loading.empty()) {
    text += (text.empty() ? "" : "\n") + loading;
  } else if (!shaderProblem.empty()) {
    text += "\nSee \"Using it with a real game install\" in the README; the log: " +
            (logFile.empty() ? std::string("none could be written") : logFile) + ".";
  }
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void TForm1::FinishStartup() {
  // BLP files named on the command line, in a bracket of their own, so they show whatever the
  // loading did.
  if (!FStartup.blpFiles.empty() && RootNodes) {
    VirtualStringTree->BeginUpdate();
    for (const std::string& path : FStartup.blpFiles) AddDiskFile(*VirtualStringTree, path);
    VirtualStringTree->SortTree(0, Qt::AscendingOrder);
    VirtualStringTree->EndUpdate();
  }
  FinishStartupReport(FStartupReport, MpqList ? MpqList->Count() : 0, VirtualStringTree->NodeCount());
  ShowStartupNotice();
}

void TForm1::ShowStartupNotice() {
  if (!ViewBox) return;
  // Without a view (its set-up failed and said so) there are no shaders to look for.
  const std::string shaders = FView->Ready() ? ShaderFilesProblem() : std::string();
  ViewBox->ShowNotice(StartupNoticeText(FStartupReport, VirtualStringTree->NodeCount() == 0, shaders, LogFileName));
}

}  // namespace velmora
