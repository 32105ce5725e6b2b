// The check of an MPQ archive's header against the size of its file, made before StormLib sees the
// archive: a table that cannot fit in the file makes StormLib allocate and touch what the header
// claims (a 32-byte file claiming a hash table of 2^26 entries costs a gigabyte and seconds).
// Plain C++ on the file's bytes; the archive reader runs it before every open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::mpq {

// Reads up to `size` bytes at `offset` into `dst`; returns the count read (less at the end).
using TReadAt = std::function<std::size_t(std::uint64_t offset, void* dst, std::size_t size)>;

// How far a table may run past the end of the file. StormLib reads what is there and fills the
// rest with zeros, and protected maps rely on it: one sample claims a block table of 86,529
// entries (1.4 MB) in a file of 46 KB. 16 MiB bounds the cost of such a claim to about 0.1 s and
// a few dozen MB per table.
constexpr std::uint64_t kTableSlack = std::uint64_t{16} << 20;

// Tables of format 3 and 4 may be stored compressed: their size in memory is held to this many
// times the bytes stored, as for files.
constexpr std::uint64_t kTableRatio = 256;

// The first problem of the header StormLib would use, named by its field with the values found
// and the limit ("hash table: 67108864 entries (1073741824 bytes) at offset 32 need ..."); nullopt
// when every table can fit. A file with no MPQ header passes: StormLib refuses it on its own.
// Where StormLib repairs a header (a wrong header size in format 1, any format version in a
// Warcraft III map, a wrong archive size) the repaired header is the one checked.
std::optional<std::string> CheckMpqHeader(const TReadAt& read, std::uint64_t fileSize, std::string_view fileName);

}  // namespace velmora::mpq
