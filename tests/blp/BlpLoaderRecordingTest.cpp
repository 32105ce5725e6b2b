// TBlpTexture's exact GL calls, on a recording GL table: levels, sizes, formats, imageSize of
// compressed uploads, the bytes each upload reads, texture parameters, and what is not called
// after a stop. The pixels themselves are checked on a real GL in BlpLoaderGlTest.
#include <gtest/gtest.h>

#include "BlpTestSupport.h"
#include "blp/ZanthBLP.h"
#include "support/RecordingGl.h"

namespace velmora::test {
namespace {

constexpr const char* kName = "tex\\r.blp";

struct Loaded {
  explicit Loaded(const std::string& bytes) : archive({{kName, bytes}}) {}
  IndexedArchive archive;
};

std::int64_t Arg(const GlCall& c, std::size_t i) { return i < c.args.size() ? c.args[i] : -1; }

void ExpectTextureParameters(const RecordingGl& gl) {
  const auto params = gl.Calls("glTexParameteri");
  ASSERT_EQ(params.size(), 4u) << gl.Trace();
  const std::int64_t expected[4][3] = {{gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, gl::LINEAR},
                                       {gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, gl::LINEAR},
                                       {gl::TEXTURE_2D, gl::TEXTURE_WRAP_S, gl::REPEAT},
                                       {gl::TEXTURE_2D, gl::TEXTURE_WRAP_T, gl::REPEAT}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(params[i].args, std::vector<std::int64_t>(expected[i], expected[i] + 3)) << "parameter call " << i;
  }
}

TEST(BlpLoaderRecording, palette_levels_upload_rgba8_at_each_size_then_parameters) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  const BlpFile file = RandomBlp(1, 8, 8, 8, 2, 1, 11);
  Loaded loaded(WriteBlp(file));
  ASSERT_TRUE(loaded.archive.ok());
  gl.calls.clear();
  {
    TBlpTexture tex(kName);
    const auto uploads = gl.Calls("glTexImage2D");
    ASSERT_EQ(uploads.size(), 4u) << gl.Trace();
    const std::int64_t sizes[4][2] = {{8, 2}, {4, 1}, {2, 1}, {1, 1}};
    for (std::size_t i = 0; i < uploads.size(); ++i) {
      const std::vector<std::int64_t> args = {gl::TEXTURE_2D, static_cast<std::int64_t>(i), gl::RGBA8, sizes[i][0],
                                              sizes[i][1], 0, gl::RGBA, gl::UNSIGNED_BYTE, 1};
      EXPECT_EQ(uploads[i].args, args) << "level " << i;
    }
    // The palette entry stored B, G, R, A leaves as R, G, B with the alpha plane's byte.
    const auto idx = static_cast<unsigned char>(file.levels[0][0]);
    const std::vector<std::uint8_t> first(uploads[0].data.begin(), uploads[0].data.begin() + 4);
    EXPECT_EQ(first, (std::vector<std::uint8_t>{file.palette[4 * idx + 2], file.palette[4 * idx + 1],
                                                file.palette[4 * idx], static_cast<std::uint8_t>(file.levels[0][16])}));
    ExpectTextureParameters(gl);
    // Bound before the first upload, still bound after the load.
    const auto binds = gl.Calls("glBindTexture");
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0].args, (std::vector<std::int64_t>{gl::TEXTURE_2D, tex.id}));
    EXPECT_EQ(gl.Calls("glGetIntegerv").size(), 1u) << "GL_MAX_TEXTURE_SIZE once per load";
    gl.calls.clear();
  }
  // Destroy: unbind, then delete the name.
  ASSERT_EQ(gl.calls.size(), 2u) << gl.Trace();
  EXPECT_EQ(gl.calls[0].name, "glBindTexture");
  EXPECT_EQ(gl.calls[0].args, (std::vector<std::int64_t>{gl::TEXTURE_2D, 0}));
  EXPECT_EQ(gl.calls[1].name, "glDeleteTextures");
  EXPECT_EQ(gl.calls[1].args, (std::vector<std::int64_t>{1, 1}));
}

