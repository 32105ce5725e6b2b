// One BLP1 level's JPEG stream to RGBA pixels through libjpeg, with the components as stored.
//
// BLP1 writers store the texels' B, G, R, A bytes as the four components of a JPEG with no colour
// transform and no Adobe marker, so libjpeg reads it as CMYK and hands the stored samples back
// unchanged; those become R, G, B, A here. Nothing is inverted: readers that take every
// 4-component JPEG for Adobe's inverted CMYK get every colour wrong. A 3-component JPEG holds
// B, G, R (decoded in the colour space its markers declare: JFIF means YCbCr, an Adobe marker
// with transform 0 the samples as they are) and a 1-component JPEG grey.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velmora::blp {

struct TJpegLevelRequest {
  std::uint32_t width = 0;   // the level's size: the JPEG must be exactly this
  std::uint32_t height = 0;
  bool alpha = false;        // take alpha from the fourth component; false: every alpha is 255
  std::uint64_t memoryLimit = 0;  // what the decoded samples and the decoder's buffers may take
  int maxScans = 0;          // more scans than this stop the decode
};

// Decodes `stream` (shared header and level bytes) into width x height RGBA pixels at `out`,
// which holds 4 x width x height bytes. Returns "" on success, else why, naming the value and the
// limit: a decoded size beyond the memory limit (checked from the JPEG's header, before any
// sample is decoded), a component count other than 1, 3 or 4, a size other than the level's,
// too many scans, or libjpeg's own message for a stream it cannot decode. Damage libjpeg decodes
// through (a stream cut short, bad entropy data) is decoded as libjpeg fills it. Never prints,
// never exits the process; `out` may be partly written after a failure.
std::string DecodeJpegLevel(std::span<const std::uint8_t> stream, const TJpegLevelRequest& request, std::uint8_t* out);

}  // namespace velmora::blp
