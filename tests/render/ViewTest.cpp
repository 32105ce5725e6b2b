// The texture view in a real window on a real X server (Xvfb) with Mesa's GL: what reaches the
// screen (one pixel per texel, first row on top, blending over the clear colour, the clear
// colour without a texture), the quad's buffers, the exact calls of set-up, drawing and
// release, and the failures that leave the view without GL.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ViewHarness.h"
#include "render/GlCommon.h"
#include "render/View.h"
#include "support/RecordingGl.h"

// Last: Qt's GL header brings the system one, which defines GL_ARB_texture_compression as a
// macro and would break the program's flag of that name in the headers above.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QOpenGLContext>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::RgbaImage;

namespace {

// Distinct red, green and blue, so a swapped channel shows.
constexpr TRgb kButtonFace{201, 187, 173};
constexpr int kPanelX = 40;
constexpr int kPanelY = 30;

// Texel (x, y) of a texture whose every texel differs from its neighbours in each channel.
RgbaImage Pattern(int w, int h, std::uint8_t alpha = 255) {
  RgbaImage image;
  image.width = w;
  image.height = h;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.pixels.push_back(static_cast<std::uint8_t>(10 + 15 * x));
      image.pixels.push_back(static_cast<std::uint8_t>(5 + 29 * y));
      image.pixels.push_back(static_cast<std::uint8_t>((7 * x + 13 * y) ^ 0x5A));
      image.pixels.push_back(alpha);
    }
  }
  return image;
}

// What blending with GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA over the clear colour leaves.
RgbaImage BlendedOverButtonFace(const RgbaImage& texture) {
  RgbaImage out = texture;
  const std::uint8_t face[3] = {kButtonFace.r, kButtonFace.g, kButtonFace.b};
  for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
    const double a = texture.pixels[i + 3] / 255.0;
    for (int c = 0; c < 3; ++c) {
      out.pixels[i + c] = static_cast<std::uint8_t>(std::lround(texture.pixels[i + c] * a + face[c] * (1 - a)));
    }
    out.pixels[i + 3] = 255;
  }
  return out;
}

// The grab's alpha is the screen's (opaque); only colour is compared.
RgbaImage Opaque(RgbaImage image) {
  for (std::size_t i = 3; i < image.pixels.size(); i += 4) image.pixels[i] = 255;
  return image;
}

class View : public ::testing::Test {
protected:
  void SetUp() override {
    if (!test::HaveDisplay()) GTEST_SKIP() << "no X display (DISPLAY is unset)";
    cwd_.emplace(test::SourceDir());
    panel_ = std::make_unique<TRenderPanel>();
  }

  void TearDown() override {
    CurrentTexture.reset();
    view_.DoneView();
    panel_.reset();
    cwd_.reset();
  }

  // Shows the panel, sets the view up on it and fails the test when either does not work.
  void ShowAndInit(int w, int h) {
    ASSERT_TRUE(test::ShowPanel(*panel_, kPanelX, kPanelY, w, h));
    view_.InitView(*panel_, kButtonFace);
    ASSERT_TRUE(view_.Ready());
  }

  // Loads `image` as the shown texture through a real archive and the BLP loader.
  void Show(const RgbaImage& image) {
    archive_.emplace();
    archive_->Add("textures\\shown.blp", image);
    archive_->Open();
    CurrentTexture = std::make_unique<TBlpTexture>("textures\\shown.blp");
    ASSERT_EQ(CurrentTexture->width, image.width);
    ASSERT_EQ(CurrentTexture->height, image.height);
  }

  RgbaImage DrawAndGrab() {
    view_.RedrawTexture();
    return Opaque(test::GrabPanel(*panel_));
  }

  std::optional<test::TWorkingDir> cwd_;
  std::optional<test::TTextureArchive> archive_;
  std::unique_ptr<TRenderPanel> panel_;
  TGlView view_;
};

TEST_F(View, texels_land_one_per_pixel_with_the_first_row_at_the_top) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  const RgbaImage texture = Pattern(16, 8);
  ASSERT_NO_FATAL_FAILURE(Show(texture));
  EXPECT_TRUE(test::PixelsMatch(texture, DrawAndGrab()));
}

TEST_F(View, texture_with_alpha_0_everywhere_shows_the_clear_colour) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  ASSERT_NO_FATAL_FAILURE(Show(Pattern(16, 8, 0)));
  EXPECT_TRUE(test::PixelsMatch(test::Filled(16, 8, kButtonFace.r, kButtonFace.g, kButtonFace.b), DrawAndGrab()));
}

