// Thumbnails of BLP files: each level of a test file is a solid colour of its own, so the picture
// tells which level was decoded; a counting source tells that nothing else was read. Then the
// area-averaging shrink against sums worked by hand, BLP1 files of both kinds, and files that give
// no picture and say why.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

#include "blp/Thumbnail.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/JpegTools.h"

namespace velmora::test {
namespace {

using TColour = std::array<std::uint8_t, 4>;  // R, G, B, A

// Source bytes in memory, counting what is asked of them.
class TCountingSource final : public blp::TBlpSource {
public:
  explicit TCountingSource(const std::string& bytes)
      : inner_(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  void ReadHeader(void* dst, std::uint32_t len) override {
    read += len;
    inner_.ReadHeader(dst, len);
  }
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override {
    read += len;
    return inner_.ReadAt(offset, len, dst);
  }
  std::uint64_t read = 0;

private:
  blp::TMemorySource inner_;
};

std::uint32_t Extent(std::uint32_t e, int level) { return std::max(e >> level, 1u); }

// DXT1 colours whose 5- and 6-bit fields are all 0 or all 1 expand to exactly 0 or 255: eight
// colours, one per level in turn (neighbouring levels always differ).
constexpr std::array<std::uint16_t, 8> kDxtColours = {0xF800, 0x07E0, 0x001F, 0xFFE0, 0xF81F, 0x07FF, 0xFFFF, 0x0000};
TColour DxtColour(int level) {
  const std::uint16_t c = kDxtColours[static_cast<std::size_t>(level) % kDxtColours.size()];
  return {static_cast<std::uint8_t>((c & 0xF800) ? 255 : 0), static_cast<std::uint8_t>((c & 0x07E0) ? 255 : 0),
          static_cast<std::uint8_t>((c & 0x001F) ? 255 : 0), 255};
}
TColour BgraColour(int level) {
  return {static_cast<std::uint8_t>(20 + 17 * level), static_cast<std::uint8_t>(200 - 13 * level),
          static_cast<std::uint8_t>(90 + 7 * level), static_cast<std::uint8_t>(255 - 11 * level)};
}

std::string SolidLevel(std::uint8_t compression, std::uint32_t w, std::uint32_t h, int level) {
  std::string bytes;
  if (compression == 2) {
    // c0 = c1 and every index 0: the block is c0.
    const std::uint16_t c = kDxtColours[static_cast<std::size_t>(level) % kDxtColours.size()];
    const std::string block = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8), static_cast<char>(c & 0xFF),
                               static_cast<char>(c >> 8), 0, 0, 0, 0};
    for (std::uint32_t i = 0; i < ((w + 3) / 4) * ((h + 3) / 4); ++i) bytes += block;
  } else {
    const TColour c = BgraColour(level);
    const std::string pixel = {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0]), static_cast<char>(c[3])};
    for (std::uint32_t i = 0; i < w * h; ++i) bytes += pixel;
  }
  return bytes;
}

// Every pixel `colour`, within `tolerance`; says where it is not.
::testing::AssertionResult AllPixels(const blp::TRgbaPixels& p, const TColour& colour, int tolerance = 0) {
  for (std::size_t i = 0; i + 3 < p.bytes.size(); i += 4) {
    for (std::size_t c = 0; c < 4; ++c) {
      if (std::abs(int{p.bytes[i + c]} - int{colour[c]}) > tolerance) {
        return ::testing::AssertionFailure()
               << "pixel (" << (i / 4) % p.width << ", " << (i / 4) / p.width << ") is " << int{p.bytes[i]} << ","
               << int{p.bytes[i + 1]} << "," << int{p.bytes[i + 2]} << "," << int{p.bytes[i + 3]} << " not "
               << int{colour[0]} << "," << int{colour[1]} << "," << int{colour[2]} << "," << int{colour[3]};
      }
    }
  }
  if (p.bytes.empty()) return ::testing::AssertionFailure() << "no pixels";
  return ::testing::AssertionSuccess();
}

struct LevelRow {
  const char* fault;
  std::uint8_t compression;  // 2 DXT1, 3 B,G,R,A
  std::uint32_t w, h;
  bool mips;
  int levelsWritten;  // the chain ends after these (0: all of it)
  std::uint32_t side;
  int level;          // the level the picture must come from
  blp::TExtent size;  // and its size
};

void PrintTo(const LevelRow& row, std::ostream* os) { *os << row.fault; }

class ThumbnailLevel : public ::testing::TestWithParam<LevelRow> {};

