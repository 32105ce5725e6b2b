// Export writes only inside its output folder and never over itself: symbolic links planted in the
// output folder (at a file's name, at the temporary name an earlier version used, at a folder)
// lead nowhere outside it, and sources that map onto one output file (two spellings of a path,
// letter case, a mip level against another file's level 0, a file where a folder must be) are
// found before anything is written, the first in archive-path order winning.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "BlpReference.h"
#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

class TKeepFailures : public blp::TExportEvents {
public:
  void Failed(const std::string& path, const std::string& reason) override { failures[path] = reason; }
  std::map<std::string, std::string> failures;
};

// Archives opened into the file index, in the order given; every listed path becomes an item.
class TArchives {
public:
  explicit TArchives(const std::vector<std::vector<MpqMember>>& archives) {
    CreateArchiveIndex();
    for (std::size_t i = 0; i < archives.size(); ++i) {
      const fs::path file = dir.path() / ("a" + std::to_string(i) + ".MPQ");
      WriteMpq(file, archives[i], ListFileOf(archives[i]));
      TArchiveHandle h;
      EXPECT_TRUE(OpenMpqArchive(file.string(), h)) << file;
      MpqList->Append(std::move(h));
    }
    for (MpqHandle h : *MpqList) {
      LoadListFile(h, [this](std::string_view p) { items.push_back({std::string(p), {}}); });
    }
  }
  ~TArchives() { FreeArchiveIndex(); }
  TArchives(const TArchives&) = delete;
  TArchives& operator=(const TArchives&) = delete;

  TempDir dir;
  std::vector<blp::TExportItem> items;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every entry below `root` with its kind and, for files, contents: what must not change.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    out[rel] = e.is_symlink() ? "link" : e.is_directory() ? "folder" : ReadAll(e.path());
  }
  return out;
}

RgbaImage Level(const BlpFile& f, std::size_t level) {
  const std::uint32_t w = std::max(f.width >> level, 1u), h = std::max(f.height >> level, 1u);
  return ExpectedLevel(f, f.levels[level], w, h, DxtRules::Hardware);
}

TEST(ExportSafety, links_planted_in_the_output_folder_lead_nowhere_outside_it) {
  const BlpFile texture = RandomBlp(1, 8, 8, 8, 4, 0, 11);
  struct Row {
    const char* name;
    std::function<void(const fs::path& out, const fs::path& outside)> plant;
    bool written;               // the texture still arrives at out/Tex/Sub/a.png
    const char* failure;        // part of the reason given for Tex\Sub\a.blp ("" for none)
  };
  const Row rows[] = {
      {"link_at_the_final_name_to_a_file_outside",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out / "Tex/Sub");
         fs::create_symlink(outside / "victim.txt", out / "Tex/Sub/a.png");
       },
       true, ""},
      {"link_at_the_final_name_to_a_new_file_outside",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out / "Tex/Sub");
         fs::create_symlink(outside / "created.png", out / "Tex/Sub/a.png");
       },
       true, ""},
      {"link_at_the_old_temporary_name",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out / "Tex/Sub");
         fs::create_symlink(outside / "victim.txt", out / "Tex/Sub/a.png.partial");
         fs::create_symlink(outside / "created.png", out / "Tex/Sub/.a.png.partial");
       },
       true, ""},
      {"link_at_a_folder",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out);
         fs::create_directory_symlink(outside / "folder", out / "Tex");
       },
       false, "a symbolic link inside the output folder, not followed"},
      {"link_at_a_deeper_folder",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out / "Tex");
         fs::create_directory_symlink(outside / "folder", out / "Tex/Sub");
       },
       false, "Tex/Sub: a symbolic link inside the output folder, not followed"},
      {"link_to_the_output_folder_itself_below_it",
       [](const fs::path& out, const fs::path&) {
         fs::create_directories(out);
         fs::create_directory_symlink(out, out / "Tex");
       },
       false, "a symbolic link inside the output folder, not followed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TArchives world({{{"Tex\\Sub\\a.blp", WriteBlp(texture)}}});
    const fs::path out = world.dir.path() / "out", outside = world.dir.path() / "outside";
    fs::create_directories(outside / "folder");
    std::ofstream(outside / "victim.txt") << "not to be touched";
    row.plant(out, outside);
    const auto before = Snapshot(outside);

    TKeepFailures events;
    blp::TExportOptions options;
    options.outDir = out.string();
    options.overwrite = true;
    const blp::TExportSummary summary = blp::ExportBlpFiles(world.items, options, events);

    EXPECT_EQ(Snapshot(outside), before) << "something outside the output folder changed";
    if (row.written) {
      EXPECT_EQ(summary.failed, 0u) << events.failures.begin()->second;
      EXPECT_FALSE(fs::is_symlink(out / "Tex/Sub/a.png"));
      EXPECT_TRUE(PixelsMatch(Level(texture, 0), LoadPng(out / "Tex/Sub/a.png")));
    } else {
      EXPECT_EQ(summary.failed, 1u);
      EXPECT_NE(events.failures["Tex\\Sub\\a.blp"].find(row.failure), std::string::npos)
          << events.failures["Tex\\Sub\\a.blp"];
    }
    for (const auto& e : fs::recursive_directory_iterator(out)) {
      if (!e.is_symlink()) EXPECT_EQ(e.path().string().find(".partial"), std::string::npos) << "left behind: " << e.path();
    }
  }
}

