#include <gtest/gtest.h>

#include <fstream>

#include "core/error.h"
#include "source/dao_database.h"
#include "source/dao_table.h"
#include "source/tests/test_util.h"

namespace qm::source {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows read_all(const std::string& type, const std::string& database, const std::string& table,
              const std::string& params = "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;") {
  TDaoDatabase db;
  db.setDatabaseType(type);
  db.setDatabase(database);
  db.setDatabaseParameters(params);
  db.setConnected(true);
  TDaoTable t;
  t.setDatabase(&db);
  t.setTableName(table.empty() ? db.tableNameList().at(0) : table);
  t.open();
  Rows rows;
  std::vector<std::string> names;
  for (int i = 0; i < t.fieldCount(); ++i) names.push_back(t.field(i).displayName());
  rows.push_back(names);
  for (; !t.eof(); t.next()) {
    std::vector<std::string> r;
    for (int i = 0; i < t.fieldCount(); ++i) r.push_back(t.field(i).asString());
    rows.push_back(r);
  }
  return rows;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Readers, SameContentAsXlsAndCsvReadsTheSame) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  Rows xls = read_all("Excel 8.0", test::fixture("same-content.xls"), "");
  Rows csv =
      read_all("Text", std::string(QM_SOURCE_DIR) + "/source/tests/fixtures/", "same-content.csv");
  ASSERT_EQ(xls.size(), 5u);
  ASSERT_EQ(xls.size(), csv.size());
  // The workbook keeps the last column, InStock, as logical cells, which read as True and
  // False; the text file has the words as written.
  for (std::size_t r = 0; r < xls.size(); ++r) {
    ASSERT_EQ(xls[r].size(), 6u);
    for (std::size_t c = 0; c < 5; ++c) EXPECT_EQ(xls[r][c], csv[r][c]) << r << "," << c;
  }
  EXPECT_EQ(xls[1][5], "True");
  EXPECT_EQ(csv[1][5], "TRUE");
  EXPECT_EQ(xls[2][5], "False");
  EXPECT_EQ(xls[1][4], "3/5/2024");
  EXPECT_EQ(xls[3][1],
            "Washer \xC3\xA9"
            "cru");
  EXPECT_EQ(xls[2][3], "");
  EXPECT_EQ(xls[4][2], "1234567.891");
  Rows xlsx = read_all("Excel 8.0", test::fixture("same-content.xlsx"), "");
  EXPECT_EQ(xlsx, csv);
}

TEST(Readers, WorkbookTablesAndHeaderlessRead) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  TDaoDatabase db;
  db.setDatabaseType("Excel 8.0");
  db.setDatabase(test::fixture("same-content.xls"));
  db.setConnected(true);
  EXPECT_EQ(db.tableNameList(), (std::vector<std::string>{"same-content$"}));
  Rows raw = read_all("Excel 8.0", test::fixture("same-content.xls"), "same-content$",
                      "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  ASSERT_EQ(raw.size(), 6u);
  EXPECT_EQ(raw[0][0], "F1");
  EXPECT_EQ(raw[1][0], "Part");
  // Header text above numbers makes a mixed column: it reads as text, numbers as written.
  EXPECT_EQ(raw[2][2], "3");
}

TEST(Readers, BrokenWorkbooksFailWithTheFileNamed) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  std::string good = slurp(test::fixture("same-content.xls"));
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.xls", ""},
      {"text.xls", "Part,Price\nA,1\n"},
      {"truncated.xls", good.substr(0, 1500)},
      {"no-workbook-stream.xls", good.substr(0, 512) + std::string(good.size() - 512, '\0')},
  };
  for (const auto& [name, bytes] : files) {
    std::string path = dir.write(name, bytes);
    TDaoDatabase db;
    db.setDatabaseType("Excel 8.0");
    db.setDatabase(path);
    try {
      db.setConnected(true);
      ADD_FAILURE() << name << " opened";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.connected());
  }
}

// Records past the container header all declare 0x7F7F bytes, more than a record can hold.
TEST(Readers, OversizedRecordsAreRefused) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  std::string good = slurp(test::fixture("same-content.xls"));
  std::string path =
      dir.write("garbled.xls", good.substr(0, 512) + std::string(good.size() - 512, '\x7f'));
  TDaoDatabase db;
  db.setDatabaseType("Excel 8.0");
  db.setDatabase(path);
  EXPECT_THROW(db.setConnected(true), DatabaseError);
}

}  // namespace
}  // namespace qm::source

