// Keyed hashing for tables whose keys come from files: SipHash-1-3 with a key drawn once per
// process, so that nobody can prepare keys that all land in one bucket.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmora {

struct TSipKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// SipHash with 1 compression round and 3 finalisation rounds over `data`.
std::uint64_t SipHash13(const TSipKey& key, std::string_view data);

// The standard SipHash-2-4, on the same rounds: its published test vectors check them.
std::uint64_t SipHash24(const TSipKey& key, std::string_view data);

// The process's key, drawn from getrandom on first use.
const TSipKey& ProcessHashKey();

// SipHash13 under the process's key.
inline std::uint64_t KeyedHash(std::string_view data) { return SipHash13(ProcessHashKey(), data); }

}  // namespace velmora
