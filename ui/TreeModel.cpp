// The virtual tree control: chunked node storage, per-level child lists, callbacks for text,
// order and freeing, and the Qt item-model face a QTreeView reads from.
#include "ui/TreeModel.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velmora {

namespace {

// Nodes come in chunks so that their addresses never move and Clear frees a few blocks.
constexpr std::size_t kNodesPerChunk = 4096;
// Node texts are packed into blocks; a text larger than a quarter block gets its own.
constexpr std::size_t kTextBlock = 1 << 20;

std::atomic<std::uint64_t> NextGeneration{1};

// The serial fills what was padding after the row: a node's size stays put.
static_assert(sizeof(TVirtualNode) <= 72, "a tree node grew");

}  // namespace

TTreeModel::TTreeModel(const TTreeEvents& events, QObject* parent)
    : QAbstractItemModel(parent), events_(events), generation_(NextGeneration++) {
  std::size_t size = 0;
  if (events_.OnGetNodeDataSize) events_.OnGetNodeDataSize(*this, size);
  if (size != sizeof(TNodeData)) {
    throw std::logic_error("tree node data size " + std::to_string(size) + " (this control stores " +
                           std::to_string(sizeof(TNodeData)) + ")");
  }
}

TTreeModel::~TTreeModel() { FreeAll(); }

TVirtualNode* TTreeModel::NewNode() {
  const std::size_t chunk = used_ / kNodesPerChunk;
  if (chunk == chunks_.size()) chunks_.push_back(std::make_unique<TVirtualNode[]>(kNodesPerChunk));
  TVirtualNode* node = &chunks_[chunk][used_ % kNodesPerChunk];
  node->serial = static_cast<std::uint32_t>(used_);
  ++used_;
  return node;
}

TVirtualNode* TTreeModel::AddChild(TVirtualNode* parent) {
  TVirtualNode& owner = parent ? *parent : root_;
  if (!owner.childNodes) owner.childNodes = std::make_unique<std::vector<TVirtualNode*>>();
  const int row = static_cast<int>(owner.childNodes->size());
  // Under a filter the new node has no row yet (it is hidden until the filter is applied again).
  const bool announce = updateCount_ == 0 && !filter_;
  if (announce) beginInsertRows(IndexOf(parent), row, row);
  TVirtualNode* node = NewNode();
  node->parent = parent;
  node->index = static_cast<std::uint32_t>(row);
  owner.childNodes->push_back(node);
  if (announce) endInsertRows();
  return node;
}

