#include "cli/verbs.h"

namespace qm::cli {

const std::vector<Verb>& verbs() {
  static const std::vector<Verb> list = {
      {"sheets", "SOURCE", "list the tables of a source file, one per line", sheets_verb},
      {"dump", "SOURCE [--sheet TABLE] [--no-header]",
       "print a source table as CSV: the field names, then one line per record", dump_verb},
      {"suggest", "SOURCE [--sheet TABLE] [--header | --no-header]",
       "print a new configuration whose mapping is proposed from the table's header names and "
       "contents, for `config import` once its name and page-4 values are filled in",
       suggest_verb},
      {"configs", "", "list the stored configuration names, one per line, in table order",
       configs_verb},
      {"config", "export NAME [--out FILE] | import FILE",
       "write a stored configuration as text, or add one from text (replacing the first of "
       "the same name)",
       config_verb},
      {"build", build_usage(),
       "build the price file from a source with a stored configuration, as the wizard's "
       "\"22 &Build File\" does; folders and ticks not given come from Convert.ini; "
       "--header takes a workbook's first row as field names, as page 1's tick does",
       build_verb},
  };
  return list;
}

}  // namespace qm::cli
