// The demo's BLP encoder.
#include "BlpEncode.h"

#include <squish.h>

#include <array>
#include <cstdint>
#include <vector>

namespace velmora::demo {
namespace {

constexpr std::size_t kHeaderSize = 148;
constexpr std::size_t kPaletteSize = 1024;
constexpr int kMaxLevels = 16;

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The fixed palette: a 6 x 7 x 6 colour cube (red fastest) and four greys.
constexpr int kRedLevels = 6, kGreenLevels = 7, kBlueLevels = 6;

std::array<std::uint8_t, 4> PaletteEntry(int i) {  // B, G, R, A
  if (i >= kRedLevels * kGreenLevels * kBlueLevels) {
    const auto g = static_cast<std::uint8_t>(64 + (i - 252) * 42);
    return {g, g, g, 255};
  }
  const int r = i % kRedLevels, g = (i / kRedLevels) % kGreenLevels, b = i / (kRedLevels * kGreenLevels);
  return {static_cast<std::uint8_t>(b * 255 / (kBlueLevels - 1)), static_cast<std::uint8_t>(g * 255 / (kGreenLevels - 1)),
          static_cast<std::uint8_t>(r * 255 / (kRedLevels - 1)), 255};
}

// 4 x 4 ordered dither thresholds, in sixteenths.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Ordered dither onto `levels` steps: level = floor(v * (levels - 1) / 255 + (t + 0.5) / 16).
int Quantise(int v, int levels, int threshold) {
  const float f = static_cast<float>(v * (levels - 1)) / 255.0f + (static_cast<float>(threshold) + 0.5f) / 16.0f;
  const int q = static_cast<int>(f);
  return q >= levels ? levels - 1 : q;
}

std::string PaletteLevel(const TImage& img, int alphaBits) {
  const std::size_t n = static_cast<std::size_t>(img.w) * static_cast<std::size_t>(img.h);
  std::string out(n, '\0');
  for (int y = 0; y < img.h; ++y) {
    for (int x = 0; x < img.w; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * static_cast<std::size_t>(img.w) + static_cast<std::size_t>(x);
      const int t = kBayer[y & 3][x & 3];
      const int r = Quantise(img.rgba[p * 4], kRedLevels, t);
      const int g = Quantise(img.rgba[p * 4 + 1], kGreenLevels, t);
      const int b = Quantise(img.rgba[p * 4 + 2], kBlueLevels, t);
      out[p] = static_cast<char>(r + kRedLevels * (g + kGreenLevels * b));
    }
  }
  // The alpha plane follows the indices with no gap at row ends.
  if (alphaBits == 1) {
    std::string plane((n + 7) / 8, '\0');
    for (std::size_t p = 0; p < n; ++p)
      if (img.rgba[p * 4 + 3] >= 128) plane[p / 8] = static_cast<char>(plane[p / 8] | (1 << (p % 8)));
    out += plane;
  } else if (alphaBits == 4) {
    std::string plane((n + 1) / 2, '\0');
    for (std::size_t p = 0; p < n; ++p) {
      const int nibble = img.rgba[p * 4 + 3] >> 4;  // first pixel of a byte in the low nibble
      plane[p / 2] = static_cast<char>(plane[p / 2] | (nibble << (4 * (p % 2))));
    }
    out += plane;
  } else if (alphaBits == 8) {
    for (std::size_t p = 0; p < n; ++p) out.push_back(static_cast<char>(img.rgba[p * 4 + 3]));
  }
  return out;
}

std::string DxtLevel(const TImage& img, TBlpEncoding encoding, int alphaBits) {
  int flags = encoding == TBlpEncoding::Dxt1 ? squish::kDxt1 : encoding == TBlpEncoding::Dxt3 ? squish::kDxt3 : squish::kDxt5;
  // Cluster fit for the showcase sizes; range fit keeps the large ones quick.
  flags |= (img.w * img.h > 512 * 512) ? squish::kColourRangeFit : squish::kColourClusterFit;
  std::vector<std::uint8_t> rgba = img.rgba;
  if (encoding == TBlpEncoding::Dxt1 && alphaBits == 0)
    for (std::size_t p = 3; p < rgba.size(); p += 4) rgba[p] = 255;
  std::string out(static_cast<std::size_t>(squish::GetStorageRequirements(img.w, img.h, flags)), '\0');
  squish::CompressImage(rgba.data(), img.w, img.h, out.data(), flags);
  return out;
}

std::string UncompressedLevel(const TImage& img) {
  std::string out(img.rgba.size(), '\0');
  for (std::size_t p = 0; p + 3 < img.rgba.size(); p += 4) {
    out[p] = static_cast<char>(img.rgba[p + 2]);
    out[p + 1] = static_cast<char>(img.rgba[p + 1]);
    out[p + 2] = static_cast<char>(img.rgba[p]);
    out[p + 3] = static_cast<char>(img.rgba[p + 3]);
  }
  return out;
}

std::string Palette() {
  std::string pal(kPaletteSize, '\0');
  for (int i = 0; i < 256; ++i) {
    const auto e = PaletteEntry(i);
    for (int k = 0; k < 4; ++k) pal[static_cast<std::size_t>(i * 4 + k)] = static_cast<char>(e[static_cast<std::size_t>(k)]);
  }
  return pal;
}

// Appends the levels and fills the offset and size tables at `tables`.
void AppendLevels(std::string& file, std::size_t tables, const std::vector<std::string>& levels) {
  for (std::size_t i = 0; i < levels.size(); ++i) {
    Put32(file, tables + 4 * i, static_cast<std::uint32_t>(file.size()));
    Put32(file, tables + 64 + 4 * i, static_cast<std::uint32_t>(levels[i].size()));
    file += levels[i];
  }
}

}  // namespace

std::string EncodeBlp2(const TImage& img, TBlpEncoding encoding, int alphaBits, bool mips) {
  std::string file(kHeaderSize, '\0');
  file.replace(0, 4, "BLP2");
  Put32(file, 4, 1);
  std::uint8_t compression = 1, bits = 0, type = 0;
  switch (encoding) {
    case TBlpEncoding::Palette: compression = 1; bits = static_cast<std::uint8_t>(alphaBits); type = alphaBits == 8 ? 8 : 0; break;
    case TBlpEncoding::Dxt1: compression = 2; bits = alphaBits ? 1 : 0; type = 0; break;
    case TBlpEncoding::Dxt3: compression = 2; bits = 8; type = 1; break;
    case TBlpEncoding::Dxt5: compression = 2; bits = 8; type = 7; break;
    case TBlpEncoding::Uncompressed: compression = 3; bits = 8; type = 8; break;
  }
  file[8] = static_cast<char>(compression);
  file[9] = static_cast<char>(bits);
  file[10] = static_cast<char>(type);
  file[11] = static_cast<char>(mips ? 1 : 0);
  Put32(file, 12, static_cast<std::uint32_t>(img.w));
  Put32(file, 16, static_cast<std::uint32_t>(img.h));
  file += encoding == TBlpEncoding::Palette ? Palette() : std::string(kPaletteSize, '\0');

  std::vector<std::string> levels;
  TImage level = img;
  for (int i = 0; i < kMaxLevels; ++i) {
    switch (encoding) {
      case TBlpEncoding::Palette: levels.push_back(PaletteLevel(level, alphaBits)); break;
      case TBlpEncoding::Uncompressed: levels.push_back(UncompressedLevel(level)); break;
      default: levels.push_back(DxtLevel(level, encoding, alphaBits)); break;
    }
    if (!mips || (level.w == 1 && level.h == 1)) break;
    level = HalfSize(level);
  }
  AppendLevels(file, 20, levels);
  return file;
}

std::string EncodeBlp2Jpeg(int w, int h) {
  std::string file(kHeaderSize, '\0');
  file.replace(0, 4, "BLP2");
  Put32(file, 4, 0);
  file[8] = 1;
  file[9] = 8;
  Put32(file, 12, static_cast<std::uint32_t>(w));
  Put32(file, 16, static_cast<std::uint32_t>(h));
  file += std::string(4, '\0');  // shared JPEG header: length 0
  AppendLevels(file, 20, {std::string("\xFF\xD8\xFF\xD9", 4)});  // start and end of image
  return file;
}

std::string EncodeBlp1(const TImage& img) {
  constexpr std::size_t kBlp1Header = 156;
  std::string file(kBlp1Header, '\0');
  file.replace(0, 4, "BLP1");
  Put32(file, 4, 1);
  Put32(file, 8, 8);
  Put32(file, 12, static_cast<std::uint32_t>(img.w));
  Put32(file, 16, static_cast<std::uint32_t>(img.h));
  Put32(file, 20, 4);
  Put32(file, 24, 1);
  file += Palette();
  std::vector<std::string> levels;
  TImage level = img;
  for (int i = 0; i < kMaxLevels; ++i) {
    levels.push_back(PaletteLevel(level, 8));
    if (level.w == 1 && level.h == 1) break;
    level = HalfSize(level);
  }
  AppendLevels(file, 28, levels);
  return file;
}

}  // namespace velmora::demo