void TTreeModel::SortTree(int column, Qt::SortOrder order) {
  const bool announce = updateCount_ == 0;
  if (announce) emit layoutAboutToBeChanged();
  const QModelIndexList before = announce ? persistentIndexList() : QModelIndexList();

  auto compare = events_.OnCompareNodes;
  auto sortLevel = [&](TVirtualNode& owner) {
    if (!owner.childNodes) return;
    auto& nodes = *owner.childNodes;
    if (nodes.size() > 1 && compare) {
      std::stable_sort(nodes.begin(), nodes.end(), [&](TVirtualNode* a, TVirtualNode* b) {
        int result = 0;
        compare(*this, a, b, column, result);
        return order == Qt::AscendingOrder ? result < 0 : result > 0;
      });
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i]->index = static_cast<std::uint32_t>(i);
  };
  sortLevel(root_);
  for (std::size_t i = 0; i < used_; ++i) sortLevel(chunks_[i / kNodesPerChunk][i % kNodesPerChunk]);
  // The shown rows follow the new order (inside a bracket, EndUpdate applies the filter).
  if (filter_ && updateCount_ == 0) ApplyFilter(false);

  if (announce) {
    // Persistent indexes (selection, current item) follow their nodes to the new rows.
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before) {
      TVirtualNode* node = NodeOf(idx);
      if (filter_) {
        after.push_back(node ? IndexOf(node) : QModelIndex());
        continue;
      }
      after.push_back(node ? createIndex(static_cast<int>(node->index), idx.column(), node) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
  }
}

void TTreeModel::BeginUpdate() {
  if (updateCount_++ > 0) return;
  for (const auto& view : views_) {
    if (view) view->setUpdatesEnabled(false);
  }
  beginResetModel();
}

void TTreeModel::EndUpdate() {
  if (updateCount_ == 0 || --updateCount_ > 0) return;
  if (filter_) ApplyFilter(false);
  endResetModel();
  for (const auto& view : views_) {
    if (view) view->setUpdatesEnabled(true);
  }
}

void TTreeModel::Clear() {
  const bool announce = updateCount_ == 0;
  if (announce) beginResetModel();
  FreeAll();
  if (announce) endResetModel();
}

void TTreeModel::FreeAll() {
  // Linear over the chunks, so a path of any depth frees in constant stack.
  if (events_.OnFreeNode) {
    for (std::size_t i = 0; i < used_; ++i) events_.OnFreeNode(*this, &chunks_[i / kNodesPerChunk][i % kNodesPerChunk]);
  }
  root_.childNodes.reset();
  chunks_.clear();
  chunks_.shrink_to_fit();
  used_ = 0;
  texts_.clear();
  texts_.shrink_to_fit();
  textFree_ = nullptr;
  textLeft_ = 0;
  generation_ = NextGeneration++;
  if (filter_) ResetFilterLists();
}

char* TTreeModel::AllocText(std::size_t size) {
  if (size > kTextBlock / 4) {
    texts_.push_back(std::make_unique_for_overwrite<char[]>(size));
    return texts_.back().get();
  }
  if (size > textLeft_) {
    texts_.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
    textFree_ = texts_.back().get();
    textLeft_ = kTextBlock;
  }
  char* p = textFree_;
  textFree_ += size;
  textLeft_ -= size;
  return p;
}

std::string_view TTreeModel::StoreText(std::string_view text) {
  if (text.empty()) return {};
  char* p = AllocText(text.size());
  std::memcpy(p, text.data(), text.size());
  return {p, text.size()};
}

void TTreeModel::AttachView(QAbstractItemView* view) {
  if (!view) return;
  view->setModel(this);
  if (auto* tree = qobject_cast<QTreeView*>(view)) {
    tree->setHeaderHidden(true);
    tree->setUniformRowHeights(true);
  }
  views_.push_back(view);
  if (updateCount_ > 0) view->setUpdatesEnabled(false);
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) { SelectionGained(selected); });
}

void TTreeModel::SelectionGained(const QItemSelection& selected) {
  if (quiet_) return;
  for (const QModelIndex& idx : selected.indexes()) {
    if (TVirtualNode* node = NodeOf(idx)) emit AddToSelection(node);
  }
}

QModelIndex TTreeModel::IndexOf(TVirtualNode* node) const {
  if (!node) return {};
  if (!filter_) return createIndex(static_cast<int>(node->index), 0, node);
  const std::uint32_t row = node->serial < rows_.size() ? rows_[node->serial] : kHidden;
  return row == kHidden ? QModelIndex() : createIndex(static_cast<int>(row), 0, node);
}

TVirtualNode* TTreeModel::NodeOf(const QModelIndex& index) {
  return index.isValid() ? static_cast<TVirtualNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || parent.column() > 0) return {};
  const TVirtualNode* owner = parent.isValid() ? NodeOf(parent) : &root_;
  const auto r = static_cast<std::size_t>(row);
  if (r >= ShownChildCount(*owner)) return {};
  if (!filter_) return createIndex(row, 0, owner->Child(r));
  const std::uint32_t first = owner == &root_ ? rootFirst_ : firsts_[owner->serial];
  return createIndex(row, 0, NodeAt(kids_[first + 1 + r]));
}

QModelIndex TTreeModel::parent(const QModelIndex& child) const {
  const TVirtualNode* node = NodeOf(child);
  return node ? IndexOf(node->parent) : QModelIndex();
}

int TTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const TVirtualNode* owner = parent.isValid() ? NodeOf(parent) : &root_;
  return static_cast<int>(ShownChildCount(*owner));
}

int TTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant TTreeModel::data(const QModelIndex& index, int role) const {
  TVirtualNode* node = NodeOf(index);
  if (node && role == Qt::ToolTipRole && OnGetHint) {
    const QString hint = OnGetHint(*node);
    return hint.isEmpty() ? QVariant() : QVariant(hint);
  }
  if (!node || role != Qt::DisplayRole || !events_.OnGetText) return {};
  QString text;
  events_.OnGetText(*const_cast<TTreeModel*>(this), node, index.column(), text);
  return text;
}

