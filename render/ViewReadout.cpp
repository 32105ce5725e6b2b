// Texel values and the words of the texture readout.
#include "render/ViewReadout.h"

#include <cstdio>

#include "blp/LevelPixels.h"

namespace velmora {

std::optional<TTexel> TexelValue(const blp::TBlpLevels& levels, std::size_t level, std::uint32_t x,
                                 std::uint32_t y) {
  if (level >= levels.levels.size()) return std::nullopt;
  const blp::TBlpLevel& l = levels.levels[level];
  if (x >= l.width || y >= l.height) return std::nullopt;
  const std::size_t blockBytes = blp::BlockBytes(levels.format);
  if (blockBytes == 0) {
    // Four bytes a pixel, rows top to bottom; B, G, R, A for uncompressed files.
    const std::size_t at = (std::size_t{y} * l.width + x) * 4;
    if (at + 4 > l.bytes.size()) return std::nullopt;
    const std::uint8_t* p = l.bytes.data() + at;
    if (levels.format == blp::TLevelFormat::kBgra) return TTexel{p[2], p[1], p[0], p[3]};
    return TTexel{p[0], p[1], p[2], p[3]};
  }
  // 4 x 4 blocks row by row, partial blocks at the right and bottom edges included.
  const std::size_t blocksPerRow = (std::size_t{l.width} + 3) / 4;
  const std::size_t at = ((y / 4) * blocksPerRow + x / 4) * blockBytes;
  if (at + blockBytes > l.bytes.size()) return std::nullopt;
  std::uint8_t pixels[64];
  blp::DecodeS3tcBlock(levels.format, l.bytes.data() + at, pixels);
  const std::uint8_t* p = pixels + ((y % 4) * 4 + x % 4) * 4;
  return TTexel{p[0], p[1], p[2], p[3]};
}

std::string TexelText(const TTexel& texel) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X%02X", texel[0], texel[1], texel[2], texel[3]);
  return text;
}

std::string EncodingText(const TBLP2Header& hdr) {
  switch (hdr.compression) {
    case blp::kPaletteEncoding:
      // Alpha depths other than 1, 4 and 8 read as opaque.
      if (hdr.alpha_bits == 1 || hdr.alpha_bits == 4 || hdr.alpha_bits == 8) {
        return "palette, " + std::to_string(hdr.alpha_bits) + "-bit alpha";
      }
      return "palette, no alpha";
    case blp::kDxtEncoding:
      switch (blp::DxtFormatOf(hdr)) {
        case blp::TLevelFormat::kDxt3: return "DXT3";
        case blp::TLevelFormat::kDxt5: return "DXT5";
        default: return "DXT1";
      }
    case blp::kUncompressedEncoding: return "uncompressed 32-bit";
    default: return "unknown encoding " + std::to_string(hdr.compression);
  }
}

std::string LevelText(int level, int levelCount, std::uint32_t width, std::uint32_t height) {
  return "mip " + std::to_string(level) + "/" + std::to_string(levelCount) + " (" + std::to_string(width) + " x " +
         std::to_string(height) + ")";
}

}  // namespace velmora
