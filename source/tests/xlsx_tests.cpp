// The workbook reader against files written by SheetJS and against packages built here to show
// one property each: cell kinds, dates, sheet lists, positions of rows and cells, and the
// broken and hostile files that must end in a DatabaseError naming what is wrong.
#include <gtest/gtest.h>

#include <zip.h>
#include <thread>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "core/error.h"
#include "core/text.h"
#include "source/reader.h"
#include "source/xlsx/cell_ref.h"
#include "source/xlsx/number_formats.h"
#include "source/xlsx/shared_strings.h"
#include "source/xlsx/xlsx_reader.h"
#include "source/xlsx/xml_reader.h"
#include "source/xlsx/zip_archive.h"

using qm::DatabaseError;
using qm::source::Cell;
using namespace qm::source::xlsx;

namespace {

std::string fixture(const std::string& name) {
  return std::string(QM_SOURCE_DIR) + "/source/tests/fixtures/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A zip package built with libzip from named parts, deflated.
std::string make_zip(const std::map<std::string, std::string>& parts) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
  zip_source_keep(src);
  zip_t* za = zip_open_from_source(src, ZIP_TRUNCATE, &err);
  for (const auto& [name, data] : parts) {
    // libzip does not free the buffer of an empty part: an empty part gets none.
    void* copy = data.empty() ? nullptr : std::malloc(data.size());
    if (copy) std::memcpy(copy, data.data(), data.size());
    zip_source_t* s = zip_source_buffer(za, copy, data.size(), copy ? 1 : 0);
    zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8);
  }
  zip_close(za);
  zip_source_open(src);
  zip_source_seek(src, 0, SEEK_END);
  auto size = zip_source_tell(src);
  zip_source_seek(src, 0, SEEK_SET);
  std::string out(static_cast<std::size_t>(size), '\0');
  zip_source_read(src, out.data(), static_cast<zip_uint64_t>(size));
  zip_source_close(src);
  zip_source_free(src);
  zip_error_fini(&err);
  return out;
}

const char* kNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
const char* kRelNs =
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const char* kWs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";

std::string sheet_xml(const std::string& data, const std::string& dimension = "") {
  std::string s = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet ") + kNs + ">";
  if (!dimension.empty()) s += "<dimension ref=\"" + dimension + "\"/>";
  return s + "<sheetData>" + data + "</sheetData></worksheet>";
}

// A one-sheet workbook "Sheet One" around a sheet part, with optional strings and styles.
std::map<std::string, std::string> package(const std::string& sheet, const std::string& sst = "",
                                           const std::string& styles = "") {
  std::map<std::string, std::string> p;
  p["xl/workbook.xml"] = std::string("<workbook ") + kNs + " " + kRelNs +
                         "><sheets><sheet name=\"Sheet One\" sheetId=\"1\" r:id=\"rId1\"/>"
                         "</sheets></workbook>";
  std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"" +
      std::string(kWs) + "\" Target=\"worksheets/sheet1.xml\"/>";
  if (!sst.empty()) {
    rels +=
        "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
        "2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    p["xl/sharedStrings.xml"] = sst;
  }
  if (!styles.empty()) {
    rels +=
        "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
        "2006/relationships/styles\" Target=\"styles.xml\"/>";
    p["xl/styles.xml"] = styles;
  }
  p["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
  p["xl/worksheets/sheet1.xml"] = sheet;
  return p;
}

std::string show(const Cell& c) {
  switch (c.kind) {
    case Cell::Kind::Empty:
      return "";
    case Cell::Kind::Text:
      return c.text;
    case Cell::Kind::Number:
      return "n:" + qm::format_general(c.number);
    case Cell::Kind::Boolean:
      return c.boolean ? "b:1" : "b:0";
    case Cell::Kind::DateTime:
      return "d:" + qm::format_general(c.number);
    case Cell::Kind::Error:
      return "e:" + c.text;
  }
  return "?";
}

// All rows of a sheet, one line per row, cells separated by "|".
std::string read_rows(qm::source::RowReader& r) {
  std::string out;
  std::vector<Cell> cells;
  while (r.nextRow(cells)) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i) out += '|';
      out += show(cells[i]);
    }
    out += "\n";
  }
  return out;
}

std::string read_sheet(const std::map<std::string, std::string>& parts, const Limits& lim = {}) {
  auto wb = open_workbook_bytes("test.xlsx", make_zip(parts), lim);
  auto r = wb->openSheet(0);
  return read_rows(*r);
}

