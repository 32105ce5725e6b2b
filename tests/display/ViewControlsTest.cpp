// The view's controls as a person uses them, on the real window: zoom steps giving N x N pixels per
// texel, the backgrounds behind alpha, single channels on every encoding and both DXT paths, mip
// levels, the wheel, dragging and Ctrl+wheel, the texel readout, the notices for files that
// cannot be shown, and BLP1 files (made here, and the minimap of a real map dropped on the window)
// through all of it. The screen is compared with the expected picture of whatever part is in view.
#include "render/View.h"  // first: the program's GL names before any Qt GL header

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <QWheelEvent>

#undef GL_ARB_texture_compression

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "DisplayWorld.h"
#include "archive/Zanth.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/JpegReference.h"
#include "support/JpegTools.h"
#include "ui/ExportActions.h"
#include "ui/ScrollBox.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"
#include "ui/ViewStrip.h"

namespace velmora::test {
namespace {

// A window on a world of named textures, shown and loaded.
class TViewWorld {
public:
  // `alsoListed`: a name the listfile holds but the archive does not.
  explicit TViewWorld(const std::vector<std::pair<std::string, std::string>>& files, const std::string& alsoListed = {})
      : world_(Members(files), alsoListed.empty() ? std::string() : ListFileOf(Members(files)) + "\r\nTextures\\" + alsoListed),
        form_(std::make_unique<TForm1>()) {}
  bool Start() {
    form_->show();
    if (!QTest::qWaitForWindowExposed(form_.get())) return false;
    // Window shortcuts need the window active; without a window manager it asks X itself.
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get())) return false;
    const bool loaded = WaitFor([this] { return form_->LoadingFinished(); });
    Settle();
    return loaded;
  }
  TForm1& form() { return *form_; }
  TViewControls& controls() { return *form_->ViewControls(); }
  void Select(const std::string& name, bool softwareDxt = false) {
    GL_ARB_texture_compression = !softwareDxt;
    ClickNode(*form_, QStringList{"TEXTURES", QString::fromStdString(name).toUpper()});
    GL_ARB_texture_compression = true;
  }
  // Ctrl + key, sent to the tree, which keeps the focus.
  void Press(int key, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
    QTest::keyClick(form_->VirtualStringTreeView, static_cast<Qt::Key>(key), mods);
    QApplication::processEvents();
  }

  TMessageBoxWatcher boxes;

private:
  static std::vector<MpqMember> Members(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<MpqMember> members;
    for (const auto& [name, bytes] : files) members.push_back({"Textures\\" + name, bytes});
    return members;
  }
  TButtonFace face_;
  TDisplayWorld world_;
  std::unique_ptr<TForm1> form_;
};

using TPixel = std::array<int, 3>;

// What the view should show at pixel (x, y) of the zoomed level: the texel under the pixel's
// centre, as the channel shows it, over the background.
struct TPicture {
  RgbaImage level;
  double zoom = 1;
  TChannel channel = TChannel::kRgba;
  TBackground background = TBackground::kWindow;

  TPixel At(int x, int y) const {
    const int tx = std::min(static_cast<int>(std::floor((x + 0.5) / zoom)), level.width - 1);
    const int ty = std::min(static_cast<int>(std::floor((y + 0.5) / zoom)), level.height - 1);
    const std::uint8_t* t = level.At(tx, ty);
    switch (channel) {
      case TChannel::kRgb: return {t[0], t[1], t[2]};
      case TChannel::kRed: return {t[0], t[0], t[0]};
      case TChannel::kGreen: return {t[1], t[1], t[1]};
      case TChannel::kBlue: return {t[2], t[2], t[2]};
      case TChannel::kAlpha: return {t[3], t[3], t[3]};
      case TChannel::kRgba: break;
    }
    TPixel back{kFace.red(), kFace.green(), kFace.blue()};
    if (background == TBackground::kBlack) back = {0, 0, 0};
    if (background == TBackground::kWhite) back = {255, 255, 255};
    if (background == TBackground::kChecker) {
      const TRgb c = ((x / kCheckerCell + y / kCheckerCell) % 2 == 0) ? kCheckerLight : kCheckerDark;
      back = {c.r, c.g, c.b};
    }
    const double a = t[3] / 255.0;
    TPixel out;
    for (std::size_t i = 0; i < 3; ++i) out[i] = static_cast<int>(std::lround(t[i] * a + back[i] * (1 - a)));
    return out;
  }
};

