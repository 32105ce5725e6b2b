// The texture view: the OpenGL context of the drawing panel, its fixed state, the shader
// program, the quad's buffers, drawing the current texture at one screen pixel per texel, and
// releasing all of it at exit. Everything runs on the user-interface thread, where the context
// stays current from InitView to DoneView.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "blp/ZanthBLP.h"
#include "gl/GlApi.h"
#include "gl/GlLibrary.h"
#include "render/ViewDraw.h"
#include "render/ViewPanel.h"
#include "render/ViewReadout.h"
#include "render/ViewState.h"

class QOpenGLContext;

namespace velmora {

// The one texture the view shows; none until the window's selection sets it. The window
// replaces and releases it, and must release it before DoneView while the context exists.
extern std::unique_ptr<TBlpTexture> CurrentTexture;

// GL object names of the view, created by InitView and released by DoneView; 0 outside.
extern GLuint VertexArray;
extern GLuint ShaderProgram;
extern GLuint IndexBuffer;     // GL_ELEMENT_ARRAY_BUFFER: uint16 0, 1, 2, 3
extern GLuint TexCoordBuffer;  // GL_ARRAY_BUFFER: (u, v) (0,0) (0,1) (1,0) (1,1)
extern GLuint PositionBuffer;  // GL_ARRAY_BUFFER: (x, y, z) (-1,1,0) (-1,-1,0) (1,1,0) (1,-1,0)

// How InitView reaches GL. The defaults are the program's; tests replace them to stand in for
// a system without the library or without an entry point.
struct TViewSetup {
  std::string glLibrary = kGlLibraryName;
  // Sees every entry point name with the address the context reports, and returns the address
  // to use (null: missing). Unset, the context's addresses are used as they are.
  std::function<void*(const char* name, void* address)> entryPointFilter;
};

// The view's context and operations; the main window owns one and calls its operations from
// its creation, destruction and painting handlers.
class TGlView {
public:
  TGlView();
  ~TGlView();  // releases what DoneView would, if it has not run
  TGlView(const TGlView&) = delete;
  TGlView& operator=(const TGlView&) = delete;

  // Loads the GL library, creates a context for `panel` and makes it current for the rest of
  // the run, resolves the entry points, sets the fixed state (clear colour `buttonFace`, the
  // viewport on the whole panel, alpha blending), builds the shader program from ShaderList
  // and the quad's buffers. Throws std::runtime_error when the library, the context or an
  // entry point is missing (the message names what is missing) or a shader file cannot be
  // opened; everything set up before the error is released again and the view stays unready,
  // so that the other operations make no GL call.
  void InitView(TRenderPanel& panel, TRgb buttonFace, const TViewSetup& setup = {});

  // Clears to the clear colour, draws CurrentTexture on the quad if there is one, and swaps
  // the panel's buffers. With the plain view state and the whole level on the panel the texture
  // is drawn with the view's own program, stretched over the panel; otherwise the panel shows
  // the part of the zoomed level that SetViewState placed there.
  void RedrawTexture();

  // What the panel shows from the next redraw on: `state`, whose zoom counts device pixels per
  // texel, with the panel's top-left corner at pixel (originX, originY) of the zoomed level in
  // the panel's own (device-independent) pixels; `wholeLevel` when the panel is exactly the
  // zoomed level. No GL call.
  void SetViewState(const TViewState& state, double originX, double originY, bool wholeLevel);
  const TViewState& ViewState() const { return FState; }
  // True when the next redraw makes exactly the plain drawing calls: the plain view state, and
  // the panel's device pixels match the texture's texels one for one (on a scaled desktop a
  // panel can be one device pixel wider than an odd-sized texture).
  bool PlainDrawing() const;

  // Texel (x, y) of level `level` of CurrentTexture as the view shows it: palette and
  // uncompressed levels as uploaded, DXT levels as the library decoded them for a GL without
  // texture compression, else as the GL decodes the compressed block (render/GlBlock.h; the
  // hardware rules stand in should that fail). None outside the level or without a texture.
  std::optional<TTexel> ShownTexel(int level, std::uint32_t x, std::uint32_t y);

  // Fits the viewport to the panel's current size in device pixels.
  void SetViewport();

  // Releases the buffers, shaders, program, vertex array and the context, in that order.
  // Any texture still shown is released first, while the context exists.
  void DoneView();

  // True from a successful InitView to DoneView.
  bool Ready() const { return FReady; }

  QOpenGLContext* Context() const { return hrc.get(); }

private:
  void ReleaseGlObjects() noexcept;
  void ReleaseContext() noexcept;
  bool DrawChosen();

  TViewDrawer FDrawer;
  TViewState FState;
  double FOriginX = 0;
  double FOriginY = 0;
  bool FWholeLevel = true;
  TRgb FWindow;  // the clear colour

  TRenderPanel* dc = nullptr;            // the panel whose native window the context draws to
  std::unique_ptr<QOpenGLContext> hrc;   // the rendering context
  TGlLibrary FGlLibrary;
  bool FResolved = false;  // the GL table was filled for this context
  bool FReady = false;
};

}  // namespace velmora
