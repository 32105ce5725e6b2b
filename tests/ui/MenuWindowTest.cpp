// The window as a new user finds it: the menu bar's entries with their shortcuts and enabled
// states, the empty window's ways on, Esc from the tree, BLP files named on the command line,
// the names of saved levels and what a save says, the tree's hints in the files' own case, the
// recent list, and a remembered window brought back onto the screen.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/SandboxSupport.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "render/View.h"
#include "support/BlpWriter.h"
#include "ui/ExportActions.h"
#include "ui/FilterLine.h"
#include "ui/InfoPanel.h"
#include "ui/MainMenu.h"
#include "ui/RecentList.h"
#include "ui/ScreenPlace.h"
#include "ui/ScrollBox.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"
#include "ui/ViewStrip.h"
#include "WindowWorld.h"

namespace fs = std::filesystem;

namespace velmora {
namespace {

using test::WaitFor;

std::string Blp(std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
  return test::WriteBlp(test::RandomBlp(3, 8, 8, w, h, 1, seed));
}

// The game at C:\Games\WoW with two archives in its list; names in their own mixed case.
class TMenuWorld : public test::TScratchWorld {
public:
  TMenuWorld() {
    Archive(game() / "Data/common.MPQ", {{"Textures\\Minimap\\Map01.blp", Blp(12, 8, 1)}, {"Interface\\Icons\\Icon.blp", Blp(4, 4, 2)}});
    Archive(game() / "Data/patch.MPQ", {{"Textures\\Minimap\\Map01.blp", Blp(12, 8, 3)}});
  }
  void Registry() const { Hive(std::string(test::kWowKey) + test::kInstallValue); }
  void List() const { MpqToLoad("Data\\common.MPQ\nData\\patch.MPQ\n"); }
};

struct TWindow {
  explicit TWindow(const TStartupOptions& options = {}) {
    form.SetStartupOptions(options);
    form.show();
    EXPECT_TRUE(WaitFor([this] { return form.LoadingFinished(); }));
    QApplication::processEvents();
  }
  QModelIndex Node(const QStringList& path) const {
    QModelIndex at;
    for (const QString& name : path) {
      QModelIndex found;
      for (int r = 0; r < form.VirtualStringTree->rowCount(at); ++r) {
        const QModelIndex i = form.VirtualStringTree->index(r, 0, at);
        if (form.VirtualStringTree->data(i).toString() == name) found = i;
      }
      if (!found.isValid()) return {};
      at = found;
    }
    return at;
  }
  void Select(const QStringList& path) {
    const QModelIndex node = Node(path);
    ASSERT_TRUE(node.isValid()) << path.join('\\').toStdString();
    form.VirtualStringTreeView->setCurrentIndex(node);
    QApplication::processEvents();
  }
  // Window shortcuts need the window active; without a window manager it asks X itself.
  bool Activate() {
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) return false;
    form.VirtualStringTreeView->setFocus();
    return true;
  }
  test::TMessageBoxWatcher boxes;
  TForm1 form;
};

// Every action in `menu` and its submenus, by object name.
void Collect(const QMenu& menu, std::map<QString, QAction*>& out, std::map<QString, QString>& where, const QString& path) {
  for (QAction* a : menu.actions()) {
    if (a->isSeparator()) continue;
    if (a->menu() != nullptr) {
      Collect(*a->menu(), out, where, path + " > " + a->text().remove('&'));
      continue;
    }
    if (!a->objectName().isEmpty()) {
      out[a->objectName()] = a;
      where[a->objectName()] = path;
    }
  }
}

TEST(MenuBar, every_entry_is_in_its_menu_disabled_with_nothing_to_act_on_and_does_what_its_shortcut_does) {
  TMenuWorld world;
  world.Registry();
  world.List();
  TWindow w;
  ASSERT_TRUE(w.Activate());
  TMainMenu& menu = *w.form.MainMenu();
  int gameAsked = 0, archivesAsked = 0, blpAsked = 0, saveAsked = 0;
  menu.chooseGameFolder = [&] { ++gameAsked; return QString(); };
  menu.chooseArchives = [&] { ++archivesAsked; return QStringList(); };
  menu.chooseBlpFiles = [&] { ++blpAsked; return QStringList(); };
  w.form.ExportActions()->chooseSaveFile = [&](const QString&) { ++saveAsked; return QString(); };

  std::map<QString, QAction*> actions;
  std::map<QString, QString> where;
  for (QAction* top : w.form.MenuBar1->actions()) Collect(*top->menu(), actions, where, top->text().remove('&'));
  const auto shown = [] { return CurrentTexture && !CurrentTexture->Levels().levels.empty(); };

  struct TRow {
    const char* name;
    const char* menu;
    const char* text;
    QKeySequence keys;
    bool enabledWithoutTexture;
    std::function<int()> effect;     // changes each time the entry acts; null: not run here
    std::function<void()> prepare;   // puts back what the entry changed, before each run
  };
  TViewControls& view = *w.form.ViewControls();
  const TRow rows[] = {
      {"ChooseGameFolder", "File", "Choose game folder\u2026", QKeySequence("Ctrl+G"), true, [&] { return gameAsked; }, {}},
      {"OpenArchives", "File", "Open archives\u2026", QKeySequence("Ctrl+O"), true, [&] { return archivesAsked; }, {}},
      {"OpenBlpFiles", "File", "Open BLP files\u2026", {}, true, [&] { return blpAsked; }, {}},
      {"SaveLevel", "File", "Save level as PNG\u2026", QKeySequence("Ctrl+S"), false, [&] { return saveAsked; }, {}},
      {"SaveEveryLevel", "File", "Save every level\u2026", QKeySequence("Ctrl+Shift+S"), false, [&] { return saveAsked; }, {}},
      {"ExportFolder", "File", "Export folder\u2026", {}, false, nullptr, {}},
      {"Quit", "File", "Quit", QKeySequence("Ctrl+Q"), true, nullptr, {}},
      {"CopyLevel", "Edit", "Copy level", QKeySequence("Ctrl+C"), false,
       [&] { return QGuiApplication::clipboard()->image().isNull() ? 0 : 1; }, [] { QGuiApplication::clipboard()->clear(); }},
      {"FilterTree", "Edit", "Find", QKeySequence("Ctrl+F"), true, [&] { return w.form.FilterLine()->isVisible() ? 1 : 0; },
       [&] {
         w.form.FilterLine()->Close();
         w.form.VirtualStringTreeView->setFocus();
       }},
      {"ZoomIn", "View", "Zoom in", QKeySequence("Ctrl+="), false, [&] { return static_cast<int>(view.State().zoom); },
       [&] { view.ActualSize(); }},
      {"ActualSize", "View", "Actual size", QKeySequence("Ctrl+0"), false, [&] { return static_cast<int>(view.State().zoom); },
       [&] { view.ZoomIn(); }},
      {"Background_checker", "View > Background", "Checkerboard", {}, true, nullptr, {}},
      {"Channel_alpha", "View > Channel", "Alpha as grey", QKeySequence("Ctrl+6"), true,
       [&] { return static_cast<int>(view.State().channel); }, [&] { view.SetChannel(TChannel::kRgba); }},
      {"SmallerLevel", "View > Mip level", "Next smaller mip level", QKeySequence("Ctrl+]"), false,
       [&] { return view.State().level; }, [&] { view.SetLevel(0); }},
      {"FileInfo", "View", "File info", QKeySequence("Ctrl+I"), true,
       [&] { return w.form.InfoPanel()->isVisible() ? 1 : 0; }, {}},
      {"ShortcutHelp", "Help", "Keyboard shortcuts", QKeySequence("F1"), true,
       [&] {
         const auto* help = w.form.findChild<QDialog*>("ShortcutHelp");
         return help != nullptr && help->isVisible() ? 1 : 0;
       },
       [&] {
         if (auto* help = w.form.findChild<QDialog*>("ShortcutHelp")) help->hide();
         w.Activate();
       }},
      {"About", "Help", "About", {}, true, [&] { return static_cast<int>(w.boxes.texts.size()); }, {}},
  };
  // Without a texture: what acts on one is disabled, the rest is not.
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(actions.count(row.name)) << "no menu entry";
    QAction* a = actions[row.name];
    EXPECT_EQ(where[row.name].toStdString(), row.menu);
    EXPECT_EQ(a->text().toStdString(), QString::fromUtf8(row.text).toStdString());
    EXPECT_EQ(a->shortcut(), row.keys);
    EXPECT_EQ(a->isEnabled(), row.enabledWithoutTexture);
  }
  EXPECT_FALSE(menu.RecentMenu()->menuAction()->isEnabled()) << "an empty Recent is enabled";

