#include <gtest/gtest.h>

#include <QTableView>
#include <QTest>

#include "app/datalink/binders.h"
#include "app/datalink/navigator.h"
#include "app/datalink/table_model.h"
#include "app/datalink/tests/fixture.h"
#include "core/error.h"
#include "core/messages.h"

namespace qm::datalink {
namespace {

using tables::TableState;
using testing::people;
using testing::Person;

std::vector<GridColumn> columns() {
  return {{"NAME", "Name", 120}, {"QTY", "", 0}, {"FLAG", "Flag", 40}};
}

class GridTest : public testing::TableFolder {};

std::string cell(const TableModel& m, int row, int col) {
  return m.data(m.index(row, col)).toString().toStdString();
}

TEST_F(GridTest, ModelShowsRecordsInTableOrder) {
  make(people());
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  ASSERT_EQ(m.rowCount(), 3);
  ASSERT_EQ(m.columnCount(), 3);
  EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), "Name");
  EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "QTY");
  const char* want[3][3] = {{"Alice", "5", "True"}, {"Bob", "7", "False"}, {"Carol", "9", "True"}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cell(m, r, c), want[r][c]) << r << "," << c;
  EXPECT_FALSE(m.canFetchMore({}));
  EXPECT_TRUE(m.flags(m.index(0, 0)) & Qt::ItemIsEditable);
  TableModel ro(ds, columns(), false);
  EXPECT_FALSE(ro.flags(ro.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_FALSE(ro.setData(ro.index(1, 0), "x"));
  EXPECT_EQ(table.state(), TableState::Browse);

  ds.detach();
  EXPECT_EQ(m.rowCount(), 0);
  ds.reattach();
  EXPECT_EQ(m.rowCount(), 3);
}

TEST_F(GridTest, ViewRowAndCurrentRecordMoveTogether) {
  make(people());
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  QTableView view;
  GridLink link(&view, &m);
  EXPECT_EQ(view.currentIndex().row(), 0);
  table.last();
  EXPECT_EQ(view.currentIndex().row(), 2);
  table.prior();
  EXPECT_EQ(view.currentIndex().row(), 1);

  view.setCurrentIndex(m.index(0, 1));
  EXPECT_EQ(table.recNo(), 1);
  view.setCurrentIndex(m.index(2, 0));
  EXPECT_EQ(table.recNo(), 3);
  EXPECT_EQ(view.columnWidth(0), 120);
  EXPECT_EQ(view.columnWidth(2), 40);
}

TEST_F(GridTest, EditingACellEditsThatRecordAndAMovePostsIt) {
  make(people());
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  QTableView view;
  GridLink link(&view, &m);
  QLineEdit name;
  LineEditBinder b(ds, &name, "NAME");

  ASSERT_TRUE(m.setData(m.index(1, 0), "Robert"));
  EXPECT_EQ(table.recNo(), 2);
  EXPECT_EQ(table.state(), TableState::Edit);
  EXPECT_EQ(name.text(), "Robert") << "every control shows the one current record";
  EXPECT_EQ(view.currentIndex().row(), 1);
  EXPECT_EQ(stored(2, "NAME"), "Bob");
  EXPECT_EQ(cell(m, 1, 0), "Robert");

  EXPECT_FALSE(m.setData(m.index(1, 1), "many")) << "a number field refuses letters";
  EXPECT_EQ(cell(m, 1, 1), "7");

  view.setCurrentIndex(m.index(2, 0));
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(stored(2, "NAME"), "Robert");
  EXPECT_EQ(cell(m, 1, 0), "Robert");
  EXPECT_EQ(name.text(), "Carol");

  // The value a cell already has is no change and leaves the table browsing.
  ASSERT_TRUE(m.setData(m.index(2, 0), "Carol"));
  EXPECT_EQ(table.state(), TableState::Browse);
}

class NavigatorTest : public testing::TableFolder {
 protected:
  void SetUp() override {
    TableFolder::SetUp();
    make(people());
  }
  ScriptedMessages msgs;
};

TEST_F(NavigatorTest, ButtonsFollowTheTable) {
  DataSource ds(&table);
  DbNavigator nav(ds, msgs);
  auto on = [&](NavButton b) { return nav.button(b)->isEnabled(); };
  EXPECT_FALSE(on(NavButton::First));
  EXPECT_TRUE(on(NavButton::Next));
  EXPECT_FALSE(on(NavButton::Post));
  QLineEdit name;
  LineEditBinder b(ds, &name, "NAME");
  QTest::keyClicks(&name, "x");
  EXPECT_TRUE(on(NavButton::Post)) << "typing in a control enables Post and Cancel";
  EXPECT_TRUE(on(NavButton::Cancel));
  nav.press(NavButton::Last);
  EXPECT_EQ(stored(1, "NAME"), "Alicex");
  EXPECT_FALSE(on(NavButton::Post));
  EXPECT_FALSE(on(NavButton::Last));
  EXPECT_TRUE(on(NavButton::First));
  ds.detach();
  for (int i = 0; i < kNavButtonCount; ++i)
    EXPECT_FALSE(nav.button(static_cast<NavButton>(i))->isEnabled()) << i;
}

TEST_F(NavigatorTest, InsertStartsEmptyAndPostKeepsIt) {
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  QTableView view;
  GridLink link(&view, &m);
  DbNavigator nav(ds, msgs);
  QLineEdit name, upd;
  QCheckBox flag;
  LineEditBinder bn(ds, &name, "NAME");
  DateEditBinder bu(ds, &upd, "UPD");
  CheckBoxBinder bf(ds, &flag, "FLAG");
  table.goToRecNo(1);  // a record whose fields are all filled

  nav.press(NavButton::Insert);
  EXPECT_EQ(table.state(), TableState::Insert);
  for (int i = 0; i < table.fieldCount(); ++i)
    EXPECT_EQ(table.field(i).asString(), "") << table.field(i).name();
  EXPECT_EQ(name.text(), "");
  EXPECT_EQ(upd.text(), "");
  EXPECT_FALSE(flag.isChecked());
  EXPECT_EQ(m.rowCount(), 4);
  EXPECT_EQ(view.currentIndex().row(), 3);
  EXPECT_EQ(cell(m, 3, 0), "");

  QTest::keyClicks(&name, "Dave");
  EXPECT_EQ(cell(m, 3, 0), "Dave");
  nav.press(NavButton::Post);
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(storedCount(), 4);
  EXPECT_EQ(stored(4, "NAME"), "Dave");
  EXPECT_EQ(stored(4, "QTY"), "");
  EXPECT_EQ(m.rowCount(), 4);
  EXPECT_EQ(cell(m, 3, 0), "Dave");
  EXPECT_EQ(view.currentIndex().row(), 3);
}

TEST_F(NavigatorTest, AnUnchangedInsertIsDroppedByAMove) {
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  QTableView view;
  GridLink link(&view, &m);
  DbNavigator nav(ds, msgs);
  nav.press(NavButton::Insert);
  EXPECT_EQ(m.rowCount(), 4);
  nav.press(NavButton::First);
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(table.recordCount(), 3);
  EXPECT_EQ(storedCount(), 3);
  EXPECT_EQ(m.rowCount(), 3);
  EXPECT_EQ(view.currentIndex().row(), 0);
}

TEST_F(NavigatorTest, CancelDiscardsTheEdit) {
  DataSource ds(&table);
  DbNavigator nav(ds, msgs);
  QLineEdit name;
  LineEditBinder b(ds, &name, "NAME");
  QTest::keyClicks(&name, "zz");
  nav.press(NavButton::Cancel);
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(name.text(), "Alice");
  nav.press(NavButton::Next);
  EXPECT_EQ(stored(1, "NAME"), "Alice");
}

TEST_F(NavigatorTest, DeleteAsksAndNoKeepsTheRecord) {
  DataSource ds(&table);
  TableModel m(ds, columns(), true);
  QTableView view;
  GridLink link(&view, &m);
  DbNavigator nav(ds, msgs);
  table.goToRecNo(2);

  msgs.answer(MsgAnswer::No);
  nav.press(NavButton::Delete);
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Confirmation);
  EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(msgs.shown[0].text, DbNavigator::deleteQuestion());
  EXPECT_EQ(table.recordCount(), 3);
  EXPECT_EQ(table.recNo(), 2);

  msgs.answer(MsgAnswer::Yes);
  nav.press(NavButton::Delete);
  EXPECT_EQ(msgs.shown.size(), 2u);
  EXPECT_EQ(storedCount(), 2);
  ASSERT_EQ(m.rowCount(), 2);
  EXPECT_EQ(cell(m, 0, 0), "Alice");
  EXPECT_EQ(cell(m, 1, 0), "Carol");
  EXPECT_EQ(view.currentIndex().row(), m.currentRow());
  EXPECT_GE(m.currentRow(), 0);
}

