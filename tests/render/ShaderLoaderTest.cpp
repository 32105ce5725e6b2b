// The shader program loader on a real GL (Mesa, headless EGL): missing files, compiler and
// linker logs reaching the log file with CR LF line ends, empty and unopenable sources, and the
// info-log text conversion.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ShaderFixture.h"

namespace fs = std::filesystem;
using namespace velmora;
using test::kFragmentOk;
using test::kVertexOk;

namespace {

// Two undeclared names on two lines: the compiler reports two errors, one log line each.
constexpr const char* kVertexTwoErrors = R"(#version 130
void main() {
  gl_Position = vec4(undeclaredOne, 0.0, 0.0, 1.0);
  gl_Position.x += undeclaredTwo;
}
)";

// Compiles alone, but a stage without main() cannot be linked.
constexpr const char* kVertexWithoutMain = R"(#version 130
void helper() {}
)";

// Every LF turned into CR LF, written plainly as the test's own yardstick.
std::string WithCrLf(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ShaderInfoLog(GLuint shader) {
  GLchar buffer[1024] = {};
  GLsizei length = 0;
  Gl.GetShaderInfoLog(shader, 1024, &length, buffer);
  return std::string(buffer);
}

std::string ProgramInfoLog(GLuint program) {
  GLchar buffer[1024] = {};
  GLsizei length = 0;
  Gl.GetProgramInfoLog(program, 1024, &length, buffer);
  return std::string(buffer);
}

GLint ShaderStatus(GLuint shader) {
  GLint status = -1;
  Gl.GetShaderiv(shader, gl::COMPILE_STATUS, &status);
  return status;
}

// A working directory with shader/ in it, a log directory of its own, and a clean ShaderList.
class ShaderLoader : public test::ShaderFixture {
protected:
  void SetUp() override {
    ShaderFixture::SetUp();
    if (IsSkipped()) return;
    fs::create_directories(work_.path() / "shader");
    fs::current_path(work_.path());
  }

  void Write(const char* name, const std::string& text) {
    std::ofstream(work_.path() / "shader" / name, std::ios::binary) << text;
  }

  test::TempDir work_;
};

TEST_F(ShaderLoader, table_names_the_two_stages_with_backslash_paths) {
  EXPECT_EQ(ShaderList[0].stype, 0x8B31u);
  EXPECT_EQ(ShaderList[0].filename, "shader\\vertex.glsl");
  EXPECT_EQ(ShaderList[1].stype, 0x8B30u);
  EXPECT_EQ(ShaderList[1].filename, "shader\\fragment.glsl");
  EXPECT_EQ(ShaderList[2].stype, 0u);
  EXPECT_EQ(ShaderList[2].filename, "");
}

TEST_F(ShaderLoader, both_stages_compile_and_link_with_nothing_logged) {
  Write("vertex.glsl", kVertexOk);
  Write("fragment.glsl", kFragmentOk);
  const GLuint program = LoadShaders(ShaderList);
  ASSERT_NE(program, 0u);
  GLint linked = 0;
  Gl.GetProgramiv(program, gl::LINK_STATUS, &linked);
  EXPECT_EQ(linked, 1) << ProgramInfoLog(program);
  EXPECT_EQ(ShaderStatus(ShaderList[0].shader), 1);
  EXPECT_EQ(ShaderStatus(ShaderList[1].shader), 1);
  EXPECT_TRUE(Messages().empty());
  Gl.DeleteProgram(program);
}

TEST_F(ShaderLoader, missing_fragment_file_logs_its_table_name_and_keeps_the_vertex_shader) {
  Write("vertex.glsl", kVertexOk);
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  ASSERT_NE(ShaderList[0].shader, 0u);
  EXPECT_EQ(ShaderStatus(ShaderList[0].shader), 1);
  EXPECT_EQ(ShaderList[1].shader, 0u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"File not found shader\\fragment.glsl"});
}

TEST_F(ShaderLoader, missing_vertex_file_stops_before_any_shader_is_made) {
  Write("fragment.glsl", kFragmentOk);
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  EXPECT_EQ(ShaderList[0].shader, 0u);
  EXPECT_EQ(ShaderList[1].shader, 0u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"File not found shader\\vertex.glsl"});
}

TEST_F(ShaderLoader, directory_in_place_of_a_file_counts_as_not_found) {
  Write("vertex.glsl", kVertexOk);
  fs::create_directory(work_.path() / "shader" / "fragment.glsl");
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"File not found shader\\fragment.glsl"});
}

TEST_F(ShaderLoader, compile_log_lines_reach_the_log_with_cr_lf) {
  Write("vertex.glsl", kVertexTwoErrors);
  Write("fragment.glsl", kFragmentOk);
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  ASSERT_NE(ShaderList[0].shader, 0u);
  EXPECT_EQ(ShaderList[1].shader, 0u);
  const std::string raw = ShaderInfoLog(ShaderList[0].shader);
  // The case only means something when the compiler's log has a bare LF between two lines.
  const std::size_t lf = raw.find('\n');
  ASSERT_NE(lf, std::string::npos) << raw;
  ASSERT_LT(lf + 1, raw.size()) << "one line only: " << raw;
  ASSERT_EQ(raw.find('\r'), std::string::npos) << raw;
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Shader: " + WithCrLf(raw));
}

