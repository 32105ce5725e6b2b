// The texture view's second program: texelFetch on the chosen level, channels, backgrounds.
#include "render/ViewDraw.h"

#include "render/GlCommon.h"

namespace velmora {

namespace {

// GLSL 1.30, the 3.0 level, as the view's own files. Positions arrive in clip space.
constexpr const char* kVertexSource = R"(#version 130
#extension GL_ARB_explicit_attrib_location : require
layout(location = 0) in vec3 position;
void main() {
  gl_Position = vec4(position, 1.0);
}
)";

// Every pixel finds its texel from its own position: pixel centre p (from the zoomed level's
// top-left corner) shows texel floor(p / zoom), so each texel is exactly N x N pixels at a whole
// zoom N. The background is mixed in here, by the texel's alpha, and the result is opaque.
constexpr const char* kFragmentSource = R"(#version 130
#extension GL_ARB_explicit_attrib_location : require
uniform sampler2D tex;
uniform ivec2 levelSize;
uniform vec2 origin;
uniform float texelsPerPixel;
uniform float viewportHeight;
uniform int channel;     // 0 RGBA, 1 RGB, 2 red, 3 green, 4 blue, 5 alpha
uniform int background;  // 0 one colour, 1 checkerboard
uniform vec3 backColour;
uniform vec3 checkerLight;
uniform vec3 checkerDark;
layout(location = 0) out vec4 fragColour;
void main() {
  // gl_FragCoord is the pixel's centre counted from the bottom row; rows count from the top here.
  vec2 pixel = vec2(gl_FragCoord.x, viewportHeight - gl_FragCoord.y) + origin;
  vec3 back = backColour;
  if (background == 1) {
    ivec2 cell = ivec2(floor(pixel)) / 8;
    back = ((cell.x + cell.y) & 1) == 0 ? checkerLight : checkerDark;
  }
  // A pixel that starts past the level's last texel shows no texel: on a scaled desktop the panel
  // can be one device pixel wider or taller than an odd-sized level.
  if (any(greaterThanEqual((pixel - 0.5) * texelsPerPixel, vec2(levelSize)))) {
    fragColour = vec4(back, 1.0);
    return;
  }
  ivec2 texel = clamp(ivec2(floor(pixel * texelsPerPixel)), ivec2(0), levelSize - 1);
  // The shown level is the texture's base level while this draws; fetches count from it.
  vec4 c = texelFetch(tex, texel, 0);
  vec3 rgb;
  if (channel == 1) rgb = c.rgb;
  else if (channel == 2) rgb = vec3(c.r);
  else if (channel == 3) rgb = vec3(c.g);
  else if (channel == 4) rgb = vec3(c.b);
  else if (channel == 5) rgb = vec3(c.a);
  else rgb = mix(back, c.rgb, c.a);
  fragColour = vec4(rgb, 1.0);
}
)";

static_assert(kCheckerCell == 8, "the fragment source counts squares of 8 pixels");

GLuint Compile(GLenum type, const char* source) {
  const GLuint shader = Gl.CreateShader(type);
  Gl.ShaderSource(shader, 1, &source, nullptr);
  Gl.CompileShader(shader);
  return shader;
}

float Unit(std::uint8_t v) { return static_cast<float>(v) / 255.0f; }

}  // namespace

