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
  // FreeXL gives a workbook's logical cells as the numbers 1 and 0, so the last column,
  // InStock, is compared apart.
  for (std::size_t r = 0; r < xls.size(); ++r) {
    ASSERT_EQ(xls[r].size(), 6u);
    for (std::size_t c = 0; c < 5; ++c) EXPECT_EQ(xls[r][c], csv[r][c]) << r << "," << c;
  }
  EXPECT_EQ(xls[1][4], "3/5/2024");
  EXPECT_EQ(xls[3][1],
            "Washer \xC3\xA9"
            "cru");
  EXPECT_EQ(xls[2][3], "");
  EXPECT_EQ(xls[4][2], "1234567.891");
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

// FreeXL 1.0.6 reads 32 KiB past a stack buffer when a record of this file declares that
// length (AddressSanitizer reports it inside FreeXL's iconv call). Kept, disabled, until the
// .xls reader no longer goes through FreeXL.
TEST(Readers, DISABLED_OversizedRecordsAreRefused) {
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
