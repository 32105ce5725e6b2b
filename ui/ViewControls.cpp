// Zoom, pan, background, channel and level of the texture view; readout, notice, settings.
#include "ui/ViewControls.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "archive/Zanth.h"
#include "base/Escape.h"
#include "blp/FormatName.h"
#include "render/View.h"
#include "render/ViewNotice.h"
#include "render/ViewReadout.h"
#include "ui/ShortcutHelp.h"
#include "ui/UnitMain.h"
#include "ui/ViewSettings.h"
#include "ui/ViewStrip.h"

namespace velmora {

namespace {

// The largest panel the view keeps at the level's full size: within the X limit on window sizes
// (32767) and the smallest GL_MAX_VIEWPORT_DIMS a GL 3.0 implementation may have (llvmpipe has
// 16384). Past it, and whenever zoomed, the panel covers only what is in view.
constexpr int kMaxWholePanel = 16384;
constexpr double kWheelNotch = 120;  // angle delta of one wheel step

const char* BackgroundText(TBackground background) {
  switch (background) {
    case TBackground::kChecker: return "Checkerboard";
    case TBackground::kBlack: return "Black";
    case TBackground::kWhite: return "White";
    case TBackground::kWindow: break;
  }
  return "Window colour";
}

QScrollBar* HBar() { return ViewBox->horizontalScrollBar(); }
QScrollBar* VBar() { return ViewBox->verticalScrollBar(); }

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

TViewControls::TViewControls(TForm1& form) : FForm(form) {
  // The canvas only gives the scroll box its size: it paints nothing, so the scroll box's own
  // background shows wherever the panel does not cover it.
  FCanvas = new QWidget;
  FCanvas->setObjectName(QStringLiteral("ViewCanvas"));
  FCanvas->resize(FTextureSize);
  ViewBox->setWidget(FCanvas);
  RenderPanelHost->setParent(ViewBox->viewport());
  RenderPanelHost->setGeometry(QRect(QPoint(0, 0), FTextureSize));
  RenderPanelHost->raise();
  RenderPanelHost->show();
  // Clicks and drags on the picture must leave the keyboard with the tree: a native window that
  // takes focus when clicked would take the tree's keys.
  RenderPanel->setFlag(Qt::WindowDoesNotAcceptFocus, true);
  FCanvas->installEventFilter(this);
  ViewBox->viewport()->installEventFilter(this);
  RenderPanel->installEventFilter(this);
  ViewBox->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ViewBox.get(), &QWidget::customContextMenuRequested, this,
          [this](QPoint pos) { ShowMenuAt(ViewBox->viewport()->mapToGlobal(pos)); });

  BuildActions();

