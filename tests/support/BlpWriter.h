// Builds BLP2 files of every encoding in memory for tests: header, optional palette, levels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

// Header field offsets, for tests that corrupt single fields.
namespace blpfield {
constexpr std::size_t kSign = 0, kTexType = 4, kCompression = 8, kAlphaBits = 9, kAlphaType = 10,
                      kHasMips = 11, kWidth = 12, kHeight = 16, kOffsets = 20, kSizes = 84, kHeaderEnd = 148;
}

struct BlpFile {
  std::string magic = "BLP2";
  std::uint32_t texType = 1;
  std::uint8_t compression = 1;  // 1 palette, 2 DXT, 3 uncompressed B,G,R,A
  std::uint8_t alphaBits = 8;
  std::uint8_t alphaType = 8;
  std::uint8_t hasMips = 1;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool withPalette = true;                // 1024 palette bytes at offset 148; false: first level there
  std::array<std::uint8_t, 1024> palette{};  // 256 entries stored B, G, R, A
  std::vector<std::string> levels;        // each level's bytes, written back to back
};

// The file's bytes: offsets[i]/sizes[i] describe levels[i] (at most 16), the rest stay zero.
std::string WriteBlp(const BlpFile& file);

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t v);
std::uint32_t GetLe32(const std::string& bytes, std::size_t at);

// DXT format of a header, as the loader chooses it: 1, 3 or 5.
int DxtVersion(std::uint8_t alphaBits, std::uint8_t alphaType);

// Bytes a level of w x h needs in the given encoding (DXT counts partial blocks).
std::size_t BlpLevelBytes(std::uint8_t compression, std::uint8_t alphaBits, std::uint8_t alphaType,
                          std::uint32_t w, std::uint32_t h);

// Levels the loader uploads for a header of w x h: the full chain with mips, else 1 (at most 16).
int BlpLevelCount(std::uint32_t w, std::uint32_t h, bool mips);

// A file of the given encoding and size with pseudo-random palette and level bytes (every level
// of the chain, each exactly as long as its encoding needs), reproducible from `seed`.
BlpFile RandomBlp(std::uint8_t compression, std::uint8_t alphaBits, std::uint8_t alphaType, std::uint32_t w,
                  std::uint32_t h, std::uint8_t hasMips, std::uint32_t seed);

}  // namespace velmora::test
