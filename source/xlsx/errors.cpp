#include "source/xlsx/errors.h"

#include "core/error.h"

namespace qm::source::xlsx {

void raise(std::string_view file, std::string_view where, std::string_view what) {
  constexpr std::string_view head = "Cannot read the workbook \"";
  std::string m;
  m.reserve(head.size() + file.size() + where.size() + what.size() + 8);
  m.append(head).append(file).append(1, '"');
  if (!where.empty()) m.append(", ").append(where);
  m.append(": ").append(what);
  throw DatabaseError(m);
}

}  // namespace qm::source::xlsx
