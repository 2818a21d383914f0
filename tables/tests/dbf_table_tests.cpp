#include "tables/dbf_table.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "core/text.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using test::ScratchDir;

const std::vector<FieldDef> kPriceDefs = {
    {"DEPT", 'C', 4, 0},   {"PARTNUMBER", 'C', 20, 0}, {"LISTPRICE", 'N', 12, 2},
    {"OQTY", 'N', 6, 0},   {"UPDATED", 'D', 8, 0},     {"ACTIVE", 'L', 1, 0},
    {"NOTES", 'M', 10, 0},
};

struct Recorder : TableListener {
  std::vector<std::string> events;
  void afterOpen() override { events.push_back("open"); }
  void beforeClose() override { events.push_back("close"); }
  void afterScroll() override { events.push_back("scroll"); }
  void afterInsert() override { events.push_back("insert"); }
  void afterDelete() override { events.push_back("delete"); }
  void afterPost() override { events.push_back("post"); }
  void afterCancel() override { events.push_back("cancel"); }
  void stateChanged() override { events.push_back("state"); }
  void fieldChanged(int i) override { events.push_back("field" + std::to_string(i)); }
};

TEST(DbfTable, CreateAppendReadBack) {
  ScratchDir dir;
  test::make_table(dir, "acmelist", kPriceDefs);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("ACMELIST");  // found without regard to case
  ASSERT_TRUE(t.exists());
  t.open();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.recordCount(), 0);
  EXPECT_EQ(t.fieldCount(), 7);
  for (int i = 0; i < 3; ++i) {
    t.append();
    t.fieldByName("dept").setAsString("ACM");
    t.fieldByName("PartNumber").setAsString("P-" + std::to_string(i));
    t.fieldByName("LISTPRICE").setAsString(i == 0 ? "1234.5" : "0.005");
    t.fieldByName("OQTY").setAsInteger(10 + i);
    t.fieldByName("UPDATED").setAsString("2026-12-09");
    t.fieldByName("ACTIVE").setAsBoolean(i != 1);
    t.fieldByName("NOTES").setLines({"line one", "line " + std::to_string(i)});
    t.post();
  }
  EXPECT_EQ(t.recordCount(), 3);
  t.close();

  t.open();
  ASSERT_FALSE(t.eof());
  EXPECT_EQ(t.field(0).asString(), "ACM");
  EXPECT_EQ(t.field(1).asString(), "P-0");
  EXPECT_EQ(t.field(2).asString(), "1234.5");
  EXPECT_EQ(t.field(3).asInteger(), 10);
  EXPECT_EQ(t.field(4).asString(), "12/9/2026");
  EXPECT_TRUE(t.field(5).asBoolean());
  EXPECT_EQ(t.field(6).lines(), (std::vector<std::string>{"line one", "line 0"}));
  t.next();
  EXPECT_EQ(t.field(2).asString(), "0.01");
  EXPECT_EQ(t.field(5).asString(), "False");
  t.next();
  t.next();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.field(1).asString(), "P-2");  // stays on the last record
}

// Field lookup guesses from the order of the last record's lookups; a changed order, another
// case or a name the table lacks must still find the right field or none.
TEST(DbfTable, FieldsAreFoundByNameInAnyOrder) {
  ScratchDir dir;
  test::make_table(dir, "acmelist", kPriceDefs);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("ACMELIST");
  t.open();
  const std::vector<std::vector<std::string>> orders = {
      {"DEPT", "PARTNUMBER", "LISTPRICE", "OQTY"},
      {"DEPT", "PARTNUMBER", "LISTPRICE", "OQTY"},
      {"OQTY", "dept", "ListPrice", "PARTNUMBER"},
      {"DEPT", "NOSUCH", "PARTNUMBER", "PARTNUMBER", "DEPT"},
      {"DEPT", "PARTNUMBER", "LISTPRICE", "OQTY"},
  };
  for (const auto& order : orders) {
    for (const std::string& name : order) {
      DbfField* f = t.findField(name);
      if (name == "NOSUCH") {
        EXPECT_EQ(f, nullptr);
        continue;
      }
      ASSERT_NE(f, nullptr) << name;
      EXPECT_TRUE(iequals(f->name(), name)) << name << " found " << f->name();
    }
  }
}

