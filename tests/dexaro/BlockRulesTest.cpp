// One block per row, each built to catch one way of getting the block rules wrong; every row
// runs through the oracle, the exports and each instruction-set path.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "DecoderUnderTest.h"

namespace velmora::test {
namespace {

struct Probe {
  int x, y;
  std::array<int, 4> rgba;
};

struct RuleRow {
  const char* name;
  DxtKind kind;
  std::vector<uint8_t> block;
  std::vector<Probe> probes;
};

// Colour block bytes: c0, c1 little-endian, then the four row index bytes.
std::vector<uint8_t> Colour(uint16_t c0, uint16_t c1, uint8_t r0, uint8_t r1, uint8_t r2, uint8_t r3) {
  return {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), r0, r1, r2, r3};
}
std::vector<uint8_t> Colour(uint16_t c0, uint16_t c1, uint8_t allRows) {
  return Colour(c0, c1, allRows, allRows, allRows, allRows);
}
std::vector<uint8_t> Join(std::vector<uint8_t> alpha, const std::vector<uint8_t>& colour) {
  alpha.insert(alpha.end(), colour.begin(), colour.end());
  return alpha;
}

// DXT5 alpha block with indices 0..7 in pixels 0..7 (bytes 88 C6 FA) and 7..0 in 8..15.
std::vector<uint8_t> Dxt5Ramp(uint8_t a0, uint8_t a1) { return {a0, a1, 0x88, 0xC6, 0xFA, 0x77, 0x39, 0x05}; }

const std::vector<RuleRow>& Rows() {
  static const std::vector<RuleRow> rows = {
      {"dxt1_equal_endpoints_use_three_colour_mode_index3_is_cyan_transparent", DxtKind::Dxt1,
       Colour(0x1234, 0x1234, 0xFF), {{0, 0, {0, 255, 255, 0}}, {3, 3, {0, 255, 255, 0}}}},
      {"dxt1_white_black_index2_is_170_green_expands_to_255", DxtKind::Dxt1, Colour(0xFFFF, 0x0000, 0xAA),
       {{0, 0, {170, 170, 170, 255}}, {2, 1, {170, 170, 170, 255}}, {3, 3, {170, 170, 170, 255}}}},
      {"green_g6_32_expands_to_132_not_130", DxtKind::Dxt1, Colour(32 << 5, 0x0000, 0x00),
       {{0, 0, {0, 132, 0, 255}}, {3, 3, {0, 132, 0, 255}}}},
      {"green_g6_1_expands_to_4", DxtKind::Dxt1, Colour(1 << 5, 0x0000, 0x00), {{1, 2, {0, 4, 0, 255}}}},
      {"green_g6_8_expands_to_33_with_three_top_bits", DxtKind::Dxt1, Colour(8 << 5, 0x0000, 0x00),
       {{1, 2, {0, 33, 0, 255}}}},
      {"red_is_the_top_five_bits", DxtKind::Dxt1, Colour(0xF800, 0x0000, 0x00), {{0, 0, {255, 0, 0, 255}}}},
      {"channels_are_red_top_green_middle_blue_low", DxtKind::Dxt1, Colour(0xA5B3, 0x0000, 0x00),
       {{0, 0, {165, 181, 156, 255}}}},
      {"dxt1_three_colour_index2_is_truncated_half", DxtKind::Dxt1, Colour(0x0000, 0xFFFF, 0xAA),
       {{0, 0, {127, 127, 127, 255}}, {3, 2, {127, 127, 127, 255}}}},
      {"dxt1_four_colour_index3_is_truncated_third", DxtKind::Dxt1, Colour(0xFFFF, 0x0000, 0xFF),
       {{1, 1, {85, 85, 85, 255}}}},
      {"dxt1_four_colour_thirds_truncate_per_channel", DxtKind::Dxt1, Colour(0xA5B3, 0x1C62, 0xE4),
       // c0 = (165, 181, 156), c1 = (24, 140, 16): (2 c0 + c1) / 3, (c0 + 2 c1) / 3
       {{0, 0, {165, 181, 156, 255}}, {1, 0, {24, 140, 16, 255}}, {2, 0, {118, 167, 109, 255}},
        {3, 0, {71, 153, 62, 255}}}},
      {"dxt1_comparison_is_unsigned_on_raw_words", DxtKind::Dxt1, Colour(0x8000, 0x7FFF, 0xFF),
       // 0x8000 > 0x7FFF: four colours, so index 3 is an opaque blend, not cyan.
       {{0, 0, {126, 170, 170, 255}}}},
      {"pixel_x_uses_bits_2x_and_2x_plus_1", DxtKind::Dxt1, Colour(0xF800, 0x001F, 0xE4),
       {{0, 0, {255, 0, 0, 255}}, {1, 0, {0, 0, 255, 255}}, {2, 0, {170, 0, 85, 255}}, {3, 0, {85, 0, 170, 255}}}},
      {"index_bytes_are_rows_top_to_bottom", DxtKind::Dxt1, Colour(0xF800, 0x001F, 0x00, 0x55, 0xAA, 0xFF),
       {{2, 0, {255, 0, 0, 255}}, {2, 1, {0, 0, 255, 255}}, {2, 2, {170, 0, 85, 255}}, {2, 3, {85, 0, 170, 255}}}},
      {"dxt3_alpha_words_ffff_give_255", DxtKind::Dxt3,
       Join({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 255}}, {3, 3, {255, 255, 255, 255}}}},
      {"dxt3_nibble_times_17_and_nibble_order_in_word", DxtKind::Dxt3,
       Join({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}, Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 0}}, {1, 0, {255, 255, 255, 17}}, {2, 0, {255, 255, 255, 34}},
        {3, 0, {255, 255, 255, 51}}, {0, 1, {255, 255, 255, 68}}, {3, 3, {255, 255, 255, 255}},
        {2, 3, {255, 255, 255, 238}}}},
      {"dxt3_three_colour_mode_colour3_keeps_explicit_alpha", DxtKind::Dxt3,
       Join({0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}, Colour(0x0000, 0xFFFF, 0xFF)),
       {{0, 0, {0, 255, 255, 119}}, {3, 3, {0, 255, 255, 119}}}},
      {"dxt3_colour_block_uses_three_colour_mode_for_equal_endpoints", DxtKind::Dxt3,
       Join({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Colour(0xFFFF, 0xFFFF, 0xAA)),
       {{1, 1, {255, 255, 255, 255}}}},
      {"dxt3_colour_block_three_colour_half_blend", DxtKind::Dxt3,
       Join({0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}, Colour(0x0000, 0xFFFF, 0xAA)),
       {{1, 1, {127, 127, 127, 17}}}},
      {"dxt5_a0_255_a1_0_index1_gives_0", DxtKind::Dxt5,
       Join({255, 0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24}, Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 0}}, {3, 1, {255, 255, 255, 0}}, {0, 2, {255, 255, 255, 0}},
        {3, 3, {255, 255, 255, 0}}}},
      {"dxt5_a0_0_a1_255_index7_gives_255", DxtKind::Dxt5,
       Join({0, 255, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 255}}, {3, 3, {255, 255, 255, 255}}}},
      {"dxt5_seven_step_table_truncates_and_indices_run_in_pixel_order", DxtKind::Dxt5,
       Join(Dxt5Ramp(255, 0), Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 255}}, {1, 0, {255, 255, 255, 0}}, {2, 0, {255, 255, 255, 218}},
        {3, 0, {255, 255, 255, 182}}, {0, 1, {255, 255, 255, 145}}, {1, 1, {255, 255, 255, 109}},
        {2, 1, {255, 255, 255, 72}}, {3, 1, {255, 255, 255, 36}}}},
      {"dxt5_second_index_group_is_bytes_5_to_7", DxtKind::Dxt5, Join(Dxt5Ramp(255, 0), Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 2, {255, 255, 255, 36}}, {1, 2, {255, 255, 255, 72}}, {2, 2, {255, 255, 255, 109}},
        {3, 2, {255, 255, 255, 145}}, {0, 3, {255, 255, 255, 182}}, {1, 3, {255, 255, 255, 218}},
        {2, 3, {255, 255, 255, 0}}, {3, 3, {255, 255, 255, 255}}}},
      {"dxt5_five_step_table_with_0_and_255", DxtKind::Dxt5, Join(Dxt5Ramp(0, 255), Colour(0xFFFF, 0x0000, 0x00)),
       {{0, 0, {255, 255, 255, 0}}, {1, 0, {255, 255, 255, 255}}, {2, 0, {255, 255, 255, 51}},
        {3, 0, {255, 255, 255, 102}}, {0, 1, {255, 255, 255, 153}}, {1, 1, {255, 255, 255, 204}},
        {2, 1, {255, 255, 255, 0}}, {3, 1, {255, 255, 255, 255}}}},
      {"dxt5_equal_alpha_endpoints_use_five_step_table", DxtKind::Dxt5,
       Join(Dxt5Ramp(100, 100), Colour(0xFFFF, 0x0000, 0x00)),
       {{2, 0, {255, 255, 255, 100}}, {2, 1, {255, 255, 255, 0}}, {3, 1, {255, 255, 255, 255}}}},
      {"dxt5_five_step_table_truncates", DxtKind::Dxt5, Join(Dxt5Ramp(10, 201), Colour(0xFFFF, 0x0000, 0x00)),
       // (40 + 201) / 5 = 48, (30 + 402) / 5 = 86, (20 + 603) / 5 = 124, (10 + 804) / 5 = 162
       {{2, 0, {255, 255, 255, 48}}, {3, 0, {255, 255, 255, 86}}, {0, 1, {255, 255, 255, 124}},
        {1, 1, {255, 255, 255, 162}}}},
      {"dxt5_three_colour_mode_colour3_keeps_interpolated_alpha", DxtKind::Dxt5,
       Join({200, 200, 0, 0, 0, 0, 0, 0}, Colour(0x1234, 0x1234, 0xFF)),
       {{0, 0, {0, 255, 255, 200}}, {3, 3, {0, 255, 255, 200}}}},
      {"dxt5_colour_block_three_colour_half_blend", DxtKind::Dxt5,
       Join({9, 3, 0, 0, 0, 0, 0, 0}, Colour(0x0000, 0xFFFF, 0xAA)), {{1, 1, {127, 127, 127, 9}}}},
  };
  return rows;
}

