// The drawing panel's native window and its pixel format.
#include "render/ViewPanel.h"

#include <QExposeEvent>
#include <QMouseEvent>

namespace velmora {

QSurfaceFormat ViewSurfaceFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  format.setAlphaBufferSize(0);
  format.setDepthBufferSize(24);
  format.setStencilBufferSize(0);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  return format;
}

TRenderPanel::TRenderPanel(QWindow* parent) : QWindow(parent) {
  setSurfaceType(QSurface::OpenGLSurface);
  setFormat(ViewSurfaceFormat());
  resize(kInitialSize, kInitialSize);
}

TRenderPanel::~TRenderPanel() = default;

void TRenderPanel::exposeEvent(QExposeEvent* event) {
  QWindow::exposeEvent(event);
  if (FOnExpose && isExposed()) FOnExpose();
}

void TRenderPanel::mouseMoveEvent(QMouseEvent* event) {
  QWindow::mouseMoveEvent(event);
  if (FOnMouseMove) FOnMouseMove(event->position());
}

}  // namespace velmora
