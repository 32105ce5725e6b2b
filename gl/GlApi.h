// The program's own OpenGL declarations and its one table of GL entry points.
// Entry points are resolved once, through a lookup function handed in by whoever owns the
// context; the loader, the shader loader and the view all call through the table. The system
// GL headers are not needed here; they may come before or after this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The system GL headers (pulled in by Qt's OpenGL classes too) define the extension's name as a
// macro (to 1); here it is the flag's name. Whichever comes first, the name must keep meaning the
// flag: an earlier definition is dropped, and the name is defined as itself, so that a GL header
// included later sees the extension as declared and leaves the name alone.
#ifdef GL_ARB_texture_compression
#undef GL_ARB_texture_compression
#endif
#define GL_ARB_texture_compression GL_ARB_texture_compression

namespace velmora {

using GLenum = unsigned int;
using GLboolean = unsigned char;
using GLbitfield = unsigned int;
using GLint = int;
using GLuint = unsigned int;
using GLsizei = int;
using GLfloat = float;
using GLclampf = float;
using GLubyte = unsigned char;
using GLchar = char;
using GLsizeiptr = std::ptrdiff_t;

namespace gl {
constexpr GLenum FALSE_ = 0;
constexpr GLenum NO_ERROR_ = 0;
constexpr GLenum TEXTURE_2D = 0x0DE1;
constexpr GLenum TEXTURE_MIN_FILTER = 0x2801;
constexpr GLenum TEXTURE_MAG_FILTER = 0x2800;
constexpr GLenum TEXTURE_WRAP_S = 0x2802;
constexpr GLenum TEXTURE_WRAP_T = 0x2803;
constexpr GLenum TEXTURE_WIDTH = 0x1000;
constexpr GLenum TEXTURE_HEIGHT = 0x1001;
constexpr GLenum TEXTURE_INTERNAL_FORMAT = 0x1003;
constexpr GLenum TEXTURE_COMPRESSED_IMAGE_SIZE = 0x86A0;
constexpr GLenum TEXTURE_COMPRESSED = 0x86A1;
constexpr GLenum TEXTURE_BINDING_2D = 0x8069;
constexpr GLenum TEXTURE_BASE_LEVEL = 0x813C;
constexpr GLenum TEXTURE_MAX_LEVEL = 0x813D;
constexpr GLenum LINEAR = 0x2601;
constexpr GLenum NEAREST = 0x2600;
constexpr GLenum REPEAT = 0x2901;
constexpr GLenum RGBA = 0x1908;
constexpr GLenum BGRA = 0x80E1;
constexpr GLenum RGBA8 = 0x8058;
constexpr GLenum UNSIGNED_BYTE = 0x1401;
constexpr GLenum UNSIGNED_SHORT = 0x1403;
constexpr GLenum FLOAT = 0x1406;
constexpr GLenum COMPRESSED_RGBA_S3TC_DXT1_EXT = 0x83F1;
constexpr GLenum COMPRESSED_RGBA_S3TC_DXT3_EXT = 0x83F2;
constexpr GLenum COMPRESSED_RGBA_S3TC_DXT5_EXT = 0x83F3;
constexpr GLenum UNPACK_ALIGNMENT = 0x0CF5;
constexpr GLenum PACK_ALIGNMENT = 0x0D05;
constexpr GLenum MAX_TEXTURE_SIZE = 0x0D33;
constexpr GLenum MAX_VIEWPORT_DIMS = 0x0D3A;
constexpr GLenum EXTENSIONS = 0x1F03;
constexpr GLenum VERSION = 0x1F02;
constexpr GLenum RENDERER = 0x1F01;
constexpr GLenum NUM_EXTENSIONS = 0x821D;
constexpr GLenum FRONT = 0x0404;
constexpr GLenum FRONT_AND_BACK = 0x0408;
constexpr GLenum FILL = 0x1B02;
constexpr GLenum BLEND = 0x0BE2;
constexpr GLenum SRC_ALPHA = 0x0302;
constexpr GLenum ONE_MINUS_SRC_ALPHA = 0x0303;
constexpr GLenum COLOR_BUFFER_BIT = 0x00004000;
constexpr GLenum DEPTH_BUFFER_BIT = 0x00000100;
constexpr GLenum ARRAY_BUFFER = 0x8892;
constexpr GLenum ELEMENT_ARRAY_BUFFER = 0x8893;
constexpr GLenum STATIC_DRAW = 0x88E4;
constexpr GLenum TRIANGLE_STRIP = 0x0005;
constexpr GLenum TEXTURE0 = 0x84C0;
constexpr GLenum VERTEX_SHADER = 0x8B31;
constexpr GLenum FRAGMENT_SHADER = 0x8B30;
constexpr GLenum COMPILE_STATUS = 0x8B81;
constexpr GLenum LINK_STATUS = 0x8B82;
constexpr GLenum INFO_LOG_LENGTH = 0x8B84;
constexpr GLenum FRAMEBUFFER = 0x8D40;
constexpr GLenum RENDERBUFFER = 0x8D41;
constexpr GLenum COLOR_ATTACHMENT0 = 0x8CE0;
constexpr GLenum FRAMEBUFFER_COMPLETE = 0x8CD5;
}  // namespace gl

#ifndef VELMORA_GLAPIENTRY
#define VELMORA_GLAPIENTRY
#endif

// X(return type, member name, parameter list). The GL name is "gl" + member name.
#define VELMORA_GL_FUNCTIONS(X)                                                                      \
  X(GLenum, GetError, ())                                                                            \
  X(const GLubyte*, GetString, (GLenum name))                                                        \
  X(const GLubyte*, GetStringi, (GLenum name, GLuint index))                                         \
  X(void, GetIntegerv, (GLenum pname, GLint * data))                                                 \
  X(void, Finish, ())                                                                                \
  X(void, PixelStorei, (GLenum pname, GLint param))                                                  \
  X(void, GenTextures, (GLsizei n, GLuint * textures))                                               \
  X(void, BindTexture, (GLenum target, GLuint texture))                                              \
  X(void, DeleteTextures, (GLsizei n, const GLuint* textures))                                       \
  X(void, TexImage2D, (GLenum target, GLint level, GLint internalformat, GLsizei width,              \
                       GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels)) \
  X(void, TexParameteri, (GLenum target, GLenum pname, GLint param))                                 \
  X(void, GetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, void* pixels))       \
  X(void, GetTexLevelParameteriv, (GLenum target, GLint level, GLenum pname, GLint * params))        \
  X(void, PolygonMode, (GLenum face, GLenum mode))                                                   \
  X(void, ClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a))                              \
  X(void, Clear, (GLbitfield mask))                                                                  \
  X(void, Viewport, (GLint x, GLint y, GLsizei width, GLsizei height))                               \
  X(void, Enable, (GLenum cap))                                                                      \
  X(void, BlendFunc, (GLenum sfactor, GLenum dfactor))                                               \
  X(void, ReadPixels, (GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,   \
                       void* pixels))                                                                \
  X(void, GenVertexArrays, (GLsizei n, GLuint * arrays))                                             \
  X(void, BindVertexArray, (GLuint array))                                                           \
  X(void, DeleteVertexArrays, (GLsizei n, const GLuint* arrays))                                     \
  X(GLuint, CreateProgram, ())                                                                       \
  X(GLuint, CreateShader, (GLenum type))                                                             \
  X(void, ShaderSource, (GLuint shader, GLsizei count, const GLchar* const* string,                  \
                         const GLint* length))                                                       \
  X(void, CompileShader, (GLuint shader))                                                            \
  X(void, GetShaderiv, (GLuint shader, GLenum pname, GLint * params))                                \
  X(void, GetShaderInfoLog, (GLuint shader, GLsizei bufSize, GLsizei * length, GLchar * infoLog))    \
  X(void, AttachShader, (GLuint program, GLuint shader))                                             \
  X(void, LinkProgram, (GLuint program))                                                             \
  X(void, GetProgramiv, (GLuint program, GLenum pname, GLint * params))                              \
  X(void, GetProgramInfoLog, (GLuint program, GLsizei bufSize, GLsizei * length, GLchar * infoLog))  \
  X(void, UseProgram, (GLuint program))                                                              \
  X(void, DeleteShader, (GLuint shader))                                                             \
  X(void, DeleteProgram, (GLuint program))                                                           \
  X(GLint, GetUniformLocation, (GLuint program, const GLchar* name))                                 \
  X(void, Uniform1i, (GLint location, GLint v0))                                                     \
  X(void, Uniform2i, (GLint location, GLint v0, GLint v1))                                           \
  X(void, Uniform1f, (GLint location, GLfloat v0))                                                   \
  X(void, Uniform2f, (GLint location, GLfloat v0, GLfloat v1))                                       \
  X(void, Uniform3f, (GLint location, GLfloat v0, GLfloat v1, GLfloat v2))                           \
  X(void, GenBuffers, (GLsizei n, GLuint * buffers))                                                 \
  X(void, BindBuffer, (GLenum target, GLuint buffer))                                                \
  X(void, BufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage))              \
  X(void, DeleteBuffers, (GLsizei n, const GLuint* buffers))                                         \
  X(void, VertexAttribPointer, (GLuint index, GLint size, GLenum type, GLboolean normalized,         \
                                GLsizei stride, const void* pointer))                                \
  X(void, EnableVertexAttribArray, (GLuint index))                                                   \
  X(void, ActiveTexture, (GLenum texture))                                                           \
  X(void, DrawElements, (GLenum mode, GLsizei count, GLenum type, const void* indices))              \
  X(void, GenFramebuffers, (GLsizei n, GLuint * framebuffers))                                       \
  X(void, BindFramebuffer, (GLenum target, GLuint framebuffer))                                      \
  X(void, DeleteFramebuffers, (GLsizei n, const GLuint* framebuffers))                               \
  X(void, FramebufferTexture2D, (GLenum target, GLenum attachment, GLenum textarget, GLuint texture, \
                                 GLint level))                                                       \
  X(GLenum, CheckFramebufferStatus, (GLenum target))

