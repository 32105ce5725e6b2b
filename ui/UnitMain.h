// The viewer's only window: the menu bar on top, the file tree on the left, the texture view on the
// right, the status bar below; at start it finds the game, opens its archives and fills the tree.
//
// The client area of 588 x 571 is the part below the menu bar, as on a desktop where the menu bar
// belongs to the window's frame: the tree, the splitter, the view and the status bar keep their
// sizes and places within it, and the window is the menu bar's height taller.
#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/LoadPlan.h"
#include "ui/ScrollBox.h"

class QLabel;
class QMenuBar;
class QSplitter;
class QStackedWidget;
class QStatusBar;
class QTimer;
class QTreeView;

namespace velmora {

class TExportActions;
class TFilterLine;
class TInfoPanel;
class TMainMenu;
class TGlView;
class TRenderPanel;
class TViewControls;
class TTreeModel;
class TThumbnailPane;
struct TVirtualNode;
struct TViewSetup;
struct TBLP2Header;
class TBlpTexture;

// Created by the window's creation handler and destroyed by its destruction handler (drawing
// panel first); null outside that span.
extern std::unique_ptr<TMyScrollBox> ViewBox;
// The drawing panel is a native window, the GL surface of the view. It lives inside
// RenderPanelHost, the widget that embeds it in ViewBox and owns it: sizing the host sizes the
// panel. RenderPanel turns null when the host is destroyed.
extern std::unique_ptr<QWidget> RenderPanelHost;
extern QPointer<TRenderPanel> RenderPanel;

// Status panel 0 after a selection: "type %d, comp %d, a_bits %d, a_type %d, mips %d, %d x %d"
// filled from the header as read.
QString HeaderStatusText(const TBLP2Header& hdr);
// Status panel 0 for `texture`: its header values, all zero when the file could not be opened or
// is empty; empty for a file that is not BLP2, whose bytes are no header values (the notice
// above the view says what it is).
QString HeaderStatusFor(const TBlpTexture& texture);

class TForm1 : public QWidget {
  Q_OBJECT

public:
  // Lays the window out and runs FormCreate. An error there is shown to the user; the window
  // is still usable, but nothing after the failing step ran (no loading).
  explicit TForm1(QWidget* parent = nullptr);
  // The same with the texture view reaching GL as `viewSetup` says (tests stand in for a
  // system without the GL library or an entry point).
  explicit TForm1(const TViewSetup& viewSetup, QWidget* parent = nullptr);
  // Runs FormDestroy: releases what FormCreate made, in reverse order of need.
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The window's components.
  QMenuBar* MenuBar1 = nullptr;              // above the client area
  TTreeModel* VirtualStringTree = nullptr;   // the tree control's nodes (BeginUpdate, SortTree, ...)
  QTreeView* VirtualStringTreeView = nullptr;  // and its view in the left pane
  QSplitter* Splitter1 = nullptr;            // tree | ViewBox; its handle is the 3-pixel splitter
  QStatusBar* StatusBar1 = nullptr;
  QTimer* TimerOnCreate = nullptr;

  static constexpr int kPanelCount = 3;
  QLabel* StatusPanel(int panel) const { return FPanels.at(static_cast<std::size_t>(panel)); }
  void SetStatusText(int panel, const QString& text);
  // Says for a few seconds what an action did ("Saved Spot.mip3.png (32 x 32)"), in the readout
  // strip below the view.
  void ShowStatusMessage(const QString& text);
  QString StatusText(int panel) const;

  // The startup loading; runs once, from TimerOnCreateTimer.
  void LoadMpqs();
  // Opens the archive InstallPath + line (joined without a separator), appends it to MpqList
  // and logs "<line> opened, handle <n>". An archive open already logs "<line> already open"; one
  // that stopped the archive reader "<line> skipped: the archive reader stopped (<crash / memory /
  // time-out>)"; one that cannot be opened, other than a missing file, "<path> not opened:
  // <reason>" (ui/NamedFiles.h), also named in the start-up notice.
  void OpenMpq(const std::string& line);

  // True once TimerOnCreateTimer has run (whether or not the loading succeeded).
  bool LoadingFinished() const { return FLoadingFinished; }
  bool Loading() const { return FLoading; }

  // Called each time LoadMpqs has let pending events run: lets tests watch the loading.
  std::function<void()> OnPendingEvents;

  // The texture view on RenderPanel; ready once its GL set-up in FormCreate has succeeded.
  TGlView& View() const { return *FView; }
  // Zoom, pan, channels, levels, the view's menu and shortcuts; made with the scroll box in
  // FormCreate.
  TViewControls* ViewControls() const { return FViewControls.get(); }
  // The path an archive was opened under (installation directory and the line of
  // "mpqToLoad.txt"), by its handle; empty for a handle the window did not open.
  QString ArchivePathOf(std::uintptr_t handle) const;
  // Where that archive lies on this host (what the archive reader opened); empty for a handle the
  // window did not open.
  std::string ArchiveHostPathOf(std::uintptr_t handle) const;
  // The thumbnail grid in the view's place (ui/ThumbnailPane.h); null when the view could not be
  // set up.
  TThumbnailPane* Thumbnails() const { return FThumbnails; }

