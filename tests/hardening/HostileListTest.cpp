// Listfiles made to hurt: ingestion through LoadListFile into the index and, through AddNode,
// into the tree, then the sort and the clear the window does. The work has to stay linear in
// the listfile: here that shows as counts (hook calls, keys, nodes) that follow the distinct
// paths and components, not the lines times anything; bench/hostile times the same lists.
// Depth of a path never turns into depth of the stack.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HardeningSupport.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "ui/FileTree.h"
#include "ui/NodeData.h"
#include "ui/TreeModel.h"

namespace velmora::test {
namespace {

struct Counts {
  std::size_t hookCalls = 0;
  std::size_t hookBytes = 0;
  std::size_t keys = 0;
  std::size_t nodes = 0;
  std::size_t topLevel = 0;
  std::size_t afterClear = 0;  // nodes, keys and root entries left by ClearFileList
};

// The window's loading and closing, for one archive whose listfile is `text`.
Counts Ingest(const std::string& text) {
  Counts c;
  ScratchArchive archive({}, text);
  EXPECT_NE(archive.handle(), 0u);
  {
    auto tree = std::make_unique<TTreeModel>(FileTreeEvents());
    CreateRootNodes(*tree);
    tree->BeginUpdate();
    EXPECT_TRUE(LoadListFile(archive.handle(), [&c](std::string_view path) {
      ++c.hookCalls;
      c.hookBytes += path.size();
      AddNode(path);
    }));
    tree->SortTree(0, Qt::AscendingOrder);
    tree->EndUpdate();
    c.keys = FileIndex->Count();
    c.nodes = tree->NodeCount();
    c.topLevel = tree->TopLevelCount();
    ClearFileList();
    c.afterClear = tree->NodeCount() + FileIndex->Count() + RootNodes->Count();
    DestroyRootNodes();
  }
  return c;
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// "c0\c1\...\c<n-1>" under the top folder `top`.
std::string DeepFolder(const std::string& top, std::size_t components) {
  std::string out = top;
  for (std::size_t i = 1; i < components; ++i) out += "\\c" + std::to_string(i);
  return out;
}

struct HostileRow {
  const char* fault;
  std::string (*text)();
  Counts expected;  // afterClear always 0
};

void PrintTo(const HostileRow& row, std::ostream* os) { *os << row.fault; }

const HostileRow kRows[] = {
    {"million_identical_lines_make_one_key_and_one_chain",
     [] { return Repeat("Textures\\Same\\file.blp\r\n", 1000000); },
     {1, 22, 1, 3, 1, 0}},
    {"million_identical_lines_in_changing_case_make_one_key",
     [] { return Repeat("Textures\\Same\\file.blp\ntEXTURES\\sAME\\FILE.BLP\n", 500000); },
     {1, 22, 1, 3, 1, 0}},
    {"one_10_mb_line_makes_one_key_and_one_file",
     [] { return std::string(10 << 20, 'x') + ".blp"; },
     {1, (10 << 20) + 4, 1, 1, 1, 0}},
    {"one_10_mb_line_of_blanks_around_a_path_is_trimmed",
     [] { return std::string(5 << 20, ' ') + "a\\b.blp" + std::string(5 << 20, '\t'); },
     {1, 7, 1, 2, 1, 0}},
    {"10_mb_of_crlf_only_makes_the_empty_key_once", [] { return Repeat("\r\n", 5 << 20); }, {1, 0, 1, 0, 0, 0}},
    {"10_mb_of_mixed_line_breaks_makes_the_empty_key_once",
     [] { return Repeat("\n\r\r\n\r", 2 << 20); },
     {1, 0, 1, 0, 0, 0}},
    {"10_mb_of_path_separators_without_extension_adds_no_node",
     [] { return Repeat("\\:", 5 << 20); },
     {1, 10 << 20, 1, 0, 0, 0}},
    {"path_of_10000_components_makes_10000_folders",
     [] { return DeepFolder("c0", 10000) + "\\f.blp\r\n"; },
     {1, DeepFolder("c0", 10000).size() + 6, 1, 10001, 1, 0}},
    // Each further file in the deepest folder adds one node: no folder is made again.
    {"hundred_files_in_a_10000_deep_folder_add_one_node_each",
     [] {
       std::string s;
       for (int i = 0; i < 100; ++i) s += DeepFolder("c0", 10000) + "\\f" + std::to_string(i) + ".blp\r\n";
       return s;
     },
     {100, 100 * (DeepFolder("c0", 10000).size() + 6) + 10 * 1 + 90 * 2, 100, 10100, 1, 0}},
    // Two deep paths in turn share nothing from one line to the next.
    {"alternating_10000_deep_paths_make_each_folder_once",
     [] {
       std::string s;
       for (int i = 0; i < 100; ++i) {
         s += DeepFolder("a", 10000) + "\\f" + std::to_string(i) + ".blp\n";
         s += DeepFolder("b", 10000) + "\\f" + std::to_string(i) + ".blp\n";
       }
       return s;
     },
     {200, 200 * (DeepFolder("a", 10000).size() + 6) + 2 * (10 * 1 + 90 * 2), 200, 20200, 2, 0}},
};

class HostileListFile : public ::testing::TestWithParam<HostileRow> {};

TEST_P(HostileListFile, CountsFollowTheDistinctPaths) {
  const HostileRow& row = GetParam();
  const Counts c = Ingest(row.text());
  EXPECT_EQ(c.hookCalls, row.expected.hookCalls);
  EXPECT_EQ(c.hookBytes, row.expected.hookBytes);
  EXPECT_EQ(c.keys, row.expected.keys);
  EXPECT_EQ(c.nodes, row.expected.nodes);
  EXPECT_EQ(c.topLevel, row.expected.topLevel);
  EXPECT_EQ(c.afterClear, 0u);
}

INSTANTIATE_TEST_SUITE_P(Lists, HostileListFile, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.fault); });

// 100,000 backslashes: 100,001 nested folders built, sorted, cleared and destroyed on a stack
// of 512 KiB, far less than one frame per level would take.
TEST(HostileListFile, path_of_100000_backslashes_needs_no_stack_per_level) {
  Counts c;
  RunOnSmallStack(512 * 1024, [&c] { c = Ingest(std::string(100000, '\\') + "deep.blp\r\n"); });
  EXPECT_EQ(c.hookCalls, 1u);
  EXPECT_EQ(c.nodes, 100002u);
  EXPECT_EQ(c.topLevel, 1u);
  EXPECT_EQ(c.afterClear, 0u);
}

// The unkeyed hashes the index and the tree's levels used before: anyone could make keys that
// share their home slot, and every insert then walks the cluster (30,000 such lines took 4.8 s).
std::uint64_t UnkeyedIndexHash(std::string_view s) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = s.size() * kMul;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, s.data() + i, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  if (i < s.size()) {
    std::uint64_t tail = 0;
    std::memcpy(&tail, s.data() + i, s.size() - i);
    h = (h ^ tail) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  return h ^ (h >> 32);
}

std::uint64_t UnkeyedNameHash(std::string_view s) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h ^ (h >> 29);
}

