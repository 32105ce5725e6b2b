// Expansion of palette-indexed BLP2 levels into RGBA pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::blp {

// 256 palette entries as R | G << 8 | B << 16 (alpha byte clear), from the 1024 palette bytes of
// the file, each entry stored as B, G, R, A. The entry's own alpha is never used.
using TPaletteTable = std::array<std::uint32_t, 256>;
TPaletteTable BuildPaletteTable(const std::uint8_t* palette1024);

// Bytes a palette level of `pixels` pixels needs: one index byte per pixel, then the alpha plane
// (1, 4 or 8 bits per pixel, packed with no gap at row ends; none for other depths).
std::uint64_t PaletteLevelBytes(std::uint64_t pixels, std::uint8_t alphaBits);

// Writes `pixels` RGBA pixels (bytes R, G, B, A) to out from a level laid out as above:
// alpha 1 takes bit n % 8 of alpha byte n / 8 (least significant first) as 0 or 255, alpha 4 the
// low then the high nibble of byte n / 2 times 17, alpha 8 byte n; any other depth gives 255.
// `level` must hold PaletteLevelBytes(pixels, alphaBits) bytes.
void ExpandPalette(const TPaletteTable& table, const std::uint8_t* level, std::size_t pixels,
                   std::uint8_t alphaBits, std::uint32_t* out);

// The same into bytes R, G, B, A at any alignment: 4 x pixels bytes at out.
void ExpandPalette(const TPaletteTable& table, const std::uint8_t* level, std::size_t pixels,
                   std::uint8_t alphaBits, std::uint8_t* out);

}  // namespace velmora::blp
