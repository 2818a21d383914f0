#include "core/dataset.h"

#include "core/error.h"

namespace qm {

Field& Dataset::fieldByName(std::string_view name) {
  if (Field* f = findField(name)) return *f;
  throw Error("Field '" + std::string(name) + "' not found");
}

}  // namespace qm
