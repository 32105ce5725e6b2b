// The viewer as a person uses it: the real window on the test run's X server with Mesa, a game
// install with one archive built at test time, files selected by mouse and keyboard through the
// tree, and the screen under the view compared with the expected texture blended over the
// window's background: every encoding, scrolling, the splitter, resizing, files that fail,
// folders, a failed view set-up, and the shutdown.
#include "render/View.h"  // first: the program's GL names before any Qt GL header

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QOpenGLContext>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeView>

// Qt's GL header brings the system one, which defines the extension's name as a macro; the
// program's flag of that name is meant here.
#undef GL_ARB_texture_compression

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "DisplayWorld.h"
#include "archive/Zanth.h"
#include "render/GlCommon.h"
#include "support/BlpWriter.h"
#include "ui/FileTree.h"
#include "ui/ThumbnailPane.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

// One window, shown, with its archives loaded.
class TWindow {
public:
  explicit TWindow(const TViewSetup& setup = {}) : form(setup) {}
  void ShowAndLoad() {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(WaitFor([this] { return form.LoadingFinished(); })) << "the loading never finished";
    Settle();
  }

  TMessageBoxWatcher boxes;  // before the window, so that creation errors are caught too
  TForm1 form;
};

QStringList PathOf(const std::string& file) {
  return {"TEXTURES", "DISPLAY", QString::fromStdString(file).toUpper()};
}

std::string MemberOf(const std::string& file) { return "Textures\\Display\\" + file; }

QSize PanelSize() { return RenderPanelHost ? RenderPanelHost->size() : QSize(-1, -1); }

// Level 0 as the screen should show it: decoded by the rules of the path it takes, blended over
// the button face.
RgbaImage OnScreen(const BlpFile& file, DxtRules rules) {
  return BlendedOver(ExpectedLevel(file, file.levels.at(0), file.width, file.height, rules), kFace);
}

std::string HeaderText(const BlpFile& f) {
  return "type " + std::to_string(f.texType) + ", comp " + std::to_string(f.compression) + ", a_bits " +
         std::to_string(f.alphaBits) + ", a_type " + std::to_string(f.alphaType) + ", mips " +
         std::to_string(f.hasMips) + ", " + std::to_string(f.width) + " x " + std::to_string(f.height);
}

// An uncompressed texture in three opaque bands: red, green, blue (stored B, G, R, A).
BlpFile Bands(std::uint32_t w, std::uint32_t h) {
  BlpFile f;
  f.compression = 3;
  f.alphaBits = 8;
  f.alphaType = 8;
  f.hasMips = 0;
  f.withPalette = false;
  f.width = w;
  f.height = h;
  std::string level;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t band = x * 3 / w;
      level += {static_cast<char>(band == 2 ? 255 : 0), static_cast<char>(band == 1 ? 255 : 0),
                static_cast<char>(band == 0 ? 255 : 0), static_cast<char>(255)};
    }
  }
  f.levels.push_back(level);
  return f;
}

// An uncompressed texture with random colours and alpha 0 everywhere.
BlpFile Invisible(std::uint32_t w, std::uint32_t h) {
  BlpFile f = RandomBlp(3, 8, 8, w, h, 0, 77);
  for (std::size_t i = 3; i < f.levels[0].size(); i += 4) f.levels[0][i] = 0;
  return f;
}

struct TEncodingRow {
  const char* name;  // the file name, and what the row catches
  BlpFile file;
  bool softwareDxt;  // decoded by the program's own DXT library instead of GL
  int tolerance;
};

