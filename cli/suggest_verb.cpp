// suggest: the page-3 "Suggest mapping" for a source file, as a configuration text.
#include <exception>

#include "cli/verbs.h"
#include "config/config_text.h"
#include "config/suggest_mapping.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/dao_table.h"

namespace qm::cli {

int suggest_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const char* const usage =
      "usage: quillmere-import suggest SOURCE [--sheet TABLE] [--header | --no-header]\n";
  std::string path, sheet;
  bool header = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--header" || args[i] == "--no-header") {
      header = args[i] == "--header";
    } else if (args[i] == "--sheet" && i + 1 < args.size() && sheet.empty()) {
      sheet = args[++i];
    } else if (starts_with(args[i], "--") || !path.empty()) {
      err << usage;
      return kExitUsage;
    } else {
      path = args[i];
    }
  }
  if (path.empty()) {
    err << usage;
    return kExitUsage;
  }
  try {
    source::TDaoDatabase db;
    source::TDaoTable table;
    open_source_table(db, table, path, sheet, header);
    config::SuggestOptions options;
    options.header = header;
    out << config::format_configuration_text(
        config::suggested_configuration(config::suggest_mapping(table, {}, options)));
    out.flush();
    return kExitOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace qm::cli