  const TRememberedView remembered = LoadRememberedView();
  if (remembered.background) FState.background = *remembered.background;
  if (!remembered.geometry.isEmpty()) FGeometryRestored = FForm.restoreGeometry(remembered.geometry);
  if (!remembered.splitter.isEmpty()) FForm.Splitter1->restoreState(remembered.splitter);
  UpdateChecks();
  Relayout();
}

TViewControls::~TViewControls() {
  if (FCanvas) FCanvas->removeEventFilter(this);
  if (ViewBox) ViewBox->viewport()->removeEventFilter(this);
  if (RenderPanel) RenderPanel->removeEventFilter(this);
}

QAction* TViewControls::NewAction(const QString& name, const QString& text, const QList<QKeySequence>& keys) {
  auto* action = new QAction(text, this);
  action->setObjectName(name);
  action->setShortcuts(keys);
  // A window shortcut: it works while the tree has the focus, and the tree keeps it.
  action->setShortcutContext(Qt::WindowShortcut);
  FForm.addAction(action);
  return action;
}

void TViewControls::BuildActions() {
  auto ctrl = [](int key) { return QKeySequence(static_cast<int>(Qt::CTRL) | key); };
  // The same key twice would make the shortcut ambiguous, and then it does nothing.
  QList<QKeySequence> zoomIn = {ctrl(Qt::Key_Equal), ctrl(Qt::Key_Plus)};
  for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::ZoomIn)) {
    if (!zoomIn.contains(key)) zoomIn << key;
  }
  FZoomIn = NewAction(QStringLiteral("ZoomIn"), QStringLiteral("Zoom in"), zoomIn);
  FZoomOut = NewAction(QStringLiteral("ZoomOut"), QStringLiteral("Zoom out"), {ctrl(Qt::Key_Minus)});
  FActualSize = NewAction(QStringLiteral("ActualSize"), QStringLiteral("Actual size"), {ctrl(Qt::Key_0)});
  FFit = NewAction(QStringLiteral("FitInView"), QStringLiteral("Fit in view"), {ctrl(Qt::Key_9)});
  FActualSize->setCheckable(true);
  connect(FZoomIn, &QAction::triggered, this, &TViewControls::ZoomIn);
  connect(FZoomOut, &QAction::triggered, this, &TViewControls::ZoomOut);
  connect(FActualSize, &QAction::triggered, this, &TViewControls::ActualSize);
  connect(FFit, &QAction::triggered, this, &TViewControls::FitInView);

  FNextBackground = NewAction(QStringLiteral("NextBackground"), QStringLiteral("Next background"), {ctrl(Qt::Key_B)});
  connect(FNextBackground, &QAction::triggered, this, &TViewControls::CycleBackground);
  auto* backgrounds = new QActionGroup(this);
  for (int i = 0; i < kBackgroundCount; ++i) {
    const auto background = static_cast<TBackground>(i);
    auto* action = new QAction(QString::fromLatin1(BackgroundText(background)), backgrounds);
    action->setObjectName(QStringLiteral("Background_") + QLatin1String(BackgroundKey(background)));
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, background] { SetBackground(background); });
    FBackgrounds.push_back(action);
  }

  auto* channels = new QActionGroup(this);
  for (int i = 0; i < kChannelCount; ++i) {
    const auto channel = static_cast<TChannel>(i);
    QAction* action = NewAction(QStringLiteral("Channel_") + QLatin1String(ChannelKey(channel)),
                                FromUtf8(ChannelWords(channel)), {ctrl(Qt::Key_1 + i)});
    action->setCheckable(true);
    channels->addAction(action);
    connect(action, &QAction::triggered, this, [this, channel] { SetChannel(channel); });
    FChannels.push_back(action);
  }

  FSmaller = NewAction(QStringLiteral("SmallerLevel"), QStringLiteral("Next smaller mip level"),
                       {ctrl(Qt::Key_BracketRight)});
  FLarger = NewAction(QStringLiteral("LargerLevel"), QStringLiteral("Next larger mip level"),
                      {ctrl(Qt::Key_BracketLeft)});
  connect(FSmaller, &QAction::triggered, this, &TViewControls::SmallerLevel);
  connect(FLarger, &QAction::triggered, this, &TViewControls::LargerLevel);

  FHelp = NewAction(QStringLiteral("ShortcutHelp"), QStringLiteral("Keyboard shortcuts"), {QKeySequence(Qt::Key_F1)});
  connect(FHelp, &QAction::triggered, this, &TViewControls::ShowShortcuts);

  FMenuOrder = {FZoomIn, FZoomOut, FActualSize, FFit, nullptr, FNextBackground, nullptr};
  for (QAction* a : FChannels) FMenuOrder.push_back(a);
  FMenuOrder.insert(FMenuOrder.end(), {nullptr, FSmaller, FLarger, nullptr, FHelp});
}

void TViewControls::AppendContextAction(QAction* action) {
  FAppended.emplace_back(action);
  // Made anew with it on the next right click.
  delete FMenu.data();
  FLevelMenu = nullptr;
  FBackgroundMenu = nullptr;
}