// Entry points of the texture-compression extension: resolved when present, called only while
// GL_ARB_texture_compression is set.
#define VELMORA_GL_OPTIONAL_FUNCTIONS(X)                                                             \
  X(void, CompressedTexImage2DARB, (GLenum target, GLint level, GLenum internalformat,              \
                                    GLsizei width, GLsizei height, GLint border, GLsizei imageSize,  \
                                    const void* data))

struct TGlApi {
#define VELMORA_GL_MEMBER(ret, name, params) ret(VELMORA_GLAPIENTRY* name) params = nullptr;
  VELMORA_GL_FUNCTIONS(VELMORA_GL_MEMBER)
  VELMORA_GL_OPTIONAL_FUNCTIONS(VELMORA_GL_MEMBER)
#undef VELMORA_GL_MEMBER
};

// The one table. Empty (all null) until ResolveGlApi succeeds.
extern TGlApi Gl;

// Whether the implementation's extension list holds "GL_ARB_texture_compression" as a whole word.
extern bool GL_ARB_texture_compression;

// Returns the address of a GL entry point by its name, or null.
using TGlLookup = std::function<void*(const char* name)>;

// Resolves every entry point into Gl and sets GL_ARB_texture_compression; the context must be
// current. Returns the names of the required entry points that did not resolve; when any is
// missing the table is left empty, so nothing can call it.
std::vector<std::string> ResolveGlApi(const TGlLookup& lookup);

// Empties the table and clears the flag.
void ResetGlApi();

// True when Gl is filled.
bool GlApiReady();

// Whether `name` appears as a whole space-separated word of `list`.
bool ExtensionListHas(const char* list, const char* name);

}  // namespace velmora
