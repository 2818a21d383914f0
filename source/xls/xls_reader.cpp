// Excel 97-2003 and older workbooks (.xls, BIFF2 to BIFF8) through FreeXL. FreeXL parses the
// whole workbook when it opens it (its memory is bounded by the sheet dimensions, at most
// 65,536 rows by 256 columns in these formats) and converts texts to UTF-8 by the workbook's
// code page; this reader hands its cells out row by row.
#include <freexl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/error.h"
#include "core/paths.h"
#include "source/engine.h"
#include "source/reader.h"

namespace qm::source {

namespace {

std::string freexl_error_text(int rc) {
  switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
      return "the file cannot be opened";
    case FREEXL_INSUFFICIENT_MEMORY:
      return "there is not enough memory to read it";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
      return "it is not an Excel 97-2003 workbook (its container header is invalid)";
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
      return "the file ends early (it is truncated)";
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
      return "its container is damaged";
    case FREEXL_BIFF_INVALID_BOF:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
      return "it holds no workbook stream";
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
      return "its shared string table is damaged";
    case FREEXL_INVALID_CHARACTER:
    case FREEXL_UNSUPPORTED_CHARSET:
      return "its texts are in a code page that cannot be read";
    case FREEXL_ILLEGAL_RK_VALUE:
      return "a number cell is damaged";
    case FREEXL_CRAFTED_FILE:
      return "the file is severely damaged or crafted";
    default:
      return "it cannot be read (FreeXL error " + std::to_string(rc) + ")";
  }
}

struct Handle {
  const void* h = nullptr;
  int active = -1;
  std::string path;
  ~Handle() {
    if (h) freexl_close(h);
  }
  void select(int sheet) {
    if (active == sheet) return;
    int rc = freexl_select_active_worksheet(h, static_cast<unsigned short>(sheet));
    if (rc != FREEXL_OK)
      throw DatabaseError(path + ": sheet " + std::to_string(sheet + 1) + ": " +
                          freexl_error_text(rc));
    active = sheet;
  }
};

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS" as FreeXL writes date cells.
bool parse_freexl_date(const char* s, bool hasDate, bool hasTime, double& serial) {
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, se = 0;
  if (hasDate && hasTime) {
    if (std::sscanf(s, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se) != 6) return false;
  } else if (hasDate) {
    if (std::sscanf(s, "%d-%d-%d", &y, &mo, &d) != 3) return false;
  } else if (std::sscanf(s, "%d:%d:%d", &h, &mi, &se) != 3) {
    return false;
  }
  if (!valid_ymd(y, mo, d) || h < 0 || h > 23 || mi < 0 || mi > 59 || se < 0 || se > 59)
    return false;
  DateTime dt;
  dt.day = day_from_ymd(y, mo, d);
  dt.ms = ((h * 60 + mi) * 60 + se) * 1000;
  serial = serial_from_datetime(dt);
  return true;
}

class XlsRowReader : public RowReader {
 public:
  XlsRowReader(std::shared_ptr<Handle> handle, int sheet, std::string sheetName)
      : handle_(std::move(handle)), sheet_(sheet), sheetName_(std::move(sheetName)) {
    handle_->select(sheet_);
    unsigned short cols = 0;
    if (freexl_worksheet_dimensions(handle_->h, &rows_, &cols) != FREEXL_OK) rows_ = 0, cols = 0;
    cols_ = cols;
    // The used range begins at the first row holding a value.
    FreeXL_CellValue v;
    for (first_ = 0; first_ < rows_; ++first_) {
      bool any = false;
      for (unsigned c = 0; c < cols_ && !any; ++c)
        any = freexl_get_cell_value(handle_->h, first_, static_cast<unsigned short>(c), &v) ==
                  FREEXL_OK &&
              v.type != FREEXL_CELL_NULL;
      if (any) break;
    }
    next_ = first_;
  }

