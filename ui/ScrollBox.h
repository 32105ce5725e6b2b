// The scroll box of the texture view, and the notice line it can show above the texture.
#pragma once

#include <QScrollArea>
#include <QString>

#include <functional>

class QLabel;

namespace velmora {

// Scroll bars appear when the drawing panel is larger than the client area. A notice, when
// there is one, takes a strip at the top of the box, above the scrolled area; without one the box
// is all scrolled area.
class TMyScrollBox : public QScrollArea {
  Q_OBJECT

public:
  explicit TMyScrollBox(QWidget* parent);

  // The main window's RedrawTexture; the scroll box's painting runs it after its own.
  std::function<void()> OnRedrawTexture;

  // The scroll box's window-painting step for what it shows: the GL panel has no painting of
  // its own, so its exposures come here too.
  void PaintView();

  // Shows `text` (a few short lines at most) at the top of the box, in place of any earlier
  // notice; an empty text removes it.
  void ShowNotice(const QString& text);
  void ClearNotice() { ShowNotice(QString()); }
  QString Notice() const;
  QLabel* NoticeLabel() const { return FNotice; }

protected:
  // Painting of the client area (the viewport): the inherited painting first, then the view.
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void PlaceNotice();

  QLabel* FNotice = nullptr;
};

}  // namespace velmora
