// The helpers every layer shares: the line splitter and whole-file reads.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Escape.h"
#include "base/FileRead.h"
#include "base/Lines.h"
#include "base/SipHash.h"
#include "support/TestData.h"

namespace velmora::test {
namespace {

std::string Escaped(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\0') out += "\\0";
    else out += c;
  }
  return out;
}

struct LinesRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const LinesRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::string text;
  std::vector<std::string> lines;
};

class ListLineRows : public ::testing::TestWithParam<LinesRow> {};

TEST_P(ListLineRows, SplitsText) {
  const LinesRow& row = GetParam();
  std::vector<std::string> lines;
  ForEachLine(row.text, [&](std::size_t begin, std::size_t end) {
    ASSERT_LE(begin, end);
    ASSERT_LE(end, row.text.size());
    lines.push_back(row.text.substr(begin, end - begin));
  });
  std::string got;
  std::string want;
  for (const auto& l : lines) got += "[" + Escaped(l) + "]";
  for (const auto& l : row.lines) want += "[" + Escaped(l) + "]";
  EXPECT_EQ(got, want) << "text " << Escaped(row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLineRows,
    ::testing::Values(
        LinesRow{"crlf_ends_lines", "a\r\nb\r\n", {"a", "b"}},
        LinesRow{"lf_ends_lines", "a\nb\n", {"a", "b"}},
        LinesRow{"cr_ends_lines", "a\rb\r", {"a", "b"}},
        LinesRow{"last_line_without_break", "a\r\nb", {"a", "b"}},
        LinesRow{"mixed_breaks", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        LinesRow{"empty_line_inside_crlf", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        LinesRow{"empty_line_inside_lf", "a\n\nb", {"a", "", "b"}},
        LinesRow{"cr_then_crlf_is_an_empty_line", "a\r\r\nb", {"a", "", "b"}},
        LinesRow{"lf_then_cr_is_two_breaks", "a\n\rb", {"a", "", "b"}},
        LinesRow{"empty_line_at_start", "\r\na", {"", "a"}},
        LinesRow{"two_final_breaks_give_one_empty_line", "a\r\n\r\n", {"a", ""}},
        LinesRow{"lone_break_is_one_empty_line", "\n", {""}},
        LinesRow{"empty_text_has_no_lines", "", {}},
        LinesRow{"nul_ends_the_text", std::string("a\r\nb\0c\r\nd\r\n", 11), {"a", "b"}},
        LinesRow{"nul_first_gives_nothing", std::string("\0a\r\n", 4), {}},
        LinesRow{"nul_after_break_adds_no_line", std::string("a\r\n\0b", 5), {"a"}},
        LinesRow{"blanks_are_left_to_the_caller", "  a \r\n", {"  a "}}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST(FileRead, RefusesWhatIsNoRegularFileAndWhatIsTooLarge) {
  TempDir tmp_;
  std::filesystem::create_directories(tmp_.path() / "pfx/drive_c/Games/WoW/Data");
  std::ofstream(tmp_.path() / "pfx/drive_c/Games/WoW/Data/common.MPQ") << "x";
  const std::string dir = (tmp_.path() / "pfx").string();
  const std::string fifo = (tmp_.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string file = (tmp_.path() / "pfx/drive_c/Games/WoW/Data/common.MPQ").string();

  std::string bytes;
  std::string error;
  EXPECT_TRUE(ReadFileBytes(file, bytes, error));
  EXPECT_EQ(bytes, "x");
  EXPECT_FALSE(ReadFileBytes(fifo, bytes, error));  // must not wait for a writer
  EXPECT_EQ(error, "not a regular file");
  EXPECT_FALSE(ReadFileBytes(dir, bytes, error));
  EXPECT_FALSE(ReadFileBytes(dir + "/missing", bytes, error));
  EXPECT_EQ(error, "No such file or directory");

  EXPECT_FALSE(ReadFileBytes(file, bytes, error, 0));
  EXPECT_EQ(error, "larger than 0 bytes");
  EXPECT_TRUE(bytes.empty());

  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(FileExists(fifo));
  EXPECT_FALSE(FileExists(dir));
  EXPECT_FALSE(FileExists(dir + "/missing"));
}

// The reference vector of SipHash-2-4 (key 00..0f, message 00..0e) checks the rounds that
// SipHash-1-3 shares; the process key differs between processes but is one for the process.
TEST(SipHash, rounds_match_the_reference_and_the_process_key_is_drawn_once) {
  const TSipKey key{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
  std::string message;
  for (char c = 0; c < 15; ++c) message.push_back(c);
  EXPECT_EQ(SipHash24(key, message), 0xA129CA6149BE45E5ull);
  EXPECT_EQ(SipHash24(key, ""), 0x726FDB47DD0E0E31ull);
  EXPECT_NE(SipHash13(key, message), SipHash24(key, message));
  EXPECT_EQ(&ProcessHashKey(), &ProcessHashKey());
  EXPECT_FALSE(ProcessHashKey().k0 == 0 && ProcessHashKey().k1 == 0);
}

// Names from archives reach terminals and logs: escape sequences, bells and C1's CSI must show as
// text, malformed UTF-8 as its bytes, and well-formed names unchanged.
TEST(EscapeName, control_characters_and_malformed_utf8_show_as_hex) {
  const struct {
    std::string_view in;
    std::string_view out;
  } rows[] = {
      {"Textures\\Icons\\a.blp", "Textures\\Icons\\a.blp"},
      {"\x1b]0;title\x07x", "\\x1B]0;title\\x07x"},
      {"a\x7f\nb", "a\\x7F\\x0Ab"},
      {"\xc2\x9b" "2J", "\\xC2\\x9B2J"},       // C1 CSI
      {"caf\xc3\xa9 \xc2\xa0", "caf\xc3\xa9 \xc2\xa0"},  // e-acute and no-break space stay
      {"x\xff\xc3", "x\\xFF\\xC3"},            // malformed and cut short
      {std::string_view("a\0b", 3), "a\\x00b"},
  };
  for (const auto& row : rows) EXPECT_EQ(EscapeName(row.in), row.out) << Escaped(row.in);
}

}  // namespace
}  // namespace velmora::test
