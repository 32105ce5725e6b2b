// Thumbnails of BLP files: which level to read, reading it alone, and the area-averaging shrink.
#include "blp/Thumbnail.h"

#include <algorithm>
#include <array>
#include <vector>

#include "blp/Blp1Decode.h"
#include "blp/Blp1Header.h"
#include "blp/BlpHeader.h"
#include "blp/LevelChain.h"

namespace velmora::blp {

namespace {

TExtent LevelExtentOf(std::uint32_t w, std::uint32_t h, int level) {
  return {std::max<std::uint32_t>(w >> level, 1), std::max<std::uint32_t>(h >> level, 1)};
}

// The same header listing level `level` alone, as its level 0: the decoders then read and
// allocate for that level only. Both formats keep a level's offset and size in the same two
// tables, and a header without a mip chain lists level 0 alone.
template <class THeader>
THeader HeaderOfLevel(const THeader& hdr, int level) {
  THeader one = hdr;
  const TExtent e = LevelExtentOf(hdr.width, hdr.height, level);
  one.width = e.width;
  one.height = e.height;
  one.offsets = {};
  one.sizes = {};
  one.offsets[0] = hdr.offsets[static_cast<std::size_t>(level)];
  one.sizes[0] = hdr.sizes[static_cast<std::size_t>(level)];
  return one;
}

std::string SizeProblem(std::uint32_t w, std::uint32_t h) {
  return "the header gives a size of " + std::to_string(w) + " x " + std::to_string(h) + ": nothing to show";
}

std::string LevelName(int level) { return "level " + std::to_string(level); }

// The picture from one decoded level, or why there is none. `none`: the file held no byte of it.
void Finish(const TBlpLevels& levels, int level, bool none, TExtent target, TThumbnailPicture& out) {
  const TBlpLevel& l = levels.levels.front();
  if (none) {
    out.problem = LevelName(level) + " cannot be read: nothing to show";
    return;
  }
  if (l.missingBytes > 0) {
    out.problem = LevelName(level) + " is " + std::to_string(l.missingBytes) + " bytes short: the rest is shown black";
  }
  out.pixels = ShrinkRgba(LevelToRgba(levels, 0), target);
}

// The two formats' own steps: the header check, the decoder, and the header of one level alone
// with its mip-chain flag cleared (BLP1 keeps that flag in its picture subtype).
std::optional<THeaderProblem> CheckHeader(const TBLP2Header& hdr, std::uint64_t size, std::uint32_t max) {
  return CheckBlpHeader(hdr, size, max);
}
std::optional<THeaderProblem> CheckHeader(const TBLP1Header& hdr, std::uint64_t size, std::uint32_t max) {
  return CheckBlp1Header(hdr, size, max);
}
TBlpLevels DecodeLevels(TBlpSource& source, const TBLP2Header& hdr, const TDecodeOptions& options) {
  return DecodeBlpLevels(source, hdr, options);
}
TBlpLevels DecodeLevels(TBlpSource& source, const TBLP1Header& hdr, const TDecodeOptions& options) {
  return DecodeBlp1Levels(source, hdr, options);
}
TBLP2Header OneLevel(const TBLP2Header& hdr, int level) {
  TBLP2Header one = HeaderOfLevel(hdr, level);
  one.has_mips = 0;
  return one;
}
TBLP1Header OneLevel(const TBLP1Header& hdr, int level) {
  TBLP1Header one = HeaderOfLevel(hdr, level);
  one.picture_subtype = 0;
  return one;
}

// Whether the file held no byte of the one level decoded. A JPEG level's missing bytes are those
// of its stream, not of its pixels.
bool NoneHeld(const TBLP2Header&, const TBLP2Header&, const TBlpLevel& l) { return l.missingBytes == l.bytes.size(); }
bool NoneHeld(const TBLP1Header& hdr, const TBLP1Header& one, const TBlpLevel& l) {
  return hdr.compression == kBlp1Jpeg ? l.missingBytes == one.sizes[0] : l.missingBytes == l.bytes.size();
}

// JPEG content has no cheaper small picture than its listed levels: the same choice applies to
// every encoding.
template <class THeader>
void Make(TBlpSource& source, const THeader& hdr, std::uint32_t side, std::uint32_t maxTextureSize,
          TThumbnailPicture& out) {
  if (const auto problem = CheckHeader(hdr, source.Size(), maxTextureSize)) {
    out.problem = problem->message;
    return;
  }
  out.texture = {hdr.width, hdr.height};
  if (hdr.width == 0 || hdr.height == 0) {
    out.problem = SizeProblem(hdr.width, hdr.height);
    return;
  }
  const int count = ChainLength(hdr);
  if (count == 0) {
    out.problem = "the file lists no level 0: nothing to show";
    return;
  }
  const TExtent target = ThumbnailExtent(hdr.width, hdr.height, side);
  out.level = ThumbnailLevel(hdr.width, hdr.height, count, target);
  const THeader one = OneLevel(hdr, out.level);
  const TBlpLevels levels = DecodeLevels(source, one, {.dxtAsBlocks = true, .maxLevels = 1});
  if (!levels.complete) {
    out.problem = "the palette is cut short (file of " + std::to_string(source.Size()) + " bytes): nothing to show";
    return;
  }
  if (levels.levels.empty()) {
    // The decoder names the level it was given, which is the chosen one.
    std::string why = levels.stopped.empty() ? std::string("the file lists no level 0") : levels.stopped;
    if (why.starts_with("level 0: ")) why = LevelName(out.level) + why.substr(7);
    out.problem = why + ": nothing to show";
    return;
  }
  Finish(levels, out.level, NoneHeld(hdr, one, levels.levels.front()), target, out);
}

}  // namespace

TExtent ThumbnailExtent(std::uint32_t w, std::uint32_t h, std::uint32_t side) {
  if (w == 0 || h == 0) return {};
  if (w <= side && h <= side) return {w, h};
  // The longer extent becomes `side`, the other its share of it, rounded to nearest.
  const std::uint64_t s = std::max<std::uint32_t>(side, 1);
  if (w >= h) return {static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(std::max<std::uint64_t>((h * s + w / 2) / w, 1))};
  return {static_cast<std::uint32_t>(std::max<std::uint64_t>((w * s + h / 2) / h, 1)), static_cast<std::uint32_t>(s)};
}

int ThumbnailLevel(std::uint32_t w, std::uint32_t h, int count, TExtent target) {
  int chosen = 0;
  for (int i = 1; i < count; ++i) {
    const TExtent e = LevelExtentOf(w, h, i);
    if (e.width < target.width || e.height < target.height) break;
    chosen = i;
  }
  return chosen;
}

TRgbaPixels ShrinkRgba(const TRgbaPixels& src, TExtent to) {
  TRgbaPixels out;
  const std::uint32_t sw = src.width, sh = src.height;
  if (sw == 0 || sh == 0 || to.width == 0 || to.height == 0 || to.width > sw || to.height > sh ||
      src.bytes.size() < std::size_t{sw} * sh * 4) {
    return out;
  }
  const std::uint32_t dw = to.width, dh = to.height;
  // Along one axis, source pixel i covers [i * d, (i + 1) * d) and output pixel o covers
  // [o * s, (o + 1) * s) in units of 1 / (s * d) of the extent: the overlaps are whole numbers
  // and each output pixel's weights add up to s.
  struct TTap {
    std::uint32_t first = 0;
    std::vector<std::uint32_t> weights;
  };
  auto taps = [](std::uint32_t s, std::uint32_t d) {
    std::vector<TTap> all(d);
    for (std::uint32_t o = 0; o < d; ++o) {
      const std::uint64_t begin = std::uint64_t{o} * s, end = begin + s;
      TTap& t = all[o];
      t.first = static_cast<std::uint32_t>(begin / d);
      for (std::uint64_t i = t.first; i * d < end; ++i) {
        const std::uint64_t lo = std::max(begin, i * d), hi = std::min(end, (i + 1) * d);
        t.weights.push_back(static_cast<std::uint32_t>(hi - lo));
      }
    }
    return all;
  };
  const std::vector<TTap> across = taps(sw, dw), down = taps(sh, dh);
  // Rows summed across first (at most 255 x sw each), then down in 64 bits.
  std::vector<std::uint32_t> rows(std::size_t{sh} * dw * 4);
  for (std::uint32_t y = 0; y < sh; ++y) {
    const std::uint8_t* line = src.bytes.data() + std::size_t{y} * sw * 4;
    std::uint32_t* sums = rows.data() + std::size_t{y} * dw * 4;
    for (std::uint32_t x = 0; x < dw; ++x) {
      const TTap& t = across[x];
      for (std::size_t k = 0; k < t.weights.size(); ++k) {
        const std::uint8_t* p = line + (std::size_t{t.first} + k) * 4;
        for (int c = 0; c < 4; ++c) sums[x * 4 + c] += t.weights[k] * p[c];
      }
    }
  }
  out.width = dw;
  out.height = dh;
  out.bytes.resize(std::size_t{dw} * dh * 4);
  const std::uint64_t total = std::uint64_t{sw} * sh;
  std::vector<std::uint64_t> acc(std::size_t{dw} * 4);
  for (std::uint32_t y = 0; y < dh; ++y) {
    std::fill(acc.begin(), acc.end(), 0);
    const TTap& t = down[y];
    for (std::size_t k = 0; k < t.weights.size(); ++k) {
      const std::uint32_t* sums = rows.data() + (std::size_t{t.first} + k) * dw * 4;
      for (std::size_t i = 0; i < acc.size(); ++i) acc[i] += std::uint64_t{t.weights[k]} * sums[i];
    }
    std::uint8_t* line = out.bytes.data() + std::size_t{y} * dw * 4;
    for (std::size_t i = 0; i < acc.size(); ++i) line[i] = static_cast<std::uint8_t>((acc[i] + total / 2) / total);
  }
  return out;
}

TThumbnailPicture MakeThumbnail(TBlpSource& source, std::uint32_t side, std::uint32_t maxTextureSize) {
  TThumbnailPicture out;
  if (source.Size() == 0) {
    out.problem = "empty file (0 bytes)";
    return out;
  }
  // One read for either header: the BLP1 one (with the word after it) is the longer.
  std::array<std::uint8_t, TBLP1Header::kReadSize> raw{};
  source.ReadHeader(raw.data(), TBLP1Header::kReadSize);
  const TBLP1Header blp1 = TBLP1Header::Parse(raw);
  if (blp1.sign == kBlp1Magic) {
    Make(source, blp1, side, maxTextureSize, out);
    return out;
  }
  std::array<std::uint8_t, TBLP2Header::kSize> raw2{};
  std::copy_n(raw.begin(), raw2.size(), raw2.begin());
  Make(source, TBLP2Header::Parse(raw2), side, maxTextureSize, out);
  return out;
}

}  // namespace velmora::blp
