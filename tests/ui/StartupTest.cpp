// What the window adds to its start-up and its use: the notice that says what was looked for and
// where, the client's own archive order without a list, the command line's --game, --list,
// archives and BLP files, files dropped on the window, and getting a texture out (Ctrl+S,
// Ctrl+Shift+S, Ctrl+C, the tree's menus, the export dialog of Ctrl+E).
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "BlpReference.h"
#include "archive/SandboxSupport.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "blp/LevelPixels.h"
#include "host/HostPath.h"
#include "log/LogHandler.h"
#include "render/View.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"
#include "ui/ExportActions.h"
#include "ui/ExportDialog.h"
#include "ui/FilterLine.h"
#include "ui/ScrollBox.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "WindowWorld.h"

extern char** environ;

namespace fs = std::filesystem;

namespace velmora {
namespace {

using test::BlpFile;
using test::MpqMember;

BlpFile Texture(int v) { return test::RandomBlp(2, 8, 7, 12, 8, 1, static_cast<std::uint32_t>(v)); }
std::string Blp(int v) { return test::WriteBlp(Texture(v)); }

// A game under Wine at C:\Games\WoW (archives common.MPQ, patch.MPQ, enUS\locale-enUS.MPQ).
class TWorld : public test::TScratchWorld {
public:
  TWorld() {
    Archive("Data/common.MPQ", {{"Textures\\Minimap\\map01.blp", Blp(1)}, {"Interface\\Icons\\icon.blp", Blp(2)}});
    Archive("Data/patch.MPQ", {{"Textures\\Minimap\\map01.blp", Blp(3)}});
    Archive("Data/enUS/locale-enUS.MPQ", {{"Interface\\Glues\\logo.blp", Blp(4)}});
    Hive(std::string(test::kInstallValue));
  }
  // Archives go to the game folder; the registry key comes before `values`.
  void Archive(const std::string& rel, const std::vector<MpqMember>& members) const {
    test::TScratchWorld::Archive(game() / rel, members);
  }
  void Hive(const std::string& values) const { test::TScratchWorld::Hive(std::string(test::kWowKey) + values); }
  void List(const std::string& text, const std::string& name = "mpqToLoad.txt") const { MpqToLoad(text, name); }
  std::vector<std::string> Log() const { return LogMessages(); }
};

using test::WaitFor;

// A window with the command line's options, shown and loaded.
struct TWindow {
  explicit TWindow(const TStartupOptions& options = {}) {
    form.SetStartupOptions(options);
    form.show();
    EXPECT_TRUE(WaitFor([this] { return form.LoadingFinished(); }));
    QApplication::processEvents();
  }
  std::string Notice() const { return ViewBox ? ViewBox->Notice().toStdString() : std::string(); }
  // The node at the upper-case names `path`, or an invalid index.
  QModelIndex Node(const QStringList& path) const { return NodeIn(form, path); }
  static QModelIndex NodeIn(const TForm1& form, const QStringList& path) {
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
  std::vector<std::string> OpenedArchives(const std::vector<std::string>& names) const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < names.size() && i < MpqList->Count(); ++i) {
      out.push_back(names[i] + " opened, handle " + std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>((*MpqList)[i]))));
    }
    return out;
  }
  test::TMessageBoxWatcher boxes;
  TForm1 form;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Startup, an_empty_start_says_what_was_looked_for_and_where) {
  struct Row {
    const char* name;
    std::function<void(TWorld&)> setup;
    std::function<std::vector<std::string>(const TWorld&)> inNotice;  // empty: no notice
    std::function<std::vector<std::string>(const TWorld&)> log;       // null: not checked
  };
  const Row rows[] = {
      {"no_registry_key_names_the_system_reg",
       [](TWorld& w) { ::setenv("WINEPREFIX", (w.root() / "absent").c_str(), 1); },
       [](const TWorld& w) { return std::vector<std::string>{"No game found", (w.root() / "absent/system.reg").string(), "--game DIR"}; },
       [](const TWorld&) { return std::vector<std::string>{"World of Warcraft registry key not found"}; }},
      {"missing_installation_directory_named_and_logged",
       [](TWorld& w) {
         w.Hive("\"InstallPath\"=\"C:\\\\Nowhere\\\\\"\n");
         w.List("Data\\common.MPQ\n");
       },
       [](const TWorld& w) { return std::vector<std::string>{"C:\\Nowhere\\ does not exist", "Nowhere", (w.prefix() / "system.reg").string()}; },
       [](const TWorld& w) {
         return std::vector<std::string>{"Installation directory C:\\Nowhere\\ not found (" +
                                         MapWindowsPath("C:\\Nowhere\\", w.prefix().string()) + ")"};
       }},
      {"no_list_and_no_game_folder",
       [](TWorld& w) { w.Hive(""); },
       [](const TWorld& w) { return std::vector<std::string>{"No archive list", (w.work() / "mpqToLoad.txt").string(), "--list FILE"}; },
       [](const TWorld&) { return std::vector<std::string>{"mpqToLoad.txt not found"}; }},
      {"no_archive_opened",
       [](TWorld& w) { w.List("Data\\missing.MPQ\n"); },
       [](const TWorld& w) { return std::vector<std::string>{"No archive opened", (w.work() / "mpqToLoad.txt").string(), "C:\\Games\\WoW\\"}; },
       [](const TWorld&) { return std::vector<std::string>{}; }},
      {"shader_files_missing_name_their_folder",
       [](TWorld& w) {
         w.List("Data\\common.MPQ\n");
         fs::remove_all(w.work() / "shader");
       },
       [](const TWorld& w) { return std::vector<std::string>{"shader/vertex.glsl and shader/fragment.glsl", (w.work() / "shader").string()}; },
       nullptr},
      {"a_start_that_loads_says_nothing", [](TWorld& w) { w.List("Data\\common.MPQ\n"); }, nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TWorld world;
    row.setup(world);
    TWindow w;
    const std::string notice = w.Notice();
    if (!row.inNotice) {
      EXPECT_EQ(notice, "");
    } else {
      for (const std::string& part : row.inNotice(world)) EXPECT_TRUE(Has(notice, part)) << part << " not in:\n" << notice;
      // Where to read more, where the log is.
      EXPECT_TRUE(Has(notice, "the manual page (man VelmoraGL)")) << notice;
      EXPECT_TRUE(Has(notice, LogFileName)) << notice;
    }
    if (row.log) EXPECT_EQ(world.Log(), row.log(world));
    EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
  }
}

TEST(Startup, without_a_list_the_game_folder_loads_in_the_clients_order) {
  TWorld world;
  world.Archive("Data/patch-4.MPQ", {{"Textures\\Minimap\\map01.blp", Blp(5)}});
  world.Archive("Data/enUS/patch-enUS.MPQ", {{"Interface\\Glues\\logo.blp", Blp(6)}});
  fs::create_directories(world.game() / "Data/xxYY");  // a second locale folder without its archives
  TWindow w;
  const std::vector<std::string> order = {"Data\\common.MPQ", "Data\\enUS\\locale-enUS.MPQ", "Data\\patch.MPQ",
                                          "Data\\enUS\\patch-enUS.MPQ", "Data\\patch-4.MPQ"};
  ASSERT_EQ(MpqList->Count(), order.size());
  std::vector<std::string> log = {"mpqToLoad.txt not found",
                                  "Archives in the client's own order from " +
                                      MapWindowsPath("C:\\Games\\WoW\\", world.prefix().string()) + ", locale enUS"};
  for (const std::string& line : w.OpenedArchives(order)) log.push_back(line);
  EXPECT_EQ(world.Log(), log);
  EXPECT_EQ(FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP")->mpqh, (*MpqList)[4]) << "the further patch does not win";
  EXPECT_EQ(w.Notice(), "");
}

// The headless export covers --list and named archives (tests/cli); they share the window's plan.
TEST(Startup, the_command_line_names_the_game_and_blp_files) {
  TWorld world;
  // --game: no registry at all; the list lines continue the named folder.
  {
    ::setenv("WINEPREFIX", (world.root() / "absent").c_str(), 1);
    world.List("Data\\common.MPQ\n");
    TStartupOptions o;
    o.gameDir = world.game().string();
    TWindow w(o);
    EXPECT_EQ(MpqList->Count(), 1u);
    EXPECT_TRUE(w.Node({"INTERFACE", "ICONS", "ICON.BLP"}).isValid());
    ::setenv("WINEPREFIX", world.prefix().c_str(), 1);
  }
  // BLP files named: under their folder's name, shown when selected, nothing else loaded.
  {
    fs::create_directories(world.root() / "loose");
    const BlpFile file = Texture(9);
    std::ofstream(world.root() / "loose/Mine.blp", std::ios::binary) << test::WriteBlp(file);
    TStartupOptions o;
    o.blpFiles = {(world.root() / "loose/Mine.blp").string()};
    TWindow w(o);
    EXPECT_EQ(MpqList->Count(), 0u);
    const QModelIndex node = w.Node({"LOOSE", "MINE.BLP"});
    ASSERT_TRUE(node.isValid());
    EXPECT_EQ(w.form.VirtualStringTree->NodeCount(), 2u);
    w.form.VirtualStringTreeView->setCurrentIndex(node);
    ASSERT_TRUE(CurrentTexture);
    EXPECT_EQ(CurrentTexture->width, 12);
    EXPECT_EQ(CurrentTexture->Levels().levels.size(), file.levels.size());
    EXPECT_EQ(w.form.StatusText(0), "type 1, comp 2, a_bits 8, a_type 7, mips 1, 12 x 8");
    EXPECT_EQ(w.Notice(), "");
  }
}

// A drag of these files, as a file manager offers it.
QMimeData* Urls(const std::vector<fs::path>& files) {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const fs::path& f : files) urls << QUrl::fromLocalFile(QString::fromStdString(f.string()));
  mime->setUrls(urls);
  return mime;
}

TEST(WindowDrop, dropped_archives_and_blp_files_open_as_named_on_the_command_line) {
  TWorld world;
  world.List("Data\\common.MPQ\n");
  TWindow w;
  ASSERT_EQ(MpqList->Count(), 1u);
  std::ofstream(world.root() / "dropped.blp", std::ios::binary) << Blp(7);
  std::ofstream(world.root() / "notes.txt") << "x";

  const std::unique_ptr<QMimeData> text(Urls({world.root() / "notes.txt"}));
  QDragEnterEvent refused(QPoint(300, 100), Qt::CopyAction, text.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w.form, &refused);
  EXPECT_FALSE(refused.isAccepted()) << "a text file was accepted";

  const std::unique_ptr<QMimeData> files(Urls({world.game() / "Data/patch.MPQ", world.root() / "dropped.blp"}));
  QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, files.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w.form, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(300, 100), Qt::CopyAction, files.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w.form, &drop);
  ASSERT_TRUE(WaitFor([] { return MpqList->Count() == 2; }, 5000));
  QApplication::processEvents();
  EXPECT_EQ(FileIndex->Find("TEXTURES\\MINIMAP\\MAP01.BLP")->mpqh, (*MpqList)[1]) << "the dropped archive does not override";
  const std::string tmpName = UpperAscii(world.root().filename().string());
  EXPECT_TRUE(w.Node({QString::fromStdString(tmpName), "DROPPED.BLP"}).isValid());
  EXPECT_EQ(world.Log().back(), (world.game() / "Data/patch.MPQ").string() + " opened, handle " +
                                    std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>((*MpqList)[1]))));
}

