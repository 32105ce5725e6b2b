// A recording GL table for tests: every entry point of velmora::Gl resolves to a stub that logs
// the call (name, integer arguments, uploaded bytes) and answers queries from settable values.
// It checks which calls a component makes; pixels are checked on a real GL as well.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "gl/GlApi.h"

namespace velmora::test {

struct GlCall {
  std::string name;                // GL name, e.g. "glTexImage2D"
  std::vector<std::int64_t> args;  // arguments in order: integers and enums as they are, pointers
                                   // as 1 (set) or 0 (null), floats times 1000
  std::vector<std::uint8_t> data;  // bytes an upload read: glTexImage2D w x h x 4 for RGBA/BGRA
                                   // bytes, glCompressedTexImage2DARB imageSize bytes
};

// At most one exists at a time; it owns velmora::Gl while it lives (the destructor empties it).
class RecordingGl {
public:
  RecordingGl();
  ~RecordingGl();
  RecordingGl(const RecordingGl&) = delete;
  RecordingGl& operator=(const RecordingGl&) = delete;

  // The stub for a GL name; null for names in `missing` and names the table does not know.
  void* Lookup(const char* name) const;
  // ResolveGlApi through Lookup; returns the names it reports missing.
  std::vector<std::string> Install();

  // Settings, read when the stubs run.
  std::set<std::string> missing;                  // names Lookup answers with null
  std::optional<std::string> extensions =         // glGetString(GL_EXTENSIONS); none gives null
      std::string("GL_ARB_texture_compression GL_EXT_texture_compression_s3tc");
  std::vector<std::string> indexedExtensions;     // glGetStringi(GL_EXTENSIONS, i), GL_NUM_EXTENSIONS
  GLint maxTextureSize = 16384;                   // glGetIntegerv(GL_MAX_TEXTURE_SIZE)

  std::vector<GlCall> calls;
  // The calls of one entry point, in order.
  std::vector<GlCall> Calls(std::string_view name) const;
  // Names of all calls, in order, for failure messages.
  std::string Trace() const;

  static RecordingGl* Current();

private:
  GLuint nextName_ = 1;
  friend struct RecordingStubs;
};

}  // namespace velmora::test
