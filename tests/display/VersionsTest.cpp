// The versions of a file on the real window: a game whose three archives hold one path, each its
// own texture under its own spelling. The info panel lists them in loading order with the supplier
// marked; choosing one, or stepping with Ctrl+Shift+Up and Ctrl+Shift+Down, shows its pixels and
// takes the readout, the info, save and copy with it; Compare shows exactly the texels that
// differ, or says that the sizes do. The panel tells the header and levels, marks short ones, and
// is open again at the next start when it was left open.
#include "render/View.h"  // first: the program's GL names before any Qt GL header

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#undef GL_ARB_texture_compression

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "DisplayWorld.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "ui/ExportActions.h"
#include "ui/FileVersions.h"
#include "ui/InfoPanel.h"
#include "ui/ScrollBox.h"
#include "ui/UnitMain.h"
#include "ui/TreeModel.h"
#include "ui/ViewStrip.h"

namespace velmora::test {
namespace {

// An opaque uncompressed texture of one colour.
BlpFile Solid(std::uint32_t w, std::uint32_t h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  BlpFile f;
  f.compression = 3;
  f.alphaBits = 8;
  f.hasMips = 0;
  f.withPalette = false;
  f.width = w;
  f.height = h;
  std::string level;
  for (std::uint32_t i = 0; i < w * h; ++i) level += {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r), '\xFF'};
  f.levels.push_back(level);
  return f;
}

RgbaImage SolidImage(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  RgbaImage out{w, h, {}};
  for (int i = 0; i < w * h; ++i) out.pixels.insert(out.pixels.end(), {r, g, b, 255});
  return out;
}

// A DXT1 texture and the same with the block at (8, 4) changed.
const BlpFile kBlocky = RandomBlp(2, 0, 0, 16, 8, 0, 41);
BlpFile BlockyChanged() {
  BlpFile f = kBlocky;
  for (std::size_t i = 6 * 8; i < 7 * 8; ++i) f.levels[0][i] = static_cast<char>(f.levels[0][i] ^ 0x3C);
  return f;
}

// Base, patch and patch-2, in that loading order. Map.blp is red, green and blue in turn, each
// archive spelling it its own way; blocky.blp changes one block in the patch; sized.blp shrinks
// in patch-2; only.blp is in the base alone.
class TVersionsWorld : public TScratchWorld {
public:
  TVersionsWorld() {
    Hive(std::string(kWowKey) + kInstallValue);
    Archive(game() / "Data/base.MPQ", {{"Textures\\Versions\\Map.blp", WriteBlp(Solid(16, 16, 255, 0, 0))},
                                       {"Textures\\Versions\\blocky.blp", WriteBlp(kBlocky)},
                                       {"Textures\\Versions\\sized.blp", WriteBlp(Solid(16, 16, 9, 9, 9))},
                                       {"Textures\\Versions\\only.blp", WriteBlp(Solid(4, 4, 1, 2, 3))}});
    Archive(game() / "Data/patch.MPQ", {{"TEXTURES\\VERSIONS\\MAP.BLP", WriteBlp(Solid(16, 16, 0, 255, 0))},
                                        {"Textures\\Versions\\blocky.blp", WriteBlp(BlockyChanged())}});
    Archive(game() / "Data/patch-2.MPQ", {{"textures\\versions\\map.blp", WriteBlp(Solid(16, 16, 0, 0, 255))},
                                          {"Textures\\Versions\\sized.blp", WriteBlp(Solid(8, 8, 9, 9, 9))}});
    MpqToLoad("Data\\base.MPQ\r\nData\\patch.MPQ\r\nData\\patch-2.MPQ\r\n");
  }
  static QString ArchiveName(const char* name) { return QStringLiteral("C:\\Games\\WoW\\Data\\") + name; }
};

class TWindow {
public:
  TWindow() : form(std::make_unique<TForm1>()) {}
  bool Start() {
    form->resize(1000, 700);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) return false;
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get())) return false;
    const bool loaded = WaitFor([this] { return form->LoadingFinished(); });
    Settle();
    return loaded;
  }
  TInfoPanel& panel() { return *form->InfoPanel(); }
  TFileVersions& versions() { return form->InfoPanel()->Versions(); }
  void Select(const char* name) { ClickNode(*form, QStringList{"TEXTURES", "VERSIONS", QString(name).toUpper()}); }
  void Keys(const QKeySequence& keys) {
    QTest::keySequence(form->VirtualStringTreeView, keys);
    QApplication::processEvents();
  }
  // A click on row `row` of the sources list, as a person chooses a version.
  void ClickSource(int row) {
    QListWidget* list = panel().SourceList();
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QApplication::processEvents();
  }
  QStringList SourceTexts() {
    QStringList out;
    for (int i = 0; i < panel().SourceList()->count(); ++i) out << panel().SourceList()->item(i)->text();
    return out;
  }

  TButtonFace face;
  TMessageBoxWatcher boxes;
  std::unique_ptr<TForm1> form;
};

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RgbaImage ClipboardImage() {
  const QImage image = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGBA8888);
  RgbaImage out{image.width(), image.height(), {}};
  for (int y = 0; y < image.height(); ++y) out.pixels.insert(out.pixels.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 4);
  return out;
}