TEST_F(GridTest, LargeTablesAreReadOnDemand) {
  constexpr int kRows = 3000;
  {
    tables::DbfTable t;
    t.setFolder(folder());
    t.setTableName("big");
    t.setFieldDefs({{"NAME", 'C', 12, 0}, {"QTY", 'N', 6, 0}});
    t.setTableLevel(7);
    t.createTable();
    t.open();
    for (int i = 0; i < kRows; ++i) {
      t.append();
      t.fieldByName("NAME").setAsString("R" + std::to_string(i));
      t.fieldByName("QTY").setAsInteger(i);
      t.post();
    }
  }
  table.setFolder(folder());
  table.setTableName("big");
  table.open();
  table.first();
  DataSource ds(&table);
  TableModel m(ds, {{"NAME", "", 0}, {"QTY", "", 0}}, false);
  EXPECT_EQ(m.rowCount(), TableModel::kFetchChunk);
  EXPECT_TRUE(m.canFetchMore({}));
  m.fetchMore({});
  EXPECT_EQ(m.rowCount(), 2 * TableModel::kFetchChunk);
  EXPECT_EQ(cell(m, 300, 0), "R300");

  QTableView view;
  GridLink link(&view, &m);
  table.goToRecNo(1500);
  EXPECT_EQ(view.currentIndex().row(), 1499);
  EXPECT_LT(m.rowCount(), kRows);
  EXPECT_EQ(cell(m, 1499, 1), "1499");
  table.last();
  EXPECT_EQ(m.rowCount(), kRows);
  EXPECT_FALSE(m.canFetchMore({}));
  EXPECT_EQ(view.currentIndex().row(), kRows - 1);
  EXPECT_EQ(cell(m, kRows - 1, 0), "R2999");
}

