// SipHash-1-3 (Aumasson and Bernstein's SipHash with c = 1, d = 3) and the process key.
#include "base/SipHash.h"

#include <sys/random.h>

#include <bit>
#include <chrono>
#include <cstring>

namespace velmora {

namespace {

// The first `n` (up to 8) bytes at p as a little-endian word, the rest zero. One load where the
// host is little-endian, rather than a byte loop the compiler keeps as one.
std::uint64_t Le64(const char* p, std::size_t n = 8) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, n);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

struct TState {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
  void Absorb(std::uint64_t m, int rounds) {
    v3 ^= m;
    for (int r = 0; r < rounds; ++r) Round();
    v0 ^= m;
  }
};

std::uint64_t SipHash(const TSipKey& key, std::string_view data, int compression, int finalisation) {
  // "somepseudorandomlygeneratedbytes" as four little-endian words, xored with the key.
  TState s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
           key.k1 ^ 0x7465646279746573ull};
  const std::size_t n = data.size();
  const char* p = data.data();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) s.Absorb(Le64(p + i), compression);
  // The last word: the remaining bytes, and the length's low byte in the top byte.
  std::uint64_t last = static_cast<std::uint64_t>(n) << 56;
  if (i < n) last |= Le64(p + i, n - i);  // an empty view may have no address at all
  s.Absorb(last, compression);
  s.v2 ^= 0xFF;
  for (int r = 0; r < finalisation; ++r) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

TSipKey DrawKey() {
  TSipKey key;
  unsigned char bytes[16] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  std::memcpy(&key.k0, bytes, 8);
  std::memcpy(&key.k1, bytes + 8, 8);
  if (got < sizeof bytes) {
    // No kernel entropy (a very old kernel or a sandbox without the call): the clock and the
    // key's own address still differ between runs.
    key.k0 ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k1 ^= reinterpret_cast<std::uintptr_t>(&key) * 0x9E3779B97F4A7C15ull;
  }
  return key;
}

}  // namespace

std::uint64_t SipHash13(const TSipKey& key, std::string_view data) { return SipHash(key, data, 1, 3); }

std::uint64_t SipHash24(const TSipKey& key, std::string_view data) { return SipHash(key, data, 2, 4); }

const TSipKey& ProcessHashKey() {
  static const TSipKey key = DrawKey();
  return key;
}

}  // namespace velmora
