// The .xls reader over workbooks built here record by record, so that each record kind, and
// each way a record or its container can be damaged, is met on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"
#include "source/reader.h"
#include "source/tests/test_util.h"

namespace qm::source {
namespace {

std::string le16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
std::string le32(std::uint32_t v) {
  return le16(v & 0xFFFF) + le16(v >> 16);
}
std::string f64(double d) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &d, 8);
  return s;
}

std::string rec(unsigned id, const std::string& body) {
  return le16(id) + le16(body.size()) + body;
}
std::string bof(unsigned kind) {
  return rec(0x0809, le16(0x0600) + le16(kind) + std::string(12, '\0'));
}
std::string eof() {
  return rec(0x000A, "");
}
std::string cell(unsigned row, unsigned col, unsigned xf = 0) {
  return le16(row) + le16(col) + le16(xf);
}
// A BIFF8 text with a two-byte count, 8-bit characters.
std::string text8(const std::string& s) {
  return le16(s.size()) + '\0' + s;
}

// A version-3 compound file holding one stream (padded to the size that keeps it out of the
// small-block stream). FAT in sector 0, directory in sector 1, the stream from sector 2 on.
std::string compound(std::string stream, const std::u16string& name = u"Workbook") {
  if (stream.size() < 4096) stream.resize(4096, '\0');
  stream.resize((stream.size() + 511) / 512 * 512, '\0');
  std::uint32_t n = static_cast<std::uint32_t>(stream.size() / 512);
  EXPECT_LE(n + 2, 128u);
  std::string h = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(16, '\0');
  h += le16(0x3E) + le16(3) + le16(0xFFFE) + le16(9) + le16(6) + std::string(6, '\0');
  h += le32(0) + le32(1) + le32(1) + le32(0) + le32(4096) + le32(0xFFFFFFFE) + le32(0) +
       le32(0xFFFFFFFE) + le32(0);
  h += le32(0);
  for (int i = 1; i < 109; ++i) h += le32(0xFFFFFFFF);
  std::string fat = le32(0xFFFFFFFD) + le32(0xFFFFFFFE);
  for (std::uint32_t i = 0; i < n; ++i) fat += le32(i + 1 < n ? i + 3 : 0xFFFFFFFE);
  while (fat.size() < 512) fat += le32(0xFFFFFFFF);
  auto entry = [](const std::u16string& nm, int type, std::uint32_t start, std::uint32_t size) {
    std::string e;
    for (char16_t c : nm) e += le16(c);
    e.resize(64, '\0');
    e += le16(nm.empty() ? 0 : (nm.size() + 1) * 2);
    e += static_cast<char>(type);
    e += '\x01';
    e += le32(0xFFFFFFFF) + le32(0xFFFFFFFF) + le32(0xFFFFFFFF);
    e.resize(116, '\0');
    e += le32(start) + le32(size) + le32(0);
    return e;
  };
  std::string dir = entry(u"Root Entry", 5, 0xFFFFFFFE, 0) +
                    entry(name, 2, 2, static_cast<std::uint32_t>(stream.size())) +
                    entry(u"", 0, 0, 0) + entry(u"", 0, 0, 0);
  return h + fat + dir + stream;
}

// A workbook stream: the global records, then one sheet record per name and the sheets'
// records (a name beginning with "chart:" makes a chart sheet).
struct Book {
  std::string globals = bof(5);
  std::vector<std::string> names;
  std::vector<std::string> sheets;  // the cell records of each sheet
  std::string stream() const {
    std::string g = globals;
    std::vector<std::size_t> patch;
    for (std::string nm : names) {
      bool chart = nm.rfind("chart:", 0) == 0;
      if (chart) nm = nm.substr(6);
      patch.push_back(g.size() + 4);
      g += rec(0x0085, le32(0) + '\0' + static_cast<char>(chart ? 2 : 0) +
                           static_cast<char>(nm.size()) + '\0' + nm);
    }
    g += eof();
    std::string out = g;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      out.replace(patch[i], 4, le32(static_cast<std::uint32_t>(out.size())));
      bool chart = names[i].rfind("chart:", 0) == 0;
      out += bof(chart ? 0x20 : 0x10) + sheets[i] + eof();
    }
    return out;
  }
};

using Rows = std::vector<std::vector<Cell>>;

