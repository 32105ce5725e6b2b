// Plain per-pixel DXT decoding: every pixel recomputes its block's colours and alpha.
#include "support/DxtOracle.h"

namespace velmora::test {
namespace {

unsigned Word16(const uint8_t* p) { return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8); }

// 5:6:5 to 8 bits: red and blue (v << 3) | (v >> 2); green (v << 2) | (v >> 3).
std::array<unsigned, 3> Expand(unsigned c) {
  const unsigned r5 = c >> 11;
  const unsigned g6 = (c >> 5) & 63;
  const unsigned b5 = c & 31;
  return {(r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 3), (b5 << 3) | (b5 >> 2)};
}

std::array<uint8_t, 4> ColourPixel(const uint8_t* colourBlock, int x, int y) {
  const unsigned c0 = Word16(colourBlock);
  const unsigned c1 = Word16(colourBlock + 2);
  const unsigned index = (colourBlock[4 + y] >> (2 * x)) & 3;
  const auto e0 = Expand(c0);
  const auto e1 = Expand(c1);
  std::array<uint8_t, 4> out{};
  if (index == 0) {
    out = {uint8_t(e0[0]), uint8_t(e0[1]), uint8_t(e0[2]), 255};
  } else if (index == 1) {
    out = {uint8_t(e1[0]), uint8_t(e1[1]), uint8_t(e1[2]), 255};
  } else if (c0 > c1) {
    for (int ch = 0; ch < 3; ++ch) {
      out[ch] = uint8_t(index == 2 ? (2 * e0[ch] + e1[ch]) / 3 : (e0[ch] + 2 * e1[ch]) / 3);
    }
    out[3] = 255;
  } else if (index == 2) {
    for (int ch = 0; ch < 3; ++ch) out[ch] = uint8_t((e0[ch] + e1[ch]) / 2);
    out[3] = 255;
  } else {
    out = {0, 255, 255, 0};
  }
  return out;
}

uint8_t ExplicitAlpha(const uint8_t* alphaBlock, int x, int y) {
  const unsigned word = Word16(alphaBlock + 2 * y);
  return uint8_t(((word >> (4 * x)) & 15) * 17);
}

uint8_t InterpolatedAlpha(const uint8_t* alphaBlock, int x, int y) {
  const unsigned a0 = alphaBlock[0];
  const unsigned a1 = alphaBlock[1];
  const int n = 4 * y + x;
  const uint8_t* group = n < 8 ? alphaBlock + 2 : alphaBlock + 5;
  const unsigned bits = group[0] | (group[1] << 8) | (group[2] << 16);
  const unsigned index = (bits >> (3 * (n % 8))) & 7;
  if (index == 0) return uint8_t(a0);
  if (index == 1) return uint8_t(a1);
  if (a0 > a1) {
    switch (index) {
      case 2: return uint8_t((6 * a0 + 1 * a1) / 7);
      case 3: return uint8_t((5 * a0 + 2 * a1) / 7);
      case 4: return uint8_t((4 * a0 + 3 * a1) / 7);
      case 5: return uint8_t((3 * a0 + 4 * a1) / 7);
      case 6: return uint8_t((2 * a0 + 5 * a1) / 7);
      default: return uint8_t((1 * a0 + 6 * a1) / 7);
    }
  }
  switch (index) {
    case 2: return uint8_t((4 * a0 + 1 * a1) / 5);
    case 3: return uint8_t((3 * a0 + 2 * a1) / 5);
    case 4: return uint8_t((2 * a0 + 3 * a1) / 5);
    case 5: return uint8_t((1 * a0 + 4 * a1) / 5);
    case 6: return 0;
    default: return 255;
  }
}

}  // namespace

const char* DxtKindName(DxtKind kind) {
  switch (kind) {
    case DxtKind::Dxt1: return "DXT1";
    case DxtKind::Dxt3: return "DXT3";
    case DxtKind::Dxt5: return "DXT5";
  }
  return "?";
}

std::size_t DxtBlockBytes(DxtKind kind) { return kind == DxtKind::Dxt1 ? 8 : 16; }

std::array<uint8_t, 4> OracleDecodePixel(DxtKind kind, const uint8_t* block, int x, int y) {
  if (kind == DxtKind::Dxt1) return ColourPixel(block, x, y);
  std::array<uint8_t, 4> px = ColourPixel(block + 8, x, y);
  px[3] = kind == DxtKind::Dxt3 ? ExplicitAlpha(block, x, y) : InterpolatedAlpha(block, x, y);
  return px;
}

std::size_t DxtSourceBytes(DxtKind kind, int32_t width, int32_t height) {
  const int32_t bw = width / 4;
  const int32_t bh = height / 4;
  if (bw <= 0 || bh <= 0) return 0;
  return static_cast<std::size_t>(bw) * static_cast<std::size_t>(bh) * DxtBlockBytes(kind);
}

void OracleDecodeImage(DxtKind kind, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  const int32_t bw = width / 4;
  const int32_t bh = height / 4;
  for (int32_t y = 0; y < 4 * bh; ++y) {
    for (int32_t x = 0; x < 4 * bw; ++x) {
      const std::size_t blockNumber = static_cast<std::size_t>(y / 4) * static_cast<std::size_t>(bw) +
                                      static_cast<std::size_t>(x / 4);
      const auto px = OracleDecodePixel(kind, src + blockNumber * DxtBlockBytes(kind), x % 4, y % 4);
      const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)) * 4;
      for (int ch = 0; ch < 4; ++ch) dst[at + ch] = px[ch];
    }
  }
}

}  // namespace velmora::test
