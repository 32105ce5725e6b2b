// Fuzz target: random DXT blocks and image sizes through every decoder path this CPU can run,
// compared byte for byte with the plain reference decoder, untouched destination bytes included.
//
// Input: byte 0 picks the format, bytes 1-2 the width and bytes 3-4 the height (each -8..71),
// the rest are the blocks (repeated when the input is shorter than the image needs).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dexaro/DxtDecode.h"
#include "support/DxtOracle.h"

using velmora::dexaro::DxtFormat;
using velmora::dexaro::DxtPath;
using velmora::test::DxtKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int kindIndex = data[0] % 3;
  const DxtKind kind = kindIndex == 0 ? DxtKind::Dxt1 : kindIndex == 1 ? DxtKind::Dxt3 : DxtKind::Dxt5;
  const DxtFormat format = static_cast<DxtFormat>(kindIndex);
  const int32_t width = static_cast<int32_t>((data[1] | data[2] << 8) % 80) - 8;
  const int32_t height = static_cast<int32_t>((data[3] | data[4] << 8) % 80) - 8;
  data += 5;
  size -= 5;

  // The source holds exactly the whole blocks the image needs, so reading one byte more is a
  // sanitizer report.
  std::vector<uint8_t> src(velmora::test::DxtSourceBytes(kind, width, height));
  for (size_t i = 0; i < src.size(); ++i) src[i] = size ? data[i % size] : static_cast<uint8_t>(i * 131);

  const size_t pixels = width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
  std::vector<uint8_t> expected(pixels * 4);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 + 3);
  velmora::test::OracleDecodeImage(kind, src.data(), width, height, expected.data());

  for (DxtPath path : velmora::dexaro::kAllPaths) {
    if (!velmora::dexaro::PathAvailable(path)) continue;
    std::vector<uint8_t> actual(pixels * 4);
    for (size_t i = 0; i < actual.size(); ++i) actual[i] = static_cast<uint8_t>(i * 7 + 3);
    velmora::dexaro::DecodeImage(path, format, src.empty() ? nullptr : src.data(), width, height,
                                 actual.empty() ? nullptr : actual.data());
    if (actual != expected) std::abort();
  }
  return 0;
}
