// The main window on a real display with real archives: layout, the startup loading (status
// texts, busy cursor, log lines, tree), the registry and "mpqToLoad.txt" cases, a close request
// during loading, the mouse position, and errors shown in a message box.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "log/LogHandler.h"
#include "render/ViewPanel.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"
#include "ui/ErrorHandler.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "WindowWorld.h"

namespace fs = std::filesystem;

namespace velmora {
namespace {

const std::vector<test::MpqMember> kCommon = {{"Textures\\Minimap\\map01.blp", "common map01"},
                                              {"Textures\\Minimap\\map02.blp", "common map02"},
                                              {"Interface\\Icons\\icon.blp", "icon"},
                                              {"readme.txt", "not a texture"}};
const std::vector<test::MpqMember> kPatch = {{"Textures\\Minimap\\map01.blp", "patched map01"},
                                             {"Textures\\Water\\water.blp", "water"}};
const std::vector<test::MpqMember> kLocale = {{"Interface\\Glues\\logo.blp", "logo"}};
constexpr std::size_t kCommonNodes = 7;  // TEXTURES MINIMAP MAP01 MAP02 INTERFACE ICONS ICON

using test::kHiveHeader;
using test::kInstallValue;
using test::kWow64Key;
using test::kWowKey;
using test::TMessageBoxWatcher;
using test::WaitFor;

// The scratch world with the default game at hand.
class TScratchWorld : public test::TScratchWorld {
public:
  // common.MPQ, patch.MPQ and enUS/locale-enUS.MPQ under C:\Games\WoW\Data.
  void Game() const {
    Archive(game() / "Data/common.MPQ", kCommon);
    Archive(game() / "Data/patch.MPQ", kPatch);
    Archive(game() / "Data/enUS/locale-enUS.MPQ", kLocale);
  }
};

// What the window showed each time the loading let pending events run.
struct TLoadStep {
  QString panel0;
  QString panel1;
  bool busy;
  bool operator==(const TLoadStep&) const = default;
};

void PrintTo(const TLoadStep& s, std::ostream* os) {
  *os << "{\"" << s.panel0.toStdString() << "\", \"" << s.panel1.toStdString() << "\", "
      << (s.busy ? "busy" : "normal") << "}";
}

bool BusyCursor() {
  const QCursor* c = QGuiApplication::overrideCursor();
  return c != nullptr && c->shape() == Qt::WaitCursor;
}

// One window whose loading is watched step by step.
class TWatchedWindow {
public:
  explicit TWatchedWindow(std::function<void(TForm1&, std::size_t)> onStep = {}) : onStep_(std::move(onStep)) {
    form.OnPendingEvents = [this] {
      steps.push_back({form.StatusText(0), form.StatusText(1), BusyCursor()});
      if (onStep_) onStep_(form, steps.size());
    };
  }
  // Shows the window and returns once its loading has run.
  void ShowAndLoad() {
    form.show();
    EXPECT_TRUE(WaitFor([this] { return form.LoadingFinished(); })) << "the loading never finished";
    QApplication::processEvents();
  }
  std::vector<std::string> OpenedLogLines(const std::vector<std::string>& lines) const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto h = static_cast<std::int32_t>(static_cast<std::uint32_t>((*MpqList)[i]));
      out.push_back(lines[i] + " opened, handle " + std::to_string(h));
    }
    return out;
  }
  QStringList TopLevelNames() const {
    QStringList names;
    for (int i = 0; i < form.VirtualStringTree->rowCount(); ++i)
      names << form.VirtualStringTree->data(form.VirtualStringTree->index(i, 0)).toString();
    return names;
  }

  TMessageBoxWatcher boxes;  // before the window: creation errors are caught too
  TForm1 form;
  std::vector<TLoadStep> steps;

private:
  std::function<void(TForm1&, std::size_t)> onStep_;
};

