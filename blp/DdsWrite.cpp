// Writing DDS files: the header, then the levels as they are or as B, G, R, A pixels.
#include "blp/DdsWrite.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace velmora::blp {
namespace {

constexpr std::uint32_t kDdsdCaps = 0x1;
constexpr std::uint32_t kDdsdHeight = 0x2;
constexpr std::uint32_t kDdsdWidth = 0x4;
constexpr std::uint32_t kDdsdPitch = 0x8;
constexpr std::uint32_t kDdsdPixelFormat = 0x1000;
constexpr std::uint32_t kDdsdMipMapCount = 0x20000;
constexpr std::uint32_t kDdsdLinearSize = 0x80000;
constexpr std::uint32_t kDdpfAlphaPixels = 0x1;
constexpr std::uint32_t kDdpfFourCc = 0x4;
constexpr std::uint32_t kDdpfRgb = 0x40;
constexpr std::uint32_t kDdsCapsComplex = 0x8;
constexpr std::uint32_t kDdsCapsTexture = 0x1000;
constexpr std::uint32_t kDdsCapsMipMap = 0x400000;

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Four characters as the DWORD that holds them in file order.
constexpr std::uint32_t FourCc(const char (&s)[5]) {
  return std::uint32_t{static_cast<unsigned char>(s[0])} | std::uint32_t{static_cast<unsigned char>(s[1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(s[2])} << 16 | std::uint32_t{static_cast<unsigned char>(s[3])} << 24;
}

std::uint64_t BlocksAcross(std::uint64_t n) { return (n + 3) / 4; }

// Bytes level `level` of `format` needs: whole blocks for DXT, 4 per pixel otherwise.
std::uint64_t LevelBytes(TLevelFormat format, const TBlpLevel& level) {
  const std::size_t block = BlockBytes(format);
  if (block > 0) return BlocksAcross(level.width) * BlocksAcross(level.height) * block;
  return std::uint64_t{level.width} * level.height * 4;
}

}  // namespace

std::vector<std::uint8_t> EncodeDds(const TBlpLevels& levels, std::size_t count) {
  if (count == 0 || count > levels.levels.size()) {
    throw std::invalid_argument("DDS of " + std::to_string(count) + " levels from " +
                                std::to_string(levels.levels.size()));
  }
  std::uint64_t total = kDdsHeaderBytes;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t need = LevelBytes(levels.format, levels.levels[i]);
    if (levels.levels[i].bytes.size() != need) {
      throw std::invalid_argument("level " + std::to_string(i) + " holds " + std::to_string(levels.levels[i].bytes.size()) +
                                  " bytes, not the " + std::to_string(need) + " its size needs");
    }
    total += need;
  }
  const TBlpLevel& top = levels.levels[0];
  const bool compressed = BlockBytes(levels.format) > 0;

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  out.insert(out.end(), {'D', 'D', 'S', ' '});
  PutLe32(out, 124);  // dwSize
  PutLe32(out, kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat | kDdsdMipMapCount |
                   (compressed ? kDdsdLinearSize : kDdsdPitch));
  PutLe32(out, top.height);
  PutLe32(out, top.width);
  // Compressed: level 0's bytes; uncompressed: the bytes of one row of level 0.
  PutLe32(out, compressed ? static_cast<std::uint32_t>(top.bytes.size()) : top.width * 4);
  PutLe32(out, 0);  // dwDepth: not a volume
  PutLe32(out, static_cast<std::uint32_t>(count));
  for (int i = 0; i < 11; ++i) PutLe32(out, 0);  // dwReserved1
  // DDS_PIXELFORMAT
  PutLe32(out, 32);
  if (compressed) {
    const std::uint32_t fourCc = levels.format == TLevelFormat::kDxt1   ? FourCc("DXT1")
                                 : levels.format == TLevelFormat::kDxt3 ? FourCc("DXT3")
                                                                         : FourCc("DXT5");
    PutLe32(out, kDdpfFourCc);
    PutLe32(out, fourCc);
    for (int i = 0; i < 5; ++i) PutLe32(out, 0);  // bit count and masks: unused
  } else {
    PutLe32(out, kDdpfRgb | kDdpfAlphaPixels);
    PutLe32(out, 0);
    PutLe32(out, 32);
    PutLe32(out, 0x00FF0000);
    PutLe32(out, 0x0000FF00);
    PutLe32(out, 0x000000FF);
    PutLe32(out, 0xFF000000);
  }
  PutLe32(out, kDdsCapsTexture | (count > 1 ? kDdsCapsComplex | kDdsCapsMipMap : 0));
  for (int i = 0; i < 4; ++i) PutLe32(out, 0);  // dwCaps2 (no cube map, no volume), dwCaps3, dwCaps4, dwReserved2

  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<std::uint8_t>& bytes = levels.levels[i].bytes;
    const std::size_t at = out.size();
    out.insert(out.end(), bytes.begin(), bytes.end());
    // Palette levels are R, G, B, A in memory; A8R8G8B8 wants B, G, R, A.
    if (levels.format == TLevelFormat::kRgba) {
      for (std::size_t p = at; p + 3 < out.size(); p += 4) std::swap(out[p], out[p + 2]);
    }
  }
  return out;
}

}  // namespace velmora::blp
