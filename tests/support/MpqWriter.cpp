// Test-only MPQ writer, format version 1.
//
// Layout written: 32-byte header | member data | hash table | block table.
// Header: "MPQ\x1A", header size 32, archive size, format 0, sector shift 3, hash table offset,
// block table offset, hash entry count (a power of two), block entry count.
// Hash entry (16 bytes): name hash 1, name hash 2, locale 0, platform 0, block index.
// Block entry (16 bytes): offset, stored size, file size (claimed: a member may claim more than
// it stores), flags (exists | single unit).
#include "support/MpqWriter.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace velmora::test {

namespace {

constexpr std::uint32_t kFileExists = 0x80000000u;
constexpr std::uint32_t kFileSingleUnit = 0x01000000u;
constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

const std::array<std::uint32_t, 0x500>& CryptTable() {
  static const std::array<std::uint32_t, 0x500> table = [] {
    std::array<std::uint32_t, 0x500> t{};
    std::uint32_t seed = 0x00100001;
    for (std::uint32_t index1 = 0; index1 < 0x100; ++index1) {
      for (std::uint32_t i = 0, index2 = index1; i < 5; ++i, index2 += 0x100) {
        seed = (seed * 125 + 3) % 0x2AAAAB;
        const std::uint32_t temp1 = (seed & 0xFFFF) << 0x10;
        seed = (seed * 125 + 3) % 0x2AAAAB;
        const std::uint32_t temp2 = seed & 0xFFFF;
        t[index2] = temp1 | temp2;
      }
    }
    return t;
  }();
  return table;
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

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

}  // namespace

unsigned HashMpqName(const std::string& name, unsigned hashType) {
  const auto& table = CryptTable();
  std::uint32_t seed1 = 0x7FED7FEDu;
  std::uint32_t seed2 = 0xEEEEEEEEu;
  for (unsigned char c : name) {
    // Names hash case-insensitively; StormLib does not fold '/' into '\'.
    const std::uint32_t ch = (c >= 'a' && c <= 'z') ? c - 32u : c;
    seed1 = table[hashType * 0x100 + ch] ^ (seed1 + seed2);
    seed2 = ch + seed1 + seed2 + (seed2 << 5) + 3;
  }
  return seed1;
}

std::string ListFileOf(const std::vector<MpqMember>& members) {
  std::string out;
  for (const auto& m : members) out += m.name + "\r\n";
  return out;
}

void WriteMpq(const std::filesystem::path& path, const std::vector<MpqMember>& members,
              const std::optional<std::string>& listfile) {
  std::vector<MpqMember> all = members;
  if (listfile) all.push_back({"(listfile)", *listfile});

  std::uint32_t hashCount = 16;
  while (hashCount < all.size() * 2) hashCount *= 2;

  std::string body;
  std::vector<std::uint32_t> blocks;
  std::vector<std::uint32_t> hashes(static_cast<std::size_t>(hashCount) * 4, kEmpty);
  constexpr std::uint32_t kHeaderSize = 32;
  for (std::size_t b = 0; b < all.size(); ++b) {
    const auto& m = all[b];
    const auto offset = static_cast<std::uint32_t>(kHeaderSize + body.size());
    body += m.data;
    const auto size = static_cast<std::uint32_t>(m.data.size());
    blocks.insert(blocks.end(), {offset, size, m.claimedSize != 0 ? m.claimedSize : size, kFileExists | kFileSingleUnit});

    std::uint32_t slot = HashMpqName(m.name, 0) & (hashCount - 1);
    while (hashes[slot * 4 + 3] != kEmpty) slot = (slot + 1) & (hashCount - 1);
    hashes[slot * 4 + 0] = HashMpqName(m.name, 1);
    hashes[slot * 4 + 1] = HashMpqName(m.name, 2);
    hashes[slot * 4 + 2] = 0;  // locale 0, platform 0
    hashes[slot * 4 + 3] = static_cast<std::uint32_t>(b);
  }
  Encrypt(hashes, HashMpqName("(hash table)", 3));
  Encrypt(blocks, HashMpqName("(block table)", 3));

  const auto hashOffset = static_cast<std::uint32_t>(kHeaderSize + body.size());
  const auto blockOffset = static_cast<std::uint32_t>(hashOffset + hashes.size() * 4);
  const auto archiveSize = static_cast<std::uint32_t>(blockOffset + blocks.size() * 4);

  std::string out;
  out += "MPQ\x1A";
  Put32(out, kHeaderSize);
  Put32(out, archiveSize);
  Put16(out, 0);  // format version 1
  Put16(out, 3);  // sector size 512 << 3
  Put32(out, hashOffset);
  Put32(out, blockOffset);
  Put32(out, hashCount);
  Put32(out, static_cast<std::uint32_t>(all.size()));
  out += body;
  for (std::uint32_t v : hashes) Put32(out, v);
  for (std::uint32_t v : blocks) Put32(out, v);

  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velmora::test
