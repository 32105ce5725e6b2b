// The texture view's context, fixed state, quad and drawing.
#include "render/View.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <QOpenGLContext>

#include "render/GlBlock.h"
#include "render/GlCommon.h"
#include "render/ShaderSearch.h"

namespace velmora {

std::unique_ptr<TBlpTexture> CurrentTexture;
GLuint VertexArray = 0;
GLuint ShaderProgram = 0;
GLuint IndexBuffer = 0;
GLuint TexCoordBuffer = 0;
GLuint PositionBuffer = 0;

namespace {

// The quad as a triangle strip over the whole viewport. Vertex k pairs position k with
// texture coordinate k; the top-left corner (-1, 1) takes (0, 0), so the first row of texel
// data lands at the top of the panel.
constexpr std::uint16_t kQuadIndices[4] = {0, 1, 2, 3};
constexpr GLfloat kQuadTexCoords[4 * 2] = {0, 0, 0, 1, 1, 0, 1, 1};
constexpr GLfloat kQuadPositions[4 * 3] = {-1, 1, 0, -1, -1, 0, 1, 1, 0, 1, -1, 0};
static_assert(sizeof kQuadIndices == 8 && sizeof kQuadTexCoords == 32 && sizeof kQuadPositions == 48);

GLuint MakeBuffer(GLenum target, const void* data, GLsizeiptr size) {
  GLuint name = 0;
  Gl.GenBuffers(1, &name);
  Gl.BindBuffer(target, name);
  Gl.BufferData(target, size, data, gl::STATIC_DRAW);
  return name;
}

// The panel's size in device pixels, which the viewport covers.
void ViewportOn(const TRenderPanel& panel) {
  const qreal ratio = panel.devicePixelRatio();
  const auto w = static_cast<GLsizei>(std::lround(panel.width() * ratio));
  const auto h = static_cast<GLsizei>(std::lround(panel.height() * ratio));
  Gl.Viewport(0, 0, w, h);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

}  // namespace

TGlView::TGlView() = default;

TGlView::~TGlView() { DoneView(); }

void TGlView::InitView(TRenderPanel& panel, TRgb buttonFace, const TViewSetup& setup) {
  if (FReady || hrc) throw std::runtime_error("the texture view is already set up");
  try {
    std::string why;
    if (!FGlLibrary.Open(setup.glLibrary, why)) {
      throw std::runtime_error("cannot load the OpenGL library " + setup.glLibrary + ": " + why);
    }

    dc = &panel;
    // The pixel format belongs to the native window: it can only be chosen before that exists.
    if (panel.handle() == nullptr) {
      if (panel.surfaceType() != QSurface::OpenGLSurface) panel.setSurfaceType(QSurface::OpenGLSurface);
      if (panel.requestedFormat() != ViewSurfaceFormat()) panel.setFormat(ViewSurfaceFormat());
      panel.create();
    }
    if (panel.handle() == nullptr) {
      throw std::runtime_error("cannot create the native window of the drawing panel");
    }
    hrc = std::make_unique<QOpenGLContext>();
    hrc->setFormat(ViewSurfaceFormat());
    if (!hrc->create()) {
      throw std::runtime_error(
          "cannot create an OpenGL context for the drawing panel: the window system offers no "
          "pixel format with 8-bit red, green and blue, 24-bit depth and double buffering");
    }
    if (!hrc->makeCurrent(&panel)) {
      throw std::runtime_error("cannot make the OpenGL context current on the drawing panel");
    }

    QOpenGLContext* context = hrc.get();
    const std::vector<std::string> missing = ResolveGlApi([&](const char* name) -> void* {
      void* address = reinterpret_cast<void*>(context->getProcAddress(name));
      return setup.entryPointFilter ? setup.entryPointFilter(name, address) : address;
    });
    if (!missing.empty()) {
      throw std::runtime_error("the OpenGL library " + setup.glLibrary +
                               " lacks the entry points " + JoinNames(missing));
    }
    FResolved = true;

    FWindow = buttonFace;
    Gl.PolygonMode(gl::FRONT, gl::FILL);
    Gl.ClearColor(buttonFace.r / 255.0f, buttonFace.g / 255.0f, buttonFace.b / 255.0f, 1.0f);
    ViewportOn(panel);
    Gl.Enable(gl::BLEND);
    Gl.BlendFunc(gl::SRC_ALPHA, gl::ONE_MINUS_SRC_ALPHA);
    Gl.GenVertexArrays(1, &VertexArray);
    Gl.BindVertexArray(VertexArray);
    SelectShaderBaseDir(ShaderList);
    ShaderProgram = LoadShaders(ShaderList);
    Gl.UseProgram(ShaderProgram);
    IndexBuffer = MakeBuffer(gl::ELEMENT_ARRAY_BUFFER, kQuadIndices, sizeof kQuadIndices);
    TexCoordBuffer = MakeBuffer(gl::ARRAY_BUFFER, kQuadTexCoords, sizeof kQuadTexCoords);
    PositionBuffer = MakeBuffer(gl::ARRAY_BUFFER, kQuadPositions, sizeof kQuadPositions);
    FReady = true;
  } catch (...) {
    // A half-built view would draw from buffers that do not exist: take it all down again.
    if (FResolved) ReleaseGlObjects();
    ReleaseContext();
    throw;
  }
}

void TGlView::RedrawTexture() {
  if (!FReady) return;
  Gl.Clear(gl::COLOR_BUFFER_BIT | gl::DEPTH_BUFFER_BIT);
  // Zoom, level, channel or background: the second program draws (and, should it not build,
  // the plain drawing stands in).
  const bool drawnAsChosen = CurrentTexture && !PlainDrawing() && DrawChosen();
  if (CurrentTexture && !drawnAsChosen) {
    Gl.BindVertexArray(VertexArray);
    Gl.UseProgram(ShaderProgram);
    Gl.BindBuffer(gl::ARRAY_BUFFER, PositionBuffer);
    Gl.VertexAttribPointer(0, 3, gl::FLOAT, gl::FALSE_, 0, nullptr);
    Gl.EnableVertexAttribArray(0);
    Gl.BindBuffer(gl::ARRAY_BUFFER, TexCoordBuffer);
    Gl.VertexAttribPointer(1, 2, gl::FLOAT, gl::FALSE_, 0, nullptr);
    Gl.EnableVertexAttribArray(1);
    Gl.BindBuffer(gl::ELEMENT_ARRAY_BUFFER, IndexBuffer);
    Gl.ActiveTexture(gl::TEXTURE0);
    Gl.BindTexture(gl::TEXTURE_2D, CurrentTexture->id);
    Gl.DrawElements(gl::TRIANGLE_STRIP, 4, gl::UNSIGNED_SHORT, nullptr);
  }
  // Qt leaves a swap on a window that is not shown undefined; nothing of it would be seen.
  if (dc->isExposed()) hrc->swapBuffers(dc);
}

bool TGlView::PlainDrawing() const {
  if (!FWholeLevel || !FState.IsDefault()) return false;
  if (!CurrentTexture || dc == nullptr || CurrentTexture->width <= 0 || CurrentTexture->height <= 0) return true;
  const qreal ratio = dc->devicePixelRatio();
  return std::lround(dc->width() * ratio) == CurrentTexture->width &&
         std::lround(dc->height() * ratio) == CurrentTexture->height;
}

std::optional<TTexel> TGlView::ShownTexel(int level, std::uint32_t x, std::uint32_t y) {
  if (!CurrentTexture || level < 0) return std::nullopt;
  const TBlpTexture& texture = *CurrentTexture;
  const blp::TBlpLevels& levels = texture.Levels();
  const auto index = static_cast<std::size_t>(level);
  if (index >= levels.levels.size()) return std::nullopt;
  const blp::TBlpLevel& l = levels.levels[index];
  if (x >= l.width || y >= l.height) return std::nullopt;
  const std::size_t blockBytes = blp::BlockBytes(levels.format);
  if (blockBytes == 0) return TexelValue(levels, index, x, y);
  if (texture.DxtDecodedByLibrary()) return TexelValue(levels, index, x, y, TDxtDecoder::kLibrary);
  // The GL's own decode of the texel's block. 4 x 4 blocks row by row, partial blocks included.
  const std::size_t at = ((y / 4) * ((std::size_t{l.width} + 3) / 4) + x / 4) * blockBytes;
  std::uint8_t pixels[64];
  if (FReady && at + blockBytes <= l.bytes.size() && GlDecodeBlock(levels.format, l.bytes.data() + at, pixels)) {
    const std::uint8_t* p = pixels + ((y % 4) * 4 + x % 4) * 4;
    return TTexel{p[0], p[1], p[2], p[3]};
  }
  return TexelValue(levels, index, x, y, TDxtDecoder::kHardwareRules);
}

void TGlView::SetViewState(const TViewState& state, double originX, double originY, bool wholeLevel) {
  FState = state;
  FOriginX = originX;
  FOriginY = originY;
  FWholeLevel = wholeLevel;
}

bool TGlView::DrawChosen() {
  const TBlpTexture& texture = *CurrentTexture;
  // Only levels that were uploaded can be shown; a texture without any shows as level 0 does.
  const int levels = static_cast<int>(texture.Levels().levels.size());
  const int level = std::clamp(FState.level, 0, std::max(levels - 1, 0));
  const qreal ratio = dc->devicePixelRatio();
  TViewFrame frame;
  frame.texture = texture.id;
  frame.level = level;
  frame.levelWidth = LevelExtent(static_cast<std::uint32_t>(std::max(texture.width, 0)), level);
  frame.levelHeight = LevelExtent(static_cast<std::uint32_t>(std::max(texture.height, 0)), level);
  // Origins come in the panel's pixels, the zoom already in device pixels per texel.
  frame.originX = FOriginX * ratio;
  frame.originY = FOriginY * ratio;
  frame.zoom = FState.zoom;
  frame.viewportHeight = static_cast<int>(std::lround(dc->height() * ratio));
  frame.channel = FState.channel;
  frame.background = FState.background;
  frame.window = FWindow;
  return FDrawer.Draw({VertexArray, PositionBuffer, IndexBuffer}, frame);
}

void TGlView::SetViewport() {
  if (!FReady) return;
  ViewportOn(*dc);
}

void TGlView::DoneView() {
  if (FReady) {
    // Textures are GL objects too: one still shown goes while the context exists.
    CurrentTexture.reset();
    ReleaseGlObjects();
  }
  ReleaseContext();
}

void TGlView::ReleaseGlObjects() noexcept {
  Gl.BindBuffer(gl::ELEMENT_ARRAY_BUFFER, 0);
  Gl.BindBuffer(gl::ARRAY_BUFFER, 0);
  Gl.DeleteBuffers(1, &IndexBuffer);
  Gl.DeleteBuffers(1, &TexCoordBuffer);
  Gl.DeleteBuffers(1, &PositionBuffer);
  for (TShaderInfo& entry : ShaderList) {
    if (entry.shader != 0) Gl.DeleteShader(entry.shader);
    entry.shader = 0;
  }
  Gl.DeleteProgram(ShaderProgram);
  Gl.DeleteVertexArrays(1, &VertexArray);
  // The program for zoom, levels and channels, if it was ever needed.
  FDrawer.Release();
  IndexBuffer = TexCoordBuffer = PositionBuffer = 0;
  ShaderProgram = 0;
  VertexArray = 0;
}

void TGlView::ReleaseContext() noexcept {
  if (hrc) {
    hrc->doneCurrent();
    hrc.reset();
  }
  dc = nullptr;
  // The table is the view's only once it has resolved it; before that it may be empty or
  // another owner's.
  if (FResolved) ResetGlApi();
  FResolved = false;
  FGlLibrary.Close();
  FReady = false;
}

}  // namespace velmora
