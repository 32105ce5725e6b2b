// Shuffle tables of the SIMD paths, built at compile time from the block layout.
#pragma once

#include <cstdint>

namespace velmora::dexaro {

struct alignas(64) ShuffleRows256 {
  uint8_t rows[256][16];
};

// For a colour index byte b (one row of a block), the pshufb control that picks from a
// 16-byte table of four RGBA colours: destination byte j belongs to pixel x = j / 4, whose
// index is bits 2x..2x+1 of b, so it takes table byte 4 * index + j % 4.
constexpr ShuffleRows256 MakeColourIndexShuffle() {
  ShuffleRows256 t{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned j = 0; j < 16; ++j) {
      t.rows[b][j] = static_cast<uint8_t>(((b >> (2 * (j / 4))) & 3u) * 4u + (j % 4u));
    }
  }
  return t;
}

inline constexpr ShuffleRows256 kColourIndexShuffle = MakeColourIndexShuffle();

struct alignas(16) ShuffleRows4 {
  uint8_t rows[4][16];
};

// From 16 alpha bytes in pixel order (pixel n = 4 * row + column) to the alpha bytes
// (3, 7, 11, 15) of one row of four RGBA pixels; the other bytes become zero (0x80).
constexpr ShuffleRows4 MakeAlphaPlaceShuffle() {
  ShuffleRows4 t{};
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned j = 0; j < 16; ++j) {
      t.rows[r][j] = j % 4u == 3u ? static_cast<uint8_t>(4u * r + j / 4u) : uint8_t{0x80};
    }
  }
  return t;
}

inline constexpr ShuffleRows4 kAlphaPlaceShuffle = MakeAlphaPlaceShuffle();

// DXT5 indices: pixel n has its three bits at bit 16 + 3n of the 8-byte alpha block. Lane n
// (16 bits) of the window gathers the two bytes that hold them, and multiplying by
// 2^(8 - s), s = (16 + 3n) % 8, moves the three bits to bits 8..10 of the lane.
struct alignas(16) AlphaIndexWindows {
  uint8_t gather[2][16];   // pixels 0..7, 8..15
  uint16_t scale[2][8];
};

constexpr AlphaIndexWindows MakeAlphaIndexWindows() {
  AlphaIndexWindows t{};
  for (unsigned n = 0; n < 16; ++n) {
    const unsigned bit = 16u + 3u * n;
    const unsigned byte = bit / 8u;
    const unsigned lane = n % 8u;
    t.gather[n / 8u][2 * lane] = static_cast<uint8_t>(byte);
    // The last pixel's bits end in byte 7; the byte after the block reads as zero.
    t.gather[n / 8u][2 * lane + 1] = byte + 1u < 8u ? static_cast<uint8_t>(byte + 1u) : uint8_t{0x80};
    t.scale[n / 8u][lane] = static_cast<uint16_t>(1u << (8u - bit % 8u));
  }
  return t;
}

inline constexpr AlphaIndexWindows kAlphaIndexWindows = MakeAlphaIndexWindows();

// DXT5 alpha table as pmaddubsw weights (a0 weight, a1 weight) per entry, a reciprocal for
// pmulhuw and a constant ORed in. For x <= 7 * 255, x / 7 == (x * 9363) >> 16, and for
// x <= 5 * 255, x / 5 == (x * 13108) >> 16, so the divisions truncate exactly.
struct alignas(16) AlphaTableConsts {
  int8_t weights[16];
  uint16_t reciprocal[8];
  uint16_t extra[8];
};

// [0]: a0 > a1, entries a0, a1, (6 a0 + a1) / 7 ... (a0 + 6 a1) / 7.
// [1]: a0 <= a1, entries a0, a1, (4 a0 + a1) / 5 ... (a0 + 4 a1) / 5, 0, 255.
inline constexpr AlphaTableConsts kAlphaTableConsts[2] = {
    {{7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6},
     {9363, 9363, 9363, 9363, 9363, 9363, 9363, 9363},
     {0, 0, 0, 0, 0, 0, 0, 0}},
    {{5, 0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0},
     {13108, 13108, 13108, 13108, 13108, 13108, 13108, 13108},
     {0, 0, 0, 0, 0, 0, 0, 255}},
};

}  // namespace velmora::dexaro
