// Archives without a "(listfile)", as many maps are: the names StormLib knows by itself are
// listed, the names it makes up for members it cannot name ("File00000012.xxx") never are, and
// how many were left out is said. Archives with a listfile keep LoadListFile's behaviour. Lying
// replies to the request are a crash, as every other lie.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// "(attributes)" as StormLib reads it: version 100, no attribute kinds.
std::string EmptyAttributes() { return std::string("\x64\0\0\0\0\0\0\0", 8); }

struct KnownRow {
  friend void PrintTo(const KnownRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* realFile;                // a sample from shared/realdata; null: the written archive
  std::vector<std::string> listed;     // what the index gets, in hook order
  std::uint32_t unnamed;
  const char* problem;
};

class KnownRows : public ArchiveIndexTest, public ::testing::WithParamInterface<KnownRow> {};

TEST_P(KnownRows, OnlyNamesStormLibKnowsAreListed) {
  const KnownRow& row = GetParam();
  fs::path path;
  if (row.realFile != nullptr) {
    VELMORA_REQUIRE_REALDATA();
    path = RealDataDir() / "mpq" / row.realFile;
  } else {
    path = Dir() / "map.w3x";
    WriteMpq(path, {{"war3map.j", "function main takes nothing returns nothing"}, {"war3mapMap.blp", "BLP1...."},
                    {"(attributes)", EmptyAttributes()}},
             std::nullopt);
  }
  const MpqHandle h = AddArchiveFile(path);
  ASSERT_NE(h, 0u);
  std::vector<std::string> hooked;
  const auto hook = [&](std::string_view p) { hooked.emplace_back(p); };
  // The listfile's behaviour stays: no "(listfile)", false, nothing indexed.
  EXPECT_FALSE(LoadListFile(h, hook));
  EXPECT_EQ(FileIndex->Count(), 0u);

  TKnownNamesReport report;
  LoadKnownNames(h, hook, report);
  EXPECT_TRUE(report.answered);
  EXPECT_EQ(report.stop, TReaderStop::None);
  EXPECT_EQ(hooked, row.listed);
  EXPECT_EQ(FileIndex->Count(), row.listed.size());
  EXPECT_EQ(report.unnamed, row.unnamed);
  EXPECT_EQ(report.Problem(), row.problem);
  for (const std::string& name : row.listed) {
    const TFileMpqRec* rec = FileIndex->Find(name == "(attributes)" ? "(ATTRIBUTES)" : name);
    ASSERT_NE(rec, nullptr) << name;
    EXPECT_EQ(rec->mpqh, h);
  }
  if (row.realFile == nullptr) EXPECT_EQ(ReadObject("(attributes)"), EmptyAttributes());
}

INSTANTIATE_TEST_SUITE_P(
    Maps, KnownRows,
    ::testing::Values(KnownRow{"written_map_lists_only_what_stormlib_can_name", nullptr, {"(attributes)"}, 2,
                               "no (listfile): 2 files have no known name and are not listed"},
                      KnownRow{"real_listfileless_map_lists_no_made_up_name", "listfilelessMap.w3x", {}, 19,
                               "no (listfile): 19 files have no known name and are not listed"}),
    [](const auto& info) { return std::string(info.param.fault); });

// With a listfile StormLib knows every name: the request gives the listfile's names (and the
// archive's own files), and nothing is counted as unnamed.
TEST_F(ArchiveIndexTest, RealMapWithListfileGivesTheListfilesNames) {
  VELMORA_REQUIRE_REALDATA();
  const MpqHandle h = AddArchiveFile(RealDataDir() / "mpq/normalMap.w3x");
  ASSERT_NE(h, 0u);
  std::set<std::string> expected{"(listfile)", "(attributes)"};
  ASSERT_TRUE(LoadListFile(h, [&](std::string_view p) { expected.emplace(p); }));
  const TArchiveReader::TNames known = TArchiveReader::Instance().ListNames(h);
  ASSERT_TRUE(known.complete);
  EXPECT_EQ(known.unnamed, 0u);
  EXPECT_EQ(std::set<std::string>(known.names.begin(), known.names.end()), expected);
}

// Replies to the request that break its bounds are a crash of the reader: tried once more, then
// the archive is skipped and nothing of the lie is indexed.
class KnownNameLies : public TestReaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KnownNameLies, LieIsACrashAndTheArchiveIsSkipped) {
  const fs::path path = Dir() / (std::string("velmora-fault-lie-") + GetParam() + ".mpq");
  WriteMpq(path, {{"x.bin", "x"}, {"(attributes)", EmptyAttributes()}}, std::nullopt);
  const MpqHandle h = AddArchiveFile(path);
  const MpqHandle good = AddArchive({{"g.bin", "good"}}, ListFileOf({{"g.bin", ""}}));
  ASSERT_NE(h, 0u);
  ASSERT_NE(good, 0u);
  TKnownNamesReport report;
  LoadKnownNames(h, nullptr, report);
  EXPECT_EQ(report.stop, TReaderStop::Crash);
  EXPECT_NE(report.words.find("reply out of bounds"), std::string::npos) << report.words;
  EXPECT_EQ(FileIndex->Count(), 0u);
  EXPECT_EQ(MpqArchiveStop(h), TReaderStop::Crash);
  EXPECT_TRUE(LoadListFile(good, nullptr));
  EXPECT_EQ(ReadObject("g.bin"), "good");
}

INSTANTIATE_TEST_SUITE_P(Lies, KnownNameLies, ::testing::Values("names-size", "names-count"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace velmora::test