test::RgbaImage AsImage(const blp::TRgbaPixels& p) {
  test::RgbaImage img;
  img.width = static_cast<int>(p.width);
  img.height = static_cast<int>(p.height);
  img.pixels = p.bytes;
  return img;
}

TEST(WindowExport, save_copy_and_folder_export_write_the_exactly_decoded_levels) {
  TWorld world;
  world.List("Data\\common.MPQ\nData\\patch.MPQ\n");
  TWindow w;
  auto* actions = w.form.findChild<TExportActions*>();
  ASSERT_NE(actions, nullptr);
  const fs::path out = world.root() / "saved";
  fs::create_directories(out);
  QString suggested;
  actions->chooseSaveFile = [&](const QString& s) {
    suggested = s;
    return QString::fromStdString((out / "shown.png").string());
  };
  actions->chooseFolder = [&] { return QString::fromStdString((out / "folder").string()); };

  const QModelIndex map01 = w.Node({"TEXTURES", "MINIMAP", "MAP01.BLP"});
  ASSERT_TRUE(map01.isValid());
  w.form.VirtualStringTreeView->setCurrentIndex(map01);
  ASSERT_TRUE(CurrentTexture);
  const BlpFile patched = Texture(3);
  auto expected = [&](std::size_t level) {
    const std::uint32_t lw = std::max(12u >> level, 1u), lh = std::max(8u >> level, 1u);
    return test::ExpectedLevel(patched, patched.levels[level], lw, lh, test::DxtRules::Hardware);
  };

  w.form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form));
  w.form.VirtualStringTreeView->setFocus();
  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(suggested.endsWith("/map01.png")) << suggested.toStdString();
  EXPECT_TRUE(test::PixelsMatch(expected(0), test::LoadPng(out / "shown.png")));

  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  for (std::size_t i = 0; i < patched.levels.size(); ++i) {
    const fs::path file = out / (i == 0 ? std::string("shown.png") : "shown.mip" + std::to_string(i) + ".png");
    EXPECT_TRUE(test::PixelsMatch(expected(i), test::LoadPng(file))) << file;
  }

  QGuiApplication::clipboard()->clear();
  QTest::keyClick(w.form.VirtualStringTreeView, Qt::Key_C, Qt::ControlModifier);
  QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGBA8888);
  test::RgbaImage clip;
  clip.width = copied.width();
  clip.height = copied.height();
  for (int y = 0; y < clip.height; ++y) clip.pixels.insert(clip.pixels.end(), copied.constScanLine(y), copied.constScanLine(y) + clip.width * 4);
  EXPECT_TRUE(test::PixelsMatch(expected(0), clip)) << "the clipboard does not hold the shown level";
  EXPECT_TRUE(test::PixelsMatch(AsImage(ShownLevelPixels(0)), clip));

  // The tree's menu on a folder runs the export of every file below it.
  QMenu menu;
  actions->FillTreeMenu(menu, TTreeModel::NodeOf(w.Node({"TEXTURES"})));
  ASSERT_EQ(menu.actions().size(), 2);
  EXPECT_EQ(menu.actions()[0]->text(), QString::fromUtf8("Export\u2026"));
  EXPECT_EQ(menu.actions()[1]->text(), QString::fromUtf8("Export folder as PNG\u2026"));
  menu.actions()[1]->trigger();
  EXPECT_TRUE(test::PixelsMatch(expected(0), test::LoadPng(out / "folder/Textures/Minimap/map01.png")));
  ASSERT_EQ(w.boxes.texts.size(), 1);
  EXPECT_EQ(w.boxes.texts[0].toStdString(),
            "1 files written, 0 failed, 0 skipped (already there) in " + (out / "folder").string() + ".");
  QMenu fileMenu;
  actions->FillTreeMenu(fileMenu, TTreeModel::NodeOf(map01));
  for (QAction* a : fileMenu.actions()) EXPECT_FALSE(a->objectName().startsWith("ExportFolder")) << "a file offers the folder export";
}

