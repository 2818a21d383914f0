// The build of a price file from page 4: the page's checks, saving the configuration with its
// mapping, the mapping check, making or reopening the price file, the row walk, registration
// and the completion text. The wizard reads its controls into a BuildPage; the command line
// fills one from a stored configuration and the settings. Both run the same build_file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/dataset.h"
#include "core/messages.h"
#include "pricefile/convert_rows.h"
#include "pricefile/registration.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

// Page 4, with the page-3 options the walk reads, as texts and ticks.
struct BuildPage {
  std::string manufacturer;          // edeDBF
  std::string destFolder;            // edtDestFolder
  std::string company;               // txtCompany
  std::string saveName;              // dbeSaveAsName
  bool addToExisting = false;        // chkAddToExisting
  std::string startRow;              // edeStart
  std::string updateDate;            // txtUpdate
  std::string priceSheet;            // txtPriceSheet
  bool vendorInfo = false;           // chkVendInfo
  std::string manulistFolder;        // edtManlist
  std::string vendorCode;            // dbeVendCode
  std::string vendorId;              // dbeVendSource
  std::string dept;                  // txtDept
  std::string parameter;             // dbeParam
  std::string sourceLit;             // DBEdit2
  bool usCanada = false;             // DBCheckBox1
  std::string conversion;            // DBEdit4
  bool cable = false;                // DBCheckBox2
  std::string serialNum;             // DBComboBox1
  bool contractPr = false;           // DBCheckBox3
  bool multipleTabs = false;         // MultipleTabs
  bool rowBreak = false;             // chkRowBreak
  bool addTitleToDesc = false;       // chkAddTitletoDesc
  int sheetCount = 0;                // entries of cmbSheets
  std::vector<std::string> mapping;  // lstbNew2
};

ConvertInputs convert_inputs(const BuildPage& page);
RegistrationValues registration_values(const BuildPage& page);

// The page as the data-aware controls show the current record of cdsStore (its mapping from
// FIELDSLIST); the folders, the vendor tick and MultipleTabs are not stored and stay as given.
void read_page_from_configuration(tables::DbfTable& cdsStore, BuildPage& page);

// True when the build must not go on (after telling the user why). Sets
// run.descriptionOptional when the user goes on without a description.
bool validate_mapping(const std::vector<std::string>& mapping, Messages& messages, BuildRun& run);

// The source the walk reads: SourceTable, the table list of its database, and the
// disconnect of SourceDB that follows a finished walk.
struct BuildSource {
  Dataset& table;
  SourceTables* tables = nullptr;
  std::function<void()> disconnect;
  // Rows of the sheet open at the start when the source knows them cheaply, else -1.
  std::function<std::int64_t()> knownRowCount;
};

struct BuildTables {
  tables::DbfTable& cdsStore;   // open, on the current configuration
  tables::DbfTable& tblFields;  // named at the destination field list
  tables::DbfTable& tblExport;
  tables::DbfTable& tblVendor;
};

// Rows passed so far, and the rows of the sheet (-1 when unknown).
using BuildProgress = std::function<void(std::int64_t rowsPassed, std::int64_t sheetRows)>;

struct BuildEnvironment {
  Messages& messages;
  std::string appFolder;  // with its trailing separator; "debug.txt" is looked for here
  const SettingsSource& settings;
  std::function<void(const std::string& page)> showPage = {};  // "Page1", "Page2"
  BuildProgress progress = {};
  // Makes the new price file in tblExport; the engine's create unless a test says otherwise.
  std::function<void(tables::DbfTable&)> createTable = {};
  // Asked at every row of the walk and once more before the price file is put in place; true
  // cancels the build (the wizard's Cancel, Ctrl+C on the command line).
  std::function<bool()> cancelled = {};
};

enum class BuildOutcome {
  Refused,              // a check of the page or of the mapping said no; nothing written
  ConversionStopped,    // the walk met an error; the wizard is on page 2
  RegistrationStopped,  // the price file is built, a list was not written
  Cancelled,            // the user stopped it; nothing registered, "Build cancelled" said
  Complete,
};

struct BuildResult {
  BuildOutcome outcome = BuildOutcome::Refused;
  std::int64_t records = 0;
  std::string priceFile;   // empty until the checks have passed
  std::string completion;  // "Import complete! N Records" when complete
};

// btnExportClick without the window. Errors that the build does not catch (a start row that
// is no whole number, a price file that cannot be made or opened) are raised for the
// application's top-level handling, after the configuration has been saved.
BuildResult build_file(const BuildPage& page, BuildSource& source, BuildTables& tables,
                       BuildEnvironment& env);

std::string completion_text(std::int64_t records);

}  // namespace qm::pricefile
