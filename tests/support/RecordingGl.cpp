// Stubs behind the recording GL table.
#include "support/RecordingGl.h"

#include <cstring>
#include <map>
#include <stdexcept>
#include <type_traits>

namespace velmora::test {

namespace {
RecordingGl* gCurrent = nullptr;

template <class T>
std::int64_t ArgValue(T v) {
  if constexpr (std::is_pointer_v<T>) {
    return v != nullptr ? 1 : 0;
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<std::int64_t>(v * 1000);
  } else {
    return static_cast<std::int64_t>(v);
  }
}

template <class... A>
GlCall& Record(const char* name, A... a) {
  GlCall call{name, {ArgValue(a)...}, {}};
  gCurrent->calls.push_back(std::move(call));
  return gCurrent->calls.back();
}

template <class T>
T Default() {
  if constexpr (std::is_void_v<T>) {
    return;
  } else {
    return T{};
  }
}
}  // namespace

// Stubs that answer queries or copy what an upload reads.
struct RecordingStubs {
  static const GLubyte* GetString(GLenum name) {
    Record("glGetString", name);
    static const char kVersion[] = "3.0 recording";
    static const char kOther[] = "recording";
    if (name == gl::EXTENSIONS) {
      if (!gCurrent->extensions) return nullptr;
      return reinterpret_cast<const GLubyte*>(gCurrent->extensions->c_str());
    }
    return reinterpret_cast<const GLubyte*>(name == gl::VERSION ? kVersion : kOther);
  }
  static const GLubyte* GetStringi(GLenum name, GLuint index) {
    Record("glGetStringi", name, index);
    if (name != gl::EXTENSIONS || index >= gCurrent->indexedExtensions.size()) return nullptr;
    return reinterpret_cast<const GLubyte*>(gCurrent->indexedExtensions[index].c_str());
  }
  static void GetIntegerv(GLenum pname, GLint* data) {
    Record("glGetIntegerv", pname);
    if (pname == gl::MAX_TEXTURE_SIZE) *data = gCurrent->maxTextureSize;
    else if (pname == gl::NUM_EXTENSIONS) *data = static_cast<GLint>(gCurrent->indexedExtensions.size());
    else *data = 0;
  }
  static void GenNames(const char* name, GLsizei n, GLuint* out) {
    Record(name, n);
    for (GLsizei i = 0; i < n; ++i) out[i] = gCurrent->nextName_++;
  }
  static void GenTextures(GLsizei n, GLuint* t) { GenNames("glGenTextures", n, t); }
  static void GenBuffers(GLsizei n, GLuint* t) { GenNames("glGenBuffers", n, t); }
  static void GenVertexArrays(GLsizei n, GLuint* t) { GenNames("glGenVertexArrays", n, t); }
  static void GenFramebuffers(GLsizei n, GLuint* t) { GenNames("glGenFramebuffers", n, t); }
  static void DeleteTextures(GLsizei n, const GLuint* t) {
    GlCall& c = Record("glDeleteTextures", n);
    for (GLsizei i = 0; i < n; ++i) c.args.push_back(t[i]);  // the names follow the count
  }
  static GLuint CreateProgram() {
    Record("glCreateProgram");
    return gCurrent->nextName_++;
  }
  static GLuint CreateShader(GLenum type) {
    Record("glCreateShader", type);
    return gCurrent->nextName_++;
  }
  static void GetShaderiv(GLuint shader, GLenum pname, GLint* params) {
    Record("glGetShaderiv", shader, pname);
    *params = pname == gl::COMPILE_STATUS ? 1 : 0;
  }
  static void GetProgramiv(GLuint program, GLenum pname, GLint* params) {
    Record("glGetProgramiv", program, pname);
    *params = pname == gl::LINK_STATUS ? 1 : 0;
  }
  static GLenum CheckFramebufferStatus(GLenum target) {
    Record("glCheckFramebufferStatus", target);
    return gl::FRAMEBUFFER_COMPLETE;
  }
  static void TexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                         GLint border, GLenum format, GLenum type, const void* pixels) {
    GlCall& c = Record("glTexImage2D", target, level, internalformat, width, height, border, format, type, pixels);
    if (pixels != nullptr && type == gl::UNSIGNED_BYTE && (format == gl::RGBA || format == gl::BGRA) &&
        width > 0 && height > 0) {
      const auto* p = static_cast<const std::uint8_t*>(pixels);
      c.data.assign(p, p + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    }
  }
  static void CompressedTexImage2DARB(GLenum target, GLint level, GLenum internalformat, GLsizei width,
                                      GLsizei height, GLint border, GLsizei imageSize, const void* data) {
    GlCall& c = Record("glCompressedTexImage2DARB", target, level, internalformat, width, height, border,
                       imageSize, data);
    if (data != nullptr && imageSize > 0) {
      const auto* p = static_cast<const std::uint8_t*>(data);
      c.data.assign(p, p + imageSize);
    }
  }
};

RecordingGl::RecordingGl() {
  if (gCurrent != nullptr) throw std::logic_error("only one RecordingGl at a time");
  gCurrent = this;
}

RecordingGl::~RecordingGl() {
  ResetGlApi();
  gCurrent = nullptr;
}

RecordingGl* RecordingGl::Current() { return gCurrent; }

void* RecordingGl::Lookup(const char* name) const {
  if (missing.count(name) != 0) return nullptr;
  static const std::map<std::string, void*> stubs = [] {
    std::map<std::string, void*> m;
    // Every entry point first gets a plain recording stub returning zero...
#define VELMORA_RECORDING_STUB(ret, fn, params)                                                   \
  {                                                                                               \
    using TFn = ret(VELMORA_GLAPIENTRY*) params;                                                  \
    TFn f = [](auto... a) -> ret {                                                                \
      Record("gl" #fn, a...);                                                                     \
      return Default<ret>();                                                                      \
    };                                                                                            \
    m["gl" #fn] = reinterpret_cast<void*>(f);                                                     \
  }
    VELMORA_GL_FUNCTIONS(VELMORA_RECORDING_STUB)
    VELMORA_GL_OPTIONAL_FUNCTIONS(VELMORA_RECORDING_STUB)
#undef VELMORA_RECORDING_STUB
    // ...then the ones that must answer or copy replace theirs.
    m["glGetString"] = reinterpret_cast<void*>(&RecordingStubs::GetString);
    m["glGetStringi"] = reinterpret_cast<void*>(&RecordingStubs::GetStringi);
    m["glGetIntegerv"] = reinterpret_cast<void*>(&RecordingStubs::GetIntegerv);
    m["glGenTextures"] = reinterpret_cast<void*>(&RecordingStubs::GenTextures);
    m["glGenBuffers"] = reinterpret_cast<void*>(&RecordingStubs::GenBuffers);
    m["glGenVertexArrays"] = reinterpret_cast<void*>(&RecordingStubs::GenVertexArrays);
    m["glGenFramebuffers"] = reinterpret_cast<void*>(&RecordingStubs::GenFramebuffers);
    m["glDeleteTextures"] = reinterpret_cast<void*>(&RecordingStubs::DeleteTextures);
    m["glCreateProgram"] = reinterpret_cast<void*>(&RecordingStubs::CreateProgram);
    m["glCreateShader"] = reinterpret_cast<void*>(&RecordingStubs::CreateShader);
    m["glGetShaderiv"] = reinterpret_cast<void*>(&RecordingStubs::GetShaderiv);
    m["glGetProgramiv"] = reinterpret_cast<void*>(&RecordingStubs::GetProgramiv);
    m["glCheckFramebufferStatus"] = reinterpret_cast<void*>(&RecordingStubs::CheckFramebufferStatus);
    m["glTexImage2D"] = reinterpret_cast<void*>(&RecordingStubs::TexImage2D);
    m["glCompressedTexImage2DARB"] = reinterpret_cast<void*>(&RecordingStubs::CompressedTexImage2DARB);
    return m;
  }();
  const auto it = stubs.find(name);
  return it != stubs.end() ? it->second : nullptr;
}

std::vector<std::string> RecordingGl::Install() {
  return ResolveGlApi([this](const char* name) { return Lookup(name); });
}

std::vector<GlCall> RecordingGl::Calls(std::string_view name) const {
  std::vector<GlCall> out;
  for (const GlCall& c : calls) {
    if (c.name == name) out.push_back(c);
  }
  return out;
}

std::string RecordingGl::Trace() const {
  std::string s;
  for (const GlCall& c : calls) {
    s += c.name;
    s += '(';
    for (std::size_t i = 0; i < c.args.size(); ++i) s += (i ? ", " : "") + std::to_string(c.args[i]);
    s += ")\n";
  }
  return s;
}

}  // namespace velmora::test