TEST(MainWindow, LayoutFollowsTheTable) {
  TScratchWorld world;
  const QPalette oldPalette = QApplication::palette();
  QPalette distinct = oldPalette;
  distinct.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
  QApplication::setPalette(distinct);
  {
    TWatchedWindow w;
    TForm1& f = w.form;
    w.ShowAndLoad();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

    EXPECT_EQ(f.windowTitle(), "Velmora OpenGL");
    // The client area of 588 x 571 lies below the menu bar, which takes the window's top rows.
    ASSERT_NE(f.MenuBar1, nullptr);
    const int bar = f.MenuBar1->height();
    EXPECT_GT(bar, 0);
    EXPECT_EQ(f.MenuBar1->geometry(), QRect(0, 0, 588, bar));
    EXPECT_EQ(f.size(), QSize(588, 571 + bar));
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
      const QPoint off = f.frameGeometry().center() - s->availableGeometry().center();
      EXPECT_LE(off.manhattanLength(), 2) << "window not centred";
    }
    EXPECT_TRUE(f.autoFillBackground());
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(f.font().pixelSize(), 11);
    const QString family = QFontDatabase::hasFamily("Tahoma")
                               ? QStringLiteral("Tahoma")
                               : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    EXPECT_EQ(f.font().family(), family);

    const QRect tree(f.VirtualStringTreeView->mapTo(&f, QPoint(0, 0)), f.VirtualStringTreeView->size());
    EXPECT_EQ(tree.topLeft(), QPoint(0, bar));
    EXPECT_EQ(tree.width(), 196);
    EXPECT_EQ(tree.height(), 571 - 19);
    // The splitter takes the 3 pixels between the tree and the scroll box (its handle's grab
    // area reaches one pixel further to each side).
    EXPECT_EQ(f.Splitter1->handleWidth(), 3);
    EXPECT_EQ(f.Splitter1->handle(1)->geometry().center().x(), 197);
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, bar + 571 - 19, 588, 19));
    EXPECT_EQ(f.StatusPanel(0)->width(), 300);
    EXPECT_EQ(f.StatusPanel(1)->width(), 200);
    EXPECT_EQ(f.StatusPanel(2)->width(), 50);
    ASSERT_TRUE(ViewBox && RenderPanelHost && RenderPanel);
    EXPECT_EQ(ViewBox->mapTo(&f, QPoint(0, 0)), QPoint(199, bar));
    EXPECT_EQ(ViewBox->size(), QSize(588 - 199, 571 - 19));
    EXPECT_EQ(RenderPanelHost->parentWidget(), ViewBox->viewport());
    EXPECT_EQ(RenderPanelHost->geometry(), QRect(0, 0, 256, 256));
    EXPECT_EQ(RenderPanel->size(), QSize(256, 256));
    EXPECT_TRUE(f.TimerOnCreate->isSingleShot());
    EXPECT_EQ(f.TimerOnCreate->interval(), 100);
    EXPECT_FALSE(f.TimerOnCreate->isActive());

    // Tab order: the tree is the first control that takes focus.
    QWidget* first = f.nextInFocusChain();
    while (first != &f && !(first->focusPolicy() & Qt::TabFocus)) first = first->nextInFocusChain();
    EXPECT_EQ(first, f.VirtualStringTreeView);
    EXPECT_EQ(f.focusWidget(), f.VirtualStringTreeView);

    // Dragging the splitter resizes the tree; the scroll box follows.
    QWidget* h = f.Splitter1->handle(1);
    QTest::mousePress(h, Qt::LeftButton, {}, QPoint(1, 100));
    QTest::mouseMove(h, QPoint(51, 100));
    QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(51, 100));
    QApplication::processEvents();
    const int treeWidth = f.VirtualStringTreeView->width();
    EXPECT_GE(treeWidth, 245);
    EXPECT_LE(treeWidth, 246);
    EXPECT_EQ(ViewBox->mapTo(&f, QPoint(0, 0)), QPoint(treeWidth + 3, bar));
    EXPECT_EQ(ViewBox->width(), 588 - treeWidth - 3);
  }
  QApplication::setPalette(oldPalette);
}

TEST(MainWindow, LoadsEveryArchiveInOrderWithProgressLogAndTree) {
  TScratchWorld world;
  world.Game();
  // A 64-bit prefix: the 32-bit view of the key is used, not the plain one.
  world.Hive(std::string("#arch=win64\n\n") + kWowKey + "\"InstallPath\"=\"C:\\\\Elsewhere\\\\\"\n\n" +
             kWow64Key + kInstallValue);
  const std::vector<std::string> lines = {"Data\\common.MPQ", "Data\\PATCH.mpq", "Data\\ENUS\\Locale-enUS.mpq",
                                          "Data\\missing.MPQ", ""};
  world.MpqToLoad("Data\\common.MPQ\r\nData\\PATCH.mpq\r\nData\\ENUS\\Locale-enUS.mpq\r\nData\\missing.MPQ\r\n\r\n");

  TWatchedWindow w;
  w.ShowAndLoad();

  std::vector<TLoadStep> expected;
  for (const std::string& line : lines) expected.push_back({"Loading Mpq", QString::fromStdString(line), true});
  expected.push_back({"Loading file list", "", true});
  expected.push_back({"", "", true});
  EXPECT_EQ(w.steps, expected);
  EXPECT_EQ(w.form.StatusText(0), "");
  EXPECT_FALSE(QGuiApplication::overrideCursor()) << "busy cursor left after loading";
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();

  // The missing archive and the empty line (the installation directory) are skipped silently.
  ASSERT_EQ(MpqList->Count(), 3u);
  EXPECT_EQ(world.LogMessages(), w.OpenedLogLines({lines[0], lines[1], lines[2]}));

  EXPECT_EQ(w.TopLevelNames(), QStringList({"INTERFACE", "TEXTURES"}));
  EXPECT_EQ(w.form.VirtualStringTree->NodeCount(), 11u);
  const TFileMpqRec* map01 = FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP");
  ASSERT_NE(map01, nullptr);
  EXPECT_EQ(map01->mpqh, (*MpqList)[1]) << "the later archive does not override";
}

