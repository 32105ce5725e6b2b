// The tree model behind a real QTreeView on the X display: no header, rows served on demand
// (a folder of 100,000 files asks for the visible rows only), selection by mouse and keyboard
// reported through AddToSelection.
#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TreeTestUtil.h"

namespace velmora {
namespace {

using test::TFileTreeFixture;

// Counts the display texts the view asks for.
class TCountingModel : public TTreeModel {
public:
  TCountingModel() : TTreeModel(FileTreeEvents()) {}
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
    if (role == Qt::DisplayRole) ++texts;
    return TTreeModel::data(index, role);
  }
  mutable std::size_t texts = 0;
};

class TreeView : public ::testing::Test {
protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  }
};

TEST_F(TreeView, view_has_no_header_and_one_column) {
  TFileTreeFixture f;
  AddNode("a\\b.blp");
  QTreeView view;
  f.model->AttachView(&view);
  EXPECT_EQ(view.model(), f.model.get());
  EXPECT_TRUE(view.isHeaderHidden());
  EXPECT_TRUE(view.uniformRowHeights());
  view.resize(200, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  EXPECT_EQ(view.header()->count(), 1);
  const QModelIndex a = f.model->index(0, 0);
  EXPECT_FALSE(view.visualRect(a).isEmpty());
  EXPECT_EQ(view.indexAt(view.visualRect(a).center()), a);
}

TEST_F(TreeView, expanding_folder_of_100000_files_asks_for_visible_rows_only) {
  auto counting = std::make_unique<TCountingModel>();
  TCountingModel& model = *counting;
  TFileTreeFixture f;
  f.model = std::move(counting);
  CreateRootNodes(model);
  model.BeginUpdate();
  for (int i = 0; i < 100000; ++i) AddNode("big\\file" + std::to_string(i) + ".blp");
  model.SortTree(0, Qt::AscendingOrder);
  model.EndUpdate();

  QTreeView view;
  model.AttachView(&view);
  view.resize(200, 300);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QModelIndex big = model.index(0, 0);
  ASSERT_EQ(model.rowCount(big), 100000);
  model.texts = 0;
  view.expand(big);
  view.repaint();
  QApplication::processEvents();
  // A few dozen rows fit the view; a view that measured every row would ask 100,000 times.
  EXPECT_LT(model.texts, 2000u);
  EXPECT_GT(model.texts, 0u) << "the visible rows were not painted";

  // The last file is reachable by scrolling and is the last sorted name.
  view.scrollToBottom();
  QApplication::processEvents();
  const QModelIndex last = model.index(99999, 0, big);
  EXPECT_TRUE(view.viewport()->rect().intersects(view.visualRect(last)));
  EXPECT_EQ(model.data(last).toString(), "FILE99999.BLP");
}

TEST_F(TreeView, mouse_and_keyboard_selection_report_added_node) {
  TFileTreeFixture f;
  AddNode("a\\b.blp");
  AddNode("c.blp");
  AddNode("d.blp");
  f.model->SortTree(0, Qt::AscendingOrder);
  QTreeView view;
  f.model->AttachView(&view);
  QSignalSpy spy(f.model.get(), &TTreeModel::AddToSelection);
  view.resize(200, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

  const QModelIndex c = f.model->index(1, 0);
  ASSERT_EQ(f.model->data(c).toString(), "C.BLP");
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(c).center());
  ASSERT_EQ(spy.count(), 1);
  auto* clicked = spy.at(0).at(0).value<TVirtualNode*>();
  ASSERT_NE(clicked, nullptr);
  EXPECT_EQ(clicked->data.fullName, "c.blp");

  QTest::keyClick(&view, Qt::Key_Down);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).value<TVirtualNode*>()->data.fullName, "d.blp");

  QTest::keyClick(&view, Qt::Key_Home);
  ASSERT_EQ(spy.count(), 3);
  const TVirtualNode* folder = spy.at(2).at(0).value<TVirtualNode*>();
  EXPECT_EQ(folder->data.isFile, 0);
  EXPECT_EQ(folder->data.name, "A");
}

TEST_F(TreeView, update_bracket_holds_repaints_and_resets_view_once) {
  TFileTreeFixture f;
  QTreeView view;
  f.model->AttachView(&view);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QSignalSpy resets(f.model.get(), &QAbstractItemModel::modelReset);
  QSignalSpy inserts(f.model.get(), &QAbstractItemModel::rowsInserted);
  f.model->BeginUpdate();
  f.model->BeginUpdate();
  EXPECT_FALSE(view.updatesEnabled());
  AddNode("a\\b.blp");
  AddNode("c.blp");
  f.model->SortTree(0, Qt::AscendingOrder);
  f.model->EndUpdate();
  EXPECT_FALSE(view.updatesEnabled()) << "inner EndUpdate ended the bracket";
  f.model->EndUpdate();
  EXPECT_TRUE(view.updatesEnabled());
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(inserts.count(), 0);
  EXPECT_EQ(view.model()->rowCount(), 2);

  // Outside the bracket every added node is announced to the view.
  AddNode("e.blp");
  EXPECT_EQ(inserts.count(), 1);
  view.expand(f.model->index(0, 0));
  ClearFileList();
  EXPECT_EQ(resets.count(), 2);
  EXPECT_EQ(view.model()->rowCount(), 0);
}

}  // namespace
}  // namespace velmora
