// Texel values and the words of the texture readout.
#include "render/ViewReadout.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "blp/LevelPixels.h"

namespace velmora {

std::optional<TTexel> TexelValue(const blp::TBlpLevels& levels, std::size_t level, std::uint32_t x,
                                 std::uint32_t y, TDxtDecoder decoder) {
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
  if (decoder == TDxtDecoder::kLibrary) {
    // Dexaro decodes each block on its own, so one 4 x 4 block gives the texels it gave the level.
    blp::DecompressDxt(levels.format, 4, 4, l.bytes.data() + at, pixels);
  } else {
    blp::DecodeS3tcBlock(levels.format, l.bytes.data() + at, pixels);
  }
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

namespace {

// 2^n for a zoom that is a power of two (within the view's range), else none.
std::optional<int> PowerOfTwo(double zoom) {
  const double exponent = std::log2(ClampZoom(zoom));
  const double whole = std::round(exponent);
  if (std::abs(exponent - whole) > 1e-9) return std::nullopt;
  return static_cast<int>(whole);
}

std::string Square(long long n) { return n == 1 ? "1" : std::to_string(n) + " x " + std::to_string(n); }

}  // namespace

std::string ZoomWords(double zoom) {
  std::string text = "zoom " + ZoomText(zoom);
  if (const auto power = PowerOfTwo(zoom)) {
    const long long side = 1LL << std::abs(*power);
    if (*power >= 0) {
      text += " (1 texel : " + Square(side) + (side == 1 ? " pixel)" : " pixels)");
    } else {
      text += " (" + Square(side) + " texels : 1 pixel)";
    }
  }
  return text;
}

std::string ChannelWords(TChannel channel) {
  switch (channel) {
    case TChannel::kRgb: return "RGB, alpha ignored";
    case TChannel::kRed: return "Red as grey";
    case TChannel::kGreen: return "Green as grey";
    case TChannel::kBlue: return "Blue as grey";
    case TChannel::kAlpha: return "Alpha as grey";
    case TChannel::kRgba: break;
  }
  return "RGBA";
}

std::string ModeWords(const TViewState& state, int levelCount) {
  std::vector<std::string> parts;
  if (state.channel != TChannel::kRgba) parts.push_back(ChannelWords(state.channel));
  switch (state.background) {
    case TBackground::kChecker: parts.emplace_back("checkerboard"); break;
    case TBackground::kBlack: parts.emplace_back("black background"); break;
    case TBackground::kWhite: parts.emplace_back("white background"); break;
    case TBackground::kWindow: break;
  }
  if (state.level > 0 && levelCount > 0) {
    parts.push_back("mip " + std::to_string(state.level) + "/" + std::to_string(levelCount));
  }
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : " \u00B7 ") + part;
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

}  // namespace velmora
