// Decoding and checking the BLP1 header.
#include "blp/Blp1Header.h"

#include <algorithm>
#include <string>

#include "blp/PaletteExpand.h"

namespace velmora {

namespace {
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Level 0 beyond this many pixels is refused before any sum is formed: every term below then
// fits 64 bits, and no file that fits the allowance comes near it.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 40;
}  // namespace

TBLP1Header TBLP1Header::Parse(const std::array<std::uint8_t, kReadSize>& bytes) {
  const std::uint8_t* b = bytes.data();
  TBLP1Header h;
  h.sign = Le32(b + 0);
  h.compression = Le32(b + 4);
  h.alpha_bits = Le32(b + 8);
  h.width = Le32(b + 12);
  h.height = Le32(b + 16);
  h.picture_type = Le32(b + 20);
  h.picture_subtype = Le32(b + 24);
  for (std::size_t i = 0; i < 16; ++i) {
    h.offsets[i] = Le32(b + 28 + 4 * i);
    h.sizes[i] = Le32(b + 92 + 4 * i);
  }
  h.jpeg_header_size = Le32(b + kSize);
  return h;
}

namespace blp {

std::uint8_t PaletteAlphaBits(const TBLP1Header& hdr) {
  return hdr.alpha_bits == 1 || hdr.alpha_bits == 4 || hdr.alpha_bits == 8 ? static_cast<std::uint8_t>(hdr.alpha_bits) : 0;
}

int ListedLevelCount(const TBLP1Header& hdr) {
  return hdr.picture_subtype != 0 ? std::min(MipLevelCount(hdr.width, hdr.height), kMaxLevels) : 1;
}

std::uint64_t LoadAllowance(std::uint64_t fileSize) { return kBytesPerFileByte * fileSize + kBaseAllowance; }

std::uint64_t LoadBytesOf(const TBLP1Header& hdr, std::uint64_t fileSize) {
  const bool jpeg = hdr.compression == kBlp1Jpeg;
  std::uint64_t total = jpeg ? hdr.jpeg_header_size : 0;
  std::uint64_t jpegPeak = 0;  // one level's stream and decoder at a time
  std::uint64_t w = std::max<std::uint32_t>(hdr.width, 1);
  std::uint64_t h = std::max<std::uint32_t>(hdr.height, 1);
  for (int i = 0; i < ListedLevelCount(hdr); ++i) {
    const auto idx = static_cast<std::size_t>(i);
    if (hdr.offsets[idx] == 0 || hdr.sizes[idx] == 0) break;
    const std::uint64_t pixels = w * h;
    total += 2 * pixels * 4;  // the level's RGBA and GL's copy
    if (jpeg) {
      // The stream holds what the file has of the level; the decoder's coefficients cover whole
      // 8 x 8 blocks (2 bytes a sample, 4 components), and one row of samples is converted at a time.
      const std::uint64_t stream = std::uint64_t{hdr.jpeg_header_size} + std::min<std::uint64_t>(hdr.sizes[idx], fileSize);
      const std::uint64_t coefficients = ((w + 7) & ~std::uint64_t{7}) * ((h + 7) & ~std::uint64_t{7}) * 4 * 2;
      jpegPeak = std::max(jpegPeak, stream + coefficients + w * 4);
    } else {
      total += PaletteLevelBytes(pixels, PaletteAlphaBits(hdr));
    }
    w = std::max<std::uint64_t>(w >> 1, 1);
    h = std::max<std::uint64_t>(h >> 1, 1);
  }
  return total + jpegPeak;
}

std::optional<THeaderProblem> CheckBlp1Header(const TBLP1Header& hdr, std::uint64_t fileSize,
                                              std::uint32_t maxTextureSize) {
  if (hdr.sign != TBLP1Header::kMagic) return THeaderProblem{THeaderProblemKind::kNotBlp2, "not a BLP1 file"};
  if (hdr.compression != kBlp1Jpeg && hdr.compression != kBlp1Palette) {
    return THeaderProblem{THeaderProblemKind::kUnknownEncoding,
                          "BLP1 texture with unknown compression " + std::to_string(hdr.compression) + ": not supported"};
  }
  const std::uint64_t limit = std::max<std::uint32_t>(maxTextureSize, 1);
  const std::uint64_t w0 = std::max<std::uint32_t>(hdr.width, 1);
  const std::uint64_t h0 = std::max<std::uint32_t>(hdr.height, 1);
  if (w0 > limit || h0 > limit || w0 * h0 > kMaxPixels) {
    return THeaderProblem{THeaderProblemKind::kTooLarge, "cannot allocate " + std::to_string(hdr.width) + " x " +
                                                             std::to_string(hdr.height) + " RGBA pixels (limit " +
                                                             std::to_string(limit) + ")"};
  }
  if (hdr.compression == kBlp1Jpeg) {
    const std::uint64_t room = fileSize > kBlp1JpegHeaderOffset ? fileSize - kBlp1JpegHeaderOffset : 0;
    if (hdr.jpeg_header_size > room) {
      return THeaderProblem{THeaderProblemKind::kTooLarge,
                            "cannot allocate " + std::to_string(hdr.jpeg_header_size) +
                                " bytes for the shared JPEG header (the file holds " + std::to_string(room) +
                                " bytes after offset " + std::to_string(kBlp1JpegHeaderOffset) + ")"};
    }
  }
  return CheckLevelBytes(hdr.offsets, hdr.sizes, ListedLevelCount(hdr), LoadBytesOf(hdr, fileSize), hdr.width, hdr.height,
                         fileSize);
}

}  // namespace blp
}  // namespace velmora
