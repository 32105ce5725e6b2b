// Two versions of one texture (the same path in two archives) compared texel by texel, as a
// picture: each texel grey at the largest of its four channel differences, so texels that are
// equal are black and a changed texel is brighter the more it changed. The picture becomes a BLP2
// file of uncompressed levels, which the texture object shows like any other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ReaderClient.h"
#include "blp/LevelPixels.h"

namespace velmora::blp {

// One version's levels as exact RGBA (blp/LevelPixels.h), read from the member `member` of
// `archive`, BLP2 or BLP1; `problem` says why there are none ("cannot be read from ...", the
// header check's refusal, a missing palette, no level 0).
struct TVersionPixels {
  std::vector<TRgbaPixels> levels;
  std::string problem;
};
TVersionPixels ReadVersionPixels(MpqHandle archive, const std::string& member);

struct TDifference {
  // Per level from level 0, while both versions have the level at one size: w x h, every texel
  // (d, d, d, 255) with d = max(|r1 - r2|, |g1 - g2|, |b1 - b2|, |a1 - a2|).
  std::vector<TRgbaPixels> levels;
  // Why there is no picture: the sizes of level 0 differ ("the sizes differ: 64 x 64 against
  // 32 x 32"), or a version has no level.
  std::string problem;
};
TDifference DifferenceOf(const std::vector<TRgbaPixels>& shown, const std::vector<TRgbaPixels>& earlier);

// A BLP2 file of uncompressed levels (stored B, G, R, A) holding `levels`, a mip chain from level 0
// whose extents halve from one to the next; empty `levels` give a file with no level.
std::vector<std::uint8_t> EncodeUncompressedBlp(const std::vector<TRgbaPixels>& levels);

}  // namespace velmora::blp
