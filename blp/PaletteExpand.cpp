// Palette expansion: one pass, one table lookup per pixel, the alpha plane merged on the way.
#include "blp/PaletteExpand.h"

#include <bit>
#include <cstring>

#include "blp/BlpDecode.h"

namespace velmora::blp {

// Output pixels are built as 32-bit words whose bytes in memory must read R, G, B, A.
static_assert(std::endian::native == std::endian::little, "RGBA words assume a little-endian host");

TPaletteTable BuildPaletteTable(const std::uint8_t* palette1024) {
  TPaletteTable table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::uint8_t* e = palette1024 + 4 * i;
    // The entry read little-endian is A<<24 | R<<16 | G<<8 | B; swapped and shifted down it is
    // R | G<<8 | B<<16, the bytes R, G, B, 0 in memory.
    const std::uint32_t c = std::uint32_t{e[0]} | std::uint32_t{e[1]} << 8 | std::uint32_t{e[2]} << 16 |
                            std::uint32_t{e[3]} << 24;
    table[i] = SwapBytes(c) >> 8;
  }
  return table;
}

std::uint64_t PaletteLevelBytes(std::uint64_t pixels, std::uint8_t alphaBits) {
  switch (alphaBits) {
    case 1: return pixels + (pixels + 7) / 8;
    case 4: return pixels + (pixels + 1) / 2;
    case 8: return pixels * 2;
    default: return pixels;
  }
}

namespace {
// Stores one pixel word; a plain 32-bit store once compiled, with no alignment demand on out.
inline void Put(std::uint8_t* out, std::size_t i, std::uint32_t word) { std::memcpy(out + 4 * i, &word, 4); }
}  // namespace

void ExpandPalette(const TPaletteTable& table, const std::uint8_t* level, std::size_t pixels,
                   std::uint8_t alphaBits, std::uint32_t* out) {
  ExpandPalette(table, level, pixels, alphaBits, reinterpret_cast<std::uint8_t*>(out));
}

void ExpandPalette(const TPaletteTable& table, const std::uint8_t* level, std::size_t pixels,
                   std::uint8_t alphaBits, std::uint8_t* out) {
  const std::uint8_t* index = level;
  const std::uint8_t* alpha = level + pixels;
  switch (alphaBits) {
    case 1: {
      // Eight pixels per alpha byte; the tail of a level that is not a multiple of 8 reads the
      // low bits of its last byte.
      const std::size_t whole = pixels & ~std::size_t{7};
      for (std::size_t i = 0; i < whole; i += 8) {
        const std::uint32_t bits = alpha[i >> 3];
        for (std::size_t k = 0; k < 8; ++k) {
          Put(out, i + k, table[index[i + k]] | (0u - ((bits >> k) & 1u)) << 24);  // 0 - 1 is all ones: 255
        }
      }
      for (std::size_t i = whole; i < pixels; ++i) {
        Put(out, i, table[index[i]] | (0u - ((alpha[i >> 3] >> (i & 7)) & 1u)) << 24);
      }
      break;
    }
    case 4: {
      // Two pixels per alpha byte: low nibble first; nibble x 17 maps 0..15 onto 0..255.
      const std::size_t whole = pixels & ~std::size_t{1};
      for (std::size_t i = 0; i < whole; i += 2) {
        const std::uint32_t b = alpha[i >> 1];
        Put(out, i, table[index[i]] | ((b & 15u) * 17u) << 24);
        Put(out, i + 1, table[index[i + 1]] | ((b >> 4) * 17u) << 24);
      }
      if (whole < pixels) Put(out, whole, table[index[whole]] | ((alpha[whole >> 1] & 15u) * 17u) << 24);
      break;
    }
    case 8:
      for (std::size_t i = 0; i < pixels; ++i) Put(out, i, table[index[i]] | std::uint32_t{alpha[i]} << 24);
      break;
    default:
      for (std::size_t i = 0; i < pixels; ++i) Put(out, i, table[index[i]] | 0xFF000000u);
      break;
  }
}

}  // namespace velmora::blp
