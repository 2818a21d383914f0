// A source database in memory for the walk's tests: named tables of text rows, with the
// table list of a workbook.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/dataset.h"
#include "pricefile/convert_rows.h"

namespace qm::test {

using Rows = std::vector<std::vector<std::string>>;

class MemoryDataset : public Dataset, public pricefile::SourceTables {
 public:
  MemoryDataset();
  ~MemoryDataset() override;
  // The first table added is the one open at the start.
  void addTable(const std::string& name, int columns, Rows rows);

  void open() override;
  void close() override;
  bool active() const override { return active_; }
  void first() override { row_ = 0; }
  void next() override;
  bool eof() const override { return !active_ || row_ >= rows().size(); }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(rows().size()); }
  int fieldCount() const override;
  Field& field(int index) override;
  Field* findField(std::string_view name) override;

  std::string tableName(std::int64_t position) override;
  void setTableName(const std::string& name) override { current_ = name; }

  std::vector<std::string> tableNameList;  // in the engine's order; filled by addTable
  std::vector<std::string> opened;         // every table opened, in order
  std::vector<int> displayWidths() const;
  std::string current_;

 private:
  class Column;
  struct Table {
    int columns = 0;
    Rows rows;
  };
  const Rows& rows() const;
  std::map<std::string, Table> tables_;
  std::vector<std::unique_ptr<Column>> fields_;
  std::size_t row_ = 0;
  bool active_ = false;
  friend class Column;
};

}  // namespace qm::test
