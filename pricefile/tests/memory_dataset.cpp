#include "pricefile/tests/memory_dataset.h"

#include "core/error.h"
#include "core/text.h"

namespace qm::test {

class MemoryDataset::Column : public Field {
 public:
  Column(MemoryDataset& ds, int index)
      : ds_(ds), index_(index), name_("F" + std::to_string(index + 1)) {}
  const std::string& name() const override { return name_; }
  int displayWidth() const override { return width_; }
  void setDisplayWidth(int w) override { width_ = w; }
  bool isNull() const override { return asString().empty(); }
  std::string asString() const override {
    const auto& r = ds_.rows().at(ds_.row_);
    return static_cast<std::size_t>(index_) < r.size() ? r[static_cast<std::size_t>(index_)] : "";
  }
  void setAsString(std::string_view) override { throw DatabaseError("Dataset is read-only"); }

 private:
  MemoryDataset& ds_;
  int index_;
  std::string name_;
  int width_ = 10;
};

MemoryDataset::MemoryDataset() = default;
MemoryDataset::~MemoryDataset() = default;

void MemoryDataset::addTable(const std::string& name, int columns, Rows rows) {
  tables_[name] = Table{columns, std::move(rows)};
  tableNameList.push_back(name);
  if (current_.empty()) {
    current_ = name;
    open();
  }
}

const Rows& MemoryDataset::rows() const {
  return tables_.at(current_).rows;
}

void MemoryDataset::open() {
  if (active_) return;
  auto it = tables_.find(current_);
  if (it == tables_.end()) throw DatabaseError("Could not find table '" + current_ + "'");
  fields_.clear();
  for (int i = 0; i < it->second.columns; ++i)
    fields_.push_back(std::make_unique<Column>(*this, i));
  row_ = 0;
  active_ = true;
  opened.push_back(current_);
}

void MemoryDataset::close() {
  active_ = false;
  fields_.clear();
}

void MemoryDataset::next() {
  if (row_ < rows().size()) ++row_;
}

int MemoryDataset::fieldCount() const {
  return static_cast<int>(fields_.size());
}

Field& MemoryDataset::field(int index) {
  if (index < 0 || index >= fieldCount()) throw ListIndexError(index);
  return *fields_[static_cast<std::size_t>(index)];
}

Field* MemoryDataset::findField(std::string_view name) {
  for (auto& f : fields_)
    if (iequals(f->name(), name)) return f.get();
  return nullptr;
}

std::string MemoryDataset::tableName(std::int64_t position) {
  if (position < 0 || position >= static_cast<std::int64_t>(tableNameList.size()))
    throw ListIndexError(position);
  return tableNameList[static_cast<std::size_t>(position)];
}

std::vector<int> MemoryDataset::displayWidths() const {
  std::vector<int> w;
  for (const auto& f : fields_) w.push_back(f->displayWidth());
  return w;
}

}  // namespace qm::test