TEST(Versions, sources_in_loading_order_choosing_one_shows_its_pixels_and_readout_info_and_copy_follow) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TVersionsWorld world;
  TWindow w;
  ASSERT_TRUE(w.Start());
  EXPECT_FALSE(w.panel().isVisible()) << "the panel opens at the first start";
  w.Keys(QKeySequence("Ctrl+I"));
  ASSERT_TRUE(w.panel().isVisible()) << "Ctrl+I did not open the panel";
  EXPECT_TRUE(w.panel().ToggleAction()->isChecked());
  EXPECT_GE(w.panel().width(), 120) << "the panel opened without room";

  w.Select("Map.blp");
  const QStringList sources = {TInfoPanel::SourceEntryText(TVersionsWorld::ArchiveName("base.MPQ"), false),
                               TInfoPanel::SourceEntryText(TVersionsWorld::ArchiveName("patch.MPQ"), false),
                               TInfoPanel::SourceEntryText(TVersionsWorld::ArchiveName("patch-2.MPQ"), true)};
  EXPECT_EQ(w.SourceTexts(), sources) << w.SourceTexts().join(" | ").toStdString();
  EXPECT_EQ(w.panel().SourceList()->currentRow(), 2) << "the supplier is not the version shown";
  EXPECT_TRUE(PanelShows(SolidImage(16, 16, 0, 0, 255)));
  EXPECT_EQ(w.panel().PathText(), "textures\\versions\\map.blp");

  struct TStep {
    const char* fault;
    std::function<void()> act;
    int shown;
    RgbaImage picture;
    const char* archive;
    const char* spelling;
  };
  const TStep steps[] = {
      {"choosing_the_first_version_shows_its_pixels", [&] { w.ClickSource(0); }, 0, SolidImage(16, 16, 255, 0, 0),
       "base.MPQ", "Textures\\Versions\\Map.blp"},
      {"ctrl_shift_down_steps_to_the_next", [&] { w.Keys(QKeySequence("Ctrl+Shift+Down")); }, 1,
       SolidImage(16, 16, 0, 255, 0), "patch.MPQ", "TEXTURES\\VERSIONS\\MAP.BLP"},
      {"ctrl_shift_up_steps_back", [&] { w.Keys(QKeySequence("Ctrl+Shift+Up")); }, 0, SolidImage(16, 16, 255, 0, 0),
       "base.MPQ", "Textures\\Versions\\Map.blp"},
      {"ctrl_shift_up_at_the_first_stays", [&] { w.Keys(QKeySequence("Ctrl+Shift+Up")); }, 0,
       SolidImage(16, 16, 255, 0, 0), "base.MPQ", "Textures\\Versions\\Map.blp"},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.fault);
    step.act();
    EXPECT_EQ(w.versions().Shown(), step.shown);
    EXPECT_EQ(w.panel().SourceList()->currentRow(), step.shown);
    EXPECT_TRUE(PanelShows(step.picture));
    const QString archive = TVersionsWorld::ArchiveName(step.archive);
    EXPECT_TRUE(ViewBox->Strip()->Source().endsWith(QStringLiteral(" in ") + archive))
        << "the readout names another archive: " << ViewBox->Strip()->Source().toStdString();
    EXPECT_EQ(w.panel().PathText().toStdString(), step.spelling) << "the info shows another version's spelling";
    EXPECT_EQ(w.panel().SizeText(), QStringLiteral("%1 bytes").arg(WriteBlp(Solid(16, 16, 0, 0, 0)).size()));
    // Copy takes the version shown.
    QApplication::clipboard()->clear();
    w.Keys(QKeySequence("Ctrl+C"));
    EXPECT_TRUE(PixelsMatch(step.picture, ClipboardImage())) << "copy took another version";
  }
  QApplication::clipboard()->clear();
  QTest::mouseClick(w.panel().CopyPathButton(), Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), "Textures\\Versions\\Map.blp");
  // The tree's "Save as raw file" of the file shown writes the version shown.
  const std::filesystem::path saved = world.root() / "saved.blp";
  w.form->ExportActions()->chooseSaveFile = [&](const QString&) { return QString::fromStdString(saved.string()); };
  w.form->ExportActions()->SaveFileAs(TTreeModel::NodeOf(FindNode(*w.form, {"TEXTURES", "VERSIONS", "MAP.BLP"})),
                                      blp::TExportFormat::kRaw);
  EXPECT_TRUE(ReadText(saved) == WriteBlp(Solid(16, 16, 255, 0, 0))) << "another version was saved";

  // A path one archive holds is its own supplier, and the version keys stay with it rather than
  // move the tree to another file; another file starts at its supplier again.
  w.Select("only.blp");
  EXPECT_EQ(w.SourceTexts(), QStringList{TInfoPanel::SourceEntryText(TVersionsWorld::ArchiveName("base.MPQ"), true)});
  for (const char* keys : {"Ctrl+Shift+Down", "Ctrl+Shift+Up"}) {
    SCOPED_TRACE(keys);
    w.Keys(QKeySequence(keys));
    EXPECT_EQ(w.versions().Path(), "Textures\\Versions\\only.blp") << "the keys moved the tree";
    EXPECT_TRUE(PanelShows(SolidImage(4, 4, 1, 2, 3)));
  }
  w.Select("Map.blp");
  EXPECT_EQ(w.versions().Shown(), 2);
  EXPECT_TRUE(PanelShows(SolidImage(16, 16, 0, 0, 255)));
}

