#include "app/datalink/data_source.h"

#include <gtest/gtest.h>

#include "app/datalink/tests/fixture.h"

namespace qm::datalink {
namespace {

using testing::people;
using testing::Person;

// Records what a control would be told, and whether the source looked active at the time.
struct Recorder : DataLink {
  struct Seen {
    DataEvent event;
    bool active;
  };
  std::vector<Seen> seen;
  void dataEvent(DataEvent e, int) override { seen.push_back({e, dataSource()->active()}); }
  int count(DataEvent e) const {
    int n = 0;
    for (const Seen& s : seen) n += s.event == e;
    return n;
  }
};

class DataSourceTest : public testing::TableFolder {};

TEST_F(DataSourceTest, DetachStopsFollowingAndReattachResumes) {
  make(people());
  DataSource ds(&table);
  Recorder r;
  ds.addLink(&r);

  ds.detach();
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].event, DataEvent::ActiveChanged);
  EXPECT_FALSE(r.seen[0].active);
  EXPECT_EQ(ds.table(), nullptr);
  EXPECT_EQ(ds.field("NAME"), nullptr);
  EXPECT_FALSE(ds.beginEdit());
  EXPECT_EQ(table.state(), tables::TableState::Browse);

  table.next();
  table.close();
  table.open();
  EXPECT_EQ(r.seen.size(), 1u) << "a detached source must not pass the table's events on";

  ds.reattach();
  ASSERT_EQ(r.seen.size(), 2u);
  EXPECT_TRUE(r.seen[1].active);
  table.next();
  EXPECT_EQ(r.count(DataEvent::Scrolled), 1);
  ASSERT_NE(ds.field("name"), nullptr);
  EXPECT_EQ(ds.field("name")->asString(), "Bob");
}

TEST_F(DataSourceTest, ClientsSeeTheSourceInactiveBeforeTheTableCloses) {
  make(people());
  DataSource ds(&table);
  Recorder r;
  ds.addLink(&r);
  table.close();
  ASSERT_GE(r.count(DataEvent::ActiveChanged), 1);
  EXPECT_FALSE(r.seen.back().active);
  table.open();
  EXPECT_TRUE(r.seen.back().active);
  EXPECT_TRUE(ds.active());
}

TEST_F(DataSourceTest, BeginEditEditsOrAppendsOnAnEmptyTable) {
  make(people());
  DataSource ds(&table);
  ASSERT_TRUE(ds.beginEdit());
  EXPECT_EQ(table.state(), tables::TableState::Edit);
  EXPECT_TRUE(ds.beginEdit());  // already editing: stays so, no second edit
  EXPECT_EQ(table.state(), tables::TableState::Edit);
  table.cancel();

  DataSource empty;
  tables::DbfTable t2;
  {
    make({}, "empty");
    t2.setFolder(folder());
    t2.setTableName("empty");
    t2.open();
  }
  empty.setTable(&t2);
  ASSERT_TRUE(empty.beginEdit());
  EXPECT_EQ(t2.state(), tables::TableState::Insert);
  empty.setTable(nullptr);
}

TEST_F(DataSourceTest, LinksAreForgottenWhenEitherSideGoes) {
  make(people());
  auto r = std::make_unique<Recorder>();
  {
    DataSource ds(&table);
    ds.addLink(r.get());
    EXPECT_EQ(r->dataSource(), &ds);
  }
  EXPECT_EQ(r->dataSource(), nullptr);
  DataSource ds(&table);
  ds.addLink(r.get());
  r.reset();     // the link removes itself
  table.next();  // would touch the destroyed link otherwise (ASan)
  SUCCEED();
}

TEST_F(DataSourceTest, NavigatorStateFollowsPositionAndState) {
  make(people());
  DataSource ds(&table);
  struct Case {
    const char* what;
    std::function<void()> act;
    NavigatorState want;
  };
  //                          first  prior  next   last   ins   del    post   cancel
  const std::vector<Case> cases = {
      {"opened on the first", [] {}, {false, false, true, true, true, true, false, false}},
      {"middle", [&] { table.next(); }, {true, true, true, true, true, true, false, false}},
      {"last", [&] { table.last(); }, {true, true, false, false, true, true, false, false}},
      {"editing", [&] { table.edit(); }, {true, true, false, false, true, true, true, true}},
      {"appending",
       [&] {
         table.cancel();
         table.append();
       },
       {true, true, true, true, true, true, true, true}},
      {"detached",
       [&] {
         table.cancel();
         ds.detach();
       },
       {false, false, false, false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    c.act();
    const NavigatorState s = navigator_state(ds);
    EXPECT_EQ(s.post, c.want.post) << c.what;
    EXPECT_EQ(s.cancel, c.want.cancel) << c.what;
    EXPECT_EQ(s.insert, c.want.insert) << c.what;
    EXPECT_EQ(s.remove, c.want.remove) << c.what;
    if (std::string(c.what) != "appending") {
      // Where an appended record stands in the order is the engine's; only the ends matter.
      EXPECT_EQ(s.first, c.want.first) << c.what;
      EXPECT_EQ(s.prior, c.want.prior) << c.what;
      EXPECT_EQ(s.next, c.want.next) << c.what;
      EXPECT_EQ(s.last, c.want.last) << c.what;
    }
  }
  ds.reattach();

  make({}, "empty");
  tables::DbfTable e;
  e.setFolder(folder());
  e.setTableName("empty");
  e.open();
  DataSource es(&e);
  EXPECT_EQ(navigator_state(es),
            (NavigatorState{false, false, false, false, true, false, false, false}));
}

TEST_F(DataSourceTest, RowMapWalksTheFileWithoutMovingTheBoundTable) {
  std::vector<Person> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({"P" + std::to_string(i), "", i, false, {}, {}});
  make(rows);
  table.goToRecNo(7);
  table.edit();
  table.fieldByName("NAME").setAsString("pending");

  RowMap map;
  map.reset(&table);
  ASSERT_TRUE(map.usable());
  EXPECT_EQ(map.fetch(15), 15);
  EXPECT_FALSE(map.complete());
  EXPECT_EQ(map.rowOf(16), -1);
  EXPECT_EQ(map.fetch(100), 25);
  EXPECT_TRUE(map.complete());
  EXPECT_EQ(map.fetch(1), 0);
  for (std::int64_t r = 0; r < 40; ++r) {
    EXPECT_EQ(map.recNoAt(r), r + 1);
    EXPECT_EQ(map.rowOf(r + 1), r);
  }
  ASSERT_NE(map.readRow(20), nullptr);
  EXPECT_EQ(map.readRow(20)->fieldByName("NAME").asString(), "P20");
  EXPECT_EQ(map.readRow(6)->fieldByName("NAME").asString(), "P6");  // the file's value

  EXPECT_EQ(table.recNo(), 7);
  EXPECT_EQ(table.state(), tables::TableState::Edit);
  EXPECT_EQ(table.fieldByName("NAME").asString(), "pending");
}

}  // namespace
}  // namespace qm::datalink
