// The window's additions around the view: status panels that show their text whole with the
// system's fallback font, the view's context menu and the F1 list, and the settings remembered
// from one window to the next.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "log/LogHandler.h"
#include "support/TestData.h"
#include "ui/StatusPanels.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"

namespace fs = std::filesystem;

namespace velmora {
namespace {

// A working directory with the shader files, a log, and a settings folder of its own; no game
// (the loading logs that and stops).
class TWindowWorld {
public:
  TWindowWorld() {
    const fs::path source = std::getenv("VELMORA_SOURCE_DIR") ? std::getenv("VELMORA_SOURCE_DIR") : VELMORA_TEST_SOURCE_DIR;
    fs::create_directories(tmp_.path() / "work/shader");
    for (const char* name : {"vertex.glsl", "fragment.glsl"}) {
      fs::copy_file(source / "shader" / name, tmp_.path() / "work/shader" / name);
    }
    oldCwd_ = fs::current_path();
    fs::current_path(tmp_.path() / "work");
    ::setenv("WINEPREFIX", (tmp_.path() / "no-prefix").c_str(), 1);
    InitLogFilesAt((tmp_.path() / "exe").string(), std::time(nullptr));
    CreateLogLock();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Config());
  }
  ~TWindowWorld() {
    DestroyLogLock();
    fs::current_path(oldCwd_);
  }
  QString Config() const { return QString::fromStdString((tmp_.path() / "config").string()); }

private:
  test::TempDir tmp_;
  fs::path oldCwd_;
};

// The ink of a rendered text: where a pixel differs from the background, cropped to its extent.
QImage Ink(const QImage& image, const QRect& area, QRgb background) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
    }
  }
  return box.isEmpty() ? QImage() : image.copy(box);
}

TEST(ViewWindow, status_panels_show_their_texts_whole) {
  TWindowWorld world;
  TForm1 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  struct TRow {
    int panel;
    QString text;
  } rows[] = {{0, WidestHeaderText()},
              {0, "type 1, comp 2, a_bits 8, a_type 7, mips 1, 2048 x 2048"},
              {0, "Loading file list"},
              {1, "Data\\enUS\\patch-enUS-3.MPQ"},
              {1, "2047:1023"}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.text.toStdString());
    QLabel* panel = form.StatusPanel(row.panel);
    form.SetStatusText(row.panel, row.text);
    QApplication::processEvents();
    EXPECT_EQ(panel->size(), QSize(row.panel == 0 ? 300 : 200, 14)) << "the bar's layout changed";
    // The same text drawn by a label with room to spare: its ink must all be in the panel's.
    QLabel free(row.text);
    free.setFont(panel->font());
    free.setPalette(panel->palette());
    free.resize(900, 60);
    const QRgb background = panel->palette().color(QPalette::Window).rgb();
    const QImage shown = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage roomy = free.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int frame = panel->frameWidth();
    const QImage inkShown = Ink(shown, shown.rect().adjusted(frame, frame, -frame, -frame), background);
    const QImage inkFree = Ink(roomy, roomy.rect(), background);
    ASSERT_FALSE(inkFree.isNull());
    EXPECT_EQ(inkShown.size(), inkFree.size()) << "the panel cuts the text (the frame's rows are excluded)";
    EXPECT_TRUE(inkShown == inkFree) << "the panel draws the text otherwise";
  }
}

