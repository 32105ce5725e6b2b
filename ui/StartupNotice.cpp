// The start-up notice with its ways on, and the window's last start-up step that shows it.
#include "ui/StartupNotice.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "archive/Zanth.h"
#include "log/LogHandler.h"
#include "render/GlCommon.h"
#include "render/ShaderSearch.h"
#include "render/View.h"
#include "ui/FileTree.h"
#include "ui/MainMenu.h"
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
    text += "\nSee the manual page (man VelmoraGL); the log: " +
            (logFile.empty() ? std::string("none could be written") : logFile) + ".";
  }
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

QStringList QtPaths(const std::vector<std::string>& paths) {
  QStringList out;
  for (const std::string& p : paths) out << QFile::decodeName(QByteArray::fromStdString(p));
  return out;
}

}  // namespace

void TForm1::FinishStartup() {
  // BLP files named on the command line, in a bracket of their own, so they show whatever the
  // loading did; the first of them is shown.
  TVirtualNode* first = nullptr;
  if (!FStartup.blpFiles.empty() && RootNodes) {
    VirtualStringTree->BeginUpdate();
    for (const std::string& path : FStartup.blpFiles) {
      TVirtualNode* node = AddDiskFile(*VirtualStringTree, path);
      if (first == nullptr) first = node;
    }
    VirtualStringTree->SortTree(0, Qt::AscendingOrder);
    VirtualStringTree->EndUpdate();
  }
  FinishStartupReport(FStartupReport, MpqList ? MpqList->Count() : 0, VirtualStringTree->NodeCount());
  // What the command line named joins the recent list once it showed something.
  if (FStartupReport.archivesOpened > 0 && !FStartup.archives.empty()) {
    FMainMenu->AddRecent({TRecentEntry::TKind::kArchives, QtPaths(FStartup.archives)});
  } else if (FStartupReport.archivesOpened > 0 && FStartup.gameDir) {
    FMainMenu->AddRecent({TRecentEntry::TKind::kGameFolder, QtPaths({*FStartup.gameDir})});
  }
  if (first != nullptr) FMainMenu->AddRecent({TRecentEntry::TKind::kBlpFiles, QtPaths(FStartup.blpFiles)});
  ShowStartupNotice();
  if (first != nullptr) SelectFileNode(first);
}

void TForm1::SelectFileNode(TVirtualNode* node) {
  const QModelIndex index = VirtualStringTree->IndexOf(node);
  if (!index.isValid()) return;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) VirtualStringTreeView->expand(p);
  // Made current the way a click makes it, so the selection shows the file.
  VirtualStringTreeView->setCurrentIndex(index);
  VirtualStringTreeView->scrollTo(index);
}

void TForm1::MakeNoticeExtras() {
  QWidget* extras = ViewBox->NoticeExtras();
  if (extras->layout() != nullptr) return;
  auto* column = new QVBoxLayout(extras);
  column->setContentsMargins(6, 0, 6, 6);
  auto* row = new QHBoxLayout;
  column->addLayout(row);
  // The buttons run the File menu's actions, dialogs and all.
  struct TButton {
    const char* name;
    const char* text;
    const char* action;
  } buttons[] = {{"ChooseGameFolderButton", "Choose game folder", "ChooseGameFolder"},
                 {"OpenArchivesButton", "Open archives", "OpenArchives"}};
  for (const TButton& b : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(b.text), extras);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setFocusPolicy(Qt::NoFocus);  // the keyboard stays with the tree
    if (auto* action = findChild<QAction*>(QString::fromLatin1(b.action), Qt::FindDirectChildrenOnly)) {
      connect(button, &QPushButton::clicked, action, &QAction::trigger);
    }
    row->addWidget(button);
  }
  row->addStretch(1);
  auto* drop = new QLabel(QStringLiteral("Archives and BLP files can also be dropped on this window."), extras);
  drop->setObjectName(QStringLiteral("DropHint"));
  drop->setWordWrap(true);
  column->addWidget(drop);
}

void TForm1::ShowStartupNotice() {
  if (!ViewBox) return;
  // Without a view (its set-up failed and said so) there are no shaders to look for.
  const std::string shaders = FView->Ready() ? ShaderFilesProblem() : std::string();
  const bool empty = VirtualStringTree->NodeCount() == 0;
  // A start-up that shows nothing offers the way on; the loading must have run to say so.
  const bool wayOn = empty && FRootNodesCreated && !FLoading;
  if (wayOn) MakeNoticeExtras();
  ViewBox->ShowNotice(StartupNoticeText(FStartupReport, empty, shaders, LogFileName), wayOn);
}

}  // namespace velmora
