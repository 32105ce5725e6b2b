// The viewer's only window: the file tree on the left, the texture view on the right, the status
// bar below; at start it finds the game, opens its archives and fills the tree.
#pragma once

#include <QScrollArea>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QSplitter;
class QStatusBar;
class QTimer;
class QTreeView;

namespace velmora {

class TTreeModel;

// The scroll box of the view: scroll bars appear when the drawing panel is larger than its
// client area.
class TMyScrollBox : public QScrollArea {
  Q_OBJECT

public:
  explicit TMyScrollBox(QWidget* parent);
};

// Created by the window's creation handler and destroyed by its destruction handler (drawing
// panel first); null outside that span.
extern std::unique_ptr<TMyScrollBox> ViewBox;
extern std::unique_ptr<QWidget> RenderPanel;

// The registry key that holds the game's installation directory, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kGameRegistryKey = "\\SOFTWARE\\Blizzard Entertainment\\World of Warcraft";

class TForm1 : public QWidget {
  Q_OBJECT

public:
  // Lays the window out and runs FormCreate. An error there is shown to the user; the window
  // is still usable, but nothing after the failing step ran (no loading).
  explicit TForm1(QWidget* parent = nullptr);
  // Runs FormDestroy: releases what FormCreate made, in reverse order of need.
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The window's components.
  TTreeModel* VirtualStringTree = nullptr;   // the tree control's nodes (BeginUpdate, SortTree, ...)
  QTreeView* VirtualStringTreeView = nullptr;  // and its view in the left pane
  QSplitter* Splitter1 = nullptr;            // tree | ViewBox; its handle is the 3-pixel splitter
  QStatusBar* StatusBar1 = nullptr;
  QTimer* TimerOnCreate = nullptr;

  static constexpr int kPanelCount = 3;
  QLabel* StatusPanel(int panel) const { return FPanels.at(static_cast<std::size_t>(panel)); }
  void SetStatusText(int panel, const QString& text);
  QString StatusText(int panel) const;

  // The startup loading; runs once, from TimerOnCreateTimer.
  void LoadMpqs();
  // Opens the archive InstallPath + line (joined without a separator), appends it to MpqList
  // and logs "<line> opened, handle <n>"; an archive that cannot be opened is skipped silently.
  void OpenMpq(const std::string& line);

  // True once TimerOnCreateTimer has run (whether or not the loading succeeded).
  bool LoadingFinished() const { return FLoadingFinished; }
  bool Loading() const { return FLoading; }

  // Called each time LoadMpqs has let pending events run: lets tests watch the loading.
  std::function<void()> OnPendingEvents;

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
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void FormDestroy();
  void ProcessPendingEvents();

  std::array<QLabel*, kPanelCount> FPanels{};
  std::string FInstallPath;  // the registry value as UTF-8; no separator is added to it
  std::string FWinePrefix;
  bool FArchiveIndexCreated = false;
  bool FRootNodesCreated = false;
  bool FLoading = false;
  bool FLoadingFinished = false;
  bool FCloseRequested = false;  // a close request that arrived while LoadMpqs ran
  bool FCentred = false;
};

}  // namespace velmora
