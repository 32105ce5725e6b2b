// Listfile ingestion from real archives written at test time and read back by StormLib: line
// splitting, trimming, keys, the new-path hook, and which archive wins when paths repeat.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/PathParts.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += "[" + Escaped(s) + "]";
  return out;
}

// A string literal with its embedded NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

struct Entry {
  std::string key;
  std::string dir;
  std::string fullName;
};

struct ListFileRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const ListFileRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::string listfile;
  std::vector<std::string> newPaths;  // what the hook receives, in order
  std::vector<Entry> entries;         // the whole index afterwards
};

class ListFileRows : public ArchiveIndexTest, public ::testing::WithParamInterface<ListFileRow> {};

TEST_P(ListFileRows, IndexesLines) {
  const ListFileRow& row = GetParam();
  const MpqHandle h = AddArchive({}, row.listfile);
  ASSERT_NE(h, 0u);
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_EQ(Joined(paths), Joined(row.newPaths)) << "listfile " << Escaped(row.listfile);
  EXPECT_EQ(FileIndex->Count(), row.entries.size());
  for (const Entry& e : row.entries) {
    const TFileMpqRec* rec = FileIndex->Find(e.key);
    ASSERT_NE(rec, nullptr) << "no key " << Escaped(e.key);
    EXPECT_EQ(rec->mpqh, h) << Escaped(e.key);
    EXPECT_EQ(Escaped(rec->dir), Escaped(e.dir)) << "dir of " << Escaped(e.key);
    EXPECT_EQ(Escaped(rec->full_name), Escaped(e.fullName)) << "full name of " << Escaped(e.key);
  }
}

const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Lines, ListFileRows,
    ::testing::Values(
        ListFileRow{"crlf_lines",
                    "Textures\\Minimap\\map01.blp\r\nWorld\\a.m2\r\n",
                    {"Textures\\Minimap\\map01.blp", "World\\a.m2"},
                    {{"TEXTURES\\MINIMAP\\MAP01.BLP", "TEXTURES\\MINIMAP", "Textures\\Minimap\\map01.blp"},
                     {"WORLD\\A.M2", "WORLD", "World\\a.m2"}}},
        ListFileRow{"lf_only_lines_give_the_crlf_keys",
                    "Textures\\Minimap\\map01.blp\nWorld\\a.m2\n",
                    {"Textures\\Minimap\\map01.blp", "World\\a.m2"},
                    {{"TEXTURES\\MINIMAP\\MAP01.BLP", "TEXTURES\\MINIMAP", "Textures\\Minimap\\map01.blp"},
                     {"WORLD\\A.M2", "WORLD", "World\\a.m2"}}},
        ListFileRow{"cr_only_lines_give_the_crlf_keys",
                    "Textures\\Minimap\\map01.blp\rWorld\\a.m2\r",
                    {"Textures\\Minimap\\map01.blp", "World\\a.m2"},
                    {{"TEXTURES\\MINIMAP\\MAP01.BLP", "TEXTURES\\MINIMAP", "Textures\\Minimap\\map01.blp"},
                     {"WORLD\\A.M2", "WORLD", "World\\a.m2"}}},
        ListFileRow{"last_line_without_break_is_indexed",
                    "a.blp\r\nb.blp",
                    {"a.blp", "b.blp"},
                    {{"A.BLP", "", "a.blp"}, {"B.BLP", "", "b.blp"}}},
        ListFileRow{"blanks_around_are_trimmed_but_kept_in_full_name",
                    "  Textures\\a.blp \r\n",
                    {"Textures\\a.blp"},
                    {{"TEXTURES\\A.BLP", "TEXTURES", "  Textures\\a.blp "}}},
        ListFileRow{"tab_and_control_bytes_are_trimmed",
                    "\tTextures\\a.blp\x01\r\n",
                    {"Textures\\a.blp"},
                    {{"TEXTURES\\A.BLP", "TEXTURES", "\tTextures\\a.blp\x01"}}},
        ListFileRow{"empty_line_inside_gives_empty_key_and_path",
                    "a.blp\r\n\r\nb.blp\r\n",
                    {"a.blp", "", "b.blp"},
                    {{"A.BLP", "", "a.blp"}, {"", "", ""}, {"B.BLP", "", "b.blp"}}},
        ListFileRow{"blank_line_gives_empty_key_with_blanks_in_full_name",
                    "a.blp\r\n   \r\n",
                    {"a.blp", ""},
                    {{"A.BLP", "", "a.blp"}, {"", "", "   "}}},
        ListFileRow{"nul_in_the_middle_ends_ingestion",
                    Bytes("a.blp\r\nb.b\0lp\r\nc.blp\r\n"),
                    {"a.blp", "b.b"},
                    {{"A.BLP", "", "a.blp"}, {"B.B", "", "b.b"}}},
        ListFileRow{"byte_order_mark_starts_first_key_and_path",
                    kBom + "Textures\\a.blp\r\nb.blp\r\n",
                    {kBom + "Textures\\a.blp", "b.blp"},
                    {{kBom + "TEXTURES\\A.BLP", kBom + "TEXTURES", kBom + "Textures\\a.blp"},
                     {"B.BLP", "", "b.blp"}}},
        ListFileRow{"duplicate_key_in_one_listfile_reaches_hook_once_and_last_line_wins",
                    "Tex\\Dup.blp\r\n TEX\\DUP.BLP\r\ntex\\dup.blp  \r\n",
                    {"Tex\\Dup.blp"},
                    {{"TEX\\DUP.BLP", "TEX", "tex\\dup.blp  "}}},
        ListFileRow{"invalid_utf8_bytes_are_kept",
                    "Tex\\\xE9t\xE9.blp\r\n\xFF\xFE.blp\r\n",
                    {"Tex\\\xE9t\xE9.blp", "\xFF\xFE.blp"},
                    {{"TEX\\\xE9T\xE9.BLP", "TEX", "Tex\\\xE9t\xE9.blp"}, {"\xFF\xFE.BLP", "", "\xFF\xFE.blp"}}},
        ListFileRow{"utf8_letters_keep_their_case",
                    "Tex\\\xC3\xA4rger.blp\r\n",
                    {"Tex\\\xC3\xA4rger.blp"},
                    {{"TEX\\\xC3\xA4RGER.BLP", "TEX", "Tex\\\xC3\xA4rger.blp"}}},
        ListFileRow{"slash_is_kept_in_keys",
                    "Tex/a.blp\r\nTex\\a.blp\r\n",
                    {"Tex/a.blp", "Tex\\a.blp"},
                    {{"TEX/A.BLP", "", "Tex/a.blp"}, {"TEX\\A.BLP", "TEX", "Tex\\a.blp"}}},
        ListFileRow{"directory_keeps_doubled_and_leading_separators",
                    "A\\\\b.blp\r\n\\c.blp\r\nC:d.blp\r\n",
                    {"A\\\\b.blp", "\\c.blp", "C:d.blp"},
                    {{"A\\\\B.BLP", "A\\\\", "A\\\\b.blp"}, {"\\C.BLP", "\\", "\\c.blp"}, {"C:D.BLP", "C:", "C:d.blp"}}}),
    [](const auto& info) { return std::string(info.param.fault); });

