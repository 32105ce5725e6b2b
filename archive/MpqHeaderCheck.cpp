// The MPQ header check: find the header as StormLib does, then hold every table to the file.
//
// Header layout (little-endian; offsets inside the archive are relative to the header):
//   0x00 "MPQ\x1A"  0x04 header size  0x08 archive size  0x0C format version (16)
//   0x0E sector shift (16)  0x10 hash table pos  0x14 block table pos  0x18 hash entries
//   0x1C block entries                                                   -- format 1, 32 bytes
//   0x20 hi-block table pos (64)  0x28 hash pos high (16)  0x2A block pos high (16) -- 2, 44
//   0x2C archive size (64)  0x34 BET pos (64)  0x3C HET pos (64)                    -- 3, 68
//   0x44 hash, block, hi-block, HET, BET sizes stored (5 x 64)  0x6C raw chunk ...  -- 4, 208
// User data ("MPQ\x1B"): 0x04 user data size, 0x08 offset of the header from here, 0x0C size of
// the user data header. Hash and block entries are 16 bytes, hi-block entries 2.
#include "archive/MpqHeaderCheck.h"

#include <array>
#include <cstring>

namespace velmora::mpq {
namespace {

constexpr std::uint32_t kMpqSignature = 0x1A51504D;       // "MPQ\x1A"
constexpr std::uint32_t kUserDataSignature = 0x1B51504D;  // "MPQ\x1B"
constexpr std::uint32_t kHetSignature = 0x1A544548;       // "HET\x1A"
constexpr std::uint32_t kBetSignature = 0x1A544542;       // "BET\x1A"
constexpr std::uint64_t kSearchStep = 512;
constexpr std::size_t kHeaderBytes = 0xD0;
constexpr std::array<std::uint64_t, 5> kHeaderSize = {0, 0x20, 0x2C, 0x44, 0xD0};  // by format 1..4

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

// Warcraft III maps, by name or by their "HM3W" header: StormLib reads them as format 1 whatever
// the header says and ignores their user data, as the game does (map protectors rely on both).
bool IsWarcraft3Map(const TReadAt& read, std::uint64_t fileSize, std::string_view fileName) {
  if (EndsWithNoCase(fileName, ".w3m") || EndsWithNoCase(fileName, ".w3x")) return true;
  unsigned char head[8];
  return fileSize > 16 && read(0, head, sizeof head) == sizeof head && Le32(head) == 0x57334D48 && Le32(head + 4) == 0;
}

struct THeader {
  std::uint64_t at = 0;                // file offset
  std::array<unsigned char, kHeaderBytes> bytes{};
  std::size_t size = 0;                // bytes of it inside the file
};

// The header StormLib opens: the first "MPQ\x1A" at a multiple of 512 whose header size is at
// least 32, or the one that valid user data points at. nullopt when there is none or the search
// takes a path not followed here; StormLib then decides alone.
std::optional<THeader> FindHeader(const TReadAt& read, std::uint64_t fileSize, bool warcraft3) {
  THeader h;
  bool userData = false;
  for (std::uint64_t at = 0; at < fileSize;) {
    h.at = at;
    h.size = read(at, h.bytes.data(), kHeaderBytes);
    if (h.size < 4) return std::nullopt;
    const std::uint32_t signature = Le32(h.bytes.data());
    if (signature == kUserDataSignature && !userData && !warcraft3) {
      if (h.size < 16) return std::nullopt;
      const std::uint32_t dataSize = Le32(h.bytes.data() + 4);
      const std::uint32_t headerOffset = Le32(h.bytes.data() + 8);
      const std::uint32_t userHeaderSize = Le32(h.bytes.data() + 12);
      if (userHeaderSize <= dataSize && dataSize <= headerOffset && at + headerOffset < fileSize) {
        userData = true;
        at += headerOffset;
        // Only the header the user data names is followed.
        h.size = read(at, h.bytes.data(), kHeaderBytes);
        h.at = at;
        if (h.size >= 8 && Le32(h.bytes.data()) == kMpqSignature && Le32(h.bytes.data() + 4) >= kHeaderSize[1]) return h;
        return std::nullopt;
      }
    }
    if (signature == kMpqSignature && h.size >= 8 && Le32(h.bytes.data() + 4) >= kHeaderSize[1]) return h;
    at += kSearchStep;
  }
  return std::nullopt;
}

// The format StormLib reads the header as; 0 where it takes a path not followed here (formats 3
// and 4 with odd header sizes, unknown versions), and only the header's own size is checked.
int EffectiveFormat(const THeader& h, bool warcraft3) {
  if (warcraft3) return 1;
  const std::uint16_t version = Le16(h.bytes.data() + 0x0C);
  const std::uint32_t headerSize = Le32(h.bytes.data() + 4);
  switch (version) {
    case 0: return 1;
    case 1: return headerSize == kHeaderSize[2] ? 2 : 1;  // a wrong size is read as format 1
    case 2: return headerSize == kHeaderSize[3] ? 3 : 0;
    case 3: return headerSize == kHeaderSize[4] ? 4 : 0;
    default: return 0;
  }
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

class TChecker {
public:
  TChecker(const TReadAt& read, std::uint64_t fileSize, const THeader& h, int format)
      : read_(read), fileSize_(fileSize), h_(h), format_(format) {}

  std::optional<std::string> Run() {
    const std::uint64_t need = kHeaderSize[static_cast<std::size_t>(format_ == 0 ? 1 : format_)];
    if (fileSize_ - h_.at < need) {
      return "header: format " + Num(static_cast<std::uint64_t>(format_ == 0 ? 1 : format_)) + " needs " + Num(need) +
             " bytes at offset " + Num(h_.at) + ", the file has " + Num(fileSize_) + " bytes";
    }
    if (format_ == 0) return std::nullopt;
    const std::uint32_t hashEntries = U32(0x18);
    const std::uint32_t blockEntries = U32(0x1C);
    std::uint64_t hashPos = U32(0x10);
    std::uint64_t blockPos = U32(0x14);
    std::uint64_t hashStart = 0;
    std::uint64_t blockStart = 0;
    if (format_ == 1) {
      // Format 1 offsets are 32-bit: the sum wraps as StormLib computes it.
      hashStart = static_cast<std::uint32_t>(h_.at + hashPos);
      blockStart = static_cast<std::uint32_t>(h_.at + blockPos);
    } else {
      hashPos |= static_cast<std::uint64_t>(Le16(h_.bytes.data() + 0x28)) << 32;
      blockPos |= static_cast<std::uint64_t>(Le16(h_.bytes.data() + 0x2A)) << 32;
      hashStart = h_.at + hashPos;
      blockStart = h_.at + blockPos;
    }
    // StormLib refuses a table starting past the end itself, but only for a position that is not 0.
    if (auto p = Table("hash table", hashPos != 0, hashStart, hashEntries, 16)) return p;
    if (auto p = Table("block table", blockPos != 0, blockStart, blockEntries, 16)) return p;
    if (format_ >= 2) {
      const std::uint64_t hiPos = U64(0x20);
      if (hiPos != 0) {
        if (auto p = Table("hi-block table", true, h_.at + hiPos, blockEntries, 2)) return p;
      }
    }
    if (format_ >= 3) {
      if (auto p = Extended("BET table", U64(0x34), kBetSignature, format_ == 4 ? U64(0x64) : 0)) return p;
      if (auto p = Extended("HET table", U64(0x3C), kHetSignature, format_ == 4 ? U64(0x5C) : 0)) return p;
    }
    return std::nullopt;
  }

private:
  std::uint32_t U32(std::size_t at) const { return Le32(h_.bytes.data() + at); }
  std::uint64_t U64(std::size_t at) const { return Le64(h_.bytes.data() + at); }

  // The most a table starting at `start` may hold: what lies there, a slack past the end, and
  // for formats 3 and 4 (whose tables may be compressed) the ratio of a compressed file.
  std::uint64_t Allowed(std::uint64_t start) const {
    const std::uint64_t there = fileSize_ - start;
    return (format_ >= 3 ? there * kTableRatio : there) + kTableSlack;
  }

  std::optional<std::string> PastEnd(const char* field, std::uint64_t start) const {
    return std::string(field) + " offset: " + Num(start) + " is past the end of the file (" + Num(fileSize_) + " bytes)";
  }

  std::optional<std::string> Table(const char* field, bool checkStart, std::uint64_t start, std::uint32_t entries,
                                    std::uint64_t entryBytes) const {
    if (entries == 0) return std::nullopt;
    if (start > fileSize_) {
      // StormLib's own check covers a table at a position other than 0; its size is then moot.
      if (checkStart) return PastEnd(field, start);
      start = fileSize_;
    }
    const std::uint64_t bytes = std::uint64_t{entries} * entryBytes;
    if (bytes <= Allowed(start)) return std::nullopt;
    return std::string(field) + ": " + Num(entries) + " entries (" + Num(bytes) + " bytes) at offset " + Num(start) +
           " cannot fit in the file of " + Num(fileSize_) + " bytes (" + Num(fileSize_ - start) +
           " bytes from there, at most " + Num(Allowed(start)) + " allowed)";
  }

  // A HET or BET table: its size stored in a format-4 header, else the data size of its own
  // 12-byte header (signature, version, data size).
  std::optional<std::string> Extended(const char* field, std::uint64_t pos, std::uint32_t signature,
                                      std::uint64_t stored) const {
    if (pos == 0) return std::nullopt;
    const std::uint64_t start = h_.at + pos;
    if (start > fileSize_ || start < h_.at) return PastEnd(field, start);
    std::uint64_t bytes = stored;
    if (bytes == 0) {
      unsigned char head[12];
      if (read_(start, head, sizeof head) != sizeof head || Le32(head) != signature) return std::nullopt;
      bytes = std::uint64_t{Le32(head + 8)} + sizeof head;
    }
    if (bytes <= Allowed(start)) return std::nullopt;
    return std::string(field) + ": " + Num(bytes) + " bytes at offset " + Num(start) + " cannot fit in the file of " +
           Num(fileSize_) + " bytes (" + Num(fileSize_ - start) + " bytes from there, at most " + Num(Allowed(start)) +
           " allowed)";
  }

  const TReadAt& read_;
  std::uint64_t fileSize_;
  const THeader& h_;
  int format_;
};

}  // namespace

std::optional<std::string> CheckMpqHeader(const TReadAt& read, std::uint64_t fileSize, std::string_view fileName) {
  const bool warcraft3 = IsWarcraft3Map(read, fileSize, fileName);
  const std::optional<THeader> header = FindHeader(read, fileSize, warcraft3);
  if (!header) return std::nullopt;
  return TChecker(read, fileSize, *header, EffectiveFormat(*header, warcraft3)).Run();
}

}  // namespace velmora::mpq
