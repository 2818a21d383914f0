// The verbs of quillmere-import. A verb gets its own arguments (after the verb's name) and
// returns the exit code: 0 success, 1 a failed operation (message on err), 2 a usage error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm::source {
class TDaoDatabase;
class TDaoTable;
}  // namespace qm::source

namespace qm::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Verb {
  const char* name;
  const char* usage;    // arguments after the verb's name
  const char* summary;  // one line for --help
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

const std::vector<Verb>& verbs();

int configs_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int config_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int build_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
const char* build_usage();

// --program-folder DIR, given before the verb: where Convert.ini, storelst.dbf and the
// templates are (empty: the executable's folder).
std::string& program_folder_option();

int sheets_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int dump_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int suggest_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Connects db to a source file as the wizard's Open File does (header: its first row holds the
// field names) and opens the named table in it, the file's first when sheet is empty.
void open_source_table(source::TDaoDatabase& db, source::TDaoTable& table, const std::string& path,
                       const std::string& sheet, bool header);

}  // namespace qm::cli
