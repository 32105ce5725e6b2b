// Shader program loader: reads the GLSL files of the shader table, compiles, attaches, links,
// and logs what the compiler and the linker report.
#include "render/GlCommon.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "base/FileRead.h"
#include "base/UniqueFd.h"
#include "base/Utf.h"
#include "log/LogHandler.h"
#include "render/ShaderSearch.h"

namespace velmora {

TShaderInfo ShaderList[kShaderListSize] = {
    {gl::VERTEX_SHADER, "shader\\vertex.glsl", 0},
    {gl::FRAGMENT_SHADER, "shader\\fragment.glsl", 0},
    {0, "", 0},
};

namespace {

// A GLSL source is handed to GL with a GLint length; anything near that is no shader.
constexpr std::size_t kMaxShaderFileSize = 64u << 20;

[[noreturn]] void ThrowFileError(const std::string& filename, const char* what, int err) {
  throw std::runtime_error("cannot " + std::string(what) + " shader file " + filename + ": " +
                           std::strerror(err));
}

// The whole file, opened for this read only. The exclusive flock stands in for opening
// without sharing: a file that another holder has locked cannot be opened.
std::vector<GLchar> ReadShaderFile(const std::string& filename) {
  const std::string path = ShaderPathOnDisk(filename);
  TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) ThrowFileError(filename, "open", errno);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ThrowFileError(filename, "open", errno);
  }
  std::string bytes;
  std::string error;
  if (!ReadFileBytes(fd.get(), bytes, error, kMaxShaderFileSize)) {
    throw std::runtime_error("cannot read shader file " + filename + ": " + error);
  }
  return std::vector<GLchar>(bytes.begin(), bytes.end());
}

}  // namespace

std::string ShaderRelativePath(const std::string& filename) {
  std::string path = filename;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string ShaderPathOnDisk(const std::string& filename) {
  const std::string path = ShaderRelativePath(filename);
  return ShaderBaseDir.empty() ? path : ShaderBaseDir + "/" + path;
}

std::string InfoLogToString(std::span<const GLchar> buffer) {
  std::size_t end = 0;
  while (end < buffer.size() && buffer[end] != '\0') ++end;
  const std::string text = ValidUtf8(std::string_view(buffer.data(), end));
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

GLint CheckShader(GLuint shader, GLenum pname) {
  GLint status = 0;
  Gl.GetShaderiv(shader, pname, &status);
  if (status != 1) {
    GLchar buffer[kInfoLogSize] = {};
    GLsizei length = 0;
    Gl.GetShaderInfoLog(shader, static_cast<GLsizei>(kInfoLogSize), &length, buffer);
    WriteLog("Shader: " + InfoLogToString(buffer));
  }
  return status;
}

GLint CheckProgram(GLuint program, GLenum pname) {
  GLint status = 0;
  Gl.GetProgramiv(program, pname, &status);
  if (status != 1) {
    GLchar buffer[kInfoLogSize] = {};
    GLsizei length = 0;
    Gl.GetProgramInfoLog(program, static_cast<GLsizei>(kInfoLogSize), &length, buffer);
    WriteLog("Shader program: " + InfoLogToString(buffer));
  }
  return status;
}

GLuint LoadShaders(TShaderInfo* list) {
  if (list == nullptr) return 0;
  const GLuint program = Gl.CreateProgram();
  for (TShaderInfo* entry = list; entry->stype != 0; ++entry) {
    // A directory of that name is no file.
    if (!FileExists(ShaderPathOnDisk(entry->filename))) {
      WriteLog("File not found " + entry->filename);
      return 0;
    }
    entry->shader = Gl.CreateShader(entry->stype);
    std::vector<GLchar> source = ReadShaderFile(entry->filename);
    // The length is the file's; the extra NUL only guards drivers that read one past it.
    const auto length = static_cast<GLint>(source.size());
    source.push_back('\0');
    const GLchar* text = source.data();
    Gl.ShaderSource(entry->shader, 1, &text, &length);
    Gl.CompileShader(entry->shader);
    if (CheckShader(entry->shader, gl::COMPILE_STATUS) != 1) return 0;
    Gl.AttachShader(program, entry->shader);
  }
  Gl.LinkProgram(program);
  CheckProgram(program, gl::LINK_STATUS);
  return program;
}

}  // namespace velmora