TEST(ViewWindow, context_menu_and_f1_list_every_action_with_its_shortcut_and_check_marks) {
  TWindowWorld world;
  TForm1 form;
  TViewControls& controls = *form.ViewControls();
  auto* extra = new QAction("Copy texel", &form);
  extra->setShortcut(QKeySequence("Ctrl+Shift+K"));
  form.addAction(extra);
  controls.AppendContextAction(extra);
  controls.SetBackground(TBackground::kBlack);
  controls.SetChannel(TChannel::kAlpha);

  QMenu* menu = controls.ContextMenu();
  QStringList checked;
  for (QAction* a : menu->actions()) {
    if (a->isChecked()) checked << a->objectName();
    if (a->menu() != nullptr) {
      for (QAction* b : a->menu()->actions()) {
        if (b->isChecked()) checked << b->objectName();
      }
    }
  }
  EXPECT_EQ(checked, QStringList({"ActualSize", "Background_black", "Channel_alpha"}));
  for (QAction* action : controls.Actions()) {
    if (action == nullptr) continue;
    EXPECT_TRUE(menu->actions().contains(action)) << action->text().toStdString() << " is not in the menu";
    EXPECT_FALSE(action->shortcut().isEmpty()) << action->text().toStdString() << " has no shortcut";
    EXPECT_EQ(action->shortcutContext(), Qt::WindowShortcut);
  }
  EXPECT_EQ(menu->actions().back(), extra) << "another part's action is not at the end";

  controls.ShowShortcuts();
  const auto* help = form.findChild<QDialog*>("ShortcutHelp");
  ASSERT_NE(help, nullptr);
  const auto* table = help->findChild<QTableWidget*>("ShortcutTable");
  QStringList listed;
  for (int row = 0; row < table->rowCount(); ++row) listed << table->item(row, 1)->text();
  QStringList expected;
  for (QAction* action : form.actions()) {
    QStringList keys;
    for (const QKeySequence& key : action->shortcuts()) keys << key.toString(QKeySequence::NativeText);
    if (!keys.isEmpty()) expected << keys.join(", ");
  }
  // Every shortcut of the window first, in the order the window holds them, then the mouse, Esc,
  // right-clicks and drops.
  ASSERT_GT(listed.size(), expected.size());
  EXPECT_EQ(listed.mid(0, expected.size()), expected);
  EXPECT_TRUE(listed.contains("Ctrl+B") && listed.contains("Ctrl+]") && listed.contains("F1") &&
              listed.contains("Ctrl+Shift+K") && listed.contains("Ctrl+Q") && listed.contains("Ctrl+O"))
      << listed.join(" | ").toStdString();
  const QStringList others = listed.mid(expected.size());
  for (const char* how : {"Ctrl+wheel", "Drag with the left or middle button", "Right-click on the view",
                          "Esc, in the filter line or the tree", "Drop them on the window"}) {
    EXPECT_TRUE(others.contains(how)) << how << " is not listed: " << others.join(" | ").toStdString();
  }
}

TEST(ViewWindow, size_place_splitter_and_background_are_remembered_and_every_start_shows_rgba) {
  TWindowWorld world;
  QByteArray geometry;
  QList<int> splitter;
  {
    TForm1 first;
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    // The client area below the menu bar.
    EXPECT_EQ(first.size(), QSize(588, 571 + first.MenuBar1->height())) << "the first start keeps the first-start size";
    first.resize(700, 620);
    first.move(first.pos() + QPoint(13, 7));
    first.Splitter1->setSizes({260, 440});
    first.ViewControls()->SetBackground(TBackground::kChecker);
    first.ViewControls()->SetChannel(TChannel::kGreen);
    QApplication::processEvents();
    geometry = first.saveGeometry();
    splitter = first.Splitter1->sizes();
  }
  const QSettings settings(QStringLiteral("VelmoraGL"), QStringLiteral("VelmoraGL"));
  EXPECT_TRUE(settings.fileName().startsWith(world.Config())) << settings.fileName().toStdString();

  TForm1 second;
  second.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
  EXPECT_EQ(second.saveGeometry(), geometry);
  EXPECT_EQ(second.size(), QSize(700, 620));
  EXPECT_EQ(second.Splitter1->sizes(), splitter);
  EXPECT_EQ(second.ViewControls()->State().background, TBackground::kChecker);
  EXPECT_EQ(second.ViewControls()->State().channel, TChannel::kRgba) << "a channel carried into the next start";
  EXPECT_EQ(second.ViewControls()->State().zoom, 1) << "zoom is not remembered";
}

}  // namespace
}  // namespace velmora
