// The strip at the bottom of the texture view: the readout of the shown texture (the texel under
// the pointer, the zoom, the level, the encoding), the file's path with the archive that supplies
// it, the view's modes in words in the bottom-right corner, and for a few seconds what a save or
// a copy did. It lies in the scroll box's margin, outside the scrolled area, so it never covers a
// texel and the texture keeps the top-left corner of the view.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;

namespace velmora {

class TViewStrip : public QWidget {
  Q_OBJECT

public:
  explicit TViewStrip(QWidget* parent);

  // The values, in words; a line that is too long for the view wraps between them.
  void SetReadout(const QStringList& values);
  // The file's path as its listfile spells it (or its path on disk) and the archive that supplies
  // it; both shown whole, wrapping at path separators. `toolTip` says more.
  void SetSource(const QString& path, const QString& archive, const QString& toolTip);
  // The view's modes in words; empty hides the corner label.
  void SetModes(const QString& modes);
  // Shows `text` in place of the source line for `ms` milliseconds.
  void ShowMessage(const QString& text, int ms = kMessageMs);
  // Empties the readout and the source line (no texture shown).
  void Clear();

  QString Readout() const;
  QString Source() const;
  QString Modes() const;
  QString Message() const;  // empty once it has gone
  QLabel* ModesLabel() const { return FModes; }

  // Whether the strip has anything to show.
  bool HasContent() const;

  static constexpr int kMessageMs = 4000;

signals:
  // The strip's content changed, and with it possibly its height.
  void ContentChanged();

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  void ShowSource();

  QLabel* FReadout = nullptr;
  QLabel* FSource = nullptr;
  QLabel* FModes = nullptr;
  QString FSourceText;
  QString FSourceTip;
  QString FMessage;
  QTimer FMessageTimer;
};

// A path that may wrap after each of its separators when shown: a zero-width space follows every
// '\', '/' and ':'.
QString WrappablePath(const QString& path);

}  // namespace velmora
