// The system's OpenGL library, loaded at run time and held open while the view uses GL.
#pragma once

#include <string>

namespace velmora {

// The library the view loads on this platform (the X11 / GLX OpenGL library).
inline constexpr const char* kGlLibraryName = "libGL.so.1";

// One dlopen handle; dlclose when destroyed or reset.
class TGlLibrary {
public:
  TGlLibrary() = default;
  ~TGlLibrary() { Close(); }
  TGlLibrary(const TGlLibrary&) = delete;
  TGlLibrary& operator=(const TGlLibrary&) = delete;

  // Loads `name`; on failure returns false and leaves the reason in `error` (dlerror's text).
  bool Open(const std::string& name, std::string& error);
  void Close() noexcept;
  bool IsOpen() const { return FHandle != nullptr; }

private:
  void* FHandle = nullptr;
};

}  // namespace velmora
