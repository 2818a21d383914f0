#include <gtest/gtest.h>

#include "config/suggest_mapping.h"
#include "core/error.h"

using namespace qm;
using namespace qm::config;

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<Lines>;

// A source table of named columns and text rows.
class Sheet : public Dataset {
 public:
  Sheet(Lines names, Rows rows) : rows_(std::move(rows)) {
    for (auto& n : names) fields_.emplace_back(std::move(n), this, fields_.size());
  }
  void open() override {}
  void close() override {}
  bool active() const override { return true; }
  void first() override { row_ = 0; }
  void next() override { ++row_; }
  bool eof() const override { return row_ >= rows_.size(); }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(rows_.size()); }
  int fieldCount() const override { return static_cast<int>(fields_.size()); }
  Field& field(int i) override {
    if (i < 0 || i >= fieldCount()) throw ListIndexError(i);
    return fields_[static_cast<std::size_t>(i)];
  }
  Field* findField(std::string_view) override { return nullptr; }

 private:
  struct Column : Field {
    Column(std::string n, Sheet* s, std::size_t i) : name_(std::move(n)), sheet(s), index(i) {}
    std::string name_;
    Sheet* sheet;
    std::size_t index;
    const std::string& name() const override { return name_; }
    int displayWidth() const override { return 10; }
    void setDisplayWidth(int) override {}
    bool isNull() const override { return asString().empty(); }
    std::string asString() const override {
      const Lines& row = sheet->rows_.at(sheet->row_);
      return index < row.size() ? row[index] : std::string();
    }
    void setAsString(std::string_view) override { throw DatabaseError("read only"); }
  };
  std::vector<Column> fields_;
  Rows rows_;
  std::size_t row_ = 0;
};

Lines suggest(Lines names, Rows rows, bool header, const Lines& present = {},
              const Lines& fields = {}, bool rowBreak = false) {
  Sheet sheet(std::move(names), std::move(rows));
  SuggestOptions options;
  options.header = header;
  options.rowBreak = rowBreak;
  options.fields = fields;
  return suggest_mapping(sheet, present, options);
}

