// Run-time loading of the system's OpenGL library.
#include "gl/GlLibrary.h"

#include <dlfcn.h>

namespace velmora {

bool TGlLibrary::Open(const std::string& name, std::string& error) {
  Close();
  dlerror();  // drop any stale message, so the one read below is this call's
  FHandle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (FHandle == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : "unknown error";
    return false;
  }
  return true;
}

void TGlLibrary::Close() noexcept {
  if (FHandle != nullptr) dlclose(FHandle);
  FHandle = nullptr;
}

}  // namespace velmora