Rows read_sheet(const std::string& path, int sheet = 0) {
  auto wb = open_xls(path);
  auto r = wb->openSheet(sheet);
  Rows rows;
  std::vector<Cell> row;
  while (r->nextRow(row)) rows.push_back(row);
  return rows;
}

TEST(XlsReader, ReadsEachCellRecordKind) {
  test::TempDir dir;
  Book b;
  // Styles: 0 general, 1 a built-in date, 2 a custom date format.
  b.globals += rec(0x041E, le16(164) + text8("dd/mm/yyyy"));
  b.globals += rec(0x00E0, le16(0) + le16(0) + std::string(16, '\0'));
  b.globals += rec(0x00E0, le16(0) + le16(14) + std::string(16, '\0'));
  b.globals += rec(0x00E0, le16(0) + le16(164) + std::string(16, '\0'));
  // Shared strings; the third is split over a CONTINUE that switches to wide characters.
  std::string sst = le32(3) + le32(3) + text8("Part") + text8("Bolt");
  sst += le16(4) + '\0' + "ab";
  b.globals += rec(0x00FC, sst);
  b.globals += rec(0x003C, std::string("\x01") + le16(0x03A9) + le16('c'));
  b.names = {"Prices", "chart:Chart1", "Second"};
  std::string cells;
  cells += rec(0x00FD, cell(2, 0) + le32(0));                                    // A3 "Part"
  cells += rec(0x0204, cell(2, 1) + le16(2) + '\x01' + le16(0xE9) + le16('t'));  // B3 wide
  cells += rec(0x00FD, cell(3, 0) + le32(1));                                    // A4 "Bolt"
  cells += rec(0x0203, cell(3, 1) + f64(12.5));                                  // B4
  cells += rec(0x027E, cell(3, 2) + le32((1234u << 2) | 3));  // C4 12.34 (integer/100)
  cells += rec(0x00BD, le16(3) + le16(3) + le16(0) + le32(0x3FF00000) + le16(1) +
                           le32((45292u << 2) | 2) + le16(4));  // D4 1, E4 a date
  cells += rec(0x0205, cell(3, 6) + '\x01' + '\x00');           // G4 TRUE
  cells += rec(0x0205, cell(3, 7) + '\x07' + '\x01');           // H4 #DIV/0!
  cells += rec(0x0006, cell(5, 0) + '\0' + std::string(5, '\0') + le16(0xFFFF) +
                           std::string(8, '\0'));  // A6 formula, text result
  cells += rec(0x0207, text8("from formula"));
  cells += rec(0x0006, cell(5, 1, 2) + f64(45000) + std::string(8, '\0'));  // B6 date result
  cells += rec(0x00FD, cell(5, 2) + le32(2));                               // C6 across CONTINUE
  b.sheets = {cells, "", rec(0x0203, cell(0, 0) + f64(1))};
  // The chart sheet is listed in the workbook, but only worksheets are tables.
  std::string stream = b.stream();
  std::string path = dir.write("kinds.xls", compound(stream));
  auto wb = open_xls(path);
  EXPECT_EQ(wb->sheetNames(), (std::vector<std::string>{"Prices", "Second"}));
  EXPECT_EQ(read_sheet(path, 1).at(0).at(0).number, 1);

  Rows rows = read_sheet(path);
  // Rows begin at the first holding a value; row 5 (empty) comes back empty.
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][0].text, "Part");
  EXPECT_EQ(rows[0][1].text, "\xC3\xA9t");
  EXPECT_EQ(rows[1][0].text, "Bolt");
  EXPECT_EQ(rows[1][1].kind, Cell::Kind::Number);
  EXPECT_EQ(rows[1][1].number, 12.5);
  EXPECT_DOUBLE_EQ(rows[1][2].number, 12.34);
  EXPECT_EQ(rows[1][3].number, 1.0);
  EXPECT_EQ(rows[1][3].kind, Cell::Kind::Number);
  EXPECT_EQ(rows[1][4].kind, Cell::Kind::DateTime);
  EXPECT_EQ(rows[1][4].number, 45292);
  EXPECT_EQ(rows[1][5].kind, Cell::Kind::Empty);
  EXPECT_EQ(rows[1][6].kind, Cell::Kind::Boolean);
  EXPECT_TRUE(rows[1][6].boolean);
  EXPECT_EQ(rows[1][7].kind, Cell::Kind::Error);
  EXPECT_EQ(rows[1][7].text, "#DIV/0!");
  EXPECT_TRUE(rows[2].empty());
  EXPECT_EQ(rows[3][0].text, "from formula");
  EXPECT_EQ(rows[3][1].kind, Cell::Kind::DateTime);
  EXPECT_EQ(rows[3][2].text,
            "ab\xCE\xA9"
            "c");
}

