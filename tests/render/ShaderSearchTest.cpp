// The shader folder search on a real GL (Mesa, headless EGL): which of the working directory,
// the installed data folder and the source tree is used, that the loader then reads from that
// folder (every other folder holds sources that do not compile), the one log line naming a
// folder other than the working directory (after a line naming the file that a working directory
// holding only one of them lacks), and the loader's own "File not found" line, as before, when no
// folder holds both files.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ShaderFixture.h"

namespace fs = std::filesystem;
using namespace velmora;
using test::kFragmentOk;
using test::kVertexOk;

namespace {

constexpr const char* kBroken = "#version 130\nvoid main() { notDeclared = 1; }\n";

enum class Place { Cwd, Installed, Source, None };

// What a folder holds: "vf" both files, "v" or "f" one of them, "vD" the vertex file and a
// directory named fragment.glsl, "" nothing.
struct SearchRow {
  const char* name;
  const char* cwd;
  const char* installed;
  const char* source;
  bool runFromBuildFolder;  // the executable lies in the folder VelmoraGL is built into
  Place expected;
  const char* missingLogged;  // the loader's line when nothing is found
  const char* passedOver = "";  // the working directory's lacking file, said when it is passed over
};

void PrintTo(const SearchRow& row, std::ostream* os) { *os << row.name; }

// shader/ under `base` with the files `what` names; good sources only in the chosen place.
void Fill(const fs::path& base, const std::string& what, bool chosen) {
  fs::create_directories(base / "shader");
  if (what.find('v') != std::string::npos) {
    std::ofstream(base / "shader/vertex.glsl", std::ios::binary) << (chosen ? kVertexOk : kBroken);
  }
  if (what.find('f') != std::string::npos) {
    std::ofstream(base / "shader/fragment.glsl", std::ios::binary) << (chosen ? kFragmentOk : kBroken);
  }
  if (what.find('D') != std::string::npos) fs::create_directories(base / "shader/fragment.glsl");
}

class ShaderSearchAgain : public test::ShaderFixture {
protected:
  test::TempDir root_;
};

class ShaderSearch : public ShaderSearchAgain, public ::testing::WithParamInterface<SearchRow> {};

TEST_P(ShaderSearch, first_folder_with_both_files_is_used_and_named_in_the_log) {
  const SearchRow& row = GetParam();
  const fs::path cwd = root_.path() / "work";
  const fs::path installed = root_.path() / "prefix/share/velmora";
  const fs::path source = root_.path() / "src";
  const fs::path buildProgramDir = root_.path() / "build/app";
  fs::create_directories(root_.path() / "prefix/bin");
  fs::create_directories(buildProgramDir);
  // With no complete folder the loader reads the working directory, as it always did.
  Fill(cwd, row.cwd, row.expected == Place::Cwd || row.expected == Place::None);
  Fill(installed, row.installed, row.expected == Place::Installed);
  Fill(source, row.source, row.expected == Place::Source);
  fs::current_path(cwd);

  const fs::path exeDir = row.runFromBuildFolder ? buildProgramDir : root_.path() / "prefix/bin";
  // From the build folder the data folder would be build/share/velmora, which does not exist.
  UseShaderBaseDir(ShaderList, ShaderBaseDirCandidates(exeDir.string(), "../share/velmora",
                                                       buildProgramDir.string(), source.string()));
  std::vector<std::string> expectedLog;
  const fs::path chosenShaders = (row.expected == Place::Installed ? installed : source) / "shader";
  if (*row.passedOver != '\0') {
    expectedLog.push_back((cwd / "shader").string() + ": " + row.passedOver + " missing, shaders from " +
                          chosenShaders.string());
  }
  switch (row.expected) {
    case Place::Cwd:
    case Place::None:
      EXPECT_EQ(ShaderBaseDir, "");
      break;
    case Place::Installed:
      EXPECT_EQ(fs::path(ShaderBaseDir).lexically_normal(), installed);
      expectedLog.push_back("Shaders from " + (installed / "shader").string());
      break;
    case Place::Source:
      EXPECT_EQ(ShaderBaseDir, source.string());
      expectedLog.push_back("Shaders from " + (source / "shader").string());
      break;
  }
  EXPECT_EQ(Messages(), expectedLog) << "after the search";

  const GLuint program = LoadShaders(ShaderList);
  if (row.expected == Place::None) {
    EXPECT_EQ(program, 0u);
    expectedLog.push_back(std::string("File not found ") + row.missingLogged);
  } else {
    ASSERT_NE(program, 0u) << "a stage was read from another folder";
    GLint linked = 0;
    Gl.GetProgramiv(program, gl::LINK_STATUS, &linked);
    EXPECT_EQ(linked, 1);
    Gl.DeleteProgram(program);
  }
  EXPECT_EQ(Messages(), expectedLog) << "after loading";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ShaderSearch,
    ::testing::Values(
        SearchRow{"working_directory_comes_first", "vf", "vf", "vf", true, Place::Cwd, ""},
        SearchRow{"installed_data_folder_when_the_working_directory_has_none", "", "vf", "vf", false,
                  Place::Installed, ""},
        SearchRow{"working_directory_missing_a_file_is_passed_over_and_says_which", "v", "vf", "", false,
                  Place::Installed, "", "fragment.glsl"},
        SearchRow{"directory_named_like_a_file_does_not_count", "vD", "vf", "", false, Place::Installed, "",
                  "fragment.glsl"},
        SearchRow{"source_tree_when_run_from_the_build_folder", "f", "", "vf", true, Place::Source, "", "vertex.glsl"},
        SearchRow{"source_tree_never_for_a_copy_installed_elsewhere", "", "v", "vf", false, Place::None,
                  "shader\\vertex.glsl"},
        SearchRow{"nowhere_keeps_the_loaders_missing_file_line", "v", "f", "", false, Place::None,
                  "shader\\fragment.glsl"}),
    [](const auto& info) { return std::string(info.param.name); });

// A second window searches afresh: the folder an earlier search chose does not stand in for the
// working directory of the next, which still has no shaders.
TEST_F(ShaderSearchAgain, a_second_search_finds_the_same_folder_again) {
  const fs::path installed = root_.path() / "prefix/share/velmora";
  Fill(installed, "vf", true);
  Fill(root_.path() / "work", "", false);
  fs::current_path(root_.path() / "work");
  for (int search = 1; search <= 2; ++search) {
    UseShaderBaseDir(ShaderList, {"", installed.string()});
    EXPECT_EQ(fs::path(ShaderBaseDir), installed) << "search " << search;
  }
}

}  // namespace
