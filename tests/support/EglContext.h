// A headless OpenGL context for tests and benchmarks: EGL on Mesa's surfaceless platform (no X
// server), a compatibility context current on the calling thread, and velmora::Gl resolved
// through eglGetProcAddress.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velmora::test {

class EglContext {
public:
  // Creates the context, makes it current and resolves the GL table. Never throws: check ok().
  EglContext();
  // Empties the GL table, releases the context and the display.
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  bool ok() const { return ok_; }
  // Why the context is missing (no EGL display, no config, a GL entry point not resolved, ...).
  const std::string& error() const { return error_; }
  // GL_RENDERER, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
  std::string Renderer() const;

  // Keeps Mesa's driver loaded until exit, so LeakSanitizer can name the allocations it keeps.
  // The constructor calls it; harmless to call again.
  static void PinMesaDriver();

private:
  void* display_ = nullptr;
  void* context_ = nullptr;
  bool ok_ = false;
  std::string error_;
};

}  // namespace velmora::test

// Creates `ctx` (a velmora::test::EglContext) or skips the test when no EGL display exists.
#define VELMORA_REQUIRE_EGL(ctx)                                                  \
  ::velmora::test::EglContext ctx;                                                \
  if (!ctx.ok()) GTEST_SKIP() << "no headless OpenGL: " << ctx.error()
