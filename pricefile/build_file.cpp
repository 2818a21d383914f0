#include "pricefile/build_file.h"

#include <filesystem>
#include <optional>
#include <random>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "pricefile/compare.h"
#include "pricefile/dbf_price_sink.h"
#include "pricefile/raw_records.h"
#include "pricefile/staged_table.h"

namespace qm::pricefile {

namespace {

// Raised when a check has told the user why the build does not go on.
struct Refused {};

// A folder of the system's temporary folder for a dry run, removed with what is in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0;; ++attempt) {
      auto p = base / ("quillmere-dry-run-" + std::to_string(random()));
      if (std::filesystem::create_directory(p)) {
        path_ = p;
        return;
      }
      if (attempt == 100) throw Error("Cannot make a temporary folder in " + from_fs_path(base));
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string folder() const { return from_fs_path(path_) + path_separator(); }

 private:
  std::filesystem::path path_;
};

// On every way out tblExport names the price file again, not the staging folder's copy.
struct NamesPriceFile {
  tables::DbfTable& table;
  const std::string& path;
  ~NamesPriceFile() {
    if (table.active()) return;
    table.setFolder(folder_of(path));
    table.setTableName(file_name_of(path));
  }
};

class Build {
 public:
  Build(const BuildPage& page, BuildSource& source, BuildTables& tables, BuildEnvironment& env)
      : page_(page), source_(source), t_(tables), env_(env), m_(env.messages) {}

