// The build report as the walk fills it: one outcome per row delivered, and a note for each
// cell whose stored value says something other than its text, naming where the user finds it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "core/messages.h"
#include "pricefile/compare.h"
#include "pricefile/convert_rows.h"
#include "pricefile/price_sink.h"
#include "pricefile/raw_records.h"
#include "pricefile/tests/memory_dataset.h"

using namespace qm;
using namespace qm::pricefile;
using qm::test::MemoryDataset;
using qm::test::Rows;

namespace {

struct ReportWalk {
  MemoryDataset src;
  MemoryPriceSink out{{{"DEPT", 'C', 4},
                       {"partnumber", 'C', 12},
                       {"DESCRIPTN", 'C', 20},
                       {"LISTPRICE", 'N', 12},
                       {"COST_OF_1", 'N', 12},
                       {"LEV1", 'N', 10},
                       {"COSTLEV1", 'N', 12},
                       {"LEV2", 'N', 10},
                       {"COSTLEV2", 'N', 12}}};
  ScriptedMessages messages;
  ConvertInputs in;
  BuildRun run;
  BuildReport report;
  std::int64_t counter = 0;

  bool go(std::vector<std::string> mapping, std::int64_t startRow = 1) {
    ConvertTargets t{src, &src, out, messages};
    t.report = &report;
    t.sheetName = "Prices$";
    t.firstSheetRow = 2;  // the first row gave the field names
    return convert_rows(in, startRow, counter, std::move(mapping), run, t);
  }
};

const std::vector<std::string> kMapping = {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2"};

TEST(BuildReport, PlantedCellsGetANoteWithTheirReasonRowAndColumnAndACleanSheetNone) {
  struct Planted {
    std::vector<std::string> row;
    const char* field;  // empty: no note
    const char* reason;
    const char* column;
  } planted[] = {
      {{"P1", "Bolt", "N/A"}, "LISTPRICE", "not_a_number", "C"},
      {{"P2", "Nut", "7.911,66"}, "LISTPRICE", "decimal_comma", "C"},
      {{"P3", "Washer", "12,50"}, "LISTPRICE", "decimal_comma", "C"},
      {{"P4", "Spring", "1.234,5"}, "LISTPRICE", "decimal_comma", "C"},
      {{"P5", "Hex head cap screw, zinc plated", "1"}, "DESCRIPTN", "truncated", "B"},
      {{"P6", "Pin", "123456789012.50"}, "LISTPRICE", "does_not_fit", "C"},
      {{"P7", "Clip", "(21.040)"}, "LISTPRICE", "negative_price", "C"},
      {{"P8", "Tap", "."}, "LISTPRICE", "not_a_number", "C"},
      {{"P9", "Cap", "1.2.3"}, "LISTPRICE", "not_a_number", "C"},
      {{"PART-NUMBER-TOO-LONG", "Rod", "2"}, "PARTNUMBER", "truncated", "A"},
      // Texts the rules read as written.
      {{"Q1", "Bolt", "$1,234.56"}, "", "", ""},
      {{"Q2", "Nut", "12.50 USD"}, "", "", ""},
      {{"Q3", "Washer", ""}, "", "", ""},
      {{"Q4", "Spring", "12,500"}, "", "", ""},
      {{"Q5", "Exactly twenty chars", "007"}, "", "", ""},
  };
  ReportWalk w;
  Rows rows;
  for (const Planted& p : planted) rows.push_back(p.row);
  w.src.addTable("Prices$", 3, rows);
  ASSERT_TRUE(w.go(kMapping));

  std::size_t kept = 0;
  for (std::size_t i = 0; i < std::size(planted); ++i) {
    const Planted& p = planted[i];
    SCOPED_TRACE(p.row[2]);
    std::vector<const Note*> found;
    for (const Note& n : w.report.notes)
      if (n.row == static_cast<std::int64_t>(i) + 2) found.push_back(&n);
    if (!*p.field) {
      EXPECT_TRUE(found.empty()) << reason_code(found.front()->reason);
      continue;
    }
    ASSERT_EQ(found.size(), 1u);
    ++kept;
    EXPECT_STREQ(reason_code(found[0]->reason), p.reason);
    EXPECT_EQ(found[0]->field, p.field);
    EXPECT_EQ(found[0]->column, p.column);
    EXPECT_EQ(found[0]->sheet, "Prices$");
    EXPECT_EQ(found[0]->text, p.row[p.column[0] - 'A']);
  }
  EXPECT_EQ(w.report.notes.size(), kept);
  EXPECT_EQ(w.report.notesTotal(), static_cast<std::int64_t>(kept));
  // The stored text is what the price file holds: the fallback of a price too large.
  for (const Note& n : w.report.notes)
    if (n.reason == NoteReason::DoesNotFit) {
      EXPECT_EQ(n.stored, "0.00");
    }
}

TEST(BuildReport, EveryRowDeliveredIsCountedUnderExactlyOneOutcome) {
  const std::vector<std::string> breaks = {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=2",
                                           "LEV1=ROWBREAK-003"};
  struct Case {
    const char* name;
    Rows rows;
    bool rowBreak, heading;
    std::int64_t startRow;
    std::vector<std::pair<RowOutcome, std::int64_t>> want;
  } cases[] = {
      {"start row, no part, no description, end marker and after",
       {{"title", "", "", ""},
        {"A1", "Bolt", "1", ""},
        {"", "loose text", "", ""},
        {"A2", "", "2", ""},
        {"$END$", "", "", ""},
        {"A3", "Nut", "3", ""},
        {"A4", "Nut", "3", ""}},
       false,
       false,
       2,
       {{RowOutcome::BeforeStartRow, 1},
        {RowOutcome::PartRecord, 1},
        {RowOutcome::NoPartNumber, 1},
        {RowOutcome::NoDescription, 1},
        {RowOutcome::EndMarker, 1},
        {RowOutcome::AfterEndMarker, 2}}},
      {"headings",
       {{"CABLES", "", "", ""}, {"100", "Cat 5|e", "1", ""}},
       false,
       true,
       1,
       {{RowOutcome::Heading, 1}, {RowOutcome::PartRecord, 1}}},
      {"break rows folded and passed over",
       {{"B1", "Bolt", "1", "1"},
        {"B1", "", "0.9", "10"},
        {"B1", "", "0.8", "100"},
        {"B1", "", "0.7", "1000"},
        {"B1", "", "0.6", "2000"},
        {"B1", "", "0.5", "3000"},
        {"B1", "", "0.4", "4000"},
        {"B1", "", "0.3", "5000"},
        {"B2", "Nut", "2", "1"}},
       true,
       false,
       1,
       {{RowOutcome::PartRecord, 2},
        {RowOutcome::BreakFolded, 6},
        {RowOutcome::BreakPassedOver, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportWalk w;
    w.in.rowBreak = c.rowBreak;
    w.in.addTitleToDesc = c.heading;
    w.src.addTable("Prices$", 4, c.rows);
    ASSERT_TRUE(w.go(breaks, c.startRow));
    std::array<std::int64_t, kRowOutcomes> want{};
    for (auto [o, n] : c.want) want[static_cast<std::size_t>(o)] = n;
    EXPECT_EQ(w.report.outcomes, want);
    EXPECT_EQ(w.report.sourceRows, static_cast<std::int64_t>(c.rows.size()));
    EXPECT_EQ(w.report.count(RowOutcome::PartRecord), w.run.recordCount);
  }
}

// The comparison reads fields as raw bytes; their padding (blanks, NULs, or both) is not part of
// the value, wherever it starts and however long it runs.
TEST(RawRecords, AFieldEndsAtItsLastByteThatIsNeitherBlankNorNul) {
  const struct {
    std::string stored, value;
  } cases[] = {
      {std::string(20, ' '), ""},
      {std::string(20, '\0'), ""},
      {"AB" + std::string(18, ' '), "AB"},
      {"AB" + std::string(10, '\0') + std::string(8, ' '), "AB"},
      {"AB" + std::string(8, ' ') + std::string(10, '\0'), "AB"},
      {"ABCDEFGHIJKL" + std::string(8, ' '), "ABCDEFGHIJKL"},
      {"A" + std::string(7, ' ') + "B" + std::string(11, ' '), "A       B"},
      {"A" + std::string(8, ' ') + "B" + std::string(10, ' '), "A        B"},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOPQRST"},
      {std::string(19, ' ') + "Z", std::string(19, ' ') + "Z"},
  };
  // A dBase III table: a 32-byte header, one 32-byte descriptor (CODE, C, 20), then 0x0D.
  std::string file(65, '\0');
  file[0] = 0x03;
  file[4] = static_cast<char>(std::size(cases));
  file[8] = 65;
  file[10] = 21;
  file.replace(32, 4, "CODE");
  file[32 + 11] = 'C';
  file[32 + 16] = 20;
  file[64] = '\r';
  for (const auto& c : cases) file += ' ' + c.stored;
  std::istringstream in(file);
  RawRecords raw(in);
  for (const auto& c : cases) {
    ASSERT_TRUE(raw.next());
    EXPECT_EQ(raw.field(0), c.value) << raw.number();
  }
  EXPECT_FALSE(raw.next());
}

// Parts are matched by their numbers: with every number hashing alike, each is still its own
// part, whether the file's parts are appended and placed at once or looked up one by one.
TEST(PartTable, NumbersThatHashAlikeStayApart) {
  PartTable table([](std::string_view) -> std::uint64_t { return 0x5EED5EED5EED5EEDull; });
  const struct {
    const char* number;
    std::size_t place;  // of the number's first part
    bool added;
  } appended[] = {{"AB-1", 0, true},  {"AB-2", 1, true}, {"AB-1", 0, false},
                  {"AB-10", 3, true}, {"", 4, true},     {"AB-2", 1, false}},
    inserted[] = {{"AB-2", 1, false}, {"AB-3", 6, true},   {"", 4, false},
                  {"AB-3", 6, false}, {"AB-10", 3, false}, {"ab-1", 7, true}};
  for (const auto& a : appended) table.append(a.number, table.hash(a.number));
  EXPECT_EQ(table.place(), 2);
  for (std::size_t i = 0; i < std::size(appended); ++i) {
    ASSERT_EQ(table.live(i), appended[i].added) << i;
    if (appended[i].added) {
      EXPECT_EQ(table.number(i), appended[i].number) << i;
    }
  }
  for (const auto& n : inserted) {
    const auto [place, added] = table.insert(n.number);
    EXPECT_EQ(place, n.place) << n.number;
    EXPECT_EQ(added, n.added) << n.number;
  }
}

}  // namespace