class BlockRules : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(BlockRules, DecodesTheBlockByTheRules) {
  const RuleRow& row = Rows()[std::get<0>(GetParam())];
  const DecoderUnderTest decoder = AllDecoders()[std::get<1>(GetParam())];
  if (!decoder.available) GTEST_SKIP() << "this CPU cannot run the " << decoder.name << " path";
  ASSERT_EQ(row.block.size(), DxtBlockBytes(row.kind)) << "malformed row";
  std::vector<uint8_t> image(4 * 4 * 4, 0x5A);
  decoder.decode(row.kind, row.block.data(), 4, 4, image.data());
  for (const Probe& p : row.probes) {
    const uint8_t* px = &image[static_cast<std::size_t>(p.y * 16 + p.x * 4)];
    EXPECT_EQ((std::array<int, 4>{px[0], px[1], px[2], px[3]}), p.rgba)
        << decoder.name << ", " << row.name << ": pixel (" << p.x << ", " << p.y << ")";
  }
}

std::string RuleName(const ::testing::TestParamInfo<BlockRules::ParamType>& info) {
  return std::string(Rows()[std::get<0>(info.param)].name) + "_" + AllDecoders()[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Dexaro, BlockRules,
                         ::testing::Combine(::testing::Range<std::size_t>(0, Rows().size()),
                                            ::testing::Range<std::size_t>(0, AllDecoders().size())),
                         RuleName);

}  // namespace
}  // namespace velmora::test
