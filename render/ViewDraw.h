// Drawing of the texture view once the user has zoomed, chosen a mip level, a channel or a
// background: a second shader program, built from source compiled into the program the first
// time it is needed, reads each pixel's texel with texelFetch (nearest neighbour, no filtering)
// and lays it over the background itself. The plain picture keeps the view's own program.
#pragma once

#include "gl/GlApi.h"
#include "render/ViewState.h"

namespace velmora {

// The quad the view draws: vertex array, positions at attribute 0, indices.
struct TViewQuad {
  GLuint vertexArray = 0;
  GLuint positionBuffer = 0;
  GLuint indexBuffer = 0;
};

// One frame: which texels land in the viewport and how they are shown.
struct TViewFrame {
  GLuint texture = 0;
  int level = 0;
  std::uint32_t levelWidth = 1;   // size of that level in texels
  std::uint32_t levelHeight = 1;
  // Pixel of the zoomed level (device pixels, from its top-left corner) at the viewport's
  // top-left corner.
  double originX = 0;
  double originY = 0;
  double zoom = 1;          // device pixels per texel
  int viewportHeight = 0;   // device pixels
  TChannel channel = TChannel::kRgba;
  TBackground background = TBackground::kWindow;
  TRgb window;              // the window's colour, for TBackground::kWindow
};

// Owns the second program. Needs the view's context current; Release before the context goes.
class TViewDrawer {
public:
  TViewDrawer() = default;
  ~TViewDrawer() = default;  // the owner releases while the context is current
  TViewDrawer(const TViewDrawer&) = delete;
  TViewDrawer& operator=(const TViewDrawer&) = delete;

  // Draws the frame into the current viewport over whatever is there. False when the program
  // cannot be built (the compiler's log went to the log file), and then nothing is drawn; it is
  // not tried again until Release. Leaves the texture's level range as it was (all levels).
  bool Draw(const TViewQuad& quad, const TViewFrame& frame);

  // Deletes the program and its shaders; makes no GL call when nothing was built.
  void Release() noexcept;

  GLuint Program() const { return FProgram; }

private:
  bool Build();

  GLuint FProgram = 0;
  GLuint FVertex = 0;
  GLuint FFragment = 0;
  bool FFailed = false;
  struct {
    GLint levelSize = -1, origin = -1, texelsPerPixel = -1, viewportHeight = -1, channel = -1,
          background = -1, backColour = -1, checkerLight = -1, checkerDark = -1;
  } FUniform;
};

}  // namespace velmora
