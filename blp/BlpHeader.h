// The 148-byte BLP2 file header and the one check that decides, before anything is read or
// allocated, whether a header can be loaded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// The first 148 bytes of a BLP2 file, little-endian on disk; decoded field by field, so the
// in-memory layout does not matter.
struct TBLP2Header {
  std::uint32_t sign = 0;         // "BLP2" read as a little-endian integer: 0x32504C42
  std::uint32_t tex_type = 0;     // 0 = JPEG content, 1 = directly stored content
  std::uint8_t compression = 0;   // 1 = palette indices, 2 = DXT blocks, 3 = 32-bit B,G,R,A pixels
  std::uint8_t alpha_bits = 0;    // alpha depth: 0, 1, 4 or 8 (other values mean opaque)
  std::uint8_t alpha_type = 0;    // 7 with alpha_bits 8 selects DXT5
  std::uint8_t has_mips = 0;      // non-zero: the file carries a mip chain
  std::uint32_t width = 0;        // level 0, pixels
  std::uint32_t height = 0;
  std::array<std::uint32_t, 16> offsets{};  // file offset of each level; 0 = no such level
  std::array<std::uint32_t, 16> sizes{};    // byte size of each level; 0 = no such level

  static constexpr std::uint32_t kSize = 148;
  static constexpr std::uint32_t kMagic = 0x32504C42;  // 'B' 'L' 'P' '2'

  // Decodes the header from the first kSize bytes of a file.
  static TBLP2Header Parse(const std::array<std::uint8_t, kSize>& bytes);
};

namespace blp {

constexpr std::uint8_t kPaletteEncoding = 1;
constexpr std::uint8_t kDxtEncoding = 2;
constexpr std::uint8_t kUncompressedEncoding = 3;
constexpr std::uint32_t kContentDirect = 1;  // tex_type 0 is JPEG content, which is not loaded
constexpr std::uint32_t kBlp1Magic = 0x31504C42;  // 'B' 'L' 'P' '1'
constexpr int kMaxLevels = 16;  // entries of the offset table
// sizes[i] is 32-bit; 2^31 bytes or more is no level any writer produced and no buffer we take.
constexpr std::uint64_t kMaxLevelBytes = 0x7FFFFFFF;
// What a file of S bytes may make the viewer allocate for its load, GL included:
// kBytesPerFileByte x S + kBaseAllowance. Honest files need a small multiple of their size (DXT1,
// the densest encoding, expands 8 times to RGBA, and a copy for GL doubles that); the allowance
// lets a small file claim a moderate size whose data it lacks (a level cut short reads as zero).
constexpr std::uint64_t kBytesPerFileByte = 64;
constexpr std::uint64_t kBaseAllowance = 64ull << 20;

// Bytes a load of this header allocates at most, on any path: per listed level, its buffer at
// the size its encoding needs, an RGBA expansion or decode of it (whole blocks), and the GL
// texture's own RGBA copy.
std::uint64_t LoadBytesOf(const TBLP2Header& hdr);

// Magic "BLP2" and directly stored content: the header is taken, the rest decides what loads.
bool IsLoadableContent(const TBLP2Header& hdr);

// Levels of a full mip chain down to 1 x 1: 256 x 64 has 9.
int MipLevelCount(std::uint32_t w, std::uint32_t h);

// Levels the header lists: the full chain with has_mips, else 1; never more than 16.
int ListedLevelCount(const TBLP2Header& hdr);

enum class THeaderProblemKind {
  kNotBlp2,          // wrong magic (BLP1 included) or no content that is stored directly:
                     // nothing loads, silently
  kUnknownEncoding,  // compression is none of 1, 2, 3: no level loads
  kTooLarge,         // a buffer the header asks for cannot be honestly allocated: an error
};

struct THeaderProblem {
  THeaderProblemKind kind;
  std::string message;  // names the value found and, for sizes, the limit
};

// The last checks of both formats' headers: each listed level (up to the first without an
// offset or a size, of `listed`) within kMaxLevelBytes, then `needed` bytes for the whole load of
// a width x height texture within what a file of `fileSize` bytes justifies.
std::optional<THeaderProblem> CheckLevelBytes(const std::array<std::uint32_t, 16>& offsets,
                                              const std::array<std::uint32_t, 16>& sizes, int listed,
                                              std::uint64_t needed, std::uint32_t width, std::uint32_t height,
                                              std::uint64_t fileSize);

// The first reason the header cannot be loaded as it stands, or none. Pure: the header, the
// size of the file it came from and GL_MAX_TEXTURE_SIZE in, no reads, no allocation. Checked,
// in this order: magic, content type, encoding, level 0 against the size limit, each listed
// level's size against 2^31 - 1, what the load allocates against what the file size justifies.
std::optional<THeaderProblem> CheckBlpHeader(const TBLP2Header& hdr, std::uint64_t fileSize,
                                             std::uint32_t maxTextureSize);

}  // namespace blp
}  // namespace velmora
