// The main window: layout, creation and destruction, the startup loading of the archives, the
// mouse position in the status bar, and the wiring from a selected file to the texture view.
#include "ui/UnitMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "archive/ReaderClient.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"
#include "host/GameInstall.h"
#include "host/HostPath.h"
#include "host/Registry.h"
#include "log/LogHandler.h"
#include "render/View.h"
#include "ui/ErrorHandler.h"
#include "ui/ExportActions.h"
#include "ui/FileTree.h"
#include "ui/FilterLine.h"
#include "ui/InfoPanel.h"
#include "ui/MainMenu.h"
#include "ui/NamedFiles.h"
#include "ui/ScreenPlace.h"
#include "ui/StatusPanels.h"
#include "ui/ThumbnailPane.h"
#include "ui/TreeModel.h"
#include "ui/ViewControls.h"
#include "ui/ViewStrip.h"

namespace velmora {

std::unique_ptr<TMyScrollBox> ViewBox;
std::unique_ptr<QWidget> RenderPanelHost;
QPointer<TRenderPanel> RenderPanel;

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

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

QString HeaderStatusFor(const TBlpTexture& texture) {
  // A file that could not be opened, or an empty one, keeps the zero header it was given.
  if (texture.SourceSize() > 0 && texture.hdr.sign != TBLP2Header::kMagic) return {};
  return HeaderStatusText(texture.hdr);
}

QString HeaderStatusText(const TBLP2Header& hdr) {
  // The 32-bit fields are unsigned in the file; a header that failed its checks may hold any
  // value, which is shown as it is rather than wrapped to a negative number.
  return QString::asprintf("type %u, comp %d, a_bits %d, a_type %d, mips %d, %u x %u", hdr.tex_type,
                           hdr.compression, hdr.alpha_bits, hdr.alpha_type, hdr.has_mips, hdr.width,
                           hdr.height);
}

TForm1::TForm1(QWidget* parent) : TForm1(TViewSetup{}, parent) {}

TForm1::TForm1(const TViewSetup& viewSetup, QWidget* parent)
    : QWidget(parent), FView(std::make_unique<TGlView>()) {
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
  // Above the client area, outside the layout's items.
  MenuBar1 = new QMenuBar(this);
  layout->setMenuBar(MenuBar1);

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
  connect(VirtualStringTree, &TTreeModel::AddToSelection, this, [this](TVirtualNode* node) {
    RunEventHandler(this, [this, node] { VirtualStringTreeAddToSelection(*VirtualStringTree, node); });
  });
  connect(Splitter1, &QSplitter::splitterMoved, this, [this] { Splitter1Moved(); });
  // Around the tree and the view: the filter line above the tree (Ctrl+F), export (Ctrl+S,
  // Ctrl+Shift+S, Ctrl+C, the tree's menu) and files dropped on the window.
  FFilterLine = new TFilterLine(*VirtualStringTree, *VirtualStringTreeView, this);
  FExportActions = new TExportActions(*this);
  new TDropOpen(*this);

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
  FitStatusPanels(FPanels);
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

  // The tree's hint for a file: its path as the listfile spells it and the archive that supplies
  // it (or its place on disk).
  VirtualStringTree->OnGetHint = [this](const TVirtualNode& node) -> QString {
    if (node.data.isFile != 1) return {};
    const QString path = FromUtf8(EscapeName(node.data.fullName));
    if (IsDiskFile(*VirtualStringTree, &node)) return path + QStringLiteral("\non disk");
    const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(node.data.fullName)) : nullptr;
    const QString archive = rec != nullptr ? FromUtf8(EscapeName(ArchivePathOf(rec->mpqh).toStdString())) : QString();
    return archive.isEmpty() ? path : path + QStringLiteral("\nin ") + archive;
  };

  FMainMenu = new TMainMenu(*this, *MenuBar1, *FExportActions);
  const int barHeight = MenuBar1->heightForWidth(kClientWidth);
  resize(kClientWidth, kClientHeight + (barHeight > 0 ? barHeight : MenuBar1->sizeHint().height()));
  VirtualStringTreeView->setFocus();