  bool nextRow(std::vector<Cell>& cells) override {
    if (next_ >= rows_) return false;
    handle_->select(sheet_);
    cells.resize(cols_);
    std::size_t used = 0;
    for (unsigned c = 0; c < cols_; ++c) {
      Cell& cell = cells[c];
      cell.clear();
      FreeXL_CellValue v;
      if (freexl_get_cell_value(handle_->h, next_, static_cast<unsigned short>(c), &v) != FREEXL_OK)
        throw DatabaseError(handle_->path + " (" + sheetName_ + "): row " +
                            std::to_string(next_ + 1) + ", column " + std::to_string(c + 1) +
                            ": the cell cannot be read.");
      switch (v.type) {
        case FREEXL_CELL_INT:
          cell.kind = Cell::Kind::Number;
          cell.number = v.value.int_value;
          break;
        case FREEXL_CELL_DOUBLE:
          cell.kind = Cell::Kind::Number;
          cell.number = v.value.double_value;
          break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
          if (v.value.text_value && *v.value.text_value) {
            cell.kind = Cell::Kind::Text;
            cell.text = v.value.text_value;
          }
          break;
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME: {
          double serial = 0;
          const char* s = v.value.text_value ? v.value.text_value : "";
          if (parse_freexl_date(s, v.type != FREEXL_CELL_TIME, v.type != FREEXL_CELL_DATE,
                                serial)) {
            cell.kind = Cell::Kind::DateTime;
            cell.number = serial;
          } else if (*s) {
            cell.kind = Cell::Kind::Text;
            cell.text = s;
          }
          break;
        }
        default:
          break;
      }
      if (cell.kind != Cell::Kind::Empty) used = c + 1;
    }
    cells.resize(used);
    ++next_;
    return true;
  }

  void rewind() override { next_ = first_; }
  std::int64_t declaredRowCount() const override { return rows_ - first_; }
  int declaredColumnCount() const override { return static_cast<int>(cols_); }

 private:
  std::shared_ptr<Handle> handle_;
  int sheet_;
  std::string sheetName_;
  unsigned rows_ = 0, cols_ = 0, first_ = 0, next_ = 0;
};

class XlsWorkbook : public WorkbookReader {
 public:
  explicit XlsWorkbook(std::shared_ptr<Handle> handle) : handle_(std::move(handle)) {
    unsigned int count = 0;
    if (freexl_get_info(handle_->h, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) count = 0;
    for (unsigned i = 0; i < count && i < 65535; ++i) {
      const char* name = nullptr;
      if (freexl_get_worksheet_name(handle_->h, static_cast<unsigned short>(i), &name) == FREEXL_OK)
        names_.push_back(name ? name : "");
    }
  }
  std::vector<std::string> sheetNames() const override { return names_; }
  std::unique_ptr<RowReader> openSheet(int index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= names_.size())
      throw DatabaseError(handle_->path + ": the workbook has no sheet " +
                          std::to_string(index + 1) + ".");
    return std::make_unique<XlsRowReader>(handle_, index, names_[static_cast<std::size_t>(index)]);
  }

 private:
  std::shared_ptr<Handle> handle_;
  std::vector<std::string> names_;
};

}  // namespace

std::unique_ptr<WorkbookReader> open_xls(const std::string& path) {
  auto handle = std::make_shared<Handle>();
  handle->path = path;
  int rc = freexl_open(path.c_str(), &handle->h);
  if (rc != FREEXL_OK) {
    if (handle->h) freexl_close(handle->h);
    handle->h = nullptr;
    throw DatabaseError("External table is not in the expected format. (" + path + ": " +
                        freexl_error_text(rc) + ")");
  }
  unsigned int password = 0;
  if (freexl_get_info(handle->h, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
      password != FREEXL_BIFF_PLAIN && password != 0)
    throw DatabaseError("Could not decrypt file. (" + path + " is protected by a password)");
  return std::make_unique<XlsWorkbook>(std::move(handle));
}

}  // namespace qm::source