// Answers the window's modal dialogs as a person would: the export dialog through `onDialog`
// (then cleared), message boxes by keeping their text and pressing "Open folder" or closing.
struct TDialogAnswers {
  TDialogAnswers() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible()) continue;
        if (auto* dialog = qobject_cast<TExportDialog*>(w); dialog && onDialog) {
          const auto answer = std::move(onDialog);
          onDialog = nullptr;
          answer(*dialog);
        } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
          texts.push_back(box->text().toStdString());
          auto* open = box->findChild<QPushButton*>("OpenFolder");
          if (open != nullptr && openFolder) {
            open->click();
          } else {
            box->done(0);
          }
        }
      }
    });
    timer.start();
  }
  std::function<void(TExportDialog&)> onDialog;
  bool openFolder = false;
  std::vector<std::string> texts;
  QTimer timer;
};

template <class T>
T* Child(QWidget& w, const char* name) {
  T* c = w.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(c, nullptr) << name;
  return c;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Concatenated(const BlpFile& f) {
  std::string all;
  for (const std::string& level : f.levels) all += level;
  return all;
}

TEST(WindowExport, the_export_dialog_writes_what_the_filter_shows_the_selected_file_and_remembers_its_choices) {
  TWorld world;
  world.List("Data\\common.MPQ\nData\\patch.MPQ\n");
  TForm1 form;
  form.show();
  ASSERT_TRUE(WaitFor([&] { return form.LoadingFinished(); }));
  TDialogAnswers answers;
  auto* actions = form.findChild<TExportActions*>();
  ASSERT_NE(actions, nullptr);
  std::vector<QString> opened;
  actions->openFolder = [&](const QString& dir) { opened.push_back(dir); };
  const fs::path out = world.root() / "exported";
  const QString outText = QString::fromStdString(out.string());
  // Window shortcuts need the window active, which a closed dialog may leave to no window.
  auto pressCtrlE = [&] {
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    form.VirtualStringTreeView->setFocus();
    QTest::keyClick(form.VirtualStringTreeView, Qt::Key_E, Qt::ControlModifier);
    EXPECT_FALSE(answers.onDialog) << "Ctrl+E opened no export dialog";
  };

  // Everything the filter shows, as DDS, the folder opened afterwards.
  form.FilterLine()->Open();
  form.FilterLine()->setText("icon");
  ASSERT_EQ(form.FilterLine()->Matches(), 1u);
  answers.openFolder = true;
  answers.onDialog = [&](TExportDialog& d) {
    EXPECT_TRUE(Child<QRadioButton>(d, "ScopeShown")->text().contains("1 files"));
    Child<QRadioButton>(d, "ScopeShown")->setChecked(true);
    Child<QComboBox>(d, "Format")->setCurrentIndex(1);
    EXPECT_FALSE(Child<QCheckBox>(d, "Mips")->isEnabled()) << "mips offered for DDS";
    Child<QLineEdit>(d, "Folder")->setText(outText);
    Child<QPushButton>(d, "ExportButton")->click();
  };
  pressCtrlE();
  EXPECT_EQ(ReadAll(out / "Interface/Icons/icon.dds").substr(128), Concatenated(Texture(2)))
      << "DDS levels are not the stored blocks";
  EXPECT_FALSE(fs::exists(out / "Textures")) << "a file the filter hides was exported";
  ASSERT_EQ(answers.texts.size(), 1u);
  EXPECT_EQ(answers.texts[0], "1 files written, 0 failed, 0 skipped (already there) in " + out.string() + ".");
  EXPECT_EQ(opened, std::vector<QString>{outText}) << "Open folder did not open the output folder";
  form.FilterLine()->Close();

  // The selected file as PNG with its levels, into the remembered folder; a second time, skipped.
  answers.openFolder = false;
  const QModelIndex map01 = TWindow::NodeIn(form, {"TEXTURES", "MINIMAP", "MAP01.BLP"});
  ASSERT_TRUE(map01.isValid());
  form.VirtualStringTreeView->setCurrentIndex(map01);
  const BlpFile patched = Texture(3);
  int rememberedFormat = 1;  // DDS from the run before, then PNG
  for (const char* expectedSummary : {"4 files written, 0 failed, 0 skipped (already there) in ",
                                      "0 files written, 0 failed, 4 skipped (already there) in "}) {
    SCOPED_TRACE(expectedSummary);
    answers.onDialog = [&](TExportDialog& d) {
      EXPECT_EQ(Child<QLineEdit>(d, "Folder")->text(), outText) << "the output folder was not remembered";
      EXPECT_EQ(Child<QComboBox>(d, "Format")->currentIndex(), rememberedFormat) << "the format was not remembered";
      rememberedFormat = 0;
      EXPECT_TRUE(Child<QRadioButton>(d, "ScopeFile")->isChecked()) << "the selected file is not the choice";
      EXPECT_TRUE(Child<QRadioButton>(d, "Skip")->isChecked());
      Child<QComboBox>(d, "Format")->setCurrentIndex(0);
      Child<QCheckBox>(d, "Mips")->setChecked(true);
      Child<QPushButton>(d, "ExportButton")->click();
    };
    pressCtrlE();
    ASSERT_FALSE(answers.texts.empty());
    EXPECT_EQ(answers.texts.back(), expectedSummary + out.string() + ".");
    EXPECT_TRUE(test::PixelsMatch(test::ExpectedLevel(patched, patched.levels[3], 1, 1, test::DxtRules::Hardware),
                                  test::LoadPng(out / "Textures/Minimap/map01.mip3.png")));
  }
  EXPECT_EQ(opened.size(), 1u);

  // The file's menu saves it as DDS under the chosen name; the folder's menu opens the dialog on
  // that folder.
  QString suggested;
  actions->chooseSaveFile = [&](const QString& s) {
    suggested = s;
    return QString::fromStdString((out / "saved.dds").string());
  };
  QMenu fileMenu;
  actions->FillTreeMenu(fileMenu, TTreeModel::NodeOf(map01));
  QAction* saveDds = fileMenu.findChild<QAction*>("SaveAsDds");
  ASSERT_NE(saveDds, nullptr);
  saveDds->trigger();
  EXPECT_TRUE(suggested.endsWith("/map01.dds")) << suggested.toStdString();
  EXPECT_EQ(ReadAll(out / "saved.dds").substr(128), Concatenated(patched));
  QMenu folderMenu;
  actions->FillTreeMenu(folderMenu, TTreeModel::NodeOf(TWindow::NodeIn(form, {"INTERFACE"})));
  bool folderChosen = false;
  answers.onDialog = [&](TExportDialog& d) {
    folderChosen = Child<QRadioButton>(d, "ScopeFolder")->isChecked() &&
                   Child<QRadioButton>(d, "ScopeFolder")->text().contains("INTERFACE");
    d.reject();
  };
  ASSERT_NE(folderMenu.findChild<QAction*>("ExportFolderDialog"), nullptr);
  folderMenu.findChild<QAction*>("ExportFolderDialog")->trigger();
  EXPECT_TRUE(folderChosen) << "the folder's Export\u2026 did not offer that folder";
}

namespace reader_stops {

struct TRun {
  int status = -1;
  std::string err;
};

// The program at `program`, in `cwd`, without a display; stderr kept.
TRun Run(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> all{program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("DISPLAY=", 0) != 0) env.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  int errPipe[2];
  EXPECT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);
  TRun run;
  EXPECT_EQ(rc, 0) << "cannot start " << program;
  char buf[4096];
  for (ssize_t n; (n = ::read(errPipe[0], buf, sizeof buf)) > 0;) run.err.append(buf, static_cast<std::size_t>(n));
  ::close(errPipe[0]);
  int status = 0;
  if (rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace reader_stops

// The archive reader stopped by a crash, by memory, by a missed deadline or by its sandbox for a
// forbidden call, while an archive opens, while its file list is read and while a file is read,
// through the test reader, in the window and in the export without one. The archive (or the one file) is named with the reason in
// the log, in the notice, on stderr with exit status 1 although every other matched file was
// written; the reader's stderr goes to the log, not to the terminal; everything else loads.
TEST(ReaderStops, every_stage_and_fault_is_said_and_costs_only_the_culprit_in_both_modes) {
  struct Row {
    const char* name;
    const char* stage;  // "open", "list", "read"
    const char* fault;  // the test reader's name for it
    const char* reason;
  };
  std::vector<Row> rows = {
      {"crash_at_open", "open", "crash", "crash"},    {"memory_at_open", "open", "memory", "memory"},
      {"time_out_at_open", "open", "hang", "time-out"}, {"crash_at_list", "list", "crash", "crash"},
      {"memory_at_list", "list", "memory", "memory"}, {"time_out_at_list", "list", "hang", "time-out"},
      {"crash_at_read", "read", "crash", "crash"},    {"memory_at_read", "read", "memory", "memory"},
      {"time_out_at_read", "read", "hang", "time-out"},
  };
  // A call the reader's sandbox forbids, as an exploit would make, where the kernel filters calls.
  if (ProbeSandbox().seccomp) {
    rows.push_back({"sandbox_violation_at_open", "open", "sandbox", "sandbox violation"});
    rows.push_back({"sandbox_violation_at_list", "list", "sandbox", "sandbox violation"});
    rows.push_back({"sandbox_violation_at_read", "read", "sandbox", "sandbox violation"});
  } else {
    std::printf("sandbox violation rows skipped: the kernel offers no seccomp filter\n");
  }
  TWorld world;
  auto archiveOf = [](const Row& row) {
    return std::string(row.stage) == "open" ? std::string("velmora-fault-") + row.fault + ".MPQ"
                                            : std::string("velmora-fault-list-") + row.fault + ".MPQ";
  };
  auto memberOf = [](const Row& row) { return std::string("Tex\\velmora-fault-") + row.fault + ".blp"; };
  std::string list = "Data\\common.MPQ\r\n";
  std::vector<MpqMember> culprit{{"Tex\\fine.blp", Blp(8)}};
  for (const Row& row : rows) {
    if (std::string(row.stage) == "read") {
      culprit.push_back({memberOf(row), Blp(7)});
      continue;
    }
    world.Archive("Data/" + archiveOf(row), {{std::string("Tex\\") + row.name + ".blp", Blp(7)}});
    list += "Data\\" + archiveOf(row) + "\r\n";
    // The same for the export: common.MPQ, the culprit, patch.MPQ.
    world.List("Data\\common.MPQ\r\nData\\" + archiveOf(row) + "\r\nData\\patch.MPQ\r\n", std::string(row.name) + ".txt");
  }
  world.Archive("Data/culprit.MPQ", culprit);
  world.List(list + "Data\\culprit.MPQ\r\nData\\patch.MPQ\r\n");
  world.List("Data\\common.MPQ\r\nData\\culprit.MPQ\r\n", "read.txt");

  TArchiveReader& reader = TArchiveReader::Instance();
  reader.Stop();
  reader.SetProgram(VELMORA_FAULT_READER);
  reader.SetDeadlines({std::chrono::milliseconds(1500), std::chrono::milliseconds(1500), std::chrono::milliseconds(100)});
  {
    TWindow w;
    const std::string notice = w.Notice();
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string("window: ") + row.name);
      std::string log;
      for (const std::string& line : world.Log()) log += line + "\n";
      if (std::string(row.stage) != "read") {
        const std::string skipped = "Data\\" + archiveOf(row) + " skipped: the archive reader stopped (" + row.reason + ")";
        EXPECT_TRUE(Has(log, skipped + "\n")) << log;
        EXPECT_TRUE(Has(notice, skipped)) << notice;
        const std::string how = archiveOf(row) + ": the archive reader stopped (" + row.reason + ") while " +
                                (std::string(row.stage) == "open" ? "opening it" : "reading (listfile)");
        EXPECT_TRUE(Has(log, how)) << log;
        if (std::string(row.fault) == "crash") {
          EXPECT_TRUE(Has(log, how + "; it said: velmora-fault: crash on request")) << log;
        }
        EXPECT_FALSE(w.Node({"TEX", UpperAscii(std::string(row.name) + ".blp").c_str()}).isValid());
        continue;
      }
      const QModelIndex node = w.Node({"TEX", QString::fromStdString(UpperAscii(memberOf(row).substr(4)))});
      ASSERT_TRUE(node.isValid());
      w.form.VirtualStringTreeView->setCurrentIndex(node);
      EXPECT_TRUE(Has(ViewBox->Notice().toStdString(),
                      "reading " + memberOf(row) + " stopped the archive reader: " + row.reason))
          << ViewBox->Notice().toStdString();
      log.clear();
      for (const std::string& line : world.Log()) log += line + "\n";
      EXPECT_TRUE(Has(log, "culprit.MPQ: the archive reader stopped (" + std::string(row.reason) + ") while reading " +
                               memberOf(row)))
          << log;
      // The other files of that archive are read from it again.
      w.form.VirtualStringTreeView->setCurrentIndex(w.Node({"TEX", "FINE.BLP"}));
      ASSERT_TRUE(CurrentTexture);
      EXPECT_EQ(CurrentTexture->width, 12);
      EXPECT_EQ(ViewBox->Notice().toStdString(), "");
    }
    EXPECT_TRUE(w.Node({"TEXTURES", "MINIMAP", "MAP01.BLP"}).isValid());
    EXPECT_TRUE(w.boxes.texts.isEmpty()) << w.boxes.texts.join("; ").toStdString();
  }
  reader.Stop();
  reader.SetDeadlines({});
  reader.SetProgram(TArchiveReader::DefaultProgram());

  // The export without a window: a copy of the program with the test reader where it looks for
  // the reader.
  const fs::path program = world.root() / "bin/VelmoraGL";
  fs::create_directories(world.root() / "bin");
  fs::create_directories(world.root() / "libexec/velmora");
  fs::copy_file(VELMORA_PROGRAM, program);
  fs::copy_file(VELMORA_FAULT_READER, world.root() / "libexec/velmora/velmora-mpq-reader");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("headless: ") + row.name);
    const bool read = std::string(row.stage) == "read";
    const std::string out = std::string("out-") + row.name;
    const std::vector<std::string> args =
        read ? std::vector<std::string>{"--list", "read.txt", "--export", "TEX\\" + memberOf(row).substr(4), "Tex\\fine.blp",
                                        "--out", out}
             : std::vector<std::string>{"--list", std::string(row.name) + ".txt", "--export", "Textures\\Minimap\\*", "--out", out};
    const reader_stops::TRun run = reader_stops::Run(program, args, world.work());
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string said = read ? "VelmoraGL: " + memberOf(row) + ": the archive reader stopped (" + row.reason + ")\n"
                                  : "VelmoraGL: Data\\" + archiveOf(row) + ": skipped: the archive reader stopped (" +
                                        row.reason + ")\n";
    EXPECT_TRUE(Has(run.err, said)) << run.err;
    EXPECT_FALSE(Has(run.err, "velmora-fault: crash on request")) << "the reader's stderr reached the terminal";
    // Everything else matched was written.
    for (const char* written : read ? std::vector<const char*>{"Tex/fine.png"}
                                    : std::vector<const char*>{"Textures/Minimap/map01.png"}) {
      EXPECT_TRUE(fs::exists(world.work() / out / written)) << written;
    }
  }
}

// A reader that cannot be started is one failure of its own: one log line and the notice say
// where it was looked for and why it could not run, and no archive is logged as damaged for it.
TEST(ReaderStops, a_reader_that_cannot_start_is_said_once_and_blames_no_archive) {
  TWorld world;
  world.List("Data\\common.MPQ\r\nData\\patch.MPQ\r\nData\\enUS\\locale-enUS.MPQ\r\n");
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.Stop();
  const fs::path missing = world.root() / "nowhere/velmora-mpq-reader";
  reader.SetProgram(missing.string());
  std::vector<std::string> log;
  std::string notice;
  {
    TWindow w;
    log = world.Log();
    notice = w.Notice();
  }
  reader.Stop();
  reader.SetProgram(TArchiveReader::DefaultProgram());
  const std::string said = "The archive reader " + missing.string() + " cannot run: No such file or directory";
  ASSERT_EQ(log.size(), 1u) << log.front();
  EXPECT_EQ(log[0], said);
  EXPECT_TRUE(Has(notice, said)) << notice;
  EXPECT_TRUE(Has(notice, "No archive opened: the archive reader")) << notice;
  EXPECT_FALSE(Has(notice, "skipped")) << notice;
}

}  // namespace
}  // namespace velmora
