// The main window: layout, creation and destruction, the startup loading of the archives, and
// the mouse position in the status bar.
#include "ui/UnitMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdint>
#include <stdexcept>

#include "archive/Zanth.h"
#include "log/LogHandler.h"
#include "ui/ErrorHandler.h"
#include "ui/FileTree.h"
#include "ui/HostPath.h"
#include "ui/MpqToLoad.h"
#include "ui/Registry.h"
#include "ui/TreeModel.h"

namespace velmora {

std::unique_ptr<TMyScrollBox> ViewBox;
std::unique_ptr<QWidget> RenderPanel;

namespace {

// Layout, in pixels.
constexpr int kClientWidth = 588;
constexpr int kClientHeight = 571;
constexpr int kTreeWidth = 196;
constexpr int kSplitterWidth = 3;
constexpr int kStatusBarHeight = 19;
constexpr std::array<int, TForm1::kPanelCount> kPanelWidths = {300, 200, 50};
constexpr int kRenderPanelSize = 256;
constexpr int kLoadDelayMs = 100;
// Tahoma 8 pt at 96 dpi: a character height of 11 pixels.
constexpr int kFontPixelSize = 11;

QFont WindowFont() {
  QFont font;
  if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
    font = QFont(QStringLiteral("Tahoma"));
  } else {
    font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPixelSize(kFontPixelSize);
  return font;
}

}  // namespace

TMyScrollBox::TMyScrollBox(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(false);  // the drawing panel keeps its own size; scroll bars show the rest
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFocusPolicy(Qt::NoFocus);
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Velmora OpenGL"));
  setFont(WindowFont());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);
  setMouseTracking(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);
  layout->addWidget(Splitter1, 1);

  VirtualStringTree = new TTreeModel(FileTreeEvents(), this);
  VirtualStringTreeView = new QTreeView(Splitter1);
  VirtualStringTreeView->setObjectName(QStringLiteral("VirtualStringTree"));
  VirtualStringTree->AttachView(VirtualStringTreeView);
  VirtualStringTreeView->setFocusPolicy(Qt::StrongFocus);
  Splitter1->addWidget(VirtualStringTreeView);
  Splitter1->setStretchFactor(0, 0);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFixedHeight(kStatusBarHeight);
  StatusBar1->setFocusPolicy(Qt::NoFocus);
  for (int i = 0; i < kPanelCount; ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setFixedWidth(kPanelWidths[static_cast<std::size_t>(i)]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar1->addWidget(panel);
    FPanels[static_cast<std::size_t>(i)] = panel;
  }
  layout->addWidget(StatusBar1, 0);

  TimerOnCreate = new QTimer(this);
  TimerOnCreate->setSingleShot(true);
  TimerOnCreate->setInterval(kLoadDelayMs);
  connect(TimerOnCreate, &QTimer::timeout, this, [this] {
    RunEventHandler(this, [this] { TimerOnCreateTimer(); });
    // A close request that came while the archives were loading takes effect now.
    if (FCloseRequested) {
      FCloseRequested = false;
      close();
    }
  });

  resize(kClientWidth, kClientHeight);
  VirtualStringTreeView->setFocus();

  RunEventHandler(this, [this] { FormCreate(); });
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
  // 1. The scroll box right of the splitter and the drawing panel inside it.
  ViewBox = std::make_unique<TMyScrollBox>(Splitter1);
  ViewBox->setObjectName(QStringLiteral("ViewBox"));
  Splitter1->addWidget(ViewBox.get());
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kTreeWidth, kClientWidth - kTreeWidth - kSplitterWidth});
  RenderPanel = std::make_unique<QWidget>();
  RenderPanel->setObjectName(QStringLiteral("RenderPanel"));
  RenderPanel->setGeometry(0, 0, kRenderPanelSize, kRenderPanelSize);
  RenderPanel->setMouseTracking(true);
  RenderPanel->installEventFilter(this);
  ViewBox->setWidget(RenderPanel.get());

  // 2. The empty archive list and file index.
  CreateArchiveIndex();
  FArchiveIndexCreated = true;

  // 3. The texture view's set-up goes here.

  // 4. The top level of the tree.
  CreateRootNodes(*VirtualStringTree);
  FRootNodesCreated = true;

  // 5. The loading starts once the event loop runs and the window is shown.
  TimerOnCreate->start();
}

void TForm1::FormDestroy() {
  // 1. The shown texture is released here, while the view still exists.

  // 2. The tree and the index.
  if (FRootNodesCreated) {
    ClearFileList();
    DestroyRootNodes();
    FRootNodesCreated = false;
  }

  // 3. The texture view is released here.

  // 4. Closes every archive.
  if (FArchiveIndexCreated) {
    FreeArchiveIndex();
    FArchiveIndexCreated = false;
  }

  // 5. The drawing panel, then its scroll box.
  RenderPanel.reset();
  ViewBox.reset();
}

