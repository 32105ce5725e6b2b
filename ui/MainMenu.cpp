// The window's menu bar and what its File and Help entries do.
#include "ui/MainMenu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTreeView>

#include <string>
#include <vector>

#include "archive/ReaderClient.h"
#include "archive/SandboxSupport.h"
#include "base/Ascii.h"
#include "ui/ErrorHandler.h"
#include "ui/ExportActions.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"

namespace velmora {

namespace {

std::vector<std::string> LocalPaths(const QStringList& paths) {
  std::vector<std::string> out;
  for (const QString& p : paths) out.push_back(QFile::encodeName(p).toStdString());
  return out;
}

}  // namespace

TMainMenu::TMainMenu(TForm1& form, QMenuBar& bar, TExportActions& exportActions)
    : QObject(&form), FForm(form), FExport(exportActions), FRecent(TRecentList::Load()) {
  chooseGameFolder = [this] {
    return QFileDialog::getExistingDirectory(&FForm, QStringLiteral("Choose the game folder"), QDir::homePath());
  };
  // Map archives (.w3x, .w3m) are MPQ archives too. The dialog matches without regard to case.
  chooseArchives = [this] {
    return QFileDialog::getOpenFileNames(&FForm, QStringLiteral("Open archives"), QDir::homePath(),
                                         QStringLiteral("MPQ archives (*.mpq *.w3x *.w3m);;All files (*)"));
  };
  chooseBlpFiles = [this] {
    return QFileDialog::getOpenFileNames(&FForm, QStringLiteral("Open BLP files"), QDir::homePath(),
                                         QStringLiteral("BLP textures (*.blp);;All files (*)"));
  };

  bar.setObjectName(QStringLiteral("MenuBar1"));
  FFile = bar.addMenu(QStringLiteral("&File"));
  FEdit = bar.addMenu(QStringLiteral("&Edit"));
  FView = bar.addMenu(QStringLiteral("&View"));
  FHelp = bar.addMenu(QStringLiteral("&Help"));
  FFile->setObjectName(QStringLiteral("FileMenu"));
  FEdit->setObjectName(QStringLiteral("EditMenu"));
  FView->setObjectName(QStringLiteral("ViewMenu"));
  FHelp->setObjectName(QStringLiteral("HelpMenu"));
  BuildFile();
  BuildEdit();
  BuildHelp();
  for (QMenu* menu : {FFile, FEdit, FView, FHelp}) connect(menu, &QMenu::aboutToShow, this, &TMainMenu::UpdateActions);
  QTreeView* tree = FForm.VirtualStringTreeView;
  connect(FForm.VirtualStringTree, &QAbstractItemModel::modelReset, this, &TMainMenu::UpdateActions);
  if (tree->selectionModel() != nullptr) {
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &TMainMenu::UpdateActions);
    connect(tree->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TMainMenu::UpdateActions);
  }
  UpdateActions();
}

QAction* TMainMenu::NewAction(const char* name, const QString& text, const QKeySequence& keys) {
  auto* action = new QAction(text, &FForm);
  action->setObjectName(QString::fromLatin1(name));
  if (!keys.isEmpty()) action->setShortcut(keys);
  // A window action: its shortcut works wherever the focus is, and the F1 list shows it.
  action->setShortcutContext(Qt::WindowShortcut);
  FForm.addAction(action);
  return action;
}