// The message of the DatabaseError that reading the first sheet to its end raises.
std::string failure(const std::string& bytes, const Limits& lim = {}) {
  try {
    auto wb = open_workbook_bytes("broken.xlsx", bytes, lim);
    auto r = wb->openSheet(0);
    read_rows(*r);
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(XlsxFixtures, CellKindsDatesAndSheetNamesFromSheetJS) {
  auto wb = qm::source::open_xlsx(fixture("sheetjs_kinds_dates_sheet_names.xlsx"));
  EXPECT_EQ(wb->sheetNames(), (std::vector<std::string>{"Kinds", "Price List 2", "Prix été"}));
  auto r = wb->openSheet(0);
  EXPECT_EQ(r->declaredRowCount(), 11);
  EXPECT_EQ(r->declaredColumnCount(), 3);
  EXPECT_EQ(read_rows(*r),
            "Name|Value\n"
            "three|n:3\n"
            "tenth|n:0.1\n"
            "small|n:1E-7\n"
            "large|n:1.23456789012346E20\n"
            "flag|b:1|b:0\n"
            "error|e:#N/A\n"
            "built-in date|d:46000\n"
            "custom date|d:46000.5|d:1.25\n"
            "not a date|n:12.5\n"
            "Grüße µ²|n:-4\n");
  // The double itself is kept, not a rounded text.
  r->rewind();
  std::vector<Cell> cells;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(r->nextRow(cells));
  EXPECT_EQ(cells[1].number, 123456789012345680000.0);
  auto third = wb->openSheet(2);
  EXPECT_EQ(read_rows(*third), "third\n");
  EXPECT_THROW(wb->openSheet(3), DatabaseError);
}

TEST(XlsxFixtures, Date1904SerialsComeBackInThe1900Count) {
  auto wb = qm::source::open_xlsx(fixture("sheetjs_date1904.xlsx"));
  auto r = wb->openSheet(0);
  EXPECT_EQ(read_rows(*r), "d:1462\nd:46462\n");
}

TEST(XlsxFixtures, MissingRowsAreEmptyRowsFromTheDimensionsFirstRow) {
  auto wb = qm::source::open_xlsx(fixture("sheetjs_inline_strings_missing_rows.xlsx"));
  auto r = wb->openSheet(0);
  EXPECT_EQ(r->declaredRowCount(), 5);
  EXPECT_EQ(r->declaredColumnCount(), 3);
  // Columns count from A even though the used range starts at B.
  EXPECT_EQ(read_rows(*r), "|top\n\n||n:7\n\n|bottom\n");
}

TEST(XlsxStrings, SharedRichTextAndInlineStringsLeavePhoneticRunsOut) {
  std::string sst = std::string("<sst ") + kNs + " count=\"3\" uniqueCount=\"3\">" +
                    "<si><t>plain</t></si>"
                    "<si><r><rPr><b/></rPr><t>bold </t></r><r><t xml:space=\"preserve\">and "
                    "not</t></r></si>"
                    "<si><t>東京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh></si></sst>";
  std::string sheet = sheet_xml(
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
      "<c r=\"C1\" t=\"s\"><v>2</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r>"
      "<rPh><t>x</t></rPh></is></c><c r=\"B2\" t=\"str\"><f>A1&amp;\"!\"</f><v>plain!</v></c>"
      "<c r=\"C2\" t=\"inlineStr\"><is><t>&lt;a&amp;b&gt;</t></is></c>"
      "<c r=\"D2\" t=\"s\"><v> 0 </v></c></row>");
  EXPECT_EQ(read_sheet(package(sheet, sst)),
            "plain|bold and not|東京\ninline|plain!|<a&b>|plain\n");
}

TEST(XlsxStrings, EscapesAreDecodedInSharedAndInlineStrings) {
  struct Case {
    const char* written;
    const char* read;
  };
  const std::vector<Case> cases = {
      {"a_x000D_b", "a\rb"},
      {"tab_x0009_", "tab\t"},
      {"_x00e9__x00C9_", "\xC3\xA9\xC3\x89"},
      {"_x005F_x0041_", "_x0041_"},
      {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},
      {"_xD83D_x", "_xD83D_x"},
      {"_x0000_", "_x0000_"},
      {"_xZZZZ_ _x12_ _x1234", "_xZZZZ_ _x12_ _x1234"},
      {"__x0041_", "_A"},
  };
  for (const auto& c : cases) {
    std::string sst = std::string("<sst ") + kNs + "><si><t>" + c.written + "</t></si></sst>";
    std::string sheet =
        sheet_xml(std::string("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" "
                              "t=\"inlineStr\"><is><t>") +
                  c.written + "</t></is></c></row>");
    EXPECT_EQ(read_sheet(package(sheet, sst)), std::string(c.read) + "|" + c.read + "\n")
        << c.written;
  }
}

TEST(XlsxStrings, EveryFormOfStringReadsAsWrittenWhereverTheBufferEnds) {
  struct Case {
    std::string items;  // the table's strings, then what follows it
    std::string read;   // the first cell, or a part of the message
  };
  Limits small;
  small.maxCellBytes = 8;
  const std::vector<Case> cases = {
      {"<si><t>a\r\nb\rc</t></si></sst>", "a\nb\nc"},
      {"<si><t>x &amp; y</t></si></sst>", "x & y"},
      {"<si><t>\tTöpfe 1\"</t></si></sst>", "\tTöpfe 1\""},
      {"<si><t></t></si></sst>", ""},
      {"<si><t>ok</t></si></sst><si><t>b</t></si>", "a second root element"},
      {"<si><t>a</t></si><si><t>b</t></si></sst>", "a"},
  };
  auto with = [](const std::string& items) { return std::string("<sst ") + kNs + ">" + items; };
  const std::string cellA1 = sheet_xml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>");
  for (const auto& c : cases) {
    std::string got = failure(make_zip(package(cellA1, with(c.items))));
    if (got == "(no error)") got = read_sheet(package(cellA1, with(c.items)));
    EXPECT_NE(got.find(c.read), std::string::npos) << c.items << ": " << got;
  }
  std::string m =
      failure(make_zip(package(cellA1, with("<si><t>too long a text</t></si></sst>"))), small);
  EXPECT_NE(m.find("the text is longer than 8 bytes"), std::string::npos) << m;
  // Strings of every length up to a hundred bytes, some 1.5 MB of them: the scanner's buffers
  // end inside tags and texts alike.
  std::string items, rows, want;
  for (int i = 0; i < 30000; ++i) {
    std::string text = std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), 'x');
    items += "<si><t>" + text + "</t></si>";
    if (i % 101 == 0) {
      const std::string n = std::to_string(i / 101 + 1);
      rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(i) +
              "</v></c></row>";
      want += text + "\n";
    }
  }
  EXPECT_EQ(read_sheet(package(sheet_xml(rows), with(items + "</sst>"))), want);
}

TEST(XlsxRows, CellsPastTheColumnLimitAreDropped) {
  std::string sheet = sheet_xml(
      "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2</v></c><c r=\"XFD1\"><v>3</v></c>"
      "</row><row r=\"2\"><c r=\"C2\"><v>4</v></c><c r=\"A2\"><v>5</v></c></row>");
  auto wb = open_workbook_bytes("t.xlsx", make_zip(package(sheet)), {});
  auto r = wb->openSheet(0);
  r->limitColumns(2);
  EXPECT_EQ(read_rows(*r), "n:1|n:2\nn:5\n");
}

TEST(XlsxCells, KindsNumbersAndErrorsFromHandWrittenCells) {
  std::string sheet = sheet_xml(
      "<row r=\"1\"><c r=\"A1\"><v>3</v></c><c r=\"B1\"><v>0.1</v></c><c r=\"C1\"><v>1E-7</v></c>"
      "<c r=\"D1\"><v>-2.5e+300</v></c><c r=\"E1\" t=\"n\"><v>+7</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"b\"><v>0</v></c><c r=\"B2\" t=\"e\"><v>#DIV/0!</v></c>"
      "<c r=\"C2\" t=\"d\"><v>2026-12-09T12:00:00Z</v></c><c r=\"D2\" t=\"d\"><v>1900-01-01</v>"
      "</c><c r=\"E2\"/><c r=\"F2\"><f>1+1</f></c><c r=\"G2\" t=\"str\"><v></v></c></row>");
  EXPECT_EQ(read_sheet(package(sheet)),
            "n:3|n:0.1|n:1E-7|n:-2.5E300|n:7\nb:0|e:#DIV/0!|d:46365.5|d:1|||\n");
}

