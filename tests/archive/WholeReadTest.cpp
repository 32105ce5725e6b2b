// Whole files in one trip to the archive reader (open, read and close at once), as the export
// reads them: the bytes exact, one request for a small file, pieces for one larger than the
// shared memory, empty and missing files, a claimed size held to what is stored, the limit; a
// lying reply is a crash, and a crash under it is tried once more.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using TStatus = TWholeFile::TStatus;

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

struct WholeRow {
  friend void PrintTo(const WholeRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* name;       // the file asked for
  std::uint64_t limit;
  bool takeEmpty;
  TStatus status;
  std::uint32_t requests;  // round trips to the reader, the archive being open already
  const char* trouble;     // in the trouble's text
};

// The archive: small.bin (3000 bytes), large.bin (the shared memory's size and 1000 bytes more),
// empty.bin, bomb.bin (claims 64 MiB over 7000 stored bytes).
class WholeRows : public ArchiveIndexTest, public ::testing::WithParamInterface<WholeRow> {};

TEST_P(WholeRows, ReadsWholeFilesInOneTripWhereTheyFit) {
  const WholeRow& row = GetParam();
  const std::vector<MpqMember> members{{"small.bin", Pattern(3000)},
                                       {"large.bin", Pattern(reader::kSharedBytes + 1000)},
                                       {"empty.bin", ""},
                                       {"bomb.bin", Pattern(7000), 64u << 20}};
  ASSERT_NE(AddArchive(members, ListFileOf(members)), 0u);
  ASSERT_TRUE(LoadListFile(*MpqList->begin(), nullptr));
  TArchiveReader& reader = TArchiveReader::Instance();
  const std::uint32_t before = reader.Requests();
  std::string bytes;
  const TWholeFile file = ReadIndexedFile(row.name, row.limit, row.takeEmpty, bytes);
  EXPECT_EQ(static_cast<int>(file.status), static_cast<int>(row.status));
  EXPECT_EQ(reader.Requests() - before, row.requests);
  EXPECT_NE(file.trouble.Text().find(row.trouble), std::string::npos) << file.trouble.Text();
  if (row.status == TStatus::Read) {
    const auto it = std::find_if(members.begin(), members.end(), [&](const MpqMember& m) { return m.name == row.name; });
    ASSERT_NE(it, members.end());
    EXPECT_TRUE(bytes == it->data) << row.name << ": " << bytes.size() << " bytes read, " << it->data.size() << " stored";
  }
  EXPECT_EQ(reader.Restarts(), 0u);
}

constexpr std::uint64_t kLimit = std::uint64_t{64} << 20;

INSTANTIATE_TEST_SUITE_P(
    Files, WholeRows,
    ::testing::Values(WholeRow{"small_file_in_one_trip", "small.bin", kLimit, false, TStatus::Read, 1, ""},
                      // Declined in one trip, then opened, read in two pieces and closed.
                      WholeRow{"file_larger_than_the_shared_memory_in_pieces", "large.bin", kLimit, false, TStatus::Read,
                               5, ""},
                      WholeRow{"empty_file_read_when_taken", "empty.bin", kLimit, true, TStatus::Read, 1, ""},
                      WholeRow{"empty_file_missing_otherwise", "empty.bin", kLimit, false, TStatus::Missing, 1, ""},
                      WholeRow{"file_not_indexed_asks_nothing", "absent.bin", kLimit, false, TStatus::Missing, 0, ""},
                      WholeRow{"claim_beyond_what_is_stored_refused", "bomb.bin", kLimit, false, TStatus::Failed, 1,
                               "decompression bomb: claims 67108864 bytes, stores 7000"},
                      WholeRow{"file_beyond_the_limit_not_read", "small.bin", 2999, false, TStatus::TooLarge, 1, ""}),
    [](const auto& info) { return std::string(info.param.fault); });

// The test reader: a reply that says more bytes were read than asked for is a crash, tried once
// more and then blamed on that file alone; a crash that happens once costs nothing.
class WholeFaults : public TestReaderTest {};

TEST_F(WholeFaults, LiesAndCrashesCostOnlyTheFile) {
  const std::vector<MpqMember> members{{"x\\velmora-fault-lie-whole-count", "sixteen bytes..."},
                                       {"x\\velmora-fault-once-crash", "read on the second try"},
                                       {"x\\good.bin", "good"}};
  ASSERT_NE(AddArchive(members, ListFileOf(members)), 0u);
  ASSERT_TRUE(LoadListFile(*MpqList->begin(), nullptr));
  TArchiveReader& reader = TArchiveReader::Instance();
  std::string bytes;
  const TWholeFile lie = ReadIndexedFile("x\\velmora-fault-lie-whole-count", 1 << 20, false, bytes);
  EXPECT_EQ(static_cast<int>(lie.status), static_cast<int>(TStatus::Failed));
  EXPECT_EQ(lie.trouble.stop, TReaderStop::Crash);
  EXPECT_NE(lie.trouble.words.find("reply out of bounds"), std::string::npos) << lie.trouble.words;
  EXPECT_EQ(reader.Restarts(), 2u);
  const TWholeFile once = ReadIndexedFile("x\\velmora-fault-once-crash", 1 << 20, false, bytes);
  EXPECT_EQ(static_cast<int>(once.status), static_cast<int>(TStatus::Read));
  EXPECT_EQ(bytes, "read on the second try");
  EXPECT_EQ(reader.Restarts(), 3u);
  const TWholeFile good = ReadIndexedFile("x\\good.bin", 1 << 20, false, bytes);
  EXPECT_EQ(static_cast<int>(good.status), static_cast<int>(TStatus::Read));
  EXPECT_EQ(bytes, "good");
  EXPECT_EQ(MpqArchiveStop(*MpqList->begin()), TReaderStop::None);
}

// Many members at once, as the export reads an archive's files: each answer as a file read on its
// own would get, in few trips; what a trip cannot take (a file larger than the shared memory) read
// on its own.
TEST_F(ArchiveIndexTest, ReadsManyFilesToATrip) {
  std::vector<MpqMember> members;
  for (int i = 0; i < 300; ++i) members.push_back({"f" + std::to_string(i) + ".bin", Pattern(100 + std::size_t(i) * 37)});
  members.push_back({"empty.bin", ""});
  members.push_back({"bomb.bin", Pattern(7000), 64u << 20});
  members.push_back({"large.bin", Pattern(reader::kSharedBytes + 1000)});
  const MpqHandle h = AddArchive(members, ListFileOf(members));
  ASSERT_NE(h, 0u);
  std::vector<std::string> names;
  for (const MpqMember& m : members) names.push_back(m.name);
  names.push_back("absent.bin");
  TArchiveReader& reader = TArchiveReader::Instance();
  const std::uint32_t before = reader.Requests();
  std::vector<std::string> bytes;
  const std::vector<TWholeFile> files = ReadArchiveFiles(h, names, kLimit, false, bytes);
  // Two trips for the 304 names that fit a trip (256 at most each), then large.bin alone: declined
  // in one trip, then opened, read in two pieces and closed.
  EXPECT_EQ(reader.Requests() - before, 7u);
  ASSERT_EQ(files.size(), names.size());
  ASSERT_EQ(bytes.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool there = i < members.size() && !members[i].data.empty() && names[i] != "bomb.bin";
    EXPECT_EQ(static_cast<int>(files[i].status), static_cast<int>(there ? TStatus::Read
                                                                  : names[i] == "bomb.bin" ? TStatus::Failed
                                                                                           : TStatus::Missing))
        << names[i];
    if (there) EXPECT_TRUE(bytes[i] == members[i].data) << names[i] << ": " << bytes[i].size() << " bytes read";
  }
  EXPECT_NE(files[names.size() - 3].trouble.Text().find("decompression bomb"), std::string::npos);
  EXPECT_EQ(reader.Restarts(), 0u);
}

// Files started ahead (the export reads the next run while it writes this one) arrive whole
// whatever is read in between, without being asked for again; taking other files than those
// started reads those.
TEST_F(ArchiveIndexTest, FilesStartedAheadArriveWholeWhateverIsReadMeanwhile) {
  std::vector<MpqMember> members;
  for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"}) members.push_back({name, Pattern(500) + name});
  const MpqHandle h = AddArchive(members, ListFileOf(members));
  ASSERT_NE(h, 0u);
  TArchiveReader& reader = TArchiveReader::Instance();
  auto take = [&](const std::vector<std::string>& names) {
    std::vector<std::string> bytes;
    const std::vector<TWholeFile> files = TakeArchiveFiles(h, names, kLimit, false, bytes);
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(static_cast<int>(files[i].status), static_cast<int>(TStatus::Read)) << names[i];
      EXPECT_EQ(bytes[i], Pattern(500) + names[i]);
    }
  };
  const std::uint32_t before = reader.Requests();
  StartArchiveFiles(h, {"a.bin", "b.bin"}, kLimit);
  std::string c;
  EXPECT_EQ(static_cast<int>(ReadArchiveFile(h, "c.bin", kLimit, false, c).status), static_cast<int>(TStatus::Read));
  EXPECT_EQ(c, Pattern(500) + "c.bin");
  take({"a.bin", "b.bin"});
  EXPECT_EQ(reader.Requests() - before, 2u) << "the trip started ahead was asked for again";
  StartArchiveFiles(h, {"a.bin"}, kLimit);
  take({"c.bin", "d.bin"});
  take({"b.bin"});
  EXPECT_EQ(reader.Restarts(), 0u);
}

