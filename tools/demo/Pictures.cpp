// Generated pictures for the demo textures.
#include "Pictures.h"

#include <algorithm>
#include <cmath>

namespace velmora::demo {
namespace {

constexpr float kPi = 3.14159265f;

struct TRgba {
  float r, g, b, a;
};

float Fract(float v) { return v - std::floor(v); }
float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Hue in turns (0..1 is one circle), saturation and value in 0..1.
TRgba Hsv(float hue, float s, float v, float a) {
  const float h = Fract(hue) * 6.0f;
  const float c = v * s;
  const float x = c * (1.0f - std::fabs(std::fmod(h, 2.0f) - 1.0f));
  const float m = v - c;
  float r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0: r = c; g = x; break;
    case 1: r = x; g = c; break;
    case 2: g = c; b = x; break;
    case 3: g = x; b = c; break;
    case 4: r = x; b = c; break;
    default: r = c; b = x; break;
  }
  return {r + m, g + m, b + m, a};
}

float SeedTurn(std::uint32_t seed) { return static_cast<float>(Mix(seed) % 1000) / 1000.0f; }

TRgba Pixel(TPicture kind, int x, int y, int w, int h, std::uint32_t seed) {
  const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(w);
  const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(h);
  const float hue0 = SeedTurn(seed);
  switch (kind) {
    case TPicture::Gradient:
      // Red across, green down, blue fading towards the lower right; alpha fades downwards.
      return {u, v, 1.0f - u * v, 1.0f - 0.85f * v};
    case TPicture::Rings: {
      const float dx = u - 0.5f, dy = (v - 0.5f) * static_cast<float>(h) / static_cast<float>(w);
      const float d = std::sqrt(dx * dx + dy * dy);
      const float band = 0.5f + 0.5f * std::cos(2.0f * kPi * d * 9.0f);
      TRgba c = Hsv(hue0 + d * 1.5f, 0.75f, 0.45f + 0.55f * band, 0.15f + 0.85f * band);
      return c;
    }
    case TPicture::Tiles: {
      // Bricks of 32 x 16 pixels, every other row shifted by half a brick, 2-pixel mortar.
      const int row = y / 16;
      const int bx = (x + (row % 2) * 16) / 32;
      const int lx = (x + (row % 2) * 16) % 32, ly = y % 16;
      if (lx < 2 || ly < 2) return {0.55f, 0.53f, 0.5f, 0.0f};
      const std::uint32_t id = Mix(seed ^ Mix(static_cast<std::uint32_t>(bx) * 7919u + static_cast<std::uint32_t>(row)));
      const float shade = (lx < 4 || ly < 4) ? 1.25f : (lx > 29 || ly > 13) ? 0.7f : 1.0f;
      TRgba c = Hsv(hue0 + static_cast<float>(id % 60) / 1000.0f, 0.55f + static_cast<float>(id % 20) / 100.0f,
                    0.55f + static_cast<float>((id >> 8) % 25) / 100.0f, 1.0f);
      return {Clamp01(c.r * shade), Clamp01(c.g * shade), Clamp01(c.b * shade), 1.0f};
    }
    case TPicture::Plasma: {
      const float p = std::sin(u * 11.0f + hue0 * 6.0f) + std::sin(v * 13.0f) + std::sin((u + v) * 9.0f) +
                      std::sin(std::sqrt((u - 0.3f) * (u - 0.3f) + (v - 0.7f) * (v - 0.7f)) * 21.0f);
      return Hsv(hue0 + p * 0.125f, 0.8f, 0.9f, 0.5f + 0.125f * p);
    }
    case TPicture::Spot: {
      const float dx = u - 0.5f, dy = v - 0.5f;
      const float r2 = (dx * dx + dy * dy) * 4.0f;
      const float a = std::exp(-r2 * 3.0f);
      return Hsv(hue0 + 0.1f * r2, 0.9f - 0.6f * a, 1.0f, a);
    }
    case TPicture::Stripes:
    default: {
      const float s = Fract((u * static_cast<float>(w) + v * static_cast<float>(h)) / 24.0f);
      TRgba c = s < 0.5f ? Hsv(hue0, 0.7f, 0.95f, 1.0f) : Hsv(hue0 + 0.5f, 0.6f, 0.35f, 1.0f);
      c.a = u;  // alpha steps across the width
      return c;
    }
  }
}

std::uint8_t Byte(float v) { return static_cast<std::uint8_t>(std::lround(Clamp01(v) * 255.0f)); }

}  // namespace

std::uint32_t Mix(std::uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return v;
}

TImage MakePicture(TPicture kind, int w, int h, std::uint32_t seed) {
  TImage img{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4)};
  std::size_t i = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const TRgba c = Pixel(kind, x, y, w, h, seed);
      img.rgba[i++] = Byte(c.r);
      img.rgba[i++] = Byte(c.g);
      img.rgba[i++] = Byte(c.b);
      img.rgba[i++] = Byte(c.a);
    }
  }
  return img;
}

TImage HalfSize(const TImage& img) {
  TImage out{std::max(1, img.w / 2), std::max(1, img.h / 2), {}};
  out.rgba.resize(static_cast<std::size_t>(out.w) * static_cast<std::size_t>(out.h) * 4);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      for (int ch = 0; ch < 4; ++ch) {
        unsigned sum = 0, n = 0;
        for (int sy = 2 * y; sy < std::min(img.h, 2 * y + 2); ++sy) {
          for (int sx = 2 * x; sx < std::min(img.w, 2 * x + 2); ++sx) {
            sum += img.rgba[(static_cast<std::size_t>(sy) * static_cast<std::size_t>(img.w) + static_cast<std::size_t>(sx)) * 4 + static_cast<std::size_t>(ch)];
            ++n;
          }
        }
        out.rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(out.w) + static_cast<std::size_t>(x)) * 4 + static_cast<std::size_t>(ch)] =
            static_cast<std::uint8_t>((sum + n / 2) / n);
      }
    }
  }
  return out;
}

}  // namespace velmora::demo