struct TCaseRow {
  const char* name;
  std::function<void(const TScratchWorld&)> setup;
  std::vector<std::string> openedLines;  // lines whose archives must be open, in order
  std::vector<std::string> otherLog;     // the log when no archive opens, else after the opened lines
  QString error;                         // the message box text, empty for none
  std::size_t nodes;
};

TEST(MainWindow, RegistryAndListCasesLoadLogAndReportEachOutcome) {
  const std::string keyNotFound = "World of Warcraft registry key not found";
  const std::vector<TCaseRow> rows = {
      {"no_prefix_logs_key_not_found",
       [](const TScratchWorld& w) {
         ::setenv("WINEPREFIX", (w.prefix() / "absent").c_str(), 1);
         w.MpqToLoad("Data\\common.MPQ\n");
       },
       {}, {keyNotFound}, "", 0},
      {"hive_without_key_logs_key_not_found",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive("[Software\\\\Other] 1\n" + std::string(kInstallValue));
         w.MpqToLoad("Data\\common.MPQ\n");
       },
       {}, {keyNotFound}, "", 0},
      {"unreadable_hive_logs_key_not_found",
       [](const TScratchWorld& w) {
         w.Game();
         fs::create_directory(w.prefix() / "system.reg");
         w.MpqToLoad("Data\\common.MPQ\n");
       },
       {}, {keyNotFound}, "", 0},
      {"absent_value_makes_lines_relative_to_working_dir",
       [](const TScratchWorld& w) {
         w.Hive(kWowKey);
         w.Archive(w.work() / "Data/common.MPQ", kCommon);
         w.MpqToLoad("Data\\common.MPQ\n");
       },
       {"Data\\common.MPQ"}, {}, "", kCommonNodes},
      {"dword_value_shows_error_naming_value_and_type",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive(std::string(kWowKey) + "\"InstallPath\"=dword:00000001\n");
         w.MpqToLoad("Data\\common.MPQ\n");
       },
       {}, {}, "Invalid data type for 'InstallPath': REG_DWORD", 0},
      {"install_path_without_backslash_joined_without_separator",
       [](const TScratchWorld& w) {
         w.Game();
         w.Archive(w.drive() / "Games/WoWData/common.MPQ", kCommon);
         w.Hive(std::string(kWowKey) + "\"InstallPath\"=\"C:\\\\Games\\\\WoW\"\n");
         w.MpqToLoad("Data\\common.MPQ\nData\\patch.MPQ\n");
       },
       {"Data\\common.MPQ"}, {}, "", kCommonNodes},
      {"missing_list_without_game_folder_logs_one_line",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive(kWowKey);
       },
       {}, {"mpqToLoad.txt not found"}, "", 0},
      {"unreadable_list_shows_error",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive(std::string(kWowKey) + kInstallValue);
         ASSERT_EQ(::mkfifo((w.work() / "mpqToLoad.txt").c_str(), 0600), 0);
       },
       {}, {}, "Cannot open file \"mpqToLoad.txt\". not a regular file", 0},
      {"same_archive_twice_opens_once",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive(std::string(kWowKey) + kInstallValue);
         w.MpqToLoad("Data\\common.MPQ\nData\\common.MPQ\n");
       },
       {"Data\\common.MPQ"}, {"Data\\common.MPQ already open"}, "", kCommonNodes},
      {"utf16_list_with_expand_sz_value",
       [](const TScratchWorld& w) {
         w.Game();
         w.Hive(std::string(kWowKey) + "\"InstallPath\"=str(2):\"C:\\\\Games\\\\WoW\\\\\"\n");
         const std::string text = "Data\\common.MPQ\r\n";
         std::string bytes = "\xFF\xFE";
         for (char c : text) bytes += std::string{c, '\0'};
         w.MpqToLoad(bytes);
       },
       {"Data\\common.MPQ"}, {}, "", kCommonNodes},
  };
  for (const TCaseRow& row : rows) {
    SCOPED_TRACE(row.name);
    TScratchWorld world;
    row.setup(world);
    TWatchedWindow w;
    w.ShowAndLoad();

    EXPECT_EQ(w.boxes.texts, row.error.isEmpty() ? QStringList() : QStringList{row.error});
    ASSERT_EQ(MpqList->Count(), row.openedLines.size());
    std::vector<std::string> log = w.OpenedLogLines(row.openedLines);
    log.insert(log.end(), row.otherLog.begin(), row.otherLog.end());
    EXPECT_EQ(world.LogMessages(), log);
    EXPECT_EQ(w.form.VirtualStringTree->NodeCount(), row.nodes);
    if (row.openedLines.size() == 2) {
      EXPECT_NE((*MpqList)[0], (*MpqList)[1]);
      const TFileMpqRec* rec = FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP");
      ASSERT_NE(rec, nullptr);
      EXPECT_EQ(rec->mpqh, (*MpqList)[1]) << "entries of a listfile read twice name the later handle";
    }
    // Whatever happened, the window is usable: visible, idle, normal cursor, panel 0 empty.
    EXPECT_TRUE(w.form.isVisible());
    EXPECT_FALSE(QGuiApplication::overrideCursor());
    EXPECT_EQ(w.form.StatusText(0), "");
    if (!row.error.isEmpty() && !w.steps.empty()) {
      EXPECT_EQ(w.steps.back(), (TLoadStep{"", "", true})) << "status not restored after the error";
    }
  }
}