TEST_F(View, partly_transparent_texels_blend_over_the_clear_colour) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  const RgbaImage texture = Pattern(16, 8, 96);
  ASSERT_NO_FATAL_FAILURE(Show(texture));
  EXPECT_TRUE(test::PixelsMatch(BlendedOverButtonFace(texture), DrawAndGrab(), 1));
}

TEST_F(View, no_texture_clears_to_the_button_colour_and_swaps) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  const RgbaImage texture = Pattern(16, 8);
  ASSERT_NO_FATAL_FAILURE(Show(texture));
  ASSERT_TRUE(test::PixelsMatch(texture, DrawAndGrab()));
  CurrentTexture.reset();
  // Only a swap brings the cleared frame to the screen, which still shows the texture.
  EXPECT_TRUE(test::PixelsMatch(test::Filled(16, 8, kButtonFace.r, kButtonFace.g, kButtonFace.b), DrawAndGrab()));
}

TEST_F(View, viewport_follows_the_panel_once_refitted) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(TRenderPanel::kInitialSize, TRenderPanel::kInitialSize));
  const RgbaImage texture = Pattern(12, 6);
  ASSERT_NO_FATAL_FAILURE(Show(texture));
  // As in the program, the panel has been painted before a selection resizes it. (Mesa's
  // software GLX reads the window's size anew only after a swap or a make-current.)
  view_.RedrawTexture();
  // Resize, refit and draw in one go, as the selection does, with no events in between.
  panel_->resize(texture.width, texture.height);
  view_.SetViewport();
  EXPECT_TRUE(test::PixelsMatch(texture, DrawAndGrab()));
}

TEST_F(View, zero_size_viewport_draws_nothing_and_does_not_fail) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  ASSERT_NO_FATAL_FAILURE(Show(Pattern(16, 8)));
  panel_->resize(0, 0);
  view_.SetViewport();
  GLint viewport[4] = {-1, -1, -1, -1};
  Gl.GetIntegerv(0x0BA2 /* GL_VIEWPORT */, viewport);
  EXPECT_EQ(viewport[2], 0);
  EXPECT_EQ(viewport[3], 0);
  view_.RedrawTexture();
  EXPECT_EQ(Gl.GetError(), gl::NO_ERROR_);
}

TEST_F(View, quad_buffers_hold_the_indices_coordinates_and_positions) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  using TGetBufferSubData = void (*)(GLenum, std::ptrdiff_t, GLsizeiptr, void*);
  using TGetBufferParameteriv = void (*)(GLenum, GLenum, GLint*);
  auto getData = reinterpret_cast<TGetBufferSubData>(view_.Context()->getProcAddress("glGetBufferSubData"));
  auto getParam = reinterpret_cast<TGetBufferParameteriv>(view_.Context()->getProcAddress("glGetBufferParameteriv"));
  ASSERT_TRUE(getData && getParam);

  const std::uint16_t indices[4] = {0, 1, 2, 3};
  const float texCoords[8] = {0, 0, 0, 1, 1, 0, 1, 1};
  const float positions[12] = {-1, 1, 0, -1, -1, 0, 1, 1, 0, 1, -1, 0};
  struct Row {
    const char* name;
    GLuint buffer;
    GLenum target;
    const void* expected;
    GLint size;
  } rows[] = {{"IndexBuffer", IndexBuffer, gl::ELEMENT_ARRAY_BUFFER, indices, 8},
              {"TexCoordBuffer", TexCoordBuffer, gl::ARRAY_BUFFER, texCoords, 32},
              {"PositionBuffer", PositionBuffer, gl::ARRAY_BUFFER, positions, 48}};
  for (const Row& row : rows) {
    ASSERT_NE(row.buffer, 0u) << row.name;
    Gl.BindBuffer(row.target, row.buffer);
    GLint size = -1;
    getParam(row.target, 0x8764 /* GL_BUFFER_SIZE */, &size);
    EXPECT_EQ(size, row.size) << row.name;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(row.size), 0xEE);
    getData(row.target, 0, row.size, bytes.data());
    EXPECT_EQ(std::memcmp(bytes.data(), row.expected, bytes.size()), 0) << row.name << " holds other bytes";
  }
}

TEST_F(View, done_view_releases_everything_and_a_second_call_does_nothing) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  ASSERT_NO_FATAL_FAILURE(Show(Pattern(16, 8)));
  CurrentTexture.reset();
  view_.DoneView();
  EXPECT_FALSE(view_.Ready());
  EXPECT_EQ(view_.Context(), nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
  EXPECT_FALSE(GlApiReady());
  EXPECT_EQ(VertexArray, 0u);
  EXPECT_EQ(ShaderProgram, 0u);
  EXPECT_EQ(IndexBuffer, 0u);
  EXPECT_EQ(TexCoordBuffer, 0u);
  EXPECT_EQ(PositionBuffer, 0u);
  for (const TShaderInfo& entry : ShaderList) EXPECT_EQ(entry.shader, 0u);
  view_.DoneView();
  view_.RedrawTexture();
  view_.SetViewport();
}

