// Damaged BLP files: every header byte set to odd values and every truncation of files of each
// encoding. No crash, no read outside a buffer (the sanitizers watch the loader, and the recording
// table copies exactly what each upload reads), no GL error, and uploads only at the sizes the
// header's chain allows; the only error raised is the allocation error.
#include <gtest/gtest.h>

#include "BlpTestSupport.h"
#include "blp/ZanthBLP.h"
#include "support/EglContext.h"
#include "support/RecordingGl.h"

namespace velmora::test {
namespace {

struct BaseRow {
  const char* name;
  std::uint8_t compression, alphaBits, alphaType;
  std::uint32_t width, height;
};

void PrintTo(const BaseRow& row, std::ostream* os) { *os << row.name; }

const BaseRow kBases[] = {
    {"palette_alpha1", 1, 1, 8, 8, 8},   {"palette_alpha4", 1, 4, 8, 6, 5},
    {"palette_alpha8", 1, 8, 8, 8, 4},   {"dxt1_first_level_at_148", 2, 0, 0, 8, 8},
    {"dxt5", 2, 8, 7, 12, 4},            {"uncompressed", 3, 8, 8, 4, 4},
};

std::vector<MpqMember> Variants(const BaseRow& base) {
  const std::string bytes = WriteBlp(RandomBlp(base.compression, base.alphaBits, base.alphaType, base.width,
                                               base.height, 1, base.width * 17 + base.compression));
  std::vector<MpqMember> out;
  for (std::size_t at = 0; at < blpfield::kHeaderEnd; ++at) {
    for (unsigned value : {0x00u, 0x01u, 0x7Fu, 0x80u, 0xFFu}) {
      std::string b = bytes;
      if (static_cast<unsigned char>(b[at]) == value) continue;
      b[at] = static_cast<char>(value);
      out.push_back({"set\\" + std::to_string(at) + "_" + std::to_string(value), std::move(b)});
    }
  }
  for (std::size_t len = 1; len < bytes.size(); ++len) out.push_back({"cut\\" + std::to_string(len), bytes.substr(0, len)});
  return out;
}

// Every upload has the size of level i of the header's chain (0 taken as 1).
void ExpectUploadsFollowTheChain(const RecordingGl& gl, const TBLP2Header& h) {
  for (const char* name : {"glTexImage2D", "glCompressedTexImage2DARB"}) {
    for (const GlCall& c : gl.Calls(name)) {
      const auto level = static_cast<int>(c.args.at(1));
      ASSERT_LT(level, 16);
      std::uint32_t w = std::max<std::uint32_t>(h.width, 1), hh = std::max<std::uint32_t>(h.height, 1);
      for (int i = 0; i < level; ++i) {
        w = std::max<std::uint32_t>(w >> 1, 1);
        hh = std::max<std::uint32_t>(hh >> 1, 1);
      }
      EXPECT_EQ(c.args.at(3), w) << name << " level " << level;
      EXPECT_EQ(c.args.at(4), hh) << name << " level " << level;
    }
  }
}

class BlpCorruption : public ::testing::TestWithParam<BaseRow> {};

TEST_P(BlpCorruption, RecordingTableSeesOnlyBoundedUploads) {
  const std::vector<MpqMember> variants = Variants(GetParam());
  IndexedArchive archive(variants);
  ASSERT_TRUE(archive.ok());
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  std::size_t uploads = 0;
  for (bool compressed : {true, false}) {
    for (const MpqMember& m : variants) {
      SCOPED_TRACE(m.name);
      GL_ARB_texture_compression = compressed;
      gl.calls.clear();
      try {
        TBlpTexture tex(m.name);
        ExpectUploadsFollowTheChain(gl, tex.hdr);
        uploads += gl.Calls("glTexImage2D").size() + gl.Calls("glCompressedTexImage2DARB").size();
      } catch (const TAllocationError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot allocate ", 0), 0u) << e.what();
      }
    }
  }
  // Most variants still hold loadable levels; a sweep that uploads nothing tests nothing.
  EXPECT_GT(uploads, variants.size());
}

TEST_P(BlpCorruption, RealGlRaisesNoError) {
  VELMORA_REQUIRE_EGL(ctx);
  const std::vector<MpqMember> variants = Variants(GetParam());
  IndexedArchive archive(variants);
  ASSERT_TRUE(archive.ok());
  const bool hasCompression = GL_ARB_texture_compression;
  for (bool compressed : {true, false}) {
    for (const MpqMember& m : variants) {
      SCOPED_TRACE(m.name);
      GL_ARB_texture_compression = compressed && hasCompression;
      try {
        TBlpTexture tex(m.name);
        EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
      } catch (const TAllocationError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot allocate ", 0), 0u) << e.what();
        EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Bases, BlpCorruption, ::testing::ValuesIn(kBases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::test
