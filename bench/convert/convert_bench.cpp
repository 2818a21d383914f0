// convert_bench [ROWS]: converts ROWS (default 1,000,000) in-memory rows of supplier-like
// cells with 8 mapping lines, breaks off and on, into a sink that keeps nothing and into a
// price file written by the table engine, and prints rows per second side by side.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "build/convert_rows.h"
#include "build/dbf_price_sink.h"
#include "build/price_sink.h"
#include "build/tests/price_file_fields.h"
#include "core/error.h"
#include "core/messages.h"
#include "tables/dbf_table.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {

constexpr int kColumns = 7;  // part, description, list price, cost, qty break, uom, category

// Rows in one flat block of cells; the columns hand out copies, as a source table does.
class FlatDataset : public Dataset {
 public:
  explicit FlatDataset(std::vector<std::string> cells) : cells_(std::move(cells)) {
    for (int i = 0; i < kColumns; ++i) fields_.push_back(std::make_unique<Column>(*this, i));
  }
  void open() override {}
  void close() override {}
  bool active() const override { return true; }
  void first() override { row_ = 0; }
  void next() override { ++row_; }
  bool eof() const override { return row_ * kColumns >= cells_.size(); }
  std::int64_t recordCount() override {
    return static_cast<std::int64_t>(cells_.size() / kColumns);
  }
  int fieldCount() const override { return kColumns; }
  Field& field(int i) override {
    if (i < 0 || i >= kColumns) throw ListIndexError(i);
    return *fields_[static_cast<std::size_t>(i)];
  }
  Field* findField(std::string_view) override { return nullptr; }

 private:
  class Column : public Field {
   public:
    Column(FlatDataset& d, int i) : d_(d), i_(i), name_("F" + std::to_string(i)) {}
    const std::string& name() const override { return name_; }
    int displayWidth() const override { return 20; }
    void setDisplayWidth(int) override {}
    bool isNull() const override { return false; }
    std::string asString() const override { return d_.cells_[d_.row_ * kColumns + i_]; }
    void setAsString(std::string_view) override {}

   private:
    FlatDataset& d_;
    std::size_t i_;
    std::string name_;
  };
  std::vector<std::string> cells_;
  std::vector<std::unique_ptr<Column>> fields_;
  std::size_t row_ = 0;
};

// Cells with the mix a supplier's list has: messy prices, descriptions with "|", quantity
// ranges, and parts repeated on break rows.
std::vector<std::string> make_cells(std::size_t rows) {
  std::mt19937 rng(20240601);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* nouns[] = {"Hex bolt", "Washer", "Cable tie", "Fuse",   "Relay",
                         "Bearing",  "Gasket", "Connector", "Spring", "Bracket"};
  const char* adj[] = {"stainless", "zinc plated", "heavy duty", "nylon", "brass", "insulated"};
  const char* specs[] = {"M8x40", "200mm", "10A", "230V", "3/8in", "IP67", "25m roll", "0.5mm"};
  const char* uom[] = {"EA", "BX", "PK", "M", "KG", "RL", "PR", "SET"};
  const char* cats[] = {"Fasteners/Bolts", "Electrical/Fuses", "Cable/Ties", "Hydraulics", ""};
  const char* qty[] = {"1-99", "100-249", "250-499", "500+", "1", "1000+", ""};
  std::vector<std::string> cells;
  cells.reserve(rows * kColumns);
  std::string part, desc;
  int repeats = 0;
  char buf[64];
  for (std::size_t r = 0; r < rows; ++r) {
    if (repeats == 0) {
      std::snprintf(buf, sizeof buf, "%c%c-%05d-%c", 'A' + pick(26), 'A' + pick(26), pick(100000),
                    'A' + pick(26));
      part = buf;
      desc = std::string(nouns[pick(10)]) + " " + adj[pick(6)] + (pick(12) == 0 ? " | " : " ") +
             specs[pick(8)] + (pick(4) == 0 ? ", pack of 10" : "");
      repeats = pick(10) < 3 ? 1 + pick(5) : 0;  // 30% of parts carry break rows
      cells.push_back(part);
      cells.push_back(desc);
    } else {
      --repeats;
      cells.push_back(part);
      cells.push_back("");
    }
    double v = (1 + pick(200000)) / 100.0;
    int kind = pick(100);
    if (kind < 30) {
      std::snprintf(buf, sizeof buf, "$%d,%03d.%02d", static_cast<int>(v) / 1000,
                    static_cast<int>(v) % 1000, pick(100));
    } else if (kind < 50) {
      std::snprintf(buf, sizeof buf, "%.2f", v);
    } else if (kind < 70) {
      std::snprintf(buf, sizeof buf, "%.3f", v);
    } else if (kind < 75) {
      std::snprintf(buf, sizeof buf, "(%.3f)", v);
    } else if (kind < 80) {
      std::snprintf(buf, sizeof buf, "N/A");
    } else if (kind < 84) {
      std::snprintf(buf, sizeof buf, " %.2f ", v);
    } else if (kind < 87) {
      std::snprintf(buf, sizeof buf, "%.2f USD", v);
    } else if (kind < 93) {
      std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v));
    } else {
      buf[0] = 0;
    }
    cells.push_back(buf);
    std::snprintf(buf, sizeof buf, "%.4f", v * 0.6);
    cells.push_back(buf);
    cells.push_back(qty[pick(7)]);
    cells.push_back(uom[pick(8)]);
    cells.push_back(cats[pick(5)]);
  }
  return cells;
}

