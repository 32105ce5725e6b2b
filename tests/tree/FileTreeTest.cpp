// The file tree: paths to folder and file nodes, the node order, freeing, and the listfile
// ingestion of real archives feeding it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TreeTestUtil.h"
#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "support/MpqWriter.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"

namespace velmora {
namespace {

using test::DumpTree;
using test::TFileTreeFixture;

struct PathRow {
  const char* fault;
  std::vector<std::string> paths;
  bool sort;
  std::string tree;  // DumpTree after adding (and sorting, when asked)
};

// Rows print by name in test listings.
void PrintTo(const PathRow& row, std::ostream* os) { *os << row.fault; }

class AddNodePaths : public ::testing::TestWithParam<PathRow> {};

TEST_P(AddNodePaths, builds_expected_tree) {
  TFileTreeFixture f;
  for (const std::string& p : GetParam().paths) AddNode(p);
  if (GetParam().sort) f.model->SortTree(0, Qt::AscendingOrder);
  EXPECT_EQ(DumpTree(*f.model), GetParam().tree);
}

const PathRow kPathRows[] = {
    {"folders_and_file_node_with_full_name_in_listfile_case",
     {"Textures\\Minimap\\map01.blp"},
     false,
     "D TEXTURES\n  D MINIMAP\n    F MAP01.BLP <Textures\\Minimap\\map01.blp>\n"},
    {"second_path_reuses_folder_in_other_case",
     {"Textures\\Minimap\\map01.blp", "textures\\other.blp"},
     false,
     "D TEXTURES\n  D MINIMAP\n    F MAP01.BLP <Textures\\Minimap\\map01.blp>\n"
     "  F OTHER.BLP <textures\\other.blp>\n"},
    {"mixed_case_extension_is_blp_and_other_extensions_add_nothing",
     {"a.Blp", "readme.txt", "b.blpx", "c.bl", "blp", "d.BLP"},
     false,
     "F A.BLP <a.Blp>\nF D.BLP <d.BLP>\n"},
    {"doubled_backslash_gives_two_empty_folders_before_file",
     {"a\\\\b.blp"},
     false,
     "D A\n  D \"\"\n    D \"\"\n      F B.BLP <a\\\\b.blp>\n"},
    {"doubled_backslash_further_up_gives_one_empty_folder",
     {"a\\\\b\\c.blp"},
     false,
     "D A\n  D \"\"\n    D B\n      F C.BLP <a\\\\b\\c.blp>\n"},
    {"leading_backslash_gives_two_empty_folders",
     {"\\a.blp"},
     false,
     "D \"\"\n  D \"\"\n    F A.BLP <\\a.blp>\n"},
    {"colon_separates_file_but_stays_in_folder_name",
     {"a:b.blp", "a:c.blp", "x\\y:z.blp"},
     false,
     "D A:\n  F B.BLP <a:b.blp>\n  F C.BLP <a:c.blp>\nD X\n  D Y:\n    F Z.BLP <x\\y:z.blp>\n"},
    {"slash_is_no_separator",
     {"textures/a.blp"},
     false,
     "F TEXTURES/A.BLP <textures/a.blp>\n"},
    {"trailing_backslash_has_no_extension",
     {"a.blp\\"},
     false,
     ""},
    {"underscore_sorts_after_letters",
     {"A_B.blp", "AB.blp"},
     true,
     "F AB.BLP <AB.blp>\nF A_B.BLP <A_B.blp>\n"},
    {"digits_and_dot_sort_before_letters_and_prefix_first",
     {"ab.blp", "a_.blp", "aa.blp", "a1.blp", "a.blp", "a0.blp"},
     true,
     "F A.BLP <a.blp>\nF A0.BLP <a0.blp>\nF A1.BLP <a1.blp>\nF AA.BLP <aa.blp>\n"
     "F AB.BLP <ab.blp>\nF A_.BLP <a_.blp>\n"},
    {"folders_before_files",
     {"alpha.blp", "zebra\\x.blp"},
     true,
     "D ZEBRA\n  F X.BLP <zebra\\x.blp>\nF ALPHA.BLP <alpha.blp>\n"},
    {"every_level_is_sorted",
     {"b\\z.blp", "b\\a.blp", "a\\y\\2.blp", "a\\y\\10.blp", "a\\x.blp", "a\\_\\q.blp"},
     true,
     "D A\n  D Y\n    F 10.BLP <a\\y\\10.blp>\n    F 2.BLP <a\\y\\2.blp>\n  D _\n"
     "    F Q.BLP <a\\_\\q.blp>\n  F X.BLP <a\\x.blp>\n"
     "D B\n  F A.BLP <b\\a.blp>\n  F Z.BLP <b\\z.blp>\n"},
    {"shorter_folder_name_first",
     {"ab\\x.blp", "a\\x.blp", "\\x.blp"},
     true,
     "D \"\"\n  D \"\"\n    F X.BLP <\\x.blp>\nD A\n  F X.BLP <a\\x.blp>\nD AB\n  F X.BLP <ab\\x.blp>\n"},
    // A folder named like a file beside it gets a node of its own, in either order, and is
    // found again by later paths; the file node keeps no children.
    {"folder_named_like_existing_file_gets_own_node",
     {"x.blp", "x.blp\\y.blp", "X.BLP\\z.blp"},
     true,
     "D X.BLP\n  F Y.BLP <x.blp\\y.blp>\n  F Z.BLP <X.BLP\\z.blp>\nF X.BLP <x.blp>\n"},
    {"file_named_like_existing_folder_keeps_folder_reachable",
     {"x.blp\\y.blp", "x.blp", "x.blp\\z.blp"},
     true,
     "D X.BLP\n  F Y.BLP <x.blp\\y.blp>\n  F Z.BLP <x.blp\\z.blp>\nF X.BLP <x.blp>\n"},
    {"only_ascii_letters_are_upper_cased",
     {"\xC3\xA4q\\\xC3\xB6.blp"},
     false,
     "D \xC3\xA4Q\n  F \xC3\xB6.BLP <\xC3\xA4q\\\xC3\xB6.blp>\n"},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddNodePaths, ::testing::ValuesIn(kPathRows),
                         [](const auto& info) { return std::string(info.param.fault); });

// Consecutive paths share folder nodes found through the previous path's folders; each row is
// a sequence where reusing too much or too little of that chain shows.
const PathRow kChainRows[] = {
    {"prefix_that_is_not_a_whole_component_is_not_reused",
     {"a\\b\\x.blp", "a\\bc\\y.blp", "a\\b\\z.blp"},
     false,
     "D A\n  D B\n    F X.BLP <a\\b\\x.blp>\n    F Z.BLP <a\\b\\z.blp>\n  D BC\n    F Y.BLP <a\\bc\\y.blp>\n"},
    {"shorter_directory_ends_at_earlier_folder",
     {"a\\b\\c\\x.blp", "a\\b\\y.blp", "a\\z.blp"},
     false,
     "D A\n  D B\n    D C\n      F X.BLP <a\\b\\c\\x.blp>\n    F Y.BLP <a\\b\\y.blp>\n  F Z.BLP <a\\z.blp>\n"},
    {"other_letter_case_reaches_same_folders",
     {"a\\b\\x.blp", "A\\B\\y.blp"},
     false,
     "D A\n  D B\n    F X.BLP <a\\b\\x.blp>\n    F Y.BLP <A\\B\\y.blp>\n"},
    {"empty_components_are_reused_and_extended",
     {"\\x.blp", "\\\\y.blp", "\\z.blp"},
     false,
     "D \"\"\n  D \"\"\n    F X.BLP <\\x.blp>\n    D \"\"\n      F Y.BLP <\\\\y.blp>\n    F Z.BLP <\\z.blp>\n"},
    {"top_level_file_after_leading_backslash_path_stays_top_level",
     {"\\x.blp", "y.blp"},
     false,
     "D \"\"\n  D \"\"\n    F X.BLP <\\x.blp>\nF Y.BLP <y.blp>\n"},
    {"top_level_file_between_paths_of_one_folder",
     {"a\\x.blp", "x.blp", "a\\y.blp"},
     false,
     "D A\n  F X.BLP <a\\x.blp>\n  F Y.BLP <a\\y.blp>\nF X.BLP <x.blp>\n"},
    {"sibling_after_deeper_path_starts_from_common_folder",
     {"a\\b\\c\\x.blp", "a\\d\\y.blp", "a\\b\\c\\z.blp"},
     false,
     "D A\n  D B\n    D C\n      F X.BLP <a\\b\\c\\x.blp>\n      F Z.BLP <a\\b\\c\\z.blp>\n"
     "  D D\n    F Y.BLP <a\\d\\y.blp>\n"},
    {"colon_inside_component_is_part_of_the_match",
     {"a:b\\x.blp", "a\\y.blp", "a:b\\z.blp"},
     false,
     "D A:B\n  F X.BLP <a:b\\x.blp>\n  F Z.BLP <a:b\\z.blp>\nD A\n  F Y.BLP <a\\y.blp>\n"},
};

INSTANTIATE_TEST_SUITE_P(Chain, AddNodePaths, ::testing::ValuesIn(kChainRows),
                         [](const auto& info) { return std::string(info.param.fault); });

// The tree as the path rules build it, one level dictionary per folder and nothing reused
// between paths: the reference for random path sequences.
struct TRefNode {
  bool isFile = false;
  std::string name, fullName;
  std::vector<std::unique_ptr<TRefNode>> kids;
  std::map<std::string, TRefNode*> folders;
};

void RefAdd(TRefNode& root, const std::string& fname) {
  if (UpperAscii(ExtensionPart(fname)) != ".BLP") return;
  const std::string folderPath = UpperAscii(DirectoryPart(fname));
  TRefNode* level = &root;
  if (!folderPath.empty()) {
    std::size_t begin = 0;
    for (;;) {
      const std::size_t end = std::min(folderPath.find('\\', begin), folderPath.size());
      const std::string c = folderPath.substr(begin, end - begin);
      auto it = level->folders.find(c);
      if (it == level->folders.end()) {
        level->kids.push_back(std::make_unique<TRefNode>());
        level->kids.back()->name = c;
        it = level->folders.emplace(c, level->kids.back().get()).first;
      }
      level = it->second;
      if (end == folderPath.size()) break;
      begin = end + 1;
    }
  }
  level->kids.push_back(std::make_unique<TRefNode>());
  level->kids.back()->isFile = true;
  level->kids.back()->name = UpperAscii(FileNamePart(fname));
  level->kids.back()->fullName = fname;
}

void RefDump(const TRefNode& node, int depth, std::string& out) {
  for (const auto& k : node.kids) {
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    out += k->isFile ? "F " : "D ";
    out += k->name.empty() ? std::string("\"\"") : k->name;
    if (k->isFile) out += " <" + k->fullName + ">";
    out += '\n';
    RefDump(*k, depth + 1, out);
  }
}

TEST(FileTree, random_path_sequences_build_the_reference_tree) {
  // Few short components so that paths share, extend and cut each other's folders often, with
  // more than a level dictionary holds before it switches to its hash table.
  const char* const parts[] = {"a", "A", "b", "ab", "", "a:", ":", "x.blp", "c1", "c2", "c3"};
  std::mt19937 rnd(20261209);
  for (int round = 0; round < 20; ++round) {
    TFileTreeFixture f;
    TRefNode ref;
    for (int i = 0; i < 400; ++i) {
      std::string path;
      const int depth = static_cast<int>(rnd() % 5);
      for (int d = 0; d < depth; ++d) {
        path += (rnd() % 8 == 0) ? "n" + std::to_string(rnd() % 40) : parts[rnd() % std::size(parts)];
        path += '\\';
      }
      path += (rnd() % 5 == 0) ? "y.txt" : (rnd() % 2 ? "x.blp" : "Y.Blp");
      AddNode(path);
      RefAdd(ref, path);
    }
    std::string expected;
    RefDump(ref, 0, expected);
    const std::string got = DumpTree(*f.model);
    if (got != expected) {
      // The first line that differs, with the line before it.
      std::size_t at = 0, lineStart = 0, prevStart = 0;
      while (at < got.size() && at < expected.size() && got[at] == expected[at]) {
        if (got[at] == '\n') {
          prevStart = lineStart;
          lineStart = at + 1;
        }
        ++at;
      }
      FAIL() << "round " << round << ": trees differ after\n" << expected.substr(prevStart, lineStart - prevStart)
             << "expected: " << expected.substr(lineStart, expected.find('\n', lineStart) - lineStart)
             << "\n     got: " << got.substr(lineStart, got.find('\n', lineStart) - lineStart);
    }
  }
}

TEST(FileTree, invalid_utf8_shows_replacement_characters_and_full_name_keeps_bytes) {
  TFileTreeFixture f;
  const std::string path = "d\xFF\\a\xC3(\xE2\x82.blp";
  AddNode(path);
  ASSERT_EQ(f.model->TopLevelCount(), 1u);
  TVirtualNode* folder = f.model->TopLevelNode(0);
  ASSERT_EQ(folder->ChildCount(), 1u);
  TVirtualNode* file = folder->Child(0);
  EXPECT_EQ(file->data.fullName, path);
  EXPECT_EQ(file->data.name, "A\xC3(\xE2\x82.BLP");
  QString text;
  VirtualStringTreeGetText(*f.model, folder, 0, text);
  EXPECT_EQ(text, QString::fromUtf16(u"D\uFFFD"));
  // A lead byte before an ASCII character and a sequence cut short by one: one replacement
  // per byte that does not start or continue a valid sequence.
  VirtualStringTreeGetText(*f.model, file, 0, text);
  EXPECT_EQ(text, QString::fromUtf16(u"A\uFFFD(\uFFFD\uFFFD.BLP"));
  // The model shows the same text.
  const QModelIndex idx = f.model->index(0, 0, f.model->index(0, 0));
  EXPECT_EQ(f.model->data(idx).toString(), QString::fromUtf16(u"A\uFFFD(\uFFFD\uFFFD.BLP"));
}

TEST(FileTree, compare_folds_lower_case_letters_and_orders_by_kind) {
  TFileTreeFixture f;
  TVirtualNode* a = f.model->AddChild(nullptr);
  TVirtualNode* b = f.model->AddChild(nullptr);
  struct Row {
    const char* fault;
    std::uint8_t fileA, fileB;
    const char* nameA;
    const char* nameB;
    int expected;
  };
  const Row rows[] = {
      {"lower_case_letter_equals_upper", 1, 1, "abc", "ABC", 0},
      {"lower_case_folds_before_underscore", 1, 1, "a", "_", -1},
      {"shorter_prefix_first", 1, 1, "AB", "ABC", -1},
      {"longer_after_prefix", 1, 1, "ABC", "AB", 1},
      {"high_bytes_after_ascii", 1, 1, "\xC3\xA4", "Z", 1},
      {"file_after_folder_whatever_names", 1, 0, "A", "Z", 1},
      {"folder_before_file_whatever_names", 0, 1, "Z", "A", -1},
  };
  for (const Row& r : rows) {
    a->data.isFile = r.fileA;
    a->data.name = r.nameA;
    b->data.isFile = r.fileB;
    b->data.name = r.nameB;
    int result = 99;
    VirtualStringTreeCompareNodes(*f.model, a, b, 0, result);
    EXPECT_EQ(result, r.expected) << r.fault;
  }
  a->data.name = {};
  b->data.name = {};
}

TEST(FileTree, node_data_size_is_announced) {
  TFileTreeFixture f;
  std::size_t size = 0;
  VirtualStringTreeGetNodeDataSize(*f.model, size);
  EXPECT_EQ(size, sizeof(TNodeData));
  TTreeEvents wrong = FileTreeEvents();
  wrong.OnGetNodeDataSize = [](TTreeModel&, std::size_t& s) { s = 1; };
  EXPECT_THROW(TTreeModel{wrong}, std::logic_error);
}

TEST(FileTree, nothing_is_added_without_root_nodes) {
  TFileTreeFixture f;
  DestroyRootNodes();
  AddNode("a\\b.blp");
  EXPECT_EQ(f.model->NodeCount(), 0u);
  CreateRootNodes(*f.model);
}

// Counts the free callback and checks each node is freed once.
std::size_t gFreed = 0;
void CountingFree(TTreeModel& sender, TVirtualNode* node) {
  ++gFreed;
  EXPECT_TRUE(node->data.isFile == 1 || node->data.children) << "node freed twice";
  VirtualStringTreeFreeNode(sender, node);
  node->data.isFile = 0;
}

TEST(FileTree, clear_file_list_frees_every_node_and_empties_index_and_root) {
  TTreeEvents events = FileTreeEvents();
  events.OnFreeNode = CountingFree;
  TFileTreeFixture f(events);
  ASSERT_TRUE(FileIndex);
  static char keyText[] = "K";
  FileIndex->Store(std::string_view(keyText, 1), TFileMpqRec{});
  const std::vector<std::string> paths = {"a\\b\\c.blp", "a\\d.blp", "e.blp", "a\\\\f.blp", "\\g.blp"};
  for (const auto& p : paths) AddNode(p);
  const std::size_t nodes = f.model->NodeCount();
  ASSERT_EQ(nodes, 11u);
  gFreed = 0;
  ClearFileList();
  EXPECT_EQ(gFreed, nodes);
  EXPECT_EQ(f.model->NodeCount(), 0u);
  EXPECT_EQ(f.model->rowCount(), 0);
  EXPECT_EQ(RootNodes->Count(), 0u);
  EXPECT_EQ(FileIndex->Count(), 0u);

  // The tree fills again from scratch, reusing nothing of the cleared nodes.
  AddNode("a\\b\\c.blp");
  EXPECT_EQ(DumpTree(*f.model), "D A\n  D B\n    F C.BLP <a\\b\\c.blp>\n");
}

TEST(FileTree, path_of_100000_backslashes_builds_and_clears_in_constant_stack) {
  TFileTreeFixture f;
  const std::string path = std::string(100000, '\\') + "deep.blp";
  AddNode(path);
  // The directory keeps its last backslash (it follows another): 100,000 backslashes split
  // into 100,001 empty components.
  EXPECT_EQ(f.model->NodeCount(), 100002u);
  TVirtualNode* node = f.model->TopLevelNode(0);
  std::size_t depth = 0;
  while (!node->data.isFile) {
    ASSERT_EQ(node->ChildCount(), 1u);
    node = node->Child(0);
    ++depth;
  }
  EXPECT_EQ(depth, 100001u);
  EXPECT_EQ(node->data.fullName, path);
  f.model->SortTree(0, Qt::AscendingOrder);
  ClearFileList();
  EXPECT_EQ(f.model->NodeCount(), 0u);
}

TEST(FileTree, sort_outside_update_moves_persistent_indexes_with_their_nodes) {
  TFileTreeFixture f;
  AddNode("b.blp");
  AddNode("a.blp");
  const QPersistentModelIndex b(f.model->index(0, 0));
  ASSERT_EQ(f.model->data(b).toString(), "B.BLP");
  f.model->SortTree(0, Qt::AscendingOrder);
  EXPECT_EQ(b.row(), 1);
  EXPECT_EQ(f.model->data(b).toString(), "B.BLP");
  EXPECT_EQ(f.model->data(f.model->index(0, 0)).toString(), "A.BLP");
  f.model->SortTree(0, Qt::DescendingOrder);
  EXPECT_EQ(b.row(), 0);
}

TEST(FileTree, model_structure_matches_nodes) {
  TFileTreeFixture f;
  AddNode("a\\b.blp");
  AddNode("a\\c.blp");
  const QModelIndex a = f.model->index(0, 0);
  EXPECT_EQ(f.model->rowCount(), 1);
  EXPECT_EQ(f.model->columnCount(), 1);
  EXPECT_EQ(f.model->rowCount(a), 2);
  EXPECT_TRUE(f.model->hasChildren(a));
  const QModelIndex c = f.model->index(1, 0, a);
  EXPECT_EQ(f.model->parent(c), a);
  EXPECT_FALSE(f.model->parent(a).isValid());
  EXPECT_FALSE(f.model->hasChildren(c));
  EXPECT_EQ(f.model->data(c).toString(), "C.BLP");
  EXPECT_FALSE(f.model->index(2, 0, a).isValid());
  EXPECT_FALSE(f.model->index(0, 1, a).isValid());
  EXPECT_FALSE(f.model->headerData(0, Qt::Horizontal).isValid());
  EXPECT_EQ(TTreeModel::NodeOf(c)->data.fullName, "a\\c.blp");
}

// Listfile ingestion of real archives through the index into the tree.
class ArchivesIntoTree : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("velmora-tree-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  MpqHandle Open(const std::string& name, const std::string& listfile) {
    const auto path = dir_ / name;
    test::WriteMpq(path, {{"stub", "x"}}, listfile);
    TArchiveHandle archive;
    EXPECT_TRUE(OpenMpqArchive(path.string(), archive)) << path;
    const MpqHandle h = archive.Get();
    if (h) MpqList->Append(std::move(archive));
    return h;
  }

