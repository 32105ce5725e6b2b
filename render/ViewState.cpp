// Zoom steps, level sizes and the pixel-to-texel rule of the texture view.
#include "render/ViewState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora {

double ClampZoom(double zoom) {
  if (!(zoom > 0)) return 1;  // also NaN
  return std::clamp(zoom, kMinZoom, kMaxZoom);
}

double ZoomInStep(double zoom) {
  // A tiny margin, so that a power of two reached by halving or doubling counts as one.
  const double next = std::exp2(std::floor(std::log2(ClampZoom(zoom)) + 1e-9) + 1);
  return ClampZoom(next);
}

double ZoomOutStep(double zoom) {
  const double next = std::exp2(std::ceil(std::log2(ClampZoom(zoom)) - 1e-9) - 1);
  return ClampZoom(next);
}

double FitZoom(std::uint32_t w, std::uint32_t h, int viewW, int viewH) {
  if (w == 0 || h == 0 || viewW <= 0 || viewH <= 0) return 1;
  return ClampZoom(std::min(static_cast<double>(viewW) / w, static_cast<double>(viewH) / h));
}

TBackground NextBackground(TBackground background) {
  return static_cast<TBackground>((static_cast<int>(background) + 1) % kBackgroundCount);
}

std::uint32_t LevelExtent(std::uint32_t extent, int level) {
  if (level < 0) level = 0;
  const std::uint32_t shifted = level >= 32 ? 0 : extent >> level;
  return std::max<std::uint32_t>(shifted, 1);
}

std::int64_t ZoomedExtent(std::uint32_t texels, double zoom) {
  if (texels == 0) return 0;
  const double pixels = std::ceil(texels * ClampZoom(zoom) - 1e-9);
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(pixels));
}

std::int64_t TexelUnder(std::int64_t pixel, double zoom) {
  return static_cast<std::int64_t>(std::floor((static_cast<double>(pixel) + 0.5) / ClampZoom(zoom)));
}

double AnchoredOffset(double offset, double pointer, double oldZoom, double newZoom) {
  return (offset + pointer) * ClampZoom(newZoom) / ClampZoom(oldZoom) - pointer;
}

std::string ZoomText(double zoom) {
  char text[32];
  // Up to four significant digits: 6.25%, 12.5%, 6400%; a fitted zoom reads 73.24%.
  std::snprintf(text, sizeof text, "%.4g%%", ClampZoom(zoom) * 100);
  return text;
}

}  // namespace velmora
