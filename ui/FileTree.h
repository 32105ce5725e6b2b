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
#include <memory>
#include <string_view>

#include "ui/NodeData.h"

namespace velmora {

class TTreeModel;
struct TVirtualNode;

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