TEST_F(GridTest, AnIndexChosenOnTheTableOrdersTheRows) {
  make(people());
  table.close();
  table.setExclusive(true);
  table.open();
  try {
    table.addIndex("NAME", "NAME");
  } catch (const TableError& e) {
    GTEST_SKIP() << "the engine has no indexes yet: " << e.what();
  }
  table.close();
  table.setExclusive(false);
  table.open();
  // Rename so that physical and index order differ.
  table.goToRecNo(1);
  table.edit();
  table.fieldByName("NAME").setAsString("Zoe");
  table.post();
  table.setIndexName("name");
  table.first();

  DataSource ds(&table);
  TableModel m(ds, columns(), false);
  ASSERT_EQ(m.rowCount(), 3);
  EXPECT_EQ(cell(m, 0, 0), "Bob");
  EXPECT_EQ(cell(m, 1, 0), "Carol");
  EXPECT_EQ(cell(m, 2, 0), "Zoe");
  QTableView view;
  GridLink link(&view, &m);
  table.goToRecNo(1);
  EXPECT_EQ(view.currentIndex().row(), 2);
  view.setCurrentIndex(m.index(0, 0));
  EXPECT_EQ(table.recNo(), 2);

  table.setIndexName("");  // back to physical order: the next move lays the rows out again
  table.first();
  EXPECT_EQ(cell(m, 0, 0), "Zoe");
}

}  // namespace
}  // namespace qm::datalink