TEST(ExportSafety, sources_that_meet_in_one_output_file_are_found_before_writing) {
  // Seeds tell the textures apart; J has three levels, K one.
  const BlpFile sl1 = RandomBlp(1, 8, 8, 4, 4, 0, 1), sl2 = RandomBlp(1, 8, 8, 4, 4, 0, 2);
  const BlpFile case1 = RandomBlp(1, 8, 8, 4, 4, 0, 3), case2 = RandomBlp(1, 8, 8, 4, 4, 0, 4);
  const BlpFile j = RandomBlp(1, 8, 8, 4, 4, 1, 5), jMip1 = RandomBlp(1, 8, 8, 4, 4, 0, 6);
  const BlpFile k = RandomBlp(1, 8, 8, 4, 4, 0, 7), kMip1 = RandomBlp(1, 8, 8, 4, 4, 0, 8);
  const BlpFile f = RandomBlp(1, 8, 8, 4, 4, 0, 9), fInside = RandomBlp(1, 8, 8, 4, 4, 0, 10);
  // The later archive holds the earlier winners, so the winner is no matter of archive order.
  TArchives world({{{"sl\\b.blp", WriteBlp(sl2)}, {"CASE\\x.blp", WriteBlp(case2)}, {"J.mip1.blp", WriteBlp(jMip1)},
                    {"f.png\\g.blp", WriteBlp(fInside)}, {"K.mip1.blp", WriteBlp(kMip1)}},
                   {{"sl/b.blp", WriteBlp(sl1)}, {"Case/x.blp", WriteBlp(case1)}, {"J.blp", WriteBlp(j)},
                    {"f.blp", WriteBlp(f)}, {"K.blp", WriteBlp(k)}}});
  TKeepFailures events;
  blp::TExportOptions options;
  options.outDir = (world.dir.path() / "out").string();
  options.mips = true;
  const blp::TExportSummary summary = blp::ExportBlpFiles(world.items, options, events);

  struct Row {
    const char* name;
    const char* loser;   // not written, named with this reason
    std::string reason;
    const char* file;    // the winner's output file
    const BlpFile* shows;
    std::size_t level;
  };
  const Row rows[] = {
      {"slash_and_backslash_spell_one_path", "sl\\b.blp", "same output file as sl/b.blp", "sl/b.png", &sl1, 0},
      {"letter_case_only", "CASE\\x.blp", "same output file as Case/x.blp", "Case/x.png", &case1, 0},
      {"mip_level_against_another_files_level_0", "J.mip1.blp", "same output file as J.blp", "J.mip1.png", &j, 1},
      {"file_where_another_needs_a_folder", "f.png\\g.blp", "output folder f.png is the output file of f.blp",
       "f.png", &f, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(events.failures[row.loser], row.reason);
    EXPECT_TRUE(PixelsMatch(Level(*row.shows, row.level), LoadPng(world.dir.path() / "out" / row.file)));
  }
  // K has one level: K.mip1.png is K.mip1.blp's alone.
  EXPECT_EQ(events.failures.count("K.mip1.blp"), 0u);
  EXPECT_TRUE(PixelsMatch(Level(kMip1, 0), LoadPng(world.dir.path() / "out/K.mip1.png")));
  EXPECT_EQ(events.failures.size(), std::size(rows));
  EXPECT_EQ(summary.failed, std::size(rows));
  EXPECT_FALSE(fs::exists(world.dir.path() / "out/CASE")) << "the losing spelling made a folder";
}

}  // namespace
}  // namespace velmora::test
