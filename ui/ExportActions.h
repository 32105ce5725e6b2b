// Getting textures and files out of the window: Ctrl+S saves the shown level as PNG, Ctrl+Shift+S
// every level, Ctrl+C copies the shown level to the clipboard, Ctrl+E ("Export...") opens the
// export dialog (ui/ExportDialog.h) for the selected file, the selected folder or everything the
// filter shows; the tree's file menu saves the file as PNG, DDS or raw, its folder menu exports
// the folder. Exports are the command line's, with a progress dialog that can be cancelled and a
// summary that offers to open the output folder. Images are the levels decoded exactly
// (blp/LevelPixels.h), whatever GL shows.
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

  // The file dialogs and the desktop's file manager; tests put their own answers in. An empty
  // answer cancels. chooseSaveFile's filter follows the suggested name's extension.
  std::function<QString(const QString& suggested)> chooseSaveFile;
  std::function<QString()> chooseFolder;
  std::function<void(const QString& folder)> openFolder;

  // Save, save every level, copy and export, in that order: window actions with their shortcuts
  // (object names "SaveLevel", "SaveEveryLevel", "CopyLevel", "Export"), for the view's menu and
  // the window's menus too.
  const std::vector<QAction*>& Actions() const { return actions_; }
  // The "Export..." action (Ctrl+E).
  QAction* ExportAction() const { return actions_.back(); }

  void SaveShownLevel();  // Ctrl+S: <name>.png, or <name>.mipN.png for level N shown
  void SaveEveryLevel();  // Ctrl+Shift+S: <name>.png, <name>.mip1.png, ...
  void CopyShownLevel();  // Ctrl+C
  // Ctrl+E: the export dialog, the folder `folder` chosen when given, else the tree's selection.
  void ExportWithDialog(TVirtualNode* folder = nullptr);
  // Saving and copying act on the level shown: without its pixels they are disabled (their
  // shortcuts too). The window calls this whenever the shown texture or level changes.
  void UpdateEnabled();
  // The tree's menu for `node`: on a file "Save as PNG…", "Save as DDS…" and "Save as raw file…"
  // (object names "SaveAsPng", "SaveAsDds", "SaveAsRaw"); on a folder "Export…" and "Export
  // folder as PNG…" ("ExportFolderDialog", "ExportFolderPng").
  void FillTreeMenu(QMenu& menu, TVirtualNode* node);
  // Asks for a file name, then writes the file node `file` there in `format` (level 0 for PNG):
  // the version shown when the view shows that file, else the supplier's.
  void SaveFileAs(TVirtualNode* file, blp::TExportFormat format);
  // Asks for a folder, then exports the files shown below `folder` into it as PNG
  // (ExportFolderTo).
  void ExportFolder(TVirtualNode* folder);
  // Exports the files shown below `folder` into `dir` as PNG, replacing files already there,
  // with a progress dialog, then shows the summary.
  blp::TExportSummary ExportFolderTo(TVirtualNode* folder, const QString& dir);
  // Exports `items` as `options` say with a progress dialog titled `title`, then shows the
  // summary ("N files written, M failed, K skipped (already there) in DIR", the failures) with
  // an "Open folder" button.
  blp::TExportSummary RunExport(const std::vector<blp::TExportItem>& items, const blp::TExportOptions& options,
                                const QString& title);

private:
  void SaveLevels(const QString& path, bool every);
  // The mip level the view shows.
  std::size_t ShownLevel() const;
  // The archive whose version of `item` the view shows when that is not the supplier's; 0 else.
  MpqHandle ShownVersionArchive(const blp::TExportItem& item) const;

  TForm1& form_;
  QString lastDir_;  // where the last dialog pointed; the save dialog's is kept for the next start
  std::vector<QAction*> actions_;
};

}  // namespace velmora
