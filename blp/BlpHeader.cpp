// Decoding and checking the 148-byte BLP2 header.
#include "blp/BlpHeader.h"

#include <algorithm>
#include <limits>

namespace velmora {

namespace {
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
}  // namespace

TBLP2Header TBLP2Header::Parse(const std::array<std::uint8_t, kSize>& bytes) {
  // Offsets: 0 sign, 4 tex_type, 8 compression, 9 alpha_bits, 10 alpha_type, 11 has_mips,
  // 12 width, 16 height, 20 offsets[16], 84 sizes[16].
  const std::uint8_t* b = bytes.data();
  TBLP2Header h;
  h.sign = Le32(b + 0);
  h.tex_type = Le32(b + 4);
  h.compression = b[8];
  h.alpha_bits = b[9];
  h.alpha_type = b[10];
  h.has_mips = b[11];
  h.width = Le32(b + 12);
  h.height = Le32(b + 16);
  for (std::size_t i = 0; i < 16; ++i) {
    h.offsets[i] = Le32(b + 20 + 4 * i);
    h.sizes[i] = Le32(b + 84 + 4 * i);
  }
  return h;
}

namespace blp {

bool IsLoadableContent(const TBLP2Header& hdr) {
  return hdr.sign == TBLP2Header::kMagic && hdr.tex_type == kContentDirect;
}

int MipLevelCount(std::uint32_t w, std::uint32_t h) {
  int count = 1;
  while (w > 1 || h > 1) {
    ++count;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  return count;
}

int ListedLevelCount(const TBLP2Header& hdr) {
  return hdr.has_mips != 0 ? std::min(MipLevelCount(hdr.width, hdr.height), kMaxLevels) : 1;
}

std::uint64_t LoadBytesOf(const TBLP2Header& hdr) {
  // Level 0 fits the GL limit (checked first), so every term below fits 64 bits.
  const int levels = ListedLevelCount(hdr);
  std::uint64_t total = 0;
  std::uint64_t w = std::max<std::uint32_t>(hdr.width, 1);
  std::uint64_t h = std::max<std::uint32_t>(hdr.height, 1);
  for (int i = 0; i < levels; ++i) {
    const auto idx = static_cast<std::size_t>(i);
    if (hdr.offsets[idx] == 0 || hdr.sizes[idx] == 0) break;
    const std::uint64_t pw = (w + 3) & ~std::uint64_t{3};
    const std::uint64_t ph = (h + 3) & ~std::uint64_t{3};
    const std::uint64_t rgba = pw * ph * 4;
    // The level buffer is at most RGBA-sized (uncompressed, or 2 bytes a pixel for palette);
    // the expansion or decode and GL's copy are RGBA each.
    total += 3 * rgba;
    w = std::max<std::uint64_t>(w >> 1, 1);
    h = std::max<std::uint64_t>(h >> 1, 1);
  }
  return total;
}

std::optional<THeaderProblem> CheckLevelBytes(const std::array<std::uint32_t, 16>& offsets,
                                              const std::array<std::uint32_t, 16>& sizes, int listed,
                                              std::uint64_t needed, std::uint32_t width, std::uint32_t height,
                                              std::uint64_t fileSize) {
  // The chain ends at the first level without an offset or a size.
  for (int i = 0; i < listed; ++i) {
    const auto idx = static_cast<std::size_t>(i);
    if (offsets[idx] == 0 || sizes[idx] == 0) break;
    if (sizes[idx] > kMaxLevelBytes) {
      return THeaderProblem{THeaderProblemKind::kTooLarge, "cannot allocate " + std::to_string(sizes[idx]) +
                                                               " bytes for mip level " + std::to_string(i) +
                                                               " (limit " + std::to_string(kMaxLevelBytes) + ")"};
    }
  }
  const std::uint64_t allowed = kBytesPerFileByte * fileSize + kBaseAllowance;
  if (needed > allowed) {
    return THeaderProblem{THeaderProblemKind::kTooLarge,
                          "cannot allocate " + std::to_string(needed) + " bytes for " + std::to_string(width) +
                              " x " + std::to_string(height) + " pixels from a file of " +
                              std::to_string(fileSize) + " bytes (limit " + std::to_string(allowed) + ")"};
  }
  return std::nullopt;
}

std::optional<THeaderProblem> CheckBlpHeader(const TBLP2Header& hdr, std::uint64_t fileSize,
                                             std::uint32_t maxTextureSize) {
  if (hdr.sign != TBLP2Header::kMagic) {
    if (hdr.sign == kBlp1Magic) {
      // BLP1 keeps its content type where BLP2 does: 0 JPEG, 1 palette.
      const std::string content = hdr.tex_type == 0 ? "JPEG content" : "palette content";
      return THeaderProblem{THeaderProblemKind::kNotBlp2, "BLP1 texture (" + content + "): not supported"};
    }
    return THeaderProblem{THeaderProblemKind::kNotBlp2, "not a BLP2 file"};
  }
  if (hdr.tex_type != kContentDirect) {
    const std::string content = hdr.tex_type == 0 ? "JPEG content" : "content type " + std::to_string(hdr.tex_type);
    return THeaderProblem{THeaderProblemKind::kNotBlp2, "BLP2 texture (" + content + "): not supported"};
  }
  if (hdr.compression != kPaletteEncoding && hdr.compression != kDxtEncoding &&
      hdr.compression != kUncompressedEncoding) {
    return THeaderProblem{THeaderProblemKind::kUnknownEncoding,
                          "unknown encoding " + std::to_string(hdr.compression) + ": not supported"};
  }
  // Level 0 of w0 x h0 (zeros count as 1) must fit the GL size limit; every buffer of the load
  // is then bounded by w0 x h0 x 4 bytes, which fits 64 bits.
  const std::uint64_t limit = std::max<std::uint32_t>(maxTextureSize, 1);
  const std::uint64_t w0 = std::max<std::uint32_t>(hdr.width, 1);
  const std::uint64_t h0 = std::max<std::uint32_t>(hdr.height, 1);
  if (w0 > limit || h0 > limit || w0 * h0 * 4 > std::numeric_limits<std::size_t>::max()) {
    return THeaderProblem{THeaderProblemKind::kTooLarge, "cannot allocate " + std::to_string(hdr.width) + " x " +
                                                             std::to_string(hdr.height) + " RGBA pixels (limit " +
                                                             std::to_string(limit) + ")"};
  }
  return CheckLevelBytes(hdr.offsets, hdr.sizes, ListedLevelCount(hdr), LoadBytesOf(hdr), hdr.width, hdr.height, fileSize);
}

}  // namespace blp
}  // namespace velmora