std::vector<std::string> mapping(bool breaks) {
  return {"PARTNUMBER=0",
          "DESCRIPTN=1",
          "LISTPRICE=2",
          "COST_OF_1=3",
          breaks ? "LEV1=ROWBREAK-4" : "PRO_NET=2",
          "OQTY=4",
          "UOM=5",
          "CATEGORY=6"};
}

struct Result {
  double seconds = 0;
  std::int64_t records = 0;
  bool ok = false;
};

Result run(FlatDataset& src, build::PriceSink& sink, bool breaks, tables::DbfTable* table) {
  ScriptedMessages messages;
  build::ConvertInputs in{"ACME", "01/06/2024", "", breaks, false, false, 0};
  build::BuildRun br;
  std::int64_t counter = 0;
  src.first();
  auto t0 = std::chrono::steady_clock::now();
  if (table) table->open();
  Result r;
  r.ok = build::convert_rows(in, 1, counter, mapping(breaks), br, {src, nullptr, sink, messages});
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.records = br.recordCount;
  for (const auto& m : messages.shown) std::fprintf(stderr, "message: %s\n", m.text.c_str());
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::vector<tables::FieldDef> defs = test::price_file_fields();
  std::string structure = "built-in field list";
  fs::path flist = fs::path(QM_BIN_DIR) / "flistwin.dbf";
  if (fs::exists(flist)) {
    tables::DbfTable t;
    t.setFolder(flist.parent_path().string());
    t.setTableName("flistwin.dbf");
    defs = t.fieldDefs();
    structure = flist.string();
  }
  FlatDataset src(make_cells(rows));
  fs::path dir = fs::temp_directory_path() / "qm-convert-bench";
  fs::create_directories(dir);
  std::printf("%zu source rows, 8 mapping lines, price file from %s\n", rows, structure.c_str());
  std::printf("%-10s %16s %16s %12s %12s\n", "breaks", "memory rows/s", "price file rows/s",
              "records", "file MiB");
  bool allOk = true;
  for (bool breaks : {false, true}) {
    build::MemoryPriceSink mem(
        {{"DEPT", 'C', 4},       {"partnumber", 'C', 30}, {"DESCRIPTN", 'C', 100},
         {"LISTPRICE", 'C', 12}, {"COST_OF_1", 'C', 12},  {"PRO_NET", 'C', 12},
         {"OQTY", 'C', 10},      {"UOM", 'C', 4},         {"CATEGORY", 'C', 30},
         {"LEV1", 'C', 10},      {"COSTLEV1", 'C', 12},   {"LEV2", 'C', 10},
         {"COSTLEV2", 'C', 12},  {"LEV3", 'C', 10},       {"COSTLEV3", 'C', 12},
         {"LEV4", 'C', 10},      {"COSTLEV4", 'C', 12},   {"LEV5", 'C', 10},
         {"COSTLEV5", 'C', 12},  {"LEV6", 'C', 10},       {"COSTLEV6", 'C', 12}});
    mem.keepRecords = false;
    Result m = run(src, mem, breaks, nullptr);

    for (const char* ext : {".dbf", ".dbt", ".mdx"})
      fs::remove(dir / (std::string("ACMELIST") + ext));
    tables::DbfTable tblExport;
    tblExport.setFolder(dir.string());
    tblExport.setTableName("ACMELIST.dbf");
    tblExport.setFieldDefs(defs);
    tblExport.setTableLevel(7);
    tblExport.createTable();
    build::DbfPriceSink sink(tblExport);
    Result f = run(src, sink, breaks, &tblExport);
    double mib = static_cast<double>(fs::file_size(dir / "ACMELIST.dbf")) / (1024.0 * 1024.0);
    std::printf("%-10s %16.0f %16.0f %12lld %12.1f\n", breaks ? "on" : "off",
                static_cast<double>(rows) / m.seconds, static_cast<double>(rows) / f.seconds,
                static_cast<long long>(f.records), mib);
    allOk = allOk && m.ok && f.ok && m.records == f.records;
  }
  fs::remove_all(dir);
  return allOk ? 0 : 1;
}