std::vector<TEncodingRow> EncodingRows() {
  // GL's own S3TC decode rounds its interpolated colours its own way (up to 2 apart), blending
  // rounds once more.
  constexpr int kGlDxt = 3, kBlend = 1;
  return {
      {"palette_alpha0_opaque.blp", RandomBlp(1, 0, 8, 40, 24, 1, 1), false, kBlend},
      {"palette_alpha1_bits.blp", RandomBlp(1, 1, 8, 37, 21, 1, 2), false, kBlend},
      {"palette_alpha4_nibbles.blp", RandomBlp(1, 4, 8, 29, 18, 1, 3), false, kBlend},
      {"palette_alpha8_bytes.blp", RandomBlp(1, 8, 8, 32, 16, 1, 4), false, kBlend},
      {"dxt1_gl.blp", RandomBlp(2, 0, 0, 32, 16, 1, 5), false, kGlDxt},
      {"dxt1_library.blp", RandomBlp(2, 0, 0, 32, 16, 1, 5), true, kBlend},
      {"dxt3_gl.blp", RandomBlp(2, 8, 1, 24, 20, 1, 6), false, kGlDxt},
      {"dxt3_library.blp", RandomBlp(2, 8, 1, 24, 20, 1, 6), true, kBlend},
      {"dxt5_gl.blp", RandomBlp(2, 8, 7, 48, 32, 1, 7), false, kGlDxt},
      {"dxt5_library.blp", RandomBlp(2, 8, 7, 48, 32, 1, 7), true, kBlend},
      {"uncompressed_random.blp", RandomBlp(3, 8, 8, 33, 17, 1, 8), false, kBlend},
      {"uncompressed_red_stays_red.blp", Bands(30, 12), false, 0},
      {"uncompressed_alpha0_shows_background.blp", Invisible(20, 10), false, 0},
  };
}

TEST(Display, every_encoding_shows_one_screen_pixel_per_texel_over_the_background) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const std::vector<TEncodingRow> rows = EncodingRows();
  std::vector<MpqMember> members;
  for (const TEncodingRow& row : rows) members.push_back({MemberOf(row.name), WriteBlp(row.file)});
  TButtonFace face;
  TDisplayWorld world(members);
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());
  ASSERT_TRUE(w.form.View().Ready());
  ASSERT_TRUE(GL_ARB_texture_compression) << "this GL lacks GL_ARB_texture_compression";

  for (const TEncodingRow& row : rows) {
    SCOPED_TRACE(row.name);
    GL_ARB_texture_compression = !row.softwareDxt;
    ClickNode(w.form, PathOf(row.name));
    GL_ARB_texture_compression = true;
    ASSERT_TRUE(CurrentTexture);
    EXPECT_EQ(w.form.StatusText(0).toStdString(), HeaderText(row.file));
    EXPECT_EQ(PanelSize(), QSize(static_cast<int>(row.file.width), static_cast<int>(row.file.height)));
    EXPECT_EQ(RenderPanel->size(), PanelSize()) << "the native panel did not follow its host";
    EXPECT_TRUE(PanelShows(OnScreen(row.file, row.softwareDxt ? DxtRules::Library : DxtRules::Standard),
                           row.tolerance));
    // Right of and below the panel, the scroll box shows the window's background.
    const QPoint corner = RenderPanelHost->mapToGlobal(QPoint(0, 0));
    EXPECT_TRUE(ScreenShows(QRect(corner.x() + PanelSize().width(), corner.y(), 24, PanelSize().height() + 24), kFace));
    EXPECT_TRUE(ScreenShows(QRect(corner.x(), corner.y() + PanelSize().height(), PanelSize().width(), 24), kFace));
  }
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

void DragSplitter(TForm1& form, int dx) {
  QWidget* handle = form.Splitter1->handle(1);
  QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 100));
  QTest::mouseMove(handle, QPoint(1 + dx, 100));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(1 + dx, 100));
  QApplication::processEvents();
}

TEST(Display, a_texture_larger_than_the_view_stays_right_through_scrolling_splitter_and_resizing) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const BlpFile big = RandomBlp(3, 8, 8, 600, 700, 1, 11);
  TButtonFace face;
  TDisplayWorld world({{MemberOf("big.blp"), WriteBlp(big)}});
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());
  const RgbaImage picture = OnScreen(big, DxtRules::Standard);
  const QSize size(600, 700);
  QScrollBar* hbar = ViewBox->horizontalScrollBar();
  QScrollBar* vbar = ViewBox->verticalScrollBar();

  ClickNode(w.form, PathOf("big.blp"));
  EXPECT_EQ(PanelSize(), size);
  EXPECT_TRUE(PanelShows(picture, 1)) << "top-left corner";
  EXPECT_TRUE(hbar->isVisible() && vbar->isVisible()) << "no scroll bars for a texture larger than the view";

  hbar->triggerAction(QAbstractSlider::SliderToMaximum);
  vbar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(VisiblePanelRect().bottomRight(), QPoint(599, 699)) << "the far corner is not in view";
  EXPECT_TRUE(PanelShows(picture, 1)) << "far corner";

  // Back half-way: the part that comes into view is drawn.
  vbar->triggerAction(QAbstractSlider::SliderPageStepSub);
  hbar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_TRUE(PanelShows(picture, 1)) << "after scrolling back a page";

  struct TStep {
    const char* name;
    std::function<void()> act;
  };
  const TStep steps[] = {
      {"splitter_left_widens_the_view", [&] { DragSplitter(w.form, -60); }},
      {"splitter_right_narrows_the_view", [&] { DragSplitter(w.form, 120); }},
      {"window_larger", [&] { w.form.resize(760, 720); }},
      {"window_smaller", [&] { w.form.resize(500, 430); }},
      {"scrolled_to_the_far_corner_again", [&] {
         hbar->triggerAction(QAbstractSlider::SliderToMaximum);
         vbar->triggerAction(QAbstractSlider::SliderToMaximum);
       }},
      {"window_larger_than_the_texture", [&] { w.form.resize(1000, 800); }},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    Settle();
    EXPECT_EQ(PanelSize(), size) << "the panel lost the texture's size";
    EXPECT_EQ(RenderPanel->size(), size);
    EXPECT_TRUE(PanelShows(picture, 1));
  }
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