using ListFileTest = ArchiveIndexTest;

TEST_F(ListFileTest, MissingListFileReturnsFalseAndLeavesIndexUnchanged) {
  const MpqHandle a = AddArchive({{"a.blp", "A"}}, std::string("a.blp\r\n"));
  const MpqHandle b = AddArchive({{"a.blp", "B"}, {"b.blp", "B"}}, std::nullopt);
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(a, paths));
  EXPECT_FALSE(Ingest(b, paths));
  EXPECT_EQ(Joined(paths), "[a.blp]");
  EXPECT_EQ(FileIndex->Count(), 1u);
  const TFileMpqRec* rec = FileIndex->Find("A.BLP");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, a);
  EXPECT_EQ(ReadObject("a.blp"), "A");
  // The archive without a listfile stays in the list until the index is freed.
  EXPECT_EQ(MpqList->Count(), 2u);
}

TEST_F(ListFileTest, EmptyListFileReturnsTrueAndAddsNothing) {
  const MpqHandle h = AddArchive({{"a.blp", "A"}}, std::string());
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_TRUE(paths.empty()) << Joined(paths);
  EXPECT_EQ(FileIndex->Count(), 0u);
}

TEST_F(ListFileTest, ListFileStartingWithNulAddsNothing) {
  const MpqHandle h = AddArchive({}, Bytes("\0a.blp\r\n"));
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_TRUE(paths.empty()) << Joined(paths);
  EXPECT_EQ(FileIndex->Count(), 0u);
}

