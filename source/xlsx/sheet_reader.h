// One worksheet read row by row: the parser is suspended at the end of every row with a value,
// so memory stays that of one row whatever the sheet's size. Rows without any value only mark
// positions: between value rows they come back as empty rows, after the last one they are
// dropped, before the first they are left out unless the sheet's dimension starts earlier.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/reader.h"
#include "source/xlsx/cell_ref.h"
#include "source/xlsx/number_formats.h"
#include "source/xlsx/shared_strings.h"
#include "source/xlsx/xml_reader.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {

struct SheetSource {
  std::shared_ptr<ZipArchive> archive;
  std::shared_ptr<SharedStrings> strings;
  std::shared_ptr<const DateStyles> styles;
  bool date1904 = false;
  std::uint64_t part = 0;  // index in the package
  std::string where;       // sheet "Name"
};

// The handler first among the bases: the scanner calls it for every tag and text, and at the
// object's own address those calls need no thunk to move `this` on to it.
class SheetReader final : private XmlHandler, public RowReader {
 public:
  explicit SheetReader(SheetSource source);
  ~SheetReader() override;
  // Whether the sheet may be read on another thread than the rest of the workbook: its part
  // has a package handle of its own and the shared strings are read in full (which this does).
  bool prepareForThread() override;
  // Reads the shared strings on a step at a time, while the other thread scans the sheet.
  bool workWhileAhead() override;
  bool nextRow(std::vector<Cell>& cells) override;
  void rewind() override;
  std::int64_t declaredRowCount() const override;
  int declaredColumnCount() const override;
  void limitColumns(std::uint32_t columns) override { columnLimit_ = columns; }

 private:
  void start(const char* name, const char** atts) override;
  void end(const char* name) override;
  void text(const char* data, int len) override;
  std::size_t elements(const char* at, const char* end) override;
  std::string context() const override;

  void begin();
  // Parses until a value row is pending or the sheet ends.
  void fill();
  void start_row(const char** atts);
  void start_cell(const char** atts);
  // A cell's start from its attributes r, t and s, each null when the tag has none.
  void begin_cell(const char* ref, const char* type, const char* style);
  void end_cell();
  Cell& place(std::uint32_t column);
  [[gnu::noinline]] void widen(std::uint32_t column);  // a row wider than any before, or gaps
  [[noreturn]] void cell_error(const std::string& what) const;
  [[noreturn, gnu::cold, gnu::noinline]] void too_long() const;
  [[gnu::noinline]] void grow_value(std::size_t n);

  SheetSource src_;
  const Limits& limits_;
  std::unique_ptr<PartStream> in_;
  std::unique_ptr<XmlReader> xml_;
  std::string failure_;  // a raised error, raised again by every later call

  // The dimension, when it is there and inside the sheet's limits.
  bool haveDimension_ = false;
  Range dimension_;

  // Parse state.
  bool inData_ = false, dataDone_ = false, ended_ = false, inRow_ = false;
  std::uint32_t rowNumber_ = 0;  // of the row being parsed (1-based); 0 before the first
  std::uint32_t nextColumn_ = 0;
  bool rowHasValue_ = false;
  std::vector<Cell> row_;  // traded with the caller's cells for each row handed out
  std::uint32_t width_ = 0;
  std::uint32_t columnLimit_ = kMaxColumns;  // cells from here on are dropped unread
  // The cell being parsed.
  std::uint32_t column_ = 0;
  char type_ = 'n';  // n, s (shared), S (str), i (inlineStr), b, e, d
  std::uint32_t style_ = 0;
  bool inCell_ = false, inValue_ = false, inInline_ = false, inInlineText_ = false;
  bool haveValue_ = false, haveInline_ = false;
  int phonetic_ = 0;
  std::string valueBytes_;  // a v's text in its first valueLength_ bytes
  std::size_t valueLength_ = 0;
  std::string inline_;

  // Delivery.
  bool pending_ = false;  // row_ holds a finished value row not yet handed out
  std::uint32_t pendingNumber_ = 0;
  std::uint32_t startRow_ = 0;       // file row of row 0; 0 until the first value row
  std::uint32_t nextDelivered_ = 0;  // file row handed out next
};

}  // namespace qm::source::xlsx
