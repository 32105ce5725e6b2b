// Export writes only inside its output folder and never over itself: symbolic links planted in the
// output folder (at a file's name, at the temporary name an earlier version used, at a folder)
// lead nowhere outside it, and sources that map onto one output file (two spellings of a path,
// letter case, a mip level against another file's level 0, a file where a folder must be) are
// found before anything is written, the first in archive-path order winning.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "ArchiveWorld.h"
#include "BlpReference.h"
#include "blp/ExportFolder.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

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
  enum class TOutcome { kWritten, kSkipped, kFailed };  // of Tex\Sub\a.blp, at out/Tex/Sub/a.png
  struct Row {
    const char* name;
    std::function<void(const fs::path& out, const fs::path& outside)> plant;
    bool overwrite;
    TOutcome outcome;
    const char* failure;  // part of the reason given for a failure
  };
  auto linkAtFinalName = [](const char* target) {
    return [target](const fs::path& out, const fs::path& outside) {
      fs::create_directories(out / "Tex/Sub");
      fs::create_symlink(outside / target, out / "Tex/Sub/a.png");
    };
  };
  auto linkAtFolder = [](const char* at) {
    return [at](const fs::path& out, const fs::path& outside) {
      fs::create_directories((out / at).parent_path());
      fs::create_directory_symlink(outside / "folder", out / at);
    };
  };
  const Row rows[] = {
      {"link_at_the_final_name_to_a_file_outside_is_replaced", linkAtFinalName("victim.txt"), true, TOutcome::kWritten, ""},
      {"link_at_the_final_name_to_a_new_file_outside_is_replaced", linkAtFinalName("created.png"), true,
       TOutcome::kWritten, ""},
      {"link_at_the_final_name_is_left_alone_without_overwrite", linkAtFinalName("created.png"), false,
       TOutcome::kSkipped, ""},
      {"link_at_the_old_temporary_name",
       [](const fs::path& out, const fs::path& outside) {
         fs::create_directories(out / "Tex/Sub");
         fs::create_symlink(outside / "victim.txt", out / "Tex/Sub/a.png.partial");
         fs::create_symlink(outside / "created.png", out / "Tex/Sub/.a.png.partial");
       },
       false, TOutcome::kWritten, ""},
      {"link_at_a_folder", linkAtFolder("Tex"), true, TOutcome::kFailed,
       "Tex: a symbolic link inside the output folder, not followed"},
      {"link_at_a_deeper_folder", linkAtFolder("Tex/Sub"), false, TOutcome::kFailed,
       "Tex/Sub: a symbolic link inside the output folder, not followed"},
      {"link_to_the_output_folder_itself_below_it",
       [](const fs::path& out, const fs::path&) {
         fs::create_directories(out);
         fs::create_directory_symlink(out, out / "Tex");
       },
       true, TOutcome::kFailed, "Tex: a symbolic link inside the output folder, not followed"},
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
    options.overwrite = row.overwrite;
    const blp::TExportSummary summary = blp::ExportBlpFiles(world.items, options, events);

    EXPECT_EQ(Snapshot(outside), before) << "something outside the output folder changed";
    switch (row.outcome) {
      case TOutcome::kWritten:
        EXPECT_EQ(summary.outputs, 1u) << (events.failures.empty() ? "" : events.failures.begin()->second);
        EXPECT_FALSE(fs::is_symlink(out / "Tex/Sub/a.png"));
        EXPECT_TRUE(PixelsMatch(Level(texture, 0), LoadPng(out / "Tex/Sub/a.png")));
        break;
      case TOutcome::kSkipped:
        EXPECT_EQ(summary.skipped, 1u);
        EXPECT_EQ(summary.outputs, 0u);
        EXPECT_TRUE(fs::is_symlink(out / "Tex/Sub/a.png"));
        break;
      case TOutcome::kFailed:
        EXPECT_EQ(summary.failed, 1u);
        EXPECT_NE(events.failures["Tex\\Sub\\a.blp"].find(row.failure), std::string::npos)
            << events.failures["Tex\\Sub\\a.blp"];
        break;
    }
    for (const auto& e : fs::recursive_directory_iterator(out)) {
      if (!e.is_symlink()) EXPECT_EQ(e.path().string().find(".partial"), std::string::npos) << "left behind: " << e.path();
    }
  }
}

// A file comes into its folder whole, made without a name and linked in or, where the kernel
// cannot link a descriptor, through a temporary name, and never over a name taken meanwhile
// unless overwriting: an export into a folder that held nothing looks for no file first.
TEST(ExportSafety, a_file_comes_in_whole_and_never_over_a_name_taken_meanwhile) {
  TempDir dir;
  std::string error;
  fs::create_directories(dir.path() / "empty");
  fs::create_directories(dir.path() / "used");
  std::ofstream(dir.path() / "used/.hidden") << "x";
  EXPECT_TRUE(blp::TExportFolder::Open((dir.path() / "new/sub").string(), error)->EmptyAtOpen());
  EXPECT_TRUE(blp::TExportFolder::Open((dir.path() / "empty").string(), error)->EmptyAtOpen());
  EXPECT_FALSE(blp::TExportFolder::Open((dir.path() / "used").string(), error)->EmptyAtOpen());

  const std::vector<std::uint8_t> head(124, 'h'), body(70000, 'b');
  const std::span<const std::uint8_t> pieces[] = {head, body};
  const std::string whole = std::string(head.begin(), head.end()) + std::string(body.begin(), body.end());
  int n = 0;
  for (const bool unnamed : {true, false}) {
    for (const bool taken : {false, true}) {
      for (const bool overwrite : {false, true}) {
        SCOPED_TRACE(std::string(unnamed ? "unnamed" : "temporary name") + (taken ? ", taken" : "") +
                     (overwrite ? ", overwrite" : ""));
        const fs::path folder = dir.path() / ("w" + std::to_string(n++));
        const std::optional<blp::TExportFolder> out = blp::TExportFolder::Open(folder.string(), error);
        ASSERT_TRUE(out && out->EmptyAtOpen()) << error;
        if (taken) std::ofstream(folder / "f.dds") << "theirs";
        blp::TTempNames temps;
        temps.unnamed = unnamed;
        const blp::TWriteOutcome outcome =
            blp::WriteFileAt(out->Fd(), "f.dds", pieces, overwrite, "f.dds", temps, error);
        const bool kept = taken && !overwrite;
        EXPECT_EQ(outcome, kept ? blp::TWriteOutcome::kSkipped : blp::TWriteOutcome::kWritten) << error;
        EXPECT_TRUE(ReadAll(folder / "f.dds") == (kept ? "theirs" : whole)) << "f.dds holds the wrong bytes";
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"f.dds"}) << "something else was left in the folder";
      }
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
