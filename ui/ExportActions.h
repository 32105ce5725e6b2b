// Getting textures out of the window as images: Ctrl+S saves the shown level as PNG, Ctrl+Shift+S
// every level, Ctrl+C copies the shown level to the clipboard, and the tree's menu exports the
// files of a folder, the same export as the command line's, with a progress dialog that can be
// cancelled. Images are the levels decoded exactly (blp/LevelPixels.h), whatever GL shows.
#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

#include "blp/BlpExport.h"

class QAction;
class QMenu;

namespace velmora {

class TForm1;
struct TVirtualNode;

// Level `level` of the shown texture as RGBA; 0 x 0 without a shown texture or without that level.
blp::TRgbaPixels ShownLevelPixels(std::size_t level);

class TExportActions : public QObject {
  Q_OBJECT

public:
  // Adds the shortcuts to `form` and the menu to its tree.
  explicit TExportActions(TForm1& form);

  // The file dialogs; tests put their own answers in. An empty answer cancels.
  std::function<QString(const QString& suggested)> chooseSaveFile;
  std::function<QString()> chooseFolder;

  // Save, save every level and copy, in that order: window actions with their shortcuts, for
  // the view's menu too.
  const std::vector<QAction*>& Actions() const { return actions_; }

  void SaveShownLevel();  // Ctrl+S: <name>.png, or <name>.mipN.png for level N shown
  void SaveEveryLevel();  // Ctrl+Shift+S: <name>.png, <name>.mip1.png, ...
  void CopyShownLevel();  // Ctrl+C
  // Saving and copying act on the level shown: without its pixels they are disabled (their
  // shortcuts too). The window calls this whenever the shown texture or level changes.
  void UpdateEnabled();
  // The tree's menu for `node`: "Export folder as PNG…" on a folder; nothing on a file.
  void FillTreeMenu(QMenu& menu, TVirtualNode* node);
  // Asks for a folder, then exports the files shown below `folder` into it (ExportFolderTo).
  void ExportFolder(TVirtualNode* folder);
  // Exports the files shown below `folder` into `dir` with a progress dialog, then says how it
  // went in a message box.
  blp::TExportSummary ExportFolderTo(TVirtualNode* folder, const QString& dir);

private:
  void SaveLevels(const QString& path, bool every);
  // The mip level the view shows.
  std::size_t ShownLevel() const;

  TForm1& form_;
  QString lastDir_;  // where the last dialog pointed; the save dialog's is kept for the next start
  std::vector<QAction*> actions_;
};

}  // namespace velmora
