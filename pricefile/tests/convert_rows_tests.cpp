#include <gtest/gtest.h>

#include "core/error.h"
#include "core/messages.h"
#include "pricefile/convert_rows.h"
#include "pricefile/price_sink.h"
#include "pricefile/tests/memory_dataset.h"

using namespace qm;
using namespace qm::pricefile;
using qm::test::MemoryDataset;
using qm::test::Rows;

namespace {

std::vector<MemoryPriceSink::FieldSpec> price_fields() {
  std::vector<MemoryPriceSink::FieldSpec> f = {{"DEPT", 'C', 4},       {"partnumber", 'C', 30},
                                               {"DESCRIPTN", 'C', 80}, {"LISTPRICE", 'N', 12},
                                               {"COST_OF_1", 'N', 12}, {"OQTY", 'C', 10},
                                               {"UOM", 'C', 4}};
  for (int i = 1; i <= 6; ++i) {
    f.push_back({"LEV" + std::to_string(i), 'N', 10});
    f.push_back({"COSTLEV" + std::to_string(i), 'N', 12});
  }
  return f;
}

// One walk over an in-memory source into an in-memory price file.
struct Walk {
  MemoryDataset src;
  MemoryPriceSink out{price_fields()};
  ScriptedMessages messages;
  ConvertInputs in;
  BuildRun run;
  std::int64_t counter = 0;

  Walk() {
    in.manufacturer = "ACME";
    in.updateDate = "01/06/2024";
  }
  bool go(std::vector<std::string> mapping, std::int64_t startRow = 1) {
    return convert_rows(in, startRow, counter, std::move(mapping), run, {src, &src, out, messages});
  }
  // Part numbers of the part records (the heading record left out).
  std::vector<std::string> parts() const {
    std::vector<std::string> p;
    for (std::size_t i = 1; i < out.size(); ++i) p.push_back(out.text(i, "partnumber"));
    return p;
  }
  std::string at(std::size_t record, const char* field) const { return out.text(record, field); }
};

const std::vector<std::string> kBasic = {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2"};

Rows parts_rows(int n) {
  Rows r;
  for (int i = 1; i <= n; ++i)
    r.push_back({"P" + std::to_string(i), "Item " + std::to_string(i), "1.5"});
  return r;
}

}  // namespace

TEST(ConvertRows, HeadingRecordThenOneRecordPerPart) {
  Walk w;
  w.src.addTable("Sheet1", 3,
                 {{"ab-1", "Bolt", "$1,234.567"}, {"", "no part", "9"}, {"X2", "Nut", "N/A"}});
  ASSERT_TRUE(w.go(kBasic));
  ASSERT_EQ(w.out.size(), 3u);
  EXPECT_EQ(w.at(0, "DEPT"), "ACME");
  EXPECT_EQ(w.at(0, "partnumber"), "0");
  EXPECT_EQ(w.at(0, "DESCRIPTN"), "Update 01/06/2024");
  EXPECT_EQ(w.at(1, "DEPT"), "ACME");
  EXPECT_EQ(w.at(1, "partnumber"), "AB-1");
  EXPECT_EQ(w.at(1, "DESCRIPTN"), "Bolt");
  EXPECT_EQ(w.at(1, "LISTPRICE"), "1234.57");
  EXPECT_EQ(w.at(2, "LISTPRICE"), "0");
  EXPECT_EQ(w.run.recordCount, 2);
  EXPECT_EQ(w.counter, 3);
  EXPECT_EQ(w.out.closes, 1);
  EXPECT_EQ(w.messages.busyDepth, 0);
  EXPECT_TRUE(w.messages.shown.empty());
}

TEST(ConvertRows, HeadingRecordNamesThePriceSheet) {
  Walk w;
  w.in.priceSheet = "PS-7";
  w.src.addTable("Sheet1", 3, parts_rows(1));
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.at(0, "DESCRIPTN"), "Update 01/06/2024 Price Sheet PS-7");
}