TEST_F(ListFileTest, PathInTwoArchivesReachesHookOnceAndIndexPointsAtTheLast) {
  const MpqHandle a = AddArchive({{"Tex\\a.blp", "from A"}}, std::string("Tex\\a.blp\r\n"));
  const MpqHandle b = AddArchive({{"Tex\\a.blp", "from B"}}, std::string("Tex\\a.blp\r\n"));
  const MpqHandle c = AddArchive({{"Tex\\c.blp", "C"}}, std::string("Tex\\c.blp\r\n"));
  std::vector<std::string> fromA;
  std::vector<std::string> fromB;
  std::vector<std::string> fromC;
  EXPECT_TRUE(Ingest(a, fromA));
  EXPECT_TRUE(Ingest(b, fromB));
  EXPECT_TRUE(Ingest(c, fromC));
  EXPECT_EQ(Joined(fromA), "[Tex\\a.blp]");
  EXPECT_EQ(Joined(fromB), "");
  EXPECT_EQ(Joined(fromC), "[Tex\\c.blp]");
  const TFileMpqRec* rec = FileIndex->Find("TEX\\A.BLP");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, b);
  EXPECT_EQ(ReadObject("tex\\a.blp"), "from B");
}

TEST_F(ListFileTest, PathInThreeArchivesHasThemAsSourcesInOpeningOrderEachOpeningItsOwnVersion) {
  const MpqHandle a = AddArchive({{"Tex\\a.blp", "from A"}}, std::string("Tex\\a.blp\r\n"));
  const MpqHandle b = AddArchive({{"Tex\\other.blp", "B"}}, std::string("Tex\\other.blp\r\n"));
  const MpqHandle c = AddArchive({{"TEX\\A.BLP", "from C"}}, std::string("TEX\\A.BLP\r\n"));
  const MpqHandle d = AddArchive({{"tex\\a.blp", "from D"}}, std::string("tex\\a.blp\n"));
  std::vector<std::string> paths;
  for (const MpqHandle h : {a, b, c, d}) EXPECT_TRUE(Ingest(h, paths));
  const std::vector<TFileMpqRec> sources = FileIndex->Sources("TEX\\A.BLP");
  ASSERT_EQ(sources.size(), 3u);
  const std::pair<MpqHandle, const char*> expected[] = {{a, "Tex\\a.blp"}, {c, "TEX\\A.BLP"}, {d, "tex\\a.blp"}};
  const char* contents[] = {"from A", "from C", "from D"};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sources[i].mpqh, expected[i].first);
    EXPECT_EQ(sources[i].full_name, expected[i].second);
    const TZanthObject version("Tex\\a.blp", sources[i].mpqh, std::string(sources[i].full_name));
    ASSERT_NE(version.FileHandler(), nullptr);
    std::string bytes(version.FileHandler()->GetSize(), '\0');
    EXPECT_TRUE(version.FileHandler()->GetDataByOffset(0, static_cast<std::uint32_t>(bytes.size()), bytes.data()));
    EXPECT_EQ(bytes, contents[i]) << "another archive's version was read";
    EXPECT_EQ(version.SourceArchive(), expected[i].first);
  }
  EXPECT_EQ(FileIndex->Find("TEX\\A.BLP")->mpqh, d);
  const TZanthObject missing("Tex\\a.blp", b, "Tex\\a.blp");
  EXPECT_EQ(missing.FileHandler(), nullptr) << "an archive without the member gave a file";
}

TEST_F(ListFileTest, LaterArchiveInOtherCaseKeepsFirstSpellingForHookAndLastForOpening) {
  const MpqHandle a = AddArchive({{"Tex\\Mixed.blp", "from A"}}, std::string("Tex\\Mixed.blp\n"));
  // StormLib finds names case-insensitively, so B's member is stored under its own spelling.
  const MpqHandle b = AddArchive({{"TEX\\mixed.BLP", "from B"}}, std::string("TEX\\mixed.BLP\r\n"));
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(a, paths));
  EXPECT_TRUE(Ingest(b, paths));
  EXPECT_EQ(Joined(paths), "[Tex\\Mixed.blp]");
  const TFileMpqRec* rec = FileIndex->Find("TEX\\MIXED.BLP");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, b);
  EXPECT_EQ(rec->full_name, "TEX\\mixed.BLP");
  EXPECT_EQ(ReadObject("Tex\\Mixed.blp"), "from B");
}

TEST_F(ListFileTest, ArchiveListingPathsOfAnEarlierOneAddsOnlyItsNewPaths) {
  const MpqHandle a = AddArchive({}, std::string("x.blp\r\ny.blp\r\n"));
  const MpqHandle b = AddArchive({}, std::string("Y.BLP\r\nz.blp\r\n\r\nx.blp\r\n"));
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(a, paths));
  EXPECT_TRUE(Ingest(b, paths));
  EXPECT_EQ(Joined(paths), "[x.blp][y.blp][z.blp][]");
  EXPECT_EQ(FileIndex->Count(), 4u);
  for (const char* key : {"X.BLP", "Y.BLP", "Z.BLP", ""}) {
    const TFileMpqRec* rec = FileIndex->Find(key);
    ASSERT_NE(rec, nullptr) << key;
    EXPECT_EQ(rec->mpqh, b) << key;
  }
}

