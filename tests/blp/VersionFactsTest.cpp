// What the window tells about a file and about two versions of it, without GL: the header and
// levels in words with short and missing levels marked, and the difference of two versions texel
// by texel, through the file that carries it to the view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "blp/Blp1Decode.h"
#include "blp/BlpDecode.h"
#include "blp/FileFacts.h"
#include "blp/LevelPixels.h"
#include "blp/VersionDiff.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"

namespace velmora::test {
namespace {

blp::TMemorySource SourceOf(const std::string& bytes) {
  return blp::TMemorySource({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// The facts of a file loaded as the texture loads it: the BLP2 view, then BLP1 when it is one.
blp::TFileFacts FactsOf(const std::string& bytes) {
  blp::TMemorySource source = SourceOf(bytes);
  const TBLP2Header hdr = blp::ReadBlpHeader(source);
  if (hdr.sign == blp::kBlp1Magic) {
    blp::TBlp1File file = blp::DecodeBlp1(source, 16384, {});
    return blp::DescribeBlpFile(hdr, file.hdr, file.levels, bytes.size());
  }
  blp::TBlpLevels levels;
  if (!blp::CheckBlpHeader(hdr, bytes.size(), 16384)) levels = blp::DecodeBlpLevels(source, hdr, {});
  return blp::DescribeBlpFile(hdr, std::nullopt, levels, bytes.size());
}

std::string Words(const blp::TFileFacts& facts) {
  std::string out;
  for (const auto& f : facts.header) out += f.label + ": " + f.value + "\n";
  return out;
}

// "0 16x8 @1172 64 whole", "2 4x2 @0 16 missing: no offset" ...
std::string Rows(const blp::TFileFacts& facts) {
  std::string out;
  for (const auto& l : facts.levels) {
    out += std::to_string(l.index) + " " + std::to_string(l.width) + "x" + std::to_string(l.height) + " @" +
           std::to_string(l.offset) + " " + std::to_string(l.bytes) + " " +
           (l.state == blp::TLevelState::kWhole ? "whole" : l.state == blp::TLevelState::kShort ? "short" : "missing") +
           (l.note.empty() ? "" : ": " + l.note) + "\n";
  }
  return out;
}

std::string Dxt5() { return WriteBlp(RandomBlp(2, 8, 7, 16, 8, 1, 11)); }

TEST(FileFacts, every_listed_level_with_size_offset_bytes_and_short_or_missing_marked) {
  const std::string whole = Dxt5();
  const std::uint32_t at1 = GetLe32(whole, blpfield::kOffsets + 4);
  const std::uint32_t at2 = GetLe32(whole, blpfield::kOffsets + 8);
  const std::uint32_t at3 = GetLe32(whole, blpfield::kOffsets + 12);
  const std::uint32_t at4 = GetLe32(whole, blpfield::kOffsets + 16);
  auto at = [](std::uint32_t v) { return std::to_string(v); };

  std::string cut = whole.substr(0, at1 + 5);
  std::string gap = whole;
  PutLe32(gap, blpfield::kOffsets + 8, 0);

  Blp1File palette;
  palette.alphaBits = 8;
  palette.width = 4;
  palette.height = 2;
  palette.pictureSubtype = 0;
  palette.levels = {std::string(8 + 8, '\x01')};
  Blp1File jpeg;
  jpeg.compression = 0;
  jpeg.alphaBits = 0;
  jpeg.width = jpeg.height = 8;
  jpeg.pictureType = 5;
  jpeg.pictureSubtype = 0;
  jpeg.jpegHeader = std::string(20, '\xAB');
  jpeg.levels = {"no jpeg here"};

  struct TRow {
    const char* fault;
    std::string bytes;
    std::string header;
    std::string levels;
  };
  const std::string dxtHeader =
      "Format: BLP2, DXT5\nAlpha: depth 8, type 7\nSize: 16 x 8\nMip levels: 5 (mip chain)\n";
  const TRow rows[] = {
      {"whole_chain_lists_every_level_unmarked", whole, dxtHeader,
       "0 16x8 @148 128 whole\n1 8x4 @" + at(at1) + " 32 whole\n2 4x2 @" + at(at2) + " 16 whole\n3 2x1 @" + at(at3) +
           " 16 whole\n4 1x1 @" + at(at4) + " 16 whole\n"},
      {"file_cut_inside_level_1_marks_it_short_and_the_rest_past_the_end", cut, dxtHeader,
       "0 16x8 @148 128 whole\n1 8x4 @" + at(at1) + " 32 short: short by 27 bytes\n2 4x2 @" + at(at2) +
           " 16 missing: past the end of the file (" + at(at1 + 5) + " bytes)\n3 2x1 @" + at(at3) +
           " 16 missing: past the end of the file (" + at(at1 + 5) + " bytes)\n4 1x1 @" + at(at4) +
           " 16 missing: past the end of the file (" + at(at1 + 5) + " bytes)\n"},
      {"no_offset_in_the_chain_marks_it_missing_and_the_levels_after_it_not_loaded", gap, dxtHeader,
       "0 16x8 @148 128 whole\n1 8x4 @" + at(at1) + " 32 whole\n2 4x2 @0 16 missing: missing: no offset\n3 2x1 @" +
           at(at3) + " 16 missing: not loaded: level 2 is missing\n4 1x1 @" + at(at4) +
           " 16 missing: not loaded: level 2 is missing\n"},
      {"blp1_palette_names_its_format_and_picture_type", WriteBlp1(palette),
       "Format: BLP1, palette, 8-bit alpha\nAlpha: depth 8\nSize: 4 x 2\nMip levels: 1 (no mip chain)\n"
       "Picture type: 4, subtype 0\n",
       "0 4x2 @1180 16 whole\n"},
      {"blp1_jpeg_that_cannot_be_decoded_says_its_level_is_not", WriteBlp1(jpeg),
       "Format: BLP1, JPEG\nAlpha: depth 0\nSize: 8 x 8\nMip levels: 1 (no mip chain)\nPicture type: 5, subtype 0\n"
       "JPEG header: 20 bytes\n",
       "0 8x8 @180 12 missing: not decoded\n"},
      {"not_a_blp_file_gives_its_format_alone", std::string(200, 'x'), "Format: not a BLP file\n", ""},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.fault);
    const blp::TFileFacts facts = FactsOf(row.bytes);
    EXPECT_EQ(Words(facts), row.header);
    EXPECT_EQ(Rows(facts), row.levels);
  }
}

// Both versions' levels as the export reads them.
std::vector<blp::TRgbaPixels> PixelsOf(const std::string& bytes) {
  blp::TMemorySource source = SourceOf(bytes);
  const blp::TBlpLevels levels = blp::DecodeBlp(source, 16384, {.dxtAsBlocks = true});
  std::vector<blp::TRgbaPixels> out;
  for (std::size_t i = 0; i < levels.levels.size(); ++i) out.push_back(blp::LevelToRgba(levels, i));
  return out;
}

TEST(VersionDiff, each_texel_is_grey_at_its_largest_channel_difference_and_the_file_shows_exactly_that) {
  // Two DXT1 versions that differ in one block (the block at 8, 4 of level 0: bytes of block 6),
  // and two uncompressed ones that differ in one texel's alpha alone.
  const BlpFile dxt = RandomBlp(2, 0, 0, 16, 8, 0, 21);
  BlpFile dxtChanged = dxt;
  for (std::size_t i = 6 * 8; i < 7 * 8; ++i) dxtChanged.levels[0][i] = static_cast<char>(dxtChanged.levels[0][i] ^ 0x5A);
  const BlpFile plain = RandomBlp(3, 8, 8, 4, 4, 1, 22);
  BlpFile alphaOnly = plain;
  alphaOnly.levels[0][4 * 5 + 3] = static_cast<char>(alphaOnly.levels[0][4 * 5 + 3] ^ 0x40);

  struct TRow {
    const char* fault;
    BlpFile shown;
    BlpFile earlier;
    std::string problem;
  };
  BlpFile smaller = RandomBlp(2, 0, 0, 8, 8, 0, 23);
  const TRow rows[] = {
      {"equal_versions_are_black_everywhere", dxt, dxt, ""},
      {"one_changed_block_is_the_only_grey", dxtChanged, dxt, ""},
      {"alpha_alone_counts_as_a_difference", alphaOnly, plain, ""},
      {"sizes_that_differ_are_said_and_give_no_picture", dxt, smaller, "the sizes differ: 16 x 8 against 8 x 8"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.fault);
    const blp::TDifference diff = blp::DifferenceOf(PixelsOf(WriteBlp(row.shown)), PixelsOf(WriteBlp(row.earlier)));
    EXPECT_EQ(diff.problem, row.problem);
    if (!row.problem.empty()) {
      EXPECT_TRUE(diff.levels.empty());
      continue;
    }
    ASSERT_EQ(diff.levels.size(), row.shown.levels.size());
    // The file the view is given holds the same picture, level by level.
    const std::string file = [&] {
      const std::vector<std::uint8_t> b = blp::EncodeUncompressedBlp(diff.levels);
      return std::string(b.begin(), b.end());
    }();
    const std::vector<blp::TRgbaPixels> shownByFile = PixelsOf(file);
    ASSERT_EQ(shownByFile.size(), diff.levels.size());
    std::uint32_t w = row.shown.width, h = row.shown.height;
    for (std::size_t level = 0; level < diff.levels.size(); ++level) {
      SCOPED_TRACE(level);
      // Expected from the format rules: each texel grey at max |a - b| over R, G, B and A.
      const RgbaImage a = ExpectedLevel(row.shown, row.shown.levels[level], w, h, DxtRules::Hardware);
      const RgbaImage b = ExpectedLevel(row.earlier, row.earlier.levels[level], w, h, DxtRules::Hardware);
      RgbaImage expected{static_cast<int>(w), static_cast<int>(h), {}};
      for (std::size_t p = 0; p < a.pixels.size(); p += 4) {
        int most = 0;
        for (std::size_t c = 0; c < 4; ++c) most = std::max(most, std::abs(a.pixels[p + c] - b.pixels[p + c]));
        const auto g = static_cast<std::uint8_t>(most);
        expected.pixels.insert(expected.pixels.end(), {g, g, g, 255});
      }
      const RgbaImage got{static_cast<int>(diff.levels[level].width), static_cast<int>(diff.levels[level].height),
                          diff.levels[level].bytes};
      EXPECT_TRUE(PixelsMatch(expected, got));
      const RgbaImage viaFile{static_cast<int>(shownByFile[level].width), static_cast<int>(shownByFile[level].height),
                              shownByFile[level].bytes};
      EXPECT_TRUE(PixelsMatch(expected, viaFile)) << "the file carries another picture";
      w = std::max(w / 2, 1u);
      h = std::max(h / 2, 1u);
    }
  }
  // The changed block is where the difference lies, and all of it (a cross-check of the row).
  const blp::TDifference block = blp::DifferenceOf(PixelsOf(WriteBlp(dxtChanged)), PixelsOf(WriteBlp(dxt)));
  ASSERT_EQ(block.levels.size(), 1u);
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const bool inside = x >= 8 && x < 12 && y >= 4;
      const std::uint8_t g = block.levels[0].bytes[(y * 16 + x) * 4];
      if (!inside) EXPECT_EQ(g, 0) << "grey outside the block at " << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace velmora::test
