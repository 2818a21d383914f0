#include "pricefile/build_file.h"

#include <optional>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "pricefile/dbf_price_sink.h"

namespace qm::pricefile {

namespace {

// Raised when a check has told the user why the build does not go on.
struct Refused {};

class Build {
 public:
  Build(const BuildPage& page, BuildSource& source, BuildTables& tables, BuildEnvironment& env)
      : page_(page), source_(source), t_(tables), env_(env), m_(env.messages) {}

  BuildResult run() {
    try {
      trace("Here 1");
      run_.recordCount = 0;
      trace("Here 1a");
      checkPage();
      // The check looks at the folder without blanks at its ends; so do the paths made from
      // it, or a pasted trailing blank would name the file " ACMELIST.dbf" or a folder that
      // is not there.
      page_.destFolder = trim(page_.destFolder);
      saveConfiguration();
      trace("Here 110");
      const std::int64_t startRow = str_to_int(page_.startRow);
      result_.priceFile = page_.destFolder + page_.manufacturer + "LIST.dbf";
      trace("Here 0" + result_.priceFile);
      {
        std::vector<std::string> lines = page_.mapping;
        if (validate_mapping(lines, m_, run_)) throw Refused{};
      }
      t_.tblExport.close();
      t_.tblExport.setFolder(folder_of(result_.priceFile));
      t_.tblExport.setTableName(file_name_of(result_.priceFile));
      if (!(page_.addToExisting && file_exists(result_.priceFile))) makePriceFile();
      trace("Here 09" + env_.appFolder);
      if (!file_exists(result_.priceFile)) copyTemplate();
      if (!convert(startRow)) {
        if (run_.cancelled) return cancelled();
        showPage("Page2");
        result_.outcome = BuildOutcome::ConversionStopped;
        result_.records = run_.recordCount;
        return result_;
      }
      if (env_.cancelled && env_.cancelled()) return cancelled();
      return finish();
    } catch (const Refused&) {
      result_.outcome = BuildOutcome::Refused;
      return result_;
    }
  }

 private:
  BuildResult cancelled() {
    m_.information("Build cancelled");
    result_.outcome = BuildOutcome::Cancelled;
    result_.records = run_.recordCount;
    return result_;
  }

  void trace(const std::string& text) {
    if (file_exists(env_.appFolder + "debug.txt")) m_.plain(text);
  }

  void refuse(const char* text) {
    m_.error(text);
    throw Refused{};
  }

  void checkPage() {
    // The path separator of the platform stands for the "\" of the message.
    if (!ends_with_separator(trim(page_.destFolder)))
      refuse("You must have \"\\\" at the end of the Destination Path!");
    trace("Here 1b");
    if (page_.saveName.empty()) refuse("You must enter a Save Name!");
    trace("Here 12");
    if (page_.manufacturer.empty())
      refuse("You must enter a manufacturer ID\r\nin order to save your exported file.");
    trace("Here 13");
    if (page_.startRow.empty()) refuse("You must enter a record number to start exporting data.");
    trace("Here 14");
    if (page_.vendorInfo) {
      trace("Here chkVendInfo");
      if (trim(page_.manulistFolder).empty())
        refuse("You enter the location of Manulist.dbf before exporting data");
      trace("Here 15");
      if (trim(page_.vendorId).empty()) refuse("You enter a vender ID before exporting data");
      trace("Here 16");
      if (trim(page_.vendorCode).empty()) refuse("You enter a vender Code before exporting data");
      trace("Here 17");
    }
    trace("Here 18");
    trace("Here 19");
  }

  // Kept before any file is touched, so that a build that fails later keeps the mapping and
  // the page's values.
  void saveConfiguration() {
    tables::DbfTable& store = t_.cdsStore;
    if (!store.editing()) store.edit();
    store.fieldByName("FIELDSLIST").setLines(page_.mapping);
    store.fieldByName("FILENAME").setAsString(page_.manufacturer);
    DateTime date;
    if (!parse_date(page_.updateDate, date)) date = today();
    store.fieldByName("UPDATEDATE").setAsDateTime(date);
    store.post();
  }

