// Shared pieces of the view tests.
#include "ViewHarness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdlib>
#include <memory>

#include "archive/Zanth.h"
#include "support/BlpWriter.h"
#include "support/EglContext.h"
#include "support/MpqWriter.h"

namespace velmora::test {

namespace {
std::unique_ptr<QGuiApplication> gApp;
}

int RunViewTests(int argc, char** argv) {
  EglContext::PinMesaDriver();
  ::testing::InitGoogleTest(&argc, argv);
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    gApp = std::make_unique<QGuiApplication>(argc, argv);
  }
  const int result = RUN_ALL_TESTS();
  gApp.reset();
  return result;
}

bool HaveDisplay() { return gApp != nullptr; }

void SettleEvents() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 100) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

bool ShowPanel(TRenderPanel& panel, int x, int y, int w, int h) {
  panel.setFlags(Qt::Window | Qt::FramelessWindowHint);
  panel.setGeometry(x, y, w, h);
  panel.show();
  QElapsedTimer timer;
  timer.start();
  while (!panel.isExposed() && timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  SettleEvents();
  return panel.isExposed();
}

RgbaImage GrabPanel(const TRenderPanel& panel) {
  const QPoint origin = panel.mapToGlobal(QPoint(0, 0));
  QScreen* screen = panel.screen() != nullptr ? panel.screen() : QGuiApplication::primaryScreen();
  const QImage image = screen->grabWindow(0, origin.x(), origin.y(), panel.width(), panel.height())
                           .toImage()
                           .convertToFormat(QImage::Format_RGBA8888);
  RgbaImage out;
  out.width = image.width();
  out.height = image.height();
  out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
  for (int y = 0; y < out.height; ++y) {
    const uchar* row = image.constScanLine(y);
    std::copy(row, row + out.width * 4, out.pixels.begin() + static_cast<std::ptrdiff_t>(y) * out.width * 4);
  }
  return out;
}

RgbaImage Filled(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  RgbaImage out;
  out.width = w;
  out.height = h;
  for (int i = 0; i < w * h; ++i) out.pixels.insert(out.pixels.end(), {r, g, b, a});
  return out;
}

TTextureArchive::TTextureArchive() { CreateArchiveIndex(); }

TTextureArchive::~TTextureArchive() { FreeArchiveIndex(); }

void TTextureArchive::Add(const std::string& name, const RgbaImage& image) {
  BlpFile blp;
  blp.compression = 3;
  blp.alphaBits = 8;
  blp.alphaType = 8;
  blp.hasMips = 0;
  blp.withPalette = false;
  blp.width = static_cast<std::uint32_t>(image.width);
  blp.height = static_cast<std::uint32_t>(image.height);
  std::string level;
  for (std::size_t i = 0; i + 3 < image.pixels.size(); i += 4) {
    // Uncompressed BLP2 texels are stored blue, green, red, alpha.
    level += static_cast<char>(image.pixels[i + 2]);
    level += static_cast<char>(image.pixels[i + 1]);
    level += static_cast<char>(image.pixels[i + 0]);
    level += static_cast<char>(image.pixels[i + 3]);
  }
  blp.levels.push_back(level);
  files_.emplace_back(name, WriteBlp(blp));
}

void TTextureArchive::Open() {
  std::vector<MpqMember> members;
  for (const auto& [name, bytes] : files_) members.push_back({name, bytes});
  const auto path = dir_.path() / "textures.mpq";
  WriteMpq(path, members, ListFileOf(members));
  TArchiveHandle archive;
  ASSERT_TRUE(OpenMpqArchive(path.string(), archive)) << path;
  const MpqHandle handle = archive.Get();
  MpqList->Append(std::move(archive));
  ASSERT_TRUE(LoadListFile(handle, nullptr));
}

TWorkingDir::TWorkingDir(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

TWorkingDir::~TWorkingDir() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

std::filesystem::path SourceDir() {
  if (const char* env = std::getenv("VELMORA_SOURCE_DIR")) return env;
  return VELMORA_TEST_SOURCE_DIR;
}

}  // namespace velmora::test