TEST_F(View, texture_still_shown_at_release_goes_while_the_context_exists) {
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  ASSERT_NO_FATAL_FAILURE(Show(Pattern(16, 8)));
  view_.DoneView();
  EXPECT_EQ(CurrentTexture, nullptr);
  EXPECT_FALSE(GlApiReady());
}

TEST_F(View, set_up_draw_and_release_make_exactly_these_calls) {
  test::RecordingGl recording;
  TViewSetup setup;
  setup.entryPointFilter = [&recording](const char* name, void*) { return recording.Lookup(name); };
  view_.InitView(*panel_, kButtonFace, setup);
  ASSERT_TRUE(view_.Ready());

  auto traceFrom = [&](const char* first) {
    std::string trace = recording.Trace();
    const std::size_t at = trace.find(first);
    return at == std::string::npos ? trace : trace.substr(at);
  };
  auto colour = [](std::uint8_t v) { return std::to_string(static_cast<std::int64_t>(v / 255.0f * 1000)); };
  const std::string setUp =
      "glPolygonMode(1028, 6914)\n"
      "glClearColor(" + colour(kButtonFace.r) + ", " + colour(kButtonFace.g) + ", " + colour(kButtonFace.b) + ", 1000)\n"
      "glViewport(0, 0, 256, 256)\n"
      "glEnable(3042)\n"
      "glBlendFunc(770, 771)\n"
      "glGenVertexArrays(1)\n"
      "glBindVertexArray(1)\n"
      "glCreateProgram()\n"
      "glCreateShader(35633)\nglShaderSource(3, 1, 1, 1)\nglCompileShader(3)\nglGetShaderiv(3, 35713)\n"
      "glAttachShader(2, 3)\n"
      "glCreateShader(35632)\nglShaderSource(4, 1, 1, 1)\nglCompileShader(4)\nglGetShaderiv(4, 35713)\n"
      "glAttachShader(2, 4)\n"
      "glLinkProgram(2)\nglGetProgramiv(2, 35714)\n"
      "glUseProgram(2)\n"
      "glGenBuffers(1)\nglBindBuffer(34963, 5)\nglBufferData(34963, 8, 1, 35044)\n"
      "glGenBuffers(1)\nglBindBuffer(34962, 6)\nglBufferData(34962, 32, 1, 35044)\n"
      "glGenBuffers(1)\nglBindBuffer(34962, 7)\nglBufferData(34962, 48, 1, 35044)\n";
  EXPECT_EQ(traceFrom("glPolygonMode"), setUp);
  EXPECT_EQ(VertexArray, 1u);
  EXPECT_EQ(ShaderProgram, 2u);
  EXPECT_EQ(ShaderList[0].shader, 3u);
  EXPECT_EQ(ShaderList[1].shader, 4u);
  EXPECT_EQ(IndexBuffer, 5u);
  EXPECT_EQ(TexCoordBuffer, 6u);
  EXPECT_EQ(PositionBuffer, 7u);

  // A texture whose file is not indexed still has its GL name.
  archive_.emplace();
  CurrentTexture = std::make_unique<TBlpTexture>("textures\\absent.blp");
  const std::string id = std::to_string(CurrentTexture->id);
  recording.calls.clear();
  view_.RedrawTexture();
  EXPECT_EQ(recording.Trace(),
            "glClear(16640)\n"
            "glBindVertexArray(1)\nglUseProgram(2)\n"
            "glBindBuffer(34962, 7)\nglVertexAttribPointer(0, 3, 5126, 0, 0, 0)\nglEnableVertexAttribArray(0)\n"
            "glBindBuffer(34962, 6)\nglVertexAttribPointer(1, 2, 5126, 0, 0, 0)\nglEnableVertexAttribArray(1)\n"
            "glBindBuffer(34963, 5)\n"
            "glActiveTexture(33984)\nglBindTexture(3553, " + id + ")\n"
            "glDrawElements(5, 4, 5123, 0)\n");

  CurrentTexture.reset();
  recording.calls.clear();
  view_.RedrawTexture();
  EXPECT_EQ(recording.Trace(), "glClear(16640)\n");

  recording.calls.clear();
  view_.DoneView();
  EXPECT_EQ(recording.Trace(),
            "glBindBuffer(34963, 0)\nglBindBuffer(34962, 0)\n"
            "glDeleteBuffers(1, 1)\nglDeleteBuffers(1, 1)\nglDeleteBuffers(1, 1)\n"
            "glDeleteShader(3)\nglDeleteShader(4)\n"
            "glDeleteProgram(2)\n"
            "glDeleteVertexArrays(1, 1)\n");
}

