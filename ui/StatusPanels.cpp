// Status panel fonts and frame metrics, and the readout panel.
#include "ui/StatusPanels.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QStatusBar>

#include <algorithm>

namespace velmora {

namespace {

// Narrower and narrower: QFont's semi-condensed, condensed and extra-condensed steps in between.
// A font without such faces is scaled horizontally by the font engine.
constexpr int kStretches[] = {100, 94, 87, 81, 75, 69};

// Keeps a panel's line box as tall as the font's line: what the frame's inner area lacks comes
// out of the frame's rows, top first (the font's spare ascent lies there), then bottom.
class TLineBoxKeeper : public QObject {
public:
  using QObject::QObject;

  static void Fit(QLabel& label) {
    const int frame = label.frameWidth();
    const int inner = label.height() - 2 * frame;
    const int lack = std::max(0, QFontMetrics(label.font()).height() - inner);
    const int top = std::min(lack, frame);
    const int bottom = std::min(lack - top, frame);
    const QMargins margins(0, -top, 0, -bottom);
    if (label.contentsMargins() != margins) label.setContentsMargins(margins);
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange) {
      if (auto* label = qobject_cast<QLabel*>(watched)) Fit(*label);
    }
    return false;
  }
};

void KeepLineBox(QLabel& label) {
  label.installEventFilter(new TLineBoxKeeper(&label));
  TLineBoxKeeper::Fit(label);
}

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

QLabel* AddInfoPanel(QStatusBar& bar, const std::array<QLabel*, 3>& panels) {
  auto* panel = new QLabel(&bar);
  panel->setObjectName(QStringLiteral("StatusPanel3"));
  panel->setFrameStyle(panels[0]->frameStyle());
  panel->setFont(panels[0]->font());
  // Long archive paths must not widen the window: the panel takes what the others leave.
  panel->setMinimumWidth(0);
  panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bar.addWidget(panel, 1);
  KeepLineBox(*panel);
  return panel;
}

}  // namespace velmora
