// A small MPQ writer for tests: format version 1, members stored plainly. StormLib refuses to
// write a "(listfile)" member of our own choosing, and the odd listfiles the tests need (LF only,
// NUL bytes, byte-order marks, blanks) have to be stored byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

struct MpqMember {
  std::string name;
  std::string data;
  // The file size its block entry claims; 0: the size of `data`. A larger claim over the same
  // stored bytes makes a decompression bomb.
  std::uint32_t claimedSize = 0;
};

// Writes a format-1 MPQ archive: members stored as single units, uncompressed and not
// encrypted; hash and block tables encrypted as the format requires. When `listfile` has a value
// it is stored byte for byte as the "(listfile)" member. Throws std::runtime_error on failure.
void WriteMpq(const std::filesystem::path& path, const std::vector<MpqMember>& members,
              const std::optional<std::string>& listfile);

// The member names joined with CR LF, as a listfile.
std::string ListFileOf(const std::vector<MpqMember>& members);

// The MPQ name hash of `name` for hash type 0 (table index), 1 and 2 (name checks) or 3 (key).
unsigned HashMpqName(const std::string& name, unsigned hashType);

}  // namespace velmora::test