// Waits until the part of the zoomed level in view shows `picture`.
::testing::AssertionResult ViewShows(const TPicture& picture, int tolerance) {
  ::testing::AssertionResult last = ::testing::AssertionFailure() << "nothing compared";
  for (int attempt = 0; attempt < 50; ++attempt) {
    Settle(30);
    const QWidget* canvas = ViewBox->widget();
    const QRect shown = canvas->geometry().intersected(ViewBox->viewport()->rect());
    if (shown.isEmpty()) return ::testing::AssertionFailure() << "no part of the level is in view";
    RgbaImage expected;
    expected.width = shown.width();
    expected.height = shown.height();
    for (int y = shown.top(); y <= shown.bottom(); ++y) {
      for (int x = shown.left(); x <= shown.right(); ++x) {
        const TPixel p = picture.At(x - canvas->x(), y - canvas->y());
        expected.pixels.insert(expected.pixels.end(), {static_cast<std::uint8_t>(p[0]), static_cast<std::uint8_t>(p[1]),
                                                       static_cast<std::uint8_t>(p[2]), 255});
      }
    }
    last = PixelsMatch(expected, GrabScreen(QRect(ViewBox->viewport()->mapToGlobal(shown.topLeft()), shown.size())),
                       tolerance);
    if (last) return last;
  }
  return last << " (canvas at " << ViewBox->widget()->x() << "," << ViewBox->widget()->y() << ")";
}

RgbaImage Level(const BlpFile& file, std::size_t index, DxtRules rules = DxtRules::Standard) {
  const std::uint32_t w = std::max<std::uint32_t>(file.width >> index, 1);
  const std::uint32_t h = std::max<std::uint32_t>(file.height >> index, 1);
  return ExpectedLevel(file, file.levels.at(index), w, h, rules);
}

// Uncompressed, with mips, alpha in three bands: 0 on the left, 128 in the middle, 255 on the right.
BlpFile AlphaBands(std::uint32_t w, std::uint32_t h) {
  BlpFile f = RandomBlp(3, 8, 8, w, h, 1, 31);
  std::uint32_t lw = w;
  for (std::string& level : f.levels) {
    for (std::size_t i = 3; i < level.size(); i += 4) {
      const std::size_t x = (i / 4) % std::max<std::uint32_t>(lw, 1);
      level[i] = static_cast<char>(x * 3 < lw ? 0 : x * 3 < 2 * lw ? 128 : 255);
    }
    lw >>= 1;
  }
  return f;
}

TEST(ViewControls, zoom_steps_give_each_texel_n_by_n_pixels_and_actual_size_the_plain_picture) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile file = AlphaBands(24, 16);
  TViewWorld v({{"bands.blp", WriteBlp(file)}});
  ASSERT_TRUE(v.Start());
  v.Select("bands.blp");
  TPicture picture{Level(file, 0)};

  struct TStep {
    const char* name;
    int key;
    Qt::KeyboardModifiers mods;
    double zoom;
  } steps[] = {{"ctrl_equal_doubles", Qt::Key_Equal, Qt::ControlModifier, 2},
               {"ctrl_plus_doubles_again", Qt::Key_Plus, Qt::ControlModifier, 4},
               {"ctrl_minus_halves", Qt::Key_Minus, Qt::ControlModifier, 2},
               {"ctrl_0_actual_size", Qt::Key_0, Qt::ControlModifier, 1},
               {"ctrl_minus_below_1", Qt::Key_Minus, Qt::ControlModifier, 0.5},
               {"ctrl_9_fits_the_view", Qt::Key_9, Qt::ControlModifier, -1}};
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.name);
    v.Press(step.key, step.mods);
    const double zoom = v.controls().State().zoom;
    if (step.zoom > 0) {
      EXPECT_EQ(zoom, step.zoom);
    } else {
      // As large as the level fits: 24 x 16 in the view's width or height.
      const QSize room = ViewBox->viewport()->size();
      EXPECT_NEAR(zoom, std::min(room.width() / 24.0, room.height() / 16.0), 1e-9);
      EXPECT_LE(ViewBox->widget()->width(), room.width());
      EXPECT_LE(ViewBox->widget()->height(), room.height());
      continue;  // a fractional zoom: texel edges fall between pixels
    }
    picture.zoom = zoom;
    EXPECT_TRUE(ViewShows(picture, 1));
    EXPECT_EQ(ViewBox->widget()->size(), QSize(static_cast<int>(std::ceil(24 * zoom)), static_cast<int>(std::ceil(16 * zoom))));
    if (zoom == 1) {
      // Back to the plain view: the panel has the texture's size and the plain drawing calls.
      EXPECT_EQ(RenderPanelHost->size(), QSize(24, 16));
      EXPECT_TRUE(v.form().View().PlainDrawing());
    }
  }
  EXPECT_EQ(v.form().focusWidget(), v.form().VirtualStringTreeView) << "the tree lost the keyboard";
  EXPECT_TRUE(v.boxes.texts.isEmpty()) << v.boxes.texts.join("; ").toStdString();
}