// A number's text kept from the sheet must be the text the engine would make of the number
// (the general format, which the engine's number text equals).
TEST(XlsxCells, ANumbersTextKeptFromTheSheetIsTheEngines) {
  const struct {
    const char* written;
    bool kept;
  } cases[] = {{"261.96", true},
               {"-0.5", true},
               {"1000", true},
               {"0.00001", true},
               {"123456789012345", true},
               {"0.000001", false},
               {"1234567890123456", false},
               {"1.50", false},
               {"1E-7", false},
               {"+7", false},
               {"007", false},
               {"-0", false},
               {"0", false},
               {"12.345678901234567", false}};
  std::string row = "<row r=\"1\">";
  for (const auto& c : cases) row += std::string("<c><v>") + c.written + "</v></c>";
  auto wb = open_workbook_bytes("test.xlsx", make_zip(package(sheet_xml(row + "</row>"))), {});
  auto r = wb->openSheet(0);
  std::vector<Cell> cells;
  ASSERT_TRUE(r->nextRow(cells));
  ASSERT_EQ(cells.size(), std::size(cases));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(cases[i].written);
    ASSERT_EQ(cells[i].kind, Cell::Kind::Number);
    EXPECT_EQ(!cells[i].text.empty(), cases[i].kept);
    if (!cells[i].text.empty()) {
      EXPECT_EQ(cells[i].text, qm::format_general(cells[i].number));
    }
  }
}

TEST(XlsxCells, DateStylesFromBuiltInAndCustomFormats) {
  std::string styles = std::string("<styleSheet ") + kNs +
                       "><numFmts count=\"3\"><numFmt numFmtId=\"164\" formatCode=\"d-mmm\"/>"
                       "<numFmt numFmtId=\"165\" formatCode=\"#,##0.00 &quot;h&quot;\"/>"
                       "<numFmt numFmtId=\"14\" formatCode=\"0.00\"/></numFmts>"
                       "<cellStyleXfs count=\"1\"><xf numFmtId=\"22\"/></cellStyleXfs>"
                       "<cellXfs count=\"6\"><xf numFmtId=\"0\"/><xf numFmtId=\"22\"/>"
                       "<xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf numFmtId=\"14\"/>"
                       "<xf numFmtId=\"46\"/></cellXfs></styleSheet>";
  // Style 4 uses number 14, which this file redefines as a plain number format; style 9 lies
  // beyond the table and is no date.
  std::string sheet = sheet_xml(
      "<row><c s=\"0\"><v>1</v></c><c s=\"1\"><v>2</v></c><c s=\"2\"><v>3</v></c>"
      "<c s=\"3\"><v>4</v></c><c s=\"4\"><v>5</v></c><c s=\"5\"><v>6</v></c>"
      "<c s=\"9\"><v>7</v></c><c s=\"1\"><v>-1</v></c></row>");
  EXPECT_EQ(read_sheet(package(sheet, "", styles)), "n:1|d:2|d:3|n:4|n:5|d:6|n:7|n:-1\n");
}

TEST(XlsxCells, DateFormatCodes) {
  struct Case {
    const char* code;
    bool date;
  } cases[] = {
      {"General", false},
      {"0.00", false},
      {"#,##0.00 ;[Red]-#,##0.00", false},
      {"0.00E+00", false},
      {"@", false},
      {"0.0\" days\"", false},
      {"0\\d", false},
      {"[$-409]#,##0", false},
      {"_(* #,##0_);_(* \\(#,##0\\)", false},
      {"[Blue][<=100]0", false},
      {"d/m/yyyy", true},
      {"DD.MM.YYYY", true},
      {"mmm-yy", true},
      {"mmmm", true},
      {"h:mm AM/PM", true},
      {"[h]:mm:ss", true},
      {"[mm]", true},
      {"ss.000", true},
      {"[$-F800]dddd, mmmm dd", true},
      {"yyyy\"年\"m\"月\"", true},
      {"\"d\"0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_date_format_code(c.code), c.date) << c.code;
  EXPECT_TRUE(is_builtin_date_format(14));
  EXPECT_TRUE(is_builtin_date_format(22));
  EXPECT_TRUE(is_builtin_date_format(47));
  EXPECT_FALSE(is_builtin_date_format(13));
  EXPECT_FALSE(is_builtin_date_format(23));
  EXPECT_FALSE(is_builtin_date_format(49));
}

TEST(XlsxCells, CellReferences) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t column, row;
  } cases[] = {{"A1", true, 0, 1},
               {"Z9", true, 25, 9},
               {"AA10", true, 26, 10},
               {"xfd1048576", true, 16383, 1048576},
               {"$B$7", true, 1, 7},
               {"C", true, 2, 0},
               {"XFE1", false, 0, 0},
               {"A1048577", false, 0, 0},
               {"1A", false, 0, 0},
               {"A0", false, 0, 0},
               {"", false, 0, 0},
               {"AAAA1", false, 0, 0},
               {"A1B", false, 0, 0},
               {"XFD999999", true, 16383, 999999},
               {"XFE999999", false, 0, 0},
               {"B01", true, 1, 1},
               {"A1048576", true, 0, 1048576}};
  for (const auto& c : cases) {
    CellRef r;
    ASSERT_EQ(parse_cell_ref(c.text, r), c.ok) << c.text;
    ASSERT_EQ(parse_cell_ref(std::string_view(c.text), r), c.ok) << c.text;
    std::uint32_t column = 99999;
    ASSERT_EQ(parse_cell_column(c.text, column), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(r.column, c.column) << c.text;
      EXPECT_EQ(r.row, c.row) << c.text;
      EXPECT_EQ(column, c.column) << c.text;
    }
  }
  EXPECT_EQ(cell_name(27, 3), "AB3");
  EXPECT_EQ(column_name(16383), "XFD");
}