// A small install for the selection cases: two good textures, one whose content the loader
// refuses (JPEG), one the listfile names but the archive lacks, one too large to allocate, and
// a folder.
struct TSelectionWorld {
  BlpFile a = RandomBlp(3, 8, 8, 24, 16, 0, 21);
  BlpFile b = RandomBlp(1, 8, 8, 20, 12, 1, 22);
  BlpFile jpeg = [] {
    BlpFile f = RandomBlp(1, 8, 8, 64, 32, 1, 23);
    f.texType = 0;
    return f;
  }();
  BlpFile huge = [] {
    BlpFile f;
    f.compression = 3;
    f.hasMips = 0;
    f.withPalette = false;
    f.width = 70000;
    f.height = 4;
    f.levels.push_back(std::string(64, '\x7F'));
    return f;
  }();
  std::vector<MpqMember> Members() const {
    return {{MemberOf("a.blp"), WriteBlp(a)},
            {MemberOf("b.blp"), WriteBlp(b)},
            {MemberOf("x_jpeg.blp"), WriteBlp(jpeg)},
            {MemberOf("x_huge.blp"), WriteBlp(huge)},
            {MemberOf("sub\\c.blp"), WriteBlp(a)}};
  }
  std::string ListFile() const { return ListFileOf(Members()) + "\r\n" + MemberOf("x_absent.blp"); }
};

TEST(Display, files_that_fail_to_load_empty_the_panel_and_show_the_header_read) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile());
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());


  struct TRow {
    const char* file;
    std::string status;
  } rows[] = {{"x_jpeg.blp", HeaderText(s.jpeg)},
              {"x_absent.blp", "type 0, comp 0, a_bits 0, a_type 0, mips 0, 0 x 0"}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.file);
    ClickNode(w.form, PathOf("a.blp"));
    ASSERT_TRUE(PanelShows(OnScreen(s.a, DxtRules::Standard), 1));
    ClickNode(w.form, PathOf(row.file));
    // Where A was in the view, which the failure's notice has moved down.
    const QRect whereAWas(ViewBox->viewport()->mapToGlobal(QPoint(0, 0)), QSize(24, 16));
    ASSERT_TRUE(CurrentTexture) << "a texture that fails still replaces the shown one";
    EXPECT_EQ(w.form.StatusText(0).toStdString(), row.status);
    EXPECT_EQ(PanelSize(), QSize(0, 0));
    EXPECT_TRUE(ScreenShows(whereAWas, kFace)) << "the old picture is still on screen";
    // A refit of the viewport (the splitter moved) draws nothing either.
    DragSplitter(w.form, 10);
    EXPECT_EQ(PanelSize(), QSize(0, 0));
    EXPECT_TRUE(ScreenShows(QRect(RenderPanelHost->mapToGlobal(QPoint(0, 0)), QSize(24, 16)), kFace))
        << "something is drawn for a panel of no size";
    // From 0 x 0 back to a texture: drawn at its size again.
    ClickNode(w.form, PathOf("b.blp"));
    EXPECT_EQ(PanelSize(), QSize(20, 12));
    EXPECT_TRUE(PanelShows(OnScreen(s.b, DxtRules::Standard), 1));
  }
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

