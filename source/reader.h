// What stands in the database engine's place: readers of the installable formats. A workbook
// reader yields a sheet's raw rows of cells; the sheet layer above it names the columns,
// decides their kinds and gives each value its text; the table component reads through that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/datetime.h"

namespace qm::source {

// A cell as a workbook or text reader found it.
struct Cell {
  enum class Kind : std::uint8_t { Empty, Text, Number, Boolean, DateTime, Error };
  Kind kind = Kind::Empty;
  double number = 0;     // Number; DateTime as a serial day number (1900 system, Excel's count)
  bool boolean = false;  // Boolean
  // Text (UTF-8); Error: its code, such as "#N/A"; Number: when not empty, the number's text
  // as the engine shows it (a reader that has it at hand spares formatting the number again).
  std::string text;

  void clear() {
    kind = Kind::Empty;
    text.clear();
  }
};

// A sheet read row by row, streaming. Row 0 is the first row of the sheet's used range; rows
// the file leaves out inside that range come back as empty rows, so positions stay true.
class RowReader {
 public:
  virtual ~RowReader() = default;
  // Reads the next row into cells (index = column from A, 0-based; trailing empty cells may be
  // left out). Returns false after the last row. Raises DatabaseError naming the file, sheet,
  // row and column on a malformed file.
  virtual bool nextRow(std::vector<Cell>& cells) = 0;
  // Back to before the first row.
  virtual void rewind() = 0;
  // The size the file declares (checked to be plausible), or -1 when it declares none.
  virtual std::int64_t declaredRowCount() const { return -1; }
  virtual int declaredColumnCount() const { return -1; }
  // Cells at or past this column are of no use to the caller: a reader may drop them instead
  // of keeping them, so that a row padded out to the sheet's last column costs nothing.
  virtual void limitColumns(std::uint32_t /*columns*/) {}
  // What the reader changed in the data to read it (such as NUL bytes dropped from values),
  // one sentence each, for the notes of a build's report.
  virtual std::vector<std::string> notes() const { return {}; }
  // Called on the reading thread before the rest of the rows are read on another one: true
  // when the reader may be used from another thread from now on (while nothing else uses it).
  virtual bool prepareForThread() { return false; }
  // Called on the reading thread while the other thread reads, whenever the caller has no row
  // to take yet: a bounded piece of work the reader can do meanwhile without touching what
  // that thread uses. True while some of it is left.
  virtual bool workWhileAhead() { return false; }
};

// An opened workbook file.
class WorkbookReader {
 public:
  virtual ~WorkbookReader() = default;
  // Worksheet names in workbook order (chart sheets and macro sheets left out).
  virtual std::vector<std::string> sheetNames() const = 0;
  virtual std::unique_ptr<RowReader> openSheet(int index) = 0;
};

// Factories. Each raises DatabaseError with a message naming the file and what is wrong.
std::unique_ptr<WorkbookReader> open_xlsx(const std::string& path);
std::unique_ptr<WorkbookReader> open_xls(const std::string& path);

}  // namespace qm::source