TEST(XlsxRows, PositionsOfRowsAndCellsWithAndWithoutReferences) {
  struct Case {
    const char* name;
    std::string data, dimension, rows;
    std::int64_t declared;
  } cases[] = {
      // No dimension: row 0 is the first row that holds a value; rows without r follow on.
      {"no dimension",
       "<row r=\"3\"><c r=\"B3\"><v>1</v></c></row><row><c><v>2</v></c></row>"
       "<row r=\"6\"><c r=\"C6\"><v>3</v></c></row>",
       "", "|n:1\nn:2\n\n||n:3\n", -1},
      // Cells without r take the next position; one with r jumps and the next follows it.
      {"cells without r",
       "<row r=\"1\"><c><v>1</v></c><c r=\"D1\"><v>4</v></c><c><v>5</v></c>"
       "</row>",
       "A1:E1", "n:1|||n:4|n:5\n", 1},
      // A dimension that starts after the first value row lies and is set aside.
      {"lying dimension", "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>", "A5:B9", "n:1\n", -1},
      // Rows holding only empty styled cells: kept between value rows, dropped after them.
      {"empty styled rows",
       "<row r=\"1\"><c r=\"A1\" s=\"1\"/></row><row r=\"2\"><c r=\"A2\">"
       "<v>1</v></c></row><row r=\"3\"><c r=\"A3\" s=\"1\"/></row><row r=\"4\"><c r=\"B4\">"
       "<v>2</v></c></row><row r=\"5\"><c r=\"A5\" s=\"1\"/></row><row r=\"9\"/>",
       "", "n:1\n\n|n:2\n", -1},
      {"empty sheet", "", "A1", "", 1},
      {"a sheet starting at row 1 of its dimension with a gap first",
       "<row r=\"4\"><c r=\"A4\"><v>1</v></c></row>", "A1:A4", "\n\n\nn:1\n", 4},
  };
  for (const auto& c : cases) {
    auto wb = open_workbook_bytes("t.xlsx", make_zip(package(sheet_xml(c.data, c.dimension))), {});
    auto r = wb->openSheet(0);
    EXPECT_EQ(read_rows(*r), c.rows) << c.name;
    EXPECT_EQ(r->declaredRowCount(), c.declared) << c.name;
  }
}

TEST(XlsxRows, PrefixedElementsAndRewind) {
  std::string sheet =
      "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<x:sheetData><x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>a</x:t></x:is>"
      "</x:c></x:row><x:row r=\"2\"><x:c r=\"A2\"><x:v>2</x:v></x:c></x:row></x:sheetData>"
      "</x:worksheet>";
  auto wb = open_workbook_bytes("t.xlsx", make_zip(package(sheet)), {});
  auto r = wb->openSheet(0);
  std::vector<Cell> cells;
  ASSERT_TRUE(r->nextRow(cells));
  EXPECT_EQ(show(cells[0]), "a");
  r->rewind();
  wb.reset();  // the sheet keeps what it reads from
  EXPECT_EQ(read_rows(*r), "a\nn:2\n");
  EXPECT_FALSE(r->nextRow(cells));
}

