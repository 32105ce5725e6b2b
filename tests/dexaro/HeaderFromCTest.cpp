// The exports called from a C translation unit decode like the oracle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DecoderUnderTest.h"

extern "C" int32_t DexaroDecodeFromC(int format, const void* src, int32_t width, int32_t height, void* dst);

namespace velmora::test {
namespace {

TEST(DexaroFromC, c_callers_get_the_oracle_bytes) {
  const struct {
    DxtKind kind;
    int number;
  } formats[] = {{DxtKind::Dxt1, 1}, {DxtKind::Dxt3, 3}, {DxtKind::Dxt5, 5}};
  for (const auto& f : formats) {
    const auto blocks = RandomBlocks(f.kind, 3 * 2, 21);
    std::vector<uint8_t> expected(14 * 9 * 4, 0xEE), actual = expected;
    OracleDecodeImage(f.kind, blocks.data(), 14, 9, expected.data());
    EXPECT_EQ(DexaroDecodeFromC(f.number, blocks.data(), 14, 9, actual.data()), 0);
    const std::string diff = FirstDifference(expected, actual, 0, 14);
    EXPECT_TRUE(diff.empty()) << DxtKindName(f.kind) << ": " << diff;
  }
}

}  // namespace
}  // namespace velmora::test