TEST(MainWindow, CloseDuringLoadingTakesEffectAfterLoadingReturns) {
  TScratchWorld world;
  world.Game();
  world.Hive(std::string(kWowKey) + kInstallValue);
  world.MpqToLoad("Data\\common.MPQ\nData\\patch.MPQ\nData\\enUS\\locale-enUS.MPQ\n");

  std::vector<bool> visibleAtStep;
  std::vector<std::size_t> archivesAtStep;
  TWatchedWindow w([&](TForm1& form, std::size_t step) {
    // A close request arrives with the other pending events while the second archive is due.
    if (step == 2) QMetaObject::invokeMethod(&form, "close", Qt::QueuedConnection);
    visibleAtStep.push_back(form.isVisible());
    archivesAtStep.push_back(MpqList ? MpqList->Count() : 0);
  });
  w.ShowAndLoad();

  ASSERT_EQ(w.steps.size(), 5u);
  EXPECT_EQ(visibleAtStep, std::vector<bool>(5, true)) << "the window closed under the loading";
  EXPECT_EQ(archivesAtStep, (std::vector<std::size_t>{0, 1, 2, 3, 3}));
  EXPECT_EQ(MpqList->Count(), 3u);
  EXPECT_EQ(w.form.VirtualStringTree->NodeCount(), 11u);
  EXPECT_FALSE(w.form.isVisible()) << "the close request was lost";
  EXPECT_FALSE(QGuiApplication::overrideCursor());
}

TEST(MainWindow, MousePositionIsShownRelativeToTheControlUnderIt) {
  TScratchWorld world;
  TWatchedWindow w;
  w.ShowAndLoad();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form));
  ASSERT_TRUE(RenderPanel && ViewBox);

  // The moves go through the window system; the text follows once they are delivered.
  auto shows = [&w](const QString& text) {
    WaitFor([&] { return w.form.StatusText(1) == text; }, 3000);
    return w.form.StatusText(1);
  };
  QTest::mouseMove(RenderPanel.data(), QPoint(10, 20));
  EXPECT_EQ(shows("10:20"), "10:20");
  // Over a control without a handler of its own (a status panel): the text stays.
  QTest::mouseMove(&w.form, w.form.StatusPanel(2)->mapTo(&w.form, QPoint(7, 4)));
  EXPECT_EQ(shows("7:4"), "10:20") << "a move over a status panel was reported";
  // Over the window's own area (the layout leaves none uncovered, so the move is sent to it).
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 6), w.form.mapToGlobal(QPointF(5, 6)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&w.form, &move);
  EXPECT_EQ(w.form.StatusText(1), "5:6");
}

TEST(ErrorHandler, ErrorLeavingAHandlerIsShownAndTheCallerGoesOn) {
  TMessageBoxWatcher boxes;
  EXPECT_FALSE(RunEventHandler(nullptr, [] { throw std::runtime_error("texture too large: 70000 x 4"); }));
  EXPECT_FALSE(RunEventHandler(nullptr, [] { throw 42; }));
  EXPECT_TRUE(RunEventHandler(nullptr, [] {}));
  EXPECT_EQ(boxes.texts, QStringList({"texture too large: 70000 x 4", "Unknown error"}));
}

}  // namespace
}  // namespace velmora
