// The thumbnail grid as a person uses it, in one window: a folder of solid-colour textures shows
// each colour in the grid (its subfolder's files left out), drawn with the view's channel; a file
// that is no texture and one that stops the grid's archive reader show the broken mark and say why
// while the others show; Enter opens the chosen file in the view; the folder shown again costs no
// new decoding; Ctrl+= makes the thumbnails larger and Ctrl+C copies the chosen file, with the
// keyboard in the tree; the filter's matches show as a grid.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QStackedWidget>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "DisplayWorld.h"
#include "archive/Zanth.h"
#include "blp/ZanthBLP.h"
#include "render/View.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "ui/FilterLine.h"
#include "ui/ThumbnailGrid.h"
#include "ui/ThumbnailPane.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"

namespace velmora::test {
namespace {

using TColour = std::array<std::uint8_t, 4>;  // R, G, B, A

std::string Solid(std::uint8_t compression, std::uint32_t w, std::uint32_t h, bool mips, TColour c) {
  BlpFile file;
  file.compression = compression;
  file.alphaBits = compression == 2 ? 0 : 8;
  file.width = w;
  file.height = h;
  file.hasMips = mips ? 1 : 0;
  file.withPalette = compression == 1;
  // Palette entry 0 is the colour (stored B, G, R, A).
  file.palette[0] = c[2];
  file.palette[1] = c[1];
  file.palette[2] = c[0];
  for (int i = 0; i < (mips ? BlpLevelCount(w, h, true) : 1); ++i) {
    const std::uint32_t lw = std::max(w >> i, 1u), lh = std::max(h >> i, 1u);
    std::string level;
    if (compression == 1) level = std::string(lw * lh, '\0') + std::string(lw * lh, static_cast<char>(c[3]));
    if (compression == 2) {
      // Red as 5:6:5 in both endpoints, every index 0.
      const std::string block = {'\x00', '\xF8', '\x00', '\xF8', 0, 0, 0, 0};
      for (std::uint32_t b = 0; b < ((lw + 3) / 4) * ((lh + 3) / 4); ++b) level += block;
    }
    if (compression == 3) {
      const std::string bgra = {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0]),
                                static_cast<char>(c[3])};
      for (std::uint32_t p = 0; p < lw * lh; ++p) level += bgra;
    }
    file.levels.push_back(level);
  }
  return WriteBlp(file);
}

std::string YellowBlp1() {
  Blp1File file;
  file.compression = 1;
  file.alphaBits = 0;
  file.width = file.height = 32;
  file.pictureSubtype = 0;
  file.palette[0] = 0;
  file.palette[1] = 220;
  file.palette[2] = 230;
  file.levels.push_back(std::string(32 * 32, '\0'));
  return WriteBlp1(file);
}

struct Shown {
  const char* file;
  QColor colour;
  QSize size;
};

// The pixels of `rect` (grid viewport coordinates) on screen.
RgbaImage GridPixels(TThumbnailGrid& grid, const QRect& rect) {
  return GrabScreen(QRect(grid.viewport()->mapToGlobal(rect.topLeft()), rect.size()));
}

// The broken-file mark: a white sheet with a red cross on it.
bool MarkShown(const RgbaImage& image) {
  int red = 0, white = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.At(x, y);
      if (p[0] > 160 && p[1] < 70 && p[2] < 70) ++red;
      if (p[0] == 255 && p[1] == 255 && p[2] == 255) ++white;
    }
  }
  return red > 20 && white > 20;
}

int RowOf(const TThumbnailGrid& grid, const std::string& file) {
  for (std::size_t i = 0; i < grid.Files().size(); ++i) {
    if (std::string_view(grid.Files()[i]->data.fullName).ends_with("\\" + file)) return static_cast<int>(i);
  }
  return -1;
}