TEST(DbfTable, MovingEndsAnEdit) {
  ScratchDir dir;
  test::make_table(dir, "t", kPriceDefs);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("t");
  t.open();
  t.append();
  t.first();  // an unchanged appended record is dropped
  EXPECT_EQ(t.recordCount(), 0);
  t.append();
  t.field(1).setAsString("KEEP");
  t.first();  // a changed one is posted
  EXPECT_EQ(t.recordCount(), 1);
  EXPECT_EQ(t.field(1).asString(), "KEEP");
  t.edit();
  t.field(1).setAsString("LOST");
  t.close();  // discards the unposted change
  t.open();
  EXPECT_EQ(t.field(1).asString(), "KEEP");
}

TEST(DbfTable, DeletedRecordsAreSkipped) {
  ScratchDir dir;
  test::make_table(dir, "t", kPriceDefs);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("t");
  t.open();
  for (const char* p : {"A", "B", "C"}) {
    t.append();
    t.field(1).setAsString(p);
    t.post();
  }
  t.first();
  t.next();
  t.deleteRecord();
  EXPECT_EQ(t.field(1).asString(), "C");
  EXPECT_EQ(t.recordCount(), 2);
  std::vector<std::string> seen;
  for (t.first(); !t.eof(); t.next()) seen.push_back(t.field(1).asString());
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "C"}));
  t.last();
  t.prior();
  EXPECT_EQ(t.field(1).asString(), "A");
}

// Moves in physical order pass over deleted records wherever they stand; a move past either
// end keeps the table on its record; a deletion lands on the next live record, else the one
// before it.
TEST(DbfTable, PhysicalMovesAndDeletionsPassOverDeletedRecords) {
  struct Case {
    std::vector<int> deleted;
    std::string forward, backward;
    int removeAt;  // 0: none
    std::string landsOn;
  };
  const Case cases[] = {
      {{}, "ABCD", "DCBA", 4, "C"}, {{1}, "BCD", "DCB", 2, "C"},  {{4}, "ABC", "CBA", 3, "B"},
      {{1, 4}, "BC", "CB", 3, "B"}, {{2, 3}, "AD", "DA", 1, "D"}, {{1, 2, 3, 4}, "", "", 0, ""},
  };
  auto last_of = [](const std::string& s) { return s.empty() ? s : s.substr(s.size() - 1); };
  for (const Case& c : cases) {
    ScratchDir dir;
    test::make_table(dir, "t", {{"ID", 'C', 1, 0}});
    DbfTable t;
    t.setFolder(dir.str());
    t.setTableName("t");
    t.open();
    for (const char* id : {"A", "B", "C", "D"}) {
      t.append();
      t.field(0).setAsString(id);
      t.post();
    }
    for (int n : c.deleted) {
      t.goToRecNo(n);
      t.deleteRecord();
    }
    std::string seen;
    for (t.first(); !t.eof(); t.next()) seen += t.field(0).asString();
    EXPECT_EQ(seen, c.forward) << c.forward;
    EXPECT_EQ(t.field(0).asString(), last_of(c.forward)) << c.forward;
    seen.clear();
    for (t.last(); !t.bof(); t.prior()) seen += t.field(0).asString();
    EXPECT_EQ(seen, c.backward) << c.forward;
    EXPECT_EQ(t.field(0).asString(), last_of(c.backward)) << c.forward;
    if (c.removeAt == 0) continue;
    t.goToRecNo(c.removeAt);
    t.deleteRecord();
    EXPECT_EQ(t.field(0).asString(), c.landsOn) << c.forward;
  }
}

TEST(DbfTable, Notifications) {
  ScratchDir dir;
  test::make_table(dir, "t", kPriceDefs);
  DbfTable t;
  Recorder r;
  t.addListener(&r);
  t.setFolder(dir.str());
  t.setTableName("t");
  t.open();
  EXPECT_EQ(r.events, (std::vector<std::string>{"state", "open", "scroll"}));
  r.events.clear();
  t.append();
  t.field(0).setAsString("X");
  t.post();
  EXPECT_EQ(r.events,
            (std::vector<std::string>{"state", "insert", "scroll", "field0", "state", "post"}));
  r.events.clear();
  t.edit();
  t.cancel();
  t.deleteRecord();
  EXPECT_EQ(r.events, (std::vector<std::string>{"state", "state", "cancel", "delete", "scroll"}));
}

}  // namespace
}  // namespace qm::tables