#include "tables/dbf_table.h"

namespace qm::source {
namespace {

TEST(Readers, DbaseTableThroughTheTableEngine) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  {
    tables::DbfTable t;
    t.setFolder(dir.path());
    t.setTableName("PRICES.DBF");
    t.setFieldDefs({{"PART", 'C', 10, 0},
                    {"PRICE", 'N', 10, 2},
                    {"ADDED", 'D', 8, 0},
                    {"STOCK", 'L', 1, 0},
                    {"NOTE", 'M', 10, 0}});
    t.createTable();
    t.open();
    t.append();
    t.field(0).setAsString("A-1");
    t.field(1).setAsString("12.50");
    t.field(2).setAsDateTime(DateTime{day_from_ymd(2024, 3, 5), 0});
    t.field(3).setAsBoolean(true);
    t.field(4).setAsString("long note");
    t.post();
    t.append();
    t.field(0).setAsString("B-2");
    t.post();
    t.close();
  }
  dir.write("readme.txt", "not a table");
  TDaoDatabase db;
  db.setDatabaseType("dBase 5.0");
  db.setDatabase(dir.path());
  db.setConnected(true);
  EXPECT_EQ(db.tableNameList(), (std::vector<std::string>{"PRICES.DBF"}));
  TDaoTable t;
  t.setDatabase(&db);
  t.setTableName("prices.dbf");
  t.open();
  ASSERT_EQ(t.fieldCount(), 5);
  EXPECT_EQ(t.field(0).dataType(), FieldType::ftString);
  EXPECT_EQ(t.field(0).size(), 10);
  EXPECT_EQ(t.field(1).dataType(), FieldType::ftFloat);
  EXPECT_EQ(t.field(2).dataType(), FieldType::ftDateTime);
  EXPECT_EQ(t.field(3).dataType(), FieldType::ftBoolean);
  EXPECT_EQ(t.field(4).dataType(), FieldType::ftMemo);
  EXPECT_EQ(t.field(0).asString(), "A-1");
  EXPECT_EQ(t.field(1).asString(), "12.5");
  EXPECT_EQ(t.field(2).asString(), "3/5/2024");
  EXPECT_EQ(t.field(3).asString(), "True");
  EXPECT_EQ(t.field(4).asString(), "long note");
  t.next();
  EXPECT_EQ(t.field(0).asString(), "B-2");
  EXPECT_EQ(t.field(1).asString(), "");
  EXPECT_EQ(t.field(2).asString(), "");
  t.next();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.recordCount(), 2);
}

// A memo is read only when its field is asked for: a damaged one stops nothing else, and the
// last record's memo is still there once the walk has met the end.
TEST(Readers, DbaseMemoIsReadOnlyWhenItsFieldIs) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  {
    tables::DbfTable t;
    t.setFolder(dir.path());
    t.setTableName("MEMOS.DBF");
    t.setFieldDefs({{"PART", 'C', 10, 0}, {"NOTE", 'M', 10, 0}});
    t.createTable();
    t.open();
    for (const char* part : {"A-1", "B-2"}) {
      t.append();
      t.field(0).setAsString(part);
      t.field(1).setAsString(std::string("note of ") + part);
      t.post();
    }
    t.close();
  }
  // The first record's memo points far past the end of the memo file.
  std::string path = dir.path() + "/MEMOS.DBF";
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto at = bytes.find("A-1");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at + 10, 10, "0000099999");
  dir.write("MEMOS.DBF", bytes);

  TDaoDatabase db;
  db.setDatabaseType("dBase 5.0");
  db.setDatabase(dir.path());
  db.setConnected(true);
  TDaoTable t;
  t.setDatabase(&db);
  t.setTableName("memos.dbf");
  t.open();
  std::vector<std::string> parts;
  for (; !t.eof(); t.next()) parts.push_back(t.field(0).asString());
  EXPECT_EQ(parts, (std::vector<std::string>{"A-1", "B-2"}));
  EXPECT_EQ(t.field(1).asString(), "note of B-2");
  t.first();
  EXPECT_THROW(t.field(1).asString(), DatabaseError);
}

}  // namespace
}  // namespace qm::source
