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
}

void DestroyRootNodes() {
  RootNodes.reset();
  Tree = nullptr;
}

void AddNode(std::string_view fname) {
  if (!RootNodes || !Tree) return;
  if (!IsBlpExtension(ExtensionPart(fname))) return;
  TTreeModel& tree = *Tree;

  // Folder components: the directory split at every '\' (a colon stays inside its component);
  // n backslashes give n + 1 components, an empty directory none.
  static thread_local std::string folderPath;
  const std::string_view dir = DirectoryPart(fname);
  folderPath.resize(dir.size());
  std::transform(dir.begin(), dir.end(), folderPath.begin(), UpperAsciiChar);

  TNodeDict* level = RootNodes.get();
  TVirtualNode* parent = nullptr;
  if (!dir.empty()) {
    std::size_t begin = 0;
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
  data.name = StoreUpper(tree, FileNamePart(fname));
}

void ClearFileList() {
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
