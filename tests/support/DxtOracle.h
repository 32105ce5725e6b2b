// A deliberately plain DXT1/DXT3/DXT5 decoder, one pixel at a time, written straight from the
// block rules. The decoder tests and the fuzz target compare the library against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::test {

enum class DxtKind { Dxt1, Dxt3, Dxt5 };

const char* DxtKindName(DxtKind kind);

// 8 for DXT1, 16 for DXT3 and DXT5.
std::size_t DxtBlockBytes(DxtKind kind);

// Pixel (x, y), 0..3 each, of one block, as R, G, B, A.
std::array<uint8_t, 4> OracleDecodePixel(DxtKind kind, const uint8_t* block, int x, int y);

// The whole image: (width / 4) x (height / 4) blocks read from src (which must hold them),
// written into dst (width x height RGBA pixels); pixels outside whole blocks stay untouched.
void OracleDecodeImage(DxtKind kind, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);

// Bytes of source the image needs: whole blocks only, 0 for sizes below 4.
std::size_t DxtSourceBytes(DxtKind kind, int32_t width, int32_t height);

}  // namespace velmora::test
