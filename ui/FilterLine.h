// The filter line above the file tree. Hidden until Ctrl+F; typing filters the tree to the files
// whose full path contains every typed word (ui/TreeFilter.h), their folders showing too and all
// of them expanded when few enough match; Esc, in the line or in the tree, clears the filter,
// which gives back the whole tree as it was, and hides the line again.
#pragma once

#include <QLineEdit>
#include <QList>
#include <QPointer>

#include <cstdint>
#include <vector>

#include "ui/TreeFilter.h"

class QAction;
class QTreeView;

namespace velmora {

class TTreeModel;
struct TVirtualNode;

// The expanded folders of a tree view, kept across a reset of the model's rows.
class TTreeExpansion {
public:
  // Walks only into expanded folders.
  void Save(const TTreeModel& model, const QTreeView& view);
  // Expands the saved folders that show, when the tree was not cleared meanwhile; forgets them.
  void Restore(const TTreeModel& model, QTreeView& view);

private:
  std::vector<TVirtualNode*> nodes_;
  std::uint64_t generation_ = 0;
};

class TFilterLine : public QLineEdit {
  Q_OBJECT

public:
  // At most this many matching files show with every folder expanded.
  static constexpr std::size_t kExpandAtMost = 300;

  // Puts itself above `view` (taking the view's place in its splitter, or in its parent's layout),
  // hidden, after the view in the tab order; Ctrl+F in `window` opens it.
  TFilterLine(TTreeModel& model, QTreeView& view, QWidget* window);

  // Shows the line, focused, its text selected.
  void Open();
  // Clears the filter and hides the line; the keyboard goes back to the tree.
  void Close();

  // Files the filter takes now; 0 without a filter.
  std::size_t Matches() const;

  // Adds another part's action to the line's menu, below the editing entries.
  void AddMenuAction(QAction* action);

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Esc pressed in the tree while a filter is on.
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Apply(const QString& text);
  void Reshow();
  void ShowCurrent(bool scroll);

  TTreeModel& model_;
  QTreeView& view_;
  QList<QPointer<QAction>> menuActions_;
  TPathFilter filter_;
  // The folders expanded when the filter began, to open them again when it ends.
  TTreeExpansion expanded_;
  // The node last selected, found again whenever the rows change.
  TVirtualNode* current_ = nullptr;
  std::uint64_t currentGeneration_ = 0;
};

}  // namespace velmora
