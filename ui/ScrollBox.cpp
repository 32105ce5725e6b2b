// The view's scroll box, its notice strip and its readout strip.
#include "ui/ScrollBox.h"

#include <QEvent>
#include <QLabel>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/ViewStrip.h"

namespace velmora {

TMyScrollBox::TMyScrollBox(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(false);  // the drawing panel keeps its own size; scroll bars show the rest
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFocusPolicy(Qt::NoFocus);
  // The strips lie in the viewport margins, outside the scrolled area: the GL panel is a native
  // window, which would cover any widget placed over it.
  FNoticeBox = new QWidget(this);
  FNoticeBox->setObjectName(QStringLiteral("ViewNoticeBox"));
  FNoticeBox->setAutoFillBackground(true);
  QPalette pal = FNoticeBox->palette();
  pal.setColor(QPalette::Window, QColor(255, 244, 206));  // a pale amber: noticed, not alarming
  pal.setColor(QPalette::WindowText, QColor(0x40, 0x30, 0x00));
  FNoticeBox->setPalette(pal);
  auto* layout = new QVBoxLayout(FNoticeBox);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FNotice = new QLabel(FNoticeBox);
  FNotice->setObjectName(QStringLiteral("ViewNotice"));
  FNotice->setWordWrap(true);
  FNotice->setTextFormat(Qt::PlainText);
  FNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FNotice->setMargin(6);
  FNotice->setAutoFillBackground(true);
  FNotice->setPalette(pal);
  layout->addWidget(FNotice);
  FNoticeExtras = new QWidget(FNoticeBox);
  FNoticeExtras->setObjectName(QStringLiteral("ViewNoticeExtras"));
  layout->addWidget(FNoticeExtras);
  FNoticeExtras->hide();
  FNoticeBox->hide();

  FStrip = new TViewStrip(this);
  connect(FStrip, &TViewStrip::ContentChanged, this, [this] { PlaceMargins(); });
}

void TMyScrollBox::PaintView() {
  if (OnRedrawTexture) OnRedrawTexture();
}

void TMyScrollBox::paintEvent(QPaintEvent* event) {
  QScrollArea::paintEvent(event);
  PaintView();
}

void TMyScrollBox::ShowNotice(const QString& text, bool withExtras) {
  FNotice->setText(text);
  FNoticeExtras->setVisible(withExtras && !text.isEmpty());
  FNoticeBox->setVisible(!text.isEmpty());
  PlaceMargins();
}

QString TMyScrollBox::Notice() const { return FNoticeBox->isVisible() ? FNotice->text() : QString(); }

bool TMyScrollBox::NoticeExtrasShown() const { return FNoticeBox->isVisible() && FNoticeExtras->isVisible(); }

void TMyScrollBox::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  PlaceMargins();
}

bool TMyScrollBox::viewportEvent(QEvent* event) {
  // Scroll bars that come or go move the viewport's bottom edge, where the strip lies.
  if (event->type() == QEvent::Resize) PlaceStrip();
  return QScrollArea::viewportEvent(event);
}

void TMyScrollBox::PlaceMargins() {
  if (FPlacing) return;
  FPlacing = true;
  const int w = width();
  int top = 0;
  // Shown or not of their own: the box itself may be hidden meanwhile (another pane in its place),
  // and must be laid out for when it shows again.
  if (!FNoticeBox->isHidden()) {
    // At most half the box, so that a texture stays in view below a long notice.
    const int wanted = FNoticeBox->hasHeightForWidth() ? FNoticeBox->heightForWidth(w) : FNoticeBox->sizeHint().height();
    top = std::min(wanted, std::max(height() / 2, 24));
    FNoticeBox->setGeometry(0, 0, w, top);
    FNoticeBox->raise();
  }
  int bottom = 0;
  FStrip->setVisible(FStrip->HasContent());
  if (!FStrip->isHidden()) {
    const int stripWidth = viewport()->width();
    bottom = FStrip->hasHeightForWidth() ? FStrip->heightForWidth(stripWidth) : FStrip->sizeHint().height();
    bottom = std::min(bottom, std::max(height() / 3, 16));
  }
  const QMargins now = viewportMargins();
  if (now.top() != top || now.bottom() != bottom) setViewportMargins(0, top, 0, bottom);
  FPlacing = false;
  PlaceStrip();
}

void TMyScrollBox::PlaceStrip() {
  if (FStrip->isHidden()) return;
  const QRect port = viewport()->geometry();
  const int h = viewportMargins().bottom();
  const QRect want(port.left(), port.bottom() + 1, port.width(), h);
  if (FStrip->geometry() != want) FStrip->setGeometry(want);
  FStrip->raise();
  // A strip that wraps differently at the new width asks for another height.
  const int wanted = FStrip->hasHeightForWidth() ? FStrip->heightForWidth(port.width()) : h;
  if (!FPlacing && std::min(wanted, std::max(height() / 3, 16)) != h) PlaceMargins();
}

}  // namespace velmora
