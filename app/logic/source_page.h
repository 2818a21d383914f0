// Page 1 of the wizard: choosing the source file, opening it, choosing the sheet of a
// workbook, closing it. The window reads its controls into SourcePage, runs one of these and
// shows the result.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/source_link.h"
#include "core/messages.h"

namespace qm::app {

// The page-1 controls, the two field lists of page 3 they fill, and the window caption.
struct SourcePage {
  std::string edtDir;
  std::string edtFileName;
  bool headerChecked = true;  // chkMakeFirstRecordHeaderFields
  bool headerEnabled = true;
  bool useOlderExcelDrivers = false;
  bool grpExcelVisible = false;
  bool grpExcelEnabled = false;
  std::vector<std::string> sheets;  // cmbSheets items
  std::string sheetText;            // cmbSheets text
  bool btnNextPage2Enabled = false;
  bool lblCompleteVisible = false;
  std::vector<std::string> lstbFields;
  std::vector<std::string> lstFields;
  std::string caption;
};

// The open-file dialog opd, shared with the vendor page which sets its own name and filter.
struct OpenDialog {
  std::string title = "Open a File";
  std::string initialDir;
  std::string filter;
  std::string fileName;
  std::string defaultExt = "*.xls";
};
// Shows the dialog; the chosen path, or nothing when the user cancels.
using OpenDialogRunner = std::function<std::optional<std::string>(const OpenDialog&)>;

// Dialog filters for a filter text: "Description|pattern|..." pairs, or a bare pattern list
// such as "*.xlsx;*.xls". Every list ends with the five kinds of source file, so any of them
// can always be chosen. Each entry is a description and its patterns separated by ";".
struct DialogFilter {
  std::string description;
  std::vector<std::string> patterns;
};
std::vector<DialogFilter> dialog_filters(const std::string& filterText);

struct SourceContext {
  SourceDatabase& SourceDB;
  SourceTableLink& SourceTable;
  Messages& messages;
  std::string versionText;
};

extern const char* const kNoExcelDrivers;

void btnOpenFileClick(SourcePage& p, SourceContext& c, OpenDialog& opd,
                      const OpenDialogRunner& run);
void btnOpenSourceFileClick(SourcePage& p, SourceContext& c);
void cmbSheets1Change(SourcePage& p, SourceContext& c);
void Button2Click(SourcePage& p, SourceContext& c);
void load_field_list(SourcePage& p, SourceContext& c);
void setcaption(SourcePage& p, const SourceContext& c);

}  // namespace qm::app