// A program of 0 leaves GL's fixed pipeline to draw the quad: untextured, in the current
// colour, which is opaque white until someone sets it.
TEST_F(View, shader_program_0_still_draws_the_quad) {
  test::TempDir work;
  fs::create_directories(work.path() / "shader");
  fs::copy_file(test::SourceDir() / "shader" / "vertex.glsl", work.path() / "shader" / "vertex.glsl");
  test::TWorkingDir inWork(work.path());
  ASSERT_NO_FATAL_FAILURE(ShowAndInit(16, 8));
  EXPECT_EQ(ShaderProgram, 0u);
  ASSERT_NO_FATAL_FAILURE(Show(Pattern(16, 8)));
  EXPECT_TRUE(test::PixelsMatch(test::Filled(16, 8, 255, 255, 255), DrawAndGrab()));
}

TEST_F(View, panel_reports_mouse_moves_and_exposure_to_its_owner) {
  std::vector<QPoint> moves;
  int exposes = 0;
  panel_->SetMouseMoveHandler([&moves](QPointF p) { moves.push_back(p.toPoint()); });
  panel_->SetExposeHandler([&exposes] { ++exposes; });
  ASSERT_TRUE(test::ShowPanel(*panel_, kPanelX, kPanelY, 16, 8));
  EXPECT_GE(exposes, 1);
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 3), panel_->mapToGlobal(QPointF(5, 3)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(panel_.get(), &move);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], QPoint(5, 3));
}

struct FailureRow {
  const char* name;
  std::string glLibrary;              // empty: the real one
  std::vector<std::string> hidden;    // entry points the context is made to lack
  bool lockFragmentShader = false;    // another holder keeps shader/fragment.glsl locked
  std::vector<std::string> inMessage; // texts the error message must hold
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class ViewSetUpFailure : public View, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ViewSetUpFailure, raises_names_the_cause_and_leaves_no_gl_behind) {
  const FailureRow& row = GetParam();
  test::TempDir work;
  fs::create_directories(work.path() / "shader");
  for (const char* name : {"vertex.glsl", "fragment.glsl"}) {
    fs::copy_file(test::SourceDir() / "shader" / name, work.path() / "shader" / name);
  }
  test::TWorkingDir inWork(work.path());
  int holder = -1;
  if (row.lockFragmentShader) {
    holder = ::open((work.path() / "shader" / "fragment.glsl").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  }
  ASSERT_TRUE(test::ShowPanel(*panel_, kPanelX, kPanelY, 16, 8));

  TViewSetup setup;
  if (!row.glLibrary.empty()) setup.glLibrary = row.glLibrary;
  const std::vector<std::string> hidden = row.hidden;
  setup.entryPointFilter = [hidden](const char* name, void* address) -> void* {
    for (const std::string& h : hidden) {
      if (h == name) return nullptr;
    }
    return address;
  };
  std::string message;
  try {
    view_.InitView(*panel_, kButtonFace, setup);
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  if (holder >= 0) ::close(holder);
  ASSERT_FALSE(message.empty()) << "InitView raised no error";
  for (const std::string& text : row.inMessage) {
    EXPECT_NE(message.find(text), std::string::npos) << "\"" << text << "\" not in: " << message;
  }
  EXPECT_FALSE(view_.Ready());
  EXPECT_EQ(view_.Context(), nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
  EXPECT_FALSE(GlApiReady());
  EXPECT_EQ(VertexArray, 0u);
  EXPECT_EQ(IndexBuffer, 0u);
  for (const TShaderInfo& entry : ShaderList) EXPECT_EQ(entry.shader, 0u);
  // With the table empty, any GL call would crash here.
  view_.SetViewport();
  view_.RedrawTexture();
  view_.DoneView();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ViewSetUpFailure,
    ::testing::Values(
        FailureRow{"missing_gl_library", "libGL-velmora-absent.so.1", {}, false, {"libGL-velmora-absent.so.1"}},
        FailureRow{"missing_entry_points", "", {"glGenVertexArrays", "glDrawElements"}, false,
                   {"glGenVertexArrays", "glDrawElements", "libGL.so.1"}},
        FailureRow{"shader_file_that_cannot_be_opened", "", {}, true, {"shader\\fragment.glsl"}}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) { return velmora::test::RunViewTests(argc, argv); }
