// One block in 128-bit registers (SSSE3 level). Included by the SIMD paths inside their
// target region and an anonymous namespace, so each path gets its own copy compiled for its
// instruction set.

inline __m128i Load128(const void* p) noexcept {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

inline void Store128(void* p, __m128i v) noexcept {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// The four colours of the colour block whose c0, c1 words are bytes k..k+3 of v (k = 0 or
// 8, chosen by the broadcast control), as 16 bytes RGBA x 4.
// Lanes hold c0 four times then c1 four times (16 bits each); lane i extracts red, green,
// blue, nothing. Multiplying by 1, 32, 2048 and masking leaves the field at the top of the
// lane (t = r5 << 11, g6 << 10, b5 << 11), so (t >> 8) | (t >> 13) is (r5 << 3) | (r5 >> 2),
// (g6 << 2) | (g6 >> 3) and (b5 << 3) | (b5 >> 2). Green ORs in three bits, which overlap
// its own lowest bit: an OR, not a sum (63 expands to 255, not 259).
inline __m128i ColourTable128(__m128i v, __m128i broadcast) noexcept {
  const __m128i c = _mm_shuffle_epi8(v, broadcast);
  __m128i e = _mm_mullo_epi16(c, _mm_setr_epi16(1, 32, 2048, 0, 1, 32, 2048, 0));
  e = _mm_and_si128(e, _mm_setr_epi16(-2048, -1024, -2048, 0, -2048, -1024, -2048, 0));
  e = _mm_or_si128(_mm_or_si128(_mm_srli_epi16(e, 8), _mm_srli_epi16(e, 13)),
                   _mm_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255));
  // swapped: colour 1 in the low half, colour 0 in the high half.
  const __m128i swapped = _mm_shuffle_epi32(e, 0x4E);
  // Four colours: (2 c0 + c1) / 3 and (c0 + 2 c1) / 3; x / 3 == (x * 21846) >> 16 for x <= 765.
  const __m128i four =
      _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(e, e), swapped), _mm_set1_epi16(21846));
  // Three colours: (c0 + c1) / 2, then (0, 255, 255, 0).
  const __m128i three =
      _mm_or_si128(_mm_and_si128(_mm_srli_epi16(_mm_add_epi16(e, swapped), 1), _mm_set_epi64x(0, -1)),
                   _mm_setr_epi16(0, 0, 0, 0, 0, 255, 255, 0));
  // c0 <= c1 (unsigned) exactly when the saturating difference c0 - c1 is zero.
  const __m128i cSwapped = _mm_shuffle_epi32(c, 0x4E);
  const __m128i threeMode =
      _mm_shuffle_epi32(_mm_cmpeq_epi16(_mm_subs_epu16(c, cSwapped), _mm_setzero_si128()), 0);
  const __m128i upper = _mm_or_si128(_mm_and_si128(threeMode, three), _mm_andnot_si128(threeMode, four));
  return _mm_packus_epi16(e, upper);
}

inline __m128i ColourIndexShuffle128(unsigned indexByte) noexcept {
  return Load128(kColourIndexShuffle.rows[indexByte]);
}

// DXT3 alpha of the block whose 8 alpha bytes are the low half of a: 16 bytes, pixel order.
// Byte k holds pixel 2k in its low nibble and pixel 2k + 1 in its high nibble; n * 17 is
// n | (n << 4).
inline __m128i ExplicitAlpha128(__m128i a) noexcept {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i n =
      _mm_unpacklo_epi8(_mm_and_si128(a, nibble), _mm_and_si128(_mm_srli_epi16(a, 4), nibble));
  return _mm_or_si128(n, _mm_slli_epi16(n, 4));
}

// DXT5 index bytes (0..7) of the block whose 8 alpha bytes are the low half of a, pixel order.
inline __m128i InterpolatedAlphaIndices128(__m128i a) noexcept {
  __m128i lo = _mm_shuffle_epi8(a, Load128(kAlphaIndexWindows.gather[0]));
  __m128i hi = _mm_shuffle_epi8(a, Load128(kAlphaIndexWindows.gather[1]));
  lo = _mm_srli_epi16(_mm_mullo_epi16(lo, Load128(kAlphaIndexWindows.scale[0])), 8);
  hi = _mm_srli_epi16(_mm_mullo_epi16(hi, Load128(kAlphaIndexWindows.scale[1])), 8);
  return _mm_and_si128(_mm_packus_epi16(lo, hi), _mm_set1_epi8(7));
}

// DXT5 alpha table of a block (8 bytes in the low half): A(i) from a0, a1 as pmaddubsw sums,
// divided by 7 or 5 through pmulhuw.
inline __m128i InterpolatedAlphaTable128(__m128i a, unsigned a0, unsigned a1) noexcept {
  const AlphaTableConsts& k = kAlphaTableConsts[a0 > a1 ? 0 : 1];
  const __m128i pairs = _mm_shuffle_epi8(a, _mm_set1_epi16(0x0100));
  __m128i t = _mm_maddubs_epi16(pairs, Load128(k.weights));
  t = _mm_or_si128(_mm_mulhi_epu16(t, Load128(k.reciprocal)), Load128(k.extra));
  return _mm_packus_epi16(t, t);
}

// Alpha bytes of row r as the alpha bytes of four RGBA pixels, zero elsewhere.
inline __m128i AlphaRow128(__m128i alpha, int r) noexcept {
  return _mm_shuffle_epi8(alpha, Load128(kAlphaPlaceShuffle.rows[r]));
}

// Broadcast controls for ColourTable128: the colour words at bytes 0..3 or 8..11.
inline __m128i ColourBroadcastAt0() noexcept {
  return _mm_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3);
}
inline __m128i ColourBroadcastAt8() noexcept {
  return _mm_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, 10, 11);
}

// Clears the alpha byte of each colour: DXT3 and DXT5 OR their own alpha in.
inline __m128i WithoutAlpha128(__m128i colours) noexcept {
  return _mm_and_si128(colours, _mm_set1_epi32(0x00FFFFFF));
}

// One whole block at src into the 4 x 4 pixels at dst.
template <DxtFormat F>
inline void DecodeBlock128(const uint8_t* src, uint8_t* dst, std::size_t pitch) noexcept {
  if constexpr (F == DxtFormat::Dxt1) {
    const __m128i table = ColourTable128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)),
                                         ColourBroadcastAt0());
    for (int r = 0; r < 4; ++r) {
      Store128(dst + static_cast<std::size_t>(r) * pitch,
               _mm_shuffle_epi8(table, ColourIndexShuffle128(src[4 + r])));
    }
  } else {
    const __m128i block = Load128(src);
    const __m128i table = WithoutAlpha128(ColourTable128(block, ColourBroadcastAt8()));
    __m128i alpha;
    if constexpr (F == DxtFormat::Dxt3) {
      alpha = ExplicitAlpha128(block);
    } else {
      alpha = _mm_shuffle_epi8(InterpolatedAlphaTable128(block, src[0], src[1]),
                               InterpolatedAlphaIndices128(block));
    }
    for (int r = 0; r < 4; ++r) {
      Store128(dst + static_cast<std::size_t>(r) * pitch,
               _mm_or_si128(_mm_shuffle_epi8(table, ColourIndexShuffle128(src[12 + r])),
                            AlphaRow128(alpha, r)));
    }
  }
}
