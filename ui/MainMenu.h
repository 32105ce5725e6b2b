// The window's menu bar, built in one place: File (choose the game folder, open archives or BLP
// files, Recent, the export actions, export a folder, Quit), Edit (copy the level, find), View
// (the view's zoom, background, channel and level actions, then the panels other parts add) and
// Help (the list of keys and mouse actions, About). Every entry is a window action with its
// shortcut; an entry with nothing to act on is disabled.
//
// The File menu takes every action of TExportActions except "CopyLevel" (which belongs to Edit),
// in their order, so that an export action added there shows up by itself.
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "ui/RecentList.h"

class QAction;
class QMenu;
class QMenuBar;

namespace velmora {

class TForm1;
class TExportActions;
class TViewControls;
struct TVirtualNode;

class TMainMenu : public QObject {
  Q_OBJECT

public:
  // Builds File, Edit and Help; View stays empty until AttachView.
  TMainMenu(TForm1& form, QMenuBar& bar, TExportActions& exportActions);
  // Fills View from the view's controls and adds their F1 list to Help, once they exist.
  void AttachView(TViewControls& controls);

  // The file dialogs; tests put their own answers in. An empty answer cancels.
  std::function<QString()> chooseGameFolder;
  std::function<QStringList()> chooseArchives;
  std::function<QStringList()> chooseBlpFiles;

  QMenu* FileMenu() const { return FFile; }
  QMenu* EditMenu() const { return FEdit; }
  QMenu* ViewMenu() const { return FView; }
  QMenu* HelpMenu() const { return FHelp; }
  QMenu* RecentMenu() const { return FRecentMenu; }

  // Adds a panel's action to the View menu, below the view's own entries.
  void AddViewPanelAction(QAction* action);

  // Brings the enabled states up to date: loading, the tree's current node, the shown level.
  void UpdateActions();

  // The recent list, and adding to it (written to the settings at once).
  const TRecentList& Recent() const { return FRecent; }
  void AddRecent(const TRecentEntry& entry);

  // The folder "Export folder…" exports: the folder selected in the tree, or the folder of the
  // file selected there; null when there is none.
  TVirtualNode* FolderToExport() const;

  // The About box's text: the version, what the program does, and which protections the archive
  // reader has.
  static QString AboutText();

  // What the File entries do once their dialog has answered.
  void ChooseGameFolder();
  void OpenArchives();
  void OpenBlpFiles();
  void OpenRecent(const TRecentEntry& entry);

private:
  QAction* NewAction(const char* name, const QString& text, const QKeySequence& keys = {});
  void BuildFile();
  void BuildEdit();
  void BuildHelp();
  void FillRecentMenu();
  void ShowAbout();

  TForm1& FForm;
  TExportActions& FExport;
  TRecentList FRecent;
  QMenu* FFile = nullptr;
  QMenu* FEdit = nullptr;
  QMenu* FView = nullptr;
  QMenu* FHelp = nullptr;
  QMenu* FRecentMenu = nullptr;
  QAction* FChooseGame = nullptr;
  QAction* FOpenArchives = nullptr;
  QAction* FOpenBlp = nullptr;
  QAction* FExportFolder = nullptr;
  QAction* FQuit = nullptr;
  QAction* FAbout = nullptr;
  QAction* FPanelsSeparator = nullptr;
};

}  // namespace velmora
