// Every file of the shared sample folder: BLP2 files load with every level their table lists and
// level 0 equals the .expected.png; BLP1 files give an empty texture with the header read.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "BlpReference.h"
#include "BlpTestSupport.h"
#include "blp/ZanthBLP.h"
#include "support/EglContext.h"

namespace velmora::test {
namespace {

// GL's S3TC decode against the standard rules: llvmpipe rounds the interpolated colours its own
// way, up to 2 apart.
constexpr int kGlDxtTolerance = 2;
// GL's S3TC decode against the expected images (the viewer decoder's rules): the green channel
// expands 6 to 8 bits as (g << 2) | (g >> 3) there and (g << 2) | (g >> 4) in GL, up to 4 apart,
// plus one for the rounding of the interpolated colours.
constexpr int kGlDxtToleranceToExpected = 5;

struct Sample {
  std::string name;  // file name, also the archive member name
  std::string bytes;
};

std::vector<Sample> Samples() {
  std::vector<Sample> out;
  for (const auto& entry : std::filesystem::directory_iterator(RealDataDir() / "blp")) {
    if (entry.path().extension() != ".blp") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    out.push_back({entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(out.begin(), out.end(), [](const Sample& a, const Sample& b) { return a.name < b.name; });
  return out;
}

// The levels the table lists, by the loader's own walk.
int ListedLevels(const TBLP2Header& h) {
  int levels = h.has_mips != 0 ? std::min(TBlpTexture::MipLevelCount(h.width, h.height), 16) : 1;
  for (int i = 0; i < levels; ++i) {
    if (h.offsets[static_cast<std::size_t>(i)] == 0 || h.sizes[static_cast<std::size_t>(i)] == 0) return i;
  }
  return levels;
}

TBLP2Header HeaderOf(const std::string& bytes) {
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), raw.size()), raw.begin());
  return TBLP2Header::Parse(raw);
}

// GL's S3TC decode gives colour 3 of the 3-colour mode as transparent black.
RgbaImage AsGlDecodes(RgbaImage img) {
  for (std::size_t i = 0; i + 4 <= img.pixels.size(); i += 4) {
    std::uint8_t* p = img.pixels.data() + i;
    if (p[0] == 0 && p[1] == 255 && p[2] == 255 && p[3] == 0) p[1] = p[2] = 0;
  }
  return img;
}

void CheckSamples(bool software) {
  const std::vector<Sample> samples = Samples();
  ASSERT_FALSE(samples.empty());
  std::vector<MpqMember> members;
  for (const Sample& s : samples) members.push_back({"real\\" + s.name, s.bytes});
  IndexedArchive archive(members);
  ASSERT_TRUE(archive.ok());
  if (software) GL_ARB_texture_compression = false;
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    const TBLP2Header expected = HeaderOf(s.bytes);
    TBlpTexture tex("real\\" + s.name);
    if (expected.sign != TBLP2Header::kMagic) {
      EXPECT_EQ(tex.width, 0);
      EXPECT_EQ(tex.height, 0);
      EXPECT_EQ(tex.hdr.sign, expected.sign);
      EXPECT_EQ(tex.hdr.width, expected.width);
      EXPECT_EQ(tex.hdr.offsets, expected.offsets);
      EXPECT_EQ(tex.hdr.sizes, expected.sizes);
      EXPECT_EQ(UploadedLevelCount(tex.id), 0);
      continue;
    }
    EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
    EXPECT_EQ(tex.width, static_cast<std::int32_t>(expected.width));
    const int levels = ListedLevels(expected);
    EXPECT_EQ(UploadedLevelCount(tex.id), levels);
    const bool glDecodes = expected.compression == 2 && !software;
    // Level 0 against the independent expectation.
    const std::filesystem::path png =
        RealDataDir() / "blp" / (std::filesystem::path(s.name).stem().string() + ".expected.png");
    RgbaImage want = LoadPng(png);
    ASSERT_GT(want.width, 0) << png;
    if (glDecodes) want = AsGlDecodes(want);
    EXPECT_TRUE(PixelsMatch(want, ReadLevel(tex.id, 0), glDecodes ? kGlDxtToleranceToExpected : 0)) << "level 0";
    // Every level against the rules applied to the file's bytes.
    BlpFile layout;
    layout.compression = expected.compression;
    layout.alphaBits = expected.alpha_bits;
    layout.alphaType = expected.alpha_type;
    if (s.bytes.size() >= 148 + 1024) std::copy_n(s.bytes.begin() + 148, 1024, layout.palette.begin());
    std::uint32_t w = expected.width, h = expected.height;
    for (int i = 0; i < levels; ++i) {
      const std::string level =
          LevelAsLoaded(s.bytes, i, BlpLevelBytes(layout.compression, layout.alphaBits, layout.alphaType, w, h));
      EXPECT_TRUE(PixelsMatch(ExpectedLevel(layout, level, w, h, glDecodes ? DxtRules::Standard : DxtRules::Library),
                              ReadLevel(tex.id, i), glDecodes ? kGlDxtTolerance : 0))
          << "level " << i;
      w = std::max<std::uint32_t>(w >> 1, 1);
      h = std::max<std::uint32_t>(h >> 1, 1);
    }
  }
}

TEST(BlpRealData, every_sample_loads_through_the_software_dxt_path) {
  VELMORA_REQUIRE_REALDATA();
  VELMORA_REQUIRE_EGL(ctx);
  CheckSamples(true);
}

TEST(BlpRealData, every_sample_loads_through_gl_s3tc) {
  VELMORA_REQUIRE_REALDATA();
  VELMORA_REQUIRE_EGL(ctx);
  ASSERT_TRUE(GL_ARB_texture_compression);
  CheckSamples(false);
}

}  // namespace
}  // namespace velmora::test