TEST(Display, folders_change_nothing_and_the_same_file_again_loads_afresh) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile());
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());
  const RgbaImage pictureA = OnScreen(s.a, DxtRules::Standard);
  const RgbaImage pictureB = OnScreen(s.b, DxtRules::Standard);

  ClickNode(w.form, PathOf("a.blp"));
  ASSERT_TRUE(PanelShows(pictureA, 1));
  const TBlpTexture* shown = CurrentTexture.get();
  const QString status = w.form.StatusText(0);
  EXPECT_EQ(status.toStdString(), HeaderText(s.a));

  for (const QStringList& folder : {QStringList{"TEXTURES", "DISPLAY", "SUB"}, QStringList{"TEXTURES"}}) {
    SCOPED_TRACE(folder.join('\\').toStdString());
    ClickNode(w.form, folder);
    ASSERT_TRUE(w.form.VirtualStringTreeView->selectionModel()->isSelected(FindNode(w.form, folder)));
    EXPECT_EQ(CurrentTexture.get(), shown) << "a folder replaced the texture";
    EXPECT_EQ(w.form.StatusText(0), status);
    EXPECT_EQ(PanelSize(), QSize(24, 16));
    // The folder's thumbnails take the view's place meanwhile.
    EXPECT_TRUE(w.form.Thumbnails()->GridShown());
  }
  // The view given back shows the texture it had.
  w.form.Thumbnails()->ShowView();
  EXPECT_TRUE(PanelShows(pictureA, 1));

  // By keyboard: the next file below A is B.
  ClickNode(w.form, PathOf("a.blp"));
  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_Down);
  EXPECT_EQ(w.form.StatusText(0).toStdString(), HeaderText(s.b));
  EXPECT_TRUE(PanelShows(pictureB, 1));
  // A again, after B: loaded anew from its file.
  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_Up);
  EXPECT_EQ(w.form.StatusText(0).toStdString(), HeaderText(s.a));
  EXPECT_EQ(PanelSize(), QSize(24, 16));
  EXPECT_TRUE(PanelShows(pictureA, 1));
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

TEST(Display, an_allocation_error_shows_its_message_and_keeps_status_and_panel) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile());
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());

  ClickNode(w.form, PathOf("b.blp"));
  ASSERT_TRUE(PanelShows(OnScreen(s.b, DxtRules::Standard), 1));
  ClickNode(w.form, PathOf("x_huge.blp"));
  ASSERT_TRUE(WaitFor([&] { return !w.boxes.texts.isEmpty(); }, 5000)) << "no message box";
  ASSERT_EQ(w.boxes.texts.size(), 1);
  EXPECT_TRUE(w.boxes.texts[0].startsWith("cannot allocate 70000 x 4 RGBA pixels")) << w.boxes.texts[0].toStdString();
  EXPECT_EQ(CurrentTexture, nullptr) << "the old texture is gone and no new one was made";
  EXPECT_EQ(w.form.StatusText(0).toStdString(), HeaderText(s.b));
  EXPECT_EQ(PanelSize(), QSize(20, 12));
  // The window goes on: the next selection shows its texture.
  ClickNode(w.form, PathOf("a.blp"));
  EXPECT_TRUE(PanelShows(OnScreen(s.a, DxtRules::Standard), 1));
}

// With the fragment shader missing the program is 0; the quad is drawn all the same, by GL's
// fixed pipeline: untextured, in the current colour, opaque white.
TEST(Display, shader_program_0_still_draws_the_quad) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile(), {"vertex.glsl"});
  TWindow w;
  ASSERT_NO_FATAL_FAILURE(w.ShowAndLoad());
  EXPECT_EQ(ShaderProgram, 0u);
  ClickNode(w.form, PathOf("a.blp"));
  RgbaImage white;
  white.width = 24;
  white.height = 16;
  white.pixels.assign(24 * 16 * 4, 255);
  EXPECT_TRUE(PanelShows(white));
  const std::vector<std::string> log = world.LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "File not found shader\\fragment.glsl");
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

struct TSetUpFailureRow {
  const char* name;
  std::string glLibrary;            // empty: the real one
  std::vector<std::string> hidden;  // entry points the context is made to lack
  bool lockFragmentShader;          // another holder keeps shader/fragment.glsl locked
  std::vector<std::string> inMessage;
};

void PrintTo(const TSetUpFailureRow& row, std::ostream* os) { *os << row.name; }

class DisplaySetUpFailure : public ::testing::TestWithParam<TSetUpFailureRow> {};

