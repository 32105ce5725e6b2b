// The view on a window system that offers no OpenGL at all (Qt's X11 platform with its GL
// integration switched off): set-up fails with a message, and afterwards nothing touches GL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ViewHarness.h"
#include "render/View.h"

// Last: Qt's GL header brings the system one, which defines GL_ARB_texture_compression as a
// macro and would break the program's flag of that name in the headers above.
#include <QOpenGLContext>

using namespace velmora;

namespace {

TEST(ViewWithoutGl, set_up_fails_with_a_message_and_nothing_is_drawn_or_released) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "no X display (DISPLAY is unset)";
  TRenderPanel panel;
  ASSERT_TRUE(test::ShowPanel(panel, 40, 30, 16, 8));
  TGlView view;
  std::string message;
  try {
    view.InitView(panel, TRgb{201, 187, 173});
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("OpenGL context"), std::string::npos) << "message: " << message;
  EXPECT_FALSE(view.Ready());
  EXPECT_EQ(view.Context(), nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
  EXPECT_FALSE(GlApiReady());
  view.SetViewport();
  view.RedrawTexture();
  view.DoneView();
}

}  // namespace

int main(int argc, char** argv) {
  // Read by Qt's X11 platform when it starts: no GLX and no EGL integration.
  ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
  return velmora::test::RunViewTests(argc, argv);
}
