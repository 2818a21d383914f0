// sheets and dump: open a source file the way the wizard's first page does and show what the
// engine reads.
#include <exception>
#include <optional>

#include "cli/verbs.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/dao_table.h"

namespace qm::cli {

namespace {

using source::TDaoDatabase;
using source::TDaoTable;

const char* const kParams = "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;";

struct Opened {
  std::string defaultTable;
};

// Connects db to the source at path as the wizard's Open File does: a workbook through the
// newest Excel type the engine offers, a .dbf or text file through its folder.
Opened connect_source(TDaoDatabase& db, const std::string& path, bool header) {
  std::string ext = to_upper_ascii(extension_of(path));
  std::string folder = folder_of(path);
  if (folder.empty()) folder = "." + separator_string();
  db.setConnected(false);
  db.setDatabaseParameters(std::string(header ? "" : "HDR=NO;") + kParams);
  if (ext == ".DBF" || ext == ".CSV" || ext == ".TXT") {
    db.setDatabaseType(ext == ".DBF" ? "dBase 5.0" : "TEXT");
    db.setDatabase(folder);
    db.setConnected(true);
    return {file_name_of(path)};
  }
  if (ext == ".XLS" || ext == ".XLSX") {
    db.setVersion("12.0");
    std::optional<std::string> type;
    for (const char* t : {"Excel 8.0", "Excel 5.0", "Excel 4.0", "Excel 3.0"}) {
      for (const auto& have : db.databaseTypeList())
        if (have == t) type = t;
      if (type) break;
    }
    if (!type)
      throw Error(
          "Import wizard has detected that there is NO Excel Jet drivers installed\r\non this "
          "PC. Please install the Jet drivers by installing Excel.");
    db.setDatabaseType(*type);
    db.setDatabase(path);
    db.setConnected(true);
    if (db.tableNameList().empty()) throw Error(path + ": the workbook has no sheet");
    return {db.tableNameList().front()};
  }
  throw Error(path + ": not a source file (expected .xls, .xlsx, .dbf, .csv or .txt)");
}

void csv_field(std::ostream& out, const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) {
    out << s;
    return;
  }
  out << '"';
  for (char c : s) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

}  // namespace

void open_source_table(source::TDaoDatabase& db, source::TDaoTable& table, const std::string& path,
                       const std::string& sheet, bool header) {
  Opened o = connect_source(db, path, header);
  table.setDatabase(&db);
  table.setTableName(sheet.empty() ? o.defaultTable : sheet);
  table.setOpenOptions(source::dbInconsistent);
  table.open();
}

int sheets_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1 || starts_with(args[0], "--")) {
    err << "usage: quillmere-import sheets SOURCE\n";
    return kExitUsage;
  }
  try {
    TDaoDatabase db;
    connect_source(db, args[0], true);
    for (const auto& n : db.tableNameList()) out << n << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kExitFailed;
  }
}

int dump_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string path, sheet;
  bool header = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--no-header") {
      header = false;
    } else if (args[i] == "--sheet" && i + 1 < args.size()) {
      sheet = args[++i];
    } else if (starts_with(args[i], "--") || !path.empty()) {
      err << "usage: quillmere-import dump SOURCE [--sheet TABLE] [--no-header]\n";
      return kExitUsage;
    } else {
      path = args[i];
    }
  }
  if (path.empty()) {
    err << "usage: quillmere-import dump SOURCE [--sheet TABLE] [--no-header]\n";
    return kExitUsage;
  }
  try {
    TDaoDatabase db;
    TDaoTable table;
    open_source_table(db, table, path, sheet, header);
    for (int i = 0; i < table.fieldCount(); ++i) {
      if (i) out << ',';
      csv_field(out, table.field(i).displayName());
    }
    out << '\n';
    for (; !table.eof(); table.next()) {
      for (int i = 0; i < table.fieldCount(); ++i) {
        if (i) out << ',';
        csv_field(out, table.field(i).asString());
      }
      out << '\n';
    }
    out.flush();
    return kExitOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace qm::cli
