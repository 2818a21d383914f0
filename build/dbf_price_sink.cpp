#include "build/dbf_price_sink.h"

#include "core/error.h"

namespace qm::build {

DbfPriceSink::DbfPriceSink(tables::DbfTable& table) : table_(table) {
  table_.setWriteBehind(true);
}

int DbfPriceSink::findField(std::string_view name) {
  tables::DbfField* f = table_.findField(name);
  return f ? f->index() : -1;
}

void DbfPriceSink::raiseMissingField(std::string_view name) {
  table_.fieldByName(name);  // raises the engine's own text
  throw TableError("Field '" + std::string(name) + "' not found");
}

}  // namespace qm::build
