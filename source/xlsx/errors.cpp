#include "source/xlsx/errors.h"

#include "core/error.h"

namespace qm::source::xlsx {

void raise(std::string_view file, std::string_view where, std::string_view what) {
  std::string m = "Cannot read the workbook \"";
  m += file;
  m += '"';
  if (!where.empty()) {
    m += ", ";
    m += where;
  }
  m += ": ";
  m += what;
  throw DatabaseError(m);
}

}  // namespace qm::source::xlsx
