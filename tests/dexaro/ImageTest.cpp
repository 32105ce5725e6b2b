// Whole images: the block walk (whole blocks only, nothing outside them), random blocks at
// awkward sizes against the oracle with every untouched byte checked, and sweeps over all
// endpoint pairs.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "DecoderUnderTest.h"

namespace velmora::test {
namespace {

constexpr std::size_t kGuard = 64;  // bytes checked on each side of the destination

std::size_t ImageBytes(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
}

// Guard, image, guard, all filled with a random pattern that decoding must leave alone
// outside whole blocks.
std::vector<uint8_t> Prefilled(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint8_t> buf(kGuard + ImageBytes(width, height) + kGuard);
  std::mt19937 rng(seed);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  return buf;
}

// Source holding exactly the blocks the walk reads (so AddressSanitizer sees any read past
// them), one byte off 8-byte alignment when `misaligned`.
struct Source {
  std::vector<uint8_t> storage;
  std::size_t offset;
  const uint8_t* data() const { return storage.data() + offset; }
};

Source MakeSource(const std::vector<uint8_t>& blocks, bool misaligned) {
  Source s{std::vector<uint8_t>(blocks.size() + (misaligned ? 1 : 0)), misaligned ? 1u : 0u};
  std::copy(blocks.begin(), blocks.end(), s.storage.begin() + static_cast<std::ptrdiff_t>(s.offset));
  return s;
}

void ExpectSameAsOracle(const DecoderUnderTest& decoder, DxtKind kind, const std::vector<uint8_t>& blocks,
                        int32_t width, int32_t height, uint32_t seed, bool misaligned) {
  const Source src = MakeSource(blocks, misaligned);
  std::vector<uint8_t> expected = Prefilled(width, height, seed);
  std::vector<uint8_t> actual = expected;
  OracleDecodeImage(kind, blocks.data(), width, height, expected.data() + kGuard);
  decoder.decode(kind, src.data(), width, height, actual.data() + kGuard);
  const std::string diff = FirstDifference(expected, actual, kGuard, width);
  EXPECT_TRUE(diff.empty()) << decoder.name << " " << DxtKindName(kind) << " " << width << " x " << height
                            << (misaligned ? " (misaligned source)" : "") << ": " << diff;
}

class Decoders : public ::testing::TestWithParam<std::size_t> {
protected:
  void SetUp() override {
    decoder_ = AllDecoders()[GetParam()];
    if (!decoder_.available) GTEST_SKIP() << "this CPU cannot run the " << decoder_.name << " path";
  }
  DecoderUnderTest decoder_;
};

constexpr DxtKind kKinds[] = {DxtKind::Dxt1, DxtKind::Dxt3, DxtKind::Dxt5};

// --- The block walk, checked pixel by pixel against single blocks (this also checks the
// oracle's own walk, which the random comparisons below rely on). ---

// Decodes `blocks` as a width x height image and checks every pixel: those of whole block
// (bx, by) must be that block's pixels, all others and the guards the prefill.
void ExpectWalk(const DecoderUnderTest& decoder, DxtKind kind, int32_t width, int32_t height) {
  const std::size_t need = DxtSourceBytes(kind, width, height);
  const std::vector<uint8_t> blocks = RandomBlocks(kind, need / DxtBlockBytes(kind), 77);
  const Source src = MakeSource(blocks, false);
  const std::vector<uint8_t> before = Prefilled(width, height, 5);
  std::vector<uint8_t> image = before;
  decoder.decode(kind, blocks.empty() ? nullptr : src.data(), width, height, image.data() + kGuard);
  const int32_t bw = width / 4 > 0 ? width / 4 : 0;
  const int32_t bh = height / 4 > 0 ? height / 4 : 0;
  for (std::size_t i = 0; i < image.size(); ++i) {
    const bool inImage = i >= kGuard && i < image.size() - kGuard;
    if (inImage) {
      const std::size_t pixel = (i - kGuard) / 4;
      const int32_t x = static_cast<int32_t>(pixel % static_cast<std::size_t>(width));
      const int32_t y = static_cast<int32_t>(pixel / static_cast<std::size_t>(width));
      if (x < 4 * bw && y < 4 * bh) {
        const std::size_t block = static_cast<std::size_t>(y / 4) * static_cast<std::size_t>(bw) +
                                  static_cast<std::size_t>(x / 4);
        const auto px = OracleDecodePixel(kind, blocks.data() + block * DxtBlockBytes(kind), x % 4, y % 4);
        ASSERT_EQ(image[i], px[(i - kGuard) % 4])
            << decoder.name << " " << width << " x " << height << ": pixel (" << x << ", " << y
            << ") is not pixel (" << x % 4 << ", " << y % 4 << ") of block " << block;
        continue;
      }
      ASSERT_EQ(image[i], before[i]) << decoder.name << " " << width << " x " << height
                                     << ": wrote pixel (" << x << ", " << y << ") outside whole blocks";
      continue;
    }
    ASSERT_EQ(image[i], before[i]) << decoder.name << " " << width << " x " << height
                                   << ": wrote outside the destination, byte " << i;
  }
}

TEST_P(Decoders, width6_height4_decodes_one_block_and_leaves_columns_4_5) {
  for (DxtKind kind : kKinds) ExpectWalk(decoder_, kind, 6, 4);
}

TEST_P(Decoders, width2_height2_writes_nothing) {
  for (DxtKind kind : kKinds) ExpectWalk(decoder_, kind, 2, 2);
}

TEST_P(Decoders, width6_height8_reads_two_consecutive_blocks_one_per_block_row) {
  for (DxtKind kind : kKinds) ExpectWalk(decoder_, kind, 6, 8);
}

TEST_P(Decoders, width13_height9_leaves_last_column_and_row_of_each_partial_block) {
  for (DxtKind kind : kKinds) ExpectWalk(decoder_, kind, 13, 9);
}

TEST_P(Decoders, odd_block_count_per_row_decodes_the_last_block) {
  for (DxtKind kind : kKinds) ExpectWalk(decoder_, kind, 12, 8);
}

TEST_P(Decoders, zero_and_negative_sizes_write_nothing) {
  for (DxtKind kind : kKinds) {
    ExpectWalk(decoder_, kind, 0, 8);
    ExpectWalk(decoder_, kind, 8, 0);
    ExpectWalk(decoder_, kind, -4, 8);
    ExpectWalk(decoder_, kind, 8, -4);
    ExpectWalk(decoder_, kind, -8, -8);
    ExpectWalk(decoder_, kind, 3, 8);
    ExpectWalk(decoder_, kind, INT32_MIN, INT32_MIN);
  }
}

// --- Random blocks at awkward sizes, every destination byte compared with the oracle. ---

// The library's decoders only: the oracle compared with itself could not fail.
class LibraryDecoders : public ::testing::TestWithParam<std::size_t> {
protected:
  void SetUp() override {
    decoder_ = velmora::test::LibraryDecoders()[GetParam()];
    if (!decoder_.available) GTEST_SKIP() << "this CPU cannot run the " << decoder_.name << " path";
  }
  DecoderUnderTest decoder_;
};

TEST_P(LibraryDecoders, random_blocks_at_awkward_sizes_match_the_oracle) {
  const std::pair<int32_t, int32_t> sizes[] = {
      {6, 4},  {2, 2},   {6, 8},  {13, 9},  {0, 8},   {-4, 8},  {8, -4}, {4, 4},   {8, 4},
      {12, 4}, {4, 12},  {20, 20}, {28, 5}, {64, 64}, {100, 7}, {3, 100}, {1028, 12}, {35, 35}};
  uint32_t seed = 1;
  for (DxtKind kind : kKinds) {
    for (const auto& [w, h] : sizes) {
      for (bool misaligned : {false, true}) {
        const auto blocks = RandomBlocks(kind, DxtSourceBytes(kind, w, h) / DxtBlockBytes(kind), ++seed);
        ExpectSameAsOracle(decoder_, kind, blocks, w, h, seed, misaligned);
      }
    }
  }
}

// --- Sweeps over the endpoint arithmetic. ---

// All 65536 (a0, a1) pairs, each block's indices covering 0..7 twice.
TEST_P(LibraryDecoders, every_dxt5_alpha_endpoint_pair_matches_the_oracle) {
  std::vector<uint8_t> blocks;
  for (unsigned a0 = 0; a0 < 256; ++a0) {
    for (unsigned a1 = 0; a1 < 256; ++a1) {
      const uint8_t block[16] = {uint8_t(a0), uint8_t(a1), 0x88, 0xC6, 0xFA, 0x77, 0x39, 0x05,
                                 0xFF, 0xFF, 0x00, 0x00, 0xE4, 0x1B, 0xE4, 0x1B};
      blocks.insert(blocks.end(), block, block + 16);
    }
  }
  ExpectSameAsOracle(decoder_, DxtKind::Dxt5, blocks, 1024, 256, 9, false);
}

// Every green pair and every blue pair in both colour modes, every red pair, and every
// equal-endpoint value; index rows 0, 1, 2, 3 so all four colours show.
TEST_P(LibraryDecoders, colour_endpoint_sweep_matches_the_oracle) {
  std::vector<uint16_t> pairs;  // c0, c1
  for (unsigned mode = 0; mode < 2; ++mode) {
    for (unsigned g = 0; g < 64 * 64; ++g) {
      const unsigned r0 = mode == 0 ? 1 : 0;
      const unsigned r1 = mode == 0 ? 0 : 1;
      const unsigned b = (g * 7) % 1024;
      pairs.push_back(uint16_t((r0 << 11) | ((g / 64) << 5) | (b / 32)));
      pairs.push_back(uint16_t((r1 << 11) | ((g % 64) << 5) | (b % 32)));
    }
  }
  for (unsigned r = 0; r < 32 * 32; ++r) {
    pairs.push_back(uint16_t(((r / 32) << 11) | (r % 64 << 5) | (r % 31)));
    pairs.push_back(uint16_t(((r % 32) << 11) | (r % 63 << 5) | (r % 29)));
  }
  for (unsigned c = 0; c < 65536; ++c) {
    pairs.push_back(uint16_t(c));
    pairs.push_back(uint16_t(c));
  }
  while (pairs.size() / 2 % 256 != 0) {
    pairs.push_back(0xFFFF);
    pairs.push_back(0x0000);
  }
  const std::size_t count = pairs.size() / 2;
  const auto height = static_cast<int32_t>(count / 256 * 4);
  for (DxtKind kind : kKinds) {
    std::vector<uint8_t> blocks;
    for (std::size_t i = 0; i < count; ++i) {
      if (kind != DxtKind::Dxt1) {
        const uint8_t alpha[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
        blocks.insert(blocks.end(), alpha, alpha + 8);
      }
      const uint16_t c0 = pairs[2 * i], c1 = pairs[2 * i + 1];
      const uint8_t colour[8] = {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0x00, 0x55, 0xAA, 0xFF};
      blocks.insert(blocks.end(), colour, colour + 8);
    }
    ExpectSameAsOracle(decoder_, kind, blocks, 256 * 4, height, 11, false);
  }
}

std::string DecoderName(const ::testing::TestParamInfo<std::size_t>& info) {
  return AllDecoders()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Dexaro, Decoders, ::testing::Range<std::size_t>(0, AllDecoders().size()),
                         DecoderName);

std::string LibraryDecoderName(const ::testing::TestParamInfo<std::size_t>& info) {
  return velmora::test::LibraryDecoders()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Dexaro, LibraryDecoders,
                         ::testing::Range<std::size_t>(0, velmora::test::LibraryDecoders().size()),
                         LibraryDecoderName);

// --- The comparison helper decides pass or fail, so it is checked too. ---

TEST(DexaroFirstDifference, finds_a_single_changed_byte_anywhere_and_says_where) {
  const std::vector<uint8_t> a(kGuard + 8 * 4 * 4 + kGuard, 0x33);
  EXPECT_EQ(FirstDifference(a, a, kGuard, 8), "");
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::vector<uint8_t> b = a;
    b[i] = 0x34;
    EXPECT_FALSE(FirstDifference(a, b, kGuard, 8).empty()) << "missed byte " << i;
  }
  std::vector<uint8_t> b = a;
  b[kGuard + (2 * 8 + 5) * 4 + 2] = 9;
  EXPECT_EQ(FirstDifference(a, b, kGuard, 8),
            "byte " + std::to_string(kGuard + (2 * 8 + 5) * 4 + 2) + " (pixel x 5, y 2, channel B): expected 51, got 9");
  EXPECT_FALSE(FirstDifference(a, std::vector<uint8_t>(a.size() - 1, 0x33), kGuard, 8).empty());
}

}  // namespace
}  // namespace velmora::test