// `count` names made from `pattern` + a number, kept when `slot` of their unkeyed hash is 0; or
// every one when `slot` is null (the random input of the same shape).
std::vector<std::string> Names(std::size_t count, const char* pattern, std::uint64_t (*slot)(std::string_view)) {
  std::vector<std::string> names;
  for (std::uint64_t n = 0; names.size() < count; ++n) {
    std::string name = pattern + std::to_string(n) + ".BLP";
    if (slot == nullptr || slot(name) == 0) names.push_back(std::move(name));
  }
  return names;
}

constexpr std::size_t kColliding = 1000;

// Keys that shared one home slot under the unkeyed hash cost no more probes than keys of the
// same shape that did not.
TEST(HostileKeys, index_keys_made_to_collide_cost_what_random_keys_cost) {
  // The home slot was the hash's top bits: 13 equal bits put them in one slot of any table the
  // index makes for them.
  const auto top13 = [](std::string_view k) { return UnkeyedIndexHash(k) >> 51; };
  const auto probes = [](const std::vector<std::string>& keys) {
    TFileIndex index;
    for (const std::string& k : keys) index.Store(k, TFileMpqRec{1, {}, k});
    for (const std::string& k : keys) EXPECT_NE(index.Find(k), nullptr);
    return index.ProbeCount();
  };
  const std::uint64_t colliding = probes(Names(kColliding, "TEXTURES\\X", +top13));
  const std::uint64_t random = probes(Names(kColliding, "TEXTURES\\X", nullptr));
  EXPECT_LT(colliding, 3 * random) << "colliding " << colliding << ", random " << random;
}

TEST(HostileKeys, folder_names_made_to_collide_cost_what_random_names_cost) {
  // A level's table took the hash's low bits: 12 equal bits put them in one slot of the table
  // a level of this many folders gets.
  const auto low12 = [](std::string_view k) { return UnkeyedNameHash(k) & 0xFFF; };
  const auto probes = [](const std::vector<std::string>& names) {
    std::vector<TVirtualNode> nodes(names.size());
    TNodeDict dict;
    for (std::size_t i = 0; i < names.size(); ++i) dict.Store(names[i], &nodes[i]);
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(dict.Find(names[i]), &nodes[i]);
    return dict.ProbeCount();
  };
  const std::uint64_t colliding = probes(Names(kColliding, "F", +low12));
  const std::uint64_t random = probes(Names(kColliding, "F", nullptr));
  EXPECT_LT(colliding, 3 * random) << "colliding " << colliding << ", random " << random;
}

}  // namespace
}  // namespace velmora::test