QMenu* TViewControls::ContextMenu() {
  if (!FMenu) {
    FMenu = new QMenu(&FForm);
    FMenu->setObjectName(QStringLiteral("ViewMenu"));
    for (QAction* action : FMenuOrder) {
      if (action == nullptr) {
        FMenu->addSeparator();
        continue;
      }
      FMenu->addAction(action);
      if (action == FNextBackground) {
        FBackgroundMenu = FMenu->addMenu(QStringLiteral("Background"));
        for (QAction* b : FBackgrounds) FBackgroundMenu->addAction(b);
      }
      if (action == FLarger) FLevelMenu = FMenu->addMenu(QStringLiteral("Mip level"));
    }
    bool separated = false;
    for (const QPointer<QAction>& action : FAppended) {
      if (!action) continue;
      if (!separated) FMenu->addSeparator();
      separated = true;
      FMenu->addAction(action);
    }
  }
  UpdateChecks();
  FillLevelMenu(FLevelMenu);
  return FMenu;
}

void TViewControls::FillViewMenu(QMenu& menu) {
  for (QAction* action : {FZoomIn, FZoomOut, FActualSize, FFit}) menu.addAction(action);
  menu.addSeparator();
  QMenu* background = menu.addMenu(QStringLiteral("&Background"));
  background->setObjectName(QStringLiteral("BackgroundMenu"));
  background->addAction(FNextBackground);
  background->addSeparator();
  for (QAction* b : FBackgrounds) background->addAction(b);
  QMenu* channel = menu.addMenu(QStringLiteral("&Channel"));
  channel->setObjectName(QStringLiteral("ChannelMenu"));
  for (QAction* c : FChannels) channel->addAction(c);
  FViewLevelMenu = menu.addMenu(QStringLiteral("&Mip level"));
  FViewLevelMenu->setObjectName(QStringLiteral("LevelMenu"));
  // The levels of the texture shown when the menu opens; the two steps stay above them.
  connect(FViewLevelMenu, &QMenu::aboutToShow, this, [this] {
    UpdateChecks();
    FillLevelMenu(FViewLevelMenu);
  });
  FillLevelMenu(FViewLevelMenu);
}

void TViewControls::FillLevelMenu(QMenu* menu) {
  if (menu == nullptr) return;
  menu->clear();
  qDeleteAll(menu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly));
  if (menu == FViewLevelMenu) {
    menu->addAction(FSmaller);
    menu->addAction(FLarger);
    menu->addSeparator();
  }
  const int count = LevelCount();
  auto* group = new QActionGroup(menu);
  for (int i = 0; i < count; ++i) {
    const blp::TBlpLevel& level = CurrentTexture->Levels().levels[static_cast<std::size_t>(i)];
    QAction* action = menu->addAction(
        QString::fromStdString(LevelText(i, count, level.width, level.height)));
    action->setCheckable(true);
    action->setChecked(i == FState.level);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, i] { SetLevel(i); });
  }
  // The View menu's list keeps its steps, which say themselves whether they can act.
  if (menu != FViewLevelMenu) menu->setEnabled(count > 1);
}

QString TViewControls::ModeText() const { return FromUtf8(ModeWords(FState, LevelCount())); }

bool TViewControls::HasPicture() const {
  return !FCovered && CurrentTexture && LevelCount() > 0 && FTextureSize.width() > 0 && FTextureSize.height() > 0;
}

void TViewControls::SetCovered(bool covered) {
  if (covered == FCovered) return;
  FCovered = covered;
  UpdateChecks();
}

double TViewControls::Ratio() const {
  const double ratio = RenderPanel ? RenderPanel->devicePixelRatio() : FForm.devicePixelRatioF();
  return ratio > 0 ? ratio : 1;
}

