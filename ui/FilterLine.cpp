// The tree's filter line: placement, keys, and keeping expansion and selection across filters.
#include "ui/FilterLine.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <memory>

#include "ui/TreeModel.h"

namespace velmora {

TFilterLine::TFilterLine(TTreeModel& model, QTreeView& view, QWidget* window)
    : QLineEdit(), model_(model), view_(view) {
  setObjectName(QStringLiteral("FilterLine"));
  setPlaceholderText(QStringLiteral("Filter: words of the path"));
  setClearButtonEnabled(true);
  // Files dropped here open in the window rather than becoming text.
  setAcceptDrops(false);

  // A box in the view's place holds the line above the view.
  QWidget* parent = view.parentWidget();
  auto* box = new QWidget();
  box->setObjectName(QStringLiteral("TreeBox"));
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (auto* splitter = qobject_cast<QSplitter*>(parent)) {
    splitter->replaceWidget(splitter->indexOf(&view), box);
  } else if (parent != nullptr && parent->layout() != nullptr) {
    delete parent->layout()->replaceWidget(&view, box);
  } else {
    box->setParent(parent);
  }
  // The view joins the box first, so that it stays before the line in the tab order.
  layout->addWidget(&view, 1);
  layout->insertWidget(0, this);
  view.show();
  hide();

  // A window action, so that the shortcut works wherever the focus is and the shortcut list shows it.
  auto* find = new QAction(QStringLiteral("Find"), window);
  find->setToolTip(QStringLiteral("Filter the tree by words of the path"));
  find->setObjectName(QStringLiteral("FilterTree"));
  find->setShortcut(QKeySequence::Find);
  find->setShortcutContext(Qt::WindowShortcut);
  window->addAction(find);
  connect(find, &QAction::triggered, this, &TFilterLine::Open);
  connect(this, &QLineEdit::textChanged, this, &TFilterLine::Apply);
  connect(&model_, &TTreeModel::AddToSelection, this, [this](TVirtualNode* node) {
    current_ = node;
    currentGeneration_ = model_.Generation();
  });
  // Every reset of the rows (a new filter, the end of a loading) expands few matches and finds the
  // selected node again; the view has reset itself by then, being connected first.
  connect(&model_, &QAbstractItemModel::modelReset, this, &TFilterLine::Reshow);
  // Esc in the tree ends the filter as it does in the line.
  view_.installEventFilter(this);
}

bool TFilterLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &view_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier && (isVisible() || model_.Filtered())) {
    Close();
    return true;
  }
  return QLineEdit::eventFilter(watched, event);
}

void TFilterLine::Open() {
  show();
  setFocus(Qt::ShortcutFocusReason);
  selectAll();
}

void TFilterLine::Close() {
  clear();
  hide();
  view_.setFocus(Qt::OtherFocusReason);
}

std::size_t TFilterLine::Matches() const { return model_.Filtered() ? model_.FilterMatches() : 0; }

void TFilterLine::AddMenuAction(QAction* action) { menuActions_.append(action); }

void TFilterLine::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  bool separated = false;
  for (const QPointer<QAction>& action : menuActions_) {
    if (action.isNull()) continue;
    if (!separated) menu->addSeparator();
    separated = true;
    menu->addAction(action);
  }
  menu->exec(event->globalPos());
}

void TFilterLine::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      Close();
      return;
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      view_.setFocus(Qt::OtherFocusReason);
      return;
    default:
      QLineEdit::keyPressEvent(event);
  }
}

void TFilterLine::Apply(const QString& text) {
  TPathFilter next(text.toUtf8().toStdString());
  if (next.Empty()) {
    filter_ = TPathFilter();
    if (!model_.Filtered()) return;
    model_.SetFilter({});
    expanded_.Restore(model_, view_);
    ShowCurrent(true);
    return;
  }
  if (!model_.Filtered()) expanded_.Save(model_, view_);
  const bool narrowing = model_.Filtered() && next.Narrows(filter_);
  filter_ = std::move(next);
  // Files only: their folders show through them.
  model_.SetFilter([f = filter_](const TVirtualNode& node) { return node.data.isFile == 1 && f.Matches(node.data.fullName); },
                   narrowing);
}

void TTreeExpansion::Save(const TTreeModel& model, const QTreeView& view) {
  nodes_.clear();
  generation_ = model.Generation();
  std::vector<QModelIndex> stack;
  for (int r = model.rowCount() - 1; r >= 0; --r) stack.push_back(model.index(r, 0));
  while (!stack.empty()) {
    const QModelIndex idx = stack.back();
    stack.pop_back();
    if (!model.hasChildren(idx) || !view.isExpanded(idx)) continue;
    nodes_.push_back(TTreeModel::NodeOf(idx));
    for (int r = model.rowCount(idx) - 1; r >= 0; --r) stack.push_back(model.index(r, 0, idx));
  }
}

void TTreeExpansion::Restore(const TTreeModel& model, QTreeView& view) {
  if (generation_ == model.Generation()) {
    for (TVirtualNode* node : nodes_) {
      const QModelIndex idx = model.IndexOf(node);
      if (idx.isValid()) view.expand(idx);
    }
  }
  nodes_.clear();
}

void TFilterLine::Reshow() {
  if (model_.Filtered() && model_.FilterMatches() <= kExpandAtMost) view_.expandAll();
  ShowCurrent(model_.Filtered());
}

void TFilterLine::ShowCurrent(bool scroll) {
  if (current_ == nullptr || currentGeneration_ != model_.Generation() || !model_.IsShown(current_)) return;
  model_.SelectQuietly(&view_, current_);
  if (scroll) view_.scrollTo(model_.IndexOf(current_));
}

}  // namespace velmora
