// The decoders the tests run: the library's exports and each instruction-set path on its own,
// plus the byte comparison that reports where two images differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/DxtOracle.h"

namespace velmora::test {

struct DecoderUnderTest {
  std::string name;
  bool available;  // false for a path this CPU cannot run
  std::function<void(DxtKind, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst)> decode;
};

// "oracle" first (so the rule tables check it too), then "exports", then every path.
std::vector<DecoderUnderTest> AllDecoders();

// The decoders under test without the oracle.
std::vector<DecoderUnderTest> LibraryDecoders();

// Empty when equal; otherwise the first differing byte as pixel (x, y) of a width-wide RGBA
// image laid out from `origin` bytes into the buffers, channel and both values.
std::string FirstDifference(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual,
                            std::size_t origin = 0, int32_t width = 0);

// Random blocks with both colour modes, both DXT5 alpha modes and equal endpoints frequent.
std::vector<uint8_t> RandomBlocks(DxtKind kind, std::size_t count, uint32_t seed);

}  // namespace velmora::test