TEST(XlsxHostile, AnErrorStaysTheSameOnEveryLaterRead) {
  std::string sst = std::string("<sst ") + kNs + "><si><t>ok</t></si><si><t>" +
                    std::string(100, 'x') + "</t></si></sst>";
  Limits lim;
  lim.maxCellBytes = 50;
  std::string sheet = sheet_xml(
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c></row>");
  auto wb = open_workbook_bytes("t.xlsx", make_zip(package(sheet, sst)), lim);
  auto error_of_reading = [&] {
    try {
      auto r = wb->openSheet(0);
      std::vector<Cell> cells;
      while (r->nextRow(cells)) {
      }
    } catch (const DatabaseError& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  std::string first = error_of_reading();
  EXPECT_NE(first.find("the shared strings xl/sharedStrings.xml"), std::string::npos) << first;
  EXPECT_NE(first.find("the text is longer than 50 bytes"), std::string::npos) << first;
  // The strings are shared by every reader of the workbook: a second one meets the same error.
  EXPECT_EQ(error_of_reading(), first);
}

TEST(XlsxWorkbook, WorksheetsInWorkbookOrderWithoutChartOrMacroSheets) {
  auto p = package(sheet_xml("<row><c><v>1</v></c></row>"));
  p["xl/workbook.xml"] = std::string("<workbook ") + kNs + " " + kRelNs +
                         "><workbookPr/><sheets><sheet name=\"Zeta sheet\" sheetId=\"5\" "
                         "r:id=\"rId2\"/><sheet name=\"Chart1\" sheetId=\"2\" r:id=\"rId3\"/>"
                         "<sheet name=\"Macro1\" sheetId=\"3\" r:id=\"rId4\"/>"
                         "<sheet name=\"Ölpreise €\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
                         "<definedNames><definedName name=\"x\">Zeta!A1</definedName>"
                         "</definedNames></workbook>";
  p["xl/_rels/workbook.xml.rels"] =
      std::string(
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
          "relationships\"><Relationship Id=\"rId1\" Type=\"") +
      kWs + "\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + kWs +
      "\" Target=\"/xl/worksheets/../worksheets/Sheet2.XML\"/><Relationship Id=\"rId3\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet\" "
      "Target=\"chartsheets/sheet1.xml\"/><Relationship Id=\"rId4\" "
      "Type=\"http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet\" "
      "Target=\"macrosheets/sheet1.xml\"/></Relationships>";
  p["xl/worksheets/sheet2.xml"] = sheet_xml("<row><c t=\"inlineStr\"><is><t>z</t></is></c></row>");
  auto wb = open_workbook_bytes("t.xlsx", make_zip(p), {});
  EXPECT_EQ(wb->sheetNames(), (std::vector<std::string>{"Zeta sheet", "Ölpreise €"}));
  EXPECT_EQ(read_rows(*wb->openSheet(0)), "z\n");
  EXPECT_EQ(read_rows(*wb->openSheet(1)), "n:1\n");
}

TEST(XlsxWorkbook, SharedStringsAreReadOnlyAsFarAsCellsNeedThem) {
  std::string sst = std::string("<sst ") + kNs + " uniqueCount=\"4000000000\">";
  for (int i = 0; i < 200000; ++i) sst += "<si><t>s" + std::to_string(i) + "</t></si>";
  sst += "</sst>";
  auto zip = ZipArchive::open_bytes("t.xlsx", make_zip(package(sheet_xml(""), sst)), Limits{});
  SharedStrings strings(zip->open(*zip->find("XL/SHAREDSTRINGS.XML"), "the shared strings"),
                        zip->limits());
  std::string_view s;
  ASSERT_TRUE(strings.get(1, s));
  EXPECT_EQ(s, "s1");
  EXPECT_LT(strings.loaded(), 50000u);
  ASSERT_TRUE(strings.get(199999, s));
  EXPECT_EQ(s, "s199999");
  EXPECT_FALSE(strings.get(200000, s));
  ASSERT_TRUE(strings.get(7, s));
  EXPECT_EQ(s, "s7");
}

TEST(XlsxHostile, BrokenPackages) {
  std::string good = read_file(fixture("sheetjs_kinds_dates_sheet_names.xlsx"));
  ASSERT_FALSE(good.empty());
  std::string truncated = good.substr(0, good.size() / 2);
  std::string ole2 = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0');
  // The first sheet's deflated bytes overwritten: the package opens, the sheet is damaged.
  auto parts = package(sheet_xml(std::string(20000, ' ') + "<row><c><v>1</v></c></row>"));
  std::string damaged = make_zip(parts);
  auto at = damaged.find("xl/worksheets/sheet1.xml");
  ASSERT_NE(at, std::string::npos);
  for (std::size_t i = at + 40; i < at + 60; ++i) damaged[i] = '\x55';
  auto no_workbook = make_zip({{"docProps/app.xml", "<Properties/>"}});
  auto missing_sheet = package(sheet_xml(""));
  missing_sheet.erase("xl/worksheets/sheet1.xml");
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"text file", "PartNumber,Price\r\nA,1\r\n", "not a zip package"},
      {"older workbook", ole2, "older Excel workbook (.xls)"},
      {"truncated", truncated, "damaged or incomplete"},
      {"empty", "", "the file is empty"},
      {"damaged data", damaged, "is damaged"},
      {"no workbook part", no_workbook, "no workbook part"},
      {"missing sheet part", make_zip(missing_sheet), "no part xl/worksheets/sheet1.xml"},
  };
  for (const auto& c : cases) {
    std::string m = failure(c.bytes);
    EXPECT_NE(m.find("\"broken.xlsx\""), std::string::npos) << c.name << ": " << m;
    EXPECT_NE(m.find(c.says), std::string::npos) << c.name << ": " << m;
  }
}

TEST(XlsxHostile, MalformedSheetsNameTheSheetRowAndCell) {
  std::string entities =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
      "\"&lol;&lol;&lol;&lol;\">]><worksheet><sheetData><row><c t=\"inlineStr\"><is><t>&lol2;"
      "</t></is></c></row></sheetData></worksheet>";
  std::string deep = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
  for (int i = 0; i < 100; ++i) deep += "<x>";
  struct Case {
    const char* name;
    std::string sheet, says;
  } cases[] = {
      {"entities", entities, "declares a document type"},
      {"deep nesting", sheet_xml(deep), "nested more than 64"},
      {"huge attribute",
       sheet_xml("<row><c r=\"A1\" x=\"" + std::string(3u << 20, 'a') + "\"><v>1</v></c></row>"),
       "longer than 1048576 bytes"},
      {"huge cell text",
       sheet_xml("<row r=\"4\"><c r=\"C4\" t=\"str\"><v>" + std::string(2u << 20, 'a') +
                 "</v></c></row>"),
       "sheet \"Sheet One\", cell C4: the cell's text is longer than"},
      {"rows out of order",
       sheet_xml("<row r=\"5\"><c><v>1</v></c></row><row r=\"3\"><c><v>1</v></c></row>"),
       "sheet \"Sheet One\", row 3: the row comes after row 5"},
      {"bad row number", sheet_xml("<row r=\"0\"><c><v>1</v></c></row>"), "row number \"0\""},
      {"bad cell reference", sheet_xml("<row r=\"2\"><c r=\"2B\"><v>1</v></c></row>"),
       "cell reference \"2B\""},
      {"bad number", sheet_xml("<row r=\"2\"><c r=\"B2\"><v>1,5</v></c></row>"),
       "sheet \"Sheet One\", cell B2: the number \"1,5\" is not a number"},
      {"bad boolean", sheet_xml("<row r=\"2\"><c r=\"B2\" t=\"b\"><v>yes</v></c></row>"),
       "cell B2: the logical value"},
      {"unknown type", sheet_xml("<row r=\"2\"><c r=\"B2\" t=\"q\"><v>1</v></c></row>"),
       "cell B2: the cell type \"q\" is unknown"},
      {"no shared strings", sheet_xml("<row r=\"2\"><c r=\"D2\" t=\"s\"><v>0</v></c></row>"),
       "cell D2: the cell refers to shared string 0, but the workbook has only 0"},
      {"not well-formed", sheet_xml("<row r=\"7\"><c r=\"A7\"><v>1</v></c></row><row><c>"),
       "sheet \"Sheet One\", cell A8 (line 1"},
      {"too many cells", sheet_xml("<row><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>"),
       "more than 16384 cells"},
      {"attribute twice", sheet_xml("<row r=\"2\"><c r=\"A2\" r=\"B2\"><v>1</v></c></row>"),
       "attribute twice"},
      {"cell closed wrong", sheet_xml("<row r=\"2\"><c r=\"A2\"><v>1</v></r></row>"),
       "the end tag </r> closes <c>"},
  };
  for (const auto& c : cases) {
    std::string m = failure(make_zip(package(c.sheet)));
    EXPECT_NE(m.find("\"broken.xlsx\""), std::string::npos) << c.name << ": " << m;
    EXPECT_NE(m.find(c.says), std::string::npos) << c.name << ": " << m;
  }
}

TEST(XlsxHostile, SharedStringsThatLieOrAttack) {
  std::string sheet = sheet_xml("<row r=\"1\"><c r=\"B1\" t=\"s\"><v>5</v></c></row>");
  std::string lying = std::string("<sst ") + kNs +
                      " count=\"4294967295\" uniqueCount=\"4294967295\"><si><t>one</t></si></sst>";
  std::string dtd = "<!DOCTYPE sst [<!ENTITY a \"aaaaaaaa\">]><sst><si><t>&a;</t></si></sst>";
  std::string m = failure(make_zip(package(sheet, lying)));
  EXPECT_NE(m.find("cell B1: the cell refers to shared string 5, but the workbook has only 1"),
            std::string::npos)
      << m;
  m = failure(make_zip(package(sheet, dtd)));
  EXPECT_NE(m.find("the shared strings xl/sharedStrings.xml"), std::string::npos) << m;
  EXPECT_NE(m.find("declares a document type"), std::string::npos) << m;
  Limits small;
  small.maxSharedStringBytes = 1000;
  std::string big = std::string("<sst ") + kNs + ">";
  for (int i = 0; i < 100; ++i) big += "<si><t>" + std::string(50, 'x') + "</t></si>";
  m = failure(make_zip(package(sheet, big + "</sst>")), small);
  EXPECT_NE(m.find("the shared strings take more than"), std::string::npos) << m;
}

TEST(XlsxHostile, ZipBombsAreRefusedWhileInflating) {
  // 40 MiB of blanks pack to some 40 KiB: a ratio no real sheet reaches.
  std::string sheet = sheet_xml(std::string(40u << 20, ' '));
  std::string bytes = make_zip(package(sheet));
  ASSERT_LT(bytes.size(), 200000u);
  Limits lim;
  lim.ratioFreeBytes = 4u << 20;
  std::string m = failure(bytes, lim);
  EXPECT_NE(m.find("sheet \"Sheet One\""), std::string::npos) << m;
  EXPECT_NE(m.find("times its packed size"), std::string::npos) << m;
  Limits cap;
  cap.maxPartBytes = 8u << 20;
  m = failure(bytes, cap);
  EXPECT_NE(m.find("inflates to more than 8 MiB"), std::string::npos) << m;
  // With the defaults the same sheet is below the point where the ratio counts, and reads.
  EXPECT_EQ(failure(bytes), "(no error)");
}

namespace {

// Rewrites a 32-bit field of the named entry in both its local header and the directory.
void patch_entry(std::string& zip, const std::string& name, std::size_t localAt,
                 std::size_t centralAt, std::uint32_t (*change)(std::uint32_t)) {
  auto patch = [&](const char* sig, std::size_t nameAt, std::size_t fieldAt) {
    for (std::size_t at = zip.find(sig, 0, 4); at != std::string::npos;
         at = zip.find(sig, at + 1, 4)) {
      if (zip.compare(at + nameAt, name.size(), name) != 0) continue;
      std::uint32_t v;
      std::memcpy(&v, zip.data() + at + fieldAt, 4);
      v = change(v);
      std::memcpy(zip.data() + at + fieldAt, &v, 4);
      return;
    }
    FAIL() << "no header of " << name;
  };
  patch("PK\x03\x04", 30, localAt);
  patch("PK\x01\x02", 46, centralAt);
}

// What reading the entry to its end gives: its bytes, or the message of the error raised.
std::string read_entry(const std::string& zipBytes, const std::string& name, InflaterKind kind) {
  try {
    auto zip = ZipArchive::open_bytes("e.xlsx", zipBytes, Limits(), kind);
    auto part = zip->open(*zip->find(name), "the part");
    std::string out;
    std::vector<char> buf(100000);
    while (std::size_t n = part->read(buf.data(), buf.size())) out.append(buf.data(), n);
    return out;
  } catch (const DatabaseError& e) {
    return std::string("error: ") + e.what();
  }
}

}  // namespace

// Every inflater this build has reads the same entries to the same bytes, small ones and ones
// inflated ahead on a second thread, and refuses the same damage: a broken stream, one cut
// short, and data that does not match the directory's CRC-32 or size.
TEST(XlsxInflaters, EveryInflaterReadsAndRefusesTheSameEntries) {
  auto text = [](int lines) {
    std::string t;
    for (int i = 0; i < lines; ++i)
      t += "<row r=\"" + std::to_string(i) + "\"><v>" + std::to_string(i * 7919 % 1000003) +
           "</v></row>\n";
    return t;
  };
  const std::string small = text(8000), large = text(200000), none;
  ASSERT_GT(large.size(), 5u << 20);
  struct Case {
    const char* name;
    const std::string& data;
    void (*damage)(std::string& zip);
    const char* says;  // null: the entry reads back whole
  } cases[] = {
      {"small", small, nullptr, nullptr},
      {"large", large, nullptr, nullptr},
      {"empty", none, nullptr, nullptr},
      {"broken stream", large,
       [](std::string& z) {
         for (std::size_t i = 3000; i < 3400; ++i) z[i] = '\x55';
       },
       "is damaged ("},
      {"broken small stream", small,
       [](std::string& z) {
         for (std::size_t i = 1000; i < 1100; ++i) z[i] = '\x55';
       },
       "is damaged ("},
      {"cut short", large,
       [](std::string& z) {
         patch_entry(z, "p.xml", 18, 20, [](std::uint32_t v) { return v / 2; });
       },
       "is damaged (the packed data ends early)"},
      {"CRC wrong", small,
       [](std::string& z) {
         patch_entry(z, "p.xml", 14, 16, [](std::uint32_t v) { return v ^ 1; });
       },
       "is damaged (CRC error)"},
      {"size too large", large,
       [](std::string& z) {
         patch_entry(z, "p.xml", 22, 24, [](std::uint32_t v) { return v + 1; });
       },
       "is damaged (the entry is shorter than the package's directory says)"},
      {"size too small", small,
       [](std::string& z) {
         patch_entry(z, "p.xml", 22, 24, [](std::uint32_t v) { return v - 1; });
       },
       "is damaged (the entry is longer than the package's directory says)"},
  };
  std::map<const std::string*, std::string> packed;
  for (const auto& c : cases)
    if (!packed.count(&c.data)) packed[&c.data] = make_zip({{"p.xml", c.data}});
  for (InflaterKind kind : available_inflaters()) {
    for (const auto& c : cases) {
      std::string zip = packed[&c.data];
      if (c.damage) c.damage(zip);
      std::string got = read_entry(zip, "p.xml", kind);
      std::string label = std::string(inflater_name(kind)) + ", " + c.name;
      if (!c.says) {
        EXPECT_TRUE(got == c.data) << label << ": " << got.substr(0, 200);
      } else {
        EXPECT_NE(got.find("\"e.xlsx\""), std::string::npos) << label << ": " << got;
        EXPECT_NE(got.find("the part"), std::string::npos) << label << ": " << got;
        EXPECT_NE(got.find(c.says), std::string::npos) << label << ": " << got;
      }
    }
  }
}

TEST(XlsxRows, LargeSheetStreamsWithTheDimensionLyingLarge) {
  std::string data;
  for (int i = 1; i <= 50000; ++i)
    data += "<row r=\"" + std::to_string(i) + "\"><c r=\"A" + std::to_string(i) + "\"><v>" +
            std::to_string(i) + "</v></c></row>";
  auto wb = open_workbook_bytes("t.xlsx", make_zip(package(sheet_xml(data, "A1:XFD1048576"))), {});
  auto r = wb->openSheet(0);
  EXPECT_EQ(r->declaredRowCount(), 1048576);
  std::vector<Cell> cells;
  int rows = 0;
  double last = 0;
  while (r->nextRow(cells)) {
    ++rows;
    ASSERT_EQ(cells.size(), 1u);
    last = cells[0].number;
  }
  EXPECT_EQ(rows, 50000);
  EXPECT_EQ(last, 50000);
}

// The XML scanner under the readers, over parts that show one rule of XML each.
namespace {

// Writes the events as text: <name a="v"> for a start, </name> for an end, texts as they are.
class Recorder : public XmlHandler {
 public:
  std::string events;
  void start(const char* name, const char** atts) override {
    events += "<";
    events += name;
    for (int i = 0; atts[i]; i += 2)
      events += std::string(" ") + atts[i] + "=\"" + atts[i + 1] + "\"";
    events += ">";
  }
  void end(const char* name) override { events += std::string("</") + name + ">"; }
  void text(const char* data, int len) override {
    events.append(data, static_cast<std::size_t>(len));
  }
};

std::string parse_xml(const std::string& doc, const Limits& limits = Limits()) {
  auto zip = ZipArchive::open_bytes("parts.xlsx", make_zip({{"p.xml", doc}}), limits);
  auto part = zip->open(*zip->find("p.xml"), "the part");
  Recorder r;
  XmlReader xml(*part, r, limits);
  while (xml.step()) {
  }
  return r.events;
}

std::string xml_failure(const std::string& doc, const Limits& limits = Limits()) {
  try {
    parse_xml(doc, limits);
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "(parsed)";
}

TEST(XmlReader, ReadsWhatWellFormedPartsHold) {
  std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n<!-- note -->"
      "<x:root a='1 > \"2\"' b=\"q&quot;&#x41;&#66;&lt;\" c=\"x\ty\r\nz\" xmlns:x=\"u\">"
      "<?pi data?><x:v>a&amp;b\r\nc\rd</x:v><e/><![CDATA[<raw> & \r\n]]>\xC3\xA9\xE2\x84\xA2"
      "\xF0\x9F\x98\x80</x:root>\n<!-- after -->\n";
  EXPECT_EQ(parse_xml(doc),
            "<root a=\"1 > \"2\"\" b=\"q\"AB<\" c=\"x y z\" xmlns:x=\"u\"><v>a&b\nc\nd</v><e></e>"
            "<raw> & \n\xC3\xA9\xE2\x84\xA2\xF0\x9F\x98\x80</root>");
}

// The part arrives in buffers of 256 KiB; references, characters of several bytes and line
// ends cut by a buffer's end must come out whole.
TEST(XmlReader, TokensCutByTheBufferEndComeOutWhole) {
  const std::size_t kBuffer = 256 * 1024;
  for (std::size_t shift = 0; shift < 8; ++shift) {
    std::string pad(kBuffer - 3 - shift, 'a');
    std::string tail = "&amp;\xC3\xA9\r\n<b k=\"&lt;\xE2\x84\xA2\"/>z";
    std::string doc = "<r>" + pad + tail + "</r>";
    EXPECT_EQ(parse_xml(doc), "<r>" + pad + "&\xC3\xA9\n<b k=\"<\xE2\x84\xA2\"></b>z</r>")
        << "shift " << shift;
  }
}

TEST(XmlReader, RefusesWhatIsNotWellFormed) {
  struct Case {
    const char* name;
    std::string doc, says;
  } cases[] = {
      {"mismatched tags", "<a><b></a></b>", "the end tag </a> closes <b>"},
      {"attribute twice", "<a x=\"1\" y=\"2\" x=\"3\"/>", "attribute twice"},
      {"undeclared entity", "<a>&nbsp;</a>", "&nbsp; names an entity that is not declared"},
      {"reference without end", "<a>&amp b</a>", "not closed by ';'"},
      {"bad UTF-8", "<a>\xC3\x28</a>", "not valid UTF-8"},
      {"encoded surrogate", "<a>\xED\xA0\x80</a>", "not valid UTF-8"},
      {"overlong form", "<a>\xC0\xAF</a>", "not valid UTF-8"},
      {"control character", "<a>x\x01y</a>", "does not allow"},
      {"reference to NUL", "<a>&#0;</a>", "does not allow"},
      {"reference beyond Unicode", "<a>&#x110000;</a>", "names no character"},
      {"unquoted value", "<a x=1/>", "not in quotes"},
      {"value with <", "<a x=\"<\"/>", "holds '<'"},
      {"attributes run together", "<a x=\"1\"y=\"2\"/>", "not apart"},
      {"name with a digit first", "<1a/>", "begins with a character"},
      {"text after the root", "<a/>junk", "text after the last element"},
      {"text before the root", "junk<a/>", "text before the first element"},
      {"second root", "<a/><b/>", "a second root element"},
      {"unclosed root", "<a><b></b>", "ends before its elements are closed"},
      {"cut inside a tag", "<a><b x=\"1", "ends inside a tag"},
      {"no element", "<!-- only -->", "holds no element"},
      {"end tag alone", "</a>", "without its start tag"},
      {"declaration later", "<a><?xml version=\"1.0\"?></a>", "after the start"},
      {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
       "in the encoding ISO-8859-1"},
      {"document type", "<!DOCTYPE a><a/>", "declares a document type"},
      {"unknown markup", "<a><!ELEMENT a ANY></a>", "no tag, comment or declaration"},
  };
  for (const auto& c : cases) {
    std::string m = xml_failure(c.doc);
    EXPECT_NE(m.find("\"parts.xlsx\""), std::string::npos) << c.name << ": " << m;
    EXPECT_NE(m.find(c.says), std::string::npos) << c.name << ": " << m;
  }
  // Where it happened: the line and column of the token.
  std::string m = xml_failure("<a>\n<b>\n  </c></a>");
  EXPECT_NE(m.find("line 3, column 3 of p.xml"), std::string::npos) << m;
  // Lines counted over many buffers.
  std::string longDoc = "<a>\n";
  for (int i = 0; i < 300000; ++i) longDoc += "<b/>\n";
  m = xml_failure(longDoc + "  </c></a>");
  EXPECT_NE(m.find("line 300002, column 3 of p.xml"), std::string::npos) << m;
}

TEST(XmlReader, UnfinishedTokensAreBounded) {
  Limits small;
  small.maxTokenBytes = 64 * 1024;
  std::string comment = "<a><!--" + std::string(1u << 20, 'x') + "--></a>";
  EXPECT_NE(xml_failure(comment, small).find("longer than 65536 bytes"), std::string::npos);
  std::string attr = "<a x=\"" + std::string(1u << 20, 'y') + "\"/>";
  EXPECT_NE(xml_failure(attr, small).find("longer than 65536 bytes"), std::string::npos);
  // Text is handed out as it comes, so a long text is no token.
  EXPECT_EQ(parse_xml("<a>" + std::string(1u << 20, 'z') + "</a>", small).size(), (1u << 20) + 7);
}

}  // namespace

namespace {

// A sheet large enough to be inflated ahead on a second thread: rows come in order and whole,
// a rewind in the middle (the thread still inflating) starts again, and damage far into the
// part is reported at its place.
TEST(XlsxLargeParts, InflatedAheadRowsAreTheSame) {
  std::string data, expect;
  for (int r = 1; r <= 60000; ++r) {
    std::string n = std::to_string(r);
    data += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>part " + n +
            "</t></is></c><c r=\"B" + n + "\"><v>" + n + ".5</v></c></row>";
    expect += "part " + n + "|n:" + n + ".5\n";
  }
  ASSERT_GT(data.size(), 5u << 20);
  auto wb = open_workbook_bytes("big.xlsx", make_zip(package(sheet_xml(data))), Limits());
  auto r = wb->openSheet(0);
  std::vector<Cell> cells;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(r->nextRow(cells));
  EXPECT_EQ(cells.at(0).text, "part 1000");
  r->rewind();
  EXPECT_EQ(read_rows(*r), expect);

  std::string bytes = make_zip(package(sheet_xml(data)));
  auto at = bytes.find("xl/worksheets/sheet1.xml");
  ASSERT_NE(at, std::string::npos);
  // Well past the first buffers of inflated data.
  for (std::size_t i = at + 200000; i < at + 200400; ++i) bytes[i] = '\x55';
  std::string m = failure(bytes);
  EXPECT_NE(m.find("sheet \"Sheet One\""), std::string::npos) << m;
}

// A large sheet over shared strings may go on being read on another thread once it is
// prepared: the strings are then read in full, and the rows read there are the same. A small
// sheet, read through the package's shared handle, may not.
TEST(XlsxLargeParts, APreparedSheetReadsTheSameOnAnotherThread) {
  std::string data, sst, expect;
  const int rows = 60000;
  sst = std::string("<sst ") + kNs + ">";
  for (int r = 0; r < rows; ++r) sst += "<si><t>name " + std::to_string(r) + "</t></si>";
  sst += "</sst>";
  for (int r = 1; r <= rows; ++r) {
    std::string n = std::to_string(r);
    data += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(rows - r) +
            "</v></c><c r=\"B" + n + "\"><v>" + n + "</v></c></row>";
    expect += "name " + std::to_string(rows - r) + "|n:" + n + "\n";
  }
  ASSERT_GT(data.size(), 4u << 20);
  auto wb = open_workbook_bytes("big.xlsx", make_zip(package(sheet_xml(data), sst)), Limits());
  auto r = wb->openSheet(0);
  std::vector<Cell> cells;
  ASSERT_TRUE(r->nextRow(cells));
  ASSERT_TRUE(r->prepareForThread());
  std::string got = "name " + std::to_string(rows - 1) + "|n:1\n";
  std::thread other([&] { got += read_rows(*r); });
  other.join();
  EXPECT_EQ(got, expect);

  // Strings in a part of their own size go on being read on this thread while the other one
  // scans the sheet: the two share the table under its lock.
  std::string bigSst = std::string("<sst ") + kNs + ">";
  for (int r = 0; r < 4 * rows; ++r)
    bigSst += "<si><t>name " + std::to_string(r) + " padded</t></si>";
  bigSst += "</sst>";
  ASSERT_GT(bigSst.size(), 4u << 20);
  std::string data2, expect2;
  for (int r = 1; r <= rows; ++r) {
    std::string n = std::to_string(r);
    const int index = (r * 7919) % (4 * rows);
    data2 += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(index) +
             "</v></c><c r=\"B" + n + "\"><v>" + n + ".25</v></c></row>";
    expect2 += "name " + std::to_string(index) + " padded|n:" + n + ".25\n";
  }
  auto wb2 =
      open_workbook_bytes("big2.xlsx", make_zip(package(sheet_xml(data2), bigSst)), Limits());
  auto r2 = wb2->openSheet(0);
  ASSERT_TRUE(r2->nextRow(cells));
  ASSERT_TRUE(r2->prepareForThread());
  std::string got2;
  std::thread reader([&] { got2 = read_rows(*r2); });
  while (r2->workWhileAhead()) {
  }
  reader.join();
  EXPECT_EQ("name 7919 padded|n:1.25\n" + got2, expect2);

  auto small = open_workbook_bytes(
      "small.xlsx", make_zip(package(sheet_xml("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"))),
      Limits());
  auto s1 = small->openSheet(0);
  EXPECT_FALSE(s1->prepareForThread());
}

}  // namespace
