// The project's own GLSL files on an OpenGL 3.0 compatibility context (Mesa held to 3.0 and
// GLSL 1.30): they compile and link, and fix the attribute locations and the sampler's unit the
// view relies on, since the program binds and sets none of them.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <EGL/egl.h>
#include <gtest/gtest.h>

#include "log/LogHandler.h"
#include "render/GlCommon.h"
#include "support/EglContext.h"
#include "support/TestData.h"

namespace fs = std::filesystem;
using namespace velmora;

namespace {

fs::path SourceDir() {
  if (const char* env = std::getenv("VELMORA_SOURCE_DIR")) return env;
  return VELMORA_TEST_SOURCE_DIR;
}

TEST(ProjectShaders, compile_and_link_on_a_3_0_compatibility_context_with_fixed_locations) {
  VELMORA_REQUIRE_EGL(egl);
  const std::string version = reinterpret_cast<const char*>(Gl.GetString(gl::VERSION));
  ASSERT_EQ(version.rfind("3.0", 0), 0u) << "context is not held to 3.0: " << version;

  test::TempDir logs;
  InitLogFilesAt(logs.path().string(), std::time(nullptr));
  CreateLogLock();
  const fs::path oldCwd = fs::current_path();
  fs::current_path(SourceDir());
  for (TShaderInfo& entry : ShaderList) entry.shader = 0;
  const GLuint program = LoadShaders(ShaderList);
  fs::current_path(oldCwd);
  DestroyLogLock();

  EXPECT_FALSE(fs::exists(LogFileName)) << "the loader logged a diagnostic";
  ASSERT_NE(program, 0u);
  GLint linked = 0;
  Gl.GetProgramiv(program, gl::LINK_STATUS, &linked);
  EXPECT_EQ(linked, 1);

  using TGetAttribLocation = GLint (*)(GLuint, const GLchar*);
  using TGetUniformLocation = GLint (*)(GLuint, const GLchar*);
  using TGetUniformiv = void (*)(GLuint, GLint, GLint*);
  auto getAttrib = reinterpret_cast<TGetAttribLocation>(eglGetProcAddress("glGetAttribLocation"));
  auto getUniform = reinterpret_cast<TGetUniformLocation>(eglGetProcAddress("glGetUniformLocation"));
  auto getUniformiv = reinterpret_cast<TGetUniformiv>(eglGetProcAddress("glGetUniformiv"));
  ASSERT_TRUE(getAttrib && getUniform && getUniformiv);
  EXPECT_EQ(getAttrib(program, "position"), 0);
  EXPECT_EQ(getAttrib(program, "texCoord"), 1);
  const GLint sampler = getUniform(program, "tex");
  ASSERT_GE(sampler, 0);
  GLint unit = -1;
  getUniformiv(program, sampler, &unit);
  EXPECT_EQ(unit, 0);

  for (TShaderInfo& entry : ShaderList) {
    if (entry.shader != 0) Gl.DeleteShader(entry.shader);
    entry.shader = 0;
  }
  Gl.DeleteProgram(program);
}

}  // namespace

int main(int argc, char** argv) {
  // Mesa reads these when a context is created: the 3.0 level the program promises to need.
  ::setenv("MESA_GL_VERSION_OVERRIDE", "3.0", 1);
  ::setenv("MESA_GLSL_VERSION_OVERRIDE", "130", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