  void LoadAll(TTreeModel& model) {
    model.BeginUpdate();
    for (MpqHandle h : *MpqList) LoadListFile(h, AddNode);
    model.SortTree(0, Qt::AscendingOrder);
    model.EndUpdate();
  }

  std::filesystem::path dir_;
};

TEST_F(ArchivesIntoTree, first_archive_spelling_in_tree_last_archive_record_in_index) {
  TFileTreeFixture f;
  const MpqHandle first = Open("common.MPQ", "Textures\\Minimap\\Map01.blp\r\nreadme.txt\r\n");
  const MpqHandle second =
      Open("patch.MPQ", "TEXTURES\\MINIMAP\\MAP01.BLP\nTextures\\New.blp\n  padded.blp  \n\n");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  LoadAll(*f.model);
  EXPECT_EQ(DumpTree(*f.model),
            "D TEXTURES\n  D MINIMAP\n    F MAP01.BLP <Textures\\Minimap\\Map01.blp>\n"
            "  F NEW.BLP <Textures\\New.blp>\n"
            "F PADDED.BLP <padded.blp>\n");
  const TFileMpqRec* rec = FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, second);
  EXPECT_EQ(rec->full_name, "TEXTURES\\MINIMAP\\MAP01.BLP");
  ASSERT_NE(FileIndex->Find("README.TXT"), nullptr) << "the index keeps every path";
  EXPECT_EQ(FileIndex->Find("README.TXT")->mpqh, first);
}

