// Memory a BLP1 file can make the texture take, whatever its header claims (level sizes and
// offsets, the shared JPEG header's size, the picture's size): at most what its own bytes and the
// GL size limit justify, or the header's refusal, shown as the texture's problem, before any
// large buffer. The probe sees the loader's buffers and the recording table's copies of the
// uploads; libjpeg's own buffers are held to the decoded size checked before decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "AllocationProbe.h"
#include "HardeningSupport.h"
#include "blp/ZanthBLP.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/JpegTools.h"
#include "support/RecordingGl.h"

namespace velmora::test {
namespace {

constexpr std::size_t kSmall = 64 * 1024;

// 8 x 8 with its mip chain (8, 4, 2, 1): palette levels with 8-bit alpha, or whole JPEGs.
std::string Honest(std::uint32_t compression) {
  Blp1File file;
  file.compression = compression;
  file.width = file.height = 8;
  for (std::uint32_t s = 8; s >= 1; s /= 2) {
    std::vector<std::uint8_t> samples(std::size_t{s} * s * 4, 0);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 37);
    file.levels.push_back(compression == 0 ? EncodeJpeg({s, s}, samples)
                                           : std::string(samples.begin(), samples.begin() + 2 * s * s));
  }
  return WriteBlp1(file);
}

void Claim(std::string& b, std::uint32_t w, std::uint32_t h) {
  PutLe32(b, blp1field::kWidth, w);
  PutLe32(b, blp1field::kHeight, h);
}

void EveryLevelHuge(std::string& b, bool pastTheEnd) {
  for (std::size_t i = 0; i < 16; ++i) {
    if (GetLe32(b, blp1field::kOffsets + 4 * i) == 0) continue;
    if (pastTheEnd) PutLe32(b, blp1field::kOffsets + 4 * i, 0xFFFFFFF0u - static_cast<std::uint32_t>(i));
    PutLe32(b, blp1field::kSizes + 4 * i, 0x7FFFFFFFu);
  }
}

struct Blp1MemoryRow {
  const char* fault;
  std::uint32_t compression;
  void (*edit)(std::string& bytes);
  GLint limit;
  std::string refusal;  // the start of the header's refusal; "" when the header passes
  int uploads;
};

void PrintTo(const Blp1MemoryRow& row, std::ostream* os) { *os << row.fault; }

const Blp1MemoryRow kBlp1Rows[] = {
    {"honest_jpeg_file", 0, [](std::string&) {}, 16384, "", 4},
    {"honest_palette_file", 1, [](std::string&) {}, 16384, "", 4},
    {"unknown_compression", 1, [](std::string& b) { PutLe32(b, blp1field::kCompression, 2); }, 16384,
     "BLP1 texture with unknown compression 2: not supported", 0},
    {"palette_claiming_65535_square", 1, [](std::string& b) { Claim(b, 65535, 65535); }, 16384,
     "cannot allocate 65535 x 65535 RGBA pixels (limit 16384)", 0},
    {"jpeg_claiming_65535_square", 0, [](std::string& b) { Claim(b, 65535, 65535); }, 16384,
     "cannot allocate 65535 x 65535 RGBA pixels (limit 16384)", 0},
    {"jpeg_header_size_of_4_gigabytes", 0, [](std::string& b) { PutLe32(b, blp1field::kJpegHeaderSize, 0xFFFFFFFFu); },
     16384, "cannot allocate 4294967295 bytes for the shared JPEG header", 0},
    {"jpeg_header_one_byte_past_the_file", 0,
     [](std::string& b) { PutLe32(b, blp1field::kJpegHeaderSize, static_cast<std::uint32_t>(b.size() - 160 + 1)); }, 16384,
     "cannot allocate ", 0},
    {"level_size_of_2_gigabytes", 0, [](std::string& b) { PutLe32(b, blp1field::kSizes + 4, 0x80000000u); }, 16384,
     "cannot allocate 2147483648 bytes for mip level 1 (limit 2147483647)", 0},
    {"palette_level_sizes_2_31_minus_1_past_the_end", 1, [](std::string& b) { EveryLevelHuge(b, true); }, 16384, "", 4},
    {"jpeg_level_sizes_2_31_minus_1_past_the_end", 0, [](std::string& b) { EveryLevelHuge(b, true); }, 16384, "", 4},
    {"jpeg_level_sizes_2_31_minus_1_in_the_file", 0, [](std::string& b) { EveryLevelHuge(b, false); }, 16384, "", 4},
    {"palette_claiming_16384_square_from_a_small_file", 1, [](std::string& b) { Claim(b, 16384, 16384); }, 16384,
     "cannot allocate ", 0},
    {"jpeg_claiming_16384_square_from_a_small_file", 0, [](std::string& b) { Claim(b, 16384, 16384); }, 16384,
     "cannot allocate ", 0},
    // Within the bound, so the level buffer is taken, but the JPEG is not the level's size.
    {"jpeg_claiming_2048_square_without_mips", 0,
     [](std::string& b) {
       Claim(b, 2048, 2048);
       PutLe32(b, blp1field::kPictureSubtype, 0);
     },
     2048, "", 0},
};

class Blp1MemoryLimit : public ::testing::TestWithParam<Blp1MemoryRow> {};

TEST_P(Blp1MemoryLimit, AllocatesNoMoreThanTheFileAndTheGlLimitJustify) {
  const Blp1MemoryRow& row = GetParam();
  std::string bytes = Honest(row.compression);
  row.edit(bytes);
  ScratchArchive archive({{"hostile.blp", bytes}});
  ASSERT_NE(archive.handle(), 0u);
  ASSERT_TRUE(LoadListFile(archive.handle(), nullptr));
  RecordingGl gl;
  gl.maxTextureSize = row.limit;
  ASSERT_TRUE(gl.Install().empty());
  const std::uint64_t w0 = GetLe32(bytes, blp1field::kWidth), h0 = GetLe32(bytes, blp1field::kHeight);
  const std::size_t bound = row.refusal.empty() ? std::max<std::size_t>(bytes.size(), w0 * h0 * 4) + kSmall : kSmall;

  std::string problem;
  std::size_t largest = 0, total = 0;
  {
    AllocationProbe probe;
    TBlpTexture tex("hostile.blp");
    tex.LoadBlp1();
    if (tex.HeaderProblem()) problem = tex.HeaderProblem()->message;
    largest = probe.Largest();
    total = probe.Total();
  }
  EXPECT_EQ(problem.substr(0, row.refusal.size()), row.refusal) << problem;
  if (row.refusal.empty()) EXPECT_EQ(problem, "");
  EXPECT_LE(largest, bound) << "largest single allocation";
  EXPECT_LE(total, 64 * bytes.size() + (std::size_t{64} << 20)) << "bounded by the file";
  EXPECT_EQ(gl.Calls("glTexImage2D").size(), static_cast<std::size_t>(row.uploads)) << gl.Trace();
}

INSTANTIATE_TEST_SUITE_P(Headers, Blp1MemoryLimit, ::testing::ValuesIn(kBlp1Rows),
                         [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace velmora::test