TEST_P(ThumbnailLevel, reads_only_the_smallest_level_that_covers_the_thumbnail) {
  const LevelRow& row = GetParam();
  BlpFile file;
  file.compression = row.compression;
  file.alphaBits = row.compression == 2 ? 0 : 8;
  file.hasMips = row.mips ? 1 : 0;
  file.width = row.w;
  file.height = row.h;
  file.withPalette = false;
  const int chain = row.mips ? BlpLevelCount(row.w, row.h, true) : 1;
  const int written = row.levelsWritten > 0 ? row.levelsWritten : chain;
  for (int i = 0; i < written; ++i) file.levels.push_back(SolidLevel(row.compression, Extent(row.w, i), Extent(row.h, i), i));
  const std::string bytes = WriteBlp(file);

  TCountingSource source(bytes);
  const blp::TThumbnailPicture picture = blp::MakeThumbnail(source, row.side, 16384);
  EXPECT_EQ(picture.problem, "");
  EXPECT_EQ(picture.level, row.level);
  EXPECT_EQ(picture.pixels.width, row.size.width);
  EXPECT_EQ(picture.pixels.height, row.size.height);
  EXPECT_TRUE(AllPixels(picture.pixels, row.compression == 2 ? DxtColour(row.level) : BgraColour(row.level)));
  // One header read (the longer BLP1 one covers both) and the level's bytes: nothing else.
  const std::uint64_t levelBytes = file.levels[static_cast<std::size_t>(row.level)].size();
  EXPECT_LE(source.read, 160 + levelBytes) << "more than the chosen level was read";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ThumbnailLevel,
    ::testing::Values(LevelRow{"a_2048_square_costs_only_its_128_level", 2, 2048, 2048, true, 0, 128, 4, {128, 128}},
                      LevelRow{"a_larger_thumbnail_takes_the_next_larger_level", 2, 2048, 2048, true, 0, 256, 3, {256, 256}},
                      LevelRow{"a_wide_texture_keeps_its_aspect", 3, 256, 64, true, 0, 128, 1, {128, 32}},
                      LevelRow{"a_small_icon_is_not_enlarged", 3, 32, 32, true, 0, 128, 0, {32, 32}},
                      LevelRow{"an_odd_size_takes_the_larger_level_and_shrinks_it", 3, 300, 200, true, 0, 128, 1, {128, 85}},
                      LevelRow{"a_chain_cut_short_uses_the_smallest_level_it_holds", 2, 1024, 1024, true, 3, 64, 2, {64, 64}},
                      LevelRow{"without_mips_level_0_is_shrunk", 3, 512, 512, false, 0, 256, 0, {256, 256}}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST(ThumbnailShrink, averages_the_covered_area_per_channel_and_keeps_colour_under_clear_alpha) {
  struct Row {
    const char* fault;
    blp::TRgbaPixels in;
    blp::TExtent to;
    std::vector<std::uint8_t> out;
  } rows[] = {
      {"the_same_size_is_an_exact_copy", {2, 1, {1, 2, 3, 4, 250, 251, 252, 253}}, {2, 1}, {1, 2, 3, 4, 250, 251, 252, 253}},
      // (255,0,0,0) and (0,0,255,255): colour under alpha 0 counts like any other.
      {"halving_averages_pairs_with_alpha_apart", {2, 1, {255, 0, 0, 0, 0, 0, 255, 255}}, {1, 1}, {128, 0, 128, 128}},
      // Three to two: the middle pixel is split in halves, (0 + 90/2) / 1.5 and (90/2 + 180) / 1.5.
      {"a_pixel_across_two_outputs_is_shared_by_its_overlap",
       {3, 1, {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255}},
       {2, 1},
       {30, 30, 30, 255, 150, 150, 150, 255}},
      {"rows_are_averaged_like_columns", {1, 2, {10, 20, 30, 40, 20, 40, 60, 80}}, {1, 1}, {15, 30, 45, 60}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    const blp::TRgbaPixels out = blp::ShrinkRgba(row.in, row.to);
    EXPECT_EQ(out.width, row.to.width);
    EXPECT_EQ(out.height, row.to.height);
    EXPECT_EQ(out.bytes, row.out);
  }
}

std::string PaletteBlp1(std::uint32_t side) {
  // Palette entry i is level i's colour (stored B, G, R, A); each level is all index i.
  Blp1File file;
  file.compression = 1;
  file.alphaBits = 8;
  file.width = side;
  file.height = side;
  for (int i = 0; i < BlpLevelCount(side, side, true); ++i) {
    const TColour c = BgraColour(i);
    file.palette[static_cast<std::size_t>(i) * 4] = c[2];
    file.palette[static_cast<std::size_t>(i) * 4 + 1] = c[1];
    file.palette[static_cast<std::size_t>(i) * 4 + 2] = c[0];
    const std::uint32_t n = Extent(side, i) * Extent(side, i);
    file.levels.push_back(std::string(n, static_cast<char>(i)) + std::string(n, static_cast<char>(c[3])));
  }
  return WriteBlp1(file);
}

std::string JpegBlp1(std::uint32_t side, int levels) {
  // Level i's samples are BgraColour(i) as B, G, R, A; every level's JPEG starts with the same bytes
  // up to its frame header, which the file shares.
  JpegSettings settings;
  settings.components = 4;
  settings.comment = std::string(300, 'c');
  Blp1File file;
  file.compression = 0;
  file.alphaBits = 8;
  file.width = side;
  file.height = side;
  file.pictureSubtype = levels > 1 ? 1 : 0;
  std::vector<std::string> jpegs;
  for (int i = 0; i < levels; ++i) {
    settings.width = settings.height = Extent(side, i);
    const TColour c = BgraColour(i);
    std::vector<std::uint8_t> samples;
    for (std::uint32_t p = 0; p < settings.width * settings.height; ++p) samples.insert(samples.end(), {c[2], c[1], c[0], c[3]});
    jpegs.push_back(EncodeJpeg(settings, samples));
  }
  file.jpegHeader = jpegs[0].substr(0, FrameHeaderOffset(jpegs[0]));
  for (const std::string& jpeg : jpegs) file.levels.push_back(jpeg.substr(file.jpegHeader.size()));
  return WriteBlp1(file);
}

TEST(ThumbnailBlp1, palette_and_jpeg_files_use_the_smallest_listed_level_that_covers_them) {
  struct Row {
    const char* fault;
    std::string bytes;
    std::uint32_t side;
    int level;
    blp::TExtent size;
    int tolerance;  // JPEG's loss
  } rows[] = {
      {"palette_with_mips_reads_its_128_level", PaletteBlp1(256), 128, 1, {128, 128}, 0},
      {"jpeg_with_mips_reads_its_64_level", JpegBlp1(256, 5), 64, 2, {64, 64}, 2},
      {"jpeg_of_one_level_is_shrunk_from_it", JpegBlp1(256, 1), 128, 0, {128, 128}, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    TCountingSource source(row.bytes);
    const blp::TThumbnailPicture picture = blp::MakeThumbnail(source, row.side, 16384);
    EXPECT_EQ(picture.problem, "");
    EXPECT_EQ(picture.level, row.level);
    EXPECT_EQ(picture.pixels.width, row.size.width);
    EXPECT_EQ(picture.pixels.height, row.size.height);
    EXPECT_TRUE(AllPixels(picture.pixels, BgraColour(row.level), row.tolerance));
    EXPECT_LT(source.read, row.bytes.size() / 2 + 2048) << "a level not shown was read";
  }
}

TEST(ThumbnailBroken, a_file_without_a_picture_says_why) {
  BlpFile good;
  good.compression = 2;
  good.alphaBits = 0;
  good.width = good.height = 64;
  good.withPalette = false;
  good.hasMips = 0;
  good.levels.push_back(SolidLevel(2, 64, 64, 0));
  const std::string goodBytes = WriteBlp(good);
  std::string notBlp = goodBytes;
  notBlp.replace(0, 4, "XLP2");
  std::string huge = goodBytes;
  PutLe32(huge, blpfield::kWidth, 16000);
  PutLe32(huge, blpfield::kHeight, 16000);
  std::string pastTheEnd = goodBytes;
  PutLe32(pastTheEnd, blpfield::kOffsets, 1u << 20);
  BlpFile palette = good;
  palette.compression = 1;
  palette.withPalette = true;
  const std::string cutPalette = WriteBlp(palette).substr(0, 600);
  struct Row {
    const char* fault;
    std::string bytes;
    std::string problem;
  } rows[] = {
      {"an_empty_file", "", "empty file (0 bytes)"},
      {"another_magic", notBlp, "not a BLP2 file"},
      {"a_size_the_file_cannot_justify", huge, "bytes for 16000 x 16000 pixels from a file of"},
      {"a_level_past_the_end_of_the_file", pastTheEnd, "level 0 cannot be read: nothing to show"},
      {"a_palette_cut_short", cutPalette, "the palette is cut short (file of 600 bytes): nothing to show"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    TCountingSource source(row.bytes);
    const blp::TThumbnailPicture picture = blp::MakeThumbnail(source, 128, 16384);
    EXPECT_TRUE(picture.pixels.bytes.empty());
    EXPECT_NE(picture.problem.find(row.problem), std::string::npos) << picture.problem;
  }
}

}  // namespace
}  // namespace velmora::test