bool TViewDrawer::Build() {
  if (FProgram != 0) return true;
  if (FFailed) return false;
  FVertex = Compile(gl::VERTEX_SHADER, kVertexSource);
  FFragment = Compile(gl::FRAGMENT_SHADER, kFragmentSource);
  // The compiler's and linker's complaints go to the log, as for the view's own program.
  if (CheckShader(FVertex, gl::COMPILE_STATUS) != 1 || CheckShader(FFragment, gl::COMPILE_STATUS) != 1) {
    FFailed = true;
    return false;
  }
  const GLuint program = Gl.CreateProgram();
  Gl.AttachShader(program, FVertex);
  Gl.AttachShader(program, FFragment);
  Gl.LinkProgram(program);
  if (CheckProgram(program, gl::LINK_STATUS) != 1) {
    Gl.DeleteProgram(program);
    FFailed = true;
    return false;
  }
  FProgram = program;
  FUniform.levelSize = Gl.GetUniformLocation(program, "levelSize");
  FUniform.origin = Gl.GetUniformLocation(program, "origin");
  FUniform.texelsPerPixel = Gl.GetUniformLocation(program, "texelsPerPixel");
  FUniform.viewportHeight = Gl.GetUniformLocation(program, "viewportHeight");
  FUniform.channel = Gl.GetUniformLocation(program, "channel");
  FUniform.background = Gl.GetUniformLocation(program, "background");
  FUniform.backColour = Gl.GetUniformLocation(program, "backColour");
  FUniform.checkerLight = Gl.GetUniformLocation(program, "checkerLight");
  FUniform.checkerDark = Gl.GetUniformLocation(program, "checkerDark");
  return true;
}

bool TViewDrawer::Draw(const TViewQuad& quad, const TViewFrame& frame) {
  if (!Build()) return false;
  Gl.BindVertexArray(quad.vertexArray);
  Gl.UseProgram(FProgram);
  Gl.BindBuffer(gl::ARRAY_BUFFER, quad.positionBuffer);
  Gl.VertexAttribPointer(0, 3, gl::FLOAT, gl::FALSE_, 0, nullptr);
  Gl.EnableVertexAttribArray(0);
  Gl.BindBuffer(gl::ELEMENT_ARRAY_BUFFER, quad.indexBuffer);
  Gl.ActiveTexture(gl::TEXTURE0);
  Gl.BindTexture(gl::TEXTURE_2D, frame.texture);
  // The loader sets a minification filter without mip levels, under which only the base level
  // makes the texture complete: the shown level becomes the base for this draw.
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_BASE_LEVEL, frame.level);
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAX_LEVEL, frame.level);

  TRgb back = frame.window;
  if (frame.background == TBackground::kBlack) back = {0, 0, 0};
  if (frame.background == TBackground::kWhite) back = {255, 255, 255};
  Gl.Uniform2i(FUniform.levelSize, static_cast<GLint>(frame.levelWidth), static_cast<GLint>(frame.levelHeight));
  Gl.Uniform2f(FUniform.origin, static_cast<GLfloat>(frame.originX), static_cast<GLfloat>(frame.originY));
  Gl.Uniform1f(FUniform.texelsPerPixel, static_cast<GLfloat>(1.0 / ClampZoom(frame.zoom)));
  Gl.Uniform1f(FUniform.viewportHeight, static_cast<GLfloat>(frame.viewportHeight));
  Gl.Uniform1i(FUniform.channel, static_cast<GLint>(frame.channel));
  Gl.Uniform1i(FUniform.background, frame.background == TBackground::kChecker ? 1 : 0);
  Gl.Uniform3f(FUniform.backColour, Unit(back.r), Unit(back.g), Unit(back.b));
  Gl.Uniform3f(FUniform.checkerLight, Unit(kCheckerLight.r), Unit(kCheckerLight.g), Unit(kCheckerLight.b));
  Gl.Uniform3f(FUniform.checkerDark, Unit(kCheckerDark.r), Unit(kCheckerDark.g), Unit(kCheckerDark.b));
  Gl.DrawElements(gl::TRIANGLE_STRIP, 4, gl::UNSIGNED_SHORT, nullptr);

  // GL's defaults again (base 0, max 1000), which the plain drawing relies on.
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_BASE_LEVEL, 0);
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAX_LEVEL, 1000);
  return true;
}

void TViewDrawer::Release() noexcept {
  if (FProgram != 0) Gl.DeleteProgram(FProgram);
  if (FVertex != 0) Gl.DeleteShader(FVertex);
  if (FFragment != 0) Gl.DeleteShader(FFragment);
  FProgram = FVertex = FFragment = 0;
  FFailed = false;
  FUniform = {};
}

}  // namespace velmora
