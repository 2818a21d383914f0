// The sheet layer: a table over a reader's raw rows. It names the columns (from the header row
// or F1, F2, ...), decides their kinds from the first rows, and then hands out rows lazily.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/engine.h"
#include "source/reader.h"

namespace qm::source {

struct SheetOptions {
  bool firstRowHeader = true;
  // Rows scanned to decide a column's kind; 0 scans the engine's maximum (16384 rows).
  int typeGuessRows = 8;
  // IMEX=1 with ImportMixedTypes=Text: a column of mixed content is a text column.
  bool mixedAsText = false;
  // Text readers give every value as written: their columns are all text, whatever the cells.
  bool allText = false;
  // Names the file in errors.
  std::string fileName;

  // Reads HDR, IMEX, TypeGuessRows and ImportMixedTypes from a connect string.
  static SheetOptions from(const ConnectString& connect);
};

constexpr int kMaxScanRows = 16384;
// The engine's limit of fields in one table.
constexpr int kMaxColumns = 255;
constexpr int kTextSize = 255;

// The cell kinds of each column, gathered row by row as the rows are scanned.
class ColumnScan {
 public:
  void add(const std::vector<Cell>& row);
  // Names from the header row's cells (none: F1, F2, ...) and kinds from the rows added.
  std::vector<EngineColumn> describe(const std::vector<Cell>* header, int columnCount,
                                     const SheetOptions& options) const;

 private:
  struct Seen {
    unsigned kinds = 0;
    std::size_t counts[4] = {0, 0, 0, 0};
    bool longText = false, allTimes = true, anyTime = false;
  };
  std::vector<Seen> seen_;
};

// Column names and kinds decided from the scanned rows; pure, so it can be tested alone.
// header: the first row's cells (empty when there is no header row); rows: the scanned data.
std::vector<EngineColumn> describe_columns(const std::vector<Cell>* header,
                                           const std::vector<std::vector<Cell>>& rows,
                                           int columnCount, const SheetOptions& options);

class SheetRecordset : public Recordset {
 public:
  SheetRecordset(std::unique_ptr<RowReader> reader, SheetOptions options);

  const std::vector<EngineColumn>& columns() const override { return columns_; }
  bool fetch(std::vector<Cell>& row) override;
  void rewind() override;
  std::int64_t recordCount() override;
  std::int64_t knownRecordCount() override;
  std::vector<std::string> notes() const override { return reader_->notes(); }

 private:
  void keep(const std::vector<Cell>& row);
  void kept(std::size_t index, std::vector<Cell>& row) const;

  std::unique_ptr<RowReader> reader_;
  SheetOptions options_;
  std::vector<EngineColumn> columns_;
  // Rows read while scanning, handed out first so the file is not read twice for them. They
  // are kept packed (a number takes nine bytes, not a cell's fifty-six), as a scan of 16,384
  // rows of 255 cells would otherwise hold a quarter of a gigabyte.
  std::string scanned_;
  std::vector<std::size_t> scannedAt_;
  std::size_t nextScanned_ = 0;
  bool scannedAll_ = false;  // the scan reached the end of the sheet
  bool atEnd_ = false;
  // The reader stands right behind the kept rows, as after the scan: a rewind need not read
  // them again to get there (a table is rewound twice while it opens).
  bool readerAfterKept_ = true;
  std::int64_t position_ = 0;  // rows handed out since the last rewind
  std::int64_t count_ = -1;
};

}  // namespace qm::source
