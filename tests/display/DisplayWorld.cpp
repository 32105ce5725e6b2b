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

namespace {

constexpr const char* kHive =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
    "[Software\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n"
    "\"InstallPath\"=\"C:\\\\Games\\\\WoW\\\\\"\n";

fs::path SourceDir() {
  if (const char* env = std::getenv("VELMORA_SOURCE_DIR"); env != nullptr && *env != '\0') return env;
  return VELMORA_TEST_SOURCE_DIR;
}

}  // namespace

TDisplayWorld::TDisplayWorld(const std::vector<MpqMember>& members, const std::string& listfile,
                             const std::vector<std::string>& shaders) {
  prefix_ = tmp_.path() / "prefix";
  const fs::path data = prefix_ / "drive_c/Games/WoW/Data";
  work_ = tmp_.path() / "work";
  fs::create_directories(data);
  fs::create_directories(prefix_ / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix_ / "dosdevices/c:");
  std::ofstream(prefix_ / "system.reg") << kHive;
  WriteMpq(data / "display.MPQ", members, listfile.empty() ? ListFileOf(members) : listfile);

  fs::create_directories(work_ / "shader");
  for (const std::string& name : shaders) {
    fs::copy_file(SourceDir() / "shader" / name, work_ / "shader" / name);
  }
  std::ofstream(work_ / "mpqToLoad.txt", std::ios::binary) << "Data\\display.MPQ\r\n";

  oldCwd_ = fs::current_path();
  fs::current_path(work_);
  if (const char* p = std::getenv("WINEPREFIX")) oldPrefix_ = p;
  ::setenv("WINEPREFIX", prefix_.c_str(), 1);
  InitLogFilesAt((tmp_.path() / "exe").string(), std::time(nullptr));
  CreateLogLock();
  // The window remembers its settings per user: each world starts from none of its own.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((tmp_.path() / "config").string()));
}

TDisplayWorld::~TDisplayWorld() {
  DestroyLogLock();
  std::error_code ec;
  fs::current_path(oldCwd_, ec);
  if (oldPrefix_) {
    ::setenv("WINEPREFIX", oldPrefix_->c_str(), 1);
  } else {
    ::unsetenv("WINEPREFIX");
  }
}

std::vector<std::string> TDisplayWorld::LogMessages() const {
  std::vector<std::string> out;
  std::ifstream in(LogFileName, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    const std::size_t stamp = line.find("] ");
    out.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    pos = end + 2;
  }
  return out;
}

TMessageBoxWatcher::TMessageBoxWatcher() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box != nullptr && box->isVisible()) {
        texts.push_back(box->text());
        box->done(0);
      }
    }
  });
  timer_.start();
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
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
