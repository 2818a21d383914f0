// convert_bench [ROWS]: converts ROWS (default 1,000,000) in-memory rows of supplier-like
// cells with 8 mapping lines, breaks off and on, into a sink that keeps nothing and into a
// price file written by the table engine, and prints rows per second side by side.
// convert_bench --source FILE: the whole road instead, from a source file with the
// generator's seven columns (.csv, .xlsx, .xls, .dbf) through the source engine into a price file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/open_source.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/text.h"
#include "pricefile/convert_rows.h"
#include "pricefile/dbf_price_sink.h"
#include "pricefile/price_sink.h"
#include "pricefile/tests/price_file_fields.h"
#include "source/dao_database.h"
#include "source/dao_table.h"
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
    Column(FlatDataset& d, int i) : d_(d), i_(i), name_("F") { name_ += std::to_string(i); }
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
  double cpuSeconds = 0;  // the process's processor time: what an idle machine would take
  std::int64_t records = 0;
  bool ok = false;
};

Result run(Dataset& src, pricefile::PriceSink& sink, bool breaks, tables::DbfTable* table) {
  ScriptedMessages messages;
  pricefile::ConvertInputs in{"ACME", "01/06/2024", "", breaks, false, false, 0};
  pricefile::BuildRun br;
  std::int64_t counter = 0;
  src.first();
  auto t0 = std::chrono::steady_clock::now();
  std::clock_t c0 = std::clock();
  if (table) table->open();
  Result r;
  r.ok =
      pricefile::convert_rows(in, 1, counter, mapping(breaks), br, {src, nullptr, sink, messages});
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpuSeconds = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  r.records = br.recordCount;
  for (const auto& m : messages.shown) std::fprintf(stderr, "message: %s\n", m.text.c_str());
  return r;
}

std::vector<tables::FieldDef> price_file_defs(std::string& structure);

// A new, empty ACMELIST.dbf in dir, in place of the one a run before left.
void create_price_file(tables::DbfTable& t, const fs::path& dir,
                       const std::vector<tables::FieldDef>& defs) {
  for (const char* name : {"ACMELIST.dbf", "ACMELIST.dbt", "ACMELIST.mdx"}) fs::remove(dir / name);
  t.setFolder(dir.string());
  t.setTableName("ACMELIST.dbf");
  t.setFieldDefs(defs);
  t.setTableLevel(7);
  t.createTable();
}

// The source opened as the wizard opens it, read through the table component; the time
// counts the open as well as the walk and the writing of the price file.
int convert_file(const std::string& path) {
  std::string structure;
  std::vector<tables::FieldDef> defs = price_file_defs(structure);
  auto t0 = std::chrono::steady_clock::now();
  std::clock_t c0 = std::clock();
  source::TDaoDatabase db;
  source::TDaoTable src;
  bench::open_source_file(db, src, path);
  fs::path dir = fs::temp_directory_path() / "qm-convert-bench";
  fs::create_directories(dir);
  tables::DbfTable tblExport;
  create_price_file(tblExport, dir, defs);
  pricefile::DbfPriceSink sink(tblExport);
  ScriptedMessages messages;
  pricefile::ConvertInputs in{"ACME", "01/06/2024", "", false, false, false, 0};
  pricefile::BuildRun br;
  std::int64_t counter = 0;
  tblExport.open();
  bool ok =
      pricefile::convert_rows(in, 1, counter, mapping(false), br, {src, nullptr, sink, messages});
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  for (const auto& m : messages.shown) std::fprintf(stderr, "message: %s\n", m.text.c_str());
  std::printf("%s -> price file (%s): %lld rows, %lld records in %.2f s (%.2f s of CPU)\n",
              file_name_of(path).c_str(), structure.c_str(), static_cast<long long>(counter),
              static_cast<long long>(br.recordCount), secs, cpu);
  std::printf("  %.0f rows/s by wall clock, %.0f by processor time; target 1000000\n",
              static_cast<double>(counter) / secs, static_cast<double>(counter) / cpu);
  fs::remove_all(dir);
  return ok ? 0 : 1;
}

std::vector<tables::FieldDef> price_file_defs(std::string& structure) {
  std::vector<tables::FieldDef> defs = test::price_file_fields();
  structure = "built-in field list";
  fs::path flist = fs::path(QM_BIN_DIR) / "flistwin.dbf";
  if (fs::exists(flist)) {
    tables::DbfTable t;
    t.setFolder(flist.parent_path().string());
    t.setTableName("flistwin.dbf");
    defs = t.fieldDefs();
    structure = flist.string();
  }
  return defs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--source") {
    try {
      return convert_file(argv[2]);
    } catch (const Error& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::string structure;
  std::vector<tables::FieldDef> defs = price_file_defs(structure);
  FlatDataset src(make_cells(rows));
  fs::path dir = fs::temp_directory_path() / "qm-convert-bench";
  fs::create_directories(dir);
  std::printf("%zu source rows, 8 mapping lines, price file from %s\n", rows, structure.c_str());
  std::printf("rows per second by wall clock, and by processor time in brackets\n");
  std::printf("%-7s %24s %24s %10s %9s\n", "breaks", "memory sink", "price file", "records",
              "file MiB");
  bool allOk = true;
  for (bool breaks : {false, true}) {
    pricefile::MemoryPriceSink mem(
        {{"DEPT", 'C', 4},       {"partnumber", 'C', 30}, {"DESCRIPTN", 'C', 100},
         {"LISTPRICE", 'C', 12}, {"COST_OF_1", 'C', 12},  {"PRO_NET", 'C', 12},
         {"OQTY", 'C', 10},      {"UOM", 'C', 4},         {"CATEGORY", 'C', 30},
         {"LEV1", 'C', 10},      {"COSTLEV1", 'C', 12},   {"LEV2", 'C', 10},
         {"COSTLEV2", 'C', 12},  {"LEV3", 'C', 10},       {"COSTLEV3", 'C', 12},
         {"LEV4", 'C', 10},      {"COSTLEV4", 'C', 12},   {"LEV5", 'C', 10},
         {"COSTLEV5", 'C', 12},  {"LEV6", 'C', 10},       {"COSTLEV6", 'C', 12}});
    mem.keepRecords = false;
    Result m = run(src, mem, breaks, nullptr);

    tables::DbfTable tblExport;
    create_price_file(tblExport, dir, defs);
    pricefile::DbfPriceSink sink(tblExport);
    Result f = run(src, sink, breaks, &tblExport);
    double mib = static_cast<double>(fs::file_size(dir / "ACMELIST.dbf")) / (1024.0 * 1024.0);
    auto rate = [&](double s) { return static_cast<double>(rows) / s; };
    std::printf("%-7s %11.0f (%10.0f) %11.0f (%10.0f) %10lld %9.1f\n", breaks ? "on" : "off",
                rate(m.seconds), rate(m.cpuSeconds), rate(f.seconds), rate(f.cpuSeconds),
                static_cast<long long>(f.records), mib);
    allOk = allOk && m.ok && f.ok && m.records == f.records;
  }
  fs::remove_all(dir);
  return allOk ? 0 : 1;
}
