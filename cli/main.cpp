#include <iostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/verbs.h"
#include "core/paths.h"
#include "core/platform.h"

namespace {

void usage(std::ostream& os) {
  os << "usage: quillmere-import [--program-folder DIR] VERB ARGUMENTS\n\nverbs:\n";
  for (const auto& v : qm::cli::verbs())
    os << "  " << v.name << " " << v.usage << "\n      " << v.summary << "\n";
  os << "\n--program-folder DIR: where Convert.ini, storelst.dbf and the templates are (default:\n"
        "the folder of this program).\n"
        "build answers the build's questions No unless --yes (it asks when stdin is a terminal);\n"
        "exit code 0 on success, 1 when a build or operation was refused or failed, 2 on a usage\n"
        "error.\n";
  os << "\nSOURCE is an .xls, .xlsx, .dbf, .csv or .txt file.\n"
        "Environment: QM_DAO_VERSIONS (engine versions to pretend installed, e.g. \"3.5\"; "
        "\"none\"\n"
        "or empty for none), QM_DAO_NO_EXCEL=1 (pretend no Excel format is installed).\n";
}

int run(std::vector<std::string> args);

}  // namespace

int main(int argc, char** argv) {
  qm::platform::set_up_console();
  std::vector<std::string> args = qm::platform::arguments(argc, argv);
  if (qm::path_separator() == '\\')
    args = qm::cli::native_path_arguments(qm::cli::mend_swallowed_quotes(args, '\\'), '\\');
  // Messages (stderr) break lines as the platform does, whatever the text carries. Listings
  // and dumps (stdout) get the platform's line ending too, but on Linux a cell's own "\r\n"
  // stays as it was.
  const std::string eol = qm::platform::line_ending();
  qm::cli::LineEndingBuf out(std::cout.rdbuf(), eol);
  qm::cli::LineEndingBuf err(std::cerr.rdbuf(), eol);
  std::streambuf* oldOut = eol == "\n" ? std::cout.rdbuf() : std::cout.rdbuf(&out);
  std::streambuf* oldErr = std::cerr.rdbuf(&err);
  int rc = run(std::move(args));
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(oldOut);
  std::cerr.rdbuf(oldErr);
  return rc;
}

namespace {

int run(std::vector<std::string> args) {
  if (!args.empty() && args[0] == "--program-folder") {
    if (args.size() < 2 || args[1].empty()) {
      usage(std::cerr);
      return qm::cli::kExitUsage;
    }
    qm::cli::program_folder_option() = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    usage(std::cerr);
    return qm::cli::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    usage(std::cout);
    return qm::cli::kExitOk;
  }
  for (const auto& v : qm::cli::verbs()) {
    if (args[0] == v.name) {
      std::vector<std::string> rest(args.begin() + 1, args.end());
      for (const auto& a : rest) {
        if (a == "--help") {
          std::cout << "usage: quillmere-import " << v.name << " " << v.usage << "\n  " << v.summary
                    << "\n";
          return qm::cli::kExitOk;
        }
      }
      return v.run(rest, std::cout, std::cerr);
    }
  }
  std::cerr << "quillmere-import: unknown verb '" << args[0] << "'\n";
  usage(std::cerr);
  return qm::cli::kExitUsage;
}

}  // namespace
