// The walk over the source rows that writes the price file: one heading record, then one
// record per part, with quantity breaks folded in, headings put before descriptions, and
// further sheets of a workbook read on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/dataset.h"
#include "core/messages.h"
#include "pricefile/price_sink.h"

namespace qm::pricefile {

// What the walk reads from page 4 and the sheet list; the window and the command line fill
// it the same way.
struct ConvertInputs {
  std::string manufacturer;     // edeDBF
  std::string updateDate;       // txtUpdate
  std::string priceSheet;       // txtPriceSheet
  bool rowBreak = false;        // chkRowBreak
  bool addTitleToDesc = false;  // chkAddTitletoDesc
  bool multipleTabs = false;    // MultipleTabs
  int sheetCount = 0;           // entries of cmbSheets
};

// Values shared by one build with its driver.
struct BuildRun {
  std::int64_t recordCount = 0;      // raised once per part record
  bool descriptionOptional = false;  // set by the mapping check
  bool cancelled = false;            // the walk stopped because the user asked it to
};

// The source database's table list and the naming of the source table, for walking on to
// further sheets.
class SourceTables {
 public:
  virtual ~SourceTables() = default;
  // Entry of TableNameList at position (from 0); raises ListIndexError beyond its end.
  virtual std::string tableName(std::int64_t position) = 0;
  // Names the (closed) source table.
  virtual void setTableName(const std::string& name) = 0;
};

// Rows passed so far; called every few thousand rows and once at the end.
using ConvertProgress = std::function<void(std::int64_t rowsPassed)>;

struct ConvertTargets {
  Dataset& source;                 // SourceTable, on its first row
  SourceTables* tables = nullptr;  // may be null: no further tables to read
  PriceSink& tblExport;            // the open price file; closed when the walk ends
  Messages& messages;
  ConvertProgress progress = {};
  // Asked at every row; true stops the walk there, with run.cancelled set and no message.
  std::function<bool()> cancelled = {};
};

// Converts the rows from startRow (counted from 1; 0 and 1 both mean the first) on, adding 1
// to rowCounter for each row passed. Takes the mapping lines over. True when the walk
// finished; false when an error stopped it, after an error box with the error's text, or when
// the user cancelled it.
bool convert_rows(const ConvertInputs& inputs, std::int64_t startRow, std::int64_t& rowCounter,
                  std::vector<std::string> mapping, BuildRun& run, ConvertTargets targets);

}  // namespace qm::pricefile
