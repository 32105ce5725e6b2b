// The texture view's controls: zoom, scrolling and panning, background, channel and mip level,
// by keyboard shortcuts, mouse wheel, dragging, the view's context menu and the window's View
// menu; the readout strip below the view (texel, zoom, level, encoding, path and archive, the
// modes in words); the notice for files that cannot be shown; and the remembered settings.
//
// Zoom counts device pixels per texel: at 100% one texel is one device pixel whatever the
// desktop's scale factor, so the canvas and the panel are the zoomed level's size divided by the
// device pixel ratio.
//
// The scroll box scrolls a plain canvas widget of the zoomed level's size. The drawing panel (a
// native GL window) lies beside it in the scroll box's viewport: at zoom 1 it covers the whole
// canvas and moves with it, exactly as the plain view sizes it (the level's size); otherwise it
// covers only the part of the canvas in view and the view draws the matching texels there, since
// neither an X window nor a GL viewport can be 64 times the size of a large texture.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

#include "render/ViewState.h"

class QAction;
class QMenu;
class QWheelEvent;
class QWidget;

namespace velmora {

class TForm1;

class TViewControls : public QObject {
  Q_OBJECT

public:
  // Sets the canvas into ViewBox and the drawing panel's host beside it, adds the view's actions
  // to the window (their shortcuts work wherever the focus is in the window, the tree included)
  // and restores the remembered background, channel, window geometry and splitter.
  explicit TViewControls(TForm1& form);
  ~TViewControls() override;
  TViewControls(const TViewControls&) = delete;
  TViewControls& operator=(const TViewControls&) = delete;

  // --- hooks of the window ---
  // A new CurrentTexture: level 0 again, the notice for it (or none), the readout.
  void TextureChanged();
  // What the strip names as the shown texture's archive, and `note` in place of its encoding in
  // the readout (the difference of two versions says what it is; empty: the encoding). Both hold
  // until the next TextureChanged.
  void SetShownSource(const QString& archive, const QString& note);
  // Level 0's size as the plain view gives it to the panel; places canvas and panel. No GL.
  void SetTextureSize(int width, int height);
  // Mouse movement over the drawing panel, relative to it (fractions on a scaled desktop).
  void PanelMouseMove(QPointF pos);
  // Writes the window geometry, splitter and background to the user's settings. The channel is
  // not kept: every start shows RGBA.
  void SaveSettings();
  // True when a remembered window geometry was restored (the window then keeps its place).
  bool GeometryRestored() const { return FGeometryRestored; }

  // --- what the actions do ---
  void ZoomIn();
  void ZoomOut();
  void ActualSize();
  void FitInView();
  // Zooms to `zoom` keeping the level's point under `anchor` (viewport coordinates) in place.
  void ZoomAround(double zoom, QPointF anchor);
  void SetBackground(TBackground background);
  void CycleBackground();
  void SetChannel(TChannel channel);
  void SetLevel(int level);
  void SmallerLevel() { SetLevel(FState.level + 1); }
  void LargerLevel() { SetLevel(FState.level - 1); }
  void ShowShortcuts();

  const TViewState& State() const { return FState; }
  QWidget* Canvas() const { return FCanvas; }
  // Levels the shown texture has (0 without one).
  int LevelCount() const;

  // The view's context menu, brought up to date (check marks, levels).
  QMenu* ContextMenu();
  // Adds another part's action to the end of the context menu (after a separator). Give it to
  // the window too (addAction) for its shortcut to work and to be listed by F1.
  void AppendContextAction(QAction* action);
  // The view's own actions, in menu order (null entries stand for separators).
  const std::vector<QAction*>& Actions() const { return FMenuOrder; }
  // Fills the window's View menu: the zoom actions, then Background, Channel and Mip level
  // submenus with their check marks (the levels listed anew each time the menu opens).
  void FillViewMenu(QMenu& menu);
  // The view's modes in words (render/ViewReadout.h ModeWords); empty at the defaults.
  QString ModeText() const;
  // Whether a texture with pixels is shown (what zoom, levels and saving act on): none while
  // another pane covers the view.
  bool HasPicture() const;
  // Another pane (the thumbnail grid) takes the view's place, or gives it back: zooming and
  // copying the level wait until the view shows again, so that their keys serve that pane.
  void SetCovered(bool covered);
  bool Covered() const { return FCovered; }
  // The device pixels per panel pixel of the drawing panel.
  double Ratio() const;

signals:
  // Anything the view shows changed: texture, zoom, level, channel, background. Menus bring
  // their check marks and enabled states up to date.
  void Changed();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QAction* NewAction(const QString& name, const QString& text, const QList<QKeySequence>& keys);
  void BuildActions();
  void UpdateChecks();
  void FillLevelMenu(QMenu* menu);
  // Canvas size, panel placement and what the view draws there; no GL.
  void Relayout();
  // Relayout, then the viewport and a redraw.
  void Refresh();
  // Sets both scroll bars as one move: the canvas moves they cause are not laid out or drawn
  // one by one; the caller lays out and draws once afterwards.
  void ScrollTo(int x, int y);
  bool HandleWheel(QWheelEvent& event, QPointF inViewport);
  void ShowMenuAt(QPoint global);
  void UpdateReadout();
  // The strip's path and archive line for CurrentTexture.
  void ShowSource();
  QPointF VisibleCentre() const;

  TForm1& FForm;
  QPointer<QWidget> FCanvas;
  TViewState FState;
  QSize FTextureSize{256, 256};  // level 0 as the plain view sizes the panel
  bool FWholeLevel = true;       // the panel covers the whole canvas
  bool FRelayingOut = false;
  bool FGeometryRestored = false;
  bool FCovered = false;
  double FWheelZoomSteps = 0;    // wheel angle not yet turned into a zoom step

  bool FDragging = false;
  QPoint FDragStart;   // global position at the press
  QPoint FDragScroll;  // scroll bar values at the press

  std::optional<QPoint> FPointerTexel;  // the texel under the pointer, if any
  QString FArchiveText;                 // the archive that supplies the shown file, as opened
  QString FShownNote;                   // said in place of the encoding (SetShownSource)

  QAction* FZoomIn = nullptr;
  QAction* FZoomOut = nullptr;
  QAction* FActualSize = nullptr;
  QAction* FFit = nullptr;
  QAction* FNextBackground = nullptr;
  std::vector<QAction*> FBackgrounds;  // by TBackground
  std::vector<QAction*> FChannels;     // by TChannel
  QAction* FSmaller = nullptr;
  QAction* FLarger = nullptr;
  QAction* FHelp = nullptr;
  std::vector<QAction*> FMenuOrder;
  std::vector<QPointer<QAction>> FAppended;
  QPointer<QMenu> FMenu;
  QMenu* FLevelMenu = nullptr;
  QMenu* FBackgroundMenu = nullptr;
  QPointer<QMenu> FViewLevelMenu;  // the View menu's level list
};

}  // namespace velmora