TEST(Versions, compare_shows_exactly_the_block_that_differs_and_says_when_the_sizes_do) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  TVersionsWorld world;
  TWindow w;
  ASSERT_TRUE(w.Start());
  w.panel().SetOpen(true);
  w.Select("blocky.blp");
  const QString status = w.form->StatusText(0);
  QTest::mouseClick(w.panel().findChild<QToolButton*>("CompareButton"), Qt::LeftButton);
  ASSERT_TRUE(w.versions().Comparing());

  // Each texel grey at its largest channel difference, decoded by the format rules: black but for
  // the block at (8, 4).
  const BlpFile changed = BlockyChanged();
  const RgbaImage a = ExpectedLevel(changed, changed.levels[0], 16, 8, DxtRules::Hardware);
  const RgbaImage b = ExpectedLevel(kBlocky, kBlocky.levels[0], 16, 8, DxtRules::Hardware);
  RgbaImage diff{16, 8, {}};
  int changedTexels = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      int most = 0;
      for (int c = 0; c < 4; ++c) most = std::max(most, std::abs(a.At(x, y)[c] - b.At(x, y)[c]));
      const bool inBlock = x >= 8 && x < 12 && y >= 4;
      ASSERT_TRUE(inBlock || most == 0) << "the versions differ outside the block at " << x << ", " << y;
      changedTexels += most > 0 ? 1 : 0;
      const auto g = static_cast<std::uint8_t>(most);
      diff.pixels.insert(diff.pixels.end(), {g, g, g, 255});
    }
  }
  ASSERT_GT(changedTexels, 0) << "the changed block decodes as before";
  EXPECT_TRUE(PanelShows(diff));
  EXPECT_TRUE(ViewBox->Strip()->Readout().contains(QStringLiteral("difference from ") +
                                                  TVersionsWorld::ArchiveName("base.MPQ")))
      << ViewBox->Strip()->Readout().toStdString();
  EXPECT_EQ(w.form->StatusText(0), status) << "the status bar no longer names the version's header";
  EXPECT_EQ(w.panel().CompareText(), "");

  // The first version has none before it; the view shows it as it is.
  w.Keys(QKeySequence("Ctrl+Shift+Up"));
  EXPECT_EQ(w.versions().Shown(), 0);
  EXPECT_TRUE(w.panel().CompareText().startsWith("no earlier version")) << w.panel().CompareText().toStdString();
  EXPECT_TRUE(PanelShows(BlendedOver(ExpectedLevel(kBlocky, kBlocky.levels[0], 16, 8, DxtRules::Standard), kFace), 3));

  // Compare stays on from file to file; sizes that differ are said, and the version shows.
  w.Select("sized.blp");
  EXPECT_EQ(w.panel().CompareText(), "the sizes differ: 8 x 8 against 16 x 16 in " + TVersionsWorld::ArchiveName("base.MPQ"));
  EXPECT_TRUE(ViewBox->Notice().contains("Compare: the sizes differ")) << ViewBox->Notice().toStdString();
  EXPECT_TRUE(PanelShows(SolidImage(8, 8, 9, 9, 9)));

  // Off again: the version itself.
  w.Select("blocky.blp");
  EXPECT_TRUE(PanelShows(diff));
  w.versions().SetCompare(false);
  EXPECT_FALSE(w.versions().CompareAction()->isChecked());
  EXPECT_TRUE(PanelShows(BlendedOver(ExpectedLevel(changed, changed.levels[0], 16, 8, DxtRules::Standard), kFace), 3));
}