TEST(ViewControls, a_large_texture_at_64x_shows_the_part_in_view) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile file = RandomBlp(3, 8, 8, 1024, 512, 0, 32);
  TViewWorld v({{"large.blp", WriteBlp(file)}});
  ASSERT_TRUE(v.Start());
  v.Select("large.blp");
  for (int i = 0; i < 7; ++i) v.Press(Qt::Key_Equal);
  ASSERT_EQ(v.controls().State().zoom, 64);
  EXPECT_EQ(ViewBox->widget()->size(), QSize(1024 * 64, 512 * 64));
  EXPECT_TRUE(ViewBox->viewport()->rect().contains(RenderPanelHost->geometry())) << "the panel outgrew the view";
  const TPicture picture{Level(file, 0), 64};
  EXPECT_TRUE(ViewShows(picture, 1)) << "zoomed around the middle";
  ViewBox->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  ViewBox->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_TRUE(ViewShows(picture, 1)) << "the far corner";
}

TEST(ViewControls, backgrounds_show_behind_alpha_in_turn) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile file = AlphaBands(48, 40);
  TViewWorld v({{"bands.blp", WriteBlp(file)}});
  ASSERT_TRUE(v.Start());
  v.Select("bands.blp");
  TPicture picture{Level(file, 0)};
  for (const TBackground background :
       {TBackground::kChecker, TBackground::kBlack, TBackground::kWhite, TBackground::kWindow}) {
    SCOPED_TRACE(static_cast<int>(background));
    v.Press(Qt::Key_B);
    ASSERT_EQ(v.controls().State().background, background);
    picture.background = background;
    EXPECT_TRUE(ViewShows(picture, 1));
  }
  EXPECT_TRUE(v.form().View().PlainDrawing()) << "the window's colour again is the plain view";
}

TEST(ViewControls, channels_show_the_same_on_every_encoding_and_both_dxt_paths) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  struct TRow {
    const char* name;
    BlpFile file;
    bool softwareDxt;
    int tolerance;
  } rows[] = {{"palette_a8.blp", RandomBlp(1, 8, 8, 20, 12, 0, 41), false, 1},
              {"palette_a4.blp", RandomBlp(1, 4, 8, 20, 12, 0, 42), false, 1},
              {"dxt1_gl.blp", RandomBlp(2, 1, 0, 20, 12, 0, 43), false, 3},
              {"dxt5_gl.blp", RandomBlp(2, 8, 7, 20, 12, 0, 44), false, 3},
              {"dxt5_library.blp", RandomBlp(2, 8, 7, 20, 12, 0, 44), true, 1},
              {"dxt3_library.blp", RandomBlp(2, 8, 1, 20, 12, 0, 45), true, 1},
              {"uncompressed.blp", RandomBlp(3, 8, 8, 20, 12, 0, 46), false, 1}};
  std::vector<std::pair<std::string, std::string>> files;
  for (const TRow& row : rows) files.emplace_back(row.name, WriteBlp(row.file));
  TViewWorld v(files);
  ASSERT_TRUE(v.Start());
  const TChannel channels[] = {TChannel::kRgb, TChannel::kRed, TChannel::kGreen, TChannel::kBlue, TChannel::kAlpha};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    v.Select(row.name, row.softwareDxt);
    TPicture picture{Level(row.file, 0, row.softwareDxt ? DxtRules::Library : DxtRules::Standard)};
    for (const TChannel channel : channels) {
      SCOPED_TRACE(static_cast<int>(channel));
      v.Press(Qt::Key_1 + static_cast<int>(channel));
      picture.channel = channel;
      EXPECT_TRUE(ViewShows(picture, row.tolerance));
    }
    v.Press(Qt::Key_1);
  }
}

TEST(ViewControls, mip_levels_show_their_own_texels_and_another_file_starts_at_level_0) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile mips = RandomBlp(3, 8, 8, 32, 16, 1, 51);
  const BlpFile dxt = RandomBlp(2, 8, 7, 64, 32, 1, 52);
  TViewWorld v({{"mips.blp", WriteBlp(mips)}, {"mips_dxt5.blp", WriteBlp(dxt)}});
  ASSERT_TRUE(v.Start());
  v.Select("mips.blp");
  struct TStep {
    int key;
    int level;
    QSize size;
    const char* readout;
  } steps[] = {{Qt::Key_BracketRight, 1, {16, 8}, "mip 1/6 (16 x 8)"},
               {Qt::Key_BracketRight, 2, {8, 4}, "mip 2/6 (8 x 4)"},
               {Qt::Key_BracketLeft, 1, {16, 8}, "mip 1/6 (16 x 8)"}};
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.level);
    v.Press(step.key);
    ASSERT_EQ(v.controls().State().level, step.level);
    EXPECT_EQ(RenderPanelHost->size(), step.size) << "at zoom 1 the panel has the level's size";
    EXPECT_TRUE(ViewShows({Level(mips, static_cast<std::size_t>(step.level))}, 1));
    EXPECT_TRUE(ViewBox->Strip()->Readout().contains(step.readout)) << ViewBox->Strip()->Readout().toStdString();
  }
  // Zoomed, on the GL's own DXT5 decode.
  v.Select("mips_dxt5.blp");
  EXPECT_EQ(v.controls().State().level, 0) << "another file starts at level 0";
  v.Press(Qt::Key_BracketRight);
  v.Press(Qt::Key_Equal);
  EXPECT_TRUE(ViewShows({Level(dxt, 1), 2}, 3));
}