  std::string companion(const char* ext) const {
    // The price file's name ends in "LIST.dbf"; its memo and index differ in the extension.
    const std::string& p = result_.priceFile;
    return p.substr(0, p.size() - 4) + ext;
  }

  void makePriceFile() {
    const std::string& path = result_.priceFile;
    trace("Here 01" + path);
    // Read from the file each time, so that a changed destination field list is taken up by
    // the next build, and a missing one stops the build before the old price file is gone.
    tables::DbfTable& fields = t_.tblFields;
    (void)fields.fieldDefs();
    trace("Here 02" + path);
    delete_file(path);
    trace("Here 03" + path);
    delete_file(companion(".mdx"));
    trace("Here 04" + path);
    delete_file(companion(".dbt"));
    trace("Here 05" + path);
    t_.tblExport.copyStructureFrom(fields);
    trace("Here 06" + path);
    t_.tblExport.setTableLevel(7);
    trace("Here 07" + path);
    if (env_.createTable)
      env_.createTable(t_.tblExport);
    else
      t_.tblExport.createTable();
    trace("Here 08" + path);
  }

  void copyTemplate() {
    m_.plain("The tblExport.CreateTable did not work. We are manually Creating them.");
    delete_file(companion(".dbt"));
    copy_file_replace(env_.appFolder + "flistwin.dbf", result_.priceFile);
    // A destination field list without memo fields has no memo file to copy.
    if (file_exists(env_.appFolder + "flistwin.dbt"))
      copy_file_replace(env_.appFolder + "flistwin.dbt", companion(".dbt"));
  }

  bool convert(std::int64_t startRow) {
    t_.tblExport.open();
    source_.table.first();
    const std::int64_t sheetRows = source_.knownRowCount ? source_.knownRowCount() : -1;
    std::int64_t rowCounter = 0;
    DbfPriceSink sink(t_.tblExport);
    ConvertTargets targets{source_.table, source_.tables, sink, m_, {}, env_.cancelled};
    if (env_.progress) {
      env_.progress(0, sheetRows);
      targets.progress = [&](std::int64_t rows) { env_.progress(rows, sheetRows); };
    }
    return convert_rows(convert_inputs(page_), startRow, rowCounter, page_.mapping, run_, targets);
  }

  BuildResult finish() {
    {
      BusyScope busy(m_);
      if (source_.disconnect) source_.disconnect();
      showPage("Page1");
      if (t_.cdsStore.editing()) t_.cdsStore.post();
      result_.records = run_.recordCount;
      if (page_.vendorInfo) {
        RegistrationTables rt{t_.tblExport, t_.tblFields, t_.tblVendor};
        if (!register_price_file(registration_values(page_), rt, m_, env_.appFolder,
                                 env_.settings)) {
          result_.outcome = BuildOutcome::RegistrationStopped;
          return result_;
        }
      }
    }
    result_.completion = completion_text(run_.recordCount);
    result_.outcome = BuildOutcome::Complete;
    m_.beep();
    return result_;
  }

  void showPage(const std::string& name) {
    if (env_.showPage) env_.showPage(name);
  }

