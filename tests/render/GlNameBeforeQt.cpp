// The GL table's header before Qt's OpenGL header: the flag's name must survive the later header.
#include "gl/GlApi.h"

#include <QOpenGLContext>

#include <gtest/gtest.h>

namespace velmora::test {

bool* FlagSeenAfterQt();

TEST(GlApiHeader, flag_name_means_the_flag_whichever_header_comes_first) {
  EXPECT_EQ(&GL_ARB_texture_compression, FlagSeenAfterQt());
}

}  // namespace velmora::test
