// A destination field list of the shape of flistwin.dbf, for tests and benchmarks that need a
// price file when the program folder has none.
#pragma once

#include <string>
#include <vector>

#include "tables/dbf_table.h"

namespace qm::test {

inline std::vector<tables::FieldDef> price_file_fields() {
  std::vector<tables::FieldDef> f = {
      {"DEPT", 'C', 4, 0},       {"partnumber", 'C', 30, 0}, {"DESCRIPTN", 'C', 100, 0},
      {"LISTPRICE", 'N', 12, 2}, {"COST_OF_1", 'N', 12, 2},  {"COST_OF_2", 'N', 12, 2},
      {"SPCL_COST", 'N', 12, 2}, {"PRO_NET", 'N', 12, 2},    {"OQTY", 'C', 10, 0},
      {"UOM", 'C', 4, 0},        {"CATEGORY", 'C', 30, 0}};
  for (int i = 1; i <= 6; ++i) {
    f.push_back({"LEV" + std::to_string(i), 'N', 10, 2});
    f.push_back({"COSTLEV" + std::to_string(i), 'N', 12, 2});
  }
  return f;
}

}  // namespace qm::test
