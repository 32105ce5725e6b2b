// AVX2 path: two neighbouring blocks per 256-bit register, one block per 128-bit lane. Their
// rows lie next to each other in the destination, so each row of the pair is one 32-byte store.
#include <cstddef>
#include <cstdint>

#include "dexaro/DxtDecode.h"
#include "dexaro/DxtTables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// Only the code below, reached after the run-time check, may use AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace velmora::dexaro {
namespace {

#include "dexaro/DxtSimd128.inl"

inline __m256i Load256(const void* p) noexcept {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

inline __m256i BothLanes(const void* p) noexcept {
  return _mm256_broadcastsi128_si256(Load128(p));
}

inline __m256i Lanes(__m128i lo, __m128i hi) noexcept {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// ColourTable128 on both lanes; see there for the arithmetic.
inline __m256i ColourTable256(__m256i v, __m256i broadcast) noexcept {
  const __m256i c = _mm256_shuffle_epi8(v, broadcast);
  __m256i e = _mm256_mullo_epi16(c, _mm256_setr_epi16(1, 32, 2048, 0, 1, 32, 2048, 0,  //
                                                      1, 32, 2048, 0, 1, 32, 2048, 0));
  e = _mm256_and_si256(e, _mm256_setr_epi16(-2048, -1024, -2048, 0, -2048, -1024, -2048, 0,  //
                                            -2048, -1024, -2048, 0, -2048, -1024, -2048, 0));
  e = _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(e, 8), _mm256_srli_epi16(e, 13)),
                      _mm256_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255));
  const __m256i swapped = _mm256_shuffle_epi32(e, 0x4E);
  // (2 c0 + c1) / 3, (c0 + 2 c1) / 3
  const __m256i four =
      _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(e, e), swapped), _mm256_set1_epi16(21846));
  // (c0 + c1) / 2, (0, 255, 255, 0)
  const __m256i three = _mm256_blend_epi16(_mm256_srli_epi16(_mm256_add_epi16(e, swapped), 1),
                                           _mm256_setr_epi16(0, 0, 0, 0, 0, 255, 255, 0,  //
                                                             0, 0, 0, 0, 0, 255, 255, 0),
                                           0xF0);
  const __m256i cSwapped = _mm256_shuffle_epi32(c, 0x4E);
  const __m256i threeMode = _mm256_shuffle_epi32(
      _mm256_cmpeq_epi16(_mm256_subs_epu16(c, cSwapped), _mm256_setzero_si256()), 0);
  return _mm256_packus_epi16(e, _mm256_blendv_epi8(four, three, threeMode));
}

inline __m256i ColourIndexShuffle256(unsigned lo, unsigned hi) noexcept {
  return Lanes(ColourIndexShuffle128(lo), ColourIndexShuffle128(hi));
}

inline __m256i ExplicitAlpha256(__m256i a) noexcept {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i n = _mm256_unpacklo_epi8(_mm256_and_si256(a, nibble),
                                         _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble));
  return _mm256_or_si256(n, _mm256_slli_epi16(n, 4));
}

