// The file tree of the left pane: the data kept per tree node, the rule that turns an archive
// path into folder nodes plus one file node, the sort order, and the tree control's callbacks.
//
// Window wiring (the control is TTreeModel, ui/TreeModel.h):
//   auto* model = new TTreeModel(FileTreeEvents(), this);      // the tree control's data side
//   auto* view = new QTreeView(this);
//   model->AttachView(view);                                   // no header, uniform rows
//   connect(model, &TTreeModel::AddToSelection, this, &TForm1::VirtualStringTreeAddToSelection);
//   CreateRootNodes(*model);                                   // FormCreate
//   model->BeginUpdate();                                      // LoadMpqs
//   for (MpqHandle h : *MpqList) LoadListFile(h, AddNode);
//   model->SortTree(0, Qt::AscendingOrder);
//   model->EndUpdate();
//   ClearFileList(); DestroyRootNodes();                       // FormDestroy
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora {

class TTreeModel;
struct TVirtualNode;

// Upper-case name -> folder node of one level. Keys are views into the node names, which the
// tree control keeps until its Clear. Most folders hold a handful of subfolders, searched in
// place; past a few dozen an open-addressing table over the entries takes over.
class TNodeDict {
public:
  TVirtualNode* Find(std::string_view name) const;
  // Inserts or replaces.
  void Store(std::string_view name, TVirtualNode* node);
  std::size_t Count() const { return entries_.size(); }
  void Clear();

private:
  struct Entry {
    std::string_view name;
    TVirtualNode* node;
  };
  std::size_t Slot(std::string_view name, bool& found) const;
  void Rehash();

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_;  // entry index + 1; 0 = empty; unused while small
};

// The data of every tree node. The texts are views into text the tree control keeps for its
// nodes (TTreeModel::AllocText); they are released with the nodes.
struct TNodeData {
  std::uint8_t isFile = 0;           // 0 folder, 1 file
  std::string_view name;             // upper-cased (ASCII a-z only) component or file name
  std::string_view fullName;         // files: the archive path as added, bytes unchanged
  std::unique_ptr<TNodeDict> children;  // folders: their subfolders by name; files: none
};

// The dictionary of the tree's top level. Created with the tree it fills, destroyed with it.
extern std::unique_ptr<TNodeDict> RootNodes;

// Creates RootNodes for `tree`, the control AddNode adds to.
void CreateRootNodes(TTreeModel& tree);
// Destroys RootNodes; AddNode does nothing until the next CreateRootNodes.
void DestroyRootNodes();

// Adds one archive path: nothing unless its extension is ".BLP" in any letter case; otherwise
// one folder node per component of its directory (split at '\' only; empty components are
// folders with an empty name), found again by name at each level, and one file node. A folder
// component never takes a file node of the same name: the folder gets a node of its own, so
// every path stays reachable and a file node never has children. The hook of LoadListFile.
void AddNode(std::string_view fname);

// RootNodes.Clear(), FileIndex.Clear(), then the tree control's Clear, which frees every node
// through VirtualStringTreeFreeNode.
void ClearFileList();

// The tree control's callbacks.
void VirtualStringTreeGetNodeDataSize(TTreeModel& sender, std::size_t& nodeDataSize);
// The node's name decoded as UTF-8 (U+FFFD for each invalid sequence), whatever the column.
void VirtualStringTreeGetText(TTreeModel& sender, TVirtualNode* node, int column, QString& cellText);
// Folders before files; otherwise the names by character code after folding a-z to upper case,
// a proper prefix first.
void VirtualStringTreeCompareNodes(TTreeModel& sender, TVirtualNode* node1, TVirtualNode* node2,
                                   int column, int& result);
// Destroys the node's children dictionary (not the nodes in it) and drops its texts.
void VirtualStringTreeFreeNode(TTreeModel& sender, TVirtualNode* node);

struct TTreeEvents;
// The four callbacks above, for the TTreeModel of the file tree.
TTreeEvents FileTreeEvents();

}  // namespace velmora