// Real pointer and keyboard input through the X server (the focus follows only real clicks).
bool Xdotool(const std::string& args) { return std::system(("xdotool " + args + " > /dev/null 2>&1").c_str()) == 0; }

TEST(ViewControls, the_tree_keeps_the_keyboard_after_a_click_and_a_drag_on_the_picture) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  if (!Xdotool("version")) GTEST_SKIP() << "no xdotool";
  const BlpFile a = RandomBlp(3, 8, 8, 64, 48, 0, 91);
  const BlpFile b = RandomBlp(3, 8, 8, 32, 24, 0, 92);
  TViewWorld v({{"a.blp", WriteBlp(a)}, {"b.blp", WriteBlp(b)}});
  ASSERT_TRUE(v.Start());
  v.Select("a.blp");
  const QPoint at = RenderPanel->mapToGlobal(QPoint(20, 20));
  ASSERT_TRUE(Xdotool("mousemove --sync " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
                      " mousedown 1 mousemove --sync " + std::to_string(at.x() + 9) + " " + std::to_string(at.y() + 5) +
                      " mouseup 1"));
  Settle(200);
  ASSERT_TRUE(Xdotool("key Down"));
  EXPECT_TRUE(WaitFor([&] { return v.form().StatusText(0).endsWith("32 x 24"); }, 3000))
      << "the tree did not get the Down key; focus is on "
      << (QGuiApplication::focusWindow() ? QGuiApplication::focusWindow()->objectName().toStdString() : "nothing");
}

void Wheel(QPoint at, int delta, Qt::KeyboardModifiers mods) {
  QWheelEvent wheel(at, RenderPanel->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(RenderPanel.data(), &wheel);
  QApplication::processEvents();
}

TEST(ViewControls, wheel_scrolls_drag_pans_and_ctrl_wheel_zooms_around_the_texel_under_the_pointer) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile big = RandomBlp(3, 8, 8, 600, 700, 0, 61);
  TViewWorld v({{"big.blp", WriteBlp(big)}});
  ASSERT_TRUE(v.Start());
  v.Select("big.blp");
  QScrollBar* h = ViewBox->horizontalScrollBar();
  QScrollBar* vbar = ViewBox->verticalScrollBar();
  const TPicture picture{Level(big, 0)};

  Wheel({50, 50}, -120, Qt::NoModifier);
  EXPECT_GT(vbar->value(), 0) << "the wheel did not scroll down";
  EXPECT_EQ(h->value(), 0);
  Wheel({50, 50}, -120, Qt::ShiftModifier);
  EXPECT_GT(h->value(), 0) << "Shift+wheel did not scroll right";
  EXPECT_TRUE(ViewShows(picture, 1));

  const QPoint scrolled(h->value(), vbar->value());
  const QPoint dropAt = RenderPanel->mapToGlobal(QPoint(120, 110));
  QTest::mousePress(RenderPanel.data(), Qt::LeftButton, {}, QPoint(150, 150));
  QTest::mouseMove(RenderPanel.data(), QPoint(120, 110));
  // The panel moved with the picture: the pointer stays where it is on the screen.
  QTest::mouseRelease(RenderPanel.data(), Qt::LeftButton, {}, RenderPanel->mapFromGlobal(dropAt));
  QApplication::processEvents();
  EXPECT_EQ(QPoint(h->value(), vbar->value()), scrolled + QPoint(30, 40)) << "dragging did not pan";
  EXPECT_TRUE(ViewShows(picture, 1));

  // The texel under the pointer stays under it.
  const QPoint pointer(70, 90);
  const QPoint inViewport = RenderPanelHost->pos() + pointer;
  const QPoint texel = inViewport - ViewBox->widget()->pos();
  Wheel(pointer, 120, Qt::ControlModifier);
  ASSERT_EQ(v.controls().State().zoom, 2);
  const QPoint underPointer = inViewport - ViewBox->widget()->pos();
  EXPECT_EQ(QPoint(underPointer.x() / 2, underPointer.y() / 2), texel);
  EXPECT_TRUE(ViewShows({Level(big, 0), 2}, 1));
}

// The first texel of `level` where the decodes by `a` and `b` differ, so that a readout taking the
// wrong one shows; none when they agree everywhere.
std::optional<QPoint> WhereDecodesDiffer(const BlpFile& file, DxtRules a, DxtRules b) {
  const RgbaImage one = Level(file, 0, a);
  const RgbaImage two = Level(file, 0, b);
  for (int y = 0; y < one.height; ++y) {
    for (int x = 0; x < one.width; ++x) {
      if (!std::equal(one.At(x, y), one.At(x, y) + 3, two.At(x, y))) return QPoint(x, y);
    }
  }
  return std::nullopt;
}