  w.Select({"TEXTURES", "MINIMAP", "MAP01.BLP"});
  ASSERT_TRUE(shown());
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(actions[row.name]->isEnabled()) << "disabled with a texture shown";
    if (!row.effect) continue;
    // The shortcut, then the menu entry: each acts.
    if (!row.keys.isEmpty()) {
      if (row.prepare) row.prepare();
      const int before = row.effect();
      QTest::keySequence(w.form.VirtualStringTreeView, row.keys);
      QApplication::processEvents();
      EXPECT_NE(row.effect(), before) << "the shortcut did nothing";
    }
    if (row.prepare) row.prepare();
    const int before = row.effect();
    actions[row.name]->trigger();
    QApplication::processEvents();
    EXPECT_NE(row.effect(), before) << "the menu entry did nothing";
  }
  EXPECT_TRUE(w.boxes.texts.back().contains("VelmoraGL")) << w.boxes.texts.back().toStdString();
  // The About box says the running archive reader's protections.
  ASSERT_TRUE(TArchiveReader::Instance().Sandbox().known);
  std::string sandbox = DescribeSandbox(TArchiveReader::Instance().Sandbox().state);
  sandbox[0] = UpperAsciiChar(sandbox[0]);
  EXPECT_TRUE(w.boxes.texts.back().contains(QString::fromStdString(sandbox))) << w.boxes.texts.back().toStdString();
  // Export folder takes the folder of the current file.
  EXPECT_EQ(menu.FolderToExport(), TTreeModel::NodeOf(w.Node({"TEXTURES", "MINIMAP"})));
  // Ctrl+Q closes the window.
  if (auto* help = w.form.findChild<QDialog*>("ShortcutHelp")) help->hide();
  ASSERT_TRUE(w.Activate());
  QTest::keySequence(w.form.VirtualStringTreeView, QKeySequence("Ctrl+Q"));
  EXPECT_TRUE(WaitFor([&] { return !w.form.isVisible(); }, 3000)) << "Ctrl+Q did not close the window";
}

