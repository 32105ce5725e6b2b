// The viewer against a reader that lies and archives that claim more than they hold: replies that
// break a bound (more bytes than asked for or than the shared memory holds, a position past the
// one asked for, ids never given out, too much text, another request's sequence), a reader of
// another protocol version, and sizes claimed beyond 256 times what an archive stores. The viewer
// survives each within bounded memory, reports it, and reads everything else. Also: the reader
// keeps open only the archives it needs, and a restart opens again only what a request needs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

constexpr long kGrowthLimitKiB = 256 * 1024;

long RssKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The test build of the reader, which lies on request; the product's again afterwards.
class LyingReaderTest : public TestReaderTest {};

struct LieRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const LieRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* member;  // the name the test reader lies about
  const char* said;    // in the refusal, or in the words of the stop the lie counts as
  bool refused;        // refused as a bomb (no stop) rather than a crash
};

class LieRows : public LyingReaderTest, public ::testing::WithParamInterface<LieRow> {};

TEST_P(LieRows, ViewerSurvivesReportsTheLieAndReadsTheRest) {
  const LieRow& row = GetParam();
  const std::vector<MpqMember> members{{std::string("x\\") + row.member, "sixteen bytes..."},
                                       {"x\\good.bin", "contents of x\\good.bin"}};
  const MpqHandle h = AddArchive(members, ListFileOf(members));
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));
  std::vector<std::string> events;
  TArchiveReader::Instance().SetStopHook([&](const TReaderStopEvent& e) { events.push_back(e.Text()); });

  const long rss = RssKiB();
  const TZanthObject object(std::string("x\\") + row.member);
  std::string said = object.OpenTrouble().refusal + object.OpenTrouble().words;
  if (object.FileHandler() != nullptr) {
    std::string buf(static_cast<std::size_t>(std::min<std::uint64_t>(object.FileHandler()->GetSize(), 1 << 20)), '\0');
    EXPECT_FALSE(object.FileHandler()->GetDataByOffset(0, static_cast<std::uint32_t>(buf.size()), buf.data()));
    said += object.FileHandler()->StopWords();
  }
  EXPECT_LT(RssKiB() - rss, kGrowthLimitKiB) << "KiB grown";
  EXPECT_TRUE(Has(said, row.said)) << said;
  if (row.refused) {
    EXPECT_EQ(object.FileHandler(), nullptr);
    EXPECT_EQ(object.ReaderStop(), TReaderStop::None);
    EXPECT_TRUE(events.empty());
  } else {
    EXPECT_EQ(object.ReaderStop(), TReaderStop::Crash);
    // Tried once more in a fresh reader, which lied again.
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(Has(events[1], "x\\" + std::string(row.member))) << events[1];
  }
  EXPECT_EQ(MpqArchiveStop(h), TReaderStop::None);
  EXPECT_EQ(ReadObject("x\\good.bin"), "contents of x\\good.bin");
}

INSTANTIATE_TEST_SUITE_P(
    Lies, LieRows,
    ::testing::Values(
        LieRow{"read_count_past_the_shared_memory", "velmora-fault-lie-count",
               "reply out of bounds: 8392704 bytes read of 16 asked for", false},
        LieRow{"position_past_the_offset_asked_for", "velmora-fault-lie-position",
               "reply out of bounds: position 1000000 for offset 0", false},
        LieRow{"file_id_never_given_out", "velmora-fault-lie-id", "reply out of bounds: file id 4294967280 (1 opened)",
               false},
        LieRow{"text_longer_than_a_reply_carries", "velmora-fault-lie-text",
               "reply out of bounds: text of 1048576 bytes (limit 1024)", false},
        LieRow{"sequence_of_another_request", "velmora-fault-lie-sequence", "reply out of bounds: sequence", false},
        LieRow{"claimed_size_of_2_gib_for_16_bytes", "velmora-fault-lie-size",
               "decompression bomb: claims 2147483648 bytes, stores 16 (at most 256 x 16 = 4096)", true}),
    [](const auto& info) { return std::string(info.param.fault); });

// A reader left from another build is not used, and no archive is blamed for it.
TEST_F(LyingReaderTest, ReaderOfAnotherVersionIsReportedAndNoArchiveIsBlamed) {
  const auto path = Dir() / "a.mpq";
  WriteMpq(path, {{"a.bin", "a"}}, ListFileOf({{"a.bin", "a"}}));
  // The reader starts with an empty environment: the version to announce comes through a script.
  const auto older = Dir() / "older-reader";
  std::ofstream(older) << "#!/bin/sh\nVELMORA_FAULT_VERSION=1 exec '" VELMORA_FAULT_READER "' \"$@\"\n";
  std::filesystem::permissions(older, std::filesystem::perms::owner_all);
  TArchiveReader::Instance().SetProgram(older.string());
  const TMpqOpenResult open = OpenMpqArchive(path.string());
  EXPECT_EQ(open.status, TArchiveOpenStatus::ReaderUnavailable);
  EXPECT_TRUE(Has(open.reason, "archive reader version 1, viewer expects " + std::to_string(reader::kProtocolVersion)))
      << open.reason;
  TArchiveReader::Instance().Stop();
  TArchiveReader::Instance().SetProgram(VELMORA_FAULT_READER);
  EXPECT_NE(AddArchiveFile(path), 0u);
}

struct BombRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const BombRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::uint32_t claimed;  // by the block entry, over 7000 stored bytes
  bool refused;
};

