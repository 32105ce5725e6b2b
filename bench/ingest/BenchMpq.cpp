// Format-1 MPQ with a single "(listfile)" member.
//
// Layout: 32-byte header | listfile bytes | hash table (16 entries) | block table (1 entry).
// Header: "MPQ\x1A", header size, archive size, format 0, sector shift 3, hash table offset,
// block table offset, hash entry count, block entry count (all little-endian).
// Hash entry: name hash A, name hash B, locale 0 / platform 0, block index; empty = all 0xFF.
// Block entry: offset, stored size, file size, flags (0x80000000 exists | 0x01000000 single unit).
// Both tables are encrypted with the keys hash("(hash table)", 3) and hash("(block table)", 3).
#include "bench/ingest/BenchMpq.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace velmora::bench {

namespace {

const std::array<std::uint32_t, 0x500>& CryptTable() {
  static const std::array<std::uint32_t, 0x500> table = [] {
    std::array<std::uint32_t, 0x500> t{};
    std::uint32_t seed = 0x00100001;
    for (std::uint32_t index1 = 0; index1 < 0x100; ++index1) {
      for (std::uint32_t i = 0, index2 = index1; i < 5; ++i, index2 += 0x100) {
        seed = (seed * 125 + 3) % 0x2AAAAB;
        const std::uint32_t high = (seed & 0xFFFF) << 0x10;
        seed = (seed * 125 + 3) % 0x2AAAAB;
        t[index2] = high | (seed & 0xFFFF);
      }
    }
    return t;
  }();
  return table;
}

// hashType 0: table index, 1 and 2: name checks, 3: encryption key. ASCII letters fold to upper.
std::uint32_t HashName(const std::string& name, std::uint32_t hashType) {
  const auto& table = CryptTable();
  std::uint32_t seed1 = 0x7FED7FEDu;
  std::uint32_t seed2 = 0xEEEEEEEEu;
  for (unsigned char c : name) {
    const std::uint32_t ch = (c >= 'a' && c <= 'z') ? c - 32u : c;
    seed1 = table[hashType * 0x100 + ch] ^ (seed1 + seed2);
    seed2 = ch + seed1 + seed2 + (seed2 << 5) + 3;
  }
  return seed1;
}

void Encrypt(std::vector<std::uint32_t>& data, std::uint32_t key) {
  const auto& table = CryptTable();
  std::uint32_t seed = 0xEEEEEEEEu;
  for (std::uint32_t& v : data) {
    seed += table[0x400 + (key & 0xFF)];
    const std::uint32_t plain = v;
    v = plain ^ (key + seed);
    key = ((~key << 0x15) + 0x11111111u) | (key >> 0x0B);
    seed = plain + seed + (seed << 5) + 3;
  }
}

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

void WriteListFileArchive(const std::filesystem::path& path, const std::string& listfile) {
  constexpr std::uint32_t kHeaderSize = 32;
  constexpr std::uint32_t kHashCount = 16;
  if (listfile.size() > 0xFFFFFF00u - kHeaderSize) throw std::runtime_error("listfile too large for format 1");
  const std::string name = "(listfile)";
  const auto size = static_cast<std::uint32_t>(listfile.size());

  std::vector<std::uint32_t> hashes(kHashCount * 4, 0xFFFFFFFFu);
  const std::uint32_t slot = HashName(name, 0) & (kHashCount - 1);
  hashes[slot * 4 + 0] = HashName(name, 1);
  hashes[slot * 4 + 1] = HashName(name, 2);
  hashes[slot * 4 + 2] = 0;
  hashes[slot * 4 + 3] = 0;
  std::vector<std::uint32_t> blocks{kHeaderSize, size, size, 0x80000000u | 0x01000000u};
  Encrypt(hashes, HashName("(hash table)", 3));
  Encrypt(blocks, HashName("(block table)", 3));

  const std::uint32_t hashOffset = kHeaderSize + size;
  const std::uint32_t blockOffset = hashOffset + kHashCount * 16;
  std::string head;
  head += "MPQ\x1A";
  Put32(head, kHeaderSize);
  Put32(head, blockOffset + 16);
  Put32(head, 0x00030000u);  // format version 0 (format 1), sector shift 3
  Put32(head, hashOffset);
  Put32(head, blockOffset);
  Put32(head, kHashCount);
  Put32(head, 1);
  std::string tables;
  for (std::uint32_t v : hashes) Put32(tables, v);
  for (std::uint32_t v : blocks) Put32(tables, v);

  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(head.data(), static_cast<std::streamsize>(head.size()));
  f.write(listfile.data(), static_cast<std::streamsize>(listfile.size()));
  f.write(tables.data(), static_cast<std::streamsize>(tables.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velmora::bench
