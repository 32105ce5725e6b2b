// The view on a desktop scaled by 2 (this program runs with QT_SCALE_FACTOR=2): at 100% one texel
// is one device pixel, odd sizes included, and zoom steps give N x N device pixels per texel. The
// screen is read back in device pixels and compared with the expected texels.
#include <QApplication>
#include <QCursor>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "DisplayWorld.h"
#include "render/View.h"
#include "support/BlpWriter.h"
#include "ui/ScrollBox.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"
#include "ui/ViewStrip.h"

namespace velmora::test {
namespace {

// What `device` x `device` pixels from the zoomed level's corner show: the texel under each
// pixel over the window's colour, and the window's colour past the level's last texel.
RgbaImage Expected(const RgbaImage& level, double zoom, int width, int height) {
  const RgbaImage blended = BlendedOver(level, kFace);
  RgbaImage out;
  out.width = width;
  out.height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int tx = static_cast<int>(std::floor((x + 0.5) / zoom));
      const int ty = static_cast<int>(std::floor((y + 0.5) / zoom));
      if (tx < level.width && ty < level.height) {
        const std::uint8_t* p = blended.At(tx, ty);
        out.pixels.insert(out.pixels.end(), {p[0], p[1], p[2], 255});
      } else {
        out.pixels.insert(out.pixels.end(), {static_cast<std::uint8_t>(kFace.red()), static_cast<std::uint8_t>(kFace.green()),
                                             static_cast<std::uint8_t>(kFace.blue()), 255});
      }
    }
  }
  return out;
}

TEST(HiDpi, at_100_percent_one_texel_is_one_device_pixel_at_scale_factor_2) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile odd = RandomBlp(3, 8, 8, 7, 5, 0, 101);
  const BlpFile even = RandomBlp(3, 8, 8, 8, 6, 0, 102);
  TButtonFace face;
  TDisplayWorld world({{"Textures\\Odd.blp", WriteBlp(odd)}, {"Textures\\Even.blp", WriteBlp(even)}});
  TMessageBoxWatcher boxes;
  TForm1 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  ASSERT_TRUE(WaitFor([&] { return form.LoadingFinished(); }));
  ASSERT_EQ(form.devicePixelRatioF(), 2) << "the desktop is not scaled by 2";
  // The screen is 640 x 512 of the window's pixels here: the window goes where it fits.
  form.setGeometry(0, 0, 600, 460);
  Settle();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

  struct TRow {
    const char* name;
    const BlpFile* file;
    bool zoomIn;  // Ctrl+= first: 200%
    bool plain;   // the plain drawing calls do it (panel pixels match texels)
  } rows[] = {{"ODD.BLP", &odd, false, false}, {"EVEN.BLP", &even, false, true}, {"ODD.BLP", &odd, true, false}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(std::string(row.name) + (row.zoomIn ? " at 200%" : " at 100%"));
    ClickNode(form, QStringList{"TEXTURES", row.name});
    ASSERT_TRUE(CurrentTexture);
    form.ViewControls()->ActualSize();
    if (row.zoomIn) {
      QTest::keyClick(form.VirtualStringTreeView, Qt::Key_Equal, Qt::ControlModifier);
      QApplication::processEvents();
    }
    const double zoom = form.ViewControls()->State().zoom;
    ASSERT_EQ(zoom, row.zoomIn ? 2 : 1);
    const int w = static_cast<int>(row.file->width), h = static_cast<int>(row.file->height);
    // The canvas takes half the device pixels in the window's own pixels, rounded up.
    const QSize canvas(static_cast<int>(std::ceil(w * zoom / 2)), static_cast<int>(std::ceil(h * zoom / 2)));
    EXPECT_EQ(ViewBox->widget()->size(), canvas);
    EXPECT_EQ(form.View().PlainDrawing(), row.plain);
    const RgbaImage level = ExpectedLevel(*row.file, row.file->levels[0], static_cast<std::uint32_t>(w),
                                          static_cast<std::uint32_t>(h), DxtRules::Standard);
    const RgbaImage expected = Expected(level, zoom, canvas.width() * 2, canvas.height() * 2);
    const QRect global(ViewBox->widget()->mapToGlobal(QPoint(0, 0)), canvas);
    ::testing::AssertionResult same = ::testing::AssertionFailure();
    for (int attempt = 0; attempt < 50 && !same; ++attempt) {
      Settle(30);
      const RgbaImage grabbed = GrabScreen(global);
      if (grabbed.width != expected.width) {
        same = ::testing::AssertionFailure() << "the screen was read as " << grabbed.width << " x " << grabbed.height
                                             << ", not in device pixels";
        continue;
      }
      same = PixelsMatch(expected, grabbed, 1);
    }
    EXPECT_TRUE(same);
    EXPECT_TRUE(ViewBox->Strip()->Readout().contains(zoom == 1 ? "zoom 100% (1 texel : 1 pixel)" : "zoom 200% (1 texel : 2 x 2 pixels)"))
        << ViewBox->Strip()->Readout().toStdString();
  }
  // The pointer 3 window pixels right and 1 down lies over device pixel (6, 2): at 200% texel (3, 1).
  QCursor::setPos(ViewBox->widget()->mapToGlobal(QPoint(3, 1)));
  EXPECT_TRUE(WaitFor([&] { return form.StatusText(1) == "3:1"; }, 3000)) << form.StatusText(1).toStdString();
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("; ").toStdString();
}

}  // namespace
}  // namespace velmora::test
