// TBlpTexture on a real OpenGL (Mesa, headless): every encoding built at test time, stored in a
// real archive, loaded by name, each level read back and compared pixel by pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "BlpReference.h"
#include "BlpTestSupport.h"
#include "blp/ZanthBLP.h"
#include "support/EglContext.h"

namespace velmora::test {
namespace {

// The DXT path a load takes: GL's own S3TC decode or the software decoder.
enum class DxtPath { Compressed, Software };

void PrintTo(DxtPath p, std::ostream* os) { *os << (p == DxtPath::Compressed ? "gl_s3tc" : "software"); }

// GL's S3TC decode against the standard rules: llvmpipe rounds the interpolated colours its own
// way, up to 2 apart.
constexpr int kGlDxtTolerance = 2;

// Loads `bytes` as "tex\\t.blp" and checks each level against the expectation for its path.
void ExpectLoadsAsBuilt(const BlpFile& file, const std::string& bytes, DxtPath path, int expectedLevels) {
  IndexedArchive archive({{"tex\\t.blp", bytes}});
  ASSERT_TRUE(archive.ok());
  if (path == DxtPath::Software) GL_ARB_texture_compression = false;
  ASSERT_TRUE(file.compression != 2 || path == DxtPath::Software || GL_ARB_texture_compression)
      << "this GL lacks GL_ARB_texture_compression";
  TBlpTexture tex("TEX\\T.BLP");
  EXPECT_EQ(tex.width, static_cast<std::int32_t>(file.width));
  EXPECT_EQ(tex.height, static_cast<std::int32_t>(file.height));
  EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
  ASSERT_EQ(UploadedLevelCount(tex.id), expectedLevels);
  const DxtRules rules = path == DxtPath::Compressed ? DxtRules::Standard : DxtRules::Library;
  const int tolerance = file.compression == 2 && path == DxtPath::Compressed ? kGlDxtTolerance : 0;
  std::uint32_t w = file.width, h = file.height;
  for (int i = 0; i < expectedLevels; ++i) {
    w = std::max<std::uint32_t>(w, 1);
    h = std::max<std::uint32_t>(h, 1);
    const std::string level =
        LevelAsLoaded(bytes, i, BlpLevelBytes(file.compression, file.alphaBits, file.alphaType, w, h));
    EXPECT_TRUE(PixelsMatch(ExpectedLevel(file, level, w, h, rules), ReadLevel(tex.id, i), tolerance))
        << "level " << i << " (" << w << " x " << h << ")";
    w >>= 1;
    h >>= 1;
  }
}

struct EncodingRow {
  const char* name;
  std::uint8_t compression, alphaBits, alphaType;
  std::uint32_t width, height;
  std::uint8_t hasMips;
};

void PrintTo(const EncodingRow& row, std::ostream* os) { *os << row.name; }

// One row per decoding fault it would catch.
const EncodingRow kEncodings[] = {
    {"palette_alpha0_entries_stored_bgr_come_out_rgb_opaque", 1, 0, 8, 16, 8, 1},
    {"palette_alpha1_bits_lsb_first_run_on_across_rows", 1, 1, 8, 13, 7, 1},
    {"palette_alpha4_low_nibble_first_times_17", 1, 4, 8, 9, 5, 1},
    {"palette_alpha8_one_byte_per_pixel", 1, 8, 8, 32, 16, 1},
    {"palette_alpha136_is_opaque", 1, 136, 8, 8, 8, 1},
    {"palette_has_mips_0x11_reads_the_chain", 1, 8, 8, 16, 16, 0x11},
    {"palette_has_mips_2_reads_the_chain", 1, 8, 8, 8, 4, 2},
    {"palette_zero_width_counts_as_one", 1, 8, 8, 0, 8, 1},
    {"dxt1_chain_down_to_1x1", 2, 0, 0, 32, 16, 1},
    {"dxt1_alpha1_stays_dxt1", 2, 1, 0, 16, 16, 1},
    {"dxt1_sizes_not_multiple_of_4", 2, 0, 0, 7, 13, 1},
    {"dxt3_alpha8_type1", 2, 8, 1, 16, 8, 1},
    {"dxt3_alpha4", 2, 4, 0, 8, 8, 1},
    {"dxt5_alpha8_type7", 2, 8, 7, 32, 32, 1},
    {"dxt5_sizes_not_multiple_of_4", 2, 8, 7, 10, 6, 1},
    {"dxt1_zero_height_counts_as_one", 2, 0, 0, 8, 0, 1},
    {"uncompressed_pixels_stored_bgra_come_out_rgba", 3, 8, 8, 16, 8, 1},
    {"uncompressed_odd_sizes", 3, 0, 0, 5, 3, 1},
};

class BlpEncodingGl : public ::testing::TestWithParam<std::tuple<EncodingRow, DxtPath>> {};

TEST_P(BlpEncodingGl, EveryLevelMatchesItsBytes) {
  VELMORA_REQUIRE_EGL(ctx);
  const auto& [row, path] = GetParam();
  const BlpFile file = RandomBlp(row.compression, row.alphaBits, row.alphaType, row.width, row.height, row.hasMips,
                                 row.width * 131 + row.height * 7 + row.compression);
  ExpectLoadsAsBuilt(file, WriteBlp(file), path, static_cast<int>(file.levels.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, BlpEncodingGl,
    ::testing::Combine(::testing::ValuesIn(kEncodings), ::testing::Values(DxtPath::Compressed, DxtPath::Software)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == DxtPath::Compressed ? "_gl_s3tc" : "_software");
    });

// Header edits on a generated file, each with the number of levels that must arrive.
struct EditRow {
  const char* name;
  std::uint8_t compression, alphaBits, alphaType;
  std::uint32_t width, height;
  void (*edit)(std::string& bytes);
  int levels;
};

void PrintTo(const EditRow& row, std::ostream* os) { *os << row.name; }

const EditRow kEdits[] = {
    {"has_mips_0_uploads_level_0_only_even_with_more_offsets", 1, 8, 8, 16, 16,
     [](std::string& b) { b[blpfield::kHasMips] = 0; }, 1},
    {"offset_5_zero_ends_the_chain_after_level_4", 2, 0, 0, 512, 256,
     [](std::string& b) { PutLe32(b, blpfield::kOffsets + 4 * 5, 0); }, 5},
    {"size_3_zero_ends_the_chain_after_level_2", 3, 0, 0, 16, 16,
     [](std::string& b) { PutLe32(b, blpfield::kSizes + 4 * 3, 0); }, 3},
    {"palette_short_level_size_reads_rest_as_zero", 1, 8, 8, 16, 16,
     [](std::string& b) { PutLe32(b, blpfield::kSizes, 100); }, 5},
    {"dxt5_short_level_size_reads_rest_as_zero", 2, 8, 7, 16, 16,
     [](std::string& b) { PutLe32(b, blpfield::kSizes, 40); }, 5},
    {"uncompressed_short_level_size_reads_rest_as_zero", 3, 8, 8, 16, 16,
     [](std::string& b) { PutLe32(b, blpfield::kSizes, 77); }, 5},
    {"dxt1_level_past_end_of_file_reads_rest_as_zero", 2, 0, 0, 16, 16,
     [](std::string& b) { b.resize(GetLe32(b, blpfield::kOffsets) + 50); }, 5},
    {"palette_level_offset_beyond_file_is_all_zero", 1, 1, 8, 16, 16,
     [](std::string& b) { PutLe32(b, blpfield::kOffsets + 4, 0x7FFFFFF0); }, 5},
    {"uncompressed_huge_size_past_end_allocates_what_the_file_fills", 3, 0, 0, 8, 8,
     [](std::string& b) { PutLe32(b, blpfield::kSizes, 0x7FFFFFFF); }, 4},
    {"dxt3_size_larger_than_the_level_ignores_the_excess", 2, 4, 0, 8, 8,
     [](std::string& b) { PutLe32(b, blpfield::kSizes, 1000); }, 4},
};

class BlpEditGl : public ::testing::TestWithParam<std::tuple<EditRow, DxtPath>> {};

TEST_P(BlpEditGl, LevelsArriveAsTheBytesSay) {
  VELMORA_REQUIRE_EGL(ctx);
  const auto& [row, path] = GetParam();
  const BlpFile file = RandomBlp(row.compression, row.alphaBits, row.alphaType, row.width, row.height, 1, 99);
  std::string bytes = WriteBlp(file);
  row.edit(bytes);
  ExpectLoadsAsBuilt(file, bytes, path, row.levels);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, BlpEditGl,
    ::testing::Combine(::testing::ValuesIn(kEdits), ::testing::Values(DxtPath::Compressed, DxtPath::Software)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == DxtPath::Compressed ? "_gl_s3tc" : "_software");
    });

TEST(BlpLoaderGl, one_by_one_with_mips_has_one_level) {
  VELMORA_REQUIRE_EGL(ctx);
  for (std::uint8_t compression : {1, 2, 3}) {
    const BlpFile file = RandomBlp(compression, 8, 7, 1, 1, 1, compression);
    ASSERT_EQ(file.levels.size(), 1u);
    ExpectLoadsAsBuilt(file, WriteBlp(file), DxtPath::Software, 1);
  }
}

TEST(BlpLoaderGl, blp1_magic_gives_an_empty_texture_with_the_header_read) {
  VELMORA_REQUIRE_EGL(ctx);
  BlpFile file = RandomBlp(1, 8, 8, 8, 8, 1, 5);
  file.magic = "BLP1";
  const std::string bytes = WriteBlp(file);
  IndexedArchive archive({{"a.blp", bytes}});
  ASSERT_TRUE(archive.ok());
  TBlpTexture tex("a.blp");
  EXPECT_EQ(tex.width, 0);
  EXPECT_EQ(tex.height, 0);
  EXPECT_EQ(tex.hdr.sign, 0x31504C42u);
  EXPECT_EQ(tex.hdr.width, 8u);
  EXPECT_EQ(tex.hdr.offsets[0], GetLe32(bytes, blpfield::kOffsets));
  EXPECT_EQ(UploadedLevelCount(tex.id), 0);
}

TEST(BlpLoaderGl, header_too_large_for_gl_raises_allocation_error_naming_the_size) {
  VELMORA_REQUIRE_EGL(ctx);
  GLint limit = 0;
  Gl.GetIntegerv(gl::MAX_TEXTURE_SIZE, &limit);
  BlpFile file = RandomBlp(1, 8, 8, 4, 4, 0, 1);
  std::string bytes = WriteBlp(file);
  PutLe32(bytes, blpfield::kWidth, 70000);
  PutLe32(bytes, blpfield::kHeight, 70000);
  IndexedArchive archive({{"big.blp", bytes}});
  ASSERT_TRUE(archive.ok());
  try {
    TBlpTexture tex("big.blp");
    FAIL() << "no error for a 70000 x 70000 texture";
  } catch (const TAllocationError& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot allocate 70000 x 70000 RGBA pixels (limit " + std::to_string(limit) + ")");
  }
  EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
}

// Runs in a fresh process: Mesa reads MESA_EXTENSION_OVERRIDE once, when the process creates its
// first context, and keeps it for every later one.
[[noreturn]] void LoadDxtWithExtensionRemoved() {
  int status = 0;
  {
    EglContext ctx;
    if (!ctx.ok()) {
      std::fprintf(stderr, "no context: %s\n", ctx.error().c_str());
      std::exit(3);
    }
    if (GL_ARB_texture_compression) {
      std::fprintf(stderr, "GL_ARB_texture_compression still listed\n");
      std::exit(2);
    }
    const BlpFile file = RandomBlp(2, 8, 7, 16, 8, 1, 3);
    IndexedArchive archive({{"o.blp", WriteBlp(file)}});
    TBlpTexture tex("o.blp");
    const int levels = UploadedLevelCount(tex.id);
    if (levels != static_cast<int>(file.levels.size())) {
      std::fprintf(stderr, "%d levels uploaded\n", levels);
      status = 1;
    }
    std::uint32_t w = file.width, h = file.height;
    for (int i = 0; i < levels && status == 0; ++i) {
      const auto match = PixelsMatch(ExpectedLevel(file, file.levels[static_cast<std::size_t>(i)], w, h, DxtRules::Library),
                                     ReadLevel(tex.id, i));
      if (!match) {
        std::fprintf(stderr, "level %d: %s\n", i, match.message());
        status = 1;
      }
      w = std::max<std::uint32_t>(w >> 1, 1);
      h = std::max<std::uint32_t>(h >> 1, 1);
    }
  }
  std::exit(status);
}

TEST(BlpLoaderGl, extension_removed_by_mesa_override_clears_the_flag_and_loads_in_software) {
  // This process has read the variable (without it) when the probe made its context; the child
  // is started afresh with it and reads it at its own first context.
  { VELMORA_REQUIRE_EGL(probe); }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ::setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_texture_compression", 1);
  EXPECT_EXIT(LoadDxtWithExtensionRemoved(), ::testing::ExitedWithCode(0), "");
  ::unsetenv("MESA_EXTENSION_OVERRIDE");
}

TEST(BlpLoaderGl, llvmpipe_offers_texture_compression) {
  VELMORA_REQUIRE_EGL(ctx);
  EXPECT_TRUE(GL_ARB_texture_compression) << ctx.Renderer();
}

}  // namespace
}  // namespace velmora::test
