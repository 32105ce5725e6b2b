// The straightforward startup path the benchmark compares against: std::unordered_map from
// std::string key to a record of strings for the index, and per folder a std::map from name
// to node for the tree, nodes owned by their parent's child list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora::bench {

struct TBaselineRecord {
  std::uintptr_t mpqh = 0;
  std::string dir;
  std::string full_name;
};

struct TBaselineNode {
  std::uint8_t isFile = 0;
  std::string name;
  std::string fullName;
  std::map<std::string, TBaselineNode*> children;
  std::vector<std::unique_ptr<TBaselineNode>> childNodes;
};

class TBaselineStartup {
public:
  // Reads the archive's "(listfile)" into the index; new .blp paths go into the tree.
  void LoadListFile(std::uintptr_t mpqh);
  void SortTree();
  void Clear();
  std::size_t IndexCount() const { return index_.size(); }
  std::size_t NodeCount() const { return nodes_; }

private:
  void AddNode(std::string_view fname);

  std::unordered_map<std::string, TBaselineRecord> index_;
  TBaselineNode root_;
  std::size_t nodes_ = 0;
};

}  // namespace velmora::bench
