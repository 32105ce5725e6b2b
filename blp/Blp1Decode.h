// BLP1 file -> mip levels in memory as RGBA pixels, with no GL: what the texture uploads, what
// export writes and what texel readouts read. The layout is in blp/Blp1Header.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "blp/Blp1Header.h"
#include "blp/BlpDecode.h"

namespace velmora::blp {

// Reads the header and the word after it from the start of the file (a file shorter than that
// leaves the rest zero).
TBLP1Header ReadBlp1Header(TBlpSource& source);

// Reads and decodes every level the header lists, up to the first without an offset or a size,
// into RGBA levels (format kRgba). The header must have passed CheckBlp1Header.
//  - Palette files: a palette the file does not hold whole gives no levels and complete false;
//    a level the file holds only in part is zero (black, transparent) where it lacks bytes.
//  - JPEG files: each level is decoded from the shared header and the level's bytes. A level of
//    which the file holds none is black; one it holds in part is decoded as far as its bytes go;
//    both count the bytes the file lacks in missingBytes. A JPEG that cannot be decoded, or whose
//    size is not the level's, ends the chain, and `stopped` says why.
// `hdr` of the result is left empty: the caller has the BLP2 view of the same bytes.
// Throws TAllocationError when memory runs out.
TBlpLevels DecodeBlp1Levels(TBlpSource& source, const TBLP1Header& hdr, const TDecodeOptions& options);

struct TBlp1File {
  TBLP1Header hdr;
  std::optional<THeaderProblem> problem;  // the header check's refusal; then no levels
  TBlpLevels levels;
};

// The whole file: header, check against `maxTextureSize` and the memory bound, levels.
TBlp1File DecodeBlp1(TBlpSource& source, std::uint32_t maxTextureSize, const TDecodeOptions& options);

// The levels an export writes: the first `maxLevels` the file lists, all of them decoded. False,
// with why in `why`, when the header is refused, the palette is missing, the file lists no
// level 0 or a level among them could not be decoded.
bool DecodeBlp1ForExport(TBlpSource& source, std::uint32_t maxTextureSize, int maxLevels, TBlpLevels& levels,
                         std::string& why);

}  // namespace velmora::blp