TEST(MenuBar, an_empty_window_offers_the_way_on_and_a_chosen_game_loads_without_a_restart) {
  TMenuWorld world;
  ::setenv("WINEPREFIX", (world.root() / "absent").c_str(), 1);
  TWindow w;
  ASSERT_EQ(w.form.VirtualStringTree->NodeCount(), 0u);
  EXPECT_TRUE(ViewBox->NoticeExtrasShown()) << "the empty window offers no way on";
  EXPECT_NE(ViewBox->Notice().indexOf("man VelmoraGL"), -1) << ViewBox->Notice().toStdString();
  auto* chooseButton = ViewBox->findChild<QPushButton*>("ChooseGameFolderButton");
  auto* openButton = ViewBox->findChild<QPushButton*>("OpenArchivesButton");
  auto* drop = ViewBox->findChild<QLabel*>("DropHint");
  ASSERT_TRUE(chooseButton && openButton && drop);
  EXPECT_EQ(chooseButton->text(), "Choose game folder");
  EXPECT_EQ(openButton->text(), "Open archives");
  EXPECT_TRUE(drop->isVisible());
  EXPECT_TRUE(drop->text().contains("dropped")) << drop->text().toStdString();

  // Open archives: the dialog is asked; cancelled, nothing changes.
  int archivesAsked = 0;
  w.form.MainMenu()->chooseArchives = [&] { ++archivesAsked; return QStringList(); };
  QTest::mouseClick(openButton, Qt::LeftButton);
  EXPECT_EQ(archivesAsked, 1);
  EXPECT_TRUE(ViewBox->NoticeExtrasShown());

  // Choose game folder: the folder loads in the client's order (no list in the working folder).
  w.form.MainMenu()->chooseGameFolder = [&] { return QString::fromStdString(world.game().string()); };
  QTest::mouseClick(chooseButton, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([] { return MpqList && MpqList->Count() == 2; }, 10000));
  QApplication::processEvents();
  EXPECT_TRUE(w.Node({"TEXTURES", "MINIMAP", "MAP01.BLP"}).isValid());
  EXPECT_EQ(FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP")->mpqh, (*MpqList)[1]) << "not in the client's order";
  EXPECT_EQ(ViewBox->Notice(), "") << "the notice outlived the loading";
  EXPECT_FALSE(ViewBox->NoticeExtrasShown());
  ASSERT_FALSE(w.form.MainMenu()->Recent().Entries().empty());
  EXPECT_EQ(w.form.MainMenu()->Recent().Entries().front(),
            (TRecentEntry{TRecentEntry::TKind::kGameFolder, {QString::fromStdString(world.game().string())}}));

  // Chosen again: the same tree, not a doubled one; a shown texture goes first.
  w.Select({"TEXTURES", "MINIMAP", "MAP01.BLP"});
  ASSERT_TRUE(CurrentTexture);
  const std::size_t nodes = w.form.VirtualStringTree->NodeCount();
  w.form.MainMenu()->ChooseGameFolder();
  EXPECT_FALSE(CurrentTexture) << "the texture of the game before stayed";
  EXPECT_EQ(w.form.VirtualStringTree->NodeCount(), nodes);
  EXPECT_EQ(MpqList->Count(), 2u);
  EXPECT_EQ(w.form.StatusText(0), "");
  EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
}

TEST(MenuBar, esc_from_the_tree_clears_the_filter_and_named_blp_files_show_the_first) {
  TMenuWorld world;
  fs::create_directories(world.root() / "Loose");
  std::ofstream(world.root() / "Loose/Second.blp", std::ios::binary) << Blp(6, 4, 7);
  std::ofstream(world.root() / "Loose/First.blp", std::ios::binary) << Blp(10, 6, 8);
  TStartupOptions options;
  options.blpFiles = {(world.root() / "Loose/First.blp").string(), (world.root() / "Loose/Second.blp").string()};
  TWindow w(options);

  // The first file named is selected and shown, its folder expanded.
  ASSERT_TRUE(CurrentTexture) << "no file shown";
  EXPECT_EQ(CurrentTexture->fname(), (world.root() / "Loose/First.blp").string());
  EXPECT_EQ(CurrentTexture->width, 10);
  const QModelIndex first = w.Node({"LOOSE", "FIRST.BLP"});
  EXPECT_EQ(w.form.VirtualStringTreeView->currentIndex(), first);
  EXPECT_TRUE(w.form.VirtualStringTreeView->isExpanded(first.parent()));
  EXPECT_EQ(w.form.StatusText(0), "type 1, comp 3, a_bits 8, a_type 8, mips 1, 10 x 6");
  EXPECT_EQ(ViewBox->Strip()->Source().toStdString(), (world.root() / "Loose/First.blp").string());

  // Esc in the tree ends the filter as in the line: whole tree, line hidden, keyboard in the tree.
  ASSERT_TRUE(w.Activate());
  TFilterLine& line = *w.form.FilterLine();
  line.Open();
  QTest::keyClicks(&line, "second");
  ASSERT_TRUE(w.form.VirtualStringTree->Filtered());
  QTest::keyClick(&line, Qt::Key_Down);
  ASSERT_EQ(QApplication::focusWidget(), w.form.VirtualStringTreeView);
  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_Escape);
  EXPECT_FALSE(w.form.VirtualStringTree->Filtered()) << "Esc in the tree left the filter on";
  EXPECT_FALSE(line.isVisible());
  EXPECT_TRUE(w.Node({"LOOSE", "FIRST.BLP"}).isValid());
  EXPECT_EQ(QApplication::focusWidget(), w.form.VirtualStringTreeView);
}