TEST(XlsReader, DateSystemAndSheetChoice) {
  test::TempDir dir;
  Book b;
  b.globals += rec(0x0022, le16(1));  // 1904 date system
  b.globals += rec(0x00E0, le16(0) + le16(0) + std::string(16, '\0'));
  b.globals += rec(0x00E0, le16(0) + le16(14) + std::string(16, '\0'));
  b.names = {"One", "Two"};
  b.sheets = {rec(0x0203, cell(0, 0, 1) + f64(0)) + rec(0x0203, cell(0, 1, 1) + f64(-2000)),
              rec(0x0203, cell(0, 0) + f64(7))};
  std::string path = dir.write("d1904.xls", compound(b.stream()));
  Rows one = read_sheet(path, 0);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][0].kind, Cell::Kind::DateTime);
  EXPECT_EQ(one[0][0].number, 1462);  // 1 January 1904 in the 1900 count
  EXPECT_EQ(one[0][1].kind, Cell::Kind::Number);
  Rows two = read_sheet(path, 1);
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0][0].number, 7);
  EXPECT_THROW(open_xls(path)->openSheet(2), DatabaseError);
}

// Excel 5.0/95 workbooks: the stream is "Book", texts are 8-bit in the workbook's code page.
TEST(XlsReader, ReadsExcel95Workbooks) {
  test::TempDir dir;
  auto bof5 = [](unsigned kind) {
    return rec(0x0809, le16(0x0500) + le16(kind) + std::string(4, '\0'));
  };
  std::string g = bof5(5) + rec(0x0042, le16(1251));
  std::size_t patch = g.size() + 4;
  g += rec(0x0085, le32(0) + '\0' + '\0' + '\x03' + "\xCF\xF0\xE0") + eof();  // "Пра"
  std::string sheet = bof5(0x10) + rec(0x0204, cell(0, 0) + le16(3) + "\xE4\xE0\xED") +
                      rec(0x0203, cell(0, 1) + f64(2.5)) + eof();
  g.replace(patch, 4, le32(static_cast<std::uint32_t>(g.size())));
  std::string path = dir.write("excel95.xls", compound(g + sheet, u"Book"));
  auto wb = open_xls(path);
  EXPECT_EQ(wb->sheetNames(), std::vector<std::string>{"\xD0\x9F\xD1\x80\xD0\xB0"});
  Rows rows = read_sheet(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].text, "\xD0\xB4\xD0\xB0\xD0\xBD");  // "дан"
  EXPECT_EQ(rows[0][1].number, 2.5);
}

// Cells need not come in order; of two in the same place the later record stands.
TEST(XlsReader, CellsOutOfOrder) {
  test::TempDir dir;
  Book b;
  b.names = {"Prices"};
  b.sheets = {rec(0x0203, cell(3, 1) + f64(4)) + rec(0x0203, cell(1, 0) + f64(1)) +
              rec(0x0203, cell(3, 0) + f64(3)) + rec(0x0203, cell(1, 0) + f64(2))};
  Rows rows = read_sheet(dir.write("order.xls", compound(b.stream())));
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_EQ(rows[0].size(), 1u);
  EXPECT_EQ(rows[0][0].number, 2);
  EXPECT_TRUE(rows[1].empty());
  ASSERT_EQ(rows[2].size(), 2u);
  EXPECT_EQ(rows[2][0].number, 3);
  EXPECT_EQ(rows[2][1].number, 4);
}