  RunEventHandler(this, [this, &viewSetup] { FormCreate(viewSetup); });
  if (FViewControls) {
    FMainMenu->AttachView(*FViewControls);
    // Save and copy act on the level shown; their enabled state follows it.
    connect(FViewControls.get(), &TViewControls::Changed, FExportActions, &TExportActions::UpdateEnabled);
    FThumbnails = new TThumbnailPane(*this, *FViewStack);
  }
  // The shown file's information and its versions, right of the view (Ctrl+I); its entries go
  // below the view's in the View menu.
  FInfoPanel = new TInfoPanel(*this);
  FMainMenu->UpdateActions();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate(const TViewSetup& viewSetup) {
  // The scroll box right of the splitter and the drawing panel inside it. The thumbnail grid
  // takes the scroll box's place in the same stack when a folder is selected.
  FViewStack = new QStackedWidget(Splitter1);
  FViewStack->setObjectName(QStringLiteral("ViewStack"));
  ViewBox = std::make_unique<TMyScrollBox>(FViewStack);
  ViewBox->setObjectName(QStringLiteral("ViewBox"));
  FViewStack->addWidget(ViewBox.get());
  Splitter1->addWidget(FViewStack);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kTreeWidth, kClientWidth - kTreeWidth - kSplitterWidth});
  ViewBox->OnRedrawTexture = [this] { FView->RedrawTexture(); };
  // The panel is a native window (GL draws into it); its host widget places it in the scroll
  // box and owns it from here on.
  auto panel = std::make_unique<TRenderPanel>();
  panel->setObjectName(QStringLiteral("RenderPanel"));
  RenderPanel = panel.get();
  RenderPanelHost.reset(QWidget::createWindowContainer(panel.release(), ViewBox.get()));
  RenderPanelHost->setObjectName(QStringLiteral("RenderPanelHost"));
  RenderPanelHost->setFocusPolicy(Qt::NoFocus);  // the keyboard stays with the tree
  RenderPanelHost->setGeometry(0, 0, kRenderPanelSize, kRenderPanelSize);
  // The scroll box scrolls a canvas of the zoomed texture's size; the panel lies over it.
  FViewControls = std::make_unique<TViewControls>(*this);
  // Saving and copying the shown level belong to the view's menu too.
  for (QAction* action : FExportActions->Actions()) FViewControls->AppendContextAction(action);
  // The panel's own window takes its mouse moves and exposures; the widgets around it see none.
  // Its moves go out as texel positions.
  RenderPanel->SetMouseMoveHandler([this](QPointF pos) { FViewControls->PanelMouseMove(pos); });
  RenderPanel->SetExposeHandler([] {
    if (ViewBox) ViewBox->PaintView();
  });

  // The empty archive list and file index.
  CreateArchiveIndex();
  FArchiveIndexCreated = true;
  // While the archive reader works on a request (a damaged archive may take it seconds), the
  // window keeps painting; input waits, so that nothing asks the reader anew meanwhile.
  TArchiveReader::Instance().SetWaitHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  TArchiveReader::Instance().SetStopHook(LogReaderStop);
  // Which protections the archive reader has, once, and each it lacks.
  TArchiveReader::Instance().SetSandboxHook([](const std::string& line) { WriteLog(line); });

  // The texture view: GL context on the panel, fixed state, shader program, quad buffers.
  // The clear colour is the window's background, so transparent texels show the window.
  const QColor face = palette().color(QPalette::Button);
  FView->InitView(*RenderPanel,
                  {static_cast<std::uint8_t>(face.red()), static_cast<std::uint8_t>(face.green()),
                   static_cast<std::uint8_t>(face.blue())},
                  viewSetup);

  // The top level of the tree. Not made when the view set-up failed, so destruction knows
  // there is no tree to clear.
  CreateRootNodes(*VirtualStringTree);
  FRootNodesCreated = true;

  // The loading starts once the event loop runs and the window is shown.
  TimerOnCreate->start();
}

void TForm1::FormDestroy() {
  // Window size and place, splitter and view choices for the next start.
  if (FViewControls) FViewControls->SaveSettings();

  // The shown texture first: its GL texture goes while the context exists, its archive file
  // before the archives close.
  CurrentTexture.reset();

  // The tree and the index, before the archives their entries name.
  if (FRootNodesCreated) {
    ClearFileList();
    DestroyRootNodes();
    FRootNodesCreated = false;
  }

  // The view's GL objects and context. After a failed set-up there are none, and nothing
  // goes through GL.
  FView->DoneView();

  // Every archive, now that no texture or index entry refers to one.
  if (FArchiveIndexCreated) {
    FreeArchiveIndex();
    FArchiveIndexCreated = false;
  }
  TArchiveReader::Instance().SetWaitHook({});
  TArchiveReader::Instance().SetStopHook({});
  TArchiveReader::Instance().SetSandboxHook({});

  // The drawing panel (its host takes the native window with it), then its scroll box.
  if (RenderPanel) {
    RenderPanel->SetExposeHandler({});
    RenderPanel->SetMouseMoveHandler({});
  }
  FViewControls.reset();
  RenderPanelHost.reset();
  ViewBox.reset();
}