TEST(ThumbnailGrid, a_folder_shows_each_colour_its_damaged_files_marked_and_enter_opens_the_chosen_file) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TButtonFace face;
  const std::vector<MpqMember> members = {
      {"Textures\\Solid\\red.blp", Solid(2, 256, 256, true, {255, 0, 0, 255})},
      {"Textures\\Solid\\green.blp", Solid(1, 64, 64, false, {0, 200, 0, 255})},
      {"Textures\\Solid\\blue.blp", Solid(3, 300, 200, true, {20, 40, 220, 255})},
      {"Textures\\Solid\\half.blp", Solid(3, 128, 128, true, {200, 100, 50, 128})},
      {"Textures\\Solid\\yellow.blp", YellowBlp1()},
      {"Textures\\Solid\\damaged.blp", "this is no texture at all"},
      {"Textures\\Solid\\velmora-fault-crash.blp", Solid(3, 16, 16, false, {1, 2, 3, 255})},
      {"Textures\\Solid\\Sub\\other.blp", Solid(3, 16, 16, false, {9, 9, 9, 255})},
  };
  TDisplayWorld world(members);
  TMessageBoxWatcher boxes;
  TForm1 form;
  form.resize(1100, 760);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  ASSERT_TRUE(WaitFor([&] { return form.LoadingFinished(); }));
  // Window shortcuts need the window active; without a window manager it asks X itself.
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_NE(form.Thumbnails(), nullptr);
  TThumbnailGrid& grid = *form.Thumbnails()->Grid();
  // The grid's reader crashes on the file named for it (a test build of the reader).
  grid.SetReaderProgram(VELMORA_FAULT_READER);

  ClickNode(form, {"TEXTURES", "SOLID"});
  ASSERT_TRUE(form.Thumbnails()->GridShown());
  ASSERT_TRUE(grid.isVisible()) << "the grid does not take the view's place";
  EXPECT_FALSE(ViewBox->isVisible());
  ASSERT_EQ(grid.Files().size(), 7u) << "the subfolder's file or a file is missing";
  EXPECT_EQ(RowOf(grid, "other.blp"), -1) << "a subfolder's file is in the folder's grid";
  ASSERT_TRUE(WaitFor([&] { return grid.VisibleComplete(); }, 30000)) << "the visible thumbnails never came";
  ASSERT_EQ(grid.VisibleRows().size(), 7u) << "the window is too small for the test";
  Settle(200);

  // Level 0 over the window's colour where it is not opaque; the picture never enlarged.
  const std::vector<Shown> shown = {
      {"red.blp", QColor(255, 0, 0), {128, 128}},
      {"green.blp", QColor(0, 200, 0), {64, 64}},
      {"blue.blp", QColor(20, 40, 220), {128, 85}},
      {"half.blp", QColor((200 * 128 + kFace.red() * 127 + 127) / 255, (100 * 128 + kFace.green() * 127 + 127) / 255,
                          (50 * 128 + kFace.blue() * 127 + 127) / 255),
       {128, 128}},
      {"yellow.blp", QColor(230, 220, 0), {32, 32}},
  };
  for (const Shown& s : shown) {
    SCOPED_TRACE(s.file);
    const int row = RowOf(grid, s.file);
    ASSERT_GE(row, 0);
    const QRect rect = grid.PictureRect(row);
    EXPECT_EQ(rect.size(), s.size);
    EXPECT_TRUE(ScreenShows(QRect(grid.viewport()->mapToGlobal(rect.topLeft()), rect.size()), s.colour));
    EXPECT_FALSE(MarkShown(GridPixels(grid, grid.visualRect(grid.model()->index(row, 0)))));
  }
  // The damaged ones: the mark in their cell, why in their tooltip; the others showed all the same.
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"damaged.blp", "not a BLP2 file"},
      {"velmora-fault-crash.blp", "reading Textures\\Solid\\velmora-fault-crash.blp stopped the archive reader: crash"}};
  for (const auto& [file, why] : broken) {
    SCOPED_TRACE(file);
    const int row = RowOf(grid, file);
    ASSERT_GE(row, 0);
    EXPECT_TRUE(grid.PictureRect(row).isEmpty());
    EXPECT_TRUE(MarkShown(GridPixels(grid, grid.visualRect(grid.model()->index(row, 0))))) << "no broken mark";
    EXPECT_TRUE(grid.ToolTipOf(row).contains(QString::fromStdString(why))) << grid.ToolTipOf(row).toStdString();
    EXPECT_TRUE(grid.ToolTipOf(row).startsWith(QString::fromStdString("Textures\\Solid\\" + file)))
        << grid.ToolTipOf(row).toStdString();
  }
  bool logged = false;
  for (const std::string& line : world.LogMessages()) {
    logged |= line.find("while reading Textures\\Solid\\velmora-fault-crash.blp") != std::string::npos;
  }
  EXPECT_TRUE(logged) << "the stop of the grid's reader is not in the log";

  // Alpha as grey: the half-transparent picture shows its alpha, the opaque ones white.
  form.ViewControls()->SetChannel(TChannel::kAlpha);
  EXPECT_TRUE(ScreenShows(QRect(grid.viewport()->mapToGlobal(grid.PictureRect(RowOf(grid, "half.blp")).topLeft()), QSize(128, 128)),
                          QColor(128, 128, 128)));
  EXPECT_TRUE(ScreenShows(QRect(grid.viewport()->mapToGlobal(grid.PictureRect(RowOf(grid, "red.blp")).topLeft()), QSize(128, 128)),
                          QColor(255, 255, 255)));
  form.ViewControls()->SetChannel(TChannel::kRgba);

  // Enter on the chosen thumbnail: that file is selected in the tree and shown in the view.
  const std::uint64_t made = grid.Loader().Made();
  grid.SetCurrentFile(grid.Files()[static_cast<std::size_t>(RowOf(grid, "green.blp"))]);
  grid.setFocus();
  QTest::keyClick(&grid, Qt::Key_Return);
  Settle(100);
  EXPECT_FALSE(form.Thumbnails()->GridShown());
  EXPECT_TRUE(ViewBox->isVisible());
  const QModelIndex green = FindNode(form, {"TEXTURES", "SOLID", "GREEN.BLP"});
  EXPECT_EQ(form.VirtualStringTreeView->currentIndex(), green);
  ASSERT_TRUE(CurrentTexture);
  EXPECT_EQ(CurrentTexture->fname(), "Textures\\Solid\\green.blp");
  RgbaImage greenPicture{64, 64, {}};
  for (int i = 0; i < 64 * 64; ++i) greenPicture.pixels.insert(greenPicture.pixels.end(), {0, 200, 0, 255});
  // The first texture shown came while the grid covered the view.
  EXPECT_TRUE(PanelShows(greenPicture));

  // The folder again: its thumbnails come from the cache.
  ClickNode(form, {"TEXTURES", "SOLID"});
  ASSERT_TRUE(WaitFor([&] { return grid.VisibleComplete(); }, 30000));
  Settle(100);
  EXPECT_EQ(grid.Loader().Made(), made) << "the folder shown again was decoded again";
  EXPECT_TRUE(ScreenShows(QRect(grid.viewport()->mapToGlobal(grid.PictureRect(RowOf(grid, "red.blp")).topLeft()), QSize(128, 128)),
                          QColor(255, 0, 0)));

  // Ctrl+= with the keyboard in the tree: larger thumbnails, made anew at their size.
  form.VirtualStringTreeView->setFocus();
  QTest::keyClick(form.VirtualStringTreeView, Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(grid.Side(), TThumbnailGrid::kDefaultSide + TThumbnailGrid::kSideStep);
  EXPECT_EQ(form.ViewControls()->State().zoom, 1) << "the hidden view zoomed as well";
  ASSERT_TRUE(WaitFor([&] { return grid.VisibleComplete(); }, 30000));
  Settle(100);
  const QRect larger = grid.PictureRect(RowOf(grid, "red.blp"));
  EXPECT_EQ(larger.size(), QSize(160, 160));
  EXPECT_TRUE(ScreenShows(QRect(grid.viewport()->mapToGlobal(larger.topLeft()), larger.size()), QColor(255, 0, 0)));

  // Ctrl+C copies the current thumbnail's file, not the level the hidden view shows.
  grid.SetCurrentFile(grid.Files()[static_cast<std::size_t>(RowOf(grid, "blue.blp"))]);
  QTest::keyClick(form.VirtualStringTreeView, Qt::Key_C, Qt::ControlModifier);
  const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGBA8888);
  EXPECT_EQ(copied.size(), QSize(300, 200));
  EXPECT_EQ(copied.pixelColor(0, 0), QColor(20, 40, 220));
  EXPECT_EQ(copied.pixelColor(299, 199), QColor(20, 40, 220));

  // The filter's matches as a grid: every file it lets through, the subfolder's included.
  form.FilterLine()->Open();
  form.FilterLine()->setText("solid");
  form.Thumbnails()->MatchesAction()->setChecked(true);
  Settle(100);
  ASSERT_TRUE(form.Thumbnails()->GridShown());
  EXPECT_EQ(grid.Files().size(), 8u);
  EXPECT_GE(RowOf(grid, "other.blp"), 0);
  form.Thumbnails()->MatchesAction()->setChecked(false);
  form.FilterLine()->Close();
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("; ").toStdString();
}

}  // namespace
}  // namespace velmora::test
