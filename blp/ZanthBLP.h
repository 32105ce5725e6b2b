// BLP2 textures: the 148-byte file header and the texture object that turns one BLP2 file from
// the archives into one OpenGL 2D texture with all its mip levels.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "archive/Zanth.h"
#include "blp/BlpErrors.h"

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

// One BLP2 file loaded into one GL texture. Needs a current GL context whose entry points are
// resolved in velmora::Gl. A file that cannot be found or read gives an empty texture; only a
// buffer that cannot be allocated raises (TAllocationError), and then the texture name is
// deleted and the archive file closed before the error leaves the constructor.
class TBlpTexture : public TZanthObject {
public:
  explicit TBlpTexture(const std::string& fName);
  ~TBlpTexture() override;

  std::int32_t width = 0;   // hdr.width once the header is accepted; 0 otherwise
  std::int32_t height = 0;  // hdr.height once the header is accepted; 0 otherwise
  std::uint32_t id = 0;     // the GL texture name
  TBLP2Header hdr;          // as read from the file; all zero without a file

  // Levels of a full mip chain down to 1 x 1: 256 x 64 has 9.
  static int MipLevelCount(std::uint32_t w, std::uint32_t h);
  // Reverses the four bytes of v.
  static std::uint32_t SwapBytes(std::uint32_t v);
  // Decodes the whole 4x4 blocks of a DXT1/3/5 image (GL formats 0x83F1/0x83F2/0x83F3) into
  // w x h RGBA pixels at dst; any other format does nothing.
  static void DecompressDXT(std::uint32_t format, std::int32_t w, std::int32_t h, const void* src, void* dst);

private:
  void LoadBlp();
  void ReleaseTexture() noexcept;
};

}  // namespace velmora
