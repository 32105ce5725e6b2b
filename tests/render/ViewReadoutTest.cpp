// The texel readout and the zoom arithmetic of the view, without GL: every texel of every encoding
// reads as the hardware rules decode the level (blp::LevelToRgba), partial DXT blocks included,
// and as the library decodes it for the software path; zoom steps, zoomed sizes, the texel under a
// pixel, the zoom's and the modes' words.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "blp/BlpDecode.h"
#include "blp/LevelPixels.h"
#include "render/ViewReadout.h"
#include "render/ViewState.h"
#include "support/BlpWriter.h"

namespace velmora {
namespace {

TEST(ViewReadout, every_texel_of_every_encoding_reads_as_the_level_decodes) {
  struct TRow {
    const char* name;
    test::BlpFile file;
    const char* encoding;
  } rows[] = {{"palette_a4", test::RandomBlp(1, 4, 8, 13, 9, 1, 1), "palette, 4-bit alpha"},
              {"palette_a0", test::RandomBlp(1, 0, 8, 5, 3, 0, 2), "palette, no alpha"},
              {"dxt1_partial_blocks", test::RandomBlp(2, 1, 0, 13, 9, 1, 3), "DXT1"},
              {"dxt3", test::RandomBlp(2, 4, 0, 8, 12, 1, 4), "DXT3"},
              {"dxt5", test::RandomBlp(2, 8, 7, 6, 5, 1, 5), "DXT5"},
              {"uncompressed_bgra", test::RandomBlp(3, 8, 8, 7, 3, 1, 6), "uncompressed 32-bit"}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string bytes = test::WriteBlp(row.file);
    blp::TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    const blp::TBlpLevels levels = blp::DecodeBlp(source, 16384, {.dxtAsBlocks = true});
    ASSERT_FALSE(levels.levels.empty());
    EXPECT_EQ(EncodingText(levels.hdr), row.encoding);
    for (std::size_t i = 0; i < levels.levels.size(); ++i) {
      const blp::TRgbaPixels rgba = blp::LevelToRgba(levels, i);
      for (std::uint32_t y = 0; y < rgba.height; ++y) {
        for (std::uint32_t x = 0; x < rgba.width; ++x) {
          const auto texel = TexelValue(levels, i, x, y);
          ASSERT_TRUE(texel) << "level " << i << " (" << x << ", " << y << ")";
          const std::uint8_t* p = rgba.bytes.data() + (std::size_t{y} * rgba.width + x) * 4;
          ASSERT_EQ(*texel, (TTexel{p[0], p[1], p[2], p[3]})) << "level " << i << " (" << x << ", " << y << ")";
        }
      }
      EXPECT_FALSE(TexelValue(levels, i, rgba.width, 0)) << "past the right edge of level " << i;
      EXPECT_FALSE(TexelValue(levels, i, 0, rgba.height)) << "past the bottom of level " << i;
    }
  }
  EXPECT_EQ(TexelText({0x12, 0xAB, 0x00, 0xFF}), "#12AB00FF");
  EXPECT_EQ(LevelText(2, 10, 128, 64), "mip 2/10 (128 x 64)");
}

// On a GL without texture compression the view shows Dexaro's decode, which rounds otherwise than
// the hardware rules: the readout must read that decode there.
TEST(ViewReadout, dxt_texels_read_as_the_library_decoded_them_for_the_software_path) {
  struct TRow {
    const char* name;
    test::BlpFile file;
  } rows[] = {{"dxt1_partial_blocks", test::RandomBlp(2, 1, 0, 13, 9, 1, 11)},
              {"dxt3", test::RandomBlp(2, 4, 0, 8, 12, 1, 12)},
              {"dxt5", test::RandomBlp(2, 8, 7, 16, 8, 1, 13)}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string bytes = test::WriteBlp(row.file);
    blp::TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    const blp::TBlpLevels levels = blp::DecodeBlp(source, 16384, {.dxtAsBlocks = true});
    ASSERT_FALSE(levels.levels.empty());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < levels.levels.size(); ++i) {
      const blp::TBlpLevel& level = levels.levels[i];
      const std::vector<std::uint8_t> library = blp::DecodeDxtLevel(levels.format, level, static_cast<int>(i));
      for (std::uint32_t y = 0; y < level.height; ++y) {
        for (std::uint32_t x = 0; x < level.width; ++x) {
          const auto texel = TexelValue(levels, i, x, y, TDxtDecoder::kLibrary);
          ASSERT_TRUE(texel);
          const std::uint8_t* p = library.data() + (std::size_t{y} * level.width + x) * 4;
          ASSERT_EQ(*texel, (TTexel{p[0], p[1], p[2], p[3]})) << "level " << i << " (" << x << ", " << y << ")";
          if (*texel != *TexelValue(levels, i, x, y, TDxtDecoder::kHardwareRules)) ++differ;
        }
      }
    }
    EXPECT_GT(differ, 0u) << "the two decodes agree everywhere: the rows prove nothing";
  }
}

TEST(ViewReadout, modes_and_zoom_in_words) {
  struct TRow {
    const char* name;
    TViewState state;
    int levels;
    const char* words;
  } rows[] = {{"defaults_say_nothing", {}, 10, ""},
              {"zoom_is_no_mode", {4, 0, TChannel::kRgba, TBackground::kWindow}, 10, ""},
              {"all_three", {1, 2, TChannel::kAlpha, TBackground::kChecker}, 10, "Alpha as grey \u00B7 checkerboard \u00B7 mip 2/10"},
              {"background_first_starts_with_a_capital", {1, 0, TChannel::kRgba, TBackground::kBlack}, 1, "Black background"},
              {"level_alone", {1, 3, TChannel::kRgba, TBackground::kWindow}, 6, "Mip 3/6"},
              {"rgb_and_white", {1, 0, TChannel::kRgb, TBackground::kWhite}, 1, "RGB, alpha ignored \u00B7 white background"},
              {"no_levels_no_level", {1, 2, TChannel::kRgba, TBackground::kWindow}, 0, ""}};
  for (const TRow& row : rows) EXPECT_EQ(ModeWords(row.state, row.levels), row.words) << row.name;
  EXPECT_EQ(ZoomWords(1), "zoom 100% (1 texel : 1 pixel)");
  EXPECT_EQ(ZoomWords(4), "zoom 400% (1 texel : 4 x 4 pixels)");
  EXPECT_EQ(ZoomWords(0.25), "zoom 25% (4 x 4 texels : 1 pixel)");
  EXPECT_EQ(ZoomWords(389.0 / 24), "zoom 1621%") << "a fitted zoom has no whole ratio";
  EXPECT_EQ(ChannelWords(TChannel::kGreen), "Green as grey");
}

TEST(ViewState, zoom_steps_sizes_and_the_texel_under_a_pixel) {
  EXPECT_EQ(ZoomInStep(1), 2);
  EXPECT_EQ(ZoomInStep(0.73), 1) << "a fitted zoom steps to the next power of two";
  EXPECT_EQ(ZoomInStep(64), 64);
  EXPECT_EQ(ZoomOutStep(1), 0.5);
  EXPECT_EQ(ZoomOutStep(3), 2);
  EXPECT_EQ(ZoomOutStep(1.0 / 16), 1.0 / 16);
  EXPECT_EQ(FitZoom(24, 16, 389, 552), 389.0 / 24);
  EXPECT_EQ(FitZoom(8192, 8, 100, 100), 1.0 / 16) << "no smaller than 1/16";
  EXPECT_EQ(LevelExtent(512, 3), 64u);
  EXPECT_EQ(LevelExtent(512, 12), 1u);
  EXPECT_EQ(ZoomedExtent(2048, 64), 131072);
  EXPECT_EQ(ZoomedExtent(8, 1.0 / 16), 1) << "a level never vanishes";
  EXPECT_EQ(ZoomedExtent(0, 4), 0);
  // At zoom 4 pixels 0..3 show texel 0 and 4..7 texel 1; at 1/2 pixel 1 shows texel 3.
  EXPECT_EQ(TexelUnder(3, 4), 0);
  EXPECT_EQ(TexelUnder(4, 4), 1);
  EXPECT_EQ(TexelUnder(1, 0.5), 3);
  EXPECT_EQ(TexelUnder(77, 1), 77);
  EXPECT_EQ(AnchoredOffset(100, 50, 1, 2), 250) << "texel 150 stays 50 pixels into the view";
  EXPECT_EQ(ZoomText(2), "200%");
  EXPECT_EQ(ZoomText(1.0 / 16), "6.25%");
  EXPECT_EQ(ZoomText(64), "6400%");
  EXPECT_TRUE(TViewState{}.IsDefault());
  EXPECT_FALSE((TViewState{1, 0, TChannel::kRgba, TBackground::kChecker}.IsDefault()));
  EXPECT_EQ(NextBackground(TBackground::kWhite), TBackground::kWindow);
}

}  // namespace
}  // namespace velmora
