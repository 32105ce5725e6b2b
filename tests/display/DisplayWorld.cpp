// Shared pieces of the display tests.
#include "DisplayWorld.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "log/LogHandler.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"

namespace fs = std::filesystem;

namespace velmora::test {

TDisplayWorld::TDisplayWorld(const std::vector<MpqMember>& members, const std::string& listfile,
                             const std::vector<std::string>& shaders)
    : TScratchWorld(shaders) {
  Hive(std::string(kWowKey) + kInstallValue);
  WriteMpq(game() / "Data/display.MPQ", members, listfile.empty() ? ListFileOf(members) : listfile);
  MpqToLoad("Data\\display.MPQ\r\n");
}

void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

QModelIndex FindNode(const TForm1& form, const QStringList& path) {
  const TTreeModel& model = *form.VirtualStringTree;
  QModelIndex parent;
  for (const QString& name : path) {
    QModelIndex found;
    for (int row = 0; row < model.rowCount(parent) && !found.isValid(); ++row) {
      const QModelIndex index = model.index(row, 0, parent);
      if (model.data(index).toString() == name) found = index;
    }
    if (!found.isValid()) return {};
    parent = found;
  }
  return parent;
}

void ClickNode(TForm1& form, const QModelIndex& index) {
  ASSERT_TRUE(index.isValid()) << "no such node";
  QTreeView* view = form.VirtualStringTreeView;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) view->expand(p);
  view->scrollTo(index);
  QApplication::processEvents();
  const QRect rect = view->visualRect(index);
  ASSERT_FALSE(rect.isEmpty()) << "the node is not shown";
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  QApplication::processEvents();
}

void ClickNode(TForm1& form, const QStringList& path) {
  const QModelIndex index = FindNode(form, path);
  ASSERT_TRUE(index.isValid()) << "no node " << path.join('\\').toStdString();
  ClickNode(form, index);
}

RgbaImage GrabScreen(const QRect& globalRect) {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QImage image = screen->grabWindow(0, globalRect.x(), globalRect.y(), globalRect.width(), globalRect.height())
                           .toImage()
                           .convertToFormat(QImage::Format_RGBA8888);
  RgbaImage out;
  out.width = image.width();
  out.height = image.height();
  out.pixels.reserve(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
  for (int y = 0; y < out.height; ++y) {
    const uchar* row = image.constScanLine(y);
    out.pixels.insert(out.pixels.end(), row, row + out.width * 4);
  }
  for (std::size_t i = 3; i < out.pixels.size(); i += 4) out.pixels[i] = 255;
  return out;
}

RgbaImage Crop(const RgbaImage& image, const QRect& rect) {
  RgbaImage out;
  out.width = rect.width();
  out.height = rect.height();
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    const std::uint8_t* row = image.At(rect.left(), y);
    out.pixels.insert(out.pixels.end(), row, row + rect.width() * 4);
  }
  return out;
}

RgbaImage BlendedOver(const RgbaImage& texture, const QColor& background) {
  RgbaImage out = texture;
  const int face[3] = {background.red(), background.green(), background.blue()};
  for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
    const double a = texture.pixels[i + 3] / 255.0;
    for (std::size_t c = 0; c < 3; ++c) {
      out.pixels[i + c] = static_cast<std::uint8_t>(std::lround(texture.pixels[i + c] * a + face[c] * (1 - a)));
    }
    out.pixels[i + 3] = 255;
  }
  return out;
}

QRect VisiblePanelRect() {
  if (!ViewBox || !RenderPanelHost) return {};
  const QWidget* viewport = ViewBox->viewport();
  // The host lies in the viewport at its (zero or negative) scroll offset.
  const QRect shown(-RenderPanelHost->pos(), viewport->size());
  return shown.intersected(RenderPanelHost->rect());
}

::testing::AssertionResult PanelShows(const RgbaImage& picture, int tolerance, int ms) {
  ::testing::AssertionResult last = ::testing::AssertionFailure() << "nothing compared";
  QElapsedTimer clock;
  clock.start();
  do {
    Settle(30);
    const QRect visible = VisiblePanelRect();
    if (visible.isEmpty()) return ::testing::AssertionFailure() << "no part of the panel is shown";
    if (picture.width != RenderPanelHost->width() || picture.height != RenderPanelHost->height()) {
      return ::testing::AssertionFailure() << "the panel is " << RenderPanelHost->width() << " x "
                                           << RenderPanelHost->height() << ", the picture " << picture.width
                                           << " x " << picture.height;
    }
    const QRect global(RenderPanelHost->mapToGlobal(visible.topLeft()), visible.size());
    last = PixelsMatch(Crop(picture, visible), GrabScreen(global), tolerance);
    if (last) return last;
  } while (clock.elapsed() < ms);
  return last << " (panel part " << VisiblePanelRect().x() << "," << VisiblePanelRect().y() << " "
              << VisiblePanelRect().width() << " x " << VisiblePanelRect().height() << ")";
}

::testing::AssertionResult ScreenShows(const QRect& globalRect, const QColor& colour, int ms) {
  RgbaImage expected;
  expected.width = globalRect.width();
  expected.height = globalRect.height();
  for (int i = 0; i < expected.width * expected.height; ++i) {
    expected.pixels.insert(expected.pixels.end(),
                           {static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
                            static_cast<std::uint8_t>(colour.blue()), 255});
  }
  ::testing::AssertionResult last = ::testing::AssertionFailure();
  QElapsedTimer clock;
  clock.start();
  do {
    Settle(30);
    last = PixelsMatch(expected, GrabScreen(globalRect));
    if (last) return last;
  } while (clock.elapsed() < ms);
  // VELMORA_DISPLAY_DUMP=file.png keeps the whole screen of a failed check, to look at.
  if (const char* dump = std::getenv("VELMORA_DISPLAY_DUMP")) QGuiApplication::primaryScreen()->grabWindow(0).save(dump);
  return last;
}

}  // namespace velmora::test