TEST(ViewControls, readout_reads_the_texel_on_screen_on_every_path_and_says_zoom_level_encoding_path_and_archive) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  struct TRow {
    const char* name;
    BlpFile file;
    bool softwareDxt;
    DxtRules shown;  // the decode on screen (the GL's own only near its rules)
    DxtRules other;  // a decode a readout could wrongly take
    bool exact;      // `shown` is exactly what the screen holds, alpha included
    const char* encoding;
  } rows[] = {{"Dxt5_Library.blp", RandomBlp(2, 8, 7, 20, 12, 0, 44), true, DxtRules::Library, DxtRules::Hardware, true, "DXT5"},
              {"Dxt1_Library.blp", RandomBlp(2, 1, 0, 20, 12, 0, 47), true, DxtRules::Library, DxtRules::Hardware, true, "DXT1"},
              {"Dxt5_Gl.blp", RandomBlp(2, 8, 7, 20, 12, 0, 48), false, DxtRules::Standard, DxtRules::Hardware, false, "DXT5"},
              {"Palette_A8.blp", RandomBlp(1, 8, 8, 20, 12, 0, 41), false, DxtRules::Standard, DxtRules::Standard, true,
               "palette, 8-bit alpha"},
              {"Plain.blp", RandomBlp(3, 8, 8, 20, 12, 0, 46), false, DxtRules::Standard, DxtRules::Standard, true,
               "uncompressed 32-bit"}};
  std::vector<std::pair<std::string, std::string>> files;
  for (const TRow& row : rows) files.emplace_back(row.name, WriteBlp(row.file));
  TViewWorld v(files);
  ASSERT_TRUE(v.Start());
  QString lastTexel;
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    v.Select(row.name, row.softwareDxt);
    if (&row == &rows[0]) {
      // Colour alone on screen, 4 x 4 pixels a texel: the screen shows each texel's R, G and B.
      v.Press(Qt::Key_2);
      v.Press(Qt::Key_Equal);
      v.Press(Qt::Key_Equal);
    }
    ASSERT_EQ(v.controls().State().zoom, 4) << "the zoom did not carry over";
    // A new file says nothing of the texel under the pointer before the pointer moves.
    if (!lastTexel.isEmpty()) {
      EXPECT_FALSE(ViewBox->Strip()->Readout().startsWith(lastTexel)) << "the last file's texel stayed";
    }
    QPoint texel(3, 2);
    if (row.shown != row.other) {
      const auto differs = WhereDecodesDiffer(row.file, row.shown, row.other);
      ASSERT_TRUE(differs) << "the decodes agree everywhere: the row proves nothing";
      texel = *differs;
    }
    // Off the picture first, so that the position the readout waits for is a new one.
    QCursor::setPos(v.form().StatusPanel(2)->mapToGlobal(QPoint(7, 4)));
    ASSERT_TRUE(WaitFor([&] { return v.form().StatusText(1).isEmpty(); }, 3000));
    const QPoint at = RenderPanel->mapToGlobal(QPoint(texel.x() * 4 + 1, texel.y() * 4 + 2));
    QCursor::setPos(at);
    const QString position = QStringLiteral("%1:%2").arg(texel.x()).arg(texel.y());
    ASSERT_TRUE(WaitFor([&] { return v.form().StatusText(1) == position; }, 3000)) << v.form().StatusText(1).toStdString();
    const QString readout = ViewBox->Strip()->Readout();
    const RgbaImage screen = GrabScreen(QRect(at, QSize(1, 1)));
    const QString onScreen = QString::asprintf("#%02X%02X%02X", screen.pixels[0], screen.pixels[1], screen.pixels[2]);
    EXPECT_TRUE(readout.startsWith(onScreen)) << readout.toStdString() << " but the screen shows " << onScreen.toStdString();
    if (row.exact) {
      const RgbaImage shown = Level(row.file, 0, row.shown);
      const std::uint8_t* expected = shown.At(texel.x(), texel.y());
      EXPECT_TRUE(readout.startsWith(QString::asprintf("#%02X%02X%02X%02X", expected[0], expected[1], expected[2], expected[3])))
          << readout.toStdString();
    }
    for (const QString& part : {QStringLiteral("zoom 400% (1 texel : 4 x 4 pixels)"), QStringLiteral("mip 0/1 (20 x 12)"),
                                QString::fromLatin1(row.encoding)}) {
      EXPECT_TRUE(readout.contains(part)) << part.toStdString() << " not in " << readout.toStdString();
    }
    // The path as the listfile spells it, and the supplying archive, whole.
    EXPECT_EQ(ViewBox->Strip()->Source().toStdString(),
              std::string("Textures\\") + row.name + " in C:\\Games\\WoW\\Data\\display.MPQ");
    lastTexel = readout.left(9);
  }
  // Onto a status panel: off the texture, nothing is under the pointer.
  QCursor::setPos(v.form().StatusPanel(2)->mapToGlobal(QPoint(7, 4)));
  EXPECT_TRUE(WaitFor([&] { return v.form().StatusText(1).isEmpty(); }, 3000)) << v.form().StatusText(1).toStdString();
  EXPECT_FALSE(ViewBox->Strip()->Readout().startsWith("#"));
  // Every value of the readout shows whole at the window's first size: nothing is cut.
  const TViewStrip& strip = *ViewBox->Strip();
  for (auto* label : strip.findChildren<QLabel*>()) {
    if (!label->isVisible() || label->text().isEmpty()) continue;
    EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->objectName().toStdString() << " is cut";
  }
}

