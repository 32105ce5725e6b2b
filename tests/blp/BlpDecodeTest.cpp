// BLP2 files decoded to levels in memory with no GL context at all: each level's pixels against
// the format rules, DXT kept as blocks or decoded, the short-level count, and the header check.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "BlpReference.h"
#include "BlpTestSupport.h"
#include "blp/BlpDecode.h"
#include "blp/BlpErrors.h"
#include "blp/LevelPixels.h"

namespace velmora::test {
namespace {

using blp::TLevelFormat;

struct DecodeRow {
  const char* name;
  std::uint8_t compression, alphaBits, alphaType;
  std::uint32_t width, height;
  bool dxtAsBlocks;
  TLevelFormat format;
};

void PrintTo(const DecodeRow& row, std::ostream* os) { *os << row.name; }

const DecodeRow kRows[] = {
    {"palette_alpha1_expands_to_rgba", 1, 1, 8, 13, 7, true, TLevelFormat::kRgba},
    {"palette_alpha4_expands_to_rgba", 1, 4, 8, 9, 5, true, TLevelFormat::kRgba},
    {"palette_alpha8_expands_to_rgba", 1, 8, 8, 16, 8, true, TLevelFormat::kRgba},
    {"dxt1_kept_as_blocks", 2, 0, 0, 7, 13, true, TLevelFormat::kDxt1},
    {"dxt3_kept_as_blocks", 2, 8, 1, 16, 8, true, TLevelFormat::kDxt3},
    {"dxt5_kept_as_blocks", 2, 8, 7, 10, 6, true, TLevelFormat::kDxt5},
    {"dxt1_decoded_by_the_library", 2, 0, 0, 7, 13, false, TLevelFormat::kRgba},
    {"dxt5_decoded_by_the_library", 2, 8, 7, 10, 6, false, TLevelFormat::kRgba},
    {"uncompressed_kept_bgra", 3, 8, 8, 5, 3, true, TLevelFormat::kBgra},
};

class BlpDecode : public ::testing::TestWithParam<DecodeRow> {};
// The rows whose levels LevelToRgba turns into RGBA itself (the others are RGBA already).
class BlpLevelToRgba : public BlpDecode {};

TEST_P(BlpDecode, EveryLevelMatchesTheFormatRulesWithoutGl) {
  const DecodeRow& row = GetParam();
  const BlpFile file = RandomBlp(row.compression, row.alphaBits, row.alphaType, row.width, row.height, 1, 77);
  const std::string bytes = WriteBlp(file);
  blp::TMemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  const blp::TBlpLevels decoded = blp::DecodeBlp(source, 16384, {.dxtAsBlocks = row.dxtAsBlocks});
  ASSERT_TRUE(decoded.complete);
  EXPECT_EQ(decoded.format, row.format);
  ASSERT_EQ(decoded.levels.size(), file.levels.size());
  for (std::size_t i = 0; i < decoded.levels.size(); ++i) {
    const blp::TBlpLevel& level = decoded.levels[i];
    const std::size_t needed = BlpLevelBytes(row.compression, row.alphaBits, row.alphaType, level.width, level.height);
    const std::string asLoaded = LevelAsLoaded(bytes, static_cast<int>(i), needed);
    EXPECT_EQ(level.missingBytes, 0u) << "level " << i;
    if (row.format == TLevelFormat::kRgba) {
      RgbaImage got{static_cast<int>(level.width), static_cast<int>(level.height), level.bytes};
      EXPECT_TRUE(PixelsMatch(ExpectedLevel(file, asLoaded, level.width, level.height, DxtRules::Library), got))
          << "level " << i;
    } else {
      EXPECT_EQ(std::string(level.bytes.begin(), level.bytes.end()), asLoaded) << "level " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, BlpDecode, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<DecodeRow> RowsWithBlocksKept() {
  std::vector<DecodeRow> rows;
  for (const DecodeRow& row : kRows) {
    if (row.dxtAsBlocks) rows.push_back(row);
  }
  return rows;
}

// DXT to RGBA the hardware way, beside the S3TC rules of the reference (which truncates where
// the hardware rounds to nearest: at most 1 apart), and every other format as decoded.
TEST_P(BlpLevelToRgba, FollowsTheHardwareRules) {
  const DecodeRow& row = GetParam();
  const BlpFile file = RandomBlp(row.compression, row.alphaBits, row.alphaType, row.width, row.height, 1, 78);
  const std::string bytes = WriteBlp(file);
  blp::TMemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  const blp::TBlpLevels decoded = blp::DecodeBlp(source, 16384, {});
  for (std::size_t i = 0; i < decoded.levels.size(); ++i) {
    const blp::TRgbaPixels rgba = blp::LevelToRgba(decoded, i);
    const std::size_t needed = BlpLevelBytes(row.compression, row.alphaBits, row.alphaType, rgba.width, rgba.height);
    const RgbaImage expected =
        ExpectedLevel(file, LevelAsLoaded(bytes, static_cast<int>(i), needed), rgba.width, rgba.height, DxtRules::Standard);
    const RgbaImage got{static_cast<int>(rgba.width), static_cast<int>(rgba.height), rgba.bytes};
    EXPECT_TRUE(PixelsMatch(expected, got, row.compression == 2 ? 1 : 0)) << "level " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, BlpLevelToRgba, ::testing::ValuesIn(RowsWithBlocksKept()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BlpDecode, short_level_is_zero_filled_and_counted) {
  BlpFile file = RandomBlp(3, 8, 8, 16, 16, 0, 5);
  std::string bytes = WriteBlp(file);
  PutLe32(bytes, blpfield::kSizes, 1000);  // 1024 bytes needed
  blp::TMemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  const blp::TBlpLevels decoded = blp::DecodeBlp(source, 16384, {});
  ASSERT_EQ(decoded.levels.size(), 1u);
  EXPECT_EQ(decoded.levels[0].missingBytes, 24u);
  EXPECT_EQ(std::memcmp(decoded.levels[0].bytes.data(), file.levels[0].data(), 1000), 0);
  EXPECT_EQ(decoded.levels[0].bytes[1000], 0);
  EXPECT_EQ(decoded.levels[0].bytes[1023], 0);
}

// Every real texture, and every one cut to half its size, stays within what its size justifies.
TEST(BlpDecode, real_textures_whole_and_cut_to_half_load) {
  VELMORA_REQUIRE_REALDATA();
  int loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(RealDataDir() / "blp")) {
    if (entry.path().extension() != ".blp") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string& bytes : {whole, whole.substr(0, whole.size() / 2)}) {
      blp::TMemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
      const TBLP2Header hdr = blp::ReadBlpHeader(source);
      if (!blp::IsLoadableContent(hdr)) continue;  // BLP1 and JPEG content
      EXPECT_NO_THROW({
        const blp::TBlpLevels levels = blp::DecodeBlp(source, 16384, {});
        EXPECT_FALSE(levels.levels.empty()) << entry.path() << " " << bytes.size() << " bytes";
      }) << entry.path() << " " << bytes.size() << " bytes";
      ++loaded;
    }
  }
  EXPECT_GE(loaded, 18);
}

// The one header check: the first failure, with the value found and, for sizes, the limit.
struct CheckRow {
  const char* name;
  void (*edit)(std::string& bytes);
  std::optional<blp::THeaderProblemKind> kind;
  const char* message;
};

void PrintTo(const CheckRow& row, std::ostream* os) { *os << row.name; }

const CheckRow kChecks[] = {
    {"good_header_passes", [](std::string&) {}, std::nullopt, ""},
    {"blp1_jpeg", [](std::string& b) { b.replace(0, 4, "BLP1"); PutLe32(b, blpfield::kTexType, 0); },
     blp::THeaderProblemKind::kNotBlp2, "BLP1 texture (JPEG content): not supported"},
    {"blp1_palette", [](std::string& b) { b.replace(0, 4, "BLP1"); },
     blp::THeaderProblemKind::kNotBlp2, "BLP1 texture (palette content): not supported"},
    {"other_magic", [](std::string& b) { b.replace(0, 4, "\x89PNG"); }, blp::THeaderProblemKind::kNotBlp2,
     "not a BLP2 file"},
    {"blp2_jpeg", [](std::string& b) { PutLe32(b, blpfield::kTexType, 0); }, blp::THeaderProblemKind::kNotBlp2,
     "BLP2 texture (JPEG content): not supported"},
    {"unknown_encoding_before_sizes",
     [](std::string& b) { b[blpfield::kCompression] = 9; PutLe32(b, blpfield::kWidth, 99999); },
     blp::THeaderProblemKind::kUnknownEncoding, "unknown encoding 9: not supported"},
    {"width_beyond_limit", [](std::string& b) { PutLe32(b, blpfield::kWidth, 16385); },
     blp::THeaderProblemKind::kTooLarge, "cannot allocate 16385 x 16 RGBA pixels (limit 16384)"},
    {"more_than_the_file_justifies",
     [](std::string& b) { PutLe32(b, blpfield::kWidth, 8192); PutLe32(b, blpfield::kHeight, 8192); },
     blp::THeaderProblemKind::kTooLarge,
     "cannot allocate 1072693248 bytes for 8192 x 8192 pixels from a file of 1512 bytes (limit 67205632)"},
    {"level_1_size_2_31", [](std::string& b) { PutLe32(b, blpfield::kSizes + 4, 0x80000000u); },
     blp::THeaderProblemKind::kTooLarge, "cannot allocate 2147483648 bytes for mip level 1 (limit 2147483647)"},
};

class BlpHeaderCheck : public ::testing::TestWithParam<CheckRow> {};

TEST_P(BlpHeaderCheck, FirstFailureNamesValueAndLimit) {
  const CheckRow& row = GetParam();
  std::string bytes = WriteBlp(RandomBlp(3, 8, 8, 16, 16, 1, 3));
  row.edit(bytes);
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  std::memcpy(raw.data(), bytes.data(), raw.size());
  const auto problem = blp::CheckBlpHeader(TBLP2Header::Parse(raw), bytes.size(), 16384);
  ASSERT_EQ(problem.has_value(), row.kind.has_value()) << (problem ? problem->message : "");
  if (problem) {
    EXPECT_EQ(problem->kind, *row.kind);
    EXPECT_EQ(problem->message, row.message);
  }
}

INSTANTIATE_TEST_SUITE_P(Headers, BlpHeaderCheck, ::testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::test
