// The file information panel beside the view.
#include "ui/InfoPanel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "base/Escape.h"
#include "render/View.h"
#include "ui/ErrorHandler.h"
#include "ui/FileVersions.h"
#include "ui/MainMenu.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"
#include "ui/ViewSettings.h"
#include "ui/ViewStrip.h"

namespace velmora {

namespace {

// The width the panel takes from the view when it opens with none, and the least either keeps.
constexpr int kPanelWidth = 260;
constexpr int kLeastWidth = 120;
// Short and missing levels stand out in the table.
const QColor kMarked(0xB0, 0x28, 0x18);

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
QString Escaped(const std::string& s) { return FromUtf8(EscapeName(s)); }

QLabel* NewLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* Heading(QWidget* parent, const QString& text) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

}  // namespace

QString TInfoPanel::SourceEntryText(const QString& archive, bool supplier) {
  return supplier ? archive + QStringLiteral(" (supplies it)") : archive;
}

TInfoPanel::TInfoPanel(TForm1& form) : QFrame(form.Splitter1), FForm(form) {
  setObjectName(QStringLiteral("InfoPanel"));
  setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
  FVersions = new TFileVersions(form);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);

  // The title with its close button, as a dock's.
  auto* title = new QHBoxLayout;
  title->addWidget(Heading(this, QStringLiteral("File info")), 1);
  auto* close = new QToolButton(this);
  close->setObjectName(QStringLiteral("InfoPanelClose"));
  close->setText(QStringLiteral("\u00D7"));
  close->setToolTip(QStringLiteral("Close (Ctrl+I)"));
  close->setAutoRaise(true);
  title->addWidget(close);
  layout->addLayout(title);

  FPath = NewLabel(this, "InfoPath");
  layout->addWidget(FPath);
  FCopyPath = new QPushButton(QStringLiteral("Copy path"), this);
  FCopyPath->setObjectName(QStringLiteral("CopyPath"));
  FCopyPath->setFocusPolicy(Qt::NoFocus);
  auto* copyRow = new QHBoxLayout;
  copyRow->addWidget(FCopyPath);
  copyRow->addStretch(1);
  layout->addLayout(copyRow);
  FSize = NewLabel(this, "InfoSize");
  layout->addWidget(FSize);
  FHeader = NewLabel(this, "InfoHeader");
  layout->addWidget(FHeader);
  FTrouble = NewLabel(this, "InfoTrouble");
  QPalette troublePalette = FTrouble->palette();
  troublePalette.setColor(QPalette::WindowText, kMarked);
  FTrouble->setPalette(troublePalette);
  layout->addWidget(FTrouble);

  FLevels = new QTreeWidget(this);
  FLevels->setObjectName(QStringLiteral("InfoLevels"));
  FLevels->setColumnCount(kColumnCount);
  FLevels->setHeaderLabels({QStringLiteral("Level"), QStringLiteral("Size"), QStringLiteral("Offset"),
                            QStringLiteral("Bytes"), QString()});
  FLevels->setRootIsDecorated(false);
  FLevels->setUniformRowHeights(true);
  FLevels->setSelectionMode(QAbstractItemView::NoSelection);
  FLevels->setFocusPolicy(Qt::NoFocus);
  FLevels->header()->setStretchLastSection(true);
  layout->addWidget(FLevels, 2);

  layout->addWidget(Heading(this, QStringLiteral("Sources")));
  FSourcesNote = NewLabel(this, "InfoSourcesNote");
  layout->addWidget(FSourcesNote);
  FSources = new QListWidget(this);
  FSources->setObjectName(QStringLiteral("InfoSources"));
  // Archive paths are long: their ends (the archive's own name) stay in sight.
  FSources->setTextElideMode(Qt::ElideLeft);
  layout->addWidget(FSources, 1);
  auto* compareRow = new QHBoxLayout;
  FCompare = new QToolButton(this);
  FCompare->setObjectName(QStringLiteral("CompareButton"));
  FCompare->setDefaultAction(FVersions->CompareAction());
  FCompare->setFocusPolicy(Qt::NoFocus);
  compareRow->addWidget(FCompare);
  compareRow->addStretch(1);
  layout->addLayout(compareRow);
  FCompareNote = NewLabel(this, "InfoCompareNote");
  layout->addWidget(FCompareNote);

  FToggle = new QAction(QStringLiteral("File info"), &form);
  FToggle->setObjectName(QStringLiteral("FileInfo"));
  FToggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
  FToggle->setShortcutContext(Qt::WindowShortcut);
  FToggle->setCheckable(true);
  form.addAction(FToggle);
  if (TMainMenu* menu = form.MainMenu()) {
    for (QAction* action : {FToggle, FVersions->PreviousAction(), FVersions->NextAction(), FVersions->CompareAction()}) {
      menu->AddViewPanelAction(action);
    }
  }

  connect(FToggle, &QAction::toggled, this, [this](bool open) { SetOpen(open); });
  connect(close, &QToolButton::clicked, this, [this] { SetOpen(false); });
  connect(FCopyPath, &QPushButton::clicked, this, [this] { CopyPath(); });
  connect(FSources, &QListWidget::currentRowChanged, this, [this](int row) { ChooseRow(row); });
  connect(FVersions, &TFileVersions::Changed, this, [this] { Refresh(); });
  // After the window has shown the selected file (its handler was connected first).
  connect(form.VirtualStringTree, &TTreeModel::AddToSelection, this, [this](TVirtualNode* node) {
    RunEventHandler(&FForm, [this, node] { FVersions->FileSelected(node); });
  });
  // The view emptied (a game folder loaded in place of everything): the file is gone.
  if (TViewControls* controls = form.ViewControls()) {
    connect(controls, &TViewControls::Changed, this, [this] {
      if (!CurrentTexture) FVersions->Forget();
    });
  }