// A trip that stops the reader or answers out of bounds costs only its members' trips on their
// own: the lie is not told to a read of one file, the crash is blamed on its file alone, and the
// files beside them arrive whole.
TEST_F(WholeFaults, AStoppedTripIsReadFileByFile) {
  const std::vector<MpqMember> members{{"x\\a.bin", "first"},
                                       {"x\\velmora-fault-lie-batch-count", "true when read alone"},
                                       {"x\\velmora-fault-crash", "never read"},
                                       {"x\\b.bin", "second"}};
  const MpqHandle h = AddArchive(members, ListFileOf(members));
  ASSERT_NE(h, 0u);
  TArchiveReader& reader = TArchiveReader::Instance();
  struct Row {
    std::vector<std::size_t> asked;  // members, by position
    TReaderStop crashMember;         // the crash member's stop when asked, None when read
    std::size_t restarts;            // after the row
  };
  for (const Row& row : {Row{{0, 1, 3}, TReaderStop::None, 1}, Row{{0, 2, 3}, TReaderStop::Crash, 4},
                         // Known now: skipped without a trip.
                         Row{{2, 3}, TReaderStop::Crash, 4}}) {
    std::vector<std::string> names;
    for (const std::size_t m : row.asked) names.push_back(members[m].name);
    std::vector<std::string> bytes;
    const std::vector<TWholeFile> files = ReadArchiveFiles(h, names, 1 << 20, false, bytes);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const bool crash = row.asked[i] == 2;
      EXPECT_EQ(static_cast<int>(files[i].status), static_cast<int>(crash ? TStatus::Failed : TStatus::Read)) << names[i];
      EXPECT_EQ(files[i].trouble.stop, crash ? row.crashMember : TReaderStop::None) << names[i];
      if (!crash) EXPECT_EQ(bytes[i], members[row.asked[i]].data);
    }
    EXPECT_EQ(reader.Restarts(), row.restarts);
  }
  EXPECT_EQ(MpqArchiveStop(h), TReaderStop::None);
}

}  // namespace
}  // namespace velmora::test
