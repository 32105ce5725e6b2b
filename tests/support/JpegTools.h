// JPEG files for tests: an encoder over libjpeg that stores given samples as components.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

struct JpegSettings {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int components = 4;        // 1, 3 or 4 (any other count is stored with no colour space)
  // 3 components: true stores them as YCbCr under a JFIF marker (converted back on decoding);
  // false stores the samples as they are, under an Adobe marker with transform 0. 4 components
  // are always stored as they are, with no Adobe marker, as BLP1 writers store B, G, R, A.
  bool ycc = false;
  bool progressive = false;
  int quality = 100;
  std::string comment;       // a COM marker right after SOI, before the tables, when not empty
};

// The JPEG file of `samples` (width x height pixels, `components` interleaved bytes each), every
// component at full resolution.
std::string EncodeJpeg(const JpegSettings& settings, const std::vector<std::uint8_t>& samples);

// Offset of the frame header (SOF0 or SOF2) in a JPEG; everything before it (SOI, comments,
// quantisation tables) is the same for JPEGs written with the same settings apart from their size.
std::size_t FrameHeaderOffset(const std::string& jpeg);

}  // namespace velmora::test
