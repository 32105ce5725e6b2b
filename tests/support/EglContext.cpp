// Headless EGL context on Mesa's surfaceless platform.
#include "support/EglContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dlfcn.h>

#include "gl/GlApi.h"

namespace velmora::test {

void EglContext::PinMesaDriver() {
  // The driver is unloaded at exit otherwise, and LeakSanitizer then reports what it keeps as
  // "<unknown module>", which no suppression can name. RTLD_NODELETE keeps it mapped.
  static void* driver = dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
  (void)driver;
}

EglContext::EglContext() {
  PinMesaDriver();
  auto getPlatformDisplay =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) {
    error_ = "eglGetPlatformDisplayEXT is missing";
    return;
  }
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) {
    error_ = "no surfaceless EGL display";
    return;
  }
  EGLint major = 0;
  EGLint minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    error_ = "eglInitialize failed";
    return;
  }
  display_ = display;
  // Without EGL_SURFACE_TYPE given explicitly no config matches on this platform.
  const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                  EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                  EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1) {
    error_ = "no EGL config for desktop OpenGL";
    return;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    error_ = "eglBindAPI(EGL_OPENGL_API) failed";
    return;
  }
  // No version asked for: a compatibility context, as the viewer gets.
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    error_ = "eglCreateContext failed";
    return;
  }
  context_ = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    error_ = "eglMakeCurrent failed";
    return;
  }
  const std::vector<std::string> missing =
      ResolveGlApi([](const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); });
  if (!missing.empty()) {
    error_ = "GL entry point missing: " + missing.front();
    return;
  }
  ok_ = true;
}

EglContext::~EglContext() {
  ResetGlApi();
  if (display_ == nullptr) return;
  auto display = static_cast<EGLDisplay>(display_);
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (context_ != nullptr) eglDestroyContext(display, static_cast<EGLContext>(context_));
  eglTerminate(display);
  eglReleaseThread();
}

std::string EglContext::Renderer() const {
  if (!ok_) return {};
  const GLubyte* s = Gl.GetString(gl::RENDERER);
  return s != nullptr ? reinterpret_cast<const char*>(s) : "";
}

}  // namespace velmora::test