TEST(MenuBar, saving_names_the_level_says_what_it_did_and_remembers_its_folder_and_hints_give_the_real_case) {
  TMenuWorld world;
  world.Registry();
  world.List();
  const fs::path out = world.root() / "saved";
  fs::create_directories(out);
  {
    TWindow w;
    // The tree's hint: the path as the listfile spells it, and the archive that supplies it.
    const QModelIndex map01 = w.Node({"TEXTURES", "MINIMAP", "MAP01.BLP"});
    ASSERT_TRUE(map01.isValid());
    EXPECT_EQ(w.form.VirtualStringTree->data(map01, Qt::ToolTipRole).toString(),
              "Textures\\Minimap\\Map01.blp\nin C:\\Games\\WoW\\Data\\patch.MPQ");
    EXPECT_FALSE(w.form.VirtualStringTree->data(map01.parent(), Qt::ToolTipRole).isValid()) << "a folder has a hint";

    w.Select({"TEXTURES", "MINIMAP", "MAP01.BLP"});
    EXPECT_EQ(ViewBox->Strip()->Source(), "Textures\\Minimap\\Map01.blp in C:\\Games\\WoW\\Data\\patch.MPQ");
    TExportActions& actions = *w.form.ExportActions();
    QStringList suggested;
    actions.chooseSaveFile = [&](const QString& s) {
      suggested << s;
      return QString::fromStdString((out / QFileInfo(s).fileName().toStdString()).string());
    };
    struct TRow {
      int level;
      const char* name;
      const char* message;
    } rows[] = {{2, "Map01.mip2.png", "Saved Map01.mip2.png (3 x 2)"}, {0, "Map01.png", "Saved Map01.png (12 x 8)"}};
    for (const TRow& row : rows) {
      SCOPED_TRACE(row.name);
      w.form.ViewControls()->SetLevel(row.level);
      actions.SaveShownLevel();
      ASSERT_FALSE(suggested.isEmpty());
      EXPECT_EQ(QFileInfo(suggested.back()).fileName().toStdString(), row.name);
      EXPECT_TRUE(fs::exists(out / row.name));
      EXPECT_EQ(ViewBox->Strip()->Message().toStdString(), row.message);
    }
    // The second dialog opened where the first saved.
    EXPECT_EQ(QFileInfo(suggested.back()).absolutePath().toStdString(), out.string());
    actions.CopyShownLevel();
    EXPECT_EQ(ViewBox->Strip()->Message(), "Copied Map01.blp (12 x 8)");
    // The message goes after a few seconds; the source line comes back.
    EXPECT_TRUE(WaitFor([] { return ViewBox->Strip()->Message().isEmpty(); }, TViewStrip::kMessageMs + 2000));
  }
  // The next start's dialog opens there too.
  TWindow again;
  again.Select({"TEXTURES", "MINIMAP", "MAP01.BLP"});
  QString suggested;
  again.form.ExportActions()->chooseSaveFile = [&](const QString& s) {
    suggested = s;
    return QString();
  };
  again.form.ExportActions()->SaveShownLevel();
  EXPECT_EQ(QFileInfo(suggested).absolutePath().toStdString(), out.string());
}

