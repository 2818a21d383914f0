// The suggestion reads whatever cells a supplier's sheet holds. The input is a sheet as text:
// the first byte the options, then lines of tab-separated cells, the first line the names.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/mapping.h"
#include "config/suggest_mapping.h"
#include "core/error.h"

namespace {

using Row = std::vector<std::string>;

class TextSheet : public qm::Dataset {
 public:
  TextSheet(Row names, std::vector<Row> rows) : rows_(std::move(rows)) {
    for (std::size_t i = 0; i < names.size(); ++i) fields_.push_back({names[i], this, i});
  }
  void open() override {}
  void close() override {}
  bool active() const override { return true; }
  void first() override { row_ = 0; }
  void next() override { ++row_; }
  bool eof() const override { return row_ >= rows_.size(); }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(rows_.size()); }
  int fieldCount() const override { return static_cast<int>(fields_.size()); }
  qm::Field& field(int i) override {
    if (i < 0 || i >= fieldCount()) throw qm::ListIndexError(i);
    return fields_[static_cast<std::size_t>(i)];
  }
  qm::Field* findField(std::string_view) override { return nullptr; }

 private:
  struct Cell : qm::Field {
    Cell(std::string n, TextSheet* s, std::size_t i) : n_(std::move(n)), s_(s), i_(i) {}
    std::string n_;
    TextSheet* s_;
    std::size_t i_;
    const std::string& name() const override { return n_; }
    int displayWidth() const override { return 10; }
    void setDisplayWidth(int) override {}
    bool isNull() const override { return asString().empty(); }
    std::string asString() const override {
      const Row& r = s_->rows_.at(s_->row_);
      return i_ < r.size() ? r[i_] : std::string();
    }
    void setAsString(std::string_view) override {}
  };
  std::vector<Cell> fields_;
  std::vector<Row> rows_;
  std::size_t row_ = 0;
};

Row split(std::string_view line) {
  Row cells;
  for (std::size_t at; (at = line.find('\t')) != std::string_view::npos; line.remove_prefix(at + 1))
    cells.emplace_back(line.substr(0, at));
  cells.emplace_back(line);
  return cells;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<Row> rows;
  for (std::size_t at; (at = text.find('\n')) != std::string_view::npos; text.remove_prefix(at + 1))
    rows.push_back(split(text.substr(0, at)));
  rows.push_back(split(text));
  Row names = rows.front();
  rows.erase(rows.begin());
  TextSheet sheet(names, rows);
  qm::config::SuggestOptions options;
  options.header = flags & 1;
  options.rowBreak = flags & 2;
  std::vector<std::string> present;
  std::set<std::string> fields;
  std::set<int> columns;
  if (flags & 4) {
    present = {"PARTNUMBER=1", "COST_OF_1=CONS-A"};
    fields = {"PARTNUMBER", "COST_OF_1"};
    columns = {1};
  }
  // Each proposal links a field not linked yet to a column of the sheet not used yet.
  for (const auto& line : qm::config::suggest_mapping(sheet, present, options)) {
    qm::config::MappingLine m = qm::config::split_mapping_line(line);
    std::string_view value = m.value;
    if (m.kind == qm::config::MappingKind::RowBreak)
      value.remove_prefix(qm::config::kRowBreakPrefix.size());
    int column = -1;
    if (!qm::config::try_mapping_column(value, column) || column < 0 ||
        column >= sheet.fieldCount() || !fields.insert(std::string(m.name)).second ||
        !columns.insert(column).second)
      __builtin_trap();
  }
  return 0;
}
