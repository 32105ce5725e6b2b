// The tree's filter: the words and what they match, and the filter line over a real tree view:
// the files whose path holds every word with their folders, expanded when few, the same tree
// whether typed a character at a time or at once, the whole tree and its expansion back when
// cleared, the selected file kept, Ctrl+F and Esc.
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <string>

#include "TreeTestUtil.h"
#include "ui/FilterLine.h"
#include "ui/TreeFilter.h"

namespace velmora {
namespace {

using test::TFileTreeFixture;

TEST(TreeFilter, every_word_somewhere_in_the_path_case_ignored) {
  struct Row {
    const char* typed;
    const char* path;
    bool match;
  };
  const Row rows[] = {
      {"minimap", "Textures\\Minimap\\map01.blp", true},
      {"MINIMAP", "textures\\minimap\\map01.blp", true},
      {"  map01   tex ", "Textures\\Minimap\\map01.blp", true},  // any order, blanks around
      {"map01 kalimdor", "Textures\\Minimap\\Azeroth\\map01.blp", false},
      {"s\\m", "Textures\\Minimap\\map01.blp", true},  // a word may span folders
      {"map 01.b", "Textures\\Minimap\\map01.blp", true},
      {"map02", "Textures\\Minimap\\map01.blp", false},
      {"\xc3\xa9t\xc3\xa9", "Saisons\\\xc3\xa9t\xc3\xa9.blp", true},
      {"", "anything", true},
  };
  for (const Row& r : rows) EXPECT_EQ(TPathFilter(r.typed).Matches(r.path), r.match) << r.typed << " on " << r.path;
  EXPECT_EQ(TPathFilter(" a  bc\td ").Words(), (std::vector<std::string>{"A", "BC", "D"}));
  EXPECT_TRUE(TPathFilter("").Empty());
  // Typing on narrows; deleting or replacing a word does not.
  EXPECT_TRUE(TPathFilter("mapx").Narrows(TPathFilter("map")));
  EXPECT_TRUE(TPathFilter("map tex").Narrows(TPathFilter("map")));
  EXPECT_FALSE(TPathFilter("map").Narrows(TPathFilter("map tex")));
  EXPECT_FALSE(TPathFilter("mab").Narrows(TPathFilter("map")));
}

// A tree of a few named paths and 400 files in one folder, in a window with the filter line.
class FilterLine : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* p : {"Textures\\Minimap\\Azeroth\\map01.blp", "Textures\\Minimap\\Azeroth\\map02.blp",
                          "Textures\\Minimap\\Kalimdor\\map01.blp", "Interface\\Icons\\INV_Sword_01.blp",
                          "Interface\\Icons\\INV_Axe_01.blp", "World\\readme.txt", "a.blp"}) {
      AddNode(p);
    }
    for (int i = 0; i < 400; ++i) AddNode("Big\\file" + std::to_string(1000 + i) + ".blp");
    f.model->SortTree(0, Qt::AscendingOrder);
    auto* layout = new QVBoxLayout(&window);
    view = new QTreeView;
    layout->addWidget(view);
    f.model->AttachView(view);
    line = new TFilterLine(*f.model, *view, &window);
    window.resize(300, 400);
    window.show();
  }

  // The rows the view shows (below expanded folders only): two spaces per level, "+" after an
  // expanded folder.
  std::string Shown() const {
    std::string out;
    std::vector<std::pair<QModelIndex, int>> stack;
    const TTreeModel& m = *f.model;
    for (int r = m.rowCount() - 1; r >= 0; --r) stack.emplace_back(m.index(r, 0), 0);
    while (!stack.empty()) {
      const auto [idx, depth] = stack.back();
      stack.pop_back();
      out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + m.data(idx).toString().toStdString();
      const bool open = m.hasChildren(idx) && view->isExpanded(idx);
      out += open ? " +\n" : "\n";
      if (!open) continue;
      for (int r = m.rowCount(idx) - 1; r >= 0; --r) stack.emplace_back(m.index(r, 0, idx), depth + 1);
    }
    return out;
  }
  // Everything below the folders that are expanded, so a dump covers the whole tree.
  std::string WholeTree() {
    view->expandAll();
    std::string s = Shown();
    view->collapseAll();
    return s;
  }

  TFileTreeFixture f;
  QWidget window;
  QTreeView* view = nullptr;
  TFilterLine* line = nullptr;
};

