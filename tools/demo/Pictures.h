// Generated pictures for the demo textures: gradients, rings, tiles, plasma, a soft spot and
// stripes, each with an alpha channel of its own. Deterministic: same arguments, same pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::demo {

// RGBA, four bytes per pixel in the order red, green, blue, alpha, rows top to bottom.
struct TImage {
  int w = 0;
  int h = 0;
  std::vector<std::uint8_t> rgba;
};

enum class TPicture { Gradient, Rings, Tiles, Plasma, Spot, Stripes };
inline constexpr int kPictureKinds = 6;

TImage MakePicture(TPicture kind, int w, int h, std::uint32_t seed);

// The next mip level: half size (at least 1), each pixel the mean of up to 2 x 2 pixels.
TImage HalfSize(const TImage& img);

// A 32-bit mix of `v`, for choices that must look random but stay the same on every run.
std::uint32_t Mix(std::uint32_t v);

}  // namespace velmora::demo
