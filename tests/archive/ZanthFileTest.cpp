// Reading files out of archives written at test time: the file handler's positioned reads and
// the file-backed object's lookup of its name in the index.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

// 256 bytes that differ from their neighbours, so a read at the wrong offset shows.
std::string Pattern() {
  std::string s(256, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

// Index of the first differing byte, or "equal".
std::string FirstDifference(const std::string& got, const std::string& want) {
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (got[i] != want[i]) {
      return "byte " + std::to_string(i) + ": got " + std::to_string(static_cast<unsigned char>(got[i])) +
             ", want " + std::to_string(static_cast<unsigned char>(want[i]));
    }
  }
  if (got.size() != want.size()) return "size " + std::to_string(got.size()) + " vs " + std::to_string(want.size());
  return "equal";
}

class ZanthFileTest : public ArchiveIndexTest {
protected:
  void SetUp() override {
    ArchiveIndexTest::SetUp();
    archive_ = AddArchive({{"Tex\\pattern.bin", Pattern()}, {"Tex\\empty.blp", ""}, {"Tex\\one.blp", "1"}},
                          std::string("Tex\\pattern.bin\r\nTex\\empty.blp\r\nTex\\one.blp\r\n"));
    ASSERT_NE(archive_, 0u);
    ASSERT_TRUE(LoadListFile(archive_, nullptr));
  }
  MpqHandle archive_ = 0;
};

struct ReadRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const ReadRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::uint32_t offset;
  std::uint32_t length;
  bool result;
  std::size_t bytesRead;  // how many bytes of the pattern from `offset` land in the buffer
};