void TViewControls::UpdateChecks() {
  FActualSize->setChecked(FState.zoom == 1);
  FBackgrounds[static_cast<std::size_t>(FState.background)]->setChecked(true);
  FChannels[static_cast<std::size_t>(FState.channel)]->setChecked(true);
  // Zooming acts on a picture; without one there is nothing to zoom.
  const bool picture = HasPicture();
  FZoomIn->setEnabled(picture && FState.zoom < kMaxZoom);
  FZoomOut->setEnabled(picture && FState.zoom > kMinZoom);
  FActualSize->setEnabled(picture);
  FFit->setEnabled(picture);
  FSmaller->setEnabled(FState.level + 1 < LevelCount());
  FLarger->setEnabled(FState.level > 0);
  if (ViewBox) ViewBox->Strip()->SetModes(ModeText());
  emit Changed();
}

void TViewControls::ShowMenuAt(QPoint global) { ContextMenu()->popup(global); }

int TViewControls::LevelCount() const {
  return CurrentTexture ? static_cast<int>(CurrentTexture->Levels().levels.size()) : 0;
}

void TViewControls::Relayout() {
  if (FRelayingOut || !FCanvas || !RenderPanelHost) return;
  FRelayingOut = true;
  FState.level = std::clamp(FState.level, 0, std::max(LevelCount() - 1, 0));
  const auto w0 = static_cast<std::uint32_t>(std::max(FTextureSize.width(), 0));
  const auto h0 = static_cast<std::uint32_t>(std::max(FTextureSize.height(), 0));
  // A level of a texture without size keeps no size: the panel stays empty as for level 0.
  const std::uint32_t lw = w0 == 0 ? 0 : LevelExtent(w0, FState.level);
  const std::uint32_t lh = h0 == 0 ? 0 : LevelExtent(h0, FState.level);
  // The zoom counts device pixels; the canvas is laid out in the panel's own pixels.
  const double zoom = FState.zoom / Ratio();
  const QSize content(static_cast<int>(ZoomedExtent(lw, zoom)), static_cast<int>(ZoomedExtent(lh, zoom)));
  if (FCanvas->size() != content) FCanvas->resize(content);

  FWholeLevel = FState.zoom == 1 && content.width() <= kMaxWholePanel && content.height() <= kMaxWholePanel;
  const QRect canvas = FCanvas->geometry();
  QRect panel = FWholeLevel ? canvas : canvas.intersected(ViewBox->viewport()->rect());
  if (content.isEmpty()) panel = QRect(canvas.topLeft(), QSize(0, 0));
  // An X window is at least 1 x 1: a panel of no size would still show one texel at its corner.
  if (RenderPanelHost->geometry() != panel) RenderPanelHost->setGeometry(panel);
  RenderPanelHost->setVisible(!panel.isEmpty());
  const QPoint origin = panel.topLeft() - canvas.topLeft();
  FForm.View().SetViewState(FState, origin.x(), origin.y(), FWholeLevel);
  FRelayingOut = false;
}

void TViewControls::Refresh() {
  Relayout();
  FForm.View().SetViewport();
  FForm.View().RedrawTexture();
  UpdateChecks();
  // Another texel may lie under a pointer that has not moved.
  const QPointF pointer = RenderPanel ? RenderPanel->mapFromGlobal(QPointF(QCursor::pos())) : QPointF(-1, -1);
  if (CurrentTexture && RenderPanelHost->isVisible() && QRectF(QPointF(0, 0), RenderPanelHost->size()).contains(pointer)) {
    PanelMouseMove(pointer);
  } else {
    if (FPointerTexel && CurrentTexture) FForm.SetStatusText(1, QString());
    FPointerTexel.reset();
    UpdateReadout();
  }
}

void TViewControls::ScrollTo(int x, int y) {
  // The scroll area moves the canvas at once on each bar's change; the event filter passes
  // over moves made while this flag is up.
  const bool was = FRelayingOut;
  FRelayingOut = true;
  HBar()->setValue(x);
  VBar()->setValue(y);
  FRelayingOut = was;
}

void TViewControls::SetTextureSize(int width, int height) {
  FTextureSize = QSize(width, height);
  Relayout();
}

