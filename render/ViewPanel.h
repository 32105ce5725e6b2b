// The drawing panel of the texture view: a native window that carries the view's OpenGL
// surface. It holds no GL state of its own; the view (render/View.h) draws into it. The main
// window embeds it with QWidget::createWindowContainer.
#pragma once

#include <functional>

#include <QPointF>
#include <QSurfaceFormat>
#include <QWindow>

namespace velmora {

// Pixel format of the panel: 8-bit red, green and blue, no destination alpha (an alpha
// channel makes the X visual 32-bit ARGB, which a compositing desktop shows translucent),
// 24-bit depth, no stencil, double-buffered. No version or profile is requested, which gives
// a compatibility context.
QSurfaceFormat ViewSurfaceFormat();

class TRenderPanel : public QWindow {
public:
  // Size before the first texture is shown.
  static constexpr int kInitialSize = 256;

  explicit TRenderPanel(QWindow* parent = nullptr);
  ~TRenderPanel() override;

  // Called when the window system shows part of the panel anew (first show, uncovering,
  // resizing). Unset, the panel draws nothing by itself: the owner routes its own painting
  // to the view's redraw.
  void SetExposeHandler(std::function<void()> handler) { FOnExpose = std::move(handler); }

  // Called for every mouse movement over the panel, with the position relative to its top-left
  // corner (with fractions on a scaled desktop, where a device pixel is part of a panel pixel). A
  // native window takes its own mouse events: the widget that embeds it sees none.
  void SetMouseMoveHandler(std::function<void(QPointF)> handler) { FOnMouseMove = std::move(handler); }

protected:
  void exposeEvent(QExposeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

private:
  std::function<void()> FOnExpose;
  std::function<void(QPointF)> FOnMouseMove;
};

}  // namespace velmora
