// Levels to RGBA pixels, DXT by the S3TC hardware rules.
#include "blp/LevelPixels.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmora::blp {

namespace {

std::uint32_t Le16(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }

struct TRgb {
  std::uint32_t r, g, b;
};

// RGB 5:6:5, red in the top bits, expanded by replicating each field's top bits into the low ones.
TRgb Expand565(std::uint32_t c) {
  const std::uint32_t r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
  return {(r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2)};
}

// (2a + b) / 3 rounded to nearest: a remainder of 1 rounds down, of 2 up.
std::uint32_t TwoThirds(std::uint32_t a, std::uint32_t b) { return (2 * a + b + 1) / 3; }
// (a + b) / 2, halves rounded up.
std::uint32_t Half(std::uint32_t a, std::uint32_t b) { return (a + b + 1) / 2; }

void Put(std::uint8_t* out, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  out[0] = static_cast<std::uint8_t>(r);
  out[1] = static_cast<std::uint8_t>(g);
  out[2] = static_cast<std::uint8_t>(b);
  out[3] = static_cast<std::uint8_t>(a);
}

// The colour part: bytes 0-1 c0, 2-3 c1, then one index byte per row, column x in bits 2x, 2x+1.
void DecodeColours(const std::uint8_t* block, bool threeColourMode, std::uint8_t out[64]) {
  const std::uint32_t raw0 = Le16(block), raw1 = Le16(block + 2);
  const TRgb c0 = Expand565(raw0), c1 = Expand565(raw1);
  std::array<std::array<std::uint32_t, 4>, 4> table{};
  table[0] = {c0.r, c0.g, c0.b, 255};
  table[1] = {c1.r, c1.g, c1.b, 255};
  if (threeColourMode && raw0 <= raw1) {
    table[2] = {Half(c0.r, c1.r), Half(c0.g, c1.g), Half(c0.b, c1.b), 255};
    table[3] = {0, 0, 0, 0};
  } else {
    table[2] = {TwoThirds(c0.r, c1.r), TwoThirds(c0.g, c1.g), TwoThirds(c0.b, c1.b), 255};
    table[3] = {TwoThirds(c1.r, c0.r), TwoThirds(c1.g, c0.g), TwoThirds(c1.b, c0.b), 255};
  }
  for (int y = 0; y < 4; ++y) {
    const std::uint32_t bits = block[4 + y];
    for (int x = 0; x < 4; ++x) {
      const auto& c = table[(bits >> (2 * x)) & 3];
      Put(out + 4 * (4 * y + x), c[0], c[1], c[2], c[3]);
    }
  }
}

// DXT5 alpha: a0, a1, then 16 three-bit indices, pixel k at bits 3k..3k+2 of the 48-bit field.
void DecodeInterpolatedAlpha(const std::uint8_t* block, std::uint8_t out[64]) {
  const std::uint32_t a0 = block[0], a1 = block[1];
  std::array<std::uint32_t, 8> a{a0, a1, 0, 0, 0, 0, 0, 0};
  if (a0 > a1) {
    // a[k] = ((7 - (k - 1)) a0 + (k - 1) a1) / 7, rounded to nearest
    for (std::uint32_t k = 2; k < 8; ++k) a[k] = ((8 - k) * a0 + (k - 1) * a1 + 3) / 7;
  } else {
    // a[k] = ((5 - (k - 1)) a0 + (k - 1) a1) / 5 for k = 2..5, rounded to nearest; then 0, 255
    for (std::uint32_t k = 2; k < 6; ++k) a[k] = ((6 - k) * a0 + (k - 1) * a1 + 2) / 5;
    a[6] = 0;
    a[7] = 255;
  }
  std::uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= std::uint64_t{block[2 + i]} << (8 * i);
  for (int k = 0; k < 16; ++k) out[4 * k + 3] = static_cast<std::uint8_t>(a[(bits >> (3 * k)) & 7]);
}

// DXT3 alpha: four little-endian 16-bit rows, column x in bits 4x..4x+3; nibble x 17.
void DecodeExplicitAlpha(const std::uint8_t* block, std::uint8_t out[64]) {
  for (int y = 0; y < 4; ++y) {
    const std::uint32_t row = Le16(block + 2 * y);
    for (int x = 0; x < 4; ++x) out[4 * (4 * y + x) + 3] = static_cast<std::uint8_t>(((row >> (4 * x)) & 15) * 17);
  }
}

}  // namespace

void DecodeS3tcBlock(TLevelFormat format, const std::uint8_t* block, std::uint8_t out[64]) {
  switch (format) {
    case TLevelFormat::kDxt1:
      DecodeColours(block, true, out);
      break;
    case TLevelFormat::kDxt3:
      DecodeColours(block + 8, false, out);
      DecodeExplicitAlpha(block, out);
      break;
    case TLevelFormat::kDxt5:
      DecodeColours(block + 8, false, out);
      DecodeInterpolatedAlpha(block, out);
      break;
    default:
      std::memset(out, 0, 64);
      break;
  }
}

TRgbaPixels LevelToRgba(const TBlpLevels& levels, std::size_t index) {
  TRgbaPixels out;
  if (index >= levels.levels.size()) return out;
  const TBlpLevel& level = levels.levels[index];
  out.width = level.width;
  out.height = level.height;
  const std::size_t w = level.width, h = level.height;
  switch (levels.format) {
    case TLevelFormat::kRgba:
      out.bytes = level.bytes;
      break;
    case TLevelFormat::kBgra:
      out.bytes = level.bytes;
      for (std::size_t i = 0; i + 3 < out.bytes.size(); i += 4) std::swap(out.bytes[i], out.bytes[i + 2]);
      break;
    case TLevelFormat::kDxt1:
    case TLevelFormat::kDxt3:
    case TLevelFormat::kDxt5: {
      out.bytes.assign(w * h * 4, 0);
      const std::size_t blockBytes = BlockBytes(levels.format);
      const std::size_t bw = (w + 3) / 4, bh = (h + 3) / 4;
      std::uint8_t pixels[64];
      for (std::size_t by = 0; by < bh; ++by) {
        for (std::size_t bx = 0; bx < bw; ++bx) {
          const std::size_t at = (by * bw + bx) * blockBytes;
          if (at + blockBytes > level.bytes.size()) continue;  // a level holds all its blocks; guard all the same
          DecodeS3tcBlock(levels.format, level.bytes.data() + at, pixels);
          const std::size_t cols = std::min<std::size_t>(4, w - bx * 4);
          const std::size_t rows = std::min<std::size_t>(4, h - by * 4);
          for (std::size_t y = 0; y < rows; ++y) {
            std::memcpy(out.bytes.data() + ((by * 4 + y) * w + bx * 4) * 4, pixels + y * 16, cols * 4);
          }
        }
      }
      break;
    }
  }
  return out;
}

}  // namespace velmora::blp