TEST_F(FilterLine, shows_matching_files_with_their_folders_expanded_when_few) {
  struct Row {
    const char* typed;
    std::size_t matches;
    const char* shown;
  };
  const Row rows[] = {
      {"minimap KALIM", 1,
       "TEXTURES +\n  MINIMAP +\n    KALIMDOR +\n      MAP01.BLP\n"},
      {"map01", 2,
       "TEXTURES +\n  MINIMAP +\n    AZEROTH +\n      MAP01.BLP\n    KALIMDOR +\n      MAP01.BLP\n"},
      {"icons inv_ _01", 2, "INTERFACE +\n  ICONS +\n    INV_AXE_01.BLP\n    INV_SWORD_01.BLP\n"},
      {"a.blp", 1, "A.BLP\n"},
      {"readme", 0, ""},
      {"big", 400, "BIG\n"},  // more than a few hundred: the folder shows closed
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.typed);
    line->setText(QString::fromUtf8(r.typed));
    EXPECT_EQ(line->Matches(), r.matches);
    EXPECT_EQ(Shown(), r.shown);
  }
}

TEST_F(FilterLine, typing_a_character_at_a_time_gives_the_tree_of_typing_it_at_once) {
  const std::string whole = WholeTree();
  const std::string text = "map0 azer";
  std::string typed;
  for (char c : text) {
    typed += c;
    line->setText(QString::fromStdString(typed));
    const std::string stepwise = Shown();
    line->setText(QString());
    line->setText(QString::fromStdString(typed));
    EXPECT_EQ(Shown(), stepwise) << "after \"" << typed << "\"";
  }
  // And back, a character at a time: deleting widens the filter, with the same trees.
  while (!typed.empty()) {
    typed.pop_back();
    line->setText(QString::fromStdString(typed));
    const std::string stepwise = Shown();
    line->setText(QString());
    line->setText(QString::fromStdString(typed));
    EXPECT_EQ(Shown(), stepwise) << "after deleting back to \"" << typed << "\"";
  }
  EXPECT_EQ(WholeTree(), whole);
  EXPECT_FALSE(f.model->Filtered());
  EXPECT_EQ(f.model->FilterBytes(), 0u) << "the filter's lists outlive it";
}

TEST_F(FilterLine, clearing_gives_back_the_whole_tree_its_expansion_and_the_selected_file) {
  const std::string whole = WholeTree();
  const QModelIndex interface = f.model->index(1, 0);
  ASSERT_EQ(f.model->data(interface).toString(), "INTERFACE");
  view->expand(interface);
  const QModelIndex icons = f.model->index(0, 0, interface);
  view->expand(icons);
  QSignalSpy selected(f.model.get(), &TTreeModel::AddToSelection);
  view->setCurrentIndex(f.model->index(1, 0, icons));  // INV_SWORD_01.BLP
  ASSERT_EQ(selected.count(), 1);
  TVirtualNode* sword = selected.at(0).at(0).value<TVirtualNode*>();
  const std::string before = Shown();

  line->setText("sword");
  EXPECT_EQ(TTreeModel::NodeOf(view->currentIndex()), sword) << "the selected file is not found again";
  EXPECT_TRUE(view->selectionModel()->isSelected(view->currentIndex()));
  EXPECT_GT(f.model->FilterBytes(), 0u);
  line->setText("");
  EXPECT_EQ(Shown(), before) << "the expansion from before the filter is lost";
  EXPECT_EQ(TTreeModel::NodeOf(view->currentIndex()), sword);
  EXPECT_EQ(selected.count(), 1) << "finding the file again reloaded it";
  EXPECT_EQ(WholeTree(), whole);
}

TEST_F(FilterLine, ctrl_f_opens_the_line_and_esc_clears_and_hides_it) {
  EXPECT_FALSE(line->isVisible()) << "the line shows before it is asked for";
  EXPECT_EQ(line->parentWidget()->geometry().top(), view->parentWidget()->geometry().top());
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window, 20000));
  view->setFocus();
  QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(line->isVisible());
  EXPECT_TRUE(line->hasFocus());
  EXPECT_LT(line->geometry().bottom(), view->geometry().top()) << "the line is not above the tree";
  QTest::keyClicks(line, "kalim");
  EXPECT_EQ(line->Matches(), 1u);
  QTest::keyClick(line, Qt::Key_Escape);
  EXPECT_FALSE(line->isVisible());
  EXPECT_EQ(line->text(), "");
  EXPECT_FALSE(f.model->Filtered());
  EXPECT_TRUE(view->hasFocus());
}

}  // namespace
}  // namespace velmora
