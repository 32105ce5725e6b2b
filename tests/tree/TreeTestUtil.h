// Helpers of the file tree tests: a tree model with the file tree's callbacks and RootNodes
// made for it, and a text dump of the tree.
#pragma once

#include <memory>
#include <string>

#include "archive/Zanth.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"

namespace velmora::test {

// Owns one file tree for a test: the model, RootNodes and the archive index.
class TFileTreeFixture {
public:
  explicit TFileTreeFixture(const TTreeEvents& events = FileTreeEvents())
      : model(std::make_unique<TTreeModel>(events)) {
    CreateArchiveIndex();
    CreateRootNodes(*model);
  }
  ~TFileTreeFixture() {
    ClearFileList();
    DestroyRootNodes();
    model.reset();
    FreeArchiveIndex();
  }
  std::unique_ptr<TTreeModel> model;
};

// One line per node in display order, indented two spaces per level: "D NAME" for folders,
// "F NAME <fullName>" for files; an empty name shows as "".
inline std::string DumpTree(const TTreeModel& model) {
  std::string out;
  // Explicit stack: the dump must survive trees as deep as the model does.
  std::vector<std::pair<const TVirtualNode*, int>> stack;
  for (std::size_t i = model.TopLevelCount(); i-- > 0;) stack.emplace_back(model.TopLevelNode(i), 0);
  while (!stack.empty()) {
    const auto [node, depth] = stack.back();
    stack.pop_back();
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    const TNodeData& d = node->data;
    out += d.isFile ? "F " : "D ";
    out += d.name.empty() ? std::string("\"\"") : std::string(d.name);
    if (d.isFile) out += " <" + std::string(d.fullName) + ">";
    out += '\n';
    for (std::size_t i = node->ChildCount(); i-- > 0;) stack.emplace_back(node->Child(i), depth + 1);
  }
  return out;
}

}  // namespace velmora::test