Qt::ItemFlags TTreeModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant TTreeModel::headerData(int, Qt::Orientation, int) const { return {}; }

TVirtualNode* TTreeModel::NodeAt(std::uint32_t serial) const {
  return &chunks_[serial / kNodesPerChunk][serial % kNodesPerChunk];
}

std::size_t TTreeModel::ShownChildCount(const TVirtualNode& owner) const {
  if (!filter_) return owner.ChildCount();
  if (&owner == &root_) return kids_[rootFirst_];
  if (!owner.childNodes || owner.serial >= rows_.size() || rows_[owner.serial] == kHidden) return 0;
  return kids_[firsts_[owner.serial]];
}

bool TTreeModel::IsShown(const TVirtualNode* node) const {
  if (!node) return false;
  if (!filter_) return true;
  return node->serial < rows_.size() && rows_[node->serial] != kHidden;
}

std::size_t TTreeModel::FilterBytes() const {
  return (rows_.capacity() + firsts_.capacity() + kids_.capacity() + accepted_.capacity()) * sizeof(std::uint32_t);
}

void TTreeModel::ResetFilterLists() {
  rows_.clear();
  firsts_.clear();
  kids_.assign(1, 0);  // the top level, with no row
  rootFirst_ = 0;
  accepted_.clear();
}

std::size_t TTreeModel::SetFilter(TNodeFilter accept, bool narrowing) {
  if (!accept && !filter_) return 0;
  const bool announce = updateCount_ == 0;
  if (announce) beginResetModel();
  const bool wasFiltered = static_cast<bool>(filter_);
  filter_ = std::move(accept);
  if (filter_) {
    ApplyFilter(narrowing && wasFiltered);
  } else {
    // Back to every node: the lists go, memory included.
    std::vector<std::uint32_t>().swap(rows_);
    std::vector<std::uint32_t>().swap(firsts_);
    std::vector<std::uint32_t>().swap(kids_);
    std::vector<std::uint32_t>().swap(accepted_);
    rootFirst_ = 0;
  }
  if (announce) endResetModel();
  return accepted_.size();
}

void TTreeModel::ApplyFilter(bool narrowing) {
  const auto count = static_cast<std::uint32_t>(used_);
  // The accepted nodes: when narrowing, only those accepted before can be.
  std::vector<std::uint32_t> accepted;
  if (narrowing) {
    for (const std::uint32_t s : accepted_) {
      if (s < count && filter_(*NodeAt(s))) accepted.push_back(s);
    }
  } else {
    for (std::uint32_t s = 0; s < count; ++s) {
      if (filter_(*NodeAt(s))) accepted.push_back(s);
    }
  }
  accepted_.swap(accepted);

  // Shown: the accepted nodes and every folder above them (each walk stops at a folder marked
  // before, so this is linear in the nodes).
  rows_.assign(count, kHidden);
  firsts_.resize(count);
  for (const std::uint32_t s : accepted_) {
    for (const TVirtualNode* n = NodeAt(s); n != nullptr && rows_[n->serial] == kHidden; n = n->parent) rows_[n->serial] = 0;
  }

  // Each shown parent's shown children, in the level's order; their rows are their places there.
  kids_.clear();
  auto list = [this](const TVirtualNode& owner) {
    const auto first = static_cast<std::uint32_t>(kids_.size());
    kids_.push_back(0);
    std::uint32_t row = 0;
    if (owner.childNodes) {
      for (const TVirtualNode* c : *owner.childNodes) {
        if (rows_[c->serial] == kHidden) continue;
        rows_[c->serial] = row++;
        kids_.push_back(c->serial);
      }
    }
    kids_[first] = row;
    return first;
  };
  rootFirst_ = list(root_);
  for (std::uint32_t s = 0; s < count; ++s) {
    const TVirtualNode* n = NodeAt(s);
    if (rows_[s] != kHidden && n->childNodes) firsts_[s] = list(*n);
  }
}

void TTreeModel::SelectQuietly(QAbstractItemView* view, TVirtualNode* node) {
  if (!view || !view->selectionModel()) return;
  const QModelIndex idx = IndexOf(node);
  if (!idx.isValid()) return;
  quiet_ = true;
  view->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
  quiet_ = false;
}

}  // namespace velmora
