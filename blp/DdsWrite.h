// DirectDraw Surface files of a texture's levels, every level in one file: DXT1/3/5 levels keep
// their blocks byte for byte, palette and uncompressed levels become 32-bit B, G, R, A pixels.
//
// File layout (little-endian DWORDs): the magic "DDS ", then DDS_HEADER (124 bytes):
//   dwSize 124, dwFlags, dwHeight, dwWidth, dwPitchOrLinearSize, dwDepth, dwMipMapCount,
//   dwReserved1[11], DDS_PIXELFORMAT (32 bytes: dwSize 32, dwFlags, dwFourCC, dwRGBBitCount,
//   dwRBitMask, dwGBitMask, dwBBitMask, dwABitMask), dwCaps, dwCaps2, dwCaps3, dwCaps4,
//   dwReserved2;
// then the levels, largest first, back to back. dwFlags holds DDSD_CAPS 0x1, DDSD_HEIGHT 0x2,
// DDSD_WIDTH 0x4, DDSD_PIXELFORMAT 0x1000, DDSD_MIPMAPCOUNT 0x20000, and DDSD_LINEARSIZE
// 0x80000 (compressed: dwPitchOrLinearSize is level 0's byte count) or DDSD_PITCH 0x8
// (uncompressed: the bytes of one row). Compressed levels: DDPF_FOURCC 0x4 with "DXT1", "DXT3"
// or "DXT5", 4x4 blocks row by row, partial blocks at the edges included. Uncompressed levels:
// DDPF_RGB 0x40 | DDPF_ALPHAPIXELS 0x1, 32 bits, masks R 0x00FF0000, G 0x0000FF00,
// B 0x000000FF, A 0xFF000000 (A8R8G8B8: bytes B, G, R, A in memory). dwCaps holds
// DDSCAPS_TEXTURE 0x1000, and with more than one level DDSCAPS_COMPLEX 0x8 and DDSCAPS_MIPMAP
// 0x400000. dwMipMapCount says how many levels follow; each is half the one before, at least 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "blp/BlpDecode.h"

namespace velmora::blp {

inline constexpr std::size_t kDdsHeaderBytes = 4 + 124;

// The header (magic included) of a DDS file of `count` levels in `format`, level 0 of width x
// height holding level0Bytes.
std::array<std::uint8_t, kDdsHeaderBytes> DdsHeader(TLevelFormat format, std::uint32_t width, std::uint32_t height,
                                                    std::uint64_t level0Bytes, std::size_t count);

// The first `count` levels of `levels` (DXT levels as blocks, dxtAsBlocks) as a DDS file. Each
// level must hold exactly the bytes its size needs. Throws std::invalid_argument otherwise.
std::vector<std::uint8_t> EncodeDds(const TBlpLevels& levels, std::size_t count);

// A DDS file as its header and the levels' blocks where they lie in the BLP file's bytes.
struct TDdsPieces {
  std::array<std::uint8_t, kDdsHeaderBytes> header{};
  std::vector<std::span<const std::uint8_t>> levels;
};

// The DDS file of a DXT texture (BLP2 header `hdr`, checked, and the file's bytes) without
// copying its blocks: the same bytes as EncodeDds of its decoded levels, when every level the
// header lists lies whole in the file. nullopt otherwise, or for a texture that is not DXT.
std::optional<TDdsPieces> DxtDdsPieces(const TBLP2Header& hdr, std::span<const std::uint8_t> file);

}  // namespace velmora::blp
