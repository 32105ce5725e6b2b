// Windows-style paths mapped onto a real directory tree laid out like a Wine prefix.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestData.h"
#include "host/HostPath.h"

namespace fs = std::filesystem;

namespace velmora {
namespace {

class HostPathTest : public ::testing::Test {
protected:
  void SetUp() override {
    prefix_ = (tmp_.path() / "pfx").string();
    fs::create_directories(tmp_.path() / "pfx/drive_c/Games/WoW/Data/enUS");
    fs::create_directories(tmp_.path() / "pfx/dosdevices");
    fs::create_directory_symlink("../drive_c", tmp_.path() / "pfx/dosdevices/c:");
    Touch("pfx/drive_c/Games/WoW/Data/common.MPQ");
    Touch("pfx/drive_c/Games/WoW/Data/enUS/locale-enUS.MPQ");
    Touch("pfx/drive_c/Games/WoW/Data/twin.mpq");
    Touch("pfx/drive_c/Games/WoW/Data/TWIN.MPQ");
  }
  void Touch(const std::string& rel) { std::ofstream(tmp_.path() / rel) << "x"; }
  std::string Drive() const { return prefix_ + "/dosdevices/c:"; }

  test::TempDir tmp_;
  std::string prefix_;
};

TEST_F(HostPathTest, WindowsPathsMapOntoTheDriveLinks) {
  struct {
    const char* name;
    std::string in;
    std::string out;
  } rows[] = {
      {"drive_letter_goes_through_dosdevices", "C:\\Games\\WoW\\Data\\common.MPQ",
       Drive() + "/Games/WoW/Data/common.MPQ"},
      {"lower_case_drive_letter", "c:\\Games\\WoW\\Data\\common.MPQ", Drive() + "/Games/WoW/Data/common.MPQ"},
      {"components_matched_ignoring_case", "C:\\GAMES\\wow\\data\\Common.mpq",
       Drive() + "/Games/WoW/Data/common.MPQ"},
      {"nested_folder_matched_ignoring_case", "C:\\Games\\WoW\\DATA\\ENUS\\Locale-enUS.mpq",
       Drive() + "/Games/WoW/Data/enUS/locale-enUS.MPQ"},
      {"missing_component_kept_as_spelt", "C:\\Games\\Nope\\Data\\common.MPQ",
       Drive() + "/Games/Nope/Data/common.MPQ"},
      {"several_case_variants_take_the_smallest_name", "C:\\Games\\WoW\\Data\\Twin.Mpq",
       Drive() + "/Games/WoW/Data/TWIN.MPQ"},
      {"trailing_backslash_kept", "C:\\games\\wow\\", Drive() + "/Games/WoW/"},
      {"drive_relative_path_starts_at_drive_root", "C:Games\\WoW", Drive() + "/Games/WoW"},
      {"host_path_with_backslashes", prefix_ + "/drive_c/games\\WOW\\Data\\common.mpq",
       prefix_ + "/drive_c/Games/WoW/Data/common.MPQ"},
      {"exact_host_path_unchanged", prefix_ + "/drive_c/Games", prefix_ + "/drive_c/Games"},
      {"empty_path_stays_empty", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(MapWindowsPath(row.in, prefix_), row.out);
  }
}

TEST_F(HostPathTest, RelativePathsStartAtTheCurrentDirectory) {
  const fs::path old = fs::current_path();
  fs::current_path(tmp_.path() / "pfx/drive_c/Games/WoW");
  EXPECT_EQ(MapWindowsPath("data\\COMMON.mpq", prefix_), "Data/common.MPQ");
  EXPECT_EQ(MapWindowsPath("GameData\\common.MPQ", prefix_), "GameData/common.MPQ");
  fs::current_path(old);
}

}  // namespace
}  // namespace velmora
