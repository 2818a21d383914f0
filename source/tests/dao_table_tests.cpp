#include <gtest/gtest.h>

#include <functional>

#include "core/error.h"
#include "source/dao_database.h"
#include "source/dao_table.h"
#include "source/tests/test_util.h"

namespace qm::source {
namespace {

using F = FieldType;

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(FieldKind, EngineTypesToFieldTypes) {
  struct Case {
    int type, attributes, size;
    const char* format;
    FieldKind want;
  };
  const std::vector<Case> cases = {
      {dbBoolean, 0, 1, "", {F::ftBoolean, 0}},
      {dbByte, 0, 1, "", {F::ftSmallint, 0}},
      {dbInteger, 0, 2, "", {F::ftSmallint, 0}},
      {dbLong, dbAutoIncrField, 4, "", {F::ftAutoInc, 0}},
      {dbLong, 0, 4, "", {F::ftInteger, 0}},
      {dbBigInt, 0, 8, "", {F::ftInteger, 0}},
      {dbCurrency, 0, 8, "", {F::ftCurrency, 0}},
      {dbSingle, 0, 4, "", {F::ftFloat, 0}},
      {dbDouble, 0, 8, "", {F::ftFloat, 0}},
      {dbNumeric, 0, 8, "", {F::ftFloat, 0}},
      {dbDecimal, 0, 8, "", {F::ftFloat, 0}},
      {dbFloat, 0, 8, "", {F::ftFloat, 0}},
      {dbDate, 0, 8, "Short Time", {F::ftTime, 0}},
      {dbDate, 0, 8, "long time", {F::ftTime, 0}},
      {dbDate, 0, 8, "Medium Time", {F::ftTime, 0}},
      {dbDate, 0, 8, "General Date", {F::ftDateTime, 0}},
      {dbDate, 0, 8, "", {F::ftDateTime, 0}},
      {dbTime, 0, 8, "", {F::ftTime, 0}},
      {dbTimeStamp, 0, 8, "", {F::ftDateTime, 0}},
      {dbBinary, 0, 16, "", {F::ftBytes, 16}},
      {dbGUID, 0, 16, "", {F::ftBytes, 16}},
      {dbText, 0, 0, "", {F::ftString, 255}},
      {dbText, 0, 40, "", {F::ftString, 40}},
      {dbChar, 0, 10, "", {F::ftString, 10}},
      {dbLongBinary, 0, 0, "", {F::ftBlob, 0}},
      {dbVarBinary, 0, 5, "", {F::ftBlob, 5}},
      {dbMemo, 0, 0, "", {F::ftMemo, 0}},
      {99, 0, 3, "", {F::ftUnknown, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(field_kind(c.type, c.attributes, c.size, c.format), c.want)
        << c.type << " " << c.format;
}

TEST(CellText, EachValueAsText) {
  auto cell = [](Cell::Kind k, double n = 0, std::string t = {}, bool b = false) {
    Cell c;
    c.kind = k;
    c.number = n;
    c.text = std::move(t);
    c.boolean = b;
    return c;
  };
  using K = Cell::Kind;
  struct Case {
    Cell cell;
    FieldType type;
    const char* want;
  };
  const std::vector<Case> cases = {
      {cell(K::Number, 3), F::ftFloat, "3"},
      {cell(K::Number, 0.1), F::ftFloat, "0.1"},
      {cell(K::Number, 12.5), F::ftString, "12.5"},
      {cell(K::Number, -7), F::ftInteger, "-7"},
      {cell(K::Number, 1), F::ftBoolean, "True"},
      {cell(K::Boolean, 0, {}, false), F::ftBoolean, "False"},
      {cell(K::Boolean, 0, {}, true), F::ftString, "True"},
      {cell(K::Text, 0, "A-1"), F::ftFloat, "A-1"},
      {cell(K::Error, 0, "#N/A"), F::ftFloat, "#N/A"},
      {cell(K::DateTime, 45000), F::ftDateTime, "3/15/2023"},
      {cell(K::DateTime, 45000.75), F::ftDateTime, "3/15/2023 6:00:00 PM"},
      {cell(K::DateTime, 45000.75), F::ftTime, "6:00:00 PM"},
      {cell(K::DateTime, 45000.75), F::ftDate, "3/15/2023"},
      {cell(K::DateTime, 0.5), F::ftString, "12:00:00 PM"},
  };
  for (const auto& c : cases) EXPECT_EQ(cell_text(c.cell, c.type), c.want) << c.want;
  for (F t : {F::ftString, F::ftFloat, F::ftBoolean, F::ftDateTime, F::ftTime, F::ftMemo})
    EXPECT_EQ(cell_text(Cell{}, t), "") << field_type_name(t);
}

class TableOnText : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("prices.csv", "Part,Price\nA,1\nB,2.5\nC,\n");
    dir.write("empty.csv", "Part,Price,Qty\n");
    db.setDatabaseType("Text");
    db.setDatabase(dir.path());
    table.setDatabase(&db);
  }
  test::MachineScope machine{{"3.5", "3.6", "12.0"}};
  test::TempDir dir;
  TDaoDatabase db;
  TDaoTable table;
};

TEST_F(TableOnText, OpenRefusals) {
  TDaoTable lone;
  lone.setTableName("prices.csv");
  EXPECT_EQ(message_of([&] { lone.open(); }),
            "TDaoTable.OpenDaoRecordset: Missing Database Property");
  EXPECT_EQ(message_of([&] { table.open(); }),
            "TDaoTable.OpenDaoRecordset: Missing TableName or QueryDefName, or SQL is empty!");
  table.setTableName("prices.csv");
  EXPECT_EQ(message_of([&] { table.open(); }),
            "TDaoTable.OpenDaoRecordset: Database is NOT connected");
  db.setConnected(true);
  table.setTableType(16);
  EXPECT_EQ(message_of([&] { table.open(); }),
            "TDaoTable.OpenDaoRecordset: DynamicTables are for ODBC connections only!");
  EXPECT_FALSE(table.active());
}

TEST_F(TableOnText, GuardsWhileOpen) {
  db.setConnected(true);
  table.setTableName("prices.csv");
  table.open();
  TDaoDatabase other;
  EXPECT_EQ(message_of([&] { table.setTableName("x"); }),
            "TDaoTable.F_Set_TableName: Cannot set TableName while Table is active!");
  EXPECT_EQ(message_of([&] { table.setTableType(4); }),
            "TDaoTable.F_Set_TableType: Cannot set TableType while Table is active!");
  EXPECT_EQ(message_of([&] { table.setLockType(1); }),
            "TDaoTable.F_Set_LockType: Cannot set LockType while Table is active!");
  EXPECT_EQ(message_of([&] { table.setReadOnly(true); }),
            "TDaoTable.F_Set_ReadOnly: Cannot set ReadOnly while table is Active!");
  EXPECT_EQ(message_of([&] { table.setDatabase(&other); }),
            "TDaoTable.F_Set_Database: Cannot set Database while Table is Active!");
  EXPECT_EQ(table.tableName(), "prices.csv");
  EXPECT_EQ(table.tableType(), 2);
  // Closing first, renaming works.
  table.close();
  table.setTableName("empty.csv");
  table.open();
  EXPECT_EQ(table.fieldCount(), 3);
}

TEST_F(TableOnText, WalksRowsAndGivesTexts) {
  db.setConnected(true);
  table.setTableName("prices.csv");
  table.open();
  EXPECT_FALSE(table.name().empty());
  EXPECT_EQ(table.name().rfind("DaoTable_", 0), 0u);
  ASSERT_EQ(table.fieldCount(), 2);
  EXPECT_EQ(table.field(0).displayName(), "Part");
  EXPECT_EQ(table.field(1).dataType(), F::ftString);
  EXPECT_EQ(table.field(1).size(), 255);
  EXPECT_EQ(table.fieldByName("PRICE").name(), "Price");
  EXPECT_EQ(table.findField("nope"), nullptr);
  EXPECT_THROW(table.field(2), ListIndexError);
  std::vector<std::string> seen;
  std::string price;  // read into again on each row: an empty value leaves nothing behind
  for (table.first(); !table.eof(); table.next()) {
    table.field(1).readString(price);
    EXPECT_EQ(price, table.field(1).asString());
    const std::string* held = table.field(1).heldText();  // a text file holds only texts
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(*held, price);
    seen.push_back(table.field(0).asString() + "=" + price +
                   (table.field(1).isNull() ? "(null)" : ""));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"A=1", "B=2.5", "C=(null)"}));
  EXPECT_EQ(table.recordCount(), 3);
  EXPECT_THROW(table.field(0).setAsString("x"), DatabaseError);
  table.first();
  table.next();
  EXPECT_EQ(table.recordCount(), 3);
  EXPECT_EQ(table.field(0).asString(), "B");  // counting put the cursor back
}

TEST_F(TableOnText, EmptyTableHasItsColumnsAndIsAtItsEnd) {
  db.setConnected(true);
  table.setTableName("empty.csv");
  table.open();
  EXPECT_EQ(table.fieldCount(), 3);
  EXPECT_TRUE(table.eof());
  table.first();
  EXPECT_TRUE(table.eof());
  EXPECT_EQ(table.field(2).asString(), "");
  EXPECT_EQ(table.recordCount(), 0);
}

TEST_F(TableOnText, UnknownNameFailsWithTheEngineMessage) {
  db.setConnected(true);
  table.setTableName("Master$");
  EXPECT_EQ(message_of([&] { table.open(); }),
            "The database engine could not find the object 'Master$'. Make sure the object "
            "exists and that you spell its name and the path name correctly.");
  EXPECT_FALSE(table.active());
  EXPECT_TRUE(db.connected());
  EXPECT_TRUE(db.attachedTableList().empty());
}

TEST_F(TableOnText, AutoActivateConnectsTheDatabase) {
  table.setTableName("prices.csv");
  table.setDatabaseAutoActivate(true);
  table.open();
  EXPECT_TRUE(db.connected());
  EXPECT_TRUE(table.active());
}

TEST_F(TableOnText, TableNameClearsOrderAndQuery) {
  table.setIndexName("PART");
  table.setQueryDefName("q");
  table.setSortedBy({"Part"});
  table.setTableName("prices.csv");
  EXPECT_EQ(table.indexName(), "");
  EXPECT_EQ(table.queryDefName(), "");
  EXPECT_TRUE(table.sortedBy().empty());
}

TEST(TDaoTable, DatabaseGoneFirst) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  dir.write("a.csv", "x\n1\n");
  TDaoTable table;
  {
    TDaoDatabase db;
    db.setDatabaseType("Text");
    db.setDatabase(dir.path());
    db.setConnected(true);
    table.setDatabase(&db);
    table.setTableName("a.csv");
    table.open();
  }
  EXPECT_FALSE(table.active());
  EXPECT_EQ(table.database(), nullptr);
}

}  // namespace
}  // namespace qm::source
