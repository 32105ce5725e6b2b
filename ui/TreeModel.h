// The virtual tree control of the left pane, as a Qt item model: nodes with their TNodeData
// and nothing else, shown by a QTreeView through one unnamed column. Text, order and freeing
// come from callbacks, so the control knows nothing of what the nodes mean.
#pragma once

#include <QAbstractItemModel>
#include <QItemSelection>
#include <QList>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ui/NodeData.h"

class QAbstractItemView;

namespace velmora {

class TTreeModel;

// One node. Owned by the control; its address stays valid until the control's Clear.
// Kept small (72 bytes on 64-bit): a client's file list makes a few hundred thousand of them.
struct TVirtualNode {
  TVirtualNode* parent = nullptr;  // null for top-level nodes
  // The children in display order; made by the first AddChild under this node, so that the
  // many leaves carry no list of their own.
  std::unique_ptr<std::vector<TVirtualNode*>> childNodes;
  std::uint32_t index = 0;  // row among the parent's children
  std::uint32_t serial = 0;  // place in the control's storage, where the filter keeps its marks
  TNodeData data;

  std::size_t ChildCount() const { return childNodes ? childNodes->size() : 0; }
  TVirtualNode* Child(std::size_t i) const { return (*childNodes)[i]; }
};

// The callbacks the control calls; each gets the control as its sender.
struct TTreeEvents {
  void (*OnGetNodeDataSize)(TTreeModel& sender, std::size_t& nodeDataSize) = nullptr;
  void (*OnGetText)(TTreeModel& sender, TVirtualNode* node, int column, QString& cellText) = nullptr;
  void (*OnCompareNodes)(TTreeModel& sender, TVirtualNode* node1, TVirtualNode* node2, int column,
                         int& result) = nullptr;
  void (*OnFreeNode)(TTreeModel& sender, TVirtualNode* node) = nullptr;
};

class TTreeModel : public QAbstractItemModel {
  Q_OBJECT

public:
  // Throws std::logic_error when OnGetNodeDataSize announces a size other than TNodeData's.
  explicit TTreeModel(const TTreeEvents& events, QObject* parent = nullptr);
  ~TTreeModel() override;  // frees the remaining nodes as Clear does

  // Appends a node with default node data under `parent`, or at the top level for null.
  TVirtualNode* AddChild(TVirtualNode* parent);
  static TNodeData* GetNodeData(TVirtualNode* node) { return node ? &node->data : nullptr; }
  // Sorts every level by OnCompareNodes (stable), in `column`.
  void SortTree(int column, Qt::SortOrder order);
  // Brackets bulk changes: views are neither told of single nodes nor repainted until the
  // outermost EndUpdate, which resets them once.
  void BeginUpdate();
  void EndUpdate();
  // Calls OnFreeNode for every node, then deletes them all and the texts of AllocText.
  // Iterative: no recursion whose depth the data controls.
  void Clear();

  // Room for `size` bytes of node text, valid until Clear.
  char* AllocText(std::size_t size);
  std::string_view StoreText(std::string_view text);

  std::size_t NodeCount() const { return used_; }
  std::size_t TopLevelCount() const { return root_.ChildCount(); }
  // Null when i is out of range.
  TVirtualNode* TopLevelNode(std::size_t i) const { return i < root_.ChildCount() ? root_.Child(i) : nullptr; }
  // Changes with every Clear and differs between models, so that callers caching nodes can
  // tell theirs are gone.
  std::uint64_t Generation() const { return generation_; }

  // Filtering. A node shows when `accept` takes it or when it holds a node that shows; every level
  // keeps its order. `narrowing` promises that `accept` takes no node the current filter refuses,
  // so only the nodes accepted now are asked again. An empty `accept` shows every node again and
  // releases the filter's memory. Views are reset once (inside an update bracket, at its end,
  // which also applies the filter to the nodes added meanwhile; a node added outside a bracket
  // stays hidden until the filter is set again). Returns the number of accepted nodes.
  using TNodeFilter = std::function<bool(const TVirtualNode& node)>;
  std::size_t SetFilter(TNodeFilter accept, bool narrowing = false);
  bool Filtered() const { return static_cast<bool>(filter_); }
  std::size_t FilterMatches() const { return accepted_.size(); }
  // True when `node` has a row in the views: always without a filter.
  bool IsShown(const TVirtualNode* node) const;
  // Bytes the filter's marks and lists hold now.
  std::size_t FilterBytes() const;
  // Makes `node` the current, selected item of `view` without AddToSelection: for a node that is
  // shown already, found again after the rows changed.
  void SelectQuietly(QAbstractItemView* view, TVirtualNode* node);

  // The hint (tooltip) of a node, asked when the view shows one; empty for none. Unset, nodes
  // have no hint.
  std::function<QString(const TVirtualNode& node)> OnGetHint;

  // Shows this model in `view`: sets the model, hides a tree view's header, gives it uniform
  // row heights (so a folder of 100,000 files expands without measuring each row) and emits
  // AddToSelection for every node its selection gains, by mouse or keyboard.
  void AttachView(QAbstractItemView* view);

  QModelIndex IndexOf(TVirtualNode* node) const;
  static TVirtualNode* NodeOf(const QModelIndex& index);

  // QAbstractItemModel
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The one column has no name.
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
  // A node was added to an attached view's selection: the window's
  // VirtualStringTreeAddToSelection.
  void AddToSelection(velmora::TVirtualNode* node);

private:
  void SelectionGained(const QItemSelection& selected);
  TVirtualNode* NewNode();
  void FreeAll();
  TVirtualNode* NodeAt(std::uint32_t serial) const;
  void ApplyFilter(bool narrowing);
  void ResetFilterLists();
  std::size_t ShownChildCount(const TVirtualNode& owner) const;

  TTreeEvents events_;
  TVirtualNode root_;  // the invisible parent of the top level
  std::vector<std::unique_ptr<TVirtualNode[]>> chunks_;
  std::size_t used_ = 0;  // nodes handed out, chunks filled in order
  std::vector<std::unique_ptr<char[]>> texts_;
  char* textFree_ = nullptr;
  std::size_t textLeft_ = 0;
  int updateCount_ = 0;
  std::uint64_t generation_;
  QList<QPointer<QAbstractItemView>> views_;

  // The filter: for every node by serial its row among its parent's shown children (kHidden when
  // it does not show) and where its shown children are listed; the lists hold a count followed by
  // the children's serials. Empty without a filter.
  static constexpr std::uint32_t kHidden = 0xFFFFFFFFu;
  TNodeFilter filter_;
  std::vector<std::uint32_t> rows_;
  std::vector<std::uint32_t> firsts_;
  std::vector<std::uint32_t> kids_;
  std::uint32_t rootFirst_ = 0;
  std::vector<std::uint32_t> accepted_;  // serials of the accepted nodes
  bool quiet_ = false;                   // SelectQuietly is at work
};

}  // namespace velmora

Q_DECLARE_METATYPE(velmora::TVirtualNode*)
