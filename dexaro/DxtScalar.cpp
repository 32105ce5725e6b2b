// Portable path: one block at a time in plain integer code, for CPUs without the SIMD paths.
#include <cstring>

#include "dexaro/DxtBlock.h"
#include "dexaro/DxtDecode.h"

namespace velmora::dexaro {
namespace {

using Rgba = uint8_t[4];

// RGB 5:6:5 to 8 bits per channel. Red and blue repeat their top two bits below; green ORs in
// its top three bits (g6 >> 3), not two: 32 expands to 132, 63 to 255.
inline void Expand565(uint16_t c, Rgba out) noexcept {
  const unsigned r5 = c >> 11;
  const unsigned g6 = (c >> 5) & 63u;
  const unsigned b5 = c & 31u;
  out[0] = static_cast<uint8_t>((r5 << 3) | (r5 >> 2));
  out[1] = static_cast<uint8_t>((g6 << 2) | (g6 >> 3));
  out[2] = static_cast<uint8_t>((b5 << 3) | (b5 >> 2));
  out[3] = 255;
}

// The four colours of a colour block. c0 > c1 (raw values) gives two thirds-blends; otherwise
// the half blend and colour 3 = (0, 255, 255, 0), in every format. Divisions truncate.
inline void DecodeColourTable(const uint8_t* block, Rgba table[4]) noexcept {
  const uint16_t c0 = LoadLe16(block);
  const uint16_t c1 = LoadLe16(block + 2);
  Expand565(c0, table[0]);
  Expand565(c1, table[1]);
  if (c0 > c1) {
    for (int ch = 0; ch < 3; ++ch) {
      table[2][ch] = static_cast<uint8_t>((2 * table[0][ch] + table[1][ch]) / 3);
      table[3][ch] = static_cast<uint8_t>((table[0][ch] + 2 * table[1][ch]) / 3);
    }
    table[2][3] = 255;
    table[3][3] = 255;
  } else {
    for (int ch = 0; ch < 3; ++ch) {
      table[2][ch] = static_cast<uint8_t>((table[0][ch] + table[1][ch]) / 2);
    }
    table[2][3] = 255;
    table[3][0] = 0;
    table[3][1] = 255;
    table[3][2] = 255;
    table[3][3] = 0;
  }
}

// Index byte r holds row r; pixel x uses bits 2x and 2x+1. Whole pixels are overwritten.
inline void WriteColourIndices(const uint8_t* block, const Rgba table[4], uint8_t* dst,
                               std::size_t pitch) noexcept {
  for (int y = 0; y < 4; ++y) {
    const unsigned bits = block[4 + y];
    uint8_t* row = dst + static_cast<std::size_t>(y) * pitch;
    for (int x = 0; x < 4; ++x) std::memcpy(row + 4 * x, table[(bits >> (2 * x)) & 3u], 4);
  }
}

// DXT3: one little-endian word per row, pixel x in bits 4x..4x+3; alpha = nibble * 17.
inline void ApplyExplicitAlpha(const uint8_t* block, uint8_t* dst, std::size_t pitch) noexcept {
  for (int y = 0; y < 4; ++y) {
    const unsigned word = LoadLe16(block + 2 * y);
    uint8_t* row = dst + static_cast<std::size_t>(y) * pitch;
    for (int x = 0; x < 4; ++x) row[4 * x + 3] = static_cast<uint8_t>(((word >> (4 * x)) & 15u) * 17u);
  }
}

// DXT5: a0, a1 and 16 three-bit indices, pixel n at bit 3n of the 48 bits from byte 2.
inline void ApplyInterpolatedAlpha(const uint8_t* block, uint8_t* dst, std::size_t pitch) noexcept {
  const unsigned a0 = block[0];
  const unsigned a1 = block[1];
  uint8_t table[8];
  table[0] = static_cast<uint8_t>(a0);
  table[1] = static_cast<uint8_t>(a1);
  if (a0 > a1) {
    // A(i) = ((8 - i) * a0 + (i - 1) * a1) / 7 for i = 2..7
    for (unsigned i = 2; i < 8; ++i) table[i] = static_cast<uint8_t>(((8 - i) * a0 + (i - 1) * a1) / 7);
  } else {
    // A(i) = ((6 - i) * a0 + (i - 1) * a1) / 5 for i = 2..5, then 0 and 255
    for (unsigned i = 2; i < 6; ++i) table[i] = static_cast<uint8_t>(((6 - i) * a0 + (i - 1) * a1) / 5);
    table[6] = 0;
    table[7] = 255;
  }
  const uint64_t bits = LoadLe64(block) >> 16;
  for (unsigned n = 0; n < 16; ++n) {
    dst[(n / 4) * pitch + 4 * (n % 4) + 3] = table[(bits >> (3 * n)) & 7u];
  }
}

template <DxtFormat F>
void DecodeGrid(const BlockGrid& g) noexcept {
  constexpr std::size_t kBlockBytes =
      F == DxtFormat::Dxt1 ? kColourBlockBytes : kAlphaBlockBytes + kColourBlockBytes;
  // Locals, not loads through g: the byte stores below may alias anything.
  const uint8_t* src = g.src;
  const std::size_t pitch = g.pitch;
  for (std::size_t by = 0; by < g.blocksHigh; ++by) {
    uint8_t* dst = g.dst + by * 4 * pitch;
    for (std::size_t bx = 0; bx < g.blocksWide; ++bx, src += kBlockBytes, dst += 16) {
      const uint8_t* colour = F == DxtFormat::Dxt1 ? src : src + kAlphaBlockBytes;
      Rgba table[4];
      DecodeColourTable(colour, table);
      WriteColourIndices(colour, table, dst, pitch);
      if constexpr (F == DxtFormat::Dxt3) ApplyExplicitAlpha(src, dst, pitch);
      if constexpr (F == DxtFormat::Dxt5) ApplyInterpolatedAlpha(src, dst, pitch);
    }
  }
}

}  // namespace

void DecodeScalar(DxtFormat format, const BlockGrid& grid) noexcept {
  switch (format) {
    case DxtFormat::Dxt1: DecodeGrid<DxtFormat::Dxt1>(grid); return;
    case DxtFormat::Dxt3: DecodeGrid<DxtFormat::Dxt3>(grid); return;
    case DxtFormat::Dxt5: DecodeGrid<DxtFormat::Dxt5>(grid); return;
  }
}

}  // namespace velmora::dexaro