// A sheet of more cells than one band holds reads the same whether its rows come in order
// or not, and again after a rewind from the middle.
TEST(XlsReader, LargeSheetsReadInBandsInAnyOrder) {
  test::TempDir dir;
  const unsigned rows = 600, cols = 255;
  auto row_record = [&](unsigned r) {
    std::string body = le16(r) + le16(0);
    for (unsigned c = 0; c < cols; ++c) body += le16(0) + le32((r * 1000 + c) << 2 | 2);
    return rec(0x00BD, body + le16(cols - 1));
  };
  for (bool inOrder : {true, false}) {
    // One text cell beyond the numbers of row 7: right after them, or last of all.
    const std::string late = rec(0x0204, cell(7, 255) + text8("late"));
    std::string sheet;
    for (unsigned i = 0; i < rows; ++i) {
      sheet += row_record(inOrder ? i : rows - 1 - i);
      if (inOrder && i == 7) sheet += late;
    }
    if (!inOrder) sheet += late;
    Book b;
    b.names = {"Big"};
    b.sheets = {sheet};
    auto wb = open_xls(dir.write("big.xls", b.stream()));
    auto r = wb->openSheet(0);
    EXPECT_EQ(r->declaredRowCount(), rows);
    std::vector<Cell> row;
    for (int pass = 0; pass < 2; ++pass) {
      unsigned n = 0;
      bool same = true;
      while (r->nextRow(row)) {
        same = same && row.size() == (n == 7 ? 256u : cols) &&
               row[cols - 1].number == n * 1000 + cols - 1 && row[0].number == n * 1000;
        if (n == 7) {
          EXPECT_EQ(row[255].text, "late") << inOrder;
        }
        ++n;
        if (pass == 0 && n == 300) break;
      }
      EXPECT_TRUE(same) << inOrder << " pass " << pass;
      EXPECT_EQ(n, pass == 0 ? 300u : rows) << inOrder;
      r->rewind();
    }
  }
}

// Each damaged workbook is refused with an error naming the file and what is wrong with it.
TEST(XlsReader, DamagedWorkbooksGiveAClearError) {
  test::TempDir dir;
  Book good;
  good.names = {"Prices"};
  good.globals += rec(0x00FC, le32(1) + le32(1) + text8("x"));
  good.sheets = {rec(0x00FD, cell(0, 0) + le32(0))};
  const std::string stream = good.stream();
  const std::string file = compound(stream);

  auto with_record = [&](const std::string& r) {
    Book b = good;
    b.sheets = {r};
    return compound(b.stream());
  };
  std::string oversized = stream;
  // The first record after the workbook header declares 0x7F7F bytes.
  oversized.replace(bof(5).size() + 2, 2, le16(0x7F7F));
  std::string circle = file;
  circle.replace(512 + 4 * 4, 4, le32(2));  // the stream's third sector points to its first
  std::string badDir = file;
  badDir.replace(48, 4, le32(5000));  // directory sector far past the end

  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"oversized.xls", compound(oversized), "more than the 8224"},
      {"past-end.xls", file.substr(0, 512 * 3) + stream.substr(0, 10), "truncated"},
      {"sst-index.xls", with_record(rec(0x00FD, cell(0, 0) + le32(9))), "shared string 9"},
      {"short-number.xls", with_record(rec(0x0203, cell(0, 0) + "abc")), "shorter"},
      {"long-label.xls", with_record(rec(0x0204, cell(0, 0) + le16(300) + '\0' + "ab")),
       "runs past the end"},
      {"far-column.xls", with_record(rec(0x0203, cell(0, 300) + f64(1))), "column 301"},
      {"circle.xls", circle, "damaged"},
      {"bad-directory.xls", badDir, "damaged"},
      {"biff4.xls", rec(0x0409, le16(0) + le16(0x10) + le16(0)) + eof(), "Excel 2.1 to 4.0"},
      {"no-stream.xls", compound(stream, u"Other"), "no workbook stream"},
      {"not-a-workbook.xls", std::string(2048, 'x'), "not an Excel 97-2003 workbook"},
  };
  for (const auto& [name, bytes, words] : cases) {
    std::string path = dir.write(name, bytes);
    try {
      read_sheet(path);
      ADD_FAILURE() << name << " was read";
    } catch (const DatabaseError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(words), std::string::npos) << name << ": " << what;
    }
  }
  // The good one itself reads, so the errors above come from the damage alone.
  Rows rows = read_sheet(dir.write("good.xls", file));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].text, "x");
}

TEST(XlsReader, PasswordProtectedWorkbookIsRefused) {
  test::TempDir dir;
  Book b;
  b.globals += rec(0x002F, le16(1) + std::string(52, '\0'));
  b.names = {"Prices"};
  b.sheets = {""};
  std::string path = dir.write("locked.xls", compound(b.stream()));
  try {
    open_xls(path);
    ADD_FAILURE() << "opened";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not decrypt file. (" + path + " is protected by a password)");
  }
}

}  // namespace
}  // namespace qm::source