  form.Splitter1->addWidget(this);
  form.Splitter1->setStretchFactor(form.Splitter1->indexOf(this), 0);
  // The splitter was laid out before the panel joined it: its remembered sizes include the panel's.
  const QByteArray splitter = LoadRememberedView().splitter;
  if (!splitter.isEmpty()) form.Splitter1->restoreState(splitter);
  const bool open = LoadInfoPanelOpen();
  FToggle->setChecked(open);
  setVisible(open);
  Refresh();
}

void TInfoPanel::SetOpen(bool open) {
  if (FToggle->isChecked() != open) {
    FToggle->setChecked(open);  // comes back here through its signal
    return;
  }
  if (isVisibleTo(parentWidget()) == open) return;
  setVisible(open);
  if (open) MakeRoom();
  StoreInfoPanelOpen(open);
}

void TInfoPanel::MakeRoom() {
  QSplitter& splitter = *FForm.Splitter1;
  const int self = splitter.indexOf(this);
  QList<int> sizes = splitter.sizes();
  if (self < 1 || self >= sizes.size() || sizes[self] >= kLeastWidth) return;
  // The room comes from the view, left of the panel, which keeps at least a little.
  const int give = std::min(kPanelWidth - sizes[self], std::max(sizes[self - 1] - kLeastWidth, 0));
  sizes[self - 1] -= give;
  sizes[self] += give;
  splitter.setSizes(sizes);
}

QString TInfoPanel::PathText() const { return FPath->text().remove(QChar(0x200B)); }
QString TInfoPanel::SizeText() const { return FSize->text(); }
QString TInfoPanel::HeaderText() const { return FHeader->text(); }
QString TInfoPanel::CompareText() const { return FCompareNote->text(); }

void TInfoPanel::CopyPath() {
  if (!FVersions->HasFile()) return;
  // The path as shown: control characters a terminal would obey stay escaped on the clipboard too.
  QApplication::clipboard()->setText(Escaped(FVersions->ShownSpelling()));
  FForm.ShowStatusMessage(QStringLiteral("Copied the path"));
}

void TInfoPanel::ChooseRow(int row) {
  if (FRefreshing || row < 0 || row == FVersions->Shown()) return;
  RunEventHandler(&FForm, [this, row] { FVersions->Choose(row); });
}

void TInfoPanel::Refresh() {
  FRefreshing = true;
  const TFileVersions& v = *FVersions;
  FCopyPath->setEnabled(v.HasFile());
  FLevels->clear();
  FSources->clear();
  FTrouble->clear();
  FTrouble->hide();
  if (!v.HasFile()) {
    FPath->setText(QStringLiteral("No file shown."));
    FSize->clear();
    FHeader->clear();
    FSourcesNote->clear();
    FCompareNote->clear();
    FRefreshing = false;
    return;
  }
  FPath->setText(WrappablePath(Escaped(v.ShownSpelling())));
  FSize->setText(v.HasSource() ? QStringLiteral("%1 bytes").arg(v.FileSize()) : QString());
  QStringList header;
  for (const blp::THeaderFact& fact : v.Facts().header) {
    header << FromUtf8(fact.label) + QStringLiteral(": ") + FromUtf8(fact.value);
  }
  FHeader->setText(header.join(QLatin1Char('\n')));
  if (!v.Trouble().isEmpty()) {
    FTrouble->setText(v.Trouble());
    FTrouble->show();
  }
  for (const blp::TLevelFacts& level : v.Facts().levels) {
    auto* item = new QTreeWidgetItem(FLevels);
    item->setText(kLevelColumn, QString::number(level.index));
    item->setText(kSizeColumn, QStringLiteral("%1 x %2").arg(level.width).arg(level.height));
    item->setText(kOffsetColumn, QString::number(level.offset));
    item->setText(kBytesColumn, QString::number(level.bytes));
    item->setText(kNoteColumn, FromUtf8(level.note));
    item->setToolTip(kNoteColumn, FromUtf8(level.note));
    if (level.state != blp::TLevelState::kWhole) {
      for (int c = 0; c < kColumnCount; ++c) item->setForeground(c, kMarked);
    }
  }
  for (int c = 0; c < kNoteColumn; ++c) FLevels->resizeColumnToContents(c);

  if (v.OnDisk()) {
    FSourcesNote->setText(QStringLiteral("A file on disk, in no archive."));
  } else if (v.Sources().empty()) {
    FSourcesNote->setText(QStringLiteral("No open archive lists this path."));
  } else {
    FSourcesNote->setText(v.Sources().size() == 1 ? QStringLiteral("One archive holds it.")
                                                   : QStringLiteral("%1 archives hold it, in loading order.")
                                                         .arg(v.Sources().size()));
  }
  for (std::size_t i = 0; i < v.Sources().size(); ++i) {
    const QString archive = Escaped(FForm.ArchivePathOf(v.Sources()[i].archive).toStdString());
    auto* item = new QListWidgetItem(SourceEntryText(archive, i + 1 == v.Sources().size()), FSources);
    item->setToolTip(archive);
  }
  if (v.Shown() >= 0) FSources->setCurrentRow(v.Shown());
  FCompareNote->setText(v.Comparing() && !v.CompareProblem().isEmpty() ? v.CompareProblem() : QString());
  FRefreshing = false;
}

}  // namespace velmora