TEST(BlpLoaderRecording, dxt_compressed_uploads_pass_whole_block_image_sizes_and_the_level_bytes) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  ASSERT_TRUE(GL_ARB_texture_compression);
  const BlpFile file = RandomBlp(2, 8, 7, 10, 6, 1, 12);
  Loaded loaded(WriteBlp(file));
  ASSERT_TRUE(loaded.archive.ok());
  TBlpTexture tex(kName);
  const auto uploads = gl.Calls("glCompressedTexImage2DARB");
  ASSERT_EQ(uploads.size(), 4u) << gl.Trace();  // 10x6, 5x3, 2x1, 1x1
  const std::int64_t dims[4][3] = {{10, 6, 3 * 2 * 16}, {5, 3, 2 * 1 * 16}, {2, 1, 16}, {1, 1, 16}};
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    const std::vector<std::int64_t> args = {gl::TEXTURE_2D, static_cast<std::int64_t>(i),
                                            gl::COMPRESSED_RGBA_S3TC_DXT5_EXT, dims[i][0], dims[i][1], 0, dims[i][2], 1};
    EXPECT_EQ(uploads[i].args, args) << "level " << i;
    EXPECT_EQ(std::string(uploads[i].data.begin(), uploads[i].data.end()), file.levels[i]) << "level " << i;
  }
  EXPECT_TRUE(gl.Calls("glTexImage2D").empty());
  ExpectTextureParameters(gl);
}

TEST(BlpLoaderRecording, dxt_format_follows_alpha_bits_and_type) {
  struct Row {
    const char* name;
    std::uint8_t alphaBits, alphaType;
    std::int64_t format;
  };
  const Row rows[] = {{"alpha0_is_dxt1", 0, 0, gl::COMPRESSED_RGBA_S3TC_DXT1_EXT},
                      {"alpha1_is_dxt1", 1, 7, gl::COMPRESSED_RGBA_S3TC_DXT1_EXT},
                      {"alpha4_is_dxt3", 4, 7, gl::COMPRESSED_RGBA_S3TC_DXT3_EXT},
                      {"alpha8_type1_is_dxt3", 8, 1, gl::COMPRESSED_RGBA_S3TC_DXT3_EXT},
                      {"alpha8_type7_is_dxt5", 8, 7, gl::COMPRESSED_RGBA_S3TC_DXT5_EXT}};
  for (const Row& row : rows) {
    RecordingGl gl;
    ASSERT_TRUE(gl.Install().empty());
    Loaded loaded(WriteBlp(RandomBlp(2, row.alphaBits, row.alphaType, 4, 4, 0, 1)));
    ASSERT_TRUE(loaded.archive.ok());
    TBlpTexture tex(kName);
    const auto uploads = gl.Calls("glCompressedTexImage2DARB");
    ASSERT_EQ(uploads.size(), 1u) << row.name;
    EXPECT_EQ(Arg(uploads[0], 2), row.format) << row.name;
    EXPECT_EQ(Arg(uploads[0], 6), row.format == gl::COMPRESSED_RGBA_S3TC_DXT1_EXT ? 8 : 16) << row.name;
  }
}

TEST(BlpLoaderRecording, dxt_without_the_extension_decodes_each_level_to_rgba) {
  RecordingGl gl;
  gl.extensions = "GL_ARB_texture_compression_bptc GL_EXT_texture_compression_s3tc";
  ASSERT_TRUE(gl.Install().empty());
  ASSERT_FALSE(GL_ARB_texture_compression);
  Loaded loaded(WriteBlp(RandomBlp(2, 0, 0, 8, 4, 1, 13)));
  ASSERT_TRUE(loaded.archive.ok());
  TBlpTexture tex(kName);
  EXPECT_TRUE(gl.Calls("glCompressedTexImage2DARB").empty());
  const auto uploads = gl.Calls("glTexImage2D");
  ASSERT_EQ(uploads.size(), 4u) << gl.Trace();
  for (const GlCall& c : uploads) {
    EXPECT_EQ(Arg(c, 2), gl::RGBA8);
    EXPECT_EQ(Arg(c, 6), gl::RGBA);
    EXPECT_EQ(c.data.size(), static_cast<std::size_t>(Arg(c, 3) * Arg(c, 4) * 4));
  }
}

