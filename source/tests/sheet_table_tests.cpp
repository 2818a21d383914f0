#include <gtest/gtest.h>

#include "core/error.h"
#include "source/sheet_table.h"

namespace qm::source {
namespace {

Cell text(const std::string& s) {
  Cell c;
  c.kind = Cell::Kind::Text;
  c.text = s;
  return c;
}
Cell num(double v) {
  Cell c;
  c.kind = Cell::Kind::Number;
  c.number = v;
  return c;
}
Cell date(double serial) {
  Cell c;
  c.kind = Cell::Kind::DateTime;
  c.number = serial;
  return c;
}
Cell boolean(bool b) {
  Cell c;
  c.kind = Cell::Kind::Boolean;
  c.boolean = b;
  return c;
}
Cell empty() {
  return Cell{};
}

TEST(DescribeColumns, HeaderNamesFillGapsAndNumberRepeats) {
  std::vector<Cell> header = {text("Part"),  empty(),   text("Price"),
                              text("price"), num(2024), text("  Qty ")};
  auto cols = describe_columns(&header, {}, 7, SheetOptions{});
  std::vector<std::string> names;
  for (const auto& c : cols) names.push_back(c.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Part", "F2", "Price", "price1", "2024", "Qty", "F7"}));
}

TEST(DescribeColumns, WithoutHeaderColumnsAreF1ToFn) {
  auto cols = describe_columns(nullptr, {{text("a"), text("b"), text("c")}}, 3, SheetOptions{});
  ASSERT_EQ(cols.size(), 3u);
  EXPECT_EQ(cols[0].name, "F1");
  EXPECT_EQ(cols[2].name, "F3");
}

TEST(DescribeColumns, KindsFromScannedCells) {
  struct Case {
    const char* what;
    std::vector<Cell> cells;
    bool mixedAsText;
    int type;
    int size;
    const char* format;
  };
  const std::vector<Case> cases = {
      {"numbers", {num(1), num(2.5), empty()}, true, dbDouble, 8, ""},
      {"dates without time", {date(45000), date(45001)}, true, dbDate, 8, "Short Date"},
      {"dates with time", {date(45000.5), date(45001)}, true, dbDate, 8, "General Date"},
      {"times of day", {date(0.25), date(0.5)}, true, dbDate, 8, "Long Time"},
      {"booleans", {boolean(true), boolean(false)}, true, dbBoolean, 1, ""},
      {"text", {text("a"), text("b")}, true, dbText, 255, ""},
      {"nothing but empty cells", {empty(), empty()}, true, dbText, 255, ""},
      {"mixed under IMEX=1", {num(1), text("x"), num(2)}, true, dbText, 255, ""},
      {"mixed, majority number", {num(1), text("x"), num(2)}, false, dbDouble, 8, ""},
      {"mixed, majority text", {text("y"), text("x"), num(2)}, false, dbText, 255, ""},
      {"long text becomes memo", {text(std::string(300, 'x'))}, true, dbMemo, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<Cell>> rows;
    for (const auto& cell : c.cells) rows.push_back({cell});
    SheetOptions o;
    o.mixedAsText = c.mixedAsText;
    auto cols = describe_columns(nullptr, rows, 1, o);
    EXPECT_EQ(cols[0].type, c.type) << c.what;
    EXPECT_EQ(cols[0].size, c.size) << c.what;
    EXPECT_EQ(cols[0].format, c.format) << c.what;
  }
}

TEST(DescribeColumns, TextReadersGiveTextColumnsWhateverTheCells) {
  SheetOptions o;
  o.allText = true;
  auto cols = describe_columns(nullptr, {{num(1)}, {date(45000)}}, 1, o);
  EXPECT_EQ(cols[0].type, dbText);
  EXPECT_EQ(cols[0].size, 255);
}

TEST(SheetOptions, FromConnectString) {
  auto o = SheetOptions::from(
      ConnectString::parse("Excel 8.0;HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;"));
  EXPECT_FALSE(o.firstRowHeader);
  EXPECT_TRUE(o.mixedAsText);
  EXPECT_EQ(o.typeGuessRows, 0);
  auto d = SheetOptions::from(ConnectString::parse("Excel 8.0;"));
  EXPECT_TRUE(d.firstRowHeader);
  EXPECT_FALSE(d.mixedAsText);
  EXPECT_EQ(d.typeGuessRows, 8);
}

// A sheet of generated rows that counts how many rows were asked for.
class CountingReader : public RowReader {
 public:
  explicit CountingReader(std::int64_t rows) : rows_(rows) {}
  bool nextRow(std::vector<Cell>& cells) override {
    if (next_ >= rows_) return false;
    ++reads;
    cells.assign(2, Cell{});
    if (next_ == 0) {
      cells[0] = text("Id");
      cells[1] = text("Name");
    } else {
      cells[0] = num(static_cast<double>(next_));
      cells[1] = text("row " + std::to_string(next_));
    }
    ++next_;
    return true;
  }
  void rewind() override { next_ = 0; }
  std::int64_t reads = 0;

 private:
  std::int64_t rows_;
  std::int64_t next_ = 0;
};

TEST(SheetRecordset, ReadsRowsOnlyAsTheyAreNeeded) {
  auto reader = std::make_unique<CountingReader>(1000001);
  CountingReader* r = reader.get();
  SheetOptions o;
  o.typeGuessRows = 0;
  SheetRecordset rs(std::move(reader), o);
  std::vector<Cell> row;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(rs.fetch(row));
  EXPECT_EQ(row[0].number, 100);
  EXPECT_LE(r->reads, kMaxScanRows + 1);
  EXPECT_EQ(rs.columns()[0].type, dbDouble);
  EXPECT_EQ(rs.columns()[1].name, "Name");
}

TEST(SheetRecordset, CountingKeepsThePositionAndRewindStartsOver) {
  SheetOptions o;
  o.typeGuessRows = 3;  // the reader serves most rows after the scan
  SheetRecordset rs(std::make_unique<CountingReader>(11), o);
  std::vector<Cell> row;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(rs.fetch(row));
  EXPECT_EQ(rs.recordCount(), 10);
  ASSERT_TRUE(rs.fetch(row));
  EXPECT_EQ(row[0].number, 6);
  rs.rewind();
  int n = 0;
  while (rs.fetch(row)) ++n;
  EXPECT_EQ(n, 10);
  EXPECT_EQ(row[0].number, 10);
}

// Rows of a given width each (a wide row from a chosen row on), with a declared width.
class WideReader : public RowReader {
 public:
  WideReader(int& reads, int& limit, int rows, int wideFrom, std::size_t wide, int declared)
      : reads(reads),
        limit(limit),
        rows_(rows),
        wideFrom_(wideFrom),
        wide_(wide),
        declared_(declared) {}
  bool nextRow(std::vector<Cell>& cells) override {
    if (reads >= rows_) return false;
    cells.assign(reads >= wideFrom_ ? wide_ : 2, Cell{});
    cells.front() = num(reads);
    cells.back() = text("end");
    ++reads;
    return true;
  }
  void rewind() override { reads = 0; }
  int declaredColumnCount() const override { return declared_; }
  void limitColumns(std::uint32_t columns) override { limit = static_cast<int>(columns); }
  // Outside the reader, which goes with the recordset that owns it.
  int& reads;
  int& limit;

 private:
  int rows_, wideFrom_;
  std::size_t wide_;
  int declared_;
};

TEST(SheetRecordset, WidthFromRealCellsAndTooWideRefusedAtOnce) {
  struct Case {
    const char* what;
    int wideFrom;  // first row with wide cells (0: the header)
    std::size_t wide;
    int declared;
    int columns;  // -1: refused
    int reads;    // rows read by then
  };
  const std::vector<Case> cases = {
      {"wide header", 0, 16384, -1, -1, 1},
      {"wide fifth row", 5, 300, -1, -1, 6},
      {"256 columns", 3, 256, -1, -1, 4},
      {"255 columns", 3, 255, -1, 255, 1000},
      {"dimension wider than a table", 1000, 2, 16384, 2, 1000},
      {"dimension pads", 1000, 2, 10, 10, 1000},
  };
  for (const auto& c : cases) {
    int reads = 0, limit = -1;
    auto reader = std::make_unique<WideReader>(reads, limit, 1000, c.wideFrom, c.wide, c.declared);
    SheetOptions o;
    o.typeGuessRows = 0;
    o.fileName = "wide.xlsx";
    if (c.columns < 0) {
      try {
        SheetRecordset rs(std::move(reader), o);
        ADD_FAILURE() << c.what << ": opened";
      } catch (const DatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "wide.xlsx: Too many fields defined (" +
                                             std::to_string(c.wide) + " columns; at most 255).")
            << c.what;
      }
    } else {
      SheetRecordset rs(std::move(reader), o);
      EXPECT_EQ(static_cast<int>(rs.columns().size()), c.columns) << c.what;
      EXPECT_EQ(limit, c.columns) << c.what;
      // The kept rows come back whole after the scan.
      std::vector<Cell> row;
      ASSERT_TRUE(rs.fetch(row)) << c.what;
      EXPECT_EQ(row[0].number, 1) << c.what;
      EXPECT_EQ(row[c.wideFrom <= 1 ? c.wide - 1 : 1].text, "end") << c.what;
    }
    EXPECT_EQ(reads, c.reads) << c.what;
  }
}

TEST(Serial, ExcelDaysBothSidesOfTheFictitiousLeapDay) {
  struct Case {
    double serial;
    int y, m, d, ms;
  };
  for (const Case& c : std::vector<Case>{{1, 1900, 1, 1, 0},
                                         {59, 1900, 2, 28, 0},
                                         {61, 1900, 3, 1, 0},
                                         {45000.5, 2023, 3, 15, 43200000},
                                         {0.25, 1899, 12, 30, 21600000}}) {
    DateTime dt = datetime_from_serial(c.serial);
    EXPECT_EQ(dt.day, day_from_ymd(c.y, c.m, c.d)) << c.serial;
    EXPECT_EQ(dt.ms, c.ms) << c.serial;
    EXPECT_DOUBLE_EQ(serial_from_datetime(dt), c.serial);
  }
  EXPECT_TRUE(datetime_from_serial(1e12).isNull());
}

}  // namespace
}  // namespace qm::source
