// An independent reference decoder for JPEG tests: ImageMagick's convert, giving a JPEG's
// components back as stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

// The components of a JPEG as stored, decoded by ImageMagick's /usr/bin/convert: `components`
// bytes per pixel, rows top to bottom. ImageMagick 6 reads every 4-component JPEG as Adobe's
// inverted CMYK and gives 255 - v, which is inverted back here; 3-component JPEGs come out in the
// colour space their markers declare, as RGB. Empty, with why in `why`, when convert fails.
std::vector<std::uint8_t> ReferenceJpegSamples(const std::string& jpeg, int components, std::string& why);

}  // namespace velmora::test
