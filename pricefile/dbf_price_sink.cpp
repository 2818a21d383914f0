#include "pricefile/dbf_price_sink.h"

#include <utility>

#include "core/error.h"

namespace qm::pricefile {

DbfPriceSink::DbfPriceSink(tables::DbfTable& table, tables::DbfTable::AppendWatcher watch)
    : table_(table) {
  table_.setWriteBehind(true);
  table_.setAppendWatcher(std::move(watch));
}

DbfPriceSink::~DbfPriceSink() {
  table_.setAppendWatcher({});
}

void DbfPriceSink::close() {
  try {
    table_.close();
  } catch (...) {
    try {
      table_.setWriteBehind(false);
    } catch (...) {
    }
    table_.setAppendWatcher({});
    throw;
  }
  table_.setWriteBehind(false);
  table_.setAppendWatcher({});
}

int DbfPriceSink::findField(std::string_view name) {
  tables::DbfField* f = table_.findField(name);
  return f ? f->index() : -1;
}

void DbfPriceSink::raiseMissingField(std::string_view name) {
  table_.fieldByName(name);  // raises the engine's own text
  throw TableError("Field '" + std::string(name) + "' not found");
}

}  // namespace qm::pricefile
