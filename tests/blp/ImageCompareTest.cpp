// The pixel comparison that the loader tests rely on, and PNG loading through QImage.
#include <gtest/gtest.h>

#include <QImage>

#include "support/ImageCompare.h"
#include "support/TestData.h"

namespace velmora::test {
namespace {

RgbaImage Filled(int w, int h, std::uint8_t v) {
  RgbaImage img;
  img.width = w;
  img.height = h;
  img.pixels.assign(static_cast<std::size_t>(w * h * 4), v);
  return img;
}

void Set(RgbaImage& img, int x, int y, std::array<std::uint8_t, 4> p) {
  std::copy(p.begin(), p.end(), img.pixels.begin() + (y * img.width + x) * 4);
}

TEST(ImageCompare, identical_images_match) { EXPECT_TRUE(PixelsMatch(Filled(5, 3, 7), Filled(5, 3, 7))); }

TEST(ImageCompare, one_channel_off_by_one_fails_and_says_where_and_what) {
  RgbaImage want = Filled(5, 3, 0), got = Filled(5, 3, 0);
  Set(want, 3, 1, {10, 20, 30, 40});
  Set(got, 3, 1, {11, 20, 30, 40});
  const auto r = PixelsMatch(want, got);
  ASSERT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("(3, 1) expected 10,20,30,40 got 11,20,30,40"), std::string::npos)
      << r.message();
  EXPECT_NE(std::string(r.message()).find("1 of 15 pixels"), std::string::npos) << r.message();
}

TEST(ImageCompare, difference_within_tolerance_matches_and_beyond_fails) {
  RgbaImage want = Filled(4, 4, 100), got = Filled(4, 4, 100);
  Set(got, 0, 0, {102, 98, 100, 100});
  EXPECT_TRUE(PixelsMatch(want, got, 2));
  EXPECT_FALSE(PixelsMatch(want, got, 1));
}

TEST(ImageCompare, last_pixel_of_last_row_is_compared) {
  for (int channel = 0; channel < 4; ++channel) {
    RgbaImage want = Filled(7, 5, 0), got = Filled(7, 5, 0);
    got.pixels[got.pixels.size() - 4 + static_cast<std::size_t>(channel)] = 1;
    EXPECT_FALSE(PixelsMatch(want, got)) << "channel " << channel;
  }
}

TEST(ImageCompare, size_difference_fails) {
  const auto r = PixelsMatch(Filled(4, 4, 0), Filled(4, 2, 0));
  ASSERT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("size differs"), std::string::npos);
}

TEST(ImageCompare, short_pixel_buffer_fails_instead_of_reading_past_it) {
  RgbaImage got = Filled(4, 4, 0);
  got.pixels.resize(10);
  EXPECT_FALSE(PixelsMatch(Filled(4, 4, 0), got));
}

TEST(ImageCompare, png_loads_unpremultiplied_rgba_rows_top_down) {
  TempDir dir;
  QImage image(3, 2, QImage::Format_RGBA8888);
  image.fill(Qt::transparent);
  image.setPixelColor(2, 0, QColor(200, 100, 50, 128));
  image.setPixelColor(0, 1, QColor(1, 2, 3, 255));
  const auto path = dir.path() / "a.png";
  ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
  const RgbaImage img = LoadPng(path);
  ASSERT_EQ(img.width, 3);
  ASSERT_EQ(img.height, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(img.At(2, 0), img.At(2, 0) + 4), (std::vector<std::uint8_t>{200, 100, 50, 128}));
  EXPECT_EQ(std::vector<std::uint8_t>(img.At(0, 1), img.At(0, 1) + 4), (std::vector<std::uint8_t>{1, 2, 3, 255}));
}

TEST(ImageCompare, missing_png_has_width_0) { EXPECT_EQ(LoadPng("/nonexistent/x.png").width, 0); }

}  // namespace
}  // namespace velmora::test
