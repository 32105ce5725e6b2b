// The loader's small routines and the test reference decoder, on known answers.
#include <gtest/gtest.h>

#include <cstring>

#include "BlpReference.h"
#include "blp/PaletteExpand.h"
#include "blp/ZanthBLP.h"

namespace velmora::test {
namespace {

TEST(BlpRoutines, mip_level_count_halves_each_side_down_to_one) {
  struct Row {
    std::uint32_t w, h;
    int levels;
  };
  const Row rows[] = {{256, 64, 9}, {1, 1, 1}, {0, 0, 1}, {512, 256, 10}, {1, 1024, 11}, {7, 3, 3},
                      {0xFFFFFFFFu, 1, 32}};
  for (const Row& r : rows) EXPECT_EQ(TBlpTexture::MipLevelCount(r.w, r.h), r.levels) << r.w << " x " << r.h;
}

TEST(BlpRoutines, swap_bytes_reverses_the_four_bytes) {
  EXPECT_EQ(TBlpTexture::SwapBytes(0x11223344u), 0x44332211u);
  EXPECT_EQ(TBlpTexture::SwapBytes(0xFF000000u), 0x000000FFu);
}

TEST(BlpRoutines, header_fields_decode_little_endian_at_their_offsets) {
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i);
  const TBLP2Header h = TBLP2Header::Parse(raw);
  EXPECT_EQ(h.sign, 0x03020100u);
  EXPECT_EQ(h.tex_type, 0x07060504u);
  EXPECT_EQ(h.compression, 8);
  EXPECT_EQ(h.alpha_bits, 9);
  EXPECT_EQ(h.alpha_type, 10);
  EXPECT_EQ(h.has_mips, 11);
  EXPECT_EQ(h.width, 0x0F0E0D0Cu);
  EXPECT_EQ(h.height, 0x13121110u);
  EXPECT_EQ(h.offsets[0], 0x17161514u);
  EXPECT_EQ(h.offsets[15], 0x53525150u);
  EXPECT_EQ(h.sizes[0], 0x57565554u);
  EXPECT_EQ(h.sizes[15], 0x93929190u);
}

std::vector<std::uint8_t> Expand(std::uint8_t alphaBits, const std::vector<std::uint8_t>& level, std::size_t pixels,
                                 const std::array<std::uint8_t, 1024>& palette) {
  std::vector<std::uint32_t> out(pixels);
  blp::ExpandPalette(blp::BuildPaletteTable(palette.data()), level.data(), pixels, alphaBits, out.data());
  std::vector<std::uint8_t> bytes(pixels * 4);
  std::memcpy(bytes.data(), out.data(), bytes.size());
  return bytes;
}

TEST(BlpPalette, alpha0_entry_bytes_10_20_30_40_become_30_20_10_ff) {
  std::array<std::uint8_t, 1024> palette{};
  palette[4] = 0x10, palette[5] = 0x20, palette[6] = 0x30, palette[7] = 0x40;
  EXPECT_EQ(Expand(0, {1}, 1, palette), (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 0xFF}));
}

TEST(BlpPalette, alpha1_byte_0f_gives_255_for_pixels_0_to_3_and_0_for_4_to_7) {
  std::array<std::uint8_t, 1024> palette{};
  std::vector<std::uint8_t> level(16, 0);
  level.push_back(0x0F);
  level.push_back(0xF0);
  const auto out = Expand(1, level, 16, palette);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(out[4 * i + 3], (i < 4 || i >= 12) ? 255 : 0) << "pixel " << i;
}

TEST(BlpPalette, alpha4_byte_a5_gives_85_then_170) {
  std::array<std::uint8_t, 1024> palette{};
  const auto out = Expand(4, {0, 0, 0xA5}, 2, palette);
  EXPECT_EQ(out[3], 85);
  EXPECT_EQ(out[7], 170);
}

