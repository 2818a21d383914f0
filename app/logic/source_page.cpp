#include "app/logic/source_page.h"

#include <exception>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::app {

const char* const kNoExcelDrivers =
    "Import wizard has detected that there is NO Excel Jet drivers installed\r\non this PC. "
    "Please install the Jet drivers by installing Excel.";

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> r;
  std::string cur;
  for (char ch : s) {
    if (ch == sep) {
      r.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  r.push_back(cur);
  return r;
}

std::vector<std::string> patterns_of(const std::string& list) {
  std::vector<std::string> r;
  for (auto& p : split(list, ';')) {
    std::string t = trim(p);
    if (!t.empty()) r.push_back(t);
  }
  return r;
}

void set_display_widths(SourceTableLink& t) {
  for (int i = 0; i < t.fieldCount(); ++i) t.field(i).setDisplayWidth(20);
}

}  // namespace

std::vector<DialogFilter> dialog_filters(const std::string& filterText) {
  std::vector<DialogFilter> r;
  if (filterText.find('|') != std::string::npos) {
    auto parts = split(filterText, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
      r.push_back({parts[i], patterns_of(parts[i + 1])});
  } else if (!trim(filterText).empty()) {
    r.push_back({trim(filterText), patterns_of(filterText)});
  }
  r.push_back({"Price lists", {"*.xlsx", "*.xls", "*.csv", "*.txt", "*.dbf"}});
  return r;
}

void setcaption(SourcePage& p, const SourceContext& c) {
  p.caption = "The Quillmere " + c.versionText + " " + p.edtFileName + " " + p.sheetText;
}

void load_field_list(SourcePage& p, SourceContext& c) {
  p.lstbFields.clear();
  p.lstFields.clear();
  c.SourceTable.open();
  for (int i = 0; i < c.SourceTable.fieldCount(); ++i) {
    p.lstbFields.push_back(c.SourceTable.field(i).displayName());
    p.lstFields.push_back("  " + std::to_string(i));
  }
  setcaption(p, c);
}

void btnOpenFileClick(SourcePage& p, SourceContext& c, OpenDialog& opd,
                      const OpenDialogRunner& run) {
  p.lblCompleteVisible = false;
  opd.initialDir = p.edtDir;
  opd.filter = p.useOlderExcelDrivers ? "*.xls" : "*.xlsx;*.xls";
  std::optional<std::string> chosen = run(opd);
  if (!chosen) return;
  p.sheets.clear();
  p.sheetText.clear();
  p.btnNextPage2Enabled = false;
  c.SourceDB.setConnected(false);
  p.grpExcelEnabled = false;
  p.edtDir = folder_of(*chosen);
  if (!p.edtDir.empty() && !ends_with_separator(p.edtDir)) p.edtDir += path_separator();
  p.edtFileName = file_name_of(*chosen);
}

void btnOpenSourceFileClick(SourcePage& p, SourceContext& c) {
  BusyScope busy(c.messages);
  try {
    p.grpExcelVisible = false;
    std::string ext = to_upper_ascii(extension_of(p.edtFileName));
    auto openFolderSource = [&](const char* type) {
      c.SourceDB.setConnected(false);
      c.SourceDB.setDatabaseType(type);
      c.SourceDB.setDatabase(p.edtDir);
      c.SourceDB.setConnected(true);
      c.SourceTable.setTableName(p.edtFileName);
      c.SourceTable.open();
      p.btnNextPage2Enabled = true;
    };
    if (ext == ".DBF") openFolderSource("dBase 5.0");
    if (ext == ".CSV" || ext == ".TXT") openFolderSource("TEXT");
    if (ext == ".XLS" || ext == ".XLSX") {
      c.SourceDB.setConnected(false);
      p.headerEnabled = false;
      c.SourceDB.setDatabaseParameters(
          p.headerChecked ? "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;"
                          : "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
      c.SourceDB.setVersion(p.useOlderExcelDrivers ? "3.6" : "12.0");
      std::vector<std::string> types = c.SourceDB.databaseTypeList();
      std::string chosenType;
      for (const char* want : {"Excel 8.0", "Excel 5.0", "Excel 4.0", "Excel 3.0"}) {
        for (const auto& t : types)
          if (t == want) chosenType = want;
        if (!chosenType.empty()) break;
      }
      if (chosenType.empty()) {
        c.messages.error(kNoExcelDrivers);
        return;
      }
      c.SourceDB.setDatabaseType(chosenType);
      p.grpExcelVisible = true;
      c.SourceDB.setDatabase(p.edtDir + p.edtFileName);
      c.SourceDB.setConnected(true);
      std::vector<std::string> tables = c.SourceDB.tableNameList();
      // A workbook without tables fails here as a list index would.
      if (tables.empty()) throw ListIndexError(0);
      c.SourceTable.setTableName(tables.front());
      p.sheets = tables;
      p.sheetText = tables.front();
      c.SourceTable.open();
      p.btnNextPage2Enabled = true;
      p.grpExcelEnabled = true;
    }
    set_display_widths(c.SourceTable);
    load_field_list(p, c);
  } catch (const std::exception& e) {
    c.messages.plain(e.what());
  }
}

void cmbSheets1Change(SourcePage& p, SourceContext& c) {
  BusyScope busy(c.messages);
  c.SourceTable.close();
  c.SourceTable.setTableName(p.sheetText);
  c.SourceTable.open();
  set_display_widths(c.SourceTable);
  load_field_list(p, c);
}

void Button2Click(SourcePage& p, SourceContext& c) {
  p.headerEnabled = true;
  c.SourceTable.close();
  c.SourceDB.setConnected(false);
  p.btnNextPage2Enabled = false;
  p.grpExcelVisible = false;
}

}  // namespace qm::app