TEST(RecentList, newest_first_without_repeats_at_most_eight_and_kept_in_the_settings) {
  test::TScratchWorld world;
  using K = TRecentEntry::TKind;
  TRecentList list;
  for (int i = 0; i < 10; ++i) list.Add({K::kGameFolder, {QStringLiteral("/games/%1").arg(i)}});
  ASSERT_EQ(list.Entries().size(), TRecentList::kMaxEntries) << "more than eight kept";
  EXPECT_EQ(list.Entries().front().paths.front(), "/games/9");
  EXPECT_EQ(list.Entries().back().paths.front(), "/games/2") << "the oldest are not the ones dropped";
  list.Add({K::kGameFolder, {"/games/5"}});
  EXPECT_EQ(list.Entries().front().paths.front(), "/games/5");
  EXPECT_EQ(list.Entries().size(), TRecentList::kMaxEntries) << "a repeat was added twice";
  list.Add({K::kArchives, {}});
  EXPECT_EQ(list.Entries().front().paths.front(), "/games/5") << "an entry without paths was added";
  list.Add({K::kArchives, {"/a/common.MPQ", "/a/patch&1.MPQ"}});
  list.Add({K::kBlpFiles, {"/t/a.blp", "/t/b.blp", "/t/c.blp", "/t/d.blp", "/t/e.blp"}});
  list.Save();

  const TRecentList loaded = TRecentList::Load();
  EXPECT_EQ(loaded.Entries(), list.Entries()) << "the settings did not keep the list";
  struct TRow {
    TRecentEntry entry;
    const char* text;
  } rows[] = {{{K::kGameFolder, {"/games/wow"}}, "Game folder /games/wow"},
              {{K::kArchives, {"/a/common.MPQ", "/a/patch&1.MPQ"}}, "Archives common.MPQ, patch&&1.MPQ"},
              {{K::kBlpFiles, {"/t/a.blp", "/t/b.blp", "/t/c.blp", "/t/d.blp", "/t/e.blp"}}, "a.blp, b.blp, c.blp and 2 more"},
              {{K::kBlpFiles, {"/t/bell\a.blp"}}, "bell\\x07.blp"}};
  for (const TRow& row : rows) EXPECT_EQ(RecentEntryText(row.entry).toStdString(), row.text);
}

