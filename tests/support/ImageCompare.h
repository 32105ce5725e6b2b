// Pixel comparison for tests: says where and what differs. PNG loading through QImage.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velmora::test {

// Rows top to bottom, each pixel the bytes R, G, B, A.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  const std::uint8_t* At(int x, int y) const { return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4; }
};

// The PNG decoded to unpremultiplied RGBA; width 0 when it cannot be read.
RgbaImage LoadPng(const std::filesystem::path& path);

// Equal size and every channel of every pixel within `tolerance`. On failure the message gives
// the number of differing pixels and, for the first `maxListed`, "(x, y) expected r,g,b,a got
// r,g,b,a".
::testing::AssertionResult PixelsMatch(const RgbaImage& expected, const RgbaImage& actual, int tolerance = 0,
                                       int maxListed = 8);

}  // namespace velmora::test
