// Writing DDS files: the header, then the levels as they are or as B, G, R, A pixels.
#include "blp/DdsWrite.h"

#include "blp/LevelChain.h"

#include <algorithm>
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

// Four characters as the DWORD that holds them in file order.
constexpr std::uint32_t FourCc(const char (&s)[5]) {
  return std::uint32_t{static_cast<unsigned char>(s[0])} | std::uint32_t{static_cast<unsigned char>(s[1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(s[2])} << 16 | std::uint32_t{static_cast<unsigned char>(s[3])} << 24;
}

std::uint64_t BlocksAcross(std::uint64_t n) { return (n + 3) / 4; }

// Bytes a level of w x h in `format` needs: whole blocks for DXT, 4 per pixel otherwise.
std::uint64_t LevelBytes(TLevelFormat format, std::uint32_t w, std::uint32_t h) {
  const std::size_t block = BlockBytes(format);
  if (block > 0) return BlocksAcross(w) * BlocksAcross(h) * block;
  return std::uint64_t{w} * h * 4;
}

}  // namespace

std::array<std::uint8_t, kDdsHeaderBytes> DdsHeader(TLevelFormat format, std::uint32_t width, std::uint32_t height,
                                                    std::uint64_t level0Bytes, std::size_t count) {
  const bool compressed = BlockBytes(format) > 0;
  std::array<std::uint8_t, kDdsHeaderBytes> out{'D', 'D', 'S', ' '};
  std::size_t at = 4;
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at++] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(124);  // dwSize
  put(kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat | kDdsdMipMapCount |
      (compressed ? kDdsdLinearSize : kDdsdPitch));
  put(height);
  put(width);
  // Compressed: level 0's bytes; uncompressed: the bytes of one row of level 0.
  put(compressed ? static_cast<std::uint32_t>(level0Bytes) : width * 4);
  put(0);  // dwDepth: not a volume
  put(static_cast<std::uint32_t>(count));
  for (int i = 0; i < 11; ++i) put(0);  // dwReserved1
  // DDS_PIXELFORMAT
  put(32);
  if (compressed) {
    const std::uint32_t fourCc = format == TLevelFormat::kDxt1   ? FourCc("DXT1")
                                 : format == TLevelFormat::kDxt3 ? FourCc("DXT3")
                                                                 : FourCc("DXT5");
    put(kDdpfFourCc);
    put(fourCc);
    for (int i = 0; i < 5; ++i) put(0);  // bit count and masks: unused
  } else {
    put(kDdpfRgb | kDdpfAlphaPixels);
    put(0);
    put(32);
    put(0x00FF0000);
    put(0x0000FF00);
    put(0x000000FF);
    put(0xFF000000);
  }
  put(kDdsCapsTexture | (count > 1 ? kDdsCapsComplex | kDdsCapsMipMap : 0));
  for (int i = 0; i < 4; ++i) put(0);  // dwCaps2 (no cube map, no volume), dwCaps3, dwCaps4, dwReserved2
  return out;
}

std::vector<std::uint8_t> EncodeDds(const TBlpLevels& levels, std::size_t count) {
  if (count == 0 || count > levels.levels.size()) {
    throw std::invalid_argument("DDS of " + std::to_string(count) + " levels from " +
                                std::to_string(levels.levels.size()));
  }
  std::uint64_t total = kDdsHeaderBytes;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t need = LevelBytes(levels.format, levels.levels[i].width, levels.levels[i].height);
    if (levels.levels[i].bytes.size() != need) {
      throw std::invalid_argument("level " + std::to_string(i) + " holds " + std::to_string(levels.levels[i].bytes.size()) +
                                  " bytes, not the " + std::to_string(need) + " its size needs");
    }
    total += need;
  }
  const TBlpLevel& top = levels.levels[0];
  const std::array<std::uint8_t, kDdsHeaderBytes> header =
      DdsHeader(levels.format, top.width, top.height, top.bytes.size(), count);
  std::vector<std::uint8_t> out(header.begin(), header.end());
  out.reserve(static_cast<std::size_t>(total));
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

std::optional<TDdsPieces> DxtDdsPieces(const TBLP2Header& hdr, std::span<const std::uint8_t> file) {
  if (hdr.compression != kDxtEncoding) return std::nullopt;
  const TLevelFormat format = DxtFormatOf(hdr);
  TDdsPieces pieces;
  bool whole = true;
  ForEachListedLevel(hdr, kMaxLevels, [&](int, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
    const std::uint64_t need = LevelBytes(format, w, h);
    whole = size >= need && offset <= file.size() && file.size() - offset >= need;
    if (whole) pieces.levels.push_back(file.subspan(offset, static_cast<std::size_t>(need)));
    return whole;
  });
  if (!whole || pieces.levels.empty()) return std::nullopt;
  pieces.header = DdsHeader(format, std::max(hdr.width, 1u), std::max(hdr.height, 1u), pieces.levels[0].size(),
                            pieces.levels.size());
  return pieces;
}

}  // namespace velmora::blp
