// The export dialog's widgets and the remembered choices.
#include "ui/ExportDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

namespace velmora {
namespace {

QSettings UserSettings() { return QSettings(QStringLiteral("VelmoraGL"), QStringLiteral("VelmoraGL")); }

constexpr blp::TExportFormat kFormats[] = {blp::TExportFormat::kPng, blp::TExportFormat::kDds, blp::TExportFormat::kRaw};

}  // namespace

TExportChoice LoadExportChoice() {
  const QSettings s = UserSettings();
  TExportChoice c;
  const QString format = s.value(QStringLiteral("export/format")).toString();
  // A word written by something else leaves PNG.
  c.format = blp::ExportFormatFromName(format.toStdString()).value_or(blp::TExportFormat::kPng);
  c.mips = s.value(QStringLiteral("export/mips"), false).toBool();
  c.overwrite = s.value(QStringLiteral("export/overwrite"), false).toBool();
  c.folder = s.value(QStringLiteral("export/folder"), QDir::homePath()).toString();
  return c;
}

void SaveExportChoice(const TExportChoice& choice) {
  QSettings s = UserSettings();
  s.setValue(QStringLiteral("export/format"), QString::fromLatin1(blp::ExportFormatName(choice.format)));
  s.setValue(QStringLiteral("export/mips"), choice.mips);
  s.setValue(QStringLiteral("export/overwrite"), choice.overwrite);
  s.setValue(QStringLiteral("export/folder"), choice.folder);
}

TExportDialog::TExportDialog(QWidget* parent, const QString& file, const QString& folder, std::size_t shownFiles,
                             const TExportChoice& initial)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export"));
  setObjectName(QStringLiteral("ExportDialog"));
  auto* layout = new QVBoxLayout(this);

  auto* what = new QGroupBox(QStringLiteral("Export"), this);
  auto* whatLayout = new QVBoxLayout(what);
  FScopeFile = new QRadioButton(file.isEmpty() ? QStringLiteral("The selected file (none)")
                                               : QStringLiteral("The selected file: %1").arg(file),
                                what);
  FScopeFolder = new QRadioButton(folder.isEmpty() ? QStringLiteral("The selected folder (none)")
                                                   : QStringLiteral("The selected folder: %1").arg(folder),
                                  what);
  FScopeShown = new QRadioButton(shownFiles > 0 ? QStringLiteral("Everything the filter shows (%1 files)").arg(shownFiles)
                                                : QStringLiteral("Every file in the tree"),
                                 what);
  FScopeFile->setObjectName(QStringLiteral("ScopeFile"));
  FScopeFolder->setObjectName(QStringLiteral("ScopeFolder"));
  FScopeShown->setObjectName(QStringLiteral("ScopeShown"));
  FScopeFile->setEnabled(!file.isEmpty());
  FScopeFolder->setEnabled(!folder.isEmpty());
  for (QRadioButton* b : {FScopeFile, FScopeFolder, FScopeShown}) whatLayout->addWidget(b);
  layout->addWidget(what);

  auto* form = new QFormLayout();
  FFormat = new QComboBox(this);
  FFormat->setObjectName(QStringLiteral("Format"));
  FFormat->addItem(QStringLiteral("PNG image"));
  FFormat->addItem(QStringLiteral("DDS texture (DXT blocks as stored, every mip level)"));
  FFormat->addItem(QStringLiteral("Raw file, as the archive holds it"));
  form->addRow(QStringLiteral("Format:"), FFormat);
  FMips = new QCheckBox(QStringLiteral("Also each mip level, as NAME.mipN.png"), this);
  FMips->setObjectName(QStringLiteral("Mips"));
  form->addRow(QString(), FMips);
  FSkip = new QRadioButton(QStringLiteral("Skip files already there"), this);
  FOverwrite = new QRadioButton(QStringLiteral("Overwrite them"), this);
  FSkip->setObjectName(QStringLiteral("Skip"));
  FOverwrite->setObjectName(QStringLiteral("Overwrite"));
  auto* existing = new QButtonGroup(this);
  existing->addButton(FSkip);
  existing->addButton(FOverwrite);
  auto* existingRow = new QHBoxLayout();
  existingRow->addWidget(FSkip);
  existingRow->addWidget(FOverwrite);
  existingRow->addStretch();
  form->addRow(QStringLiteral("Existing files:"), existingRow);
  FFolder = new QLineEdit(this);
  FFolder->setObjectName(QStringLiteral("Folder"));
  auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), this);
  browse->setObjectName(QStringLiteral("Browse"));
  auto* folderRow = new QHBoxLayout();
  folderRow->addWidget(FFolder, 1);
  folderRow->addWidget(browse);
  form->addRow(QStringLiteral("Output folder:"), folderRow);
  layout->addLayout(form);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Export"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ExportButton"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = chooseFolder ? chooseFolder(FFolder->text()) : QString();
    if (!dir.isEmpty()) FFolder->setText(dir);
  });
  connect(FFormat, &QComboBox::currentIndexChanged, this, &TExportDialog::FormatChanged);
  connect(FFolder, &QLineEdit::textChanged, this,
          [buttons](const QString& text) { buttons->button(QDialogButtonBox::Ok)->setEnabled(!text.isEmpty()); });

  // The scope asked for, or the first one that is on after it.
  QRadioButton* scopes[] = {FScopeFile, FScopeFolder, FScopeShown};
  for (auto i = static_cast<std::size_t>(initial.scope); i < std::size(scopes); ++i) {
    if (scopes[i]->isEnabled()) {
      scopes[i]->setChecked(true);
      break;
    }
  }
  for (int i = 0; i < static_cast<int>(std::size(kFormats)); ++i) {
    if (kFormats[i] == initial.format) FFormat->setCurrentIndex(i);
  }
  FMips->setChecked(initial.mips);
  (initial.overwrite ? FOverwrite : FSkip)->setChecked(true);
  FFolder->setText(initial.folder);
  buttons->button(QDialogButtonBox::Ok)->setEnabled(!initial.folder.isEmpty());
  FormatChanged();
}

void TExportDialog::FormatChanged() {
  // A DDS file holds every level anyway, and a raw file is no image.
  FMips->setEnabled(FFormat->currentIndex() == 0);
}

TExportChoice TExportDialog::Choice() const {
  TExportChoice c;
  c.scope = FScopeFile->isChecked() ? TExportScope::kSelectedFile
            : FScopeFolder->isChecked() ? TExportScope::kSelectedFolder
                                        : TExportScope::kShown;
  const int format = FFormat->currentIndex();
  c.format = format >= 0 && format < static_cast<int>(std::size(kFormats)) ? kFormats[format] : blp::TExportFormat::kPng;
  c.mips = FMips->isChecked();
  c.overwrite = FOverwrite->isChecked();
  c.folder = FFolder->text();
  return c;
}

}  // namespace velmora