TEST(BlpLoaderRecording, uncompressed_levels_upload_as_bgra_source) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  const BlpFile file = RandomBlp(3, 8, 8, 4, 4, 1, 14);
  Loaded loaded(WriteBlp(file));
  ASSERT_TRUE(loaded.archive.ok());
  TBlpTexture tex(kName);
  const auto uploads = gl.Calls("glTexImage2D");
  ASSERT_EQ(uploads.size(), 3u);
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    EXPECT_EQ(Arg(uploads[i], 2), gl::RGBA8);
    EXPECT_EQ(Arg(uploads[i], 6), gl::BGRA) << "level " << i;
    EXPECT_EQ(std::string(uploads[i].data.begin(), uploads[i].data.end()), file.levels[i]) << "level " << i;
  }
}

// Loads that stop early: nothing after the stop is called.
struct StopRow {
  const char* name;
  std::string (*bytes)();
  bool parameters;  // whether the texture parameters are still set
  bool bound;       // whether the texture was bound (the header was accepted)
};

void PrintTo(const StopRow& row, std::ostream* os) { *os << row.name; }

const StopRow kStops[] = {
    {"blp1_magic_stops_before_binding", [] { BlpFile f = RandomBlp(1, 8, 8, 4, 4, 1, 1); f.magic = "BLP1"; return WriteBlp(f); },
     false, false},
    {"jpeg_content_stops_before_binding", [] { BlpFile f = RandomBlp(1, 8, 8, 4, 4, 1, 1); f.texType = 0; return WriteBlp(f); },
     false, false},
    {"file_cut_before_tex_type_stops_before_binding",
     [] { return WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1)).substr(0, 4); }, false, false},
    {"file_cut_inside_header_reads_what_is_there_then_lacks_the_palette",
     [] { return WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1)).substr(0, 100); }, false, true},
    {"palette_read_failing_stops_without_parameters",
     [] { return WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1)).substr(0, 600); }, false, true},
    {"unknown_compression_uploads_nothing_but_sets_parameters",
     [] { BlpFile f = RandomBlp(3, 8, 8, 4, 4, 1, 1); f.compression = 4; return WriteBlp(f); }, true, true},
    {"offset_0_zero_uploads_nothing_but_sets_parameters",
     [] { std::string b = WriteBlp(RandomBlp(2, 8, 7, 4, 4, 1, 1)); PutLe32(b, blpfield::kOffsets, 0); return b; }, true,
     true},
};

class BlpStopRecording : public ::testing::TestWithParam<StopRow> {};

TEST_P(BlpStopRecording, NothingAfterTheStop) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  Loaded loaded(GetParam().bytes());
  ASSERT_TRUE(loaded.archive.ok());
  gl.calls.clear();
  TBlpTexture tex(kName);
  EXPECT_TRUE(gl.Calls("glTexImage2D").empty()) << gl.Trace();
  EXPECT_TRUE(gl.Calls("glCompressedTexImage2DARB").empty()) << gl.Trace();
  EXPECT_EQ(gl.Calls("glTexParameteri").size(), GetParam().parameters ? 4u : 0u) << gl.Trace();
  EXPECT_EQ(gl.Calls("glBindTexture").size(), GetParam().bound ? 1u : 0u) << gl.Trace();
  EXPECT_EQ(gl.Calls("glGenTextures").size(), 1u);
  if (!GetParam().bound) {
    EXPECT_EQ(tex.width, 0);
    EXPECT_EQ(tex.height, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Stops, BlpStopRecording, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BlpLoaderRecording, name_not_in_the_index_makes_only_the_texture_name) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  Loaded loaded(WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1)));
  gl.calls.clear();
  TBlpTexture tex("tex\\missing.blp");
  ASSERT_EQ(gl.calls.size(), 1u) << gl.Trace();
  EXPECT_EQ(gl.calls[0].name, "glGenTextures");
  EXPECT_EQ(tex.hdr.sign, 0u);
  EXPECT_EQ(tex.width, 0);
}

