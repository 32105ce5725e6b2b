// Level 0 of the DXT-compressed BLP2 sample files, decoded by every decoder and compared
// with the sample's expected PNG pixel for pixel.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "DecoderUnderTest.h"
#include "support/TestData.h"

namespace velmora::test {
namespace {

struct DxtLevel0 {
  DxtKind kind;
  int32_t width;
  int32_t height;
  std::vector<uint8_t> blocks;
};

uint32_t ReadLe32(const std::vector<uint8_t>& file, std::size_t at) {
  return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
         uint32_t(file[at + 3]) << 24;
}

// BLP2 header (148 bytes): "BLP2", type at 4, compression at 8 (2 = DXT), alpha_bits at 9,
// alpha_type at 10, width at 12, height at 16, 16 level offsets at 20, 16 level sizes at 84.
// DXT3 when alpha_bits is 4 or 8, DXT5 when alpha_bits is 8 and alpha_type 7, DXT1 otherwise.
// Empty for a file that is not a DXT BLP2; a failure for one whose level 0 lies outside it.
std::optional<DxtLevel0> ReadDxtLevel0(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (file.size() < 148 || std::string(file.begin(), file.begin() + 4) != "BLP2" || file[8] != 2) return {};
  const unsigned alphaBits = file[9];
  const unsigned alphaType = file[10];
  DxtLevel0 level;
  level.kind = alphaBits == 8 && alphaType == 7                 ? DxtKind::Dxt5
               : alphaBits == 8 || alphaBits == 4 ? DxtKind::Dxt3
                                                  : DxtKind::Dxt1;
  const uint32_t width = ReadLe32(file, 12);
  const uint32_t height = ReadLe32(file, 16);
  const uint64_t offset = ReadLe32(file, 20);
  const uint64_t size = ReadLe32(file, 84);
  EXPECT_TRUE(width > 0 && width <= 8192 && height > 0 && height <= 8192) << path << ": " << width << " x " << height;
  if (width == 0 || width > 8192 || height == 0 || height > 8192) return {};
  level.width = static_cast<int32_t>(width);
  level.height = static_cast<int32_t>(height);
  const std::size_t need = DxtSourceBytes(level.kind, level.width, level.height);
  EXPECT_TRUE(offset + size <= file.size() && size >= need)
      << path << ": level 0 at " << offset << ", " << size << " bytes, needs " << need << " in a file of " << file.size();
  if (offset + size > file.size() || size < need) return {};
  level.blocks.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                      file.begin() + static_cast<std::ptrdiff_t>(offset + need));
  return level;
}

std::vector<uint8_t> ExpectedPixels(const std::filesystem::path& png, int32_t width, int32_t height) {
  const QImage image = QImage(QString::fromStdString(png.string())).convertToFormat(QImage::Format_RGBA8888);
  EXPECT_FALSE(image.isNull()) << png << " does not load";
  EXPECT_EQ(image.width(), width) << png;
  EXPECT_EQ(image.height(), height) << png;
  std::vector<uint8_t> out;
  if (image.isNull() || image.width() != width || image.height() != height) return out;
  for (int y = 0; y < height; ++y) {
    const uchar* line = image.constScanLine(y);
    out.insert(out.end(), line, line + static_cast<std::size_t>(width) * 4);
  }
  return out;
}

TEST(DexaroRealData, dxt_blp_level0_matches_the_expected_png_for_every_decoder) {
  VELMORA_REQUIRE_REALDATA();
  const std::filesystem::path dir = RealDataDir() / "blp";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".blp") continue;
    const auto level = ReadDxtLevel0(entry.path());
    if (!level) continue;
    std::filesystem::path png = entry.path();
    png.replace_extension(".expected.png");
    ASSERT_TRUE(std::filesystem::exists(png)) << "no expected image for " << entry.path();
    const std::vector<uint8_t> expected = ExpectedPixels(png, level->width, level->height);
    ASSERT_FALSE(expected.empty());
    ++files;
    for (const DecoderUnderTest& decoder : AllDecoders()) {
      if (!decoder.available) continue;
      std::vector<uint8_t> actual(expected.size(), 0xCD);
      decoder.decode(level->kind, level->blocks.data(), level->width, level->height, actual.data());
      const std::string diff = FirstDifference(expected, actual, 0, level->width);
      EXPECT_TRUE(diff.empty()) << entry.path().filename() << " (" << DxtKindName(level->kind) << ", "
                                << level->width << " x " << level->height << ") by " << decoder.name << ": " << diff;
    }
  }
  // The sample set holds DXT1, DXT1 with 1-bit alpha and DXT5 files.
  EXPECT_GE(files, 5) << "fewer DXT samples than expected in " << dir;
}

}  // namespace
}  // namespace velmora::test
