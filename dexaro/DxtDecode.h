// Internal interface of the decoders: the block walk shared by the exports, and a way to run
// each instruction-set path on its own (the tests run every path the machine can run).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::dexaro {

enum class DxtFormat : int { Dxt1, Dxt3, Dxt5 };

// Scalar runs anywhere; Ssse3 needs pshufb; Avx2 decodes two blocks per 256-bit register.
enum class DxtPath : int { Scalar, Ssse3, Avx2 };

inline constexpr DxtPath kAllPaths[] = {DxtPath::Scalar, DxtPath::Ssse3, DxtPath::Avx2};

const char* PathName(DxtPath path) noexcept;

// Whether this CPU (and its operating system) can run the path.
bool PathAvailable(DxtPath path) noexcept;

// The fastest available path.
DxtPath BestPath() noexcept;

// Decodes the (width / 4) x (height / 4) whole blocks of src into dst (rows of width RGBA
// pixels) with the given path, which must be available. Writes nothing outside whole blocks.
void DecodeImage(DxtPath path, DxtFormat format, const void* src, int32_t width, int32_t height,
                 void* dst) noexcept;

// What one path implements: bw x bh blocks, destination rows pitch bytes apart.
struct BlockGrid {
  const uint8_t* src;
  uint8_t* dst;
  std::size_t pitch;
  std::size_t blocksWide;
  std::size_t blocksHigh;
};

void DecodeScalar(DxtFormat format, const BlockGrid& grid) noexcept;
void DecodeSsse3(DxtFormat format, const BlockGrid& grid) noexcept;
void DecodeAvx2(DxtFormat format, const BlockGrid& grid) noexcept;

}  // namespace velmora::dexaro
