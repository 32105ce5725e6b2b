// The scroll box of the texture view, the notice it can show above the texture and the readout
// strip below it.
#pragma once

#include <QScrollArea>
#include <QString>

#include <functional>

class QLabel;

namespace velmora {

class TViewStrip;

// Scroll bars appear when the drawing panel is larger than the client area. A notice, when
// there is one, takes a strip at the top of the box, and the readout strip (ui/ViewStrip.h),
// when it has something to say, one at the bottom; both lie outside the scrolled area, so the
// scrolled area keeps its top-left corner at the texture's and neither covers a texel.
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
  // notice; an empty text removes it. With `withExtras`, the widgets the window put into
  // NoticeExtras() show below the text (the ways on from an empty start).
  void ShowNotice(const QString& text, bool withExtras = false);
  void ClearNotice() { ShowNotice(QString()); }
  QString Notice() const;
  QLabel* NoticeLabel() const { return FNotice; }
  // Where the window puts buttons and hints that belong to its start-up notice; hidden unless a
  // notice asks for them.
  QWidget* NoticeExtras() const { return FNoticeExtras; }
  bool NoticeExtrasShown() const;

  TViewStrip* Strip() const { return FStrip; }

protected:
  // Painting of the client area (the viewport): the inherited painting first, then the view.
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool viewportEvent(QEvent* event) override;

private:
  // Sets the margins for the notice and the strip and places both.
  void PlaceMargins();
  void PlaceStrip();

  QWidget* FNoticeBox = nullptr;
  QLabel* FNotice = nullptr;
  QWidget* FNoticeExtras = nullptr;
  TViewStrip* FStrip = nullptr;
  bool FPlacing = false;
};

}  // namespace velmora