TEST(ConvertRows, RowsWithoutPartNumbersWriteNothingAtAll) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"", "a", "1"}, {"", "b", "2"}});
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.out.size(), 0u);
  EXPECT_EQ(w.run.recordCount, 0);
  EXPECT_EQ(w.out.closes, 1);
}

TEST(ConvertRows, DescriptionRequiredUnlessOptional) {
  for (bool optional : {false, true}) {
    Walk w;
    w.run.descriptionOptional = optional;
    w.src.addTable("Sheet1", 3, {{"P1", "", "1"}, {"P2", "d", "2"}});
    ASSERT_TRUE(w.go(kBasic));
    EXPECT_EQ(w.parts(),
              optional ? std::vector<std::string>({"P1", "P2"}) : std::vector<std::string>({"P2"}));
  }
}

TEST(ConvertRows, StartRowCountsFromOne) {
  struct Case {
    std::int64_t start;
    std::vector<std::string> parts;
  } cases[] = {{0, {"P1", "P2", "P3", "P4"}},
               {1, {"P1", "P2", "P3", "P4"}},
               {2, {"P2", "P3", "P4"}},
               {4, {"P4"}},
               {5, {}}};
  for (const auto& c : cases) {
    Walk w;
    w.src.addTable("Sheet1", 3, parts_rows(4));
    ASSERT_TRUE(w.go(kBasic, c.start));
    EXPECT_EQ(w.parts(), c.parts) << "start row " << c.start;
    EXPECT_EQ(w.counter, 4) << "start row " << c.start;
  }
}

TEST(ConvertRows, EndMarkerEndsTheSheet) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"P1", "a", "1"}, {"$END$", "x", "1"}, {"P3", "c", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"P1"}));
  EXPECT_EQ(w.counter, 1);
}

TEST(ConvertRows, EndMarkerIsLookedForBeforeTheStartRow) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"P1", "a", "1"}, {"$END$", "", ""}, {"P3", "c", "1"}});
  ASSERT_TRUE(w.go(kBasic, 3));
  EXPECT_EQ(w.out.size(), 0u);
  EXPECT_EQ(w.counter, 1);
}

TEST(ConvertRows, EndMarkerInTheFirstRowIsAnOrdinaryPart) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"$END$", "first", "1"}, {"P2", "b", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"$END$", "P2"}));
}

TEST(ConvertRows, EndMarkerIsReadInTheColumnOfTheLastPartNumber) {
  Walk w;
  // Part numbers in column 2: a marker in column 0 means nothing once a part was met.
  w.src.addTable("Sheet1", 3,
                 {{"", "a", "P1"}, {"$END$", "b", "P2"}, {"", "c", "$END$"}, {"", "d", "P4"}});
  ASSERT_TRUE(w.go({"PARTNUMBER=2", "DESCRIPTN=1"}));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"P1", "P2"}));
}

TEST(ConvertRows, HeadingRowGoesInFrontOfTheDescriptionsAfterIt) {
  Walk w;
  w.in.addTitleToDesc = true;
  w.src.addTable("Sheet1", 3,
                 {{"CABLES", "", ""},
                  {"100", "Cat 5|e", "1"},
                  {"101", "Cat 6", "1"},
                  {"TOOLS", "", ""},
                  {"200", "Pliers", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  ASSERT_EQ(w.parts(), std::vector<std::string>({"100", "101", "200"}));
  EXPECT_EQ(w.at(1, "DESCRIPTN"), "CABLES, Cat 5e");
  EXPECT_EQ(w.at(2, "DESCRIPTN"), "CABLES, Cat 6");
  EXPECT_EQ(w.at(3, "DESCRIPTN"), "TOOLS, Pliers");
}

TEST(ConvertRows, WithoutTheHeadingOptionBarsAreStillRemoved) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"CABLES", "", ""}, {"100", "Cat 5|e", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  ASSERT_EQ(w.parts(), std::vector<std::string>({"100"}));
  EXPECT_EQ(w.at(1, "DESCRIPTN"), "Cat 5e");
}

TEST(ConvertRows, PartNumberLinesJoinTheirCellsInUpperCase) {
  Walk w;
  // A word's worth of the first cell holds the neighbours of a and z and a letter outside ASCII,
  // which all stay as they are.
  w.src.addTable("Sheet1", 3, {{"`{\303\251ab-xyz", "d", "12"}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "PARTNUMBER=2"}));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"`{\303\251AB-XYZ12"}));
}

