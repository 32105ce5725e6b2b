// What the status bar says about the shown texture: the value of one texel by the rules graphics
// hardware decodes with (the same on every GL path), the encoding in words, the level and its
// size. No GL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "blp/BlpDecode.h"
#include "blp/BlpHeader.h"

namespace velmora {

using TTexel = std::array<std::uint8_t, 4>;  // R, G, B, A

// Texel (x, y) of level `level`, or none outside the level. DXT texels come from their one block
// (blp::DecodeS3tcBlock), so a readout costs no decode of the level.
std::optional<TTexel> TexelValue(const blp::TBlpLevels& levels, std::size_t level, std::uint32_t x,
                                 std::uint32_t y);

// "#RRGGBBAA".
std::string TexelText(const TTexel& texel);

// "palette, 4-bit alpha", "DXT5", "uncompressed 32-bit"; "unknown encoding 9".
std::string EncodingText(const TBLP2Header& hdr);

// "mip 2/10 (128 x 64)": index of the level, number of levels, the level's size.
std::string LevelText(int level, int levelCount, std::uint32_t width, std::uint32_t height);

}  // namespace velmora