TEST(ScreenPlace, a_remembered_window_larger_than_its_screen_or_off_it_comes_back_onto_it) {
  const QRect screen(0, 0, 1280, 1024);
  struct TRow {
    const char* name;
    QRect frame;
    QRect placed;
  } rows[] = {{"inside_stays", {100, 100, 600, 600}, {100, 100, 600, 600}},
              {"larger_than_the_screen_shrinks_to_it", {-50, -20, 2000, 1500}, {0, 0, 1280, 1024}},
              {"wider_only_keeps_its_height", {300, 200, 1400, 500}, {0, 200, 1280, 500}},
              {"off_to_the_right_moves_back", {3000, 100, 600, 500}, {680, 100, 600, 500}},
              {"above_the_top_moves_down", {10, -400, 600, 500}, {10, 0, 600, 500}},
              {"half_below_moves_up", {10, 800, 600, 500}, {10, 524, 600, 500}}};
  for (const TRow& row : rows) EXPECT_EQ(PlaceOnScreen(row.frame, screen), row.placed) << row.name;
  EXPECT_EQ(PlaceOnScreen({5000, 5000, 300, 200}, {1280, 0, 1920, 1080}), QRect(2900, 880, 300, 200))
      << "a second screen's area";

  // A window remembered from a larger screen opens within this one.
  test::TScratchWorld world;
  QByteArray geometry;
  {
    TForm1 large;
    large.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&large));
    large.setGeometry(QRect(QPoint(900, 700), QSize(2400, 1900)));
    QApplication::processEvents();
  }
  TForm1 again;
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  QApplication::processEvents();
  const QRect available = again.screen()->availableGeometry();
  EXPECT_TRUE(available.contains(again.frameGeometry()))
      << again.frameGeometry().x() << "," << again.frameGeometry().y() << " " << again.frameGeometry().width() << " x "
      << again.frameGeometry().height() << " is not within the screen";
}

}  // namespace
}  // namespace velmora
