// Decoding "mpqToLoad.txt": one row per way of getting the archive list wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/MpqToLoad.h"

namespace velmora {
namespace {

using TLines = std::vector<std::string>;

struct TDecodeRow {
  const char* name;
  std::string bytes;
  TLines lines;
};

// UTF-16 bytes of an ASCII text, with the byte-order mark first.
std::string Utf16(std::string_view ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out.push_back('\0');
    out.push_back(c);
    if (!bigEndian) out.push_back('\0');
  }
  return out;
}

std::vector<TDecodeRow> Rows() {
  using namespace std::string_literals;
  return {
      {"empty_file_has_no_lines", "", {}},
      {"lf_separates_lines", "Data\\common.MPQ\nData\\patch.MPQ", {"Data\\common.MPQ", "Data\\patch.MPQ"}},
      {"crlf_is_one_break", "a\r\nb\r\n", {"a", "b"}},
      {"cr_alone_breaks", "a\rb", {"a", "b"}},
      {"final_break_adds_no_line", "a\n", {"a"}},
      {"empty_lines_are_kept", "a\n\n\r\nb", {"a", "", "", "b"}},
      {"single_break_is_one_empty_line", "\n", {""}},
      {"lf_cr_is_two_breaks", "a\n\rb", {"a", "", "b"}},
      {"blanks_are_not_trimmed", " Data\\a.MPQ \t\n", {" Data\\a.MPQ \t"}},
      {"utf8_mark_is_dropped", "\xEF\xBB\xBF" "a.MPQ\n", {"a.MPQ"}},
      {"utf8_mark_alone_gives_no_line", "\xEF\xBB\xBF", {}},
      {"utf16le_decoded", Utf16("Data\\a.MPQ\r\nb\r\n", false), {"Data\\a.MPQ", "b"}},
      {"utf16be_decoded", Utf16("Data\\a.MPQ\nb", true), {"Data\\a.MPQ", "b"}},
      {"utf16le_non_ascii_to_utf8", "\xFF\xFE\xE9\x00\x20\x26"s, {"\xC3\xA9\xE2\x98\xA0"}},
      {"utf16le_surrogate_pair_to_four_bytes", "\xFF\xFE\x3D\xD8\x00\xDE"s, {"\xF0\x9F\x98\x80"}},
      {"utf16le_lone_surrogate_to_replacement", "\xFF\xFE\x3D\xD8\x41\x00"s, {"\xEF\xBF\xBD" "A"}},
      {"utf16_odd_last_byte_dropped", "\xFF\xFE\x41\x00\x42"s, {"A"}},
      {"invalid_utf8_bytes_kept", "Data\\\xE9t\xE9.MPQ\n", {"Data\\\xE9t\xE9.MPQ"}},
      {"nul_ends_the_text", "a\nb\0c\nd"s, {"a", "b"}},
      {"utf16_nul_ends_the_text", Utf16("a\nb", false) + "\0\0c\0"s, {"a", "b"}},
  };
}

TEST(MpqToLoadDecode, EveryRow) {
  for (const TDecodeRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeMpqToLoad(row.bytes), row.lines);
  }
}

}  // namespace
}  // namespace velmora