void TMainMenu::BuildFile() {
  auto handled = [this](void (TMainMenu::*what)()) {
    return [this, what] { RunEventHandler(&FForm, [&] { (this->*what)(); }); };
  };
  FChooseGame = NewAction("ChooseGameFolder", QStringLiteral("Choose game folder\u2026"), QKeySequence(Qt::CTRL | Qt::Key_G));
  FOpenArchives = NewAction("OpenArchives", QStringLiteral("Open archives\u2026"), QKeySequence(Qt::CTRL | Qt::Key_O));
  FOpenBlp = NewAction("OpenBlpFiles", QStringLiteral("Open BLP files\u2026"));
  connect(FChooseGame, &QAction::triggered, this, handled(&TMainMenu::ChooseGameFolder));
  connect(FOpenArchives, &QAction::triggered, this, handled(&TMainMenu::OpenArchives));
  connect(FOpenBlp, &QAction::triggered, this, handled(&TMainMenu::OpenBlpFiles));
  FFile->addAction(FChooseGame);
  FFile->addAction(FOpenArchives);
  FFile->addAction(FOpenBlp);
  FRecentMenu = FFile->addMenu(QStringLiteral("Recent"));
  FRecentMenu->setObjectName(QStringLiteral("RecentMenu"));
  connect(FRecentMenu, &QMenu::aboutToShow, this, &TMainMenu::FillRecentMenu);
  FillRecentMenu();
  FFile->addSeparator();
  for (QAction* action : FExport.Actions()) {
    if (action->objectName() != QLatin1String("CopyLevel")) FFile->addAction(action);
  }
  FExportFolder = NewAction("ExportFolder", QStringLiteral("Export folder\u2026"));
  connect(FExportFolder, &QAction::triggered, this, [this] {
    RunEventHandler(&FForm, [this] {
      if (TVirtualNode* folder = FolderToExport()) FExport.ExportFolder(folder);
    });
  });
  FFile->addAction(FExportFolder);
  FFile->addSeparator();
  FQuit = NewAction("Quit", QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
  FQuit->setMenuRole(QAction::QuitRole);
  connect(FQuit, &QAction::triggered, &FForm, &QWidget::close);
  FFile->addAction(FQuit);
}

void TMainMenu::BuildEdit() {
  for (QAction* action : FExport.Actions()) {
    if (action->objectName() == QLatin1String("CopyLevel")) FEdit->addAction(action);
  }
  if (auto* find = FForm.findChild<QAction*>(QStringLiteral("FilterTree"), Qt::FindDirectChildrenOnly)) FEdit->addAction(find);
}

void TMainMenu::AttachView(TViewControls& controls) {
  controls.FillViewMenu(*FView);
  connect(&controls, &TViewControls::Changed, this, &TMainMenu::UpdateActions);
  // The F1 list is the view's action, at the top of Help.
  for (QAction* action : FForm.actions()) {
    if (action->objectName() == QLatin1String("ShortcutHelp")) FHelp->insertAction(FAbout, action);
  }
  UpdateActions();
}

void TMainMenu::AddViewPanelAction(QAction* action) {
  // Panels sit below the view's own entries, after one line.
  if (FPanelsSeparator == nullptr) FPanelsSeparator = FView->addSeparator();
  FView->addAction(action);
}

void TMainMenu::BuildHelp() {
  FAbout = NewAction("About", QStringLiteral("About"));
  FAbout->setMenuRole(QAction::AboutRole);
  connect(FAbout, &QAction::triggered, this, &TMainMenu::ShowAbout);
  FHelp->addAction(FAbout);
}

QString TMainMenu::AboutText() {
  // The protections of the running archive reader; before one ran, what one would have.
  const TArchiveReader& reader = TArchiveReader::Instance();
  std::string sandbox = DescribeSandbox(reader.Sandbox().known ? reader.Sandbox().state : ProbeSandbox());
  sandbox[0] = UpperAsciiChar(sandbox[0]);
  return QStringLiteral("VelmoraGL " VELMORA_VERSION "\n\n"
                        "Shows the BLP textures inside the MPQ archives of a game installation where "
                        "they lie, one screen pixel per texel.\n"
                        "DXT images are decoded by the Dexaro library when the graphics driver takes no "
                        "compressed textures.\n\n") +
         QString::fromStdString(sandbox) + QStringLiteral(".\n\nSee man VelmoraGL, and F1 for the keys.");
}

void TMainMenu::ShowAbout() { QMessageBox::about(&FForm, QStringLiteral("About VelmoraGL"), AboutText()); }

void TMainMenu::FillRecentMenu() {
  FRecentMenu->clear();
  for (const TRecentEntry& entry : FRecent.Entries()) {
    QAction* action = FRecentMenu->addAction(RecentEntryText(entry));
    action->setToolTip(entry.paths.join(QLatin1Char('\n')));
    connect(action, &QAction::triggered, this, [this, entry] { RunEventHandler(&FForm, [&] { OpenRecent(entry); }); });
  }
  if (FRecent.Entries().empty()) return;
  FRecentMenu->addSeparator();
  QAction* clear = FRecentMenu->addAction(QStringLiteral("Clear the list"));
  connect(clear, &QAction::triggered, this, [this] {
    FRecent.Clear();
    FRecent.Save();
    UpdateActions();
  });
}

void TMainMenu::AddRecent(const TRecentEntry& entry) {
  FRecent.Add(entry);
  FRecent.Save();
  UpdateActions();
}

TVirtualNode* TMainMenu::FolderToExport() const {
  // The node the user selected; a current row the view picked by itself (a focus frame on the
  // first row) is no choice.
  const QModelIndex current = FForm.VirtualStringTreeView->currentIndex();
  const QItemSelectionModel* selection = FForm.VirtualStringTreeView->selectionModel();
  if (!current.isValid() || selection == nullptr || !selection->isSelected(current)) return nullptr;
  TVirtualNode* node = TTreeModel::NodeOf(current);
  if (node != nullptr && node->data.isFile == 1) node = node->parent;
  return node;
}

void TMainMenu::UpdateActions() {
  // The archive list and the tree belong to the loading while it runs; without a tree (the view
  // could not be set up) nothing can be opened.
  const bool idle = !FForm.Loading() && RootNodes != nullptr;
  FChooseGame->setEnabled(idle);
  FOpenArchives->setEnabled(idle);
  FOpenBlp->setEnabled(idle);
  FRecentMenu->menuAction()->setEnabled(idle && !FRecent.Entries().empty());
  FExportFolder->setEnabled(idle && FolderToExport() != nullptr);
  FExport.UpdateEnabled();
}

void TMainMenu::ChooseGameFolder() {
  // The archive list and the tree belong to the loading while it runs (its shortcut still reaches
  // here).
  if (FForm.Loading()) return;
  const QString dir = chooseGameFolder();
  if (dir.isEmpty()) return;
  FForm.LoadGameFolder(QFile::encodeName(dir).toStdString());
}

void TMainMenu::OpenArchives() {
  if (FForm.Loading()) return;
  const QStringList files = chooseArchives();
  if (files.isEmpty()) return;
  FForm.OpenFiles(LocalPaths(files));
}

void TMainMenu::OpenBlpFiles() {
  if (FForm.Loading()) return;
  const QStringList files = chooseBlpFiles();
  if (files.isEmpty()) return;
  FForm.OpenFiles(LocalPaths(files));
}

void TMainMenu::OpenRecent(const TRecentEntry& entry) {
  if (entry.kind == TRecentEntry::TKind::kGameFolder) {
    FForm.LoadGameFolder(QFile::encodeName(entry.paths.front()).toStdString());
  } else {
    FForm.OpenFiles(LocalPaths(entry.paths));
  }
}

}  // namespace velmora