void TViewControls::TextureChanged() {
  FState.level = 0;
  // The texel read for the last file says nothing of this one.
  FPointerTexel.reset();
  FArchiveText.clear();
  FShownNote.clear();
  if (!CurrentTexture) {
    UpdateChecks();
    UpdateReadout();
    return;
  }
  FTextureSize = QSize(CurrentTexture->width, CurrentTexture->height);
  // The archive the texture came from: the index's supplier, or another archive's version.
  if (CurrentTexture->SourceArchive() != 0) FArchiveText = FForm.ArchivePathOf(CurrentTexture->SourceArchive());
  ViewBox->ShowNotice(FromUtf8(EscapeName(TextureNotice(*CurrentTexture))));
  ShowSource();
  UpdateChecks();
  UpdateReadout();
}

void TViewControls::SetShownSource(const QString& archive, const QString& note) {
  FArchiveText = archive;
  FShownNote = note;
  ShowSource();
  UpdateReadout();
}

void TViewControls::ShowSource() {
  if (!ViewBox || !CurrentTexture) return;
  const QString path = FromUtf8(EscapeName(CurrentTexture->fname()));
  const QString archive = FromUtf8(EscapeName(FArchiveText.toStdString()));
  ViewBox->Strip()->SetSource(path, archive,
                              archive.isEmpty() ? path : path + QStringLiteral("\nfrom ") + archive);
}

QPointF TViewControls::VisibleCentre() const {
  const QRect shown = FCanvas->geometry().intersected(ViewBox->viewport()->rect());
  return shown.isEmpty() ? QPointF(0, 0) : QRectF(shown).center();
}

