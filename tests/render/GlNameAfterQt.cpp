// The GL table's header after Qt's OpenGL header, which defines the extension's name as a macro.
#include <QOpenGLContext>

#include "gl/GlApi.h"

namespace velmora::test {
bool* FlagSeenAfterQt() { return &GL_ARB_texture_compression; }
}  // namespace velmora::test