// The modes in words in the view's corner: there whenever the channel, background or level differ
// from the defaults, never over a texel, gone when all three are back.
TEST(ViewControls, the_corner_label_names_channel_background_and_level_and_goes_at_the_defaults) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile mips = AlphaBands(32, 16);
  const BlpFile other = RandomBlp(3, 8, 8, 16, 16, 1, 53);
  TViewWorld v({{"mips.blp", WriteBlp(mips)}, {"other.blp", WriteBlp(other)}});
  ASSERT_TRUE(v.Start());
  v.Select("mips.blp");
  const QLabel* label = ViewBox->Strip()->ModesLabel();
  EXPECT_FALSE(label->isVisible()) << "a label at the defaults";
  struct TStep {
    const char* name;
    int key;
    const char* words;
  } steps[] = {{"alpha_channel", Qt::Key_6, "Alpha as grey"},
               {"checkerboard", Qt::Key_B, "Alpha as grey \u00B7 checkerboard"},
               {"smaller_level", Qt::Key_BracketRight, "Alpha as grey \u00B7 checkerboard \u00B7 mip 1/6"},
               {"zoom_is_no_mode", Qt::Key_Equal, "Alpha as grey \u00B7 checkerboard \u00B7 mip 1/6"},
               {"rgba_again", Qt::Key_1, "Checkerboard \u00B7 mip 1/6"},
               {"level_0_again", Qt::Key_BracketLeft, "Checkerboard"},
               {"black", Qt::Key_B, "Black background"},
               {"white", Qt::Key_B, "White background"},
               {"window_colour_again", Qt::Key_B, ""}};
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.name);
    v.Press(step.key);
    const QString words = QString::fromUtf8(step.words);
    EXPECT_EQ(ViewBox->Strip()->Modes().toStdString(), words.toStdString());
    EXPECT_EQ(label->isVisible(), !words.isEmpty());
    if (words.isEmpty()) continue;
    const QRect onScreen(label->mapToGlobal(QPoint(0, 0)), label->size());
    const QRect viewport(ViewBox->viewport()->mapToGlobal(QPoint(0, 0)), ViewBox->viewport()->size());
    EXPECT_FALSE(onScreen.intersects(viewport)) << "the label lies over the picture";
    EXPECT_TRUE(QRect(ViewBox->mapToGlobal(QPoint(0, 0)), ViewBox->size()).contains(onScreen)) << "not in the view";
    // Its own colour on screen, along its top edge.
    EXPECT_TRUE(ScreenShows(QRect(onScreen.topLeft(), QSize(onScreen.width(), 1)), label->palette().color(QPalette::Window)));
  }
  // Channel and background carry over to the next file, and the label says so.
  v.Press(Qt::Key_6);
  v.Press(Qt::Key_B);
  v.Select("other.blp");
  EXPECT_EQ(ViewBox->Strip()->Modes().toStdString(), QString::fromUtf8("Alpha as grey \u00B7 checkerboard").toStdString());
  EXPECT_TRUE(ViewShows({Level(other, 0), v.controls().State().zoom, TChannel::kAlpha, TBackground::kChecker}, 1))
      << "the label covers texels";
}