TEST(BlpPalette, alpha8_and_other_depths) {
  std::array<std::uint8_t, 1024> palette{};
  palette[3] = 0x77;  // the entry's own alpha is never used
  EXPECT_EQ(Expand(8, {0, 0, 9, 200}, 2, palette), (std::vector<std::uint8_t>{0, 0, 0, 9, 0, 0, 0, 200}));
  EXPECT_EQ(Expand(136, {0, 0}, 2, palette), (std::vector<std::uint8_t>{0, 0, 0, 255, 0, 0, 0, 255}));
  EXPECT_EQ(Expand(2, {0}, 1, palette), (std::vector<std::uint8_t>{0, 0, 0, 255}));
}

TEST(BlpPalette, level_bytes_count_the_packed_alpha_plane) {
  EXPECT_EQ(blp::PaletteLevelBytes(13 * 7, 1), 91u + 12u);
  EXPECT_EQ(blp::PaletteLevelBytes(9 * 5, 4), 45u + 23u);
  EXPECT_EQ(blp::PaletteLevelBytes(10, 8), 20u);
  EXPECT_EQ(blp::PaletteLevelBytes(10, 0), 10u);
  EXPECT_EQ(blp::PaletteLevelBytes(10, 136), 10u);
}

// The reference decoder that the GL tests trust, on the block rules' own examples.
RgbaImage OneDxtBlock(std::uint8_t alphaBits, std::uint8_t alphaType, const std::vector<std::uint8_t>& block,
                      DxtRules rules) {
  BlpFile f;
  f.compression = 2;
  f.alphaBits = alphaBits;
  f.alphaType = alphaType;
  return ExpectedLevel(f, std::string(block.begin(), block.end()), 4, 4, rules);
}

std::vector<std::uint8_t> Px(const RgbaImage& img, int x, int y) { return {img.At(x, y), img.At(x, y) + 4}; }

TEST(BlpReference, dxt1_white_black_index2_is_170_grey) {
  const auto img = OneDxtBlock(0, 0, {0xFF, 0xFF, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}, DxtRules::Library);
  EXPECT_EQ(Px(img, 3, 3), (std::vector<std::uint8_t>{170, 170, 170, 255}));
}

TEST(BlpReference, dxt1_green_32_expands_to_132_in_library_rules_and_130_in_standard) {
  // c0 = c1 = g6 32 (0x0400), index 0.
  EXPECT_EQ(Px(OneDxtBlock(0, 0, {0x00, 0x04, 0x00, 0x04, 0, 0, 0, 0}, DxtRules::Library), 0, 0)[1], 132);
  EXPECT_EQ(Px(OneDxtBlock(0, 0, {0x00, 0x04, 0x00, 0x04, 0, 0, 0, 0}, DxtRules::Standard), 0, 0)[1], 130);
}

TEST(BlpReference, dxt1_three_colour_mode_index3_is_cyan_transparent_or_gl_black) {
  const std::vector<std::uint8_t> block{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Px(OneDxtBlock(0, 0, block, DxtRules::Library), 1, 2), (std::vector<std::uint8_t>{0, 255, 255, 0}));
  EXPECT_EQ(Px(OneDxtBlock(0, 0, block, DxtRules::Standard), 1, 2), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST(BlpReference, dxt5_indices_0_to_7_in_row_0_and_1) {
  const auto img = OneDxtBlock(8, 7, {255, 0, 0x88, 0xC6, 0xFA, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
                               DxtRules::Library);
  const int expected[8] = {255, 0, 218, 182, 145, 109, 72, 36};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(img.At(k % 4, k / 4)[3], expected[k]) << "pixel " << k;
}

TEST(BlpReference, dxt3_nibble_7_is_119_and_keeps_cyan_in_library_rules) {
  const auto img = OneDxtBlock(8, 1, {0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
                               DxtRules::Library);
  EXPECT_EQ(Px(img, 2, 1), (std::vector<std::uint8_t>{0, 255, 255, 119}));
}

TEST(BlpReference, uncompressed_bgra_bytes_become_rgba) {
  BlpFile f;
  f.compression = 3;
  const auto img = ExpectedLevel(f, std::string("\x01\x02\x03\x04", 4), 1, 1, DxtRules::Library);
  EXPECT_EQ(Px(img, 0, 0), (std::vector<std::uint8_t>{3, 2, 1, 4}));
}

}  // namespace
}  // namespace velmora::test