void TForm1::SetStatusText(int panel, const QString& text) { StatusPanel(panel)->setText(text); }

QString TForm1::StatusText(int panel) const { return StatusPanel(panel)->text(); }

void TForm1::TimerOnCreateTimer() {
  TimerOnCreate->stop();
  if (FLoading || FLoadingFinished) return;
  struct TFinished {
    TForm1* form;
    ~TFinished() { form->FLoadingFinished = true; }
  } finished{this};
  LoadMpqs();
}

void TForm1::ProcessPendingEvents() {
  QCoreApplication::processEvents();
  if (OnPendingEvents) OnPendingEvents();
}

void TForm1::LoadMpqs() {
  FLoading = true;
  struct TLoadingEnd {
    bool& loading;
    ~TLoadingEnd() { loading = false; }
  } loadingEnd{FLoading};

  // 1-2. The installation directory. Reading the hive needs nothing but read access.
  FWinePrefix = WinePrefix();
  std::string hive;
  std::string error;
  TRegLookup reg;
  if (ReadFileBytes(FWinePrefix + "/system.reg", hive, error)) {
    reg = LookupWineRegistry(hive, kGameRegistryKey, "InstallPath");
  }
  if (!reg.keyFound) {
    WriteLog("World of Warcraft registry key not found");
    return;
  }
  FInstallPath.clear();
  if (reg.value) {
    if (reg.value->type != kRegSz && reg.value->type != kRegExpandSz) {
      throw std::runtime_error("Invalid data type for 'InstallPath': " + RegTypeName(reg.value->type));
    }
    FInstallPath = reg.value->data;
  }

  // 3.
  if (!FileExists("mpqToLoad.txt")) {
    WriteLog("mpqToLoad.txt not found");
    return;
  }

  // 4.
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  SetStatusText(0, QStringLiteral("Loading Mpq"));

  // 8. also when one of steps 5-7 fails.
  auto finish = [this] {
    SetStatusText(0, QString());
    ProcessPendingEvents();
    QGuiApplication::restoreOverrideCursor();
  };
  try {
    // 5. The archives, in the order of the file.
    std::string bytes;
    if (!ReadFileBytes("mpqToLoad.txt", bytes, error)) {
      throw std::runtime_error("Cannot open file \"mpqToLoad.txt\". " + error);
    }
    for (const std::string& line : DecodeMpqToLoad(bytes)) {
      SetStatusText(1, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
      ProcessPendingEvents();
      OpenMpq(line);
    }

    // 6.
    SetStatusText(0, QStringLiteral("Loading file list"));
    SetStatusText(1, QString());
    ProcessPendingEvents();

    // 7. Every archive's file list into the index and the tree; one sort at the end, also
    // when an ingestion failed.
    VirtualStringTree->BeginUpdate();
    try {
      for (MpqHandle h : *MpqList) LoadListFile(h, AddNode);
    } catch (...) {
      VirtualStringTree->SortTree(0, Qt::AscendingOrder);
      VirtualStringTree->EndUpdate();
      throw;
    }
    VirtualStringTree->SortTree(0, Qt::AscendingOrder);
    VirtualStringTree->EndUpdate();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TForm1::OpenMpq(const std::string& line) {
  const std::string path = FInstallPath + line;
  MpqHandle handle = 0;
  if (!OpenMpqArchive(MapWindowsPath(path, FWinePrefix), handle)) return;
  MpqList->Append(handle);
  // "%s opened, handle %d": the handle's low 32 bits as a signed decimal.
  const auto shown = static_cast<std::int32_t>(static_cast<std::uint32_t>(handle));
  WriteLog(line + " opened, handle " + std::to_string(shown));
}

void TForm1::FormMouseMove(QObject*, Qt::KeyboardModifiers, int x, int y) {
  SetStatusText(1, QString::asprintf("%d:%d", x, y));
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
  // The window's own area; a move over a child control reaches only that control (the toolkit
  // does not pass mouse-tracking moves on to parents), and RenderPanel's come through
  // eventFilter.
  const QPoint pos = event->position().toPoint();
  FormMouseMove(this, event->modifiers(), pos.x(), pos.y());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove && RenderPanel && watched == RenderPanel.get()) {
    const auto* me = static_cast<QMouseEvent*>(event);
    const QPoint pos = me->position().toPoint();
    FormMouseMove(watched, me->modifiers(), pos.x(), pos.y());
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FCentred) return;
  FCentred = true;
  // Centred on the desktop, frame included; the frame is known once the window is shown.
  if (const QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (FLoading) {
    // Nothing may be torn down under LoadMpqs: the close takes effect once it has returned.
    FCloseRequested = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace velmora
