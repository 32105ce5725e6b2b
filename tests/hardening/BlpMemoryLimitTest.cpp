// Memory a BLP file can make the loader take, whatever its header claims: at most what its own
// bytes and the GL size limit justify, or the allocation error before any large buffer.
// The probe sees every operator new of the load (the loader's buffers and the recording
// table's copies of the uploads).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "AllocationProbe.h"
#include "HardeningSupport.h"
#include "blp/ZanthBLP.h"
#include "support/BlpWriter.h"
#include "support/RecordingGl.h"

namespace velmora::test {
namespace {

constexpr std::size_t kSmall = 64 * 1024;  // what a load that takes no pixel buffer may use

struct MemoryRow {
  const char* fault;
  std::uint8_t compression, alphaBits, alphaType;
  std::uint32_t width, height;  // the file as written, before the edit
  void (*edit)(std::string& bytes);
  GLint limit;     // GL_MAX_TEXTURE_SIZE
  bool raises;     // the allocation error is due
  int levels;      // uploads due when it does not raise
};

void PrintTo(const MemoryRow& row, std::ostream* os) { *os << row.fault; }

void Claim(std::string& b, std::uint32_t w, std::uint32_t h) {
  PutLe32(b, blpfield::kWidth, w);
  PutLe32(b, blpfield::kHeight, h);
}

// Every level of the table: size 2^31 - 1, offset past the end of any file.
void EveryLevelHugeAndPastTheEnd(std::string& b) {
  for (std::size_t i = 0; i < 16; ++i) {
    if (GetLe32(b, blpfield::kOffsets + 4 * i) == 0) continue;
    PutLe32(b, blpfield::kOffsets + 4 * i, 0xFFFFFFF0u - static_cast<std::uint32_t>(i));
    PutLe32(b, blpfield::kSizes + 4 * i, 0x7FFFFFFFu);
  }
}

// Level sizes of 2^31 - 1 at their own offsets: the file's bytes, then nothing.
void EveryLevelHuge(std::string& b) {
  for (std::size_t i = 0; i < 16; ++i) {
    if (GetLe32(b, blpfield::kSizes + 4 * i) != 0) PutLe32(b, blpfield::kSizes + 4 * i, 0x7FFFFFFFu);
  }
}

const MemoryRow kRows[] = {
    {"palette_claiming_65535_square", 1, 8, 8, 8, 8, [](std::string& b) { Claim(b, 65535, 65535); }, 16384, true, 0},
    {"dxt1_claiming_65535_square", 2, 0, 0, 8, 8, [](std::string& b) { Claim(b, 65535, 65535); }, 16384, true, 0},
    {"dxt5_claiming_65535_square", 2, 8, 7, 8, 8, [](std::string& b) { Claim(b, 65535, 65535); }, 16384, true, 0},
    {"uncompressed_claiming_65535_square", 3, 8, 8, 8, 8, [](std::string& b) { Claim(b, 65535, 65535); }, 16384, true, 0},
    {"palette_claiming_65535_by_1", 1, 0, 0, 8, 8, [](std::string& b) { Claim(b, 65535, 1); }, 16384, true, 0},
    {"dxt3_claiming_1_by_65535", 2, 8, 1, 8, 8, [](std::string& b) { Claim(b, 1, 65535); }, 16384, true, 0},
    {"palette_claiming_one_past_a_2048_limit", 1, 4, 0, 8, 8, [](std::string& b) { Claim(b, 2049, 2048); }, 2048, true, 0},
    {"palette_level_sizes_2_31_minus_1_past_the_end", 1, 1, 0, 8, 8, EveryLevelHugeAndPastTheEnd, 16384, false, 4},
    {"dxt1_level_sizes_2_31_minus_1_past_the_end", 2, 0, 0, 8, 8, EveryLevelHugeAndPastTheEnd, 16384, false, 4},
    {"dxt5_level_sizes_2_31_minus_1_past_the_end", 2, 8, 7, 16, 8, EveryLevelHugeAndPastTheEnd, 16384, false, 5},
    {"uncompressed_level_sizes_2_31_minus_1_past_the_end", 3, 8, 8, 8, 8, EveryLevelHugeAndPastTheEnd, 16384, false, 4},
    {"palette_level_sizes_2_31_minus_1_in_the_file", 1, 8, 8, 8, 8, EveryLevelHuge, 16384, false, 4},
    {"dxt3_level_sizes_2_31_minus_1_in_the_file", 2, 4, 0, 8, 8, EveryLevelHuge, 16384, false, 4},
    {"uncompressed_level_sizes_2_31_minus_1_in_the_file", 3, 8, 8, 8, 8, EveryLevelHuge, 16384, false, 4},
    // A header within the GL limit may take its level-0 buffers, also with no level bytes at all.
    {"palette_claiming_2048_square_under_a_2048_limit", 1, 8, 8, 8, 8,
     [](std::string& b) {
       Claim(b, 2048, 2048);
       b[blpfield::kHasMips] = 0;
       EveryLevelHugeAndPastTheEnd(b);
     },
     2048, false, 1},
    {"dxt1_claiming_2048_square_under_a_2048_limit", 2, 0, 0, 8, 8,
     [](std::string& b) {
       Claim(b, 2048, 2048);
       b[blpfield::kHasMips] = 0;
     },
     2048, false, 1},
    // Small files whose headers lie within the GL limit: refused by what their size justifies.
    {"dxt5_149_bytes_claiming_16384_square_with_mips", 2, 8, 7, 8, 8,
     [](std::string& b) {
       Claim(b, 16384, 16384);
       b.resize(149);
     },
     16384, true, 0},
    {"palette_1173_bytes_claiming_16384_square", 1, 8, 8, 8, 8,
     [](std::string& b) {
       Claim(b, 16384, 16384);
       b.resize(1173);
     },
     16384, true, 0},
    {"uncompressed_148_bytes_every_offset_past_the_end", 3, 8, 8, 8, 8,
     [](std::string& b) {
       Claim(b, 8192, 8192);
       EveryLevelHugeAndPastTheEnd(b);
       b.resize(148);
     },
     16384, true, 0},
};

std::uint64_t Pad4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

class BlpMemoryLimit : public ::testing::TestWithParam<std::tuple<MemoryRow, bool>> {};

TEST_P(BlpMemoryLimit, AllocatesNoMoreThanTheFileAndTheGlLimitJustify) {
  const auto& [row, compressed] = GetParam();
  std::string bytes = WriteBlp(RandomBlp(row.compression, row.alphaBits, row.alphaType, row.width, row.height, 1, 7));
  row.edit(bytes);
  ScratchArchive archive({{"hostile.blp", bytes}});
  ASSERT_NE(archive.handle(), 0u);
  ASSERT_TRUE(LoadListFile(archive.handle(), nullptr));

  RecordingGl gl;
  gl.maxTextureSize = row.limit;
  ASSERT_TRUE(gl.Install().empty());
  GL_ARB_texture_compression = compressed;
  const std::uint64_t w0 = std::max<std::uint32_t>(GetLe32(bytes, blpfield::kWidth), 1);
  const std::uint64_t h0 = std::max<std::uint32_t>(GetLe32(bytes, blpfield::kHeight), 1);
  // Level 0 as RGBA (DXT decoding works on whole blocks) or the file itself, whichever is larger.
  const std::size_t bound = row.raises ? kSmall : std::max<std::size_t>(bytes.size(), Pad4(w0) * Pad4(h0) * 4) + kSmall;

  bool raised = false;
  std::size_t largest = 0;
  std::size_t total = 0;
  {
    AllocationProbe probe;
    try {
      TBlpTexture tex("hostile.blp");
    } catch (const TAllocationError& e) {
      raised = true;
      EXPECT_EQ(std::string(e.what()).rfind("cannot allocate ", 0), 0u) << e.what();
    }
    largest = probe.Largest();
    total = probe.Total();
  }
  EXPECT_EQ(raised, row.raises);
  EXPECT_LE(largest, bound) << "largest single allocation";
  if (!row.raises) {
    // The probe saw the level buffer, which holds at least level 0 as its encoding stores it.
    EXPECT_GE(largest, BlpLevelBytes(row.compression, row.alphaBits, row.alphaType, static_cast<std::uint32_t>(w0),
                                     static_cast<std::uint32_t>(h0)));
  }
  // Pixel buffer, level buffer and the recording table's copies of the uploads.
  EXPECT_LE(total, 4 * bound) << "all allocations of the load";
  // Whatever the header says, at most 64 bytes per file byte and 64 MiB, GL's copy counted as
  // what the recording table keeps.
  EXPECT_LE(total, 64 * bytes.size() + (std::size_t{64} << 20)) << "bounded by the file";
  const std::size_t uploads = gl.Calls("glTexImage2D").size() + gl.Calls("glCompressedTexImage2DARB").size();
  EXPECT_EQ(uploads, static_cast<std::size_t>(row.raises ? 0 : row.levels)) << gl.Trace();
  GL_ARB_texture_compression = false;
}

INSTANTIATE_TEST_SUITE_P(Headers, BlpMemoryLimit, ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).fault) +
                                  (std::get<1>(info.param) ? "_compressed_gl" : "_software");
                         });

}  // namespace
}  // namespace velmora::test