TEST_F(ListFileTest, EmptyLinesInSeveralListFilesReachHookOnce) {
  const MpqHandle a = AddArchive({}, std::string("\r\na.blp\r\n"));
  const MpqHandle b = AddArchive({}, std::string("b.blp\n\n"));
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(a, paths));
  EXPECT_TRUE(Ingest(b, paths));
  EXPECT_EQ(Joined(paths), "[][a.blp][b.blp]");
  const TFileMpqRec* rec = FileIndex->Find("");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, b);
}

TEST_F(ListFileTest, NullHookIsAllowed) {
  const MpqHandle h = AddArchive({}, std::string("a.blp\r\n"));
  EXPECT_TRUE(LoadListFile(h, nullptr));
  EXPECT_TRUE(FileIndex->Contains("A.BLP"));
}

TEST_F(ListFileTest, ClearEmptiesTheIndexAndPathsBecomeNewAgain) {
  const MpqHandle h = AddArchive({{"a.blp", "A"}}, std::string("a.blp\r\nb.blp\r\n"));
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  FileIndex->Clear();
  EXPECT_EQ(FileIndex->Count(), 0u);
  EXPECT_FALSE(FileIndex->Contains("A.BLP"));
  EXPECT_EQ(ReadObject("a.blp"), std::nullopt);
  paths.clear();
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_EQ(Joined(paths), "[a.blp][b.blp]");
  EXPECT_EQ(ReadObject("a.blp"), "A");
}

TEST_F(ListFileTest, KeysStayValidWhileManyListFilesAreAdded) {
  // Records and keys point into listfile copies kept by the index: they must survive growth of
  // the table and later listfiles.
  std::vector<MpqHandle> handles;
  for (int a = 0; a < 4; ++a) {
    std::string list;
    for (int i = 0; i < 5000; ++i) list += "Dir" + std::to_string(i % 37) + "\\file" + std::to_string(a * 5000 + i) + ".blp\n";
    handles.push_back(AddArchive({}, list));
  }
  std::size_t calls = 0;
  for (MpqHandle h : handles) EXPECT_TRUE(LoadListFile(h, [&](std::string_view) { ++calls; }));
  EXPECT_EQ(calls, 20000u);
  ASSERT_EQ(FileIndex->Count(), 20000u);
  for (int i = 0; i < 20000; ++i) {
    const std::string key = "DIR" + std::to_string(i % 5000 % 37) + "\\FILE" + std::to_string(i) + ".BLP";
    const TFileMpqRec* rec = FileIndex->Find(key);
    ASSERT_NE(rec, nullptr) << key;
    EXPECT_EQ(rec->mpqh, handles[static_cast<std::size_t>(i / 5000)]) << key;
    EXPECT_EQ(UpperAscii(rec->full_name), key);
    EXPECT_EQ(rec->dir, DirectoryPart(key)) << key;
  }
}

TEST_F(ListFileTest, FreeArchiveIndexClosesEveryArchive) {
  FreeArchiveIndex();
  const std::size_t before = OpenDescriptorCount();
  CreateArchiveIndex();
  for (int i = 0; i < 3; ++i) AddArchive({{"a.blp", "A"}}, std::string("a.blp\r\n"));
  EXPECT_TRUE(LoadListFile((*MpqList)[0], nullptr));
  EXPECT_GT(OpenDescriptorCount(), before);
  FreeArchiveIndex();
  EXPECT_EQ(FileIndex, nullptr);
  EXPECT_EQ(MpqList, nullptr);
  EXPECT_EQ(OpenDescriptorCount(), before);
  CreateArchiveIndex();
  EXPECT_EQ(FileIndex->Count(), 0u);
  EXPECT_EQ(MpqList->Count(), 0u);
}

TEST_F(ListFileTest, OpenMpqArchiveFailsOnMissingAndNonArchiveFiles) {
  TArchiveHandle h;
  EXPECT_FALSE(OpenMpqArchive((Dir() / "missing.mpq").string(), h));
  EXPECT_FALSE(h);
  const auto text = Dir() / "text.mpq";
  {
    std::FILE* f = std::fopen(text.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not an archive at all, only text\n", f);
    std::fclose(f);
  }
  const TMpqOpenResult open = OpenMpqArchive(text.string());
  EXPECT_EQ(open.status, TArchiveOpenStatus::CannotOpen);
  EXPECT_FALSE(open.archive);
}

}  // namespace
}  // namespace velmora::test
