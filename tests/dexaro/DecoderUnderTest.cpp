// Decoder list, byte comparison and random block generation for the decoder tests.
#include "DecoderUnderTest.h"

#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "dexaro/Dexaro.h"
#include "dexaro/DxtDecode.h"

namespace velmora::test {
namespace {

dexaro::DxtFormat ToFormat(DxtKind kind) {
  switch (kind) {
    case DxtKind::Dxt1: return dexaro::DxtFormat::Dxt1;
    case DxtKind::Dxt3: return dexaro::DxtFormat::Dxt3;
    case DxtKind::Dxt5: return dexaro::DxtFormat::Dxt5;
  }
  return dexaro::DxtFormat::Dxt1;
}

void DecodeWithExports(DxtKind kind, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  int32_t rc = -1;
  switch (kind) {
    case DxtKind::Dxt1: rc = DDSDecompressDXT1(src, width, height, dst); break;
    case DxtKind::Dxt3: rc = DDSDecompressDXT3(src, width, height, dst); break;
    case DxtKind::Dxt5: rc = DDSDecompressDXT5(src, width, height, dst); break;
  }
  EXPECT_EQ(rc, 0) << "the exports always return 0";
}

}  // namespace

std::vector<DecoderUnderTest> AllDecoders() {
  std::vector<DecoderUnderTest> all;
  all.push_back({"oracle", true, OracleDecodeImage});
  all.push_back({"exports", true, DecodeWithExports});
  for (const dexaro::DxtPath path : dexaro::kAllPaths) {
    all.push_back({dexaro::PathName(path), dexaro::PathAvailable(path),
                   [path](DxtKind kind, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
                     dexaro::DecodeImage(path, ToFormat(kind), src, width, height, dst);
                   }});
  }
  return all;
}

std::vector<DecoderUnderTest> LibraryDecoders() {
  auto all = AllDecoders();
  all.erase(all.begin());
  return all;
}

std::string FirstDifference(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual,
                            std::size_t origin, int32_t width) {
  std::ostringstream out;
  if (expected.size() != actual.size()) {
    out << "sizes differ: expected " << expected.size() << " bytes, got " << actual.size();
    return out.str();
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == actual[i]) continue;
    out << "byte " << i;
    if (width > 0 && i >= origin) {
      const std::size_t pixel = (i - origin) / 4;
      out << " (pixel x " << pixel % static_cast<std::size_t>(width) << ", y "
          << pixel / static_cast<std::size_t>(width) << ", channel " << "RGBA"[(i - origin) % 4] << ")";
    } else if (width > 0) {
      out << " (" << origin - i << " bytes before the image)";
    }
    out << ": expected " << int(expected[i]) << ", got " << int(actual[i]);
    return out.str();
  }
  return {};
}

std::vector<uint8_t> RandomBlocks(DxtKind kind, std::size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  auto byte = [&rng] { return static_cast<uint8_t>(rng()); };
  std::vector<uint8_t> out;
  out.reserve(count * DxtBlockBytes(kind));
  for (std::size_t b = 0; b < count; ++b) {
    if (kind != DxtKind::Dxt1) {
      uint8_t alpha[8];
      for (auto& v : alpha) v = byte();
      // DXT5: a0 > a1, a0 < a1 and a0 == a1 each often; DXT3 just takes the random nibbles.
      if (kind == DxtKind::Dxt5) {
        switch (rng() % 4) {
          case 0: if (alpha[0] < alpha[1]) std::swap(alpha[0], alpha[1]); break;
          case 1: if (alpha[0] > alpha[1]) std::swap(alpha[0], alpha[1]); break;
          case 2: alpha[1] = alpha[0]; break;
          default: break;
        }
      }
      out.insert(out.end(), alpha, alpha + 8);
    }
    uint16_t c0 = static_cast<uint16_t>(rng());
    uint16_t c1 = static_cast<uint16_t>(rng());
    // Four-colour mode (c0 > c1), three-colour mode (c0 < c1) and equal endpoints.
    switch (rng() % 4) {
      case 0: if (c0 < c1) std::swap(c0, c1); break;
      case 1: if (c0 > c1) std::swap(c0, c1); break;
      case 2: c1 = c0; break;
      default: break;
    }
    out.push_back(static_cast<uint8_t>(c0));
    out.push_back(static_cast<uint8_t>(c0 >> 8));
    out.push_back(static_cast<uint8_t>(c1));
    out.push_back(static_cast<uint8_t>(c1 >> 8));
    for (int i = 0; i < 4; ++i) out.push_back(byte());
  }
  return out;
}

}  // namespace velmora::test