TEST(ConvertRows, WhatEachKindOfLineWrites) {
  Walk w;
  // 0 part, 1 desc, 2 list, 3 cost, 4 oqty, 5 oqty (empty), 6 uom
  w.src.addTable("Sheet1", 7, {{"P1", "Bolt", "PRICE=12.345", "(3.999)", "10", "", "EA"}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "OQTY=4", "OQTY=5",
                    "UOM=6", "LEV2=CONS-7", "NOSUCHFIELD=6", "UOM=CONS-PK"}));
  ASSERT_EQ(w.out.size(), 2u);
  EXPECT_EQ(w.at(1, "LISTPRICE"), "12.35");
  EXPECT_EQ(w.at(1, "COST_OF_1"), "-4");
  EXPECT_EQ(w.at(1, "OQTY"), "10");  // the empty cell of the second line leaves it alone
  EXPECT_EQ(w.at(1, "UOM"), "EA");   // a constant line for a plain field writes nothing
  EXPECT_EQ(w.at(1, "LEV2"), "7");
  EXPECT_TRUE(w.messages.shown.empty());
}

TEST(ConvertRows, LevConstantTakesFourCharacters) {
  Walk w;
  w.out.fields[w.out.findField("LEV1")].type = 'C';
  w.src.addTable("Sheet1", 2, {{"P1", "d"}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "LEV1=CONS-ABCDEFG"}));
  EXPECT_EQ(w.at(1, "LEV1"), "ABCD");
}

TEST(ConvertRows, PriceFieldsFallBackToZero) {
  Walk w;
  w.out.fields[w.out.findField("LISTPRICE")].width = 4;
  w.src.addTable("Sheet1", 3, {{"P1", "d", "12345.5"}, {"P2", "d", "7.5"}});
  // A refused value, a constant where a column should be, a column past the last one.
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=9", "COSTLEV3=ROWS"}));
  ASSERT_EQ(w.out.size(), 3u);
  EXPECT_EQ(w.at(1, "COSTLEV3"), "0.00");
  EXPECT_EQ(w.at(1, "LISTPRICE"), "0.00");
  EXPECT_EQ(w.at(2, "LISTPRICE"), "7.5");
  EXPECT_EQ(w.at(1, "COST_OF_1"), "0.00");
}