void TViewControls::ZoomAround(double zoom, QPointF anchor) {
  zoom = ClampZoom(zoom);
  const double old = FState.zoom;
  if (zoom == old) return;
  const double x = AnchoredOffset(HBar()->value(), anchor.x(), old, zoom);
  const double y = AnchoredOffset(VBar()->value(), anchor.y(), old, zoom);
  FState.zoom = zoom;
  Relayout();  // the canvas takes its new size, and the scroll bars their new range
  ScrollTo(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
  Refresh();
}

void TViewControls::ZoomIn() { ZoomAround(ZoomInStep(FState.zoom), VisibleCentre()); }
void TViewControls::ZoomOut() { ZoomAround(ZoomOutStep(FState.zoom), VisibleCentre()); }
void TViewControls::ActualSize() { ZoomAround(1, VisibleCentre()); }

void TViewControls::FitInView() {
  const int level = FState.level;
  // The room in device pixels, the unit of the zoom.
  const QSize room = ViewBox->maximumViewportSize() * Ratio();
  const auto w0 = static_cast<std::uint32_t>(std::max(FTextureSize.width(), 0));
  const auto h0 = static_cast<std::uint32_t>(std::max(FTextureSize.height(), 0));
  const double zoom = w0 == 0 || h0 == 0 ? 1
                                         : FitZoom(LevelExtent(w0, level), LevelExtent(h0, level), room.width(),
                                                   room.height());
  FState.zoom = zoom;
  Relayout();
  ScrollTo(0, 0);
  Refresh();
}

void TViewControls::SetBackground(TBackground background) {
  FState.background = background;
  Refresh();
}

void TViewControls::CycleBackground() { SetBackground(NextBackground(FState.background)); }

void TViewControls::SetChannel(TChannel channel) {
  FState.channel = channel;
  Refresh();
}

void TViewControls::SetLevel(int level) {
  level = std::clamp(level, 0, std::max(LevelCount() - 1, 0));
  if (level == FState.level) return;
  // The point in the middle of the view stays in the middle: each level halves the picture.
  const QPointF centre = VisibleCentre();
  const double scale = std::exp2(FState.level - level);
  const double x = AnchoredOffset(HBar()->value(), centre.x(), 1, scale);
  const double y = AnchoredOffset(VBar()->value(), centre.y(), 1, scale);
  FState.level = level;
  FPointerTexel.reset();
  Relayout();
  ScrollTo(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
  Refresh();
}

void TViewControls::ShowShortcuts() { ShowShortcutHelp(FForm); }

void TViewControls::PanelMouseMove(QPointF pos) {
  // Without a texture the panel reports its own pixels, as it always has.
  if (!CurrentTexture) {
    FForm.FormMouseMove(RenderPanel.data(), QGuiApplication::keyboardModifiers(), static_cast<int>(std::floor(pos.x())),
                        static_cast<int>(std::floor(pos.y())));
    return;
  }
  // The device pixel under the pointer, counted from the zoomed level's corner, and its texel.
  const QPointF inCanvas = QPointF(RenderPanelHost->pos() - FCanvas->pos()) + pos;
  const double ratio = Ratio();
  const auto deviceX = static_cast<std::int64_t>(std::floor(inCanvas.x() * ratio + 1e-6));
  const auto deviceY = static_cast<std::int64_t>(std::floor(inCanvas.y() * ratio + 1e-6));
  const std::int64_t tx = TexelUnder(deviceX, FState.zoom);
  const std::int64_t ty = TexelUnder(deviceY, FState.zoom);
  const auto w0 = static_cast<std::uint32_t>(std::max(FTextureSize.width(), 0));
  const auto h0 = static_cast<std::uint32_t>(std::max(FTextureSize.height(), 0));
  const bool inside = w0 > 0 && h0 > 0 && tx >= 0 && ty >= 0 && tx < LevelExtent(w0, FState.level) &&
                      ty < LevelExtent(h0, FState.level) && QRectF(QPointF(0, 0), RenderPanelHost->size()).contains(pos);
  if (inside) {
    FPointerTexel = QPoint(static_cast<int>(tx), static_cast<int>(ty));
    FForm.FormMouseMove(RenderPanel.data(), QGuiApplication::keyboardModifiers(), FPointerTexel->x(),
                        FPointerTexel->y());
  } else {
    // Off the texture (a drag carries the pointer beyond the panel): no position.
    FPointerTexel.reset();
    FForm.SetStatusText(1, QString());
  }
  UpdateReadout();
}

void TViewControls::UpdateReadout() {
  if (!ViewBox) return;
  TViewStrip& strip = *ViewBox->Strip();
  if (!CurrentTexture) {
    strip.Clear();
    return;
  }
  QStringList parts;
  const TBlpTexture& texture = *CurrentTexture;
  if (FPointerTexel) {
    // The texel as it reached the screen, from the level the view shows.
    const auto texel = FForm.View().ShownTexel(FState.level, static_cast<std::uint32_t>(FPointerTexel->x()),
                                               static_cast<std::uint32_t>(FPointerTexel->y()));
    if (texel) parts << QString::fromStdString(TexelText(*texel));
  }
  parts << QString::fromStdString(ZoomWords(FState.zoom));
  const int count = LevelCount();
  if (count > 0) {
    const blp::TBlpLevel& level = texture.Levels().levels[static_cast<std::size_t>(FState.level)];
    parts << QString::fromStdString(LevelText(FState.level, count, level.width, level.height));
  }
  if (!FShownNote.isEmpty()) {
    parts << FShownNote;
  } else if (blp::IsLoadableContent(texture.hdr)) {
    parts << QString::fromStdString(EncodingText(texture.hdr));
  } else if (texture.Blp1Header() && !texture.HeaderProblem()) {
    parts << QString::fromStdString(blp::FormatName(*texture.Blp1Header()));
  }
  strip.SetReadout(parts);
}

bool TViewControls::HandleWheel(QWheelEvent& event, QPointF inViewport) {
  const QPoint angle = event.angleDelta();
  if (event.modifiers() & Qt::ControlModifier) {
    // Whole notches zoom by x2 each; a fine-grained wheel collects its small steps first.
    FWheelZoomSteps += angle.y() / kWheelNotch;
    while (FWheelZoomSteps >= 1 || FWheelZoomSteps <= -1) {
      const bool in = FWheelZoomSteps > 0;
      FWheelZoomSteps += in ? -1 : 1;
      ZoomAround(in ? ZoomInStep(FState.zoom) : ZoomOutStep(FState.zoom), inViewport);
    }
    return true;
  }
  // One notch scrolls as many lines as the desktop says, each a scroll bar step.
  auto scroll = [](QScrollBar* bar, int delta) {
    const double lines = delta / kWheelNotch * QApplication::wheelScrollLines();
    bar->setValue(bar->value() - static_cast<int>(std::lround(lines * bar->singleStep())));
  };
  if (event.modifiers() & Qt::ShiftModifier) {
    scroll(HBar(), angle.y() != 0 ? angle.y() : angle.x());
  } else {
    scroll(VBar(), angle.y());
    if (angle.x() != 0) scroll(HBar(), angle.x());
  }
  return true;
}

bool TViewControls::eventFilter(QObject* watched, QEvent* event) {
  // Placing the panel resizes and moves the canvas: those events are its own doing.
  if (!ViewBox || !RenderPanelHost || FRelayingOut) return false;
  const bool onPanel = watched == RenderPanel.data();
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
      if (watched == FCanvas.data() || watched == ViewBox->viewport()) {
        // Scrolled, or the view changed size: the panel follows; a panel showing only the part in
        // view shows another part now.
        const bool whole = FWholeLevel;
        Relayout();
        if (!whole || !FWholeLevel || event->type() == QEvent::Resize) {
          FForm.View().SetViewport();
          FForm.View().RedrawTexture();
        }
      }
      return false;
    case QEvent::Wheel:
      if (onPanel || watched == ViewBox->viewport()) {
        auto& wheel = static_cast<QWheelEvent&>(*event);
        const QPointF at = onPanel ? wheel.position() + RenderPanelHost->pos() : wheel.position();
        return HandleWheel(wheel, at);
      }
      return false;
    case QEvent::MouseButtonPress:
      if (onPanel) {
        auto& mouse = static_cast<QMouseEvent&>(*event);
        if (mouse.button() == Qt::RightButton) {
          ShowMenuAt(mouse.globalPosition().toPoint());
          return true;
        }
        if (mouse.button() == Qt::LeftButton || mouse.button() == Qt::MiddleButton) {
          FDragging = true;
          FDragStart = mouse.globalPosition().toPoint();
          FDragScroll = QPoint(HBar()->value(), VBar()->value());
          RenderPanel->setCursor(Qt::ClosedHandCursor);
        }
      }
      return false;
    case QEvent::MouseMove:
      if (onPanel && FDragging) {
        const QPoint moved = static_cast<QMouseEvent&>(*event).globalPosition().toPoint() - FDragStart;
        ScrollTo(FDragScroll.x() - moved.x(), FDragScroll.y() - moved.y());
        // The zoom stays during a drag, so the panel keeps showing the whole level or a part.
        Relayout();
        if (!FWholeLevel) {
          FForm.View().SetViewport();
          FForm.View().RedrawTexture();
        }
      }
      return false;
    case QEvent::MouseButtonRelease:
      if (onPanel && FDragging && !(static_cast<QMouseEvent&>(*event).buttons() & (Qt::LeftButton | Qt::MiddleButton))) {
        FDragging = false;
        RenderPanel->unsetCursor();
      }
      return false;
    case QEvent::Leave:
      if (onPanel && CurrentTexture && !FDragging) {
        FPointerTexel.reset();
        FForm.SetStatusText(1, QString());
        UpdateReadout();
      }
      return false;
    default:
      return false;
  }
}

void TViewControls::SaveSettings() {
  TRememberedView view;
  view.geometry = FForm.saveGeometry();
  view.splitter = FForm.Splitter1->saveState();
  view.background = FState.background;
  SaveRememberedView(view);
}

}  // namespace velmora
