// The window's export dialog (File -> "Export...", Ctrl+E; the tree's folder menu): what to
// export (the selected file, the selected folder, or everything the tree shows through its
// filter), the format (PNG, DDS, raw), mip levels for PNG, whether files already there are
// skipped or overwritten, and the output folder. The choices are remembered in the user's
// settings for the next export.
#pragma once

#include <QDialog>
#include <QString>

#include <cstddef>
#include <functional>

#include "blp/BlpExport.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace velmora {

enum class TExportScope { kSelectedFile, kSelectedFolder, kShown };

struct TExportChoice {
  TExportScope scope = TExportScope::kShown;
  blp::TExportFormat format = blp::TExportFormat::kPng;
  bool mips = false;
  bool overwrite = false;
  QString folder;
};

// The format, mips, overwrite and folder of the last export (the home folder before the first);
// the scope is not remembered.
TExportChoice LoadExportChoice();
void SaveExportChoice(const TExportChoice& choice);

class TExportDialog : public QDialog {
  Q_OBJECT

public:
  // `file` and `folder` name the selected file and folder as the tree shows them (empty: none,
  // and that choice is off); `shownFiles` counts the files the filter lets through, or is 0 with
  // no filter on. `initial` sets every choice; a scope that is off falls back to the next one.
  TExportDialog(QWidget* parent, const QString& file, const QString& folder, std::size_t shownFiles,
                const TExportChoice& initial);

  TExportChoice Choice() const;

  // The "Browse..." button's folder dialog; the window puts its own in. An empty answer keeps
  // the folder as it is.
  std::function<QString(const QString& start)> chooseFolder;

private:
  void FormatChanged();

  QRadioButton* FScopeFile = nullptr;
  QRadioButton* FScopeFolder = nullptr;
  QRadioButton* FScopeShown = nullptr;
  QComboBox* FFormat = nullptr;
  QCheckBox* FMips = nullptr;
  QRadioButton* FSkip = nullptr;
  QRadioButton* FOverwrite = nullptr;
  QLineEdit* FFolder = nullptr;
};

}  // namespace velmora
