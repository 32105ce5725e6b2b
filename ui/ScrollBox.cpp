// The view's scroll box and its notice strip.
#include "ui/ScrollBox.h"

#include <QLabel>
#include <QResizeEvent>

#include <algorithm>

namespace velmora {

TMyScrollBox::TMyScrollBox(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(false);  // the drawing panel keeps its own size; scroll bars show the rest
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFocusPolicy(Qt::NoFocus);
  // The strip lies in the viewport margin, outside the scrolled area: the GL panel is a native
  // window, which would cover any widget placed over it.
  FNotice = new QLabel(this);
  FNotice->setObjectName(QStringLiteral("ViewNotice"));
  FNotice->setWordWrap(true);
  FNotice->setTextFormat(Qt::PlainText);
  FNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FNotice->setMargin(6);
  FNotice->setAutoFillBackground(true);
  QPalette pal = FNotice->palette();
  pal.setColor(QPalette::Window, QColor(255, 244, 206));  // a pale amber: noticed, not alarming
  pal.setColor(QPalette::WindowText, QColor(0x40, 0x30, 0x00));
  FNotice->setPalette(pal);
  FNotice->hide();
}

void TMyScrollBox::PaintView() {
  if (OnRedrawTexture) OnRedrawTexture();
}

void TMyScrollBox::paintEvent(QPaintEvent* event) {
  QScrollArea::paintEvent(event);
  PaintView();
}

void TMyScrollBox::ShowNotice(const QString& text) {
  FNotice->setText(text);
  FNotice->setVisible(!text.isEmpty());
  PlaceNotice();
}

QString TMyScrollBox::Notice() const { return FNotice->isVisible() ? FNotice->text() : QString(); }

void TMyScrollBox::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  PlaceNotice();
}

void TMyScrollBox::PlaceNotice() {
  if (!FNotice->isVisible()) {
    setViewportMargins(0, 0, 0, 0);
    return;
  }
  const int w = width();
  // At most half the box, so that a texture stays in view below a long notice.
  const int h = std::min(FNotice->heightForWidth(w), std::max(height() / 2, 24));
  FNotice->setGeometry(0, 0, w, h);
  FNotice->raise();
  setViewportMargins(0, h, 0, 0);
}

}  // namespace velmora