  BuildPage page_;
  BuildSource& source_;
  BuildTables& t_;
  BuildEnvironment& env_;
  Messages& m_;
  BuildRun run_;
  BuildResult result_;
};

std::string field_text(tables::DbfTable& t, const char* name) {
  tables::DbfField* f = t.findField(name);
  return f ? f->asString() : std::string();
}

bool field_tick(tables::DbfTable& t, const char* name) {
  tables::DbfField* f = t.findField(name);
  return f && !f->isNull() && f->asBoolean();
}

}  // namespace

ConvertInputs convert_inputs(const BuildPage& page) {
  ConvertInputs in;
  in.manufacturer = page.manufacturer;
  in.updateDate = page.updateDate;
  in.priceSheet = page.priceSheet;
  in.rowBreak = page.rowBreak;
  in.addTitleToDesc = page.addTitleToDesc;
  in.multipleTabs = page.multipleTabs;
  in.sheetCount = page.sheetCount;
  return in;
}

RegistrationValues registration_values(const BuildPage& page) {
  RegistrationValues v;
  v.destFolder = page.destFolder;
  v.manulistFolder = page.manulistFolder;
  v.identifier = page.manufacturer;
  v.company = page.company;
  v.code = page.vendorCode;
  v.sourceId = page.vendorId;
  v.parameter = page.parameter;
  v.updateText = page.updateDate;
  v.priceSheet = page.priceSheet;
  v.sourceLit = page.sourceLit;
  v.usCanada = page.usCanada;
  v.cable = page.cable;
  v.contractPr = page.contractPr;
  v.serialNum = page.serialNum;
  v.conversion = page.conversion;
  v.dept = page.dept;
  return v;
}

void read_page_from_configuration(tables::DbfTable& cdsStore, BuildPage& page) {
  page.manufacturer = field_text(cdsStore, "EXPORTDBF");
  page.company = field_text(cdsStore, "COMPANY");
  page.saveName = field_text(cdsStore, "STORENAME");
  page.addToExisting = field_tick(cdsStore, "APPENDDATA");
  page.startRow = field_text(cdsStore, "STARTEXPRT");
  page.updateDate.clear();
  if (tables::DbfField* f = cdsStore.findField("UPDATEDATE"); f && !f->isNull())
    page.updateDate = format_short_date(f->asDateTime());
  page.priceSheet = field_text(cdsStore, "PRICESHEET");
  page.vendorCode = field_text(cdsStore, "CODE");
  page.vendorId = field_text(cdsStore, "SOURCE_ID");
  page.dept = field_text(cdsStore, "DEPT");
  page.parameter = field_text(cdsStore, "PARAMETER");
  page.sourceLit = field_text(cdsStore, "SHEET");
  page.usCanada = field_tick(cdsStore, "US_CANADA");
  page.conversion = field_text(cdsStore, "CONVERSION");
  page.cable = field_tick(cdsStore, "CABLE");
  page.serialNum = field_text(cdsStore, "SERIALNUM");
  page.contractPr = field_tick(cdsStore, "CONTRACTPR");
  page.rowBreak = field_tick(cdsStore, "BREAKONROW");
  page.addTitleToDesc = field_tick(cdsStore, "ADDDESCRIP");
  page.mapping.clear();
  if (tables::DbfField* f = cdsStore.findField("FIELDSLIST")) page.mapping = f->lines();
}

bool validate_mapping(const std::vector<std::string>& mapping, Messages& messages, BuildRun& run) {
  run.descriptionOptional = false;
  bool part = false, description = false, listPrice = false, firstCost = false;
  for (const auto& line : mapping) {
    const std::string name = to_upper_ascii(line.substr(0, line.find('=')));
    if (name == "PARTNUMBER") part = true;
    if (name == "DESCRIPTN") description = true;
    if (name == "LISTPRICE") listPrice = true;
    if (name == "COST_OF_1") firstCost = true;
  }
  if (!part) {
    messages.error("PartNumber is not selected, Invalid configuration!");
    return true;
  }
  if (!description) {
    if (!messages.askYesCancel(MsgKind::Error,
                               "DESCRIPTN is not selected, would you like to continue!"))
      return true;
    run.descriptionOptional = true;
  }
  if (!listPrice && !firstCost &&
      !messages.askYesCancel(MsgKind::Error,
                             "LISTPRICE is not selected, would you like to continue!"))
    return true;
  return false;
}

BuildResult build_file(const BuildPage& page, BuildSource& source, BuildTables& tables,
                       BuildEnvironment& env) {
  return Build(page, source, tables, env).run();
}

std::string completion_text(std::int64_t records) {
  return "Import complete! " + std::to_string(records) + " Records";
}

}  // namespace qm::pricefile
