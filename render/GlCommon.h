// The shader program loader of the texture view: the table of shader stages, building and
// linking the program from the GLSL files named there, and the compiler and linker diagnostics
// that go to the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "gl/GlApi.h"

namespace velmora {

// One shader stage of the view's program.
struct TShaderInfo {
  std::uint32_t stype = 0;  // GL shader type; 0 ends a table
  std::string filename;     // relative to the working directory, backslash-separated
  std::uint32_t shader = 0; // GL shader object, filled in by LoadShaders
};

// The view's stages: vertex, fragment, end of table. The shader objects that LoadShaders
// records here stay until the view is released, which deletes them.
constexpr std::size_t kShaderListSize = 3;
extern TShaderInfo ShaderList[kShaderListSize];

// Size of the buffer that receives an info log; longer logs are cut there.
constexpr std::size_t kInfoLogSize = 1024;

// Builds and links the program from `list` (up to the entry whose stype is 0). Returns the
// program, or 0 when `list` is null, a file is missing (logged "File not found " + name) or a
// stage does not compile (logged "Shader: " + compiler log). A failed link is only logged
// ("Shader program: " + linker log): the program is returned all the same. A file that exists
// but cannot be opened or read throws std::runtime_error. Objects created before an early
// return or an error stay; the shader objects remain recorded in `list`.
// Needs a current context and a filled Gl table.
GLuint LoadShaders(TShaderInfo* list);

// glGetShaderiv(shader, pname); when the answer is not 1, logs "Shader: " + the info log.
// Returns the answer.
GLint CheckShader(GLuint shader, GLenum pname);

// glGetProgramiv(program, pname); when the answer is not 1, logs "Shader program: " + the
// info log. Returns the answer.
GLint CheckProgram(GLuint program, GLenum pname);

// The text of an info log buffer: the bytes up to the first NUL (or the end of the buffer),
// decoded as UTF-8 with each malformed sequence replaced by U+FFFD, every LF turned into CR LF.
std::string InfoLogToString(std::span<const GLchar> buffer);

// A table file name with slashes for backslashes: the path below whichever folder holds it.
std::string ShaderRelativePath(const std::string& filename);

// Where a table file name lies on this file system: ShaderRelativePath, relative to the working
// directory, or to ShaderBaseDir when the search chose another place.
std::string ShaderPathOnDisk(const std::string& filename);

}  // namespace velmora
