// Any decoded level as RGBA pixels, the way graphics hardware shows it: what export writes,
// what the texel readout and the clipboard show. Independent of the GL path a viewer takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "blp/BlpDecode.h"

namespace velmora::blp {

struct TRgbaPixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bytes;  // rows top to bottom, each pixel R, G, B, A
};

// Level `index` of `levels` as RGBA: palette levels as they are, uncompressed levels with
// B and R swapped back, DXT levels by the S3TC rules graphics hardware follows:
//  - 5- and 6-bit endpoints expand by bit replication: (r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4);
//  - colour 2 and 3 are (2 c0 + c1) / 3 and (c0 + 2 c1) / 3 rounded to nearest, per channel of the
//    expanded endpoints; DXT1 with c0 <= c1 (raw 16-bit values) has colour 2 = (c0 + c1) / 2,
//    rounded half up, and colour 3 transparent black (0, 0, 0, 0); all other colours are opaque;
//  - DXT3 and DXT5 colour blocks always use the four-colour mode;
//  - DXT3 alpha is the nibble times 17; DXT5 alpha interpolates a0 and a1 in sevenths
//    (a0 > a1) or fifths with 0 and 255 (a0 <= a1), rounded to nearest.
// Partial blocks at the right and bottom edges give their pixels that lie inside the level.
TRgbaPixels LevelToRgba(const TBlpLevels& levels, std::size_t index);

// One DXT block (8 bytes for DXT1, 16 for DXT3/5) decoded by those rules: 16 pixels R, G, B, A,
// row by row.
void DecodeS3tcBlock(TLevelFormat format, const std::uint8_t* block, std::uint8_t out[64]);

}  // namespace velmora::blp