TEST_F(ArchivesIntoTree, archive_listed_twice_is_opened_once_and_adds_no_new_nodes) {
  TFileTreeFixture f;
  const MpqHandle first = Open("one.MPQ", "a\\b.blp\r\nc.blp\r\n");
  ASSERT_NE(first, 0u);
  const TMpqOpenResult again = OpenMpqArchive((dir_ / "one.MPQ").string());
  EXPECT_EQ(again.status, TArchiveOpenStatus::AlreadyOpen);
  EXPECT_EQ(again.existing, first);
  LoadAll(*f.model);
  EXPECT_EQ(f.model->NodeCount(), 3u);
  EXPECT_EQ(MpqList->Count(), 1u);
  EXPECT_EQ(FileIndex->Find("C.BLP")->mpqh, first);
}

TEST_F(ArchivesIntoTree, tree_cleared_before_index_and_archives) {
  TFileTreeFixture f;
  Open("one.MPQ", "a\\b.blp\r\n");
  LoadAll(*f.model);
  ASSERT_EQ(f.model->NodeCount(), 2u);
  // Shutdown order: the tree and the index go first, the archives after.
  ClearFileList();
  DestroyRootNodes();
  EXPECT_EQ(f.model->NodeCount(), 0u);
  EXPECT_EQ(FileIndex->Count(), 0u);
  EXPECT_EQ(MpqList->Count(), 1u);
  CreateRootNodes(*f.model);
}

}  // namespace
}  // namespace velmora
