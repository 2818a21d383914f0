// The price file in the dBase table engine, as the row conversion writes it.
#pragma once

#include "pricefile/price_sink.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

class DbfPriceSink : public PriceSink {
 public:
  // Posted appends are written in batches while the walk runs (the table's write-behind);
  // close writes the rest and leaves the table object as it was for its next use. Each record
  // posted is also given to watch, when there is one, until close.
  explicit DbfPriceSink(tables::DbfTable& table, tables::DbfTable::AppendWatcher watch = {});
  ~DbfPriceSink() override;
  DbfPriceSink(const DbfPriceSink&) = delete;
  DbfPriceSink& operator=(const DbfPriceSink&) = delete;

  void append() override { table_.append(); }
  void post() override { table_.post(); }
  void close() override;
  int findField(std::string_view name) override;
  [[noreturn]] void raiseMissingField(std::string_view name) override;
  std::string fieldText(int field) override { return table_.field(field).asString(); }
  void readFieldText(int field, std::string& text) override {
    table_.field(field).readString(text);
  }
  void setFieldText(int field, std::string_view text) override {
    table_.field(field).setAsString(text);
  }
  bool trySetFieldText(int field, std::string_view text) override {
    return table_.field(field).trySetAsString(text);
  }
  Shape fieldShape(int field) override {
    const tables::FieldDef& d = table_.field(field).def();
    return {d.type, d.length};
  }

 private:
  tables::DbfTable& table_;
};

}  // namespace qm::pricefile
