// The 156-byte BLP1 file header (the texture format of the older game and of its maps) and the
// one check that decides, before anything is read or allocated, whether a header can be loaded.
//
// Layout, little-endian 32-bit words: 0 "BLP1", 4 compression (0 JPEG, 1 palette), 8 alpha depth,
// 12 width, 16 height, 20 picture type, 24 picture subtype (non-zero: the file carries a mip
// chain), 28 offsets[16], 92 sizes[16]. JPEG files go on at 156 with the byte count of a JPEG
// header that every level shares and those bytes from 160; each level is a JPEG stream's tail, so
// shared header + level bytes make one whole JPEG. Palette files go on at 156 with 256 entries
// stored B, G, R, A; each level is one index byte per texel, then the alpha plane at the alpha
// depth (1, 4 or 8 bits a texel, packed as in BLP2; none at other depths).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "blp/BlpHeader.h"

namespace velmora {

struct TBLP1Header {
  std::uint32_t sign = 0;             // "BLP1" read as a little-endian integer: 0x31504C42
  std::uint32_t compression = 0;      // 0 = JPEG, 1 = palette
  std::uint32_t alpha_bits = 0;       // JPEG: 0 or 8; palette: 0, 1, 4 or 8 (others mean opaque)
  std::uint32_t width = 0;            // level 0, pixels
  std::uint32_t height = 0;
  std::uint32_t picture_type = 0;     // 3, 4 or 5 in the game's files; not used for decoding
  std::uint32_t picture_subtype = 0;  // non-zero: the offset table holds a mip chain
  std::array<std::uint32_t, 16> offsets{};  // file offset of each level; 0 = no such level
  std::array<std::uint32_t, 16> sizes{};    // byte size of each level; 0 = no such level
  // JPEG files only: the word at offset 156, the byte count of the shared JPEG header at 160.
  std::uint32_t jpeg_header_size = 0;

  static constexpr std::uint32_t kSize = 156;
  // What Parse reads: the header and the word after it.
  static constexpr std::uint32_t kReadSize = kSize + 4;
  static constexpr std::uint32_t kMagic = 0x31504C42;  // 'B' 'L' 'P' '1'

  static TBLP1Header Parse(const std::array<std::uint8_t, kReadSize>& bytes);
};

namespace blp {

constexpr std::uint32_t kBlp1Jpeg = 0;
constexpr std::uint32_t kBlp1Palette = 1;
constexpr std::uint32_t kBlp1PaletteOffset = TBLP1Header::kSize;
constexpr std::uint32_t kBlp1JpegHeaderOffset = TBLP1Header::kSize + 4;
// Scans a level's JPEG may hold: a progressive JPEG has about ten; thousands of tiny scans make a
// small file cost minutes of decoding.
constexpr int kMaxJpegScans = 500;

// The alpha depth a palette level is laid out with: 1, 4 or 8, else 0 (no alpha plane, opaque).
std::uint8_t PaletteAlphaBits(const TBLP1Header& hdr);

// Levels the header lists: the full chain with a non-zero picture subtype, else 1; at most 16.
int ListedLevelCount(const TBLP1Header& hdr);

// Bytes a load of this header allocates at most: per listed level the level's RGBA pixels and
// GL's copy of them, and for palette files the level's index and alpha bytes; for JPEG files the
// shared header, each level's JPEG stream and what the JPEG decoder holds for one level (its
// whole-image coefficients: 2 bytes per sample of 4 components).
std::uint64_t LoadBytesOf(const TBLP1Header& hdr, std::uint64_t fileSize);

// What a file of `fileSize` bytes may make a load allocate: 64 bytes per file byte and 64 MiB.
std::uint64_t LoadAllowance(std::uint64_t fileSize);

// The first reason a BLP1 header cannot be loaded, or none. Pure: the header, the size of the
// file and GL_MAX_TEXTURE_SIZE in, no reads, no allocation. Checked in this order: magic,
// compression, level 0 against the size limit, the JPEG header against the file, each listed
// level's size against 2^31 - 1, what the load allocates against LoadAllowance.
std::optional<THeaderProblem> CheckBlp1Header(const TBLP1Header& hdr, std::uint64_t fileSize,
                                              std::uint32_t maxTextureSize);

}  // namespace blp
}  // namespace velmora
