// Resolution of the GL entry point table and the texture-compression flag.
#include "gl/GlApi.h"

#include <cstring>

namespace velmora {

TGlApi Gl;
bool GL_ARB_texture_compression = false;

namespace {
bool gReady = false;
constexpr const char* kCompressionExtension = "GL_ARB_texture_compression";
}  // namespace

bool ExtensionListHas(const char* list, const char* name) {
  if (list == nullptr || name == nullptr) return false;
  const std::size_t len = std::strlen(name);
  if (len == 0) return false;
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += len) {
    const bool startsWord = p == list || p[-1] == ' ';
    const bool endsWord = p[len] == '\0' || p[len] == ' ';
    if (startsWord && endsWord) return true;
  }
  return false;
}

std::vector<std::string> ResolveGlApi(const TGlLookup& lookup) {
  ResetGlApi();
  TGlApi table;
  std::vector<std::string> missing;
#define VELMORA_GL_RESOLVE(ret, name, params)                                               \
  table.name = reinterpret_cast<ret(VELMORA_GLAPIENTRY*) params>(lookup("gl" #name));       \
  if (table.name == nullptr) missing.push_back("gl" #name);
  VELMORA_GL_FUNCTIONS(VELMORA_GL_RESOLVE)
#undef VELMORA_GL_RESOLVE
#define VELMORA_GL_RESOLVE_OPTIONAL(ret, name, params) \
  table.name = reinterpret_cast<ret(VELMORA_GLAPIENTRY*) params>(lookup("gl" #name));
  VELMORA_GL_OPTIONAL_FUNCTIONS(VELMORA_GL_RESOLVE_OPTIONAL)
#undef VELMORA_GL_RESOLVE_OPTIONAL
  if (!missing.empty()) return missing;

  // A core profile answers null for the whole list; then the extensions are read one by one.
  bool hasCompression = false;
  if (const GLubyte* list = table.GetString(gl::EXTENSIONS)) {
    hasCompression = ExtensionListHas(reinterpret_cast<const char*>(list), kCompressionExtension);
  } else {
    GLint count = 0;
    table.GetIntegerv(gl::NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count && !hasCompression; ++i) {
      const GLubyte* ext = table.GetStringi(gl::EXTENSIONS, static_cast<GLuint>(i));
      hasCompression = ext != nullptr && std::strcmp(reinterpret_cast<const char*>(ext), kCompressionExtension) == 0;
    }
  }
  // The flag is only ever honoured when the upload entry point exists.
  GL_ARB_texture_compression = hasCompression && table.CompressedTexImage2DARB != nullptr;
  Gl = table;
  gReady = true;
  return missing;
}

void ResetGlApi() {
  Gl = TGlApi{};
  GL_ARB_texture_compression = false;
  gReady = false;
}

bool GlApiReady() { return gReady; }

}  // namespace velmora