void TForm1::SetStatusText(int panel, const QString& text) { StatusPanel(panel)->setText(text); }

void TForm1::ShowStatusMessage(const QString& text) {
  if (ViewBox) ViewBox->Strip()->ShowMessage(text);
}

QString TForm1::StatusText(int panel) const { return StatusPanel(panel)->text(); }

void TForm1::TimerOnCreateTimer() {
  TimerOnCreate->stop();
  if (FLoading || FLoadingFinished) return;
  struct TFinished {
    TForm1* form;
    ~TFinished() { form->FLoadingFinished = true; }
  } finished{this};
  RunLoading();
}

void TForm1::RunLoading() {
  struct TMenus {
    TMainMenu* menu;
    ~TMenus() { menu->UpdateActions(); }
  } menus{FMainMenu};
  try {
    LoadMpqs();
  } catch (...) {
    FinishStartup();
    throw;
  }
  FinishStartup();
}

void TForm1::LoadGameFolder(const std::string& dir) {
  if (FLoading || !FRootNodesCreated || !FArchiveIndexCreated) return;
  // Everything shown so far goes, in the order the window's destruction takes it down: the
  // texture, the tree and the index, then the archives.
  if (FFilterLine) FFilterLine->Close();
  CurrentTexture.reset();
  FViewControls->TextureChanged();
  SetStatusText(0, QString());
  SetPanelSize(0, 0);
  ClearFileList();
  FreeArchiveIndex();
  CreateArchiveIndex();
  FArchivePaths.clear();
  FArchiveNames.clear();
  FArchiveHostPaths.clear();
  FStartupReport = {};
  FStartup.gameDir = dir;
  FStartup.archives.clear();
  FStartup.blpFiles.clear();
  // The folder joins the recent list once its loading showed something (FinishStartup).
  RunLoading();
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

  // Where the game is installed and which archives to open: archives named on the command line,
  // else the registry (or --game) and "mpqToLoad.txt" (or --list), else the client's own order of
  // the game folder (host/LoadPlan.h). Without the registry key nothing can be loaded; an
  // "InstallPath" that is no string is an error the user is shown.
  const TLoadPlan plan = PlanStartupLoading(FStartup, WinePrefix());
  FStartupReport = plan.report;
  for (const std::string& line : plan.log) WriteLog(line);
  if (!plan.error.empty()) throw std::runtime_error(plan.error);
  if (!plan.load) return;
  FInstallPath = plan.installPath;
  FWinePrefix = plan.winePrefix;

  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  SetStatusText(0, QStringLiteral("Loading Mpq"));

  // However the loading below ends, normally or by an error on its way to the error box, the
  // status bar, the pending paints and the cursor are put back.
  auto finish = [this] {
    SetStatusText(0, QString());
    ProcessPendingEvents();
    QGuiApplication::restoreOverrideCursor();
  };
  try {
    // The archives, in the order of the file; the window repaints between them. Each line
    // shows in the status bar while its archive opens.
    std::vector<std::string> lines;
    if (std::string error; !PlanLines(plan, lines, error)) {
      throw std::runtime_error("Cannot open file \"" + plan.listFile + "\". " + error);
    }
    FStartupReport.archivesNamed = lines.size();
    // One archive reader for all of them: its sandbox covers the whole list.
    std::vector<std::string> hostPaths;
    for (const std::string& line : lines) hostPaths.push_back(MapWindowsPath(FInstallPath + line, FWinePrefix));
    TArchiveReader::Instance().ExpectArchives(hostPaths);
    for (const std::string& line : lines) {
      SetStatusText(1, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
      ProcessPendingEvents();
      OpenMpq(line);
    }

    SetStatusText(0, QStringLiteral("Loading file list"));
    SetStatusText(1, QString());
    ProcessPendingEvents();

    // Every archive's file list into the index and the tree, in opening order, so that later
    // archives override earlier ones. The tree neither repaints nor tells its view of single
    // nodes meanwhile; it is sorted once at the end, also when an ingestion failed.
    VirtualStringTree->BeginUpdate();
    try {
      for (MpqHandle h : *MpqList) {
        // A damaged archive may stop the reader while its file list is read: it is left out, and
        // said; so is a list refused, cut or not read whole.
        IngestListFile(h, FArchiveNames[h], AddNode, &FStartupReport);
      }
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
  const std::string hostPath = MapWindowsPath(path, FWinePrefix);
  if (const MpqHandle handle = OpenArchiveAt(hostPath, line, &FStartupReport)) {
    FArchivePaths[handle] = path;
    FArchiveNames[handle] = line;
    FArchiveHostPaths[handle] = hostPath;
  }
}

QString TForm1::ArchivePathOf(std::uintptr_t handle) const {
  const auto it = FArchivePaths.find(handle);
  return it == FArchivePaths.end() ? QString() : QString::fromUtf8(it->second.data(), static_cast<qsizetype>(it->second.size()));
}

std::string TForm1::ArchiveHostPathOf(std::uintptr_t handle) const {
  const auto it = FArchiveHostPaths.find(handle);
  return it == FArchiveHostPaths.end() ? std::string() : it->second;
}

void TForm1::FormMouseMove(QObject*, Qt::KeyboardModifiers, int x, int y) {
  SetStatusText(1, QString::asprintf("%d:%d", x, y));
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
  // The window's own area; a move over a child control reaches only that control (the toolkit
  // does not pass mouse-tracking moves on to parents), and RenderPanel's come through its
  // mouse-move handler.
  const QPoint pos = event->position().toPoint();
  FormMouseMove(this, event->modifiers(), pos.x(), pos.y());
}

void TForm1::VirtualStringTreeAddToSelection(TTreeModel&, TVirtualNode* node) {
  const TNodeData* nodeData = TTreeModel::GetNodeData(node);
  if (nodeData == nullptr || nodeData->isFile != 1) return;
  // Textures are GL objects: without a view (its set-up failed) none can be made. The tree is
  // empty then anyway, since the loading never ran.
  if (!FView->Ready()) return;

  // The old texture goes first, so that only one is ever held; if the new one raises, none is
  // shown and the status bar and panel keep what they said.
  CurrentTexture.reset();
  CurrentTexture = CreateNodeTexture(*VirtualStringTree, node);

  SetStatusText(0, HeaderStatusFor(*CurrentTexture));
  // Level 0 again, the notice for a file that cannot be shown whole, the readout.
  FViewControls->TextureChanged();
  // 0 x 0 when the load stopped before the header was accepted.
  SetPanelSize(CurrentTexture->width, CurrentTexture->height);
  FView->SetViewport();
  FView->RedrawTexture();
}

void TForm1::ShowOtherTexture(const std::function<std::unique_ptr<TBlpTexture>()>& make) {
  if (!FView->Ready()) return;
  // As a selection: only one texture is ever held, and one that raises leaves none shown.
  CurrentTexture.reset();
  CurrentTexture = make();
  SetStatusText(0, HeaderStatusFor(*CurrentTexture));
  FViewControls->TextureChanged();
  SetPanelSize(CurrentTexture->width, CurrentTexture->height);
  FView->SetViewport();
  FView->RedrawTexture();
}

void TForm1::SetPanelSize(int width, int height) {
  if (!RenderPanelHost || !FViewControls) return;
  // At zoom 1 the panel takes this size (hidden when it has none); the host passes its size on
  // to the panel's native window at once, so the viewport that follows sees it.
  FViewControls->SetTextureSize(width, height);
}

void TForm1::FormPaint() { FView->RedrawTexture(); }

void TForm1::FormResize() {
  if (CurrentTexture) SetPanelSize(CurrentTexture->width, CurrentTexture->height);
  FView->SetViewport();
}

void TForm1::Splitter1Moved() { FormResize(); }

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  FormPaint();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FCentred) return;
  FCentred = true;
  // A remembered place stands, as far as it lies on a screen; the first start is centred.
  if (FViewControls && FViewControls->GeometryRestored()) {
    KeepOnScreen();
    return;
  }
  // Centred on the desktop, frame included; the frame is known once the window is shown.
  if (const QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TForm1::KeepOnScreen() {
  const QRect frame = frameGeometry();
  const QScreen* s = QGuiApplication::screenAt(frame.center());
  if (s == nullptr) s = screen();
  if (s == nullptr) return;
  const QRect placed = PlaceOnScreen(frame, s->availableGeometry());
  if (placed == frame) return;
  // The frame's own border stays as it is; the client area gives up what the frame must lose.
  resize(size() - (frame.size() - placed.size()));
  move(placed.topLeft());
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
