// Several threads decoding into separate destinations at once give the bytes one thread gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "DecoderUnderTest.h"
#include "dexaro/Dexaro.h"

namespace velmora::test {
namespace {

using DecodeFn = int32_t (*)(const void*, int32_t, int32_t, void*);

TEST(DexaroConcurrency, threads_decoding_at_once_give_the_single_thread_bytes) {
  constexpr int32_t kWidth = 260, kHeight = 132;
  constexpr int kThreads = 8, kRounds = 20;
  const struct {
    DxtKind kind;
    DecodeFn fn;
  } formats[] = {{DxtKind::Dxt1, DDSDecompressDXT1}, {DxtKind::Dxt3, DDSDecompressDXT3}, {DxtKind::Dxt5, DDSDecompressDXT5}};
  std::vector<std::vector<uint8_t>> sources, single;
  for (const auto& f : formats) {
    sources.push_back(RandomBlocks(f.kind, DxtSourceBytes(f.kind, kWidth, kHeight) / DxtBlockBytes(f.kind), 3));
    single.emplace_back(static_cast<std::size_t>(kWidth) * kHeight * 4, 0);
    f.fn(sources.back().data(), kWidth, kHeight, single.back().data());
  }

  // Each thread cycles through the formats from its own starting point, so different formats
  // run at the same time too.
  std::vector<std::vector<std::vector<uint8_t>>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    results[t].assign(3, std::vector<uint8_t>(single[0].size(), 0));
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const std::size_t f = static_cast<std::size_t>(t + round) % 3;
        std::fill(results[t][f].begin(), results[t][f].end(), uint8_t(round));
        formats[f].fn(sources[f].data(), kWidth, kHeight, results[t][f].data());
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    for (std::size_t f = 0; f < 3; ++f) {
      const std::string diff = FirstDifference(single[f], results[t][f], 0, kWidth);
      EXPECT_TRUE(diff.empty()) << "thread " << t << " " << DxtKindName(formats[f].kind) << ": " << diff;
    }
  }
}

}  // namespace
}  // namespace velmora::test
