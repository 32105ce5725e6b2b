// Builds BLP1 files in memory for tests: header, then the palette or the shared JPEG header, then
// the levels back to back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

// Header field offsets, for tests that corrupt single fields.
namespace blp1field {
constexpr std::size_t kCompression = 4, kAlphaBits = 8, kWidth = 12, kHeight = 16, kPictureType = 20,
                      kPictureSubtype = 24, kOffsets = 28, kSizes = 92, kHeaderEnd = 156, kJpegHeaderSize = 156,
                      kJpegHeader = 160, kPalette = 156;
}

struct Blp1File {
  std::uint32_t compression = 1;  // 0 JPEG, 1 palette
  std::uint32_t alphaBits = 8;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t pictureType = 4;
  std::uint32_t pictureSubtype = 1;  // non-zero: a mip chain
  std::array<std::uint8_t, 1024> palette{};  // palette files: 256 entries stored B, G, R, A
  std::string jpegHeader;                    // JPEG files: the bytes every level's JPEG starts with
  std::vector<std::string> levels;           // each level's bytes (JPEG: what follows the header)
};

// The file's bytes: offsets[i]/sizes[i] describe levels[i] (at most 16), the rest stay zero.
std::string WriteBlp1(const Blp1File& file);

}  // namespace velmora::test