// Header sizes no buffer can honestly hold: the allocation error names the size, the texture
// name is deleted and nothing is uploaded.
struct HugeRow {
  const char* name;
  std::uint32_t width, height;
  int sizeLevel;  // level whose size becomes 2^31, or -1
  std::uint8_t compression;
  const char* message;
};

void PrintTo(const HugeRow& row, std::ostream* os) { *os << row.name; }

const HugeRow kHuge[] = {
    {"palette_70000_square_beyond_gl_limit", 70000, 70000, -1, 1, "cannot allocate 70000 x 70000 RGBA pixels (limit 16384)"},
    {"dxt_width_beyond_gl_limit", 16385, 4, -1, 2, "cannot allocate 16385 x 4 RGBA pixels (limit 16384)"},
    {"uncompressed_4g_square_beyond_64_bits", 0xFFFFFFFF, 0xFFFFFFFF, -1, 3,
     "cannot allocate 4294967295 x 4294967295 RGBA pixels (limit 16384)"},
    {"level_size_2_to_the_31", 4, 4, 0, 3, "cannot allocate 2147483648 bytes for mip level 0 (limit 2147483647)"},
    {"level_2_size_2_to_the_31", 4, 4, 2, 1, "cannot allocate 2147483648 bytes for mip level 2 (limit 2147483647)"},
};

class BlpHugeRecording : public ::testing::TestWithParam<HugeRow> {};

TEST_P(BlpHugeRecording, RaisesAllocationErrorAndDeletesTheName) {
  const HugeRow& row = GetParam();
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  std::string bytes = WriteBlp(RandomBlp(row.compression, 8, 7, 4, 4, 1, 2));
  PutLe32(bytes, blpfield::kWidth, row.width);
  PutLe32(bytes, blpfield::kHeight, row.height);
  if (row.sizeLevel >= 0) PutLe32(bytes, blpfield::kSizes + 4 * static_cast<std::size_t>(row.sizeLevel), 0x80000000u);
  Loaded loaded(bytes);
  ASSERT_TRUE(loaded.archive.ok());
  gl.calls.clear();
  try {
    TBlpTexture tex(kName);
    FAIL() << "no allocation error";
  } catch (const TAllocationError& e) {
    EXPECT_STREQ(e.what(), row.message);
  }
  const auto deletes = gl.Calls("glDeleteTextures");
  ASSERT_EQ(deletes.size(), 1u) << gl.Trace();
  EXPECT_EQ(deletes[0].args, (std::vector<std::int64_t>{1, 1})) << "the name glGenTextures gave";
  EXPECT_TRUE(gl.Calls("glTexParameteri").empty()) << gl.Trace();
  // The header is refused before any level is read: nothing is uploaded.
  EXPECT_EQ(gl.Calls("glTexImage2D").size() + gl.Calls("glCompressedTexImage2DARB").size(), 0u) << gl.Trace();
}

INSTANTIATE_TEST_SUITE_P(Huge, BlpHugeRecording, ::testing::ValuesIn(kHuge),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BlpLoaderRecording, without_a_resolved_table_nothing_is_called) {
  RecordingGl gl;
  gl.missing = {"glGenTextures"};
  ASSERT_FALSE(gl.Install().empty());
  Loaded loaded(WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1)));
  gl.calls.clear();
  { TBlpTexture tex(kName); }
  EXPECT_TRUE(gl.calls.empty()) << gl.Trace();
}

}  // namespace
}  // namespace velmora::test
