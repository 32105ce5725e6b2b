// Plain, one-pixel-at-a-time decoding of BLP2 levels for the expectations of the loader tests.
#include "BlpReference.h"

#include <array>

namespace velmora::test {

namespace {

using Pixel = std::array<std::uint8_t, 4>;

std::uint8_t Byte(const std::string& bytes, std::size_t i) {
  return i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0;
}

Pixel PalettePixel(const BlpFile& f, const std::string& bytes, std::size_t n, std::size_t count) {
  const std::size_t idx = Byte(bytes, n);
  int a = 255;
  switch (f.alphaBits) {
    case 1: a = ((Byte(bytes, count + n / 8) >> (n % 8)) & 1) != 0 ? 255 : 0; break;
    case 4: a = ((Byte(bytes, count + n / 2) >> (n % 2 == 0 ? 0 : 4)) & 15) * 17; break;
    case 8: a = Byte(bytes, count + n); break;
    default: break;
  }
  return {f.palette[4 * idx + 2], f.palette[4 * idx + 1], f.palette[4 * idx], static_cast<std::uint8_t>(a)};
}

Pixel DxtPixel(int version, const std::string& bytes, std::size_t blockAt, int x, int y, DxtRules rules) {
  const std::size_t colourAt = version == 1 ? blockAt : blockAt + 8;
  const unsigned c0 = Byte(bytes, colourAt) | Byte(bytes, colourAt + 1) << 8;
  const unsigned c1 = Byte(bytes, colourAt + 2) | Byte(bytes, colourAt + 3) << 8;
  const unsigned index = (Byte(bytes, colourAt + 4 + static_cast<std::size_t>(y)) >> (2 * x)) & 3;
  auto expand = [rules](unsigned c) {
    const unsigned r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
    const unsigned g = rules == DxtRules::Library ? (g6 << 2) | (g6 >> 3) : (g6 << 2) | (g6 >> 4);
    return std::array<unsigned, 3>{(r5 << 3) | (r5 >> 2), g, (b5 << 3) | (b5 >> 2)};
  };
  const auto e0 = expand(c0);
  const auto e1 = expand(c1);
  const bool threeColour = c0 <= c1 && (rules == DxtRules::Library || version == 1);
  // Hardware rounding adds half the divisor before dividing (halves up); the others truncate.
  const unsigned half2 = rules == DxtRules::Hardware ? 1 : 0;
  const unsigned third = rules == DxtRules::Hardware ? 1 : 0;  // x / 3 rounded: (x + 1) / 3
  Pixel p{0, 0, 0, 255};
  for (int ch = 0; ch < 3; ++ch) {
    unsigned v = 0;
    switch (index) {
      case 0: v = e0[ch]; break;
      case 1: v = e1[ch]; break;
      case 2: v = threeColour ? (e0[ch] + e1[ch] + half2) / 2 : (2 * e0[ch] + e1[ch] + third) / 3; break;
      default: v = threeColour ? 0 : (e0[ch] + 2 * e1[ch] + third) / 3; break;
    }
    p[ch] = static_cast<std::uint8_t>(v);
  }
  if (threeColour && index == 3) {
    p = rules == DxtRules::Library ? Pixel{0, 255, 255, 0} : Pixel{0, 0, 0, 0};
  }
  const int k = 4 * y + x;  // pixel number inside the block
  if (version == 3) {
    const unsigned word = Byte(bytes, blockAt + 2 * static_cast<std::size_t>(y)) |
                          Byte(bytes, blockAt + 2 * static_cast<std::size_t>(y) + 1) << 8;
    p[3] = static_cast<std::uint8_t>(((word >> (4 * x)) & 15) * 17);
  } else if (version == 5) {
    const unsigned a0 = Byte(bytes, blockAt), a1 = Byte(bytes, blockAt + 1);
    const std::size_t groupAt = blockAt + (k < 8 ? 2 : 5);
    const unsigned group = Byte(bytes, groupAt) | Byte(bytes, groupAt + 1) << 8 | Byte(bytes, groupAt + 2) << 16;
    const unsigned ai = (group >> (3 * (k % 8))) & 7;
    unsigned a = 0;
    const unsigned seventh = rules == DxtRules::Hardware ? 3 : 0;  // x / 7 rounded: (x + 3) / 7
    const unsigned fifth = rules == DxtRules::Hardware ? 2 : 0;    // x / 5 rounded: (x + 2) / 5
    if (ai == 0) a = a0;
    else if (ai == 1) a = a1;
    else if (a0 > a1) a = ((8 - ai) * a0 + (ai - 1) * a1 + seventh) / 7;   // 6/7 a0 + 1/7 a1 ... 1/7 a0 + 6/7 a1
    else if (ai < 6) a = ((6 - ai) * a0 + (ai - 1) * a1 + fifth) / 5;      // 4/5 a0 + 1/5 a1 ... 1/5 a0 + 4/5 a1
    else a = ai == 6 ? 0 : 255;
    p[3] = static_cast<std::uint8_t>(a);
  }
  return p;
}

}  // namespace

RgbaImage ExpectedLevel(const BlpFile& file, const std::string& bytes, std::uint32_t w, std::uint32_t h,
                        DxtRules rules) {
  RgbaImage img;
  img.width = static_cast<int>(w);
  img.height = static_cast<int>(h);
  img.pixels.resize(std::size_t{w} * h * 4);
  const int version = DxtVersion(file.alphaBits, file.alphaType);
  const std::size_t blockBytes = version == 1 ? 8 : 16;
  const std::size_t blocksPerRow = (std::size_t{w} + 3) / 4;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::size_t n = std::size_t{y} * w + x;
      Pixel p{};
      switch (file.compression) {
        case 1: p = PalettePixel(file, bytes, n, std::size_t{w} * h); break;
        case 2: {
          const std::size_t block = (y / 4) * blocksPerRow + x / 4;
          p = DxtPixel(version, bytes, block * blockBytes, static_cast<int>(x % 4), static_cast<int>(y % 4), rules);
          break;
        }
        case 3: p = {Byte(bytes, 4 * n + 2), Byte(bytes, 4 * n + 1), Byte(bytes, 4 * n), Byte(bytes, 4 * n + 3)}; break;
        default: break;
      }
      std::copy(p.begin(), p.end(), img.pixels.begin() + static_cast<std::ptrdiff_t>(4 * n));
    }
  }
  return img;
}

}  // namespace velmora::test
