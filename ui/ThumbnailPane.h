// The thumbnail grid in the window: selecting a folder in the tree shows its BLP files as a grid in
// the view's place (not those of its subfolders); with the filter on and "Show matches as grid"
// checked, the grid shows every file the filter lets through instead. Selecting a file, or opening
// a thumbnail (Enter, double click), shows the view again. The grid draws with the view's channel
// and background; Ctrl+= / Ctrl+- (and Ctrl+wheel) size it, Ctrl+C copies the current
// thumbnail's file as an image.
#pragma once

#include <QObject>

#include <cstdint>
#include <vector>

class QAction;
class QStackedWidget;

namespace velmora {

class TForm1;
class TThumbnailGrid;
struct TThumbnailSource;
struct TVirtualNode;

class TThumbnailPane : public QObject {
  Q_OBJECT

public:
  // Puts the grid into `stack` beside the view (ViewBox), adds the actions to the window, its View
  // and Edit menus and the filter line's menu, and follows the tree.
  TThumbnailPane(TForm1& form, QStackedWidget& stack);

  TThumbnailGrid* Grid() const { return FGrid; }
  bool GridShown() const;
  // "Show matches as grid".
  QAction* MatchesAction() const { return FMatches; }

  // The grid for the BLP files directly in `folder` (those the filter lets through).
  void ShowFolder(TVirtualNode* folder);
  // The grid for every file the filter lets through; the view when there is no filter.
  void ShowMatches();
  // The view in the grid's place.
  void ShowView();
  // Selects `file` in the tree, which shows it in the view.
  void Open(TVirtualNode* file);
  // Copies level 0 of the current thumbnail's file to the clipboard as an image.
  void CopyCurrentFile();

  // Where a file's bytes are for its thumbnail: the archive that supplies it (by its path on this
  // host) and its name as listed there, or its path on disk.
  TThumbnailSource SourceOf(const TVirtualNode& file) const;

private:
  enum class TMode { kView, kFolder, kMatches };

  void SelectionAdded(TVirtualNode* node);
  void RowsAboutToReset();
  void RowsReset();
  // What the grid shows when the matches are no longer wanted: the folder selected in the tree,
  // else the view.
  void ShowSelectedFolderOrView();
  void ShowGrid(TMode mode, std::vector<TVirtualNode*> files);
  void FollowView();
  void UpdateActions();

  TForm1& FForm;
  QStackedWidget& FStack;
  TThumbnailGrid* FGrid = nullptr;
  TMode FMode = TMode::kView;
  TVirtualNode* FFolder = nullptr;
  std::uint64_t FGeneration = 0;  // the tree's, when the grid was filled
  QAction* FMatches = nullptr;
  QAction* FLarger = nullptr;
  QAction* FSmaller = nullptr;
  QAction* FCopy = nullptr;
};

}  // namespace velmora