TEST(SuggestMapping, HeaderNamesGiveTheLinesAPersonWrites) {
  struct Case {
    Lines names;
    Lines lines;
    bool rowBreak = false;  // "3. Row Contains Break Levels" ticked
  } cases[] = {
      {{"Part", "Description", "List", "Cost"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"}},
      {{"ITEM NO", "desc", "MSRP", "Your Cost"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"}},
      {{"Catalog #", "Unit", "List Price", "Net", "Description", "UPC"},
       {"PARTNUMBER=0", "DESCRIPTN=4", "LISTPRICE=2", "COST_OF_1=3"}},
      {{"SKU", "Item Description", "Price", "Dealer"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"}},
      {{"Code", "Name", "Net Weight", "Unit Price", "Net Cost"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=3", "COST_OF_1=4"}},
      {{"Mfr Part #", "P/N", "Product Description", "Retail", "Distributor"},
       {"PARTNUMBER=0", "DESCRIPTN=2", "LISTPRICE=3", "COST_OF_1=4"}},
      {{"Part No", "Qty", "Net Price", "Weight (lb)"}, {"PARTNUMBER=0", "COST_OF_1=2", "LEV1=1"}},
      // Words run together, as in "ListPrice" headers and dBase field names.
      {{"PartNumber", "Description", "ListPrice", "Cost", "QtyBreak", "UOM", "Category"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "LEV1=4"}},
      {{"PARTNO", "DESCRIP", "LISTPRICE", "NETPRICE", "OQTY", "COSTLEV1", "LEV1", "COST_OF_2"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "COST_OF_2=7", "OQTY=4",
        "LEV1=6", "COSTLEV1=5"}},
      {{"Item #", "Description", "List", "Cost 2", "Cost 1", "Special Cost", "Std Pkg"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=4", "COST_OF_2=3", "SPCL_COST=5",
        "OQTY=6"}},
      {{"Part #", "Desc", "Qty 1", "Price 1", "Qty2", "Price2", "Break Price 3", "Break 3"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LEV1=2", "LEV2=4", "LEV3=7", "COSTLEV1=3", "COSTLEV2=5",
        "COSTLEV3=6"}},
      {{"Part", "Desc", "Break Qty", "Cost", "Qty 2", "Break Cost"},
       {"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_1=3", "LEV1=ROWBREAK-2"},
       true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(suggest(c.names, {}, true, {}, {}, c.rowBreak), c.lines)
        << ::testing::PrintToString(c.names);
}

TEST(SuggestMapping, WithoutNamesTheContentsTell) {
  const Rows acme = {
      {"AC-1001", "Duplex receptacle, 15A 125V, white", "$2.49", "$1.12", "EA", "012345600017"},
      {"AC-1002", "Duplex receptacle, 20A 125V, ivory", "$3.95", "$1.78", "EA", "012345600024"},
      {"AC-1010", "GFCI receptacle 20A tamper resistant", "$24.50", "$11.03", "EA", "012345600109"},
      {"AC-2001", "Single pole switch 15A", "$1.89", "$0.85", "EA", "012345600208"},
  };
  Rows costFirst;  // the cost before the list price, no currency signs, a break quantity
  for (const auto& r : acme)
    costFirst.push_back(
        {r[1], r[0], r[3].substr(1), r[2].substr(1), r[0] == "AC-1002" ? "10" : "1"});
  Rows titled = {{"Acme Electrical Supply - Price List effective 11/1/2026"},
                 {"Part Number", "Description", "List Price", "Net Cost", "Unit", "UPC"}};
  titled.insert(titled.end(), acme.begin(), acme.end());
  const Lines six = {"F1", "F2", "F3", "F4", "F5", "F6"};
  const Lines four = {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"};
  struct Case {
    const char* what;
    Lines names;
    const Rows& rows;
    bool header;
    Lines lines;
  } cases[] = {
      {"no header row", six, acme, false, four},
      {"names that say nothing",
       {"Artikel", "Bezeichnung", "Preis", "Netto", "ME", "EAN"},
       acme,
       true,
       four},
      {"cost before list",
       six,
       costFirst,
       false,
       {"PARTNUMBER=1", "DESCRIPTN=0", "LISTPRICE=3", "COST_OF_1=2", "LEV1=4"}},
      // The header row under a title, whether or not the first row was taken for names.
      {"titled, no header", six, titled, false, four},
      {"titled, header",
       {titled[0][0], "F2", "F3", "F4", "F5", "F6"},
       Rows(titled.begin() + 1, titled.end()),
       true,
       four},
  };
  for (const auto& c : cases) EXPECT_EQ(suggest(c.names, c.rows, c.header), c.lines) << c.what;
}

TEST(SuggestMapping, LeavesAloneWhatTheUserLinkedAndWhatTheListLacks) {
  const Lines names = {"Part", "Description", "List", "Cost", "Item", "Qty"};
  struct Case {
    Lines present;
    Lines fields;  // the page-3 list; empty for every price-file field
    Lines lines;
    bool rowBreak = false;
  } cases[] = {
      // The user's part number is kept: no second one, though "Part" is still free.
      {{"PARTNUMBER=4"}, {}, {"DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3", "LEV1=5"}},
      // A column the user linked is not offered to another field.
      {{"DESCRIPTN=3"}, {}, {"PARTNUMBER=0", "LISTPRICE=2", "LEV1=5"}},
      {{"LEV1=ROWBREAK-2", "cost_of_1=CONS-A"}, {}, {"PARTNUMBER=0", "DESCRIPTN=1"}},
      // The rows have their break column already: no second one.
      {{"LEV2=ROWBREAK-4"},
       {},
       {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"},
       true},
      {{},
       {"partnumber", "DESCRIPTN", "LISTPRICE", "LEV1"},
       {"partnumber=0", "DESCRIPTN=1", "LISTPRICE=2", "LEV1=5"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(suggest(names, {}, true, c.present, c.fields, c.rowBreak), c.lines)
        << ::testing::PrintToString(c.present);
}

}  // namespace
