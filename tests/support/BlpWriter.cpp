// In-memory BLP2 files for tests.
#include "support/BlpWriter.h"

#include <algorithm>
#include <random>
#include <stdexcept>

namespace velmora::test {

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t v) {
  if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetLe32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  return v;
}

std::string WriteBlp(const BlpFile& file) {
  if (file.levels.size() > 16) throw std::invalid_argument("a BLP2 file has at most 16 levels");
  std::string out(blpfield::kHeaderEnd, '\0');
  std::copy_n(file.magic.begin(), std::min<std::size_t>(4, file.magic.size()), out.begin());
  PutLe32(out, blpfield::kTexType, file.texType);
  out[blpfield::kCompression] = static_cast<char>(file.compression);
  out[blpfield::kAlphaBits] = static_cast<char>(file.alphaBits);
  out[blpfield::kAlphaType] = static_cast<char>(file.alphaType);
  out[blpfield::kHasMips] = static_cast<char>(file.hasMips);
  PutLe32(out, blpfield::kWidth, file.width);
  PutLe32(out, blpfield::kHeight, file.height);
  if (file.withPalette) out.append(reinterpret_cast<const char*>(file.palette.data()), file.palette.size());
  for (std::size_t i = 0; i < file.levels.size(); ++i) {
    PutLe32(out, blpfield::kOffsets + 4 * i, static_cast<std::uint32_t>(out.size()));
    PutLe32(out, blpfield::kSizes + 4 * i, static_cast<std::uint32_t>(file.levels[i].size()));
    out += file.levels[i];
  }
  return out;
}

int DxtVersion(std::uint8_t alphaBits, std::uint8_t alphaType) {
  if (alphaBits == 8 && alphaType == 7) return 5;
  if (alphaBits == 8 || alphaBits == 4) return 3;
  return 1;
}

std::size_t BlpLevelBytes(std::uint8_t compression, std::uint8_t alphaBits, std::uint8_t alphaType,
                          std::uint32_t w, std::uint32_t h) {
  const std::size_t n = std::size_t{w} * h;
  switch (compression) {
    case 1:
      switch (alphaBits) {
        case 1: return n + (n + 7) / 8;
        case 4: return n + (n + 1) / 2;
        case 8: return 2 * n;
        default: return n;
      }
    case 2:
      return ((std::size_t{w} + 3) / 4) * ((std::size_t{h} + 3) / 4) * (DxtVersion(alphaBits, alphaType) == 1 ? 8 : 16);
    case 3: return 4 * n;
    default: return 0;
  }
}

int BlpLevelCount(std::uint32_t w, std::uint32_t h, bool mips) {
  if (!mips) return 1;
  int count = 1;
  while (w > 1 || h > 1) {
    ++count;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  return std::min(count, 16);
}

BlpFile RandomBlp(std::uint8_t compression, std::uint8_t alphaBits, std::uint8_t alphaType, std::uint32_t w,
                  std::uint32_t h, std::uint8_t hasMips, std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto randomBytes = [&rng](std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  };
  BlpFile f;
  f.compression = compression;
  f.alphaBits = alphaBits;
  f.alphaType = alphaType;
  f.hasMips = hasMips;
  f.width = w;
  f.height = h;
  f.withPalette = compression == 1;
  const std::string palette = randomBytes(f.palette.size());
  std::copy(palette.begin(), palette.end(), f.palette.begin());
  std::uint32_t lw = w;
  std::uint32_t lh = h;
  const int levels = BlpLevelCount(w, h, hasMips != 0);
  for (int i = 0; i < levels; ++i) {
    lw = std::max<std::uint32_t>(lw, 1);
    lh = std::max<std::uint32_t>(lh, 1);
    f.levels.push_back(randomBytes(BlpLevelBytes(compression, alphaBits, alphaType, lw, lh)));
    lw >>= 1;
    lh >>= 1;
  }
  return f;
}

}  // namespace velmora::test