class ReadRows : public ZanthFileTest, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(ReadRows, GetDataByOffset) {
  const ReadRow& row = GetParam();
  TZanthFileHandler handler(archive_, "Tex\\pattern.bin");
  ASSERT_NE(handler.Handle(), 0u);
  // A read elsewhere first: every read must position the file itself.
  std::string scratch(5, '\0');
  ASSERT_TRUE(handler.GetDataByOffset(77, 5, scratch.data()));
  const char kUntouched = '\x5A';
  std::string buf(row.length + 8u, kUntouched);
  EXPECT_EQ(handler.GetDataByOffset(row.offset, row.length, buf.data()), row.result);
  const std::string pattern = Pattern();
  const std::string want = row.bytesRead == 0 ? std::string() : pattern.substr(row.offset, row.bytesRead);
  EXPECT_EQ(FirstDifference(buf.substr(0, row.bytesRead), want), "equal");
  for (std::size_t i = row.bytesRead; i < buf.size(); ++i) {
    ASSERT_EQ(buf[i], kUntouched) << "byte " << i << " written past what the file holds";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ReadRows,
    ::testing::Values(ReadRow{"read_inside", 10, 20, true, 20},
                      ReadRow{"read_at_start", 0, 16, true, 16},
                      ReadRow{"whole_file", 0, 256, true, 256},
                      ReadRow{"read_up_to_the_exact_end", 200, 56, true, 56},
                      ReadRow{"last_byte", 255, 1, true, 1},
                      ReadRow{"short_read_at_end_is_false_but_keeps_bytes", 250, 10, false, 6},
                      ReadRow{"whole_file_plus_one_is_false", 0, 257, false, 256},
                      ReadRow{"nonzero_length_at_end_is_false", 256, 1, false, 0},
                      ReadRow{"nonzero_length_beyond_end_is_false", 1000, 4, false, 0},
                      ReadRow{"offset_of_2_gib_is_beyond_end", 0x80000000u, 4, false, 0},
                      ReadRow{"largest_offset_is_beyond_end", 0xFFFFFFFFu, 1, false, 0},
                      ReadRow{"zero_length_inside_is_true", 5, 0, true, 0},
                      ReadRow{"zero_length_at_end_is_true", 256, 0, true, 0},
                      ReadRow{"zero_length_beyond_end_is_true", 100000, 0, true, 0}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST_F(ZanthFileTest, GetHeaderReadsFromStartWhateverEarlierReadsLeft) {
  TZanthFileHandler handler(archive_, "Tex\\pattern.bin");
  const std::string pattern = Pattern();
  std::string buf(40, '\0');
  ASSERT_TRUE(handler.GetDataByOffset(100, 40, buf.data()));
  std::string header(16, '\0');
  EXPECT_TRUE(handler.GetHeader(header.data(), 16));
  EXPECT_EQ(FirstDifference(header, pattern.substr(0, 16)), "equal");
  // A partial read leaves the pointer mid-file; GetHeader still starts at 0.
  std::string tail(10, '\0');
  EXPECT_FALSE(handler.GetDataByOffset(250, 10, tail.data()));
  EXPECT_TRUE(handler.GetHeader(header.data(), 16));
  EXPECT_EQ(FirstDifference(header, pattern.substr(0, 16)), "equal");
}

TEST_F(ZanthFileTest, GetHeaderLongerThanFileIsFalseAndKeepsTheFile) {
  TZanthFileHandler handler(archive_, "Tex\\pattern.bin");
  std::string header(300, '\x5A');
  EXPECT_FALSE(handler.GetHeader(header.data(), 300));
  EXPECT_EQ(FirstDifference(header.substr(0, 256), Pattern()), "equal");
  EXPECT_EQ(header.substr(256), std::string(44, '\x5A'));
}

TEST_F(ZanthFileTest, GetHeaderIntoNullIsFalse) {
  TZanthFileHandler handler(archive_, "Tex\\pattern.bin");
  EXPECT_FALSE(handler.GetHeader(nullptr, 16));
  EXPECT_FALSE(handler.GetHeader(nullptr, 0));
}

TEST_F(ZanthFileTest, OffsetsAndSize) {
  TZanthFileHandler handler(archive_, "Tex\\pattern.bin");
  EXPECT_EQ(handler.GetSize(), 256u);
  EXPECT_EQ(handler.SetOffset(100), 100u);
  EXPECT_EQ(handler.ResetOffset(), 0u);
  EXPECT_EQ(handler.SetOffset(256), 256u);
  // StormLib clamps a position past the end to the size.
  EXPECT_EQ(handler.SetOffset(5000), 256u);
  EXPECT_EQ(handler.SetOffset(0x7FFFFFFFu), 256u);
  EXPECT_EQ(handler.SetOffset(0x80000000u), 256u);
  EXPECT_EQ(handler.SetOffset(0xFFFFFFFFu), 256u);
}

TEST_F(ZanthFileTest, MissingMemberGivesHandleZero) {
  TZanthFileHandler handler(archive_, "Tex\\missing.blp");
  EXPECT_EQ(handler.Handle(), 0u);
  EXPECT_EQ(handler.GetSize(), 0u);
  char c = 'x';
  EXPECT_FALSE(handler.GetDataByOffset(0, 1, &c));
  EXPECT_FALSE(handler.GetHeader(&c, 1));
  EXPECT_EQ(c, 'x');
}

TEST_F(ZanthFileTest, HandlerNamesAreCaseInsensitiveButSlashIsNotBackslash) {
  TZanthFileHandler upper(archive_, "TEX\\PATTERN.BIN");
  EXPECT_NE(upper.Handle(), 0u);
  TZanthFileHandler slash(archive_, "Tex/pattern.bin");
  EXPECT_EQ(slash.Handle(), 0u);
}

struct ObjectRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const ObjectRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::string name;
  std::optional<std::string> content;  // nullopt: no file handler
};

class ObjectRows : public ArchiveIndexTest, public ::testing::WithParamInterface<ObjectRow> {};

TEST_P(ObjectRows, OpensByIndex) {
  const ObjectRow& row = GetParam();
  const MpqHandle h = AddArchive(
      {{"Tex\\a.blp", "a"},
       {"Tex\\empty.blp", ""},
       // The listfile names this one with blanks around it; the trimmed name holds other bytes.
       {"  Tex\\padded.blp ", "padded member"},
       {"Tex\\padded.blp", "trimmed member"},
       {"Tex\\\xE9t\xE9.blp", "latin-1 name"},
       {"Tex/slash.blp", "slash"},
       {"Tex\\unlisted.blp", "unlisted"}},
      std::string("Tex\\a.blp\r\nTex\\empty.blp\r\n  Tex\\padded.blp \r\nTex\\\xE9t\xE9.blp\r\n"
                  "Tex/slash.blp\r\nTex\\absent.blp\r\n"));
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));
  const TZanthObject object(row.name);
  EXPECT_EQ(object.fname(), row.name);
  EXPECT_EQ(ReadObject(row.name), row.content) << Escaped(row.name);
}

INSTANTIATE_TEST_SUITE_P(
    Objects, ObjectRows,
    ::testing::Values(ObjectRow{"name_as_listed", "Tex\\a.blp", "a"},
                      ObjectRow{"lower_case_name_finds_upper_case_key", "tex\\a.blp", "a"},
                      ObjectRow{"upper_case_name", "TEX\\A.BLP", "a"},
                      ObjectRow{"name_with_blanks_is_not_trimmed", " Tex\\a.blp", std::nullopt},
                      ObjectRow{"zero_byte_member_gives_no_handler", "Tex\\empty.blp", std::nullopt},
                      ObjectRow{"padded_listfile_line_opens_the_padded_member", "tex\\padded.blp", "padded member"},
                      ObjectRow{"invalid_utf8_name_opens", "TEX\\\xE9T\xE9.BLP", "latin-1 name"},
                      ObjectRow{"slash_name_opens_by_slash", "tex/slash.blp", "slash"},
                      ObjectRow{"slash_is_not_backslash", "tex\\slash.blp", std::nullopt},
                      ObjectRow{"member_not_listed_is_not_found", "Tex\\unlisted.blp", std::nullopt},
                      ObjectRow{"listed_but_absent_member_gives_no_handler", "Tex\\absent.blp", std::nullopt},
                      ObjectRow{"unknown_name", "Tex\\nothing.blp", std::nullopt},
                      ObjectRow{"empty_name", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.fault); });

