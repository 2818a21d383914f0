#include "source/dbf/dbf_source.h"

#include <algorithm>
#include <filesystem>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "source/text/text_source.h"
#include "tables/dbf_table.h"

namespace qm::source {

namespace fs = std::filesystem;

EngineColumn dbf_column(const std::string& name, char type, int length, int /*decimals*/) {
  EngineColumn c;
  c.name = name;
  switch (type) {
    case 'C':
    case 'V':
      c.type = dbText;
      c.size = length;
      break;
    case 'N':
    case 'F':
    case 'O':
      c.type = dbDouble;
      c.size = 8;
      break;
    case 'I':
      c.type = dbLong;
      c.size = 4;
      break;
    case '+':
      c.type = dbLong;
      c.size = 4;
      c.attributes = dbAutoIncrField;
      break;
    case 'Y':
      c.type = dbCurrency;
      c.size = 8;
      break;
    case 'L':
      c.type = dbBoolean;
      c.size = 1;
      break;
    case 'D':
      c.type = dbDate;
      c.size = 8;
      c.format = "Short Date";
      break;
    case '@':
    case 'T':
      c.type = dbDate;
      c.size = 8;
      c.format = "General Date";
      break;
    case 'M':
      c.type = dbMemo;
      break;
    case 'B':
    case 'G':
    case 'P':
      c.type = dbLongBinary;
      break;
    default:
      c.type = 0;  // a kind the engine does not know
      break;
  }
  return c;
}

namespace {

class DbfRecordset : public Recordset {
 public:
  DbfRecordset(const std::string& folder, const std::string& name) {
    table_.setFolder(folder);
    table_.setTableName(name);
    table_.open();
    for (const auto& d : table_.fieldDefs()) {
      columns_.push_back(dbf_column(d.name, d.type, d.length, d.decimals));
      types_.push_back(d.type);
    }
    started_ = false;
  }

  const std::vector<EngineColumn>& columns() const override { return columns_; }

  bool fetch(std::vector<Cell>& row) override {
    if (!started_) {
      table_.first();
      started_ = true;
    } else {
      table_.next();
    }
    if (table_.eof()) return false;
    record_ = table_.recNo();
    row.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      Cell& cell = row[i];
      cell.clear();
      if (deferred(i)) continue;
      tables::DbfField& f = table_.field(static_cast<int>(i));
      if (f.isNull()) continue;
      switch (columns_[i].type) {
        case dbDouble:
        case dbLong:
        case dbCurrency:
          cell.kind = Cell::Kind::Number;
          cell.number = f.asFloat();
          break;
        case dbBoolean:
          cell.kind = Cell::Kind::Boolean;
          cell.boolean = f.asBoolean();
          break;
        case dbDate:
          cell.kind = Cell::Kind::DateTime;
          cell.number = serial_from_datetime(f.asDateTime());
          break;
        default:
          cell.text = f.asString();
          if (!cell.text.empty()) cell.kind = Cell::Kind::Text;
          break;
      }
    }
    return true;
  }

  // A memo or binary value lives in the memo file: it is read only for a column that is used.
  bool deferred(std::size_t column) const override {
    return column < columns_.size() &&
           (columns_[column].type == dbMemo || columns_[column].type == dbLongBinary);
  }

  void readDeferred(std::size_t column, Cell& cell) override {
    cell.clear();
    try {
      // At the end the last record stays current, though the table has moved past it.
      if (table_.eof() || table_.recNo() != record_) table_.goToRecNo(record_);
      tables::DbfField& f = table_.field(static_cast<int>(column));
      if (f.isNull()) return;
      cell.text = f.asString();
    } catch (const DatabaseError&) {
      throw;
    } catch (const Error& e) {
      throw DatabaseError(e.what());
    }
    if (!cell.text.empty()) cell.kind = Cell::Kind::Text;
  }

  void rewind() override { started_ = false; }
  std::int64_t recordCount() override { return table_.recordCount(); }
  std::int64_t knownRecordCount() override { return table_.recordCount(); }

 private:
  tables::DbfTable table_;
  std::vector<EngineColumn> columns_;
  std::vector<char> types_;
  bool started_ = false;
  std::int64_t record_ = 0;  // the record fetch read last
};

class DbfFolderDatabase : public EngineDatabase {
 public:
  explicit DbfFolderDatabase(std::string folder) : folder_(std::move(folder)) {}

  std::vector<std::string> tableNames() const override {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(to_fs_path(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
      std::error_code fec;
      if (!it->is_regular_file(fec)) continue;
      std::string name = from_fs_path(it->path().filename());
      if (iequals(extension_of(name), ".dbf")) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return to_upper_ascii(a) < to_upper_ascii(b);
    });
    return names;
  }

  std::unique_ptr<Recordset> openRecordset(const std::string& name) override {
    std::string file = name;
    if (file.size() >= 2 && file.front() == '[' && file.back() == ']')
      file = file.substr(1, file.size() - 2);
    if (extension_of(file).empty()) file += ".dbf";
    std::string path = resolve_path(join_path(folder_, file));
    std::error_code ec;
    if (file.find_first_of("/\\") != std::string::npos ||
        !fs::is_regular_file(to_fs_path(path), ec))
      throw DatabaseError(object_not_found_message(name));
    try {
      return std::make_unique<DbfRecordset>(folder_, file_name_of(path));
    } catch (const DatabaseError&) {
      throw;
    } catch (const Error& e) {
      // The table engine's own error names the file; the source engine passes it on.
      throw DatabaseError(e.what());
    }
  }

  std::string version() const override { return "dBase"; }

 private:
  std::string folder_;
};

}  // namespace

std::unique_ptr<EngineDatabase> open_dbf_folder(const std::string& folder,
                                                const ConnectString& /*connect*/) {
  std::string real = resolve_path(folder);
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(to_fs_path(real), ec))
    throw DatabaseError(not_a_valid_path_message(folder));
  return std::make_unique<DbfFolderDatabase>(real);
}

}  // namespace qm::source
