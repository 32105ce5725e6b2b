// Pixel comparison and PNG loading for tests.
#include "support/ImageCompare.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <QImage>
#include <QString>

namespace velmora::test {

RgbaImage LoadPng(const std::filesystem::path& path) {
  QImage image(QString::fromStdString(path.string()));
  RgbaImage out;
  if (image.isNull()) return out;
  // Non-premultiplied, byte order R, G, B, A whatever the file's own format.
  image = image.convertToFormat(QImage::Format_RGBA8888);
  out.width = image.width();
  out.height = image.height();
  const std::size_t row = static_cast<std::size_t>(out.width) * 4;
  out.pixels.resize(row * static_cast<std::size_t>(out.height));
  for (int y = 0; y < out.height; ++y) {
    const uchar* src = image.constScanLine(y);
    std::copy(src, src + row, out.pixels.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(y)));
  }
  return out;
}

::testing::AssertionResult PixelsMatch(const RgbaImage& expected, const RgbaImage& actual, int tolerance,
                                       int maxListed) {
  if (expected.width != actual.width || expected.height != actual.height) {
    return ::testing::AssertionFailure() << "size differs: expected " << expected.width << " x " << expected.height
                                         << ", got " << actual.width << " x " << actual.height;
  }
  const std::size_t bytes = static_cast<std::size_t>(expected.width) * static_cast<std::size_t>(expected.height) * 4;
  if (expected.pixels.size() < bytes || actual.pixels.size() < bytes) {
    return ::testing::AssertionFailure() << "pixel buffer shorter than " << expected.width << " x " << expected.height;
  }
  std::ostringstream list;
  std::size_t differing = 0;
  int maxDelta = 0;
  for (int y = 0; y < expected.height; ++y) {
    for (int x = 0; x < expected.width; ++x) {
      const std::uint8_t* e = expected.At(x, y);
      const std::uint8_t* a = actual.At(x, y);
      int delta = 0;
      for (int c = 0; c < 4; ++c) delta = std::max(delta, std::abs(int{e[c]} - int{a[c]}));
      if (delta <= tolerance) continue;
      maxDelta = std::max(maxDelta, delta);
      if (differing++ < static_cast<std::size_t>(maxListed)) {
        list << "\n  (" << x << ", " << y << ") expected " << int{e[0]} << ',' << int{e[1]} << ',' << int{e[2]} << ','
             << int{e[3]} << " got " << int{a[0]} << ',' << int{a[1]} << ',' << int{a[2]} << ',' << int{a[3]};
      }
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " of " << expected.width * expected.height
                                       << " pixels differ by more than " << tolerance << " (largest difference "
                                       << maxDelta << "):" << list.str();
}

}  // namespace velmora::test
