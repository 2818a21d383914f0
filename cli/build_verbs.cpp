// configs, config and build: the stored configurations of the program folder and the build of
// a price file from one of them, run by the same code as the wizard's page 4.
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/logic/build_link.h"
#include "app/logic/settings.h"
#include "app/logic/shell.h"
#include "app/logic/source_page.h"
#include "app/logic/startup.h"
#include "cli/verbs.h"
#include "config/config_text.h"
#include "config/store.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "pricefile/build_file.h"

namespace qm::cli {

namespace {

std::string with_separator(std::string folder) {
  if (!folder.empty() && !ends_with_separator(folder)) folder += path_separator();
  return folder;
}

std::string app_folder() {
  std::string f = program_folder_option();
  if (f.empty()) return platform::executable_folder();
  return with_separator(from_fs_path(std::filesystem::absolute(to_fs_path(f))));
}

// The program folder's settings and tables as the wizard's first activation leaves them.
struct ProgramFolder {
  std::string appFolder = app_folder();
  IniFile ini{appFolder + "Convert.ini"};
  app::Settings settings = app::read_settings(ini, appFolder);
  tables::DbfTable cdsStore, tblFields, tblExport, tblVendor;
  datalink::DataSource dataSource2;

  void openStore() {
    tblFields.setTableName("flistwin.dbf");
    tblVendor.setTableName("prvendor.DBF");
    tblFields.setFolder(settings.flist);
    cdsStore.setFolder(appFolder);
    cdsStore.setTableName("storelst.dbf");
    app::StoreTables st{cdsStore, tblFields, dataSource2, ini, appFolder};
    app::prepare_store(st);
  }
};

// Messages on stderr; questions answered Yes with --yes, asked on a terminal, else No.
class CliMessages : public Messages {
 public:
  CliMessages(std::ostream& err, bool yes) : err_(err), yes_(yes) {}

  MsgAnswer show(MsgKind kind, MsgButtons buttons, const std::string& text) override {
    ++shown;
    clearProgress();
    std::string t = text;
    for (std::size_t at; (at = t.find("\r\n")) != std::string::npos;) t.replace(at, 2, "\n");
    if (kind == MsgKind::Error) err_ << "Error: ";
    if (kind == MsgKind::Warning) err_ << "Warning: ";
    err_ << t;
    if (buttons == MsgButtons::Ok) {
      err_ << "\n";
      return MsgAnswer::Ok;
    }
    const MsgAnswer no = buttons == MsgButtons::YesCancel ? MsgAnswer::Cancel : MsgAnswer::No;
    const char* noWord = buttons == MsgButtons::YesCancel ? "Cancel" : "No";
    if (yes_) {
      err_ << " [Yes]\n";
      return MsgAnswer::Yes;
    }
    if (!platform::stdin_is_terminal()) {
      err_ << " [" << noWord << "]\n";
      return no;
    }
    err_ << " (y/N) " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    answer = trim(answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? MsgAnswer::Yes : no;
  }

  // A line that rewrites itself, only when someone watches stderr.
  void progress(std::int64_t rows, std::int64_t sheetRows) {
    if (!terminal_) return;
    unsigned long long now = platform::tick_count_ms();
    if (rows != 0 && now - lastShown_ < 200) return;
    lastShown_ = now;
    err_ << "\r" << rows << " rows";
    if (sheetRows > 0)
      err_ << " of " << sheetRows << " (" << (rows >= sheetRows ? 100 : rows * 100 / sheetRows)
           << "%)";
    err_ << "   " << std::flush;
    progressShown_ = true;
  }
  void clearProgress() {
    if (!progressShown_) return;
    err_ << "\r\033[K" << std::flush;
    progressShown_ = false;
  }

  int shown = 0;

 private:
  std::ostream& err_;
  bool yes_;
  bool terminal_ = platform::stderr_is_terminal();
  bool progressShown_ = false;
  unsigned long long lastShown_ = 0;
};

const char* const kBuildUsage =
    "--config NAME --source FILE [--sheet TABLE] [--dest DIR] [--manulist DIR] "
    "[--vendor-info | --no-vendor-info] [--header | --no-header] [--multiple-tabs] [--yes]";

int usage_error(std::ostream& err, const std::string& usage) {
  err << "usage: quillmere-import " << usage << "\n";
  return kExitUsage;
}

struct BuildArgs {
  std::string config, source, sheet, dest, manulist;
  std::optional<bool> vendorInfo, header;
  bool multipleTabs = false, yes = false;
};

bool parse_build_args(const std::vector<std::string>& args, BuildArgs& a) {
  auto value = [&](std::size_t& i, std::string& into) {
    if (i + 1 >= args.size() || !into.empty()) return false;
    into = args[++i];
    return !into.empty();
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    bool ok = true;
    if (s == "--config")
      ok = value(i, a.config);
    else if (s == "--source")
      ok = value(i, a.source);
    else if (s == "--sheet")
      ok = value(i, a.sheet);
    else if (s == "--dest")
      ok = value(i, a.dest);
    else if (s == "--manulist")
      ok = value(i, a.manulist);
    else if (s == "--vendor-info" || s == "--no-vendor-info") {
      ok = !a.vendorInfo.has_value();
      a.vendorInfo = s == "--vendor-info";
    } else if (s == "--header" || s == "--no-header") {
      ok = !a.header.has_value();
      a.header = s == "--header";
    } else if (s == "--multiple-tabs")
      a.multipleTabs = true;
    else if (s == "--yes")
      a.yes = true;
    else
      ok = false;
    if (!ok) return false;
  }
  return !a.config.empty() && !a.source.empty();
}

// Opens the source as the wizard's "4 Open File" does, and the sheet chosen; false after the
// engine's message.
bool open_source(const BuildArgs& a, bool header, bool olderExcel, app::SourceComponents& sc,
                 app::SourcePage& p, CliMessages& m, std::ostream& err) {
  std::string path = from_fs_path(std::filesystem::absolute(to_fs_path(a.source)));
  p.edtDir = folder_of(path);
  p.edtFileName = file_name_of(path);
  p.headerChecked = header;
  p.useOlderExcelDrivers = olderExcel;
  app::SourceContext c{*sc.db, *sc.table, m, app::kVersionText};
  const int before = m.shown;
  app::btnOpenSourceFileClick(p, c);
  if (!p.btnNextPage2Enabled) {
    if (m.shown == before)
      err << a.source << ": not a source file (expected .xls, .xlsx, .dbf, .csv or .txt)\n";
    return false;
  }
  if (!a.sheet.empty()) {
    p.sheetText = a.sheet;
    app::cmbSheets1Change(p, c);
  }
  return true;
}

}  // namespace

std::string& program_folder_option() {
  static std::string folder;
  return folder;
}

int configs_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) return usage_error(err, "configs");
  try {
    ProgramFolder pf;
    pf.openStore();
    for (const auto& n : config::configuration_names(pf.cdsStore)) out << n << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kExitFailed;
  }
}

