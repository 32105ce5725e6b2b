// The system.reg reader: one row per way of getting the installation directory wrong.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "host/Registry.h"

namespace velmora {
namespace {

constexpr const char* kKey = "\\SOFTWARE\\Blizzard Entertainment\\World of Warcraft";
constexpr std::string_view kHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";

struct TRegRow {
  const char* name;
  std::string hive;
  bool keyFound;
  bool hasValue;
  std::uint32_t type;
  std::string data;
};

std::string Hive(std::string_view body) { return std::string(kHeader) + std::string(body); }

const std::string kWowSection = "[Software\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n";
const std::string kWow64Section =
    "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n";
const std::string kInstall = "\"InstallPath\"=\"C:\\\\Games\\\\World of Warcraft\\\\\"\n";

std::vector<TRegRow> Rows() {
  return {
      {"plain_key_string_value", Hive(kWowSection + kInstall), true, true, kRegSz,
       "C:\\Games\\World of Warcraft\\"},
      {"key_names_compare_ignoring_case",
       Hive("[software\\\\BLIZZARD ENTERTAINMENT\\\\world of warcraft]\n" + kInstall), true, true, kRegSz,
       "C:\\Games\\World of Warcraft\\"},
      {"value_names_compare_ignoring_case", Hive(kWowSection + "\"installpath\"=\"D:\\\\Wow\\\\\"\n"), true,
       true, kRegSz, "D:\\Wow\\"},
      {"crlf_line_ends", "WINE REGISTRY Version 2\r\n\r\n[Software\\\\Blizzard Entertainment\\\\World of "
                         "Warcraft] 1\r\n\"InstallPath\"=\"C:\\\\W\\\\\"\r\n",
       true, true, kRegSz, "C:\\W\\"},
      {"win64_prefix_reads_wow6432node_first",
       Hive("#arch=win64\n\n" + kWowSection + "\"InstallPath\"=\"C:\\\\64\\\\\"\n\n" + kWow64Section +
            "\"InstallPath\"=\"C:\\\\32\\\\\"\n"),
       true, true, kRegSz, "C:\\32\\"},
      {"win64_prefix_falls_back_to_plain_key",
       Hive("#arch=win64\n\n" + kWowSection + "\"InstallPath\"=\"C:\\\\64\\\\\"\n"), true, true, kRegSz,
       "C:\\64\\"},
      {"win64_wow_key_without_value_hides_plain_value",
       Hive("#arch=win64\n\n" + kWowSection + kInstall + kWow64Section), true, false, 0, ""},
      {"win32_prefix_ignores_wow6432node",
       Hive(kWowSection + "\"InstallPath\"=\"C:\\\\plain\\\\\"\n" + kWow64Section +
            "\"InstallPath\"=\"C:\\\\32\\\\\"\n"),
       true, true, kRegSz, "C:\\plain\\"},
      {"file_without_header_is_not_found", kWowSection + kInstall, false, false, 0, ""},
      {"empty_file_is_not_found", "", false, false, 0, ""},
      {"missing_key_is_not_found", Hive("[Software\\\\Other]\n" + kInstall), false, false, 0, ""},
      {"key_with_longer_name_is_not_the_key",
       Hive("[Software\\\\Blizzard Entertainment\\\\World of Warcraft2]\n" + kInstall), false, false, 0, ""},
      {"key_existing_only_as_parent_is_found",
       Hive("[Software\\\\Blizzard Entertainment\\\\World of Warcraft\\\\Sub]\n" + kInstall), true, false, 0,
       ""},
      {"value_absent_is_empty", Hive(kWowSection + "\"GamePath\"=\"C:\\\\x\"\n"), true, false, 0, ""},
      {"value_of_other_key_is_not_taken", Hive(kWowSection + "[Software\\\\Other]\n" + kInstall), true, false,
       0, ""},
      {"expand_sz_string", Hive(kWowSection + "\"InstallPath\"=str(2):\"%ProgramFiles%\\\\WoW\\\\\"\n"), true,
       true, kRegExpandSz, "%ProgramFiles%\\WoW\\"},
      {"dword_value_keeps_its_type", Hive(kWowSection + "\"InstallPath\"=dword:0000000a\n"), true, true,
       kRegDword, std::string("\x0a\0\0\0", 4)},
      {"binary_value_over_continuation_lines",
       Hive(kWowSection + "\"InstallPath\"=hex:01,02,\\\n  03,04\n"), true, true, kRegBinary,
       "\x01\x02\x03\x04"},
      {"utf16_hex_string_decoded", Hive(kWowSection + "\"InstallPath\"=hex(1):43,00,3a,00,5c,00,00,00\n"),
       true, true, kRegSz, "C:\\"},
      {"multi_sz_hex_keeps_type_7", Hive(kWowSection + "\"InstallPath\"=hex(7):41,00,00,00,00,00\n"), true,
       true, 7, "A"},
      {"hex_escape_gives_utf8", Hive(kWowSection + "\"InstallPath\"=\"C:\\\\Caf\\x00e9\\\\\"\n"), true, true,
       kRegSz, "C:\\Caf\xC3\xA9\\"},
      {"surrogate_pair_escapes_give_one_code_point",
       Hive(kWowSection + "\"InstallPath\"=\"\\xd83d\\xde00\"\n"), true, true, kRegSz, "\xF0\x9F\x98\x80"},
      {"lone_surrogate_becomes_replacement", Hive(kWowSection + "\"InstallPath\"=\"\\xd83dA\"\n"), true, true,
       kRegSz, "\xEF\xBF\xBD" "A"},
      {"escaped_quote_inside_string", Hive(kWowSection + "\"InstallPath\"=\"a\\\"b\"\n"), true, true, kRegSz,
       "a\"b"},
      {"nul_escape_ends_string", Hive(kWowSection + "\"InstallPath\"=\"ab\\0cd\"\n"), true, true, kRegSz, "ab"},
      {"unterminated_string_is_not_loaded", Hive(kWowSection + "\"InstallPath\"=\"C:\\\\Games\n"), true, false,
       0, ""},
      {"unterminated_section_ends_previous_key",
       Hive(kWowSection + "[Software\\\\Broken\n" + kInstall), true, false, 0, ""},
      {"continuation_line_is_not_a_value",
       Hive(kWowSection + "\"Other\"=hex:01,\\\n\"InstallPath\"=\"evil\"\n"), true, false, 0, ""},
      {"later_duplicate_value_wins", Hive(kWowSection + kInstall + "\"InstallPath\"=\"E:\\\\later\\\\\"\n"),
       true, true, kRegSz, "E:\\later\\"},
      {"default_value_is_not_installpath", Hive(kWowSection + "@=\"C:\\\\default\"\n"), true, false, 0, ""},
      {"value_before_any_key_is_ignored", Hive(kInstall + kWowSection), true, false, 0, ""},
      {"spaces_around_equals_sign", Hive(kWowSection + "\"InstallPath\" = \"C:\\\\s\\\\\"\n"), true, true,
       kRegSz, "C:\\s\\"},
  };
}

TEST(RegistryLookup, EveryRow) {
  for (const TRegRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    const TRegLookup r = LookupWineRegistry(row.hive, kKey, "InstallPath");
    EXPECT_EQ(r.keyFound, row.keyFound);
    ASSERT_EQ(r.value.has_value(), row.hasValue);
    if (!row.hasValue) continue;
    EXPECT_EQ(r.value->type, row.type);
    EXPECT_EQ(r.value->data, row.data);
  }
}

TEST(RegistryLookup, TypeNamesNameTheType) {
  EXPECT_EQ(RegTypeName(kRegDword), "REG_DWORD");
  EXPECT_EQ(RegTypeName(kRegBinary), "REG_BINARY");
  EXPECT_EQ(RegTypeName(7), "REG_MULTI_SZ");
  EXPECT_EQ(RegTypeName(0x1f), "type 0x1f");
}

// Every prefix of a valid hive gives the whole value or none, never a part of it; random bytes
// after a valid header and random splices of hive text never crash or hang (sanitizers watch).
TEST(RegistryLookup, TruncatedAndGarbledHivesGiveWholeValueOrNothing) {
  const std::string hive =
      Hive("#arch=win64\n" + kWowSection + "\"Bin\"=hex:01,02,\\\n  03\n" + kWow64Section + kInstall);
  for (std::size_t n = 0; n <= hive.size(); ++n) {
    const TRegLookup r = LookupWineRegistry(std::string_view(hive).substr(0, n), kKey, "InstallPath");
    if (r.value) {
      ASSERT_EQ(r.value->data, "C:\\Games\\World of Warcraft\\") << "prefix of " << n << " bytes";
    }
  }
  std::mt19937 rng(12345);
  std::size_t found = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string garbled = hive;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % garbled.size();
      switch (rng() % 3) {
        case 0: garbled[at] = static_cast<char>(rng()); break;
        case 1: garbled.erase(at, 1 + rng() % 5); break;
        default: garbled.insert(at, hive.substr(rng() % hive.size(), rng() % 40)); break;
      }
      if (garbled.empty()) garbled = "x";
    }
    if (LookupWineRegistry(garbled, kKey, "InstallPath").keyFound) ++found;
  }
  // Most single edits leave the key readable: the reader does not give up on the whole file.
  EXPECT_GT(found, 1000u);
}

TEST(RegistryLookup, PrefixComesFromWineprefixThenHome) {
  const char* oldPrefix = std::getenv("WINEPREFIX");
  const std::string saved = oldPrefix ? oldPrefix : "";
  setenv("WINEPREFIX", "/x/pfx", 1);
  EXPECT_EQ(WinePrefix(), "/x/pfx");
  EXPECT_EQ(SystemHivePath(), "/x/pfx/system.reg");
  setenv("WINEPREFIX", "", 1);
  const char* home = std::getenv("HOME");
  if (home && *home) EXPECT_EQ(WinePrefix(), std::string(home) + "/.wine");
  if (oldPrefix) setenv("WINEPREFIX", saved.c_str(), 1); else unsetenv("WINEPREFIX");
}

}  // namespace
}  // namespace velmora
