// What the user has chosen for the texture view beside the plain one-texel-per-pixel picture: zoom,
// mip level, channel and background, and the arithmetic between screen pixels and texels. No GL.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// A colour as 8-bit red, green and blue.
struct TRgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

// What the picture shows of each texel.
enum class TChannel {
  kRgba,   // the texel blended over the background by its alpha
  kRgb,    // colour only, alpha ignored
  kRed,    // one channel as grey
  kGreen,
  kBlue,
  kAlpha,
};
constexpr int kChannelCount = 6;

// What lies behind texels that are not opaque.
enum class TBackground {
  kWindow,   // the window's own colour, as the clear colour shows it
  kChecker,  // 8 x 8 screen pixels of two greys
  kBlack,
  kWhite,
};
constexpr int kBackgroundCount = 4;

// The checkerboard: squares of kCheckerCell screen pixels, counted from the top-left corner of
// the zoomed level, so that they move with the picture; the square at (0, 0) is the light one.
constexpr int kCheckerCell = 8;
constexpr TRgb kCheckerLight{204, 204, 204};
constexpr TRgb kCheckerDark{153, 153, 153};

// Zoom factors: screen pixels per texel.
constexpr double kMinZoom = 1.0 / 16;
constexpr double kMaxZoom = 64;

struct TViewState {
  double zoom = 1;  // within kMinZoom..kMaxZoom
  int level = 0;    // mip level shown; 0 is the full-size one
  TChannel channel = TChannel::kRgba;
  TBackground background = TBackground::kWindow;

  // Nothing chosen: level 0 at one pixel per texel over the window's colour.
  bool IsDefault() const {
    return zoom == 1 && level == 0 && channel == TChannel::kRgba && background == TBackground::kWindow;
  }
};

double ClampZoom(double zoom);
// The next power of two above `zoom` (x2 from a power of two), within the range.
double ZoomInStep(double zoom);
// The next power of two below `zoom` (/2 from a power of two), within the range.
double ZoomOutStep(double zoom);
// The largest zoom at which a w x h level fits in viewW x viewH, within the range; 1 for an empty
// level or view.
double FitZoom(std::uint32_t w, std::uint32_t h, int viewW, int viewH);

TBackground NextBackground(TBackground background);

// Size of mip level `level` of a w x h texture: halved per level, never below 1.
std::uint32_t LevelExtent(std::uint32_t extent, int level);

// Screen pixels that `texels` texels take at `zoom`: rounded up, at least 1 for a level that has
// texels, 0 for none.
std::int64_t ZoomedExtent(std::uint32_t texels, double zoom);

// The texel that screen pixel `pixel` (counted from the zoomed level's edge) shows: the one under
// the pixel's centre, floor((pixel + 0.5) / zoom). The view's shader samples by the same rule.
std::int64_t TexelUnder(std::int64_t pixel, double zoom);

// Scroll offset that keeps the point `pointer` pixels into the view over the same texel when the
// zoom goes from `oldZoom` to `newZoom`: (offset + pointer) * newZoom / oldZoom - pointer.
double AnchoredOffset(double offset, double pointer, double oldZoom, double newZoom);

// "200%", "6.25%", "73.2%".
std::string ZoomText(double zoom);

}  // namespace velmora
