// The archive path rules shared by the file index and the file tree: keys, file names,
// extensions and directories.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/PathParts.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

struct KeyRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const KeyRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::string path;
  std::string key;
};

class MakeKeyRows : public ::testing::TestWithParam<KeyRow> {};

TEST_P(MakeKeyRows, GivesKey) {
  const KeyRow& row = GetParam();
  EXPECT_EQ(Escaped(MakeKey(row.path)), Escaped(row.key)) << "path " << Escaped(row.path);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MakeKeyRows,
    ::testing::Values(
        KeyRow{"lower_case_letters_fold_to_upper", "textures\\minimap\\map01.blp", "TEXTURES\\MINIMAP\\MAP01.BLP"},
        KeyRow{"blanks_around_are_trimmed", "  Textures\\a.blp ", "TEXTURES\\A.BLP"},
        KeyRow{"controls_at_or_below_space_are_trimmed", "\t\x01\x1F" "a.blp\x7\r\n ", "A.BLP"},
        KeyRow{"blanks_inside_are_kept", "My Folder\\my file.blp", "MY FOLDER\\MY FILE.BLP"},
        KeyRow{"delete_char_is_not_trimmed", "\x7F" "a\x7F", "\x7F" "A\x7F"},
        KeyRow{"utf8_letters_keep_their_case", "\xC3\xA4rger.blp", "\xC3\xA4RGER.BLP"},
        KeyRow{"invalid_utf8_bytes_stay_as_they_are", "\xE9t\xE9.blp", "\xE9T\xE9.BLP"},
        KeyRow{"high_bytes_near_letters_do_not_fold", "\xE1\xF5\xFA", "\xE1\xF5\xFA"},
        KeyRow{"byte_order_mark_is_not_trimmed", "\xEF\xBB\xBFtex\\a.blp", "\xEF\xBB\xBFTEX\\A.BLP"},
        KeyRow{"slash_is_not_turned_into_backslash", "tex/a.blp", "TEX/A.BLP"},
        KeyRow{"only_a_to_z_change", "@[`{az_AZ09~", "@[`{AZ_AZ09~"},
        KeyRow{"blank_line_gives_empty_key", " \t ", ""},
        KeyRow{"empty_path_gives_empty_key", "", ""}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST(UpperAscii, FoldsEveryByteLikeUpperAsciiChar) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string upper = UpperAscii(all);
  ASSERT_EQ(upper.size(), 256u);
  for (int c = 0; c < 256; ++c) {
    const int expected = (c >= 'a' && c <= 'z') ? c - 32 : c;
    EXPECT_EQ(static_cast<unsigned char>(upper[static_cast<std::size_t>(c)]), expected) << "byte " << c;
    EXPECT_EQ(static_cast<unsigned char>(UpperAsciiChar(static_cast<char>(c))), expected) << "byte " << c;
  }
}

TEST(TrimBlanks, IsAViewIntoTheGivenText) {
  const std::string text = "  a b ";
  const std::string_view t = TrimBlanks(text);
  EXPECT_EQ(t, "a b");
  EXPECT_EQ(t.data(), text.data() + 2);
  EXPECT_TRUE(TrimBlanks("   ").empty());
}

struct PartsRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const PartsRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::string path;
  std::string fileName;
  std::string extension;
  std::string directory;
};

class PathPartRows : public ::testing::TestWithParam<PartsRow> {};

TEST_P(PathPartRows, SplitsPath) {
  const PartsRow& row = GetParam();
  EXPECT_EQ(FileNamePart(row.path), row.fileName) << "file name of " << row.path;
  EXPECT_EQ(ExtensionPart(row.path), row.extension) << "extension of " << row.path;
  EXPECT_EQ(DirectoryPart(row.path), row.directory) << "directory of " << row.path;
}

INSTANTIATE_TEST_SUITE_P(
    Parts, PathPartRows,
    ::testing::Values(
        PartsRow{"plain_path", "TEXTURES\\MINIMAP\\MAP01.BLP", "MAP01.BLP", ".BLP", "TEXTURES\\MINIMAP"},
        PartsRow{"no_separator_gives_empty_directory", "MAP01.BLP", "MAP01.BLP", ".BLP", ""},
        PartsRow{"empty_path", "", "", "", ""},
        PartsRow{"leading_separator_is_kept", "\\A.BLP", "A.BLP", ".BLP", "\\"},
        PartsRow{"doubled_separator_keeps_one_at_end", "A\\\\B.BLP", "B.BLP", ".BLP", "A\\\\"},
        PartsRow{"tripled_separator_keeps_two_at_end", "A\\\\\\B", "B", "", "A\\\\\\"},
        PartsRow{"colon_is_a_separator_and_kept", "C:A.BLP", "A.BLP", ".BLP", "C:"},
        PartsRow{"backslash_after_colon_is_kept", "C:\\A.BLP", "A.BLP", ".BLP", "C:\\"},
        PartsRow{"colon_after_folder_is_kept", "DIR\\X:Y.BLP", "Y.BLP", ".BLP", "DIR\\X:"},
        PartsRow{"trailing_separator_gives_empty_name", "A\\B\\", "", "", "A\\B"},
        PartsRow{"dot_in_folder_is_no_extension", "A.B\\C", "C", "", "A.B"},
        PartsRow{"dot_in_folder_before_colon_is_no_extension", "A.B:C", "C", "", "A.B:"},
        PartsRow{"last_dot_wins", "A\\B.TAR.GZ", "B.TAR.GZ", ".GZ", "A"},
        PartsRow{"name_ending_in_dot", "A\\B.", "B.", ".", "A"},
        PartsRow{"dot_file", "A\\.BLP", ".BLP", ".BLP", "A"},
        PartsRow{"slash_is_not_a_separator", "A/B.BLP", "A/B.BLP", ".BLP", ""},
        PartsRow{"dot_after_slash_counts", "A.X/B", "A.X/B", ".X/B", ""},
        PartsRow{"lone_separator", "\\", "", "", "\\"},
        PartsRow{"lone_colon", ":", "", "", ":"}),
    [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace velmora::test
