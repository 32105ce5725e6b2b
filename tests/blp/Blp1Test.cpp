// BLP1 files made in the test: palette levels at every alpha depth decode exactly; JPEG levels of
// 3 and 4 components, with and without a shared header, decode to the components as stored (the
// 4 as B, G, R, A), in memory and through the texture into GL; the JPEG decoder's own limits; the
// format's name in words. (Levels a JPEG cannot give: tests/render/ViewNoticeTest.cpp; lying
// headers: tests/hardening/Blp1MemoryLimitTest.cpp.)
#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "BlpReference.h"
#include "BlpTestSupport.h"
#include "blp/Blp1Decode.h"
#include "blp/FormatName.h"
#include "blp/JpegDecode.h"
#include "blp/ZanthBLP.h"
#include "support/Blp1Writer.h"
#include "support/EglContext.h"
#include "support/JpegReference.h"
#include "support/JpegTools.h"

namespace velmora::test {
namespace {

// JPEG at quality 100 with every component at full resolution: smooth test pictures come back
// within this of their samples (YCbCr's conversion both ways included).
constexpr int kJpegLoss = 4;

blp::TMemorySource SourceOf(const std::string& bytes) {
  return blp::TMemorySource(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

RgbaImage ImageOf(const blp::TBlpLevel& level) {
  return {static_cast<int>(level.width), static_cast<int>(level.height), level.bytes};
}

// Level `level` of a chain from w x h; zeros count as 1.
std::pair<std::uint32_t, std::uint32_t> LevelSize(std::uint32_t w, std::uint32_t h, int level) {
  return {std::max(w >> level, 1u), std::max(h >> level, 1u)};
}

// Loads `bytes` as the window does (the texture, then its BLP1 load) and compares every uploaded
// level with the decoded ones.
void ExpectUploadsMatch(const std::string& bytes, const blp::TBlpLevels& decoded) {
  blp::TMemorySource source = SourceOf(bytes);
  TBlpTexture tex("test.blp", source);
  EXPECT_TRUE(tex.Levels().levels.empty()) << "the texture's own load took a BLP1 file";
  tex.LoadBlp1From(source);
  EXPECT_FALSE(tex.HeaderProblem()) << tex.HeaderProblem()->message;
  ASSERT_EQ(UploadedLevelCount(tex.id), static_cast<int>(decoded.levels.size()));
  for (std::size_t i = 0; i < decoded.levels.size(); ++i) {
    EXPECT_TRUE(PixelsMatch(ImageOf(decoded.levels[i]), ReadLevel(tex.id, static_cast<int>(i)))) << "GL level " << i;
  }
}

// Palette files: the BLP2 writer's random palette and levels (one index byte a texel, then the
// alpha plane) in a BLP1 file, against the BLP2 reference's palette rules.
struct PaletteRow {
  const char* fault;
  std::uint32_t alphaBits;
};

void PrintTo(const PaletteRow& row, std::ostream* os) { *os << row.fault; }

class Blp1Palette : public ::testing::TestWithParam<PaletteRow> {};

TEST_P(Blp1Palette, every_level_decodes_exactly_and_uploads_as_decoded) {
  VELMORA_REQUIRE_EGL(ctx);
  const PaletteRow& row = GetParam();
  const BlpFile blp2 = RandomBlp(1, static_cast<std::uint8_t>(row.alphaBits), 8, 13, 7, 1, 40 + row.alphaBits);
  Blp1File file;
  file.compression = 1;
  file.alphaBits = row.alphaBits;
  file.width = 13;
  file.height = 7;
  file.palette = blp2.palette;
  file.levels = blp2.levels;
  const std::string bytes = WriteBlp1(file);
  blp::TMemorySource source = SourceOf(bytes);
  const blp::TBlp1File decoded = blp::DecodeBlp1(source, 16384, {});
  ASSERT_FALSE(decoded.problem) << decoded.problem->message;
  ASSERT_TRUE(decoded.levels.complete);
  ASSERT_EQ(decoded.levels.levels.size(), 4u) << "13 x 7 with mips: 13 x 7, 6 x 3, 3 x 1, 1 x 1";
  for (std::size_t i = 0; i < decoded.levels.levels.size(); ++i) {
    const auto [w, h] = LevelSize(13, 7, static_cast<int>(i));
    EXPECT_EQ(decoded.levels.levels[i].missingBytes, 0u);
    EXPECT_TRUE(PixelsMatch(ExpectedLevel(blp2, blp2.levels[i], w, h, DxtRules::Library), ImageOf(decoded.levels.levels[i])))
        << "level " << i;
  }
  ExpectUploadsMatch(bytes, decoded.levels);
}

INSTANTIATE_TEST_SUITE_P(AlphaDepths, Blp1Palette,
                         ::testing::Values(PaletteRow{"alpha_0_is_opaque", 0}, PaletteRow{"alpha_1_bits_low_first", 1},
                                           PaletteRow{"alpha_4_nibbles_low_first_times_17", 4},
                                           PaletteRow{"alpha_8_bytes", 8},
                                           PaletteRow{"odd_alpha_depth_3_is_opaque_without_a_plane", 3}),
                         [](const auto& info) { return std::string(info.param.fault); });

// JPEG files: distinct smooth gradients per component, so that a swapped or inverted channel
// lands far outside the JPEG's loss.
std::vector<std::uint8_t> Samples(std::uint32_t w, std::uint32_t h, int components) {
  std::vector<std::uint8_t> s;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t c[4] = {20 + 200 * x / w, 30 + 180 * y / h, 230 - 100 * (x + y) / (w + h), 100 + 100 * y / h};
      for (int k = 0; k < components; ++k) s.push_back(static_cast<std::uint8_t>(c[k]));
    }
  }
  return s;
}

// The pixels a BLP1 decoder must give for samples stored as B, G, R (and A).
RgbaImage AsBgra(const std::vector<std::uint8_t>& s, std::uint32_t w, std::uint32_t h, int components, bool alpha) {
  RgbaImage img{static_cast<int>(w), static_cast<int>(h), {}};
  for (std::size_t p = 0; p < std::size_t{w} * h; ++p) {
    const std::uint8_t* c = s.data() + p * static_cast<std::size_t>(components);
    img.pixels.insert(img.pixels.end(), {c[2], c[1], c[0], components == 4 && alpha ? c[3] : std::uint8_t{255}});
  }
  return img;
}

struct JpegRow {
  const char* fault;
  int components;
  bool ycc;
  std::uint32_t alphaBits;
  bool sharedHeader;  // the JPEG's first bytes (up to its frame header) shared, else none
  bool progressive;
};

void PrintTo(const JpegRow& row, std::ostream* os) { *os << row.fault; }

class Blp1Jpeg : public ::testing::TestWithParam<JpegRow> {};

TEST_P(Blp1Jpeg, every_level_decodes_to_the_stored_components_and_uploads_as_decoded) {
  VELMORA_REQUIRE_EGL(ctx);
  const JpegRow& row = GetParam();
  constexpr std::uint32_t kW = 21, kH = 13;
  JpegSettings settings;
  settings.components = row.components;
  settings.ycc = row.ycc;
  settings.progressive = row.progressive;
  settings.comment = std::string(400, 'c');  // writers put a comment into the shared header
  std::vector<std::string> jpegs;
  for (int i = 0; i < 5; ++i) {
    std::tie(settings.width, settings.height) = LevelSize(kW, kH, i);
    jpegs.push_back(EncodeJpeg(settings, Samples(settings.width, settings.height, row.components)));
  }
  Blp1File file;
  file.compression = 0;
  file.alphaBits = row.alphaBits;
  file.width = kW;
  file.height = kH;
  if (row.sharedHeader) file.jpegHeader = jpegs[0].substr(0, FrameHeaderOffset(jpegs[0]));
  for (const std::string& jpeg : jpegs) {
    ASSERT_EQ(jpeg.compare(0, file.jpegHeader.size(), file.jpegHeader), 0) << "levels differ in their first bytes";
    file.levels.push_back(jpeg.substr(file.jpegHeader.size()));
  }
  if (row.sharedHeader) EXPECT_GT(file.jpegHeader.size(), 300u);
  const std::string bytes = WriteBlp1(file);

  blp::TMemorySource source = SourceOf(bytes);
  const blp::TBlp1File decoded = blp::DecodeBlp1(source, 16384, {});
  ASSERT_FALSE(decoded.problem) << decoded.problem->message;
  EXPECT_EQ(decoded.levels.stopped, "");
  ASSERT_EQ(decoded.levels.levels.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    const auto [w, h] = LevelSize(kW, kH, static_cast<int>(i));
    const RgbaImage expected = AsBgra(Samples(w, h, row.components), w, h, row.components, row.alphaBits != 0);
    EXPECT_TRUE(PixelsMatch(expected, ImageOf(decoded.levels.levels[i]), kJpegLoss)) << "level " << i;
  }
  // Level 0 against another decoder's reading of the same JPEG.
  std::string why;
  const std::vector<std::uint8_t> reference = ReferenceJpegSamples(jpegs[0], row.components, why);
  ASSERT_FALSE(reference.empty()) << why;
  EXPECT_TRUE(PixelsMatch(AsBgra(reference, kW, kH, row.components, row.alphaBits != 0), ImageOf(decoded.levels.levels[0]), 1));
  ExpectUploadsMatch(bytes, decoded.levels);
}

INSTANTIATE_TEST_SUITE_P(
    Components, Blp1Jpeg,
    ::testing::Values(JpegRow{"four_components_are_b_g_r_a_whole_jpeg_in_each_level", 4, false, 8, false, false},
                      JpegRow{"four_components_after_a_shared_header_of_several_hundred_bytes", 4, false, 8, true, false},
                      JpegRow{"alpha_depth_0_is_opaque_whatever_the_fourth_component", 4, false, 0, true, false},
                      JpegRow{"progressive_four_components", 4, false, 8, true, true},
                      JpegRow{"three_components_in_ycbcr_are_b_g_r", 3, true, 8, true, false},
                      JpegRow{"three_components_stored_as_they_are", 3, false, 0, false, false}),
    [](const auto& info) { return std::string(info.param.fault); });

// The decoder's own limits, which no small honest file reaches.
TEST(JpegDecode, scans_and_memory_beyond_the_request_stop_the_decode) {
  JpegSettings settings{64, 64, 4, false, true};
  const std::string jpeg = EncodeJpeg(settings, Samples(64, 64, 4));
  const std::span stream(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size());
  std::vector<std::uint8_t> out(64 * 64 * 4);
  blp::TJpegLevelRequest request{64, 64, true, 1 << 20, 500};
  EXPECT_EQ(blp::DecodeJpegLevel(stream, request, out.data()), "");
  request.maxScans = 3;
  EXPECT_EQ(blp::DecodeJpegLevel(stream, request, out.data()), "the JPEG has more than 3 scans (limit 3)");
  request.maxScans = 500;
  request.memoryLimit = 64 * 64 * 4;  // the samples alone; a progressive JPEG keeps its coefficients too
  EXPECT_EQ(blp::DecodeJpegLevel(stream, request, out.data()).rfind("cannot allocate 49152 bytes", 0), 0u);
}

// The reference decoder the JPEG tests trust: made JPEGs come back as their samples, the 4
// components not inverted.
TEST(JpegReference, gives_back_the_components_of_made_jpegs) {
  for (const int components : {4, 3}) {
    SCOPED_TRACE(components);
    const std::vector<std::uint8_t> samples = Samples(21, 13, components);
    std::string why;
    const std::vector<std::uint8_t> got =
        ReferenceJpegSamples(EncodeJpeg({21, 13, components, components == 3}, samples), components, why);
    ASSERT_EQ(got.size(), samples.size()) << why;
    EXPECT_TRUE(PixelsMatch(AsBgra(samples, 21, 13, components, true), AsBgra(got, 21, 13, components, true), kJpegLoss));
  }
}

TEST(FormatName, names_the_format_encoding_and_alpha_in_words) {
  const auto blp2 = [](std::uint8_t compression, std::uint8_t alphaBits, std::uint8_t alphaType) {
    const std::string bytes = WriteBlp(RandomBlp(compression, alphaBits, alphaType, 4, 4, 0, 1));
    std::array<std::uint8_t, TBLP2Header::kSize> raw{};
    std::copy_n(bytes.begin(), raw.size(), raw.begin());
    return blp::FormatName(TBLP2Header::Parse(raw));
  };
  const auto blp1 = [](std::uint32_t compression, std::uint32_t alphaBits) {
    TBLP1Header h;
    h.sign = TBLP1Header::kMagic;
    h.compression = compression;
    h.alpha_bits = alphaBits;
    return blp::FormatName(h);
  };
  EXPECT_EQ(blp2(1, 1, 0), "BLP2, palette, 1-bit alpha");
  EXPECT_EQ(blp2(1, 0, 0), "BLP2, palette");
  EXPECT_EQ(blp2(2, 8, 7), "BLP2, DXT5");
  EXPECT_EQ(blp2(2, 4, 0), "BLP2, DXT3");
  EXPECT_EQ(blp2(2, 1, 0), "BLP2, DXT1");
  EXPECT_EQ(blp2(3, 8, 8), "BLP2, uncompressed");
  EXPECT_EQ(blp2(9, 8, 8), "BLP2, unknown encoding 9");
  EXPECT_EQ(blp1(0, 0), "BLP1, JPEG");
  EXPECT_EQ(blp1(0, 8), "BLP1, JPEG, 8-bit alpha");
  EXPECT_EQ(blp1(1, 8), "BLP1, palette, 8-bit alpha");
  EXPECT_EQ(blp1(1, 4), "BLP1, palette, 4-bit alpha");
  EXPECT_EQ(blp1(1, 0), "BLP1, palette");
  EXPECT_EQ(blp1(7, 0), "BLP1, unknown compression 7");
  TBLP2Header blp1Magic;
  blp1Magic.sign = blp::kBlp1Magic;
  EXPECT_EQ(blp::FormatName(blp1Magic), "BLP1");
  EXPECT_EQ(blp::FormatName(TBLP2Header{}), "not a BLP file");
}

}  // namespace
}  // namespace velmora::test