// The archive reader hands bytes over through a shared buffer of reader::kSharedBytes: longer
// reads arrive in pieces, and must come out whole and in order.
TEST_F(ArchiveIndexTest, ReadsLongerThanTheSharedBufferArriveWholeAndInOrder) {
  const std::size_t size = reader::kSharedBytes * 2 + reader::kSharedBytes / 2 + 123;
  std::string big(size, '\0');
  for (std::size_t i = 0; i < size; ++i) big[i] = static_cast<char>((i * 2654435761u) >> 11);
  const MpqHandle h = AddArchive({{"big.bin", big}}, std::string("big.bin\r\n"));
  ASSERT_NE(h, 0u);
  TZanthFileHandler handler(h, "big.bin");
  ASSERT_EQ(handler.GetSize(), size);
  struct {
    std::uint32_t offset, length;
    bool result;
    std::size_t bytesRead;
  } const rows[] = {
      {0, static_cast<std::uint32_t>(size), true, size},
      {1000, static_cast<std::uint32_t>(size - 1000), true, size - 1000},
      {reader::kSharedBytes - 10, reader::kSharedBytes + 20, true, reader::kSharedBytes + 20},
      // Short at the end, in the third piece.
      {reader::kSharedBytes - 10, static_cast<std::uint32_t>(size), false, size - (reader::kSharedBytes - 10)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("offset " + std::to_string(row.offset) + ", length " + std::to_string(row.length));
    std::string buf(row.length, '\x5A');
    EXPECT_EQ(handler.GetDataByOffset(row.offset, row.length, buf.data()), row.result);
    EXPECT_EQ(FirstDifference(buf.substr(0, row.bytesRead), big.substr(row.offset, row.bytesRead)), "equal");
    EXPECT_EQ(buf.find_first_not_of('\x5A', row.bytesRead), std::string::npos) << "written past the file";
  }
}

TEST_F(ArchiveIndexTest, ObjectWithoutIndexHasNoHandler) {
  AddArchive({{"a.blp", "a"}}, std::string("a.blp\r\n"));
  FreeArchiveIndex();
  const TZanthObject object("a.blp");
  EXPECT_EQ(object.FileHandler(), nullptr);
  CreateArchiveIndex();
}

// A derived object reads through its base's handler until its own destructor has run.
class TReadsOnDestroy : public TZanthObject {
public:
  TReadsOnDestroy(const std::string& name, std::string& sink) : TZanthObject(name), sink_(sink) {}
  ~TReadsOnDestroy() override {
    if (FileHandler() == nullptr) return;
    std::string buf(3, '\0');
    if (FileHandler()->GetHeader(buf.data(), 3)) sink_ = buf;
  }

private:
  std::string& sink_;
};

TEST_F(ArchiveIndexTest, DerivedObjectStillReadsInItsDestructor) {
  AddArchive({{"a.blp", "abc"}}, std::string("a.blp\r\n"));
  ASSERT_TRUE(LoadListFile((*MpqList)[0], nullptr));
  std::string sink;
  { const TReadsOnDestroy object("A.BLP", sink); }
  EXPECT_EQ(sink, "abc");
}

TEST_F(ArchiveIndexTest, ObjectKeepsItsFileWhileOpenAndClosesItWhenDestroyed) {
  AddArchive({{"a.blp", "abc"}}, std::string("a.blp\r\n"));
  ASSERT_TRUE(LoadListFile((*MpqList)[0], nullptr));
  std::vector<std::unique_ptr<TZanthObject>> objects;
  for (int i = 0; i < 50; ++i) objects.push_back(std::make_unique<TZanthObject>("a.blp"));
  for (const auto& o : objects) {
    ASSERT_NE(o->FileHandler(), nullptr);
    char buf[3] = {};
    EXPECT_TRUE(o->FileHandler()->GetHeader(buf, 3));
    EXPECT_EQ(std::string(buf, 3), "abc");
  }
  // Leak checking at exit catches a handler that does not close its archive file.
  objects.clear();
}

}  // namespace
}  // namespace velmora::test