TEST(ConvertRows, FoldsFollowingRowsIntoBreaks) {
  struct Case {
    int following;
    int levels;
  } cases[] = {{3, 3}, {6, 6}, {7, 6}, {8, 6}};
  for (const auto& c : cases) {
    Walk w;
    w.in.rowBreak = true;
    Rows rows = {{"P1", "Bolt", "9.99", "8.00", "1-9"}};
    for (int i = 1; i <= c.following; ++i)
      rows.push_back({"P1", "", "", std::to_string(i) + ".255", std::to_string(i * 10) + "-99"});
    rows.push_back({"P2", "Nut", "1", "1", ""});
    w.src.addTable("Sheet1", 5, rows);
    ASSERT_TRUE(
        w.go({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
    ASSERT_EQ(w.parts(), std::vector<std::string>({"P1", "P2"})) << c.following;
    EXPECT_EQ(w.run.recordCount, 2);
    EXPECT_EQ(w.counter, c.following + 2);
    for (int level = 1; level <= 6; ++level) {
      std::string lev = "LEV" + std::to_string(level), cost = "COSTLEV" + std::to_string(level);
      bool set = level <= c.levels;
      EXPECT_EQ(w.at(1, lev.c_str()), set ? std::to_string(level * 10) : "") << c.following;
      EXPECT_EQ(w.at(1, cost.c_str()), set ? std::to_string(level) + ".26" : "") << c.following;
    }
    EXPECT_EQ(w.at(1, "COST_OF_1"), "8");  // the part's own row keeps its price
  }
}

TEST(ConvertRows, FoldingNeedsTheOptionAndNonZeroColumns) {
  struct Case {
    bool option;
    std::vector<std::string> mapping;
  } cases[] = {
      {false, {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}},
      {true, {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-0"}},
      {true, {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=0", "LEV1=ROWBREAK-4"}},
      {true, {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=3", "LEV1=ROWBREAK-4"}},  // no break price
  };
  for (const auto& c : cases) {
    Walk w;
    w.in.rowBreak = c.option;
    w.src.addTable("Sheet1", 5, {{"P1", "a", "1", "2", "3"}, {"P1", "b", "1", "2", "3"}});
    ASSERT_TRUE(w.go(c.mapping));
    EXPECT_EQ(w.parts(), std::vector<std::string>({"P1", "P1"})) << c.mapping.back();
    EXPECT_EQ(w.at(1, "LEV1"), "");
  }
}

TEST(ConvertRows, EndMarkerRightAfterAFoldedGroupIsAnOrdinaryRow) {
  Walk w;
  w.in.rowBreak = true;
  w.src.addTable("Sheet1", 5,
                 {{"P1", "a", "1", "2", "10"},
                  {"P1", "", "", "3", "20"},
                  {"$END$", "m", "1", "1", ""},
                  {"P2", "b", "1", "1", ""}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"P1", "$END$", "P2"}));
  EXPECT_EQ(w.at(1, "LEV1"), "20");
}

TEST(ConvertRows, EndMarkerAfterAnUnfoldedPartEndsTheSheet) {
  Walk w;
  w.in.rowBreak = true;
  w.src.addTable(
      "Sheet1", 5,
      {{"P1", "a", "1", "2", "10"}, {"$END$", "", "", "", ""}, {"P2", "b", "1", "1", ""}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"P1"}));
}

TEST(ConvertRows, ARefusedBreakLeavesThatLevelWhole) {
  // Level 2's quantity, or its price, is too wide for its field.
  for (const char* narrow : {"LEV2", "COSTLEV2"}) {
    Walk w;
    w.in.rowBreak = true;
    w.out.fields[w.out.findField(narrow)].width = 3;
    w.src.addTable("Sheet1", 5,
                   {{"P1", "a", "1", "2", "1"},
                    {"P1", "", "", "3", "10"},
                    {"P1", "", "", "1000", "1000"},
                    {"P1", "", "", "5", "30"}});
    ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
    EXPECT_EQ(w.at(1, "LEV1"), "10") << narrow;
    EXPECT_EQ(w.at(1, "LEV2"), "") << narrow;  // not half-written
    EXPECT_EQ(w.at(1, "COSTLEV2"), "") << narrow;
    EXPECT_EQ(w.at(1, "LEV3"), "30") << narrow;
    EXPECT_EQ(w.at(1, "COSTLEV3"), "5") << narrow;
  }
}

TEST(ConvertRows, BreakPricesFromListPriceOnlyForRaudukIdentifiers) {
  struct Case {
    const char* manufacturer;
    std::vector<std::string> mapping;
    const char* costlev1;
  } cases[] = {
      {"RAU",
       {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LISTPRICE=2", "LEV1=ROWBREAK-4"},
       "20"},
      {"DUK",
       {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LISTPRICE=2", "LEV1=ROWBREAK-4"},
       "20"},
      {"ACME",
       {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LISTPRICE=2", "LEV1=ROWBREAK-4"},
       "3"},
      {"RAU",
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "LEV1=ROWBREAK-4"},
       "3"},
      {"RAUX",
       {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LISTPRICE=2", "LEV1=ROWBREAK-4"},
       "3"},
  };
  for (const auto& c : cases) {
    Walk w;
    w.in.rowBreak = true;
    w.in.manufacturer = c.manufacturer;
    w.src.addTable("Sheet1", 5, {{"P1", "a", "10", "2", "1"}, {"P1", "", "20", "3", "5"}});
    ASSERT_TRUE(w.go(c.mapping));
    EXPECT_EQ(w.at(1, "COSTLEV1"), c.costlev1) << c.manufacturer;
  }
}

TEST(ConvertRows, MultipleTabsReadsTheFurtherEntriesOfTheTableList) {
  Walk w;
  w.in.multipleTabs = true;
  w.in.sheetCount = 3;
  w.src.addTable("S1", 3, {{"A1", "a", "1"}});
  w.src.addTable("S2", 3, {{"B1", "b", "1"}, {"$END$", "", ""}, {"B3", "b", "1"}});
  w.src.addTable("S3", 3, {{"C1", "c", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"A1", "B1", "C1"}));
  EXPECT_EQ(w.src.opened, std::vector<std::string>({"S1", "S2", "S3"}));
  EXPECT_EQ(w.src.displayWidths(), std::vector<int>({20, 20, 20}));
  EXPECT_EQ(w.out.text(0, "partnumber"), "0");
  EXPECT_EQ(w.out.size(), 4u);  // one heading record for the whole walk
  EXPECT_EQ(w.counter, 3);      // the rows after the end marker are not passed
}

TEST(ConvertRows, SheetOpenAtTheStartIsReadTwiceWhenItWasNotTheFirst) {
  Walk w;
  w.in.multipleTabs = true;
  w.in.sheetCount = 3;
  w.src.addTable("S1", 3, {{"A1", "a", "1"}});
  w.src.addTable("S2", 3, {{"B1", "b", "1"}});
  w.src.addTable("S3", 3, {{"C1", "c", "1"}});
  w.src.close();
  w.src.setTableName("S2");
  w.src.open();
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"B1", "B1", "C1"}));
}

TEST(ConvertRows, StartRowAppliesToTheWholeWalk) {
  Walk w;
  w.in.multipleTabs = true;
  w.in.sheetCount = 2;
  w.src.addTable("S1", 3, parts_rows(2));
  w.src.addTable("S2", 3, {{"B1", "b", "1"}, {"B2", "b", "1"}});
  ASSERT_TRUE(w.go(kBasic, 4));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"B2"}));
}

TEST(ConvertRows, WithoutMultipleTabsOnlyTheOpenSheetIsRead) {
  Walk w;
  w.in.sheetCount = 2;
  w.src.addTable("S1", 3, {{"A1", "a", "1"}});
  w.src.addTable("S2", 3, {{"B1", "b", "1"}});
  ASSERT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"A1"}));
}

TEST(ConvertRows, TableListRunningOutStopsTheWalkAsAnError) {
  Walk w;
  w.in.multipleTabs = true;
  w.in.sheetCount = 0;  // a dBase or text source fills no sheet list
  w.src.addTable("a.dbf", 3, {{"A1", "a", "1"}});
  w.src.addTable("b.dbf", 3, {{"B1", "b", "1"}});
  w.src.addTable("c.dbf", 3, {{"C1", "c", "1"}});
  EXPECT_FALSE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"A1", "B1", "C1"}));
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(w.messages.shown[0].text, "List index out of bounds (3)");
  EXPECT_EQ(w.messages.busyDepth, 0);
  EXPECT_EQ(w.out.closes, 1);
}