TEST_F(ShaderLoader, link_failure_is_logged_and_the_unlinked_program_returned) {
  Write("vertex.glsl", kVertexWithoutMain);
  Write("fragment.glsl", kFragmentOk);
  const GLuint program = LoadShaders(ShaderList);
  ASSERT_NE(program, 0u);
  GLint linked = -1;
  Gl.GetProgramiv(program, gl::LINK_STATUS, &linked);
  EXPECT_EQ(linked, 0);
  const std::string raw = ProgramInfoLog(program);
  ASSERT_FALSE(raw.empty());
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Shader program: " + WithCrLf(raw));
  Gl.DeleteProgram(program);
}

TEST_F(ShaderLoader, empty_source_file_is_passed_with_length_zero_and_fails_to_compile) {
  Write("vertex.glsl", "");
  Write("fragment.glsl", kFragmentOk);
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  ASSERT_NE(ShaderList[0].shader, 0u);
  GLint sourceLength = -1;
  Gl.GetShaderiv(ShaderList[0].shader, 0x8B88 /* GL_SHADER_SOURCE_LENGTH */, &sourceLength);
  EXPECT_LE(sourceLength, 1) << "the source handed over was not empty";
  EXPECT_EQ(ShaderStatus(ShaderList[0].shader), 0);
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Shader: " + WithCrLf(ShaderInfoLog(ShaderList[0].shader)));
}

TEST_F(ShaderLoader, file_that_cannot_be_opened_raises_an_error_naming_it) {
  Write("vertex.glsl", kVertexOk);
  Write("fragment.glsl", kFragmentOk);
  // Another holder of the file keeps it locked: the loader opens its files without sharing.
  const int holder = ::open((work_.path() / "shader" / "fragment.glsl").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  try {
    LoadShaders(ShaderList);
    ADD_FAILURE() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("shader\\fragment.glsl"), std::string::npos) << e.what();
  }
  ::close(holder);
  EXPECT_NE(ShaderList[0].shader, 0u);
  EXPECT_NE(ShaderList[1].shader, 0u) << "the shader object is recorded before the file is read";
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ShaderLoader, no_table_gives_0_and_logs_nothing) {
  EXPECT_EQ(LoadShaders(nullptr), 0u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ShaderLoader, long_compile_log_is_cut_at_the_buffer) {
  // Many errors, one per line, make a log far longer than 1024 bytes.
  std::string source = "#version 130\nvoid main() {\n";
  for (int i = 0; i < 80; ++i) source += "  gl_Position.x += undeclaredName" + std::to_string(i) + ";\n";
  source += "}\n";
  Write("vertex.glsl", source);
  Write("fragment.glsl", kFragmentOk);
  EXPECT_EQ(LoadShaders(ShaderList), 0u);
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  const std::string raw = ShaderInfoLog(ShaderList[0].shader);
  ASSERT_EQ(raw.size(), 1023u) << "the compiler's log was not longer than the buffer";
  EXPECT_EQ(messages[0], "Shader: " + WithCrLf(raw));
}

struct InfoLogRow {
  const char* name;
  std::string buffer;  // the whole buffer handed over
  std::string expected;
};

// Rows print by name rather than as raw bytes.
void PrintTo(const InfoLogRow& row, std::ostream* os) { *os << row.name; }

class InfoLogText : public ::testing::TestWithParam<InfoLogRow> {};

TEST_P(InfoLogText, converts) {
  const InfoLogRow& row = GetParam();
  EXPECT_EQ(InfoLogToString(std::span<const GLchar>(row.buffer.data(), row.buffer.size())), row.expected);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Rows, InfoLogText,
    ::testing::Values(
        InfoLogRow{"bare_lf_becomes_cr_lf", "0:3: error one\n0:4: error two\n\0"s,
                   "0:3: error one\r\n0:4: error two\r\n"},
        InfoLogRow{"text_ends_at_the_first_nul", "kept\0dropped\n\0"s, "kept"},
        InfoLogRow{"buffer_without_nul_is_read_to_its_end_only", "abc"s, "abc"},
        InfoLogRow{"empty_buffer_gives_empty_text", ""s, ""},
        InfoLogRow{"cr_before_lf_stays_and_the_lf_still_expands", "a\r\nb\0"s, "a\r\r\nb"},
        InfoLogRow{"multibyte_utf8_is_kept", "\xE2\x82\xAC \xC3\xBC \xF0\x9F\x98\x80\0"s,
                   "\xE2\x82\xAC \xC3\xBC \xF0\x9F\x98\x80"},
        InfoLogRow{"stray_byte_becomes_replacement_character", "a\xFF" "b\0"s, "a\xEF\xBF\xBD" "b"},
        InfoLogRow{"overlong_form_is_replaced", "\xC0\xAF\0"s, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        InfoLogRow{"surrogate_is_replaced", "\xED\xA0\x80\0"s, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        InfoLogRow{"sequence_cut_by_the_nul_is_replaced", "x\xE2\x82\0\xAC"s, "x\xEF\xBF\xBD\xEF\xBF\xBD"},
        InfoLogRow{"sequence_cut_by_the_buffer_end_is_replaced", "x\xE2\x82"s, "x\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const ::testing::TestParamInfo<InfoLogRow>& info) { return std::string(info.param.name); });

}  // namespace
