// Block-level facts shared by the paths: little-endian reads of the block fields.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace velmora::dexaro {

// Blocks come from files at any alignment: read through memcpy, never through a cast pointer.
inline uint16_t LoadLe16(const uint8_t* p) noexcept {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = static_cast<uint16_t>((v >> 8) | (v << 8));
  return v;
}

inline uint32_t LoadLe32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline uint64_t LoadLe64(const uint8_t* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Byte sizes of one block: DXT3 and DXT5 put an 8-byte alpha block before the colour block.
inline constexpr std::size_t kColourBlockBytes = 8;
inline constexpr std::size_t kAlphaBlockBytes = 8;

}  // namespace velmora::dexaro