namespace velmora::test {
namespace {

// The random comparisons are only as good as their blocks: each mode must come up often.
TEST(DexaroRandomBlocks, cover_both_colour_modes_equal_endpoints_and_both_alpha_modes) {
  for (DxtKind kind : kKinds) {
    const std::size_t count = 4000;
    const auto blocks = RandomBlocks(kind, count, 5);
    ASSERT_EQ(blocks.size(), count * DxtBlockBytes(kind));
    std::size_t four = 0, three = 0, equal = 0, alphaSeven = 0, alphaFive = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const uint8_t* block = blocks.data() + i * DxtBlockBytes(kind);
      const uint8_t* colour = kind == DxtKind::Dxt1 ? block : block + 8;
      const unsigned c0 = colour[0] | colour[1] << 8, c1 = colour[2] | colour[3] << 8;
      (c0 > c1 ? four : three)++;
      equal += c0 == c1;
      (block[0] > block[1] ? alphaSeven : alphaFive)++;
    }
    EXPECT_GT(four, count / 5) << DxtKindName(kind);
    EXPECT_GT(three, count / 5) << DxtKindName(kind);
    EXPECT_GT(equal, count / 10) << DxtKindName(kind);
    if (kind == DxtKind::Dxt5) {
      EXPECT_GT(alphaSeven, count / 5);
      EXPECT_GT(alphaFive, count / 5);
    }
  }
}

}  // namespace
}  // namespace velmora::test
