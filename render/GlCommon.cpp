// Shader program loader: reads the GLSL files of the shader table, compiles, attaches, links,
// and logs what the compiler and the linker report.
#include "render/GlCommon.h"
#include "log/UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

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
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowFileError(filename, "open", errno);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ThrowFileError(filename, "open", errno);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowFileError(filename, "read", errno);
  const auto statSize = static_cast<std::uint64_t>(st.st_size < 0 ? 0 : st.st_size);
  if (statSize > kMaxShaderFileSize) {
    throw std::runtime_error("shader file " + filename + " is too large: " +
                             std::to_string(statSize) + " bytes (limit " +
                             std::to_string(kMaxShaderFileSize) + ")");
  }
  std::vector<GLchar> bytes;
  bytes.reserve(static_cast<std::size_t>(statSize) + 1);
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(filename, "read", errno);
    }
    if (n == 0) break;
    // The file may have grown since fstat; the cap holds regardless.
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxShaderFileSize) {
      throw std::runtime_error("shader file " + filename + " is too large (limit " +
                               std::to_string(kMaxShaderFileSize) + " bytes)");
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

// File existence as the loader sees it: a directory of that name is no file.
bool ShaderFileExists(const std::string& filename) {
  std::error_code ec;
  const auto status = std::filesystem::status(ShaderPathOnDisk(filename), ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

void AppendReplacement(std::string& out) { out += "\xEF\xBF\xBD"; }  // U+FFFD

// Length of the well-formed UTF-8 sequence at s[0..n), or 0 when it is malformed:
// no overlong forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF.
std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return len;
}

}  // namespace

std::string ShaderPathOnDisk(const std::string& filename) {
  std::string path = filename;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return ShaderBaseDir.empty() ? path : ShaderBaseDir + "/" + path;
}

std::string InfoLogToString(std::span<const GLchar> buffer) {
  std::size_t end = 0;
  while (end < buffer.size() && buffer[end] != '\0') ++end;
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
  std::string out;
  out.reserve(end + end / 8);
  for (std::size_t i = 0; i < end;) {
    if (bytes[i] == '\n') {
      out += "\r\n";
      ++i;
      continue;
    }
    const std::size_t len = Utf8SequenceLength(bytes + i, end - i);
    if (len == 0) {
      AppendReplacement(out);
      ++i;
      continue;
    }
    out.append(reinterpret_cast<const char*>(bytes + i), len);
    i += len;
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
    if (!ShaderFileExists(entry->filename)) {
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
