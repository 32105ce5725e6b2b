// The headless export as a script or a person at a terminal meets it: the summary line that ends
// every run (after the progress line on a terminal, alone without one), files already there
// skipped or, with --overwrite, replaced, and an export killed midway leaving no incomplete file
// under a final name.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BlpReference.h"
#include "ProgramRun.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

BlpFile Texture(std::uint32_t seed, std::uint32_t size = 8) { return RandomBlp(1, 8, 8, size, size, 0, seed); }

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST(ExportRun, the_summary_line_ends_every_run_with_and_without_a_terminal) {
  TempDir dir;
  std::string truncated = WriteBlp(Texture(3));
  truncated.resize(truncated.size() - 10);
  WriteMpq(dir.path() / "t.MPQ",
           {{"Tex\\a.blp", WriteBlp(Texture(1))}, {"Tex\\b.blp", WriteBlp(Texture(2))}, {"Tex\\short.blp", truncated}},
           ListFileOf({{"Tex\\a.blp", ""}, {"Tex\\b.blp", ""}, {"Tex\\short.blp", ""}}));
  const std::string failure =
      "VelmoraGL: Tex\\short.blp: level 0 lacks 10 bytes (the file ends early or sizes[0] is too small)\n";
  struct Row {
    const char* name;
    bool terminal;
    bool overwrite;
    std::string summary;
  };
  const Row rows[] = {
      {"script_gets_failures_and_the_summary_alone", false, false,
       "1 files written, 1 failed, 1 skipped (already there) in out\n"},
      {"terminal_gets_the_summary_after_the_progress_line", true, false,
       "1 files written, 1 failed, 1 skipped (already there) in out\n"},
      {"overwrite_replaces_the_file_already_there", false, true,
       "2 files written, 1 failed, 0 skipped (already there) in out\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir.path() / "out");
    fs::create_directories(dir.path() / "out/Tex");
    std::ofstream(dir.path() / "out/Tex/b.png") << "already there";
    std::vector<std::string> args{(dir.path() / "t.MPQ").string(), "--export", "*", "--out", "out"};
    if (row.overwrite) args.push_back("--overwrite");
    const TRun r = RunProgram(args, dir.path(), (dir.path() / "absent").string(), row.terminal);
    EXPECT_EQ(r.status, 1);
    if (row.terminal) {
      // Progress lines redraw column 0 ("\r", clear to the end of the line); the summary follows
      // the last one on a cleared line.
      EXPECT_NE(r.err.find("\r\033[K[3/3] "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(failure), std::string::npos) << r.err;
      EXPECT_TRUE(EndsWith(r.err, "\r\033[K" + row.summary)) << r.err;
    } else {
      EXPECT_EQ(r.err, failure + row.summary);
    }
    const BlpFile b = Texture(2);
    if (row.overwrite) {
      EXPECT_TRUE(PixelsMatch(ExpectedLevel(b, b.levels[0], 8, 8, DxtRules::Hardware), LoadPng(dir.path() / "out/Tex/b.png")));
    } else {
      std::ifstream in(dir.path() / "out/Tex/b.png");
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "already there");
    }
  }
}

// Killed at several points of an export of many large images, the program leaves every file
// under its final name whole: files are written under another name and renamed when complete.
TEST(ExportRun, an_export_killed_midway_leaves_no_incomplete_file_under_a_final_name) {
  constexpr int kTextures = 48;
  TempDir dir;
  std::vector<MpqMember> members;
  for (int i = 0; i < kTextures; ++i) {
    members.push_back({"Tex\\t" + std::to_string(i) + ".blp", WriteBlp(Texture(static_cast<std::uint32_t>(i), 256))});
  }
  WriteMpq(dir.path() / "t.MPQ", members, ListFileOf(members));
  std::size_t interrupted = 0;
  for (const std::size_t killAfter : {1u, 5u, 15u}) {
    SCOPED_TRACE("killed after " + std::to_string(killAfter) + " files");
    const fs::path out = dir.path() / ("out" + std::to_string(killAfter));
    const pid_t pid = StartProgram({(dir.path() / "t.MPQ").string(), "--export", "*", "--out", out.string()}, dir.path(),
                                   (dir.path() / "absent").string());
    ASSERT_GT(pid, 0);
    auto finals = [&] {
      std::vector<fs::path> files;
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(out / "Tex", ec)) {
        if (e.path().filename().string()[0] != '.') files.push_back(e.path());
      }
      return files;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (finals().size() < killAfter && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::vector<fs::path> files = finals();
    if (files.size() < static_cast<std::size_t>(kTextures)) ++interrupted;
    for (const fs::path& f : files) {
      const int i = std::stoi(f.stem().string().substr(1));
      const BlpFile t = Texture(static_cast<std::uint32_t>(i), 256);
      EXPECT_TRUE(PixelsMatch(ExpectedLevel(t, t.levels[0], 256, 256, DxtRules::Hardware), LoadPng(f), 0, 2)) << f;
    }
  }
  EXPECT_GT(interrupted, 0u) << "every export finished before it was killed: nothing was tested";
}

}  // namespace
}  // namespace velmora::test