// Both alpha tables are computed and each lane keeps the one its block's a0 > a1 selects.
inline __m256i InterpolatedAlpha256(__m256i a) noexcept {
  const AlphaTableConsts& k7 = kAlphaTableConsts[0];
  const AlphaTableConsts& k5 = kAlphaTableConsts[1];
  const __m256i pairs = _mm256_shuffle_epi8(a, _mm256_set1_epi16(0x0100));
  const __m256i t7 =
      _mm256_mulhi_epu16(_mm256_maddubs_epi16(pairs, BothLanes(k7.weights)), BothLanes(k7.reciprocal));
  const __m256i t5 = _mm256_or_si256(
      _mm256_mulhi_epu16(_mm256_maddubs_epi16(pairs, BothLanes(k5.weights)), BothLanes(k5.reciprocal)),
      BothLanes(k5.extra));
  const __m256i a0 = _mm256_and_si256(pairs, _mm256_set1_epi16(0xFF));
  const __m256i a1 = _mm256_srli_epi16(pairs, 8);
  const __m256i t = _mm256_blendv_epi8(t5, t7, _mm256_cmpgt_epi16(a0, a1));
  const __m256i table = _mm256_packus_epi16(t, t);

  __m256i lo = _mm256_shuffle_epi8(a, BothLanes(kAlphaIndexWindows.gather[0]));
  __m256i hi = _mm256_shuffle_epi8(a, BothLanes(kAlphaIndexWindows.gather[1]));
  lo = _mm256_srli_epi16(_mm256_mullo_epi16(lo, BothLanes(kAlphaIndexWindows.scale[0])), 8);
  hi = _mm256_srli_epi16(_mm256_mullo_epi16(hi, BothLanes(kAlphaIndexWindows.scale[1])), 8);
  const __m256i index = _mm256_and_si256(_mm256_packus_epi16(lo, hi), _mm256_set1_epi8(7));
  return _mm256_shuffle_epi8(table, index);
}

inline __m256i AlphaRow256(__m256i alpha, int r) noexcept {
  return _mm256_shuffle_epi8(alpha, BothLanes(kAlphaPlaceShuffle.rows[r]));
}

// Blocks src and src + block size into the 8 x 4 pixels at dst.
template <DxtFormat F>
inline void DecodeBlockPair(const uint8_t* src, uint8_t* dst, std::size_t pitch) noexcept {
  if constexpr (F == DxtFormat::Dxt1) {
    // The 16 bytes hold both blocks; lane 0 reads the first one's colours, lane 1 the second's.
    const __m256i table =
        ColourTable256(BothLanes(src), Lanes(ColourBroadcastAt0(), ColourBroadcastAt8()));
    for (int r = 0; r < 4; ++r) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + static_cast<std::size_t>(r) * pitch),
                          _mm256_shuffle_epi8(table, ColourIndexShuffle256(src[4 + r], src[12 + r])));
    }
  } else {
    const __m256i blocks = Load256(src);
    const __m256i colourMask = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i table = _mm256_and_si256(
        ColourTable256(blocks, Lanes(ColourBroadcastAt8(), ColourBroadcastAt8())), colourMask);
    __m256i alpha;
    if constexpr (F == DxtFormat::Dxt3) {
      alpha = ExplicitAlpha256(blocks);
    } else {
      alpha = InterpolatedAlpha256(blocks);
    }
    for (int r = 0; r < 4; ++r) {
      _mm256_storeu_si256(
          reinterpret_cast<__m256i*>(dst + static_cast<std::size_t>(r) * pitch),
          _mm256_or_si256(_mm256_shuffle_epi8(table, ColourIndexShuffle256(src[12 + r], src[28 + r])),
                          AlphaRow256(alpha, r)));
    }
  }
}

template <DxtFormat F>
void DecodeGrid(const BlockGrid& g) noexcept {
  constexpr std::size_t kBlockBytes = F == DxtFormat::Dxt1 ? 8 : 16;
  // Locals, not loads through g: the byte stores below may alias anything.
  const uint8_t* src = g.src;
  const std::size_t pitch = g.pitch;
  const std::size_t pairs = g.blocksWide / 2;
  const bool odd = (g.blocksWide & 1u) != 0;
  for (std::size_t by = 0; by < g.blocksHigh; ++by) {
    uint8_t* dst = g.dst + by * 4 * pitch;
    for (std::size_t p = 0; p < pairs; ++p, src += 2 * kBlockBytes, dst += 32) {
      DecodeBlockPair<F>(src, dst, pitch);
    }
    if (odd) {
      DecodeBlock128<F>(src, dst, pitch);
      src += kBlockBytes;
    }
  }
}

}  // namespace

void DecodeAvx2(DxtFormat format, const BlockGrid& grid) noexcept {
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
void DecodeAvx2(DxtFormat, const BlockGrid&) noexcept {}
}  // namespace velmora::dexaro

#endif