TEST(Versions, the_panel_tells_header_and_levels_marks_short_ones_names_blp1_and_is_open_at_the_next_start) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  // A DXT5 file cut inside level 1, and a BLP1 palette file.
  const std::string dxt5 = WriteBlp(RandomBlp(2, 8, 7, 16, 8, 1, 51));
  const std::uint32_t level1 = GetLe32(dxt5, blpfield::kOffsets + 4);
  Blp1File blp1;
  blp1.width = 4;
  blp1.height = 4;
  blp1.pictureSubtype = 0;
  blp1.levels = {std::string(16 + 16, '\x02')};
  TScratchWorld world;
  world.Hive(std::string(kWowKey) + kInstallValue);
  world.Archive(world.game() / "Data/info.MPQ", {{"Textures\\Info\\cut.blp", dxt5.substr(0, level1 + 10)},
                                                 {"Textures\\Info\\old.blp", WriteBlp1(blp1)}});
  world.MpqToLoad("Data\\info.MPQ\r\n");
  {
    TWindow w;
    ASSERT_TRUE(w.Start());
    // The View menu's entry opens it as Ctrl+I does.
    w.panel().ToggleAction()->trigger();
    ASSERT_TRUE(w.panel().isVisible());
    ClickNode(*w.form, QStringList{"TEXTURES", "INFO", "CUT.BLP"});
    EXPECT_EQ(w.panel().SizeText(), QStringLiteral("%1 bytes").arg(level1 + 10));
    EXPECT_EQ(w.panel().HeaderText(),
              "Format: BLP2, DXT5\nAlpha: depth 8, type 7\nSize: 16 x 8\nMip levels: 5 (mip chain)");
    QTreeWidget* table = w.panel().LevelTable();
    ASSERT_EQ(table->topLevelItemCount(), 5);
    const QStringList notes = {"", "short by 22 bytes", "past the end of the file", "past the end of the file",
                               "past the end of the file"};
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      const QTreeWidgetItem* row = table->topLevelItem(i);
      EXPECT_EQ(row->text(TInfoPanel::kSizeColumn), QStringLiteral("%1 x %2").arg(std::max(16 >> i, 1)).arg(std::max(8 >> i, 1)));
      EXPECT_EQ(row->text(TInfoPanel::kOffsetColumn), QString::number(GetLe32(dxt5, blpfield::kOffsets + 4 * i)));
      EXPECT_EQ(row->text(TInfoPanel::kBytesColumn), QString::number(GetLe32(dxt5, blpfield::kSizes + 4 * i)));
      EXPECT_TRUE(row->text(TInfoPanel::kNoteColumn).startsWith(notes[i])) << row->text(TInfoPanel::kNoteColumn).toStdString();
      EXPECT_EQ(row->foreground(0).style() != Qt::NoBrush, i != 0) << "marked the other way";
    }
    ClickNode(*w.form, QStringList{"TEXTURES", "INFO", "OLD.BLP"});
    EXPECT_TRUE(w.panel().HeaderText().startsWith("Format: BLP1, palette, 8-bit alpha\nAlpha: depth 8\nSize: 4 x 4"))
        << w.panel().HeaderText().toStdString();
    ASSERT_EQ(w.panel().LevelTable()->topLevelItemCount(), 1);
    EXPECT_EQ(w.panel().LevelTable()->topLevelItem(0)->text(TInfoPanel::kNoteColumn), "");
  }
  TWindow again;
  ASSERT_TRUE(again.Start());
  EXPECT_TRUE(again.panel().isVisible()) << "the panel left open is closed at the next start";
  EXPECT_TRUE(again.panel().ToggleAction()->isChecked());
  again.Keys(QKeySequence("Ctrl+I"));
  EXPECT_FALSE(again.panel().isVisible());
}

}  // namespace
}  // namespace velmora::test