TEST(ConvertRows, ASheetThatDoesNotOpenEndsTheWalkQuietly) {
  Walk w;
  w.in.multipleTabs = true;
  w.in.sheetCount = 3;
  w.src.addTable("S1", 3, {{"A1", "a", "1"}});
  w.src.tableNameList.push_back("missing");
  w.src.addTable("S3", 3, {{"C1", "c", "1"}});
  EXPECT_TRUE(w.go(kBasic));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"A1"}));
  EXPECT_TRUE(w.messages.shown.empty());
}

TEST(ConvertRows, ErrorsThatStopTheWalk) {
  struct Case {
    std::vector<std::string> mapping;
    const char* manufacturer;
    std::string drop;  // a field the price file lacks
    std::size_t kept;  // records left in the price file
    const char* text;
  } cases[] = {
      {{"PARTNUMBER=ROWBREAK-0", "DESCRIPTN=1"},
       "ACME",
       "",
       0,
       "'ROW' is not a valid integer value"},
      {{"PARTNUMBER=0", "DESCRIPTN=7"}, "ACME", "", 0, "List index out of bounds (7)"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=CONS-5"},
       "ACME",
       "",
       1,
       "'CON' is not a valid integer value"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=CONS-5"},
       "RAU",
       "",
       1,
       "'CON' is not a valid integer value"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "OQTY=9"}, "ACME", "", 1, "List index out of bounds (9)"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "LEV2=CONS-X"},
       "ACME",
       "",
       1,
       "'X' is not a valid value for field LEV2"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "LEV2=CONS-X"}, "ACME", "LEV2", 1, "Field 'LEV2' not found"},
      {{"PARTNUMBER=0", "DESCRIPTN=1", "XPARTNUMBER=0"},
       "ACME",
       "",
       1,
       "Field 'XPARTNUMBER' not found"},
      {kBasic, "ACME", "DEPT", 0, "Field 'DEPT' not found"},
      {kBasic, "ACME", "partnumber", 0, "Field 'partnumber' not found"},
      {kBasic, "ACME", "DESCRIPTN", 0, "Field 'DESCRIPTN' not found"},
  };
  for (const auto& c : cases) {
    Walk w;
    w.in.manufacturer = c.manufacturer;
    if (!c.drop.empty()) w.out.fields[w.out.findField(c.drop)].name = "gone";
    w.src.addTable("Sheet1", 3, {{"P1", "d", "1"}, {"P2", "d", "2"}});
    EXPECT_FALSE(w.go(c.mapping)) << c.text;
    EXPECT_EQ(w.out.size(), c.kept) << c.text;
    ASSERT_EQ(w.messages.shown.size(), 1u) << c.text;
    EXPECT_EQ(w.messages.shown[0].kind, MsgKind::Error);
    EXPECT_EQ(w.messages.shown[0].text, c.text);
    EXPECT_EQ(w.messages.busyDepth, 0) << c.text;
    EXPECT_EQ(w.out.closes, 1) << c.text;
    EXPECT_EQ(w.run.recordCount, c.kept == 0 ? 0 : static_cast<std::int64_t>(c.kept) - 1);
  }
}

