// The database engine that stands in DAO's place: an opened source ("database") lists its
// tables and opens a table as a recordset, a forward cursor over rows of cells with a
// description of each column in the engine's own type codes. The installable formats behind
// it are the readers in xlsx/, xls/, text/ and dbf/.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "source/reader.h"

namespace qm::source {

// The engine's field type codes.
enum EngineType : int {
  dbBoolean = 1,
  dbByte = 2,
  dbInteger = 3,
  dbLong = 4,
  dbCurrency = 5,
  dbSingle = 6,
  dbDouble = 7,
  dbDate = 8,
  dbBinary = 9,
  dbText = 10,
  dbLongBinary = 11,
  dbMemo = 12,
  dbGUID = 15,
  dbBigInt = 16,
  dbVarBinary = 17,
  dbChar = 18,
  dbNumeric = 19,
  dbDecimal = 20,
  dbFloat = 21,
  dbTime = 22,
  dbTimeStamp = 23,
};
// Field attribute flag of an auto-increment column.
constexpr int dbAutoIncrField = 16;

struct EngineColumn {
  std::string name;
  int type = dbText;
  int size = 0;
  int attributes = 0;
  std::string format;  // the column's "Format" property; empty when it has none
};

// A table opened for reading. Rows come one at a time, read from the file only when asked for.
class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual const std::vector<EngineColumn>& columns() const = 0;
  // The next row (one cell per column; missing trailing cells are empty). False after the last.
  virtual bool fetch(std::vector<Cell>& row) = 0;
  // Back to before the first row.
  virtual void rewind() = 0;
  // Number of rows; may walk the data once, after which it is known.
  virtual std::int64_t recordCount() = 0;
  // The number of rows when it is known without reading them (a count the file declares, or
  // one already counted), else -1. For progress shown while the rows are read.
  virtual std::int64_t knownRecordCount() { return -1; }
  // A column whose cells fetch leaves empty (a dBase memo, kept in a file of its own):
  // readDeferred fills the current row's cell on demand, so that a damaged memo in a column
  // nobody uses stops nothing.
  virtual bool deferred(std::size_t /*column*/) const { return false; }
  virtual void readDeferred(std::size_t /*column*/, Cell& /*cell*/) {}
  // What the reader changed in the data to read it, one sentence each (see RowReader::notes).
  virtual std::vector<std::string> notes() const { return {}; }
};

// An opened source: a workbook, or a folder of dBase tables or text files.
class EngineDatabase {
 public:
  virtual ~EngineDatabase() = default;
  // Table names in the engine's order.
  virtual std::vector<std::string> tableNames() const = 0;
  // Raises DatabaseError with the engine's description when the table is not in the source.
  virtual std::unique_ptr<Recordset> openRecordset(const std::string& name) = 0;
  // The opened database's version text.
  virtual std::string version() const = 0;
};

// The parts of a connect string: "Excel 8.0;HDR=NO;IMEX=1;" gives the type "Excel 8.0" and the
// parameters HDR, IMEX (keys upper-cased; a later key wins).
struct ConnectString {
  std::string type;
  std::map<std::string, std::string> params;

  static ConnectString parse(std::string_view text);
  // Value of a parameter, or fallback when absent.
  std::string param(std::string_view key, std::string_view fallback = {}) const;
  // "HDR=NO" means the first row is data; any other value or none means it names the columns.
  bool firstRowHeader() const;
};

// Opens what path names as a source of the given installable format (the connect string's
// type, matched without regard to case): an "Excel ..." type opens a workbook, "dBase ..." a
// folder of dBase tables, "Text" a folder of text files. Raises DatabaseError with an
// engine-like description when the format is not installable or the source cannot be opened.
std::unique_ptr<EngineDatabase> open_engine_database(const std::string& path,
                                                     const ConnectString& connect);

// An Excel serial day number (1900 date system, with its fictitious 1900-02-29) as a date.
DateTime datetime_from_serial(double serial);
double serial_from_datetime(const DateTime& dt);

// The engine's message for a table name the source lacks.
std::string object_not_found_message(const std::string& name);

}  // namespace qm::source
