#include "pricefile/dbf_price_sink.h"

#include "core/error.h"

namespace qm::pricefile {

DbfPriceSink::DbfPriceSink(tables::DbfTable& table) : table_(table) {
  table_.setWriteBehind(true);
}

void DbfPriceSink::close() {
  try {
    table_.close();
  } catch (...) {
    try {
      table_.setWriteBehind(false);
    } catch (...) {
    }
    throw;
  }
  table_.setWriteBehind(false);
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