TEST(ConvertRows, ListPriceWithABadColumnFallsBackForOtherIdentifiers) {
  Walk w;
  w.src.addTable("Sheet1", 3, {{"P1", "d", "1"}});
  ASSERT_TRUE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=CONS-5"}));
  EXPECT_EQ(w.at(1, "LISTPRICE"), "0.00");
}

TEST(ConvertRows, DescriptionFieldErrorsStopOnlyWhileAHeadingIsSet) {
  for (bool heading : {false, true}) {
    Walk w;
    w.in.addTitleToDesc = true;
    Rows rows = {{"P1", "d", "1"}};
    if (heading) rows.insert(rows.begin(), {"HEAD", "", ""});
    w.src.addTable("Sheet1", 3, rows);
    bool ok = w.go({"PARTNUMBER=0", "DESCRIPTN=1", "XDESCRIPTN=1"});
    EXPECT_EQ(ok, !heading);
    EXPECT_EQ(w.out.size(), heading ? 1u : 2u);
  }
}

TEST(ConvertRows, RefusedAppendOrPostStopsTheWalkAndKeepsWhatWasPosted) {
  for (bool append : {true, false}) {
    Walk w;
    (append ? w.out.refuseAppendAt : w.out.refusePostAt) = 2;
    w.src.addTable("Sheet1", 3, parts_rows(4));
    EXPECT_FALSE(w.go(kBasic));
    EXPECT_EQ(w.parts(), std::vector<std::string>({"P1"}));
    ASSERT_EQ(w.messages.shown.size(), 1u);
    EXPECT_EQ(w.messages.shown[0].text, append ? "Append refused" : "Post refused");
    EXPECT_EQ(w.run.recordCount, 1);
  }
}

