// A small picture of one BLP file (BLP2 or BLP1) for a grid of thumbnails: the smallest mip level
// that still covers the thumbnail is read alone, decoded exactly (DXT by the hardware rules, as
// the export does) and shrunk by area averaging. No GL; safe to run on a worker thread with a
// source of its own.
#pragma once

#include <cstdint>
#include <string>

#include "blp/BlpDecode.h"
#include "blp/LevelPixels.h"

namespace velmora::blp {

struct TExtent {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const TExtent&) const = default;
};

// The size a w x h picture takes in a side x side square: aspect kept, never enlarged, each
// extent at least 1 (for a picture that has any).
TExtent ThumbnailExtent(std::uint32_t w, std::uint32_t h, std::uint32_t side);

// Of the `count` levels of a w x h texture (each half the one before, an extent of 0 counting
// as 1), the smallest whose extents both reach `target`'s; the last level when none is that small,
// level 0 when even it is smaller.
int ThumbnailLevel(std::uint32_t w, std::uint32_t h, int count, TExtent target);

// `src` shrunk to `to`: each output pixel is the average of the source area it covers, weighted
// by how much of each source pixel lies in it, each channel on its own (colour under alpha 0 stays,
// for views that ignore alpha), rounded to nearest. Sizes equal to the source's copy it exactly;
// a larger size is not asked for.
TRgbaPixels ShrinkRgba(const TRgbaPixels& src, TExtent to);

struct TThumbnailPicture {
  TRgbaPixels pixels;      // the thumbnail; empty when none could be made
  std::string problem;     // why there is none, or what it lacks ("level 2 is 96 bytes short")
  TExtent texture;         // level 0 of the file
  int level = 0;           // the level it was made from
};

// Reads the file's header and only the level the thumbnail needs (and the palette or shared JPEG
// header it depends on), under the same header checks and memory bound as the texture's load with
// `maxTextureSize` as the size limit; the picture fits in side x side. Throws TAllocationError only
// when memory runs out.
TThumbnailPicture MakeThumbnail(TBlpSource& source, std::uint32_t side, std::uint32_t maxTextureSize);

}  // namespace velmora::blp