TEST_P(DisplaySetUpFailure, shows_the_error_opens_the_window_loads_nothing_and_releases_no_gl) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  const TSetUpFailureRow& row = GetParam();
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile());
  int holder = -1;
  if (row.lockFragmentShader) {
    holder = ::open((world.work() / "shader" / "fragment.glsl").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  }
  TViewSetup setup;
  if (!row.glLibrary.empty()) setup.glLibrary = row.glLibrary;
  const std::vector<std::string> hidden = row.hidden;
  setup.entryPointFilter = [hidden](const char* name, void* address) -> void* {
    for (const std::string& h : hidden) {
      if (h == name) return nullptr;
    }
    return address;
  };
  {
    auto w = std::make_unique<TWindow>(setup);
    if (holder >= 0) ::close(holder);
    ASSERT_EQ(w->boxes.texts.size(), 1) << "the error was not shown once";
    const std::string message = w->boxes.texts[0].toStdString();
    for (const std::string& text : row.inMessage) {
      EXPECT_NE(message.find(text), std::string::npos) << "\"" << text << "\" not in: " << message;
    }
    // Neither the tree's top level nor the loading timer was made after the failed view set-up.
    EXPECT_EQ(RootNodes, nullptr);
    EXPECT_FALSE(w->form.TimerOnCreate->isActive());
    w->form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w->form)) << "the window did not open";
    Settle(400);
    EXPECT_FALSE(w->form.LoadingFinished()) << "the archives were loaded";
    EXPECT_EQ(MpqList->Count(), 0u);
    EXPECT_EQ(w->form.VirtualStringTree->NodeCount(), 0u);
    EXPECT_FALSE(w->form.View().Ready());
    EXPECT_FALSE(GlApiReady()) << "the GL table outlived the failed set-up";
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
    // Paint and resize handlers run without GL: with the table empty any GL call would crash.
    w->form.resize(700, 600);
    w->form.repaint();
    ViewBox->viewport()->repaint();
    Settle();
    // The destruction releases what creation made, again without GL.
  }
  EXPECT_EQ(ViewBox, nullptr);
  EXPECT_EQ(RenderPanelHost, nullptr);
  EXPECT_EQ(MpqList, nullptr);
  EXPECT_TRUE(world.LogMessages().empty()) << "something was loaded or logged";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DisplaySetUpFailure,
    ::testing::Values(
        TSetUpFailureRow{"missing_gl_library", "libGL-velmora-absent.so.1", {}, false, {"libGL-velmora-absent.so.1"}},
        TSetUpFailureRow{"missing_entry_points", "", {"glGenVertexArrays", "glDrawElements"}, false,
                         {"glGenVertexArrays", "glDrawElements"}},
        TSetUpFailureRow{"shader_file_that_cannot_be_opened", "", {}, true, {"shader\\fragment.glsl"}}),
    [](const ::testing::TestParamInfo<TSetUpFailureRow>& p) { return std::string(p.param.name); });

// Shutdown with a texture shown: texture, tree and index, GL objects and context, archives,
// panel and scroll box, and no log line on the way. The sanitizers catch a texture released
// after its context or its archive (use after free) and anything left (leak check at exit).
TEST(Display, shutdown_releases_everything_and_logs_nothing) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TSelectionWorld s;
  TButtonFace face;
  TDisplayWorld world(s.Members(), s.ListFile());
  auto w = std::make_unique<TWindow>();
  ASSERT_NO_FATAL_FAILURE(w->ShowAndLoad());
  ClickNode(w->form, PathOf("a.blp"));
  ASSERT_TRUE(CurrentTexture);
  ASSERT_TRUE(PanelShows(OnScreen(s.a, DxtRules::Standard), 1));
  const std::vector<std::string> logBefore = world.LogMessages();
  w->form.close();
  w.reset();
  EXPECT_EQ(CurrentTexture, nullptr);
  EXPECT_EQ(RootNodes, nullptr);
  EXPECT_EQ(FileIndex, nullptr);
  EXPECT_EQ(MpqList, nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
  EXPECT_FALSE(GlApiReady());
  EXPECT_EQ(VertexArray, 0u);
  EXPECT_EQ(ShaderProgram, 0u);
  for (const TShaderInfo& entry : ShaderList) EXPECT_EQ(entry.shader, 0u);
  EXPECT_TRUE(RenderPanel.isNull());
  EXPECT_EQ(RenderPanelHost, nullptr);
  EXPECT_EQ(ViewBox, nullptr);
  EXPECT_EQ(world.LogMessages(), logBefore) << "something was logged during shutdown";
}

}  // namespace
}  // namespace velmora::test