TEST(ViewControls, notices_say_why_a_file_cannot_be_shown_and_a_good_file_clears_them) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  Blp1File blp1;  // a JPEG BLP1 whose JPEG is larger than its level
  blp1.compression = 0;
  blp1.width = blp1.height = 16;
  blp1.pictureSubtype = 0;
  JpegSettings larger;
  larger.width = larger.height = 32;
  blp1.levels = {EncodeJpeg(larger, std::vector<std::uint8_t>(32 * 32 * 4, 60))};
  BlpFile jpeg = RandomBlp(1, 8, 8, 16, 16, 0, 82);
  jpeg.texType = 0;
  BlpFile truncated = RandomBlp(3, 8, 8, 64, 32, 0, 83);
  std::string cut = WriteBlp(truncated);
  cut.resize(cut.size() - 4096);
  BlpFile pastTheEnd = RandomBlp(3, 8, 8, 16, 16, 0, 84);
  std::string moved = WriteBlp(pastTheEnd);
  PutLe32(moved, blpfield::kOffsets, 0x100000);
  const BlpFile good = RandomBlp(3, 8, 8, 16, 16, 0, 85);
  // Panel 0 shows the header's values only where there is a BLP2 header (all zero without a file).
  struct TRow {
    const char* name;
    std::string bytes;
    std::string notice;
    bool headerValues;
  } rows[] = {
      {"blp1.blp", WriteBlp1(blp1), "level 0: the JPEG is 32 x 32, the level 16 x 16: nothing to show", false},
      {"blp2_jpeg.blp", WriteBlp(jpeg), "BLP2 texture (JPEG content): not supported", true},
      {"dds.blp", "DDS |" + std::string(200, '\0'), "not a BLP2 file", false},
      {"truncated.blp", cut, "level 0 is 4096 bytes short: the rest is shown black", true},
      {"offset.blp", moved, "level 0 starts at offset 1048576, past the end of the file (1172 bytes): it is shown black", true},
      {"empty.blp", "", "empty file (0 bytes)", true},
      {"absent.blp", "", "the archive cannot open this file", true},
      {"good.blp", WriteBlp(good), "", true},
  };
  std::vector<std::pair<std::string, std::string>> files;
  for (const TRow& row : rows) {
    if (std::string(row.name) != "absent.blp") files.emplace_back(row.name, row.bytes);
  }
  TViewWorld v(files, "absent.blp");
  ASSERT_TRUE(v.Start());
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    v.Select("good.blp");
    ASSERT_TRUE(ViewBox->Notice().isEmpty());
    v.Select(row.name);
    EXPECT_EQ(ViewBox->Notice().toStdString(), row.notice);
    EXPECT_EQ(v.form().StatusText(0).startsWith("type "), row.headerValues) << v.form().StatusText(0).toStdString();
    if (row.notice.empty()) continue;
    // On screen, above the view.
    const QLabel* label = ViewBox->NoticeLabel();
    const QRect strip(label->mapToGlobal(QPoint(0, 0)), QSize(label->width(), 2));
    EXPECT_TRUE(ScreenShows(strip, label->palette().color(QPalette::Window)));
  }
  EXPECT_TRUE(v.boxes.texts.isEmpty()) << v.boxes.texts.join("; ").toStdString();
}


// A BLP1 file's level `index` as stored B, G, R, A components, read by another JPEG decoder
// (ImageMagick) from the level's JPEG: the shared header and the level's bytes.
RgbaImage ReferenceJpegLevel(const std::string& bytes, std::size_t index, bool alpha) {
  const std::string jpeg = bytes.substr(blp1field::kJpegHeader, GetLe32(bytes, blp1field::kJpegHeaderSize)) +
                           bytes.substr(GetLe32(bytes, blp1field::kOffsets + 4 * index), GetLe32(bytes, blp1field::kSizes + 4 * index));
  std::string why;
  const std::vector<std::uint8_t> s = ReferenceJpegSamples(jpeg, 4, why);
  EXPECT_FALSE(s.empty()) << why;
  const std::size_t sof = FrameHeaderOffset(jpeg);
  RgbaImage img{static_cast<unsigned char>(jpeg[sof + 7]) << 8 | static_cast<unsigned char>(jpeg[sof + 8]),
                static_cast<unsigned char>(jpeg[sof + 5]) << 8 | static_cast<unsigned char>(jpeg[sof + 6]), {}};
  for (std::size_t p = 0; p + 4 <= s.size(); p += 4) img.pixels.insert(img.pixels.end(), {s[p + 2], s[p + 1], s[p], alpha ? s[p + 3] : std::uint8_t{255}});
  return img;
}

// Smooth, distinct components, alpha in three bands as in AlphaBands.
std::vector<std::uint8_t> JpegSamples(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> s;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      s.insert(s.end(), {static_cast<std::uint8_t>(30 + 200 * x / w), static_cast<std::uint8_t>(220 - 150 * y / h), 90,
                         static_cast<std::uint8_t>(x * 3 < w ? 0 : x * 3 < 2 * w ? 128 : 255)});
    }
  }
  return s;
}

