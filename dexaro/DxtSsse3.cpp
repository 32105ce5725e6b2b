// SSSE3 path: the colour table of a block built in one register, each row written by one
// pshufb from it.
#include <cstddef>
#include <cstdint>

#include "dexaro/DxtDecode.h"
#include "dexaro/DxtTables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// Only the code below, reached after the run-time check, may use SSSE3.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif

namespace velmora::dexaro {
namespace {

#include "dexaro/DxtSimd128.inl"

template <DxtFormat F>
void DecodeGrid(const BlockGrid& g) noexcept {
  constexpr std::size_t kBlockBytes = F == DxtFormat::Dxt1 ? 8 : 16;
  // Locals, not loads through g: the byte stores below may alias anything.
  const uint8_t* src = g.src;
  const std::size_t pitch = g.pitch;
  for (std::size_t by = 0; by < g.blocksHigh; ++by) {
    uint8_t* dst = g.dst + by * 4 * pitch;
    for (std::size_t bx = 0; bx < g.blocksWide; ++bx, src += kBlockBytes, dst += 16) {
      DecodeBlock128<F>(src, dst, pitch);
    }
  }
}

}  // namespace

void DecodeSsse3(DxtFormat format, const BlockGrid& grid) noexcept {
  switch (format) {
    case DxtFormat::Dxt1: DecodeGrid<DxtFormat::Dxt1>(grid); return;
    case DxtFormat::Dxt3: DecodeGrid<DxtFormat::Dxt3>(grid); return;
    case DxtFormat::Dxt5: DecodeGrid<DxtFormat::Dxt5>(grid); return;
  }
}

}  // namespace velmora::dexaro

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else

namespace velmora::dexaro {
// Never chosen off x86: PathAvailable says no.
void DecodeSsse3(DxtFormat, const BlockGrid&) noexcept {}
}  // namespace velmora::dexaro

#endif
