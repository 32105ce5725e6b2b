// The file tree: archive paths to folder and file nodes, the node order, the node callbacks.
#include "ui/FileTree.h"

#include <QPointer>

#include <algorithm>
#include <string>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "ui/TreeModel.h"

namespace velmora {

std::unique_ptr<TNodeDict> RootNodes;

namespace {

QPointer<TTreeModel> Tree;  // the control RootNodes belongs to

// Listfiles list neighbouring paths one after another, so the folder chain of the last path
// usually serves the next one: its components are reused as far as the upper-cased directories
// agree on whole components. Folder nodes are never removed or replaced before the tree's Clear,
// which the generation check catches.
struct TFolderChain {
  const TNodeDict* root = nullptr;
  const TTreeModel* tree = nullptr;
  std::uint64_t generation = 0;
  std::string folderPath;  // upper-cased directory of the last path
  struct Link {
    std::size_t end;  // where the component ends in folderPath (exclusive)
    TVirtualNode* node;
  };
  std::vector<Link> links;
};
TFolderChain LastChain;

bool IsBlpExtension(std::string_view ext) {
  return ext.size() == 4 && ext[0] == '.' && UpperAsciiChar(ext[1]) == 'B' &&
         UpperAsciiChar(ext[2]) == 'L' && UpperAsciiChar(ext[3]) == 'P';
}

// Upper-cased copy of `s` in the tree's node text.
std::string_view StoreUpper(TTreeModel& tree, std::string_view s) {
  if (s.empty()) return {};
  char* p = tree.AllocText(s.size());
  std::transform(s.begin(), s.end(), p, UpperAsciiChar);
  return {p, s.size()};
}

}  // namespace

void CreateRootNodes(TTreeModel& tree) {
  RootNodes = std::make_unique<TNodeDict>();
  Tree = &tree;
  LastChain = TFolderChain{};
}

void DestroyRootNodes() {
  RootNodes.reset();
  Tree = nullptr;
  LastChain = TFolderChain{};
}

void AddNode(std::string_view fname) {
  if (!RootNodes || !Tree) return;
  if (!IsBlpExtension(ExtensionPart(fname))) return;
  TTreeModel& tree = *Tree;

  // Folder components: the directory split at every '\' (a colon stays inside its component);
  // n backslashes give n + 1 components, an empty directory none.
  const std::string_view dir = DirectoryPart(fname);
  TFolderChain& chain = LastChain;
  if (chain.root != RootNodes.get() || chain.tree != &tree || chain.generation != tree.Generation()) {
    chain = TFolderChain{RootNodes.get(), &tree, tree.Generation(), {}, {}};
  }
  // The last path's components that end inside the common prefix, at a component end of this
  // directory too, are this directory's first components.
  std::size_t common = 0;
  const std::size_t limit = std::min(dir.size(), chain.folderPath.size());
  while (common < limit && UpperAsciiChar(dir[common]) == chain.folderPath[common]) ++common;
  // An empty directory has no components at all (not one empty one).
  std::size_t kept = 0;
  while (!dir.empty() && kept < chain.links.size() && chain.links[kept].end <= common &&
         (chain.links[kept].end == dir.size() || dir[chain.links[kept].end] == '\\')) {
    ++kept;
  }
  chain.links.resize(kept);
  chain.folderPath.resize(dir.size());
  std::transform(dir.begin() + static_cast<std::ptrdiff_t>(common), dir.end(),
                 chain.folderPath.begin() + static_cast<std::ptrdiff_t>(common), UpperAsciiChar);
  const std::string& folderPath = chain.folderPath;

  TVirtualNode* parent = kept ? chain.links.back().node : nullptr;
  TNodeDict* level = parent ? parent->data.children.get() : RootNodes.get();
  if (!dir.empty() && !(kept && chain.links.back().end == dir.size())) {
    std::size_t begin = kept ? chain.links.back().end + 1 : 0;
    for (;;) {
      const std::size_t end = std::min(folderPath.find('\\', begin), folderPath.size());
      const std::string_view c(folderPath.data() + begin, end - begin);
      TVirtualNode* node = level->Find(c);
      if (!node) {
        node = tree.AddChild(parent);
        TNodeData& data = node->data;
        data.isFile = 0;
        data.name = tree.StoreText(c);
        data.children = std::make_unique<TNodeDict>();
        level->Store(data.name, node);
      }
      chain.links.push_back(TFolderChain::Link{end, node});
      level = node->data.children.get();
      parent = node;
      if (end == folderPath.size()) break;
      begin = end + 1;
    }
  }

  // Each path reaches here once (the index reports only new keys). The file is not entered in
  // the level's dictionary: only folders are looked up there, so a folder named like a file
  // beside it keeps its own node.
  TVirtualNode* file = tree.AddChild(parent);
  TNodeData& data = file->data;
  data.isFile = 1;
  data.fullName = tree.StoreText(fname);
  // A file name without lower-case letters is its own label: the tail of the stored full name.
  const std::string_view label = FileNamePart(data.fullName);
  const bool upper = std::none_of(label.begin(), label.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  data.name = upper ? label : StoreUpper(tree, label);
}

void ClearFileList() {
  LastChain = TFolderChain{};
  if (RootNodes) RootNodes->Clear();
  if (FileIndex) FileIndex->Clear();
  if (Tree) Tree->Clear();
}

void VirtualStringTreeGetNodeDataSize(TTreeModel&, std::size_t& nodeDataSize) {
  nodeDataSize = sizeof(TNodeData);
}

void VirtualStringTreeGetText(TTreeModel&, TVirtualNode* node, int, QString& cellText) {
  const TNodeData* data = TTreeModel::GetNodeData(node);
  cellText = data ? QString::fromUtf8(data->name.data(), static_cast<qsizetype>(data->name.size())) : QString();
}

void VirtualStringTreeCompareNodes(TTreeModel&, TVirtualNode* node1, TVirtualNode* node2, int,
                                   int& result) {
  const TNodeData& a = node1->data;
  const TNodeData& b = node2->data;
  if (a.isFile != b.isFile) {
    result = a.isFile ? 1 : -1;
    return;
  }
  // Names are stored upper-cased, so bytes usually decide at the first mismatch; the fold
  // keeps the order right for names that were not.
  std::string_view x = a.name, y = b.name;
  for (;;) {
    const auto [px, py] = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
    if (px == x.end() || py == y.end()) {
      const std::size_t restX = static_cast<std::size_t>(x.end() - px);
      const std::size_t restY = static_cast<std::size_t>(y.end() - py);
      result = restX == restY ? 0 : (restX < restY ? -1 : 1);
      return;
    }
    const auto cx = static_cast<unsigned char>(UpperAsciiChar(*px));
    const auto cy = static_cast<unsigned char>(UpperAsciiChar(*py));
    if (cx != cy) {
      result = cx < cy ? -1 : 1;
      return;
    }
    x.remove_prefix(static_cast<std::size_t>(px - x.begin()) + 1);
    y.remove_prefix(static_cast<std::size_t>(py - y.begin()) + 1);
  }
}

void VirtualStringTreeFreeNode(TTreeModel&, TVirtualNode* node) {
  TNodeData* data = TTreeModel::GetNodeData(node);
  if (!data) return;
  data->children.reset();
  data->name = {};
  data->fullName = {};
}

TTreeEvents FileTreeEvents() {
  TTreeEvents events;
  events.OnGetNodeDataSize = VirtualStringTreeGetNodeDataSize;
  events.OnGetText = VirtualStringTreeGetText;
  events.OnCompareNodes = VirtualStringTreeCompareNodes;
  events.OnFreeNode = VirtualStringTreeFreeNode;
  return events;
}

}  // namespace velmora