  BuildResult run() {
    try {
      trace("Here 1");
      run_.recordCount = 0;
      trace("Here 1a");
      beginReport();
      checkPage();
      // The check looks at the folder without blanks at its ends; so do the paths made from
      // it, or a pasted trailing blank would name the file " ACMELIST.dbf" or a folder that
      // is not there.
      page_.destFolder = trim(page_.destFolder);
      if (!env_.dryRun) saveConfiguration();
      trace("Here 110");
      const std::int64_t startRow = str_to_int(page_.startRow);
      result_.report.startRow = startRow;
      result_.priceFile = page_.destFolder + page_.manufacturer + "LIST.dbf";
      trace("Here 0" + result_.priceFile);
      {
        std::vector<std::string> lines = page_.mapping;
        if (validate_mapping(lines, m_, run_)) throw Refused{};
      }
      t_.tblExport.close();
      // A dry run stages its file in a temporary folder of its own, so that nothing beside the
      // price file is written, not even the staging folder and its lock.
      if (env_.dryRun) scratch_.emplace();
      StagedTable staged(env_.dryRun ? scratch_->folder() + file_name_of(result_.priceFile)
                                     : result_.priceFile);
      NamesPriceFile afterwards{t_.tblExport, result_.priceFile};
      // Closed before the staging folder is cleared: Windows keeps an open file from going.
      struct EndComparison {
        std::optional<PriceComparison>& comparing;
        ~EndComparison() { comparing.reset(); }
      } endComparison{comparing_};
      startStaging(staged);
      std::optional<RegistrationLists> lists;
      if (!env_.dryRun) lockLists(lists);
      target_ = staged.stagedPath();
      if (page_.addToExisting && file_exists(result_.priceFile)) {
        if (env_.dryRun)
          copyForDryRun();
        else
          staged.copyOld();
      } else {
        makePriceFile();
      }
      trace("Here 09" + env_.appFolder);
      if (!file_exists(target_)) copyTemplate(target_);
      const bool converted = convert(startRow);
      if (!converted && run_.cancelled) return cancelled();
      keepFirstRecords();
      // Before the swap, while the file it replaces is still in place.
      compareWithPrevious();
      if (!converted) {
        showPage("Page2");
        result_.outcome = BuildOutcome::ConversionStopped;
        result_.records = run_.recordCount;
        return result_;
      }
      if (env_.cancelled && env_.cancelled()) return cancelled();
      // A dry run's staged file is removed with its folder, never put in place.
      if (!env_.dryRun && !putInPlace(staged)) {
        result_.outcome = BuildOutcome::ConversionStopped;
        result_.records = run_.recordCount;
        return result_;
      }
      return finish(lists ? &*lists : nullptr);
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

  void beginReport() {
    BuildReport& r = result_.report;
    r.dryRun = env_.dryRun;
    r.sourceFile = source_.fileName;
    r.sourceTable = source_.tableName;
  }

  // The file a dry run adds to is copied into its scratch folder.
  void copyForDryRun() {
    const std::vector<std::string> from = table_file_set(result_.priceFile);
    const std::vector<std::string> to = table_file_set(target_);
    for (std::size_t i = 0; i < from.size() && i < to.size(); ++i)
      if (file_exists(from[i])) copy_file_replace(from[i], to[i]);
  }

  void keepFirstRecords() {
    BuildReport& r = result_.report;
    try {
      tables::DbfTable t;
      t.setFolder(folder_of(target_));
      t.setTableName(file_name_of(target_));
      t.open();
      for (int i = 0; i < t.fieldCount(); ++i) r.recordFields.push_back(t.field(i).name());
      // The records this build wrote begin after the physical end of those there before
      // (deleted ones keep their numbers), and the header's count says whether there are any:
      // counting live records would read the whole file again.
      const std::int64_t first = (appended_ ? previousPhysical_ : 0) + 1;
      if (first > raw_record_count(target_)) return;
      for (t.goToRecNo(first); !t.eof() && r.records.size() < kKeptRecords; t.next()) {
        std::vector<std::string>& rec = r.records.emplace_back();
        for (int i = 0; i < t.fieldCount(); ++i) rec.push_back(t.field(i).asString());
      }
    } catch (const std::exception&) {
      // The records are a preview; the build's outcome does not depend on them.
    }
  }

  // The file replaced (in a dry run, the one that would be) or the records added to, read
  // while the walk runs; the walk hands over each record it stores, so that the new file is
  // not read back.
  void startComparison() {
#ifdef QM_BENCH_WITHOUT_COMPARISON
    return;
#endif
    if (appended_ ? result_.report.recordsBefore == 0 : !file_exists(result_.priceFile)) return;
    comparing_.emplace(appended_ ? target_ : result_.priceFile, appended_ ? previousPhysical_ : -1,
                       target_);
    watchedNext_ = appended_ ? previousPhysical_ + 1 : 1;
  }

  void watch(std::int64_t number, std::string_view record) {
    watchedInStep_ = watchedInStep_ && number == watchedNext_;
    watchedNext_ = number + 1;
    comparing_->add(number, record);
  }

  // A previous file that cannot be read leaves the build as it is, and says so in the report.
  void compareWithPrevious() {
    BuildReport& r = result_.report;
    r.partRecords = run_.recordCount;
    if (!comparing_) return;
    try {
      // What the walk handed over is what the file holds, unless a batch it posted was not
      // written: then the file is read instead.
      bool complete = watchedInStep_;
      try {
        complete = complete && raw_record_count(target_) == watchedNext_ - 1;
      } catch (const std::exception&) {
        complete = false;
      }
      if (complete) {
        r.comparison = comparing_->finish();
        comparing_.reset();
      } else {
        comparing_.reset();
        r.comparison = appended_ ? compare_price_files(target_, previousPhysical_, target_,
                                                       previousPhysical_ + 1)
                                 : compare_price_files(result_.priceFile, -1, target_, 1);
      }
    } catch (const std::exception& e) {
      r.comparison.reset();
      r.comparisonError = e.what();
    }
    comparing_.reset();
  }

  void trace(const std::string& text) {
    if (file_exists(env_.appFolder + "debug.txt")) m_.plain(text);
  }

  void refuse(const std::string& text) {
    m_.error(text);
    throw Refused{};
  }

  void checkPage() {
    // The message names the separator the check wants: "\" on Windows, "/" elsewhere.
    if (!ends_with_separator(trim(page_.destFolder)))
      refuse("You must have \"" + separator_string() + "\" at the end of the Destination Path!");
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

  void makePriceFile() {
    const std::string& path = result_.priceFile;
    trace("Here 01" + path);
    // Read from the file each time, so that a changed destination field list is taken up by
    // the next build, and a missing one stops the build before the old price file is gone.
    tables::DbfTable& fields = t_.tblFields;
    (void)fields.fieldDefs();
    // The old file set stays where it is until the new one is complete; the new one is made
    // in a staging folder that starts empty.
    trace("Here 02" + path);
    trace("Here 03" + path);
    trace("Here 04" + path);
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

  void copyTemplate(const std::string& path) {
    m_.plain("The tblExport.CreateTable did not work. We are manually Creating them.");
    const std::string memo = path.substr(0, path.size() - 4) + ".dbt";
    delete_file(memo);
    copy_file_replace(env_.appFolder + "flistwin.dbf", path);
    // A destination field list without memo fields has no memo file to copy.
    if (file_exists(env_.appFolder + "flistwin.dbt"))
      copy_file_replace(env_.appFolder + "flistwin.dbt", memo);
  }

  // Locks the price file against a second import and points tblExport at the new set's place;
  // a price file that cannot be replaced refuses the build with nothing changed.
  void startStaging(StagedTable& staged) {
    staged.faultPoint = env_.faultPoint;
    try {
      staged.begin(m_);
    } catch (const Error& e) {
      refuse(e.what());
    }
    t_.tblExport.setFolder(folder_of(staged.stagedPath()));
    t_.tblExport.setTableName(file_name_of(staged.stagedPath()));
  }

  // The lists the build registers in are locked from before the walk, so that a build that
  // could not register is refused before it changes anything.
  void lockLists(std::optional<RegistrationLists>& lists) {
    if (!page_.vendorInfo) return;
    lists.emplace(registration_values(page_));
    try {
      lists->begin(m_);
    } catch (const Error& e) {
      refuse(e.what());
    }
  }

  // The complete new set takes the old one's place; tblExport names the price file again.
  bool putInPlace(StagedTable& staged) {
    t_.tblExport.close();
    try {
      staged.commit();
    } catch (const Error& e) {
      m_.error(e.what());
      return false;
    }
    t_.tblExport.setFolder(folder_of(result_.priceFile));
    t_.tblExport.setTableName(file_name_of(result_.priceFile));
    return true;
  }

  // Every record's DEPT holds the identifier: one cut to the field's width would no longer
  // name its price file.
  void checkIdentifierFits() {
    tables::DbfField* dept = t_.tblExport.findField("DEPT");
    if (!dept) return;
    const int width = dept->def().length;
    // Characters, not UTF-8 bytes: the table's code page gives each one byte.
    std::size_t chars = 0;
    for (unsigned char c : page_.manufacturer) chars += (c & 0xC0) != 0x80;
    if (dept->def().type != 'C' || chars <= static_cast<std::size_t>(width)) return;
    t_.tblExport.close();
    refuse("The manufacturer ID " + page_.manufacturer + " has " + std::to_string(chars) +
           " characters; the price file's DEPT field holds " + std::to_string(width) + ".");
  }

  bool convert(std::int64_t startRow) {
    t_.tblExport.open();
    checkIdentifierFits();
    if (page_.addToExisting) {
      appended_ = true;
      result_.report.recordsBefore = t_.tblExport.recordCount();
      // Deleted records keep their numbers: the comparison counts physical records.
      previousPhysical_ = raw_record_count(target_);
    }
    startComparison();
    source_.table.first();
    const std::int64_t sheetRows = source_.knownRowCount ? source_.knownRowCount() : -1;
    std::int64_t rowCounter = 0;
    tables::DbfTable::AppendWatcher watcher;
    if (comparing_)
      watcher = [this](std::int64_t number, std::string_view record) { watch(number, record); };
    DbfPriceSink sink(t_.tblExport, std::move(watcher));
    ConvertTargets targets{source_.table, source_.tables, sink, m_, {}, env_.cancelled};
    targets.report = &result_.report;
    targets.sheetName = source_.tableName;
    targets.firstSheetRow = source_.firstSheetRow;
    if (env_.progress) {
      env_.progress(0, sheetRows);
      targets.progress = [&](std::int64_t rows) { env_.progress(rows, sheetRows); };
    }
    const bool done =
        convert_rows(convert_inputs(page_), startRow, rowCounter, page_.mapping, run_, targets);
    if (source_.readerNotes) result_.report.sourceNotes = source_.readerNotes();
    // Said once the walk has ended: the repair happens at its first write.
    if (!t_.tblExport.repairNote().empty()) m_.information(t_.tblExport.repairNote());
    return done;
  }

  BuildResult finish(RegistrationLists* lists) {
    {
      BusyScope busy(m_);
      // A dry run is followed by the real build, which reads the source again.
      if (source_.disconnect && !env_.dryRun) source_.disconnect();
      showPage("Page1");
      if (t_.cdsStore.editing() && !env_.dryRun) t_.cdsStore.post();
      result_.records = run_.recordCount;
      if (page_.vendorInfo && !env_.dryRun) {
        RegistrationTables rt{t_.tblExport, t_.tblFields, t_.tblVendor};
        if (!register_price_file(registration_values(page_), rt, m_, env_.appFolder, env_.settings,
                                 lists)) {
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
    // The preview leaves the wizard where it was.
    if (env_.showPage && !env_.dryRun) env_.showPage(name);
  }

  BuildPage page_;
  BuildSource& source_;
  BuildTables& t_;
  BuildEnvironment& env_;
  Messages& m_;
  BuildRun run_;
  BuildResult result_;
  std::string target_;  // where the price file is built: the staging folder's copy
  std::optional<ScratchFolder> scratch_;
  bool appended_ = false;  // added to an existing file
  std::int64_t previousPhysical_ = 0;
  std::optional<PriceComparison> comparing_;
  std::int64_t watchedNext_ = 0;  // the record number the walk stores next
  bool watchedInStep_ = true;
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

int first_sheet_row(const std::string& fileName, bool firstRowNames) {
  const std::string ext = to_upper_ascii(extension_of(fileName));
  return firstRowNames && (ext == ".XLS" || ext == ".XLSX") ? 2 : 1;
}

std::string completion_text(std::int64_t records) {
  return "Import complete! " + std::to_string(records) + " Records";
}

}  // namespace qm::pricefile