TEST(ViewControls, blp1_textures_show_their_levels_channels_and_format_like_blp2_ones) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile palette = RandomBlp(1, 8, 8, 24, 16, 1, 61);
  Blp1File pal;
  pal.width = 24;
  pal.height = 16;
  pal.palette = palette.palette;
  pal.levels = palette.levels;
  Blp1File jpg;
  jpg.compression = 0;
  jpg.width = 24;
  jpg.height = 16;
  for (std::uint32_t i = 0; i < 5; ++i) {
    const std::uint32_t w = std::max(24u >> i, 1u), h = std::max(16u >> i, 1u);
    const std::string jpeg = EncodeJpeg({w, h, 4, false, false, 95, std::string(200, 'c')}, JpegSamples(w, h));
    if (i == 0) jpg.jpegHeader = jpeg.substr(0, FrameHeaderOffset(jpeg));
    jpg.levels.push_back(jpeg.substr(jpg.jpegHeader.size()));
  }
  const std::string jpgBytes = WriteBlp1(jpg);
  jpg.alphaBits = 0;
  const std::string opaqueBytes = WriteBlp1(jpg);
  TViewWorld v({{"pal.blp", WriteBlp1(pal)}, {"jpg.blp", jpgBytes}, {"opaque.blp", opaqueBytes}});
  ASSERT_TRUE(v.Start());
  struct TRow {
    const char* name;
    std::function<RgbaImage(std::size_t)> level;
    int tolerance;  // blending rounds once; another JPEG decoder may differ by 2 more
    const char* format;
  } rows[] = {
      {"pal.blp", [&](std::size_t i) { return Level(palette, i); }, 1, "BLP1, palette, 8-bit alpha"},
      {"jpg.blp", [&](std::size_t i) { return ReferenceJpegLevel(jpgBytes, i, true); }, 3, "BLP1, JPEG, 8-bit alpha"},
      {"opaque.blp", [&](std::size_t i) { return ReferenceJpegLevel(opaqueBytes, i, false); }, 3, "BLP1, JPEG"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    v.Select(row.name);
    ASSERT_TRUE(CurrentTexture);
    EXPECT_EQ(ViewBox->Notice().toStdString(), "");
    EXPECT_EQ(RenderPanelHost->size(), QSize(24, 16));
    EXPECT_TRUE(ViewShows({row.level(0)}, row.tolerance));
    const QString readout = ViewBox->Strip()->Readout();
    EXPECT_TRUE(readout.contains("mip 0/5 (24 x 16)") && readout.endsWith(QString(row.format))) << readout.toStdString();
    EXPECT_TRUE(ViewBox->Strip()->Source().contains(v.form().ArchivePathOf((*MpqList)[0])))
        << ViewBox->Strip()->Source().toStdString();
    v.Press(Qt::Key_BracketRight);
    EXPECT_EQ(RenderPanelHost->size(), QSize(12, 8));
    EXPECT_TRUE(ViewShows({row.level(1)}, row.tolerance));
    EXPECT_TRUE(ViewBox->Strip()->Readout().contains("mip 1/5 (12 x 8)"));
    v.Press(Qt::Key_3);  // red alone, as grey
    EXPECT_TRUE(ViewShows({row.level(1), 1, TChannel::kRed}, row.tolerance));
    v.Press(Qt::Key_1);
    // What Ctrl+S and Ctrl+C save: the shown level as decoded.
    const blp::TRgbaPixels saved = ShownLevelPixels(1);
    EXPECT_TRUE(PixelsMatch(row.level(1), {static_cast<int>(saved.width), static_cast<int>(saved.height), saved.bytes},
                            row.tolerance - 1));
  }
  EXPECT_TRUE(v.boxes.texts.isEmpty()) << v.boxes.texts.join("; ").toStdString();
}

TEST(ViewControls, the_minimap_of_a_real_w3x_dropped_on_the_window_shows_as_another_jpeg_decoder_reads_it) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  VELMORA_REQUIRE_REALDATA();
  TViewWorld v({{"pal.blp", WriteBlp(RandomBlp(1, 8, 8, 8, 8, 0, 62))}});
  ASSERT_TRUE(v.Start());
  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile(QString::fromStdString((RealDataDir() / "mpq/normalMap.w3x").string()))});
  const std::unique_ptr<QMimeData> owned(mime);
  QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&v.form(), &enter);
  EXPECT_TRUE(enter.isAccepted()) << "a .w3x map is no archive to the window";
  QDropEvent drop(QPointF(300, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&v.form(), &drop);
  ASSERT_TRUE(WaitFor([] { return MpqList->Count() == 2; }, 10000));
  Settle();
  ClickNode(v.form(), QStringList{"WAR3MAPMAP.BLP"});
  ASSERT_TRUE(CurrentTexture);
  std::string bytes;
  {
    TZanthObject object("war3mapMap.blp");
    ASSERT_NE(object.FileHandler(), nullptr);
    bytes.resize(object.FileHandler()->GetSize());
    ASSERT_TRUE(object.FileHandler()->GetDataByOffset(0, static_cast<std::uint32_t>(bytes.size()), bytes.data()));
  }
  EXPECT_EQ(RenderPanelHost->size(), QSize(256, 256));
  EXPECT_TRUE(ViewShows({ReferenceJpegLevel(bytes, 0, false)}, 2));
  EXPECT_TRUE(ViewBox->Strip()->Readout().contains("BLP1, JPEG")) << ViewBox->Strip()->Readout().toStdString();
  EXPECT_EQ(ViewBox->Notice().toStdString(), "");
}
}  // namespace
}  // namespace velmora::test