int config_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string usage = "config export NAME [--out FILE] | config import FILE";
  const bool isExport = !args.empty() && args[0] == "export" &&
                        (args.size() == 2 || (args.size() == 4 && args[2] == "--out"));
  const bool isImport = args.size() == 2 && args[0] == "import";
  if (!isExport && !isImport) return usage_error(err, usage);
  try {
    ProgramFolder pf;
    pf.openStore();
    if (isImport) {
      config::import_configuration_file(pf.cdsStore, args[1]);
      return kExitOk;
    }
    if (!config::find_configuration(pf.cdsStore, args[1])) {
      err << "There is no stored configuration named '" << args[1] << "'\n";
      return kExitFailed;
    }
    if (args.size() == 4)
      config::export_configuration_file(pf.cdsStore, args[3]);
    else
      out << config::export_configuration(pf.cdsStore) << std::flush;
    return kExitOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kExitFailed;
  }
}

int build_verb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BuildArgs a;
  if (!parse_build_args(args, a)) return usage_error(err, std::string("build ") + kBuildUsage);
  CliMessages m(err, a.yes);
  platform::catch_cancel_signals();
  try {
    ProgramFolder pf;
    pf.openStore();
    if (!pf.tblFields.exists()) {
      m.error(app::flistwin_missing_message(pf.appFolder));
      return kExitFailed;
    }
    if (!config::find_configuration(pf.cdsStore, a.config)) {
      err << "There is no stored configuration named '" << a.config << "'\n";
      return kExitFailed;
    }
    pricefile::BuildPage page;
    pricefile::read_page_from_configuration(pf.cdsStore, page);
    // Folders given here are folders; the separator the wizard insists on is added.
    page.destFolder = a.dest.empty() ? pf.settings.destFolder : with_separator(a.dest);
    page.manulistFolder = a.manulist.empty() ? pf.settings.manulist : with_separator(a.manulist);
    page.vendorInfo = a.vendorInfo.value_or(pf.settings.vendorInfo);
    page.multipleTabs = a.multipleTabs;

    app::SourceComponents sc = app::make_source_components();
    app::SourcePage p;
    if (!open_source(a, a.header.value_or(pf.settings.makeFirstRecordHeaderFields),
                     pf.settings.useOlderExcelDrivers, sc, p, m, err))
      return kExitFailed;
    page.sheetCount = static_cast<int>(p.sheets.size());

    app::SourceBuildLink link(*sc.db, *sc.table);
    pricefile::BuildTables tables{pf.cdsStore, pf.tblFields, pf.tblExport, pf.tblVendor};
    pricefile::IniSettings settings(pf.ini);
    pricefile::BuildEnvironment env{m, pf.appFolder, settings};
    env.progress = [&m](std::int64_t rows, std::int64_t sheetRows) { m.progress(rows, sheetRows); };
    env.cancelled = [] { return platform::cancel_signalled(); };
    pricefile::BuildResult r;
    try {
      r = pricefile::build_file(page, link.source(), tables, env);
    } catch (...) {
      m.clearProgress();
      throw;
    }
    m.clearProgress();
    if (r.outcome != pricefile::BuildOutcome::Complete) return kExitFailed;
    out << r.completion << "\n" << std::flush;
    return kExitOk;
  } catch (const std::exception& e) {
    m.clearProgress();
    err << e.what() << "\n";
    return kExitFailed;
  }
}

const char* build_usage() {
  return kBuildUsage;
}

}  // namespace qm::cli
