// The data every node of the file tree carries, and the per-level dictionary that finds a folder
// node again by name. The item model (ui/TreeModel.h) stores this payload without reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora {

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
  // Hash slots looked at by all lookups so far: a measure of collisions that needs no clock.
  std::uint64_t ProbeCount() const { return probes_; }

private:
  struct Entry {
    std::string_view name;
    TVirtualNode* node;
  };
  std::size_t Slot(std::string_view name, bool& found) const;
  void Rehash();

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_;  // entry index + 1; 0 = empty; unused while small
  mutable std::uint64_t probes_ = 0;
};

// The data of every tree node. The texts are views into text the tree control keeps for its
// nodes (TTreeModel::AllocText); they are released with the nodes.
struct TNodeData {
  std::uint8_t isFile = 0;           // 0 folder, 1 file
  std::string_view name;             // upper-cased (ASCII a-z only) component or file name
  std::string_view fullName;         // files: the archive path as added, bytes unchanged
  std::unique_ptr<TNodeDict> children;  // folders: their subfolders by name; files: none
};

}  // namespace velmora
