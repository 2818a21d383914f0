#include "cli/verbs.h"

namespace qm::cli {

const std::vector<Verb>& verbs() {
  static const std::vector<Verb> list = {
      {"sheets", "SOURCE", "list the tables of a source file, one per line", sheets_verb},
      {"dump", "SOURCE [--sheet TABLE] [--no-header]",
       "print a source table as CSV: the field names, then one line per record", dump_verb},
  };
  return list;
}

}  // namespace qm::cli
