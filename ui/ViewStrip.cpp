// The readout strip below the texture view.
#include "ui/ViewStrip.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>

namespace velmora {

namespace {

constexpr QChar kZeroWidthSpace(0x200B);
constexpr QChar kNoBreakSpace(0x00A0);
// The dot stays with the value before it, so that a wrapped line starts with a value.
const QString kSeparator = QStringLiteral("\u00A0\u00B7 ");

QString Unbroken(QString text) { return text.replace(QLatin1Char(' '), kNoBreakSpace); }

QString Plain(QString text) {
  text.remove(kZeroWidthSpace);
  return text.replace(kNoBreakSpace, QLatin1Char(' '));
}

}  // namespace

QString WrappablePath(const QString& path) {
  QString out;
  out.reserve(path.size() + path.size() / 8);
  for (const QChar c : path) {
    out += c;
    if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':')) out += kZeroWidthSpace;
  }
  return out;
}

TViewStrip::TViewStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ViewStrip"));
  setAutoFillBackground(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 2, 2, 1);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(0);

  FReadout = new QLabel(this);
  FReadout->setObjectName(QStringLiteral("ReadoutValues"));
  FSource = new QLabel(this);
  FSource->setObjectName(QStringLiteral("ReadoutSource"));
  for (QLabel* label : {FReadout, FSource}) {
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  // The modes in a label of their own colours, so that they catch the eye in the corner.
  FModes = new QLabel(this);
  FModes->setObjectName(QStringLiteral("ModeLabel"));
  FModes->setTextFormat(Qt::PlainText);
  FModes->setMargin(2);
  FModes->setAutoFillBackground(true);
  QPalette pal = FModes->palette();
  pal.setColor(QPalette::Window, QColor(0x2B, 0x4C, 0x7E));
  pal.setColor(QPalette::WindowText, QColor(0xFF, 0xFF, 0xFF));
  FModes->setPalette(pal);
  FModes->hide();

  // The values and the path take the whole width; the modes sit below them, in the corner.
  grid->addWidget(FReadout, 0, 0);
  grid->addWidget(FSource, 1, 0);
  grid->addWidget(FModes, 2, 0, Qt::AlignRight | Qt::AlignBottom);

  FMessageTimer.setSingleShot(true);
  connect(&FMessageTimer, &QTimer::timeout, this, [this] {
    FMessage.clear();
    ShowSource();
  });
  hide();
}

void TViewStrip::SetReadout(const QStringList& values) {
  QStringList unbroken;
  for (const QString& value : values) unbroken << Unbroken(value);
  const QString text = unbroken.join(kSeparator);
  if (text == FReadout->text()) return;
  FReadout->setText(text);
  emit ContentChanged();
}

void TViewStrip::SetSource(const QString& path, const QString& archive, const QString& toolTip) {
  QString text = WrappablePath(path);
  if (!archive.isEmpty()) text += QStringLiteral(" in ") + WrappablePath(archive);
  FSourceText = text;
  FSourceTip = toolTip;
  ShowSource();
}

void TViewStrip::ShowSource() {
  const QString text = FMessage.isEmpty() ? FSourceText : FMessage;
  FSource->setToolTip(FMessage.isEmpty() ? FSourceTip : QString());
  QFont font = FSource->font();
  font.setBold(!FMessage.isEmpty());
  FSource->setFont(font);
  FSource->setText(text);
  emit ContentChanged();
}

void TViewStrip::SetModes(const QString& modes) {
  if (modes == FModes->text() && FModes->isVisibleTo(this) == !modes.isEmpty()) return;
  FModes->setText(modes);
  FModes->setVisible(!modes.isEmpty());
  emit ContentChanged();
}

void TViewStrip::ShowMessage(const QString& text, int ms) {
  FMessage = text;
  FMessageTimer.start(ms);
  ShowSource();
}

void TViewStrip::Clear() {
  FReadout->clear();
  FSourceText.clear();
  FSourceTip.clear();
  ShowSource();
}

void TViewStrip::paintEvent(QPaintEvent*) {
  // A line between the picture's area and the strip.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawLine(0, 0, width() - 1, 0);
}

QString TViewStrip::Readout() const { return Plain(FReadout->text()); }
QString TViewStrip::Source() const { return Plain(FSourceText); }
QString TViewStrip::Modes() const { return FModes->text(); }
QString TViewStrip::Message() const { return FMessage; }

bool TViewStrip::HasContent() const {
  return !FReadout->text().isEmpty() || !FSourceText.isEmpty() || !FMessage.isEmpty() || !FModes->text().isEmpty();
}

}  // namespace velmora
