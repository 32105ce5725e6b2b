// Status panel fonts and frame metrics.
#include "ui/StatusPanels.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace velmora {

namespace {

// Narrower and narrower: QFont's semi-condensed, condensed and extra-condensed steps in between.
// A font without such faces is scaled horizontally by the font engine.
constexpr int kStretches[] = {100, 94, 87, 81, 75, 69};

// A panel's frame leaves 12 rows inside a 14-row panel, one less than the line of an 11-pixel
// font (ascent 10 and descent 3 for DejaVu Sans). The label centres that line and clips it to the
// frame's inside, which cuts the descenders and underscores. The ascent holds a row or two of
// room above the tallest letters, so the panel draws its text itself: centred as the label would,
// but never with the descent below the inside; the frame stays where it was.
class TPanelPainter : public QObject {
public:
  using QObject::QObject;

  static void Paint(QLabel& label) {
    QPainter painter(&label);
    QStyleOptionFrame frame;
    frame.initFrom(&label);
    frame.rect = label.frameRect();
    frame.frameShape = label.frameShape();
    frame.lineWidth = label.lineWidth();
    frame.midLineWidth = label.midLineWidth();
    if (label.frameShadow() == QFrame::Sunken) frame.state |= QStyle::State_Sunken;
    if (label.frameShadow() == QFrame::Raised) frame.state |= QStyle::State_Raised;
    label.style()->drawControl(QStyle::CE_ShapedFrame, &frame, &painter, &label);

    const QRect inside = label.contentsRect();
    const QFontMetrics metrics(label.font());
    const int centred = inside.top() + (inside.height() - metrics.height()) / 2 + metrics.ascent();
    const int baseline = std::min(centred, inside.bottom() + 1 - metrics.descent());
    // The label's own indent: half an "x" inside a frame.
    const int indent = label.indent() >= 0 ? label.indent()
                                           : (label.frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0);
    painter.setClipRect(inside);
    painter.setFont(label.font());
    painter.setPen(label.palette().color(label.isEnabled() ? QPalette::Active : QPalette::Disabled, label.foregroundRole()));
    painter.drawText(QPoint(inside.left() + indent, baseline), label.text());
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    auto* label = qobject_cast<QLabel*>(watched);
    if (label == nullptr) return false;
    Paint(*label);
    return true;
  }
};

void KeepLineBox(QLabel& label) { label.installEventFilter(new TPanelPainter(&label)); }

}  // namespace

QString WidestHeaderText() {
  return QStringLiteral("type 1, comp 2, a_bits 8, a_type 8, mips 17, 4096 x 4096");
}

void FitStatusPanels(const std::array<QLabel*, 3>& panels) {
  QLabel& first = *panels[0];
  const int room = first.width() - 2 * first.frameWidth();
  QFont font = first.font();
  for (const int stretch : kStretches) {
    font.setStretch(stretch);
    if (QFontMetrics(font).horizontalAdvance(WidestHeaderText()) <= room) break;
  }
  for (QLabel* panel : panels) {
    if (font.stretch() != 100) panel->setFont(font);
    KeepLineBox(*panel);
  }
}

}  // namespace velmora