// A price file whose close fails (a held-back write that does not reach the disk).
class FailingClose : public MemoryPriceSink {
 public:
  using MemoryPriceSink::MemoryPriceSink;
  void close() override {
    MemoryPriceSink::close();
    throw TableError("Disk full writing ACMELIST.dbf");
  }
};

TEST(ConvertRows, AFailedCloseIsNoSuccess) {
  MemoryDataset src;
  src.addTable("Sheet1", 3, parts_rows(2));
  FailingClose out(price_fields());
  ScriptedMessages messages;
  ConvertInputs in;
  in.manufacturer = "ACME";
  BuildRun run;
  std::int64_t counter = 0;
  EXPECT_FALSE(convert_rows(in, 1, counter, kBasic, run, {src, &src, out, messages}));
  ASSERT_EQ(messages.texts(), std::vector<std::string>({"Disk full writing ACMELIST.dbf"}));
  EXPECT_EQ(messages.busyDepth, 0);
}

TEST(ConvertRows, ProgressIsReportedSparinglyAndAtTheEnd) {
  Walk w;
  w.src.addTable("Sheet1", 3, parts_rows(40000));
  std::vector<std::int64_t> seen;
  ConvertTargets t{w.src, &w.src, w.out, w.messages, [&](std::int64_t n) { seen.push_back(n); }};
  ASSERT_TRUE(convert_rows(w.in, 1, w.counter, kBasic, w.run, t));
  ASSERT_FALSE(seen.empty());
  EXPECT_LE(seen.size(), 4u);
  EXPECT_EQ(seen.back(), 40000);
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]);
}

TEST(ConvertRows, WithBreaksARefusedPostKeepsTheRecordsBeforeWithTheirBreaks) {
  Walk w;
  w.in.rowBreak = true;
  w.out.refusePostAt = 2;
  w.src.addTable("Sheet1", 5,
                 {{"P1", "a", "1", "2", "1"},
                  {"P1", "", "", "3", "10"},
                  {"P2", "b", "1", "2", "1"},
                  {"P3", "c", "1", "2", "1"}});
  EXPECT_FALSE(w.go({"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}));
  EXPECT_EQ(w.parts(), std::vector<std::string>({"P1"}));
  EXPECT_EQ(w.at(1, "LEV1"), "10");
  EXPECT_EQ(w.messages.texts(), std::vector<std::string>({"Post refused"}));
  EXPECT_EQ(w.run.recordCount, 1);
}

// A source whose move to the next row fails: what was written up to there stays.
class FailingNext : public MemoryDataset {
 public:
  int failAt = 0;
  int moves = 0;
  void next() override {
    if (++moves == failAt) throw DatabaseError("Read error in row " + std::to_string(moves + 1));
    MemoryDataset::next();
  }
};

TEST(ConvertRows, ASourceErrorAmidBreaksKeepsTheRecordAndItsBreaksSoFar) {
  FailingNext src;
  src.failAt = 2;
  src.addTable("Sheet1", 5,
               {{"P1", "a", "1", "2", "1"}, {"P1", "", "", "3", "10"}, {"P1", "", "", "4", "20"}});
  MemoryPriceSink out(price_fields());
  ScriptedMessages messages;
  ConvertInputs in;
  in.manufacturer = "ACME";
  in.rowBreak = true;
  BuildRun run;
  std::int64_t counter = 0;
  EXPECT_FALSE(convert_rows(in, 1, counter,
                            {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-4"}, run,
                            {src, &src, out, messages}));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.text(1, "LEV1"), "10");
  EXPECT_EQ(out.text(1, "LEV2"), "");
  EXPECT_EQ(messages.texts(), std::vector<std::string>({"Read error in row 3"}));
}