  // Shows another texture of the selected file in place of the shown one, as a selection does
  // (status panel 0, level 0, the panel's size, a redraw) and without touching the tree: the old
  // texture goes first, then `make` makes the new one. Another archive's version of the file, or
  // the difference of two (ui/FileVersions.h). Errors reach the caller as the selection's do.
  void ShowOtherTexture(const std::function<std::unique_ptr<TBlpTexture>()>& make);
  // The information about the shown file and its versions beside the view (ui/InfoPanel.h).
  TInfoPanel* InfoPanel() const { return FInfoPanel; }

  // A node added to the tree's selection: a file node becomes the shown texture (the old one
  // is destroyed first), its header goes to status panel 0, the panel takes its size and the
  // view is redrawn. Folders change nothing. An allocation error leaves no texture shown and
  // the status bar and panel as they were, and reaches the caller.
  void VirtualStringTreeAddToSelection(TTreeModel& sender, TVirtualNode* node);

  // What the command line names (--game, --list, archives, BLP files); set before the window is
  // shown. The report says what the loading found.
  void SetStartupOptions(const TStartupOptions& options) { FStartup = options; }
  const TStartupReport& StartupReport() const { return FStartupReport; }
  // Opens archives and BLP files after the start, as the command line does (files dropped on the
  // window, the File menu), beside what is open; the first BLP file is selected and shown. They
  // join the recent list. False when none opened (ui/NamedFiles.cpp).
  bool OpenFiles(const std::vector<std::string>& paths);
  // Loads the game in `dir` as --game DIR does (the archive list of --list or the working folder,
  // else the client's own order of the folder), in place of everything loaded before: texture,
  // tree, index and archives. Nothing happens while a loading runs or without a tree.
  void LoadGameFolder(const std::string& dir);
  // Shows in the view area what the start-up lacks, or removes that notice (ui/StartupNotice.cpp).
  void ShowStartupNotice();
  // The filter line above the tree (Ctrl+F).
  TFilterLine* FilterLine() const { return FFilterLine; }
  // The menu bar's menus and the File entries' dialogs.
  TMainMenu* MainMenu() const { return FMainMenu; }
  TExportActions* ExportActions() const { return FExportActions; }

  // Draws the view (the window's painting).
  void FormPaint();
  // Gives the panel the shown texture's size again and fits the viewport to it; the repaint
  // that follows draws.
  void FormResize();
  // The splitter was dragged: the scroll box changed size, the panel keeps the texture's.
  void Splitter1Moved();

public slots:
  // Mouse movement over the window and over RenderPanel: status panel 1 = "x:y", relative to
  // the control under the mouse.
  void FormMouseMove(QObject* sender, Qt::KeyboardModifiers shift, int x, int y);

private slots:
  void TimerOnCreateTimer();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void FormCreate(const TViewSetup& viewSetup);
  void FormDestroy();
  void ProcessPendingEvents();
  // After the loading, however it ended: BLP files named on the command line join the tree, the
  // first of them shown, and an empty start-up says why and offers the way on
  // (ui/StartupNotice.cpp).
  void FinishStartup();
  // The notice's buttons and drop hint for an empty start-up, made once (ui/StartupNotice.cpp).
  void MakeNoticeExtras();
  // Expands the folders above `node`, selects it and so shows it.
  void SelectFileNode(TVirtualNode* node);
  // The loading, from the timer or from LoadGameFolder.
  void RunLoading();
  // Brings a window larger than its screen, or off it, back onto it.
  void KeepOnScreen();

  // Sets the drawing panel's size (through its host widget).
  void SetPanelSize(int width, int height);

  std::unique_ptr<TGlView> FView;  // dc and hrc of the drawing panel, and the view's operations
  std::unique_ptr<TViewControls> FViewControls;
  std::map<std::uintptr_t, std::string> FArchivePaths;  // MpqList's handles -> the paths opened
  std::map<std::uintptr_t, std::string> FArchiveNames;  // and -> their names as the log gives them
  std::map<std::uintptr_t, std::string> FArchiveHostPaths;  // and -> where they lie on this host
  std::array<QLabel*, kPanelCount> FPanels{};
  std::string FInstallPath;  // the registry value as UTF-8; no separator is added to it
  std::string FWinePrefix;
  bool FArchiveIndexCreated = false;
  bool FRootNodesCreated = false;
  bool FLoading = false;
  bool FLoadingFinished = false;
  bool FCloseRequested = false;  // a close request that arrived while LoadMpqs ran
  bool FCentred = false;
  TStartupOptions FStartup;
  TStartupReport FStartupReport;
  TFilterLine* FFilterLine = nullptr;
  TExportActions* FExportActions = nullptr;  // a child of the window
  TMainMenu* FMainMenu = nullptr;            // a child of the window
  TInfoPanel* FInfoPanel = nullptr;          // a child of the splitter
  QStackedWidget* FViewStack = nullptr;      // right of the splitter: ViewBox or the thumbnail grid
  TThumbnailPane* FThumbnails = nullptr;     // a child of the window
};

}  // namespace velmora
