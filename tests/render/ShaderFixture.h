// What the shader tests share: two sources that compile and link on a 3.0 context, the log's
// messages, and a fixture with a headless GL context (Mesa, EGL), a log folder of its own and a
// clean ShaderList that puts the working directory back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/LogHandler.h"
#include "render/GlCommon.h"
#include "render/ShaderSearch.h"
#include "support/EglContext.h"
#include "support/TestData.h"

namespace velmora::test {

inline constexpr const char* kVertexOk = R"(#version 130
#extension GL_ARB_explicit_attrib_location : require
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 texCoord;
out vec2 vTexCoord;
void main() { vTexCoord = texCoord; gl_Position = vec4(position, 1.0); }
)";

inline constexpr const char* kFragmentOk = R"(#version 130
uniform sampler2D tex;
in vec2 vTexCoord;
out vec4 colour;
void main() { colour = texture(tex, vTexCoord); }
)";

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The messages of all entries, each entry "[time] message" CR LF; a message may hold CR LF
// itself, so entries are split at the "[" of a time stamp that starts a line.
inline std::vector<std::string> LogMessages(const std::string& text) {
  std::vector<std::string> messages;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text.compare(pos, 1, "[") != 0 || text.size() - pos < 11 || text.compare(pos + 9, 2, "] ") != 0) {
      ADD_FAILURE() << "no time stamp at log offset " << pos << ": " << text.substr(pos, 40);
      break;
    }
    std::size_t end = pos + 11;
    for (;;) {
      end = text.find("\r\n", end);
      if (end == std::string::npos) {
        ADD_FAILURE() << "log entry without CR LF at its end, from offset " << pos;
        return messages;
      }
      end += 2;
      if (end == text.size() || (text[end] == '[' && text.size() - end >= 11 && text.compare(end + 9, 2, "] ") == 0))
        break;
    }
    messages.push_back(text.substr(pos + 11, end - 2 - (pos + 11)));
    pos = end;
  }
  return messages;
}

class ShaderFixture : public ::testing::Test {
protected:
  void SetUp() override {
    if (!egl_.ok()) GTEST_SKIP() << "no headless OpenGL: " << egl_.error();
    oldCwd_ = std::filesystem::current_path();
    InitLogFilesAt(logs_.path().string(), std::time(nullptr));
    CreateLogLock();
    for (TShaderInfo& entry : ShaderList) entry.shader = 0;
  }
  void TearDown() override {
    if (!egl_.ok()) return;
    for (TShaderInfo& entry : ShaderList) {
      if (entry.shader != 0) Gl.DeleteShader(entry.shader);
      entry.shader = 0;
    }
    ShaderBaseDir.clear();
    DestroyLogLock();
    std::filesystem::current_path(oldCwd_);
  }
  // The messages logged so far; none while the log file does not exist.
  static std::vector<std::string> Messages() {
    if (!std::filesystem::exists(LogFileName)) return {};
    return LogMessages(ReadWhole(LogFileName));
  }

  EglContext egl_;
  TempDir logs_;
  std::filesystem::path oldCwd_;
};

}  // namespace velmora::test
