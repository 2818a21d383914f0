// The walk writing real price files through the table engine, read back from disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/messages.h"
#include "pricefile/convert_rows.h"
#include "pricefile/dbf_price_sink.h"
#include "pricefile/tests/memory_dataset.h"
#include "pricefile/tests/price_file_fields.h"

using namespace qm;
using namespace qm::pricefile;
namespace fs = std::filesystem;

namespace {

class PriceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (std::string("qm-build-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    create(test::price_file_fields());
  }
  void TearDown() override { fs::remove_all(dir_); }

  void create(std::vector<tables::FieldDef> defs) {
    fs::remove(dir_ / "ACMELIST.dbf");
    tables::DbfTable t;
    t.setFolder(dir_.string());
    t.setTableName("ACMELIST.dbf");
    t.setFieldDefs(std::move(defs));
    t.setTableLevel(7);
    t.createTable();
  }

  bool convert(std::vector<std::string> mapping) {
    tblExport.setFolder(dir_.string());
    tblExport.setTableName("ACMELIST.dbf");
    tblExport.open();
    DbfPriceSink sink(tblExport);
    std::int64_t counter = 0;
    return convert_rows(in, 1, counter, std::move(mapping), run, {src, &src, sink, messages});
  }

  // Every record's value of a field, read from the file by a fresh table object.
  std::vector<std::string> column(const char* field) {
    tables::DbfTable t;
    t.setFolder(dir_.string());
    t.setTableName("ACMELIST.dbf");
    t.open();
    std::vector<std::string> v;
    for (t.first(); !t.eof(); t.next()) v.push_back(t.fieldByName(field).asString());
    t.close();
    return v;
  }

  fs::path dir_;
  test::MemoryDataset src;
  tables::DbfTable tblExport;
  ScriptedMessages messages;
  ConvertInputs in{"ACME", "01/06/2024", "", false, false, false, 0};
  BuildRun run;
};

using V = std::vector<std::string>;
using test::Rows;

}  // namespace

TEST_F(PriceFile, RecordsReadBackFromDisk) {
  in.addTitleToDesc = true;
  src.addTable("Sheet1", 5,
               {{"CABLES", "", "", "", ""},
                {"ab", "Cat 5|e", "$1,234.567", "(12.995)", "12"},
                {"x2", "Patch", "N/A", "1.2.3", ""}});
  ASSERT_TRUE(
      convert({"PARTNUMBER=0", "PARTNUMBER=4", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"}));
  EXPECT_EQ(column("DEPT"), V({"ACME", "ACME", "ACME"}));
  EXPECT_EQ(column("partnumber"), V({"0", "AB12", "X2"}));
  EXPECT_EQ(column("DESCRIPTN"), V({"Update 01/06/2024", "CABLES, Cat 5e", "CABLES, Patch"}));
  EXPECT_EQ(column("LISTPRICE"), V({"", "1234.57", "0"}));
  EXPECT_EQ(column("COST_OF_1"), V({"", "-13", "0"}));
  EXPECT_EQ(run.recordCount, 2);
  EXPECT_FALSE(tblExport.active());
  EXPECT_FALSE(tblExport.writeBehind());  // the table object goes on to registration tables
}

TEST_F(PriceFile, BreaksFoldedIntoTheRecordOnDisk) {
  in.rowBreak = true;
  Rows rows = {{"P1", "Bolt", "9.99", "8.00", "1-9"}};
  for (int i = 1; i <= 8; ++i)
    rows.push_back({"P1", "", "", std::to_string(i) + ".255", std::to_string(i * 10) + "-99"});
  rows.push_back({"$END$", "", "", "", ""});
  rows.push_back({"P2", "Nut", "1", "1", ""});
  src.addTable("Sheet1", 5, rows);
  ASSERT_TRUE(
      convert({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
  // The marker right after the folded group ends the folding, not the sheet.
  EXPECT_EQ(column("partnumber"), V({"0", "P1", "P2"}));
  for (int level = 1; level <= 6; ++level) {
    std::string lev = "LEV" + std::to_string(level), cost = "COSTLEV" + std::to_string(level);
    EXPECT_EQ(column(lev.c_str())[1], std::to_string(level * 10));
    EXPECT_EQ(column(cost.c_str())[1], std::to_string(level) + ".26");
  }
}

TEST_F(PriceFile, FieldsTheFileRefusesOrLacksFallBack) {
  auto defs = test::price_file_fields();
  defs[3] = {"LISTPRICE", 'N', 5, 2};
  create(defs);
  src.addTable("Sheet1", 3, {{"P1", "d", "12345.5"}, {"P2", "d", "7.5"}});
  ASSERT_TRUE(
      convert({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "NOTAFIELD=2", "COST_OF_9=2"}));
  EXPECT_EQ(column("LISTPRICE"), V({"", "0", "7.5"}));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PriceFile, AStoppedWalkKeepsThePostedRecords) {
  src.addTable("Sheet1", 3, {{"P1", "d", "1"}, {"P2", "d", "2"}});
  src.addTable("Sheet2", 3, {{"Q1", "d", "1"}});
  in.multipleTabs = true;  // with no sheet list the walk runs off the end of the table list
  ASSERT_FALSE(convert({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2"}));
  EXPECT_EQ(column("partnumber"), V({"0", "P1", "P2", "Q1"}));
  EXPECT_EQ(messages.texts(), V({"List index out of bounds (2)"}));
}

TEST_F(PriceFile, MissingDeptStopsWithTheEnginesText) {
  auto defs = test::price_file_fields();
  defs.erase(defs.begin());
  create(defs);
  src.addTable("Sheet1", 3, {{"P1", "d", "1"}});
  ASSERT_FALSE(convert({"PARTNUMBER=0", "DESCRIPTN=1"}));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("DEPT"), std::string::npos);
  EXPECT_TRUE(column("partnumber").empty());
}