class BombRows : public LyingReaderTest, public ::testing::WithParamInterface<BombRow> {};

// Claims in a real archive: the file list and a texture, each 7000 bytes stored.
TEST_P(BombRows, ClaimedSizeCountsUpTo256TimesWhatIsStored) {
  const BombRow& row = GetParam();
  std::string names;
  while (names.size() < 7000) names += "Tex\\listed" + std::to_string(names.size()) + ".blp\r\n";
  names.resize(7000);
  const std::string stored(7000, 'B');
  const std::vector<MpqMember> members{{"(listfile)", names, row.claimed}, {"Tex\\bomb.blp", stored, row.claimed}};
  const auto path = Dir() / "bomb.mpq";
  WriteMpq(path, members, std::nullopt);
  const MpqHandle h = AddArchiveFile(path);
  ASSERT_NE(h, 0u);

  const long rss = RssKiB();
  TListFileReport report;
  EXPECT_TRUE(LoadListFile(h, nullptr, report));
  const std::string limit = "at most 256 x 7000 = 1792000";
  EXPECT_EQ(Has(report.Problem(), "(listfile) refused: decompression bomb: claims " + std::to_string(row.claimed) +
                                      " bytes, stores 7000 (" + limit + ")"),
            row.refused)
      << report.Problem();
  EXPECT_EQ(FileIndex->Count() > 0, !row.refused);
  FileIndex->StoreOwned("TEX\\BOMB.BLP", h, FileIndex->Own("Tex\\bomb.blp"));
  const TZanthObject object("Tex\\bomb.blp");
  if (row.refused) {
    EXPECT_EQ(object.FileHandler(), nullptr);
    EXPECT_TRUE(Has(object.OpenTrouble().Text(), "decompression bomb: claims")) << object.OpenTrouble().Text();
  } else {
    ASSERT_NE(object.FileHandler(), nullptr);
    EXPECT_EQ(object.FileHandler()->GetSize(), row.claimed);
  }
  EXPECT_LT(RssKiB() - rss, kGrowthLimitKiB) << "KiB grown";
}

INSTANTIATE_TEST_SUITE_P(Claims, BombRows,
                         ::testing::Values(BombRow{"claim_of_64_mib_is_refused", 64u << 20, true},
                                           BombRow{"claim_just_past_256_times_is_refused", 1792001, true},
                                           BombRow{"claim_of_256_times_is_taken", 1792000, false}),
                         [](const auto& info) { return std::string(info.param.fault); });

std::size_t DescriptorsOf(pid_t pid) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++n;
  return n;
}

// Archives beyond the reader's share of descriptors are closed there and opened again on use.
TEST_F(LyingReaderTest, ReaderKeepsOpenOnlyTheArchivesItNeeds) {
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.SetMaxOpenArchives(4);
  // Written first and announced, as the window announces what it loads: one reader for all.
  std::vector<std::string> paths;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "n" + std::to_string(i) + "\\file.bin";
    paths.push_back((Dir() / ("n" + std::to_string(i) + ".mpq")).string());
    WriteMpq(paths.back(), {{name, "contents of " + name}}, ListFileOf({{name, ""}}));
  }
  reader.ExpectArchives(paths);
  std::vector<MpqHandle> handles;
  for (const std::string& path : paths) {
    handles.push_back(AddArchiveFile(path));
    ASSERT_NE(handles.back(), 0u);
  }
  const std::size_t fds = DescriptorsOf(reader.Usage()->pid);
  for (MpqHandle h : handles) ASSERT_TRUE(LoadListFile(h, nullptr));
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 12; ++i) {
      const std::string name = "n" + std::to_string(i) + "\\file.bin";
      EXPECT_EQ(ReadObject(name), "contents of " + name);
      EXPECT_LE(reader.OpenInReader(), 4u);
    }
  }
  EXPECT_LE(DescriptorsOf(reader.Usage()->pid), fds) << "descriptors grew with the archives";
  EXPECT_EQ(reader.Restarts(), 0u);
}

// After a restart only the archive a request needs is opened again.
TEST_F(LyingReaderTest, RestartOpensAgainOnlyWhatARequestNeeds) {
  TArchiveReader& reader = TArchiveReader::Instance();
  for (int i = 0; i < 10; ++i) {
    const std::string name = "n" + std::to_string(i) + "\\file.bin";
    ASSERT_NE(AddArchive({{name, "contents of " + name}}, ListFileOf({{name, ""}})), 0u);
  }
  const std::vector<MpqMember> bad{{"z\\velmora-fault-memory", "x"}};
  const MpqHandle z = AddArchive(bad, ListFileOf(bad));
  for (MpqHandle h : *MpqList) ASSERT_TRUE(LoadListFile(h, nullptr));
  {
    const TZanthObject culprit("z\\velmora-fault-memory");
    ASSERT_NE(culprit.FileHandler(), nullptr);
    char byte = 0;
    EXPECT_FALSE(culprit.FileHandler()->GetHeader(&byte, 1));
    EXPECT_EQ(culprit.ReaderStop(), TReaderStop::Memory);
  }
  EXPECT_EQ(reader.Running(), false);
  EXPECT_EQ(ReadObject("n3\\file.bin"), "contents of n3\\file.bin");
  EXPECT_EQ(reader.OpenInReader(), 1u);
  EXPECT_EQ(MpqArchiveStop(z), TReaderStop::None);
}

}  // namespace
}  // namespace velmora::test
