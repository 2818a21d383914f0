#include "source/engine.h"
#include "source/rows_ahead.h"

#include <cmath>
#include <fstream>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "source/dbf/dbf_source.h"
#include "source/sheet_table.h"
#include "source/text/text_source.h"

namespace qm::source {

ConnectString ConnectString::parse(std::string_view text) {
  ConnectString c;
  bool first = true;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t j = text.find(';', i);
    if (j == std::string_view::npos) j = text.size();
    std::string part = trim(text.substr(i, j - i));
    auto eq = part.find('=');
    if (first && eq == std::string::npos) {
      c.type = part;
    } else if (eq != std::string::npos) {
      c.params[to_upper_ascii(trim(part.substr(0, eq)))] = trim(part.substr(eq + 1));
    }
    first = false;
    i = j + 1;
  }
  return c;
}

std::string ConnectString::param(std::string_view key, std::string_view fallback) const {
  auto it = params.find(to_upper_ascii(key));
  return it == params.end() ? std::string(fallback) : it->second;
}

bool ConnectString::firstRowHeader() const {
  return !iequals(param("HDR", "YES"), "NO");
}

DateTime datetime_from_serial(double serial) {
  if (!std::isfinite(serial) || serial < -693593.0 || serial > 2958465.99999)
    return DateTime{};  // outside the years 1 to 9999: no date
  double whole = std::floor(serial);
  std::int64_t ms = std::llround((serial - whole) * 86400000.0);
  std::int64_t days = static_cast<std::int64_t>(whole);
  if (ms >= 86400000) ++days, ms -= 86400000;
  // Serials below 61 count from 1899-12-31, since the 1900 system has a 29 February 1900.
  if (days > 0 && days < 61) ++days;
  DateTime dt;
  dt.day = kDay18991230 + days;
  dt.ms = static_cast<std::int32_t>(ms);
  return dt;
}

double serial_from_datetime(const DateTime& dt) {
  std::int64_t days = dt.day - kDay18991230;
  if (days > 1 && days < 61) --days;
  return static_cast<double>(days) + dt.ms / 86400000.0;
}

std::string object_not_found_message(const std::string& name) {
  return "The database engine could not find the object '" + name +
         "'. Make sure the object exists and that you spell its name and the path name "
         "correctly.";
}

namespace {

bool starts_with_ci(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

// A workbook's tables: its worksheets, each named with "$" after the sheet name.
class WorkbookDatabase : public EngineDatabase {
 public:
  WorkbookDatabase(std::unique_ptr<WorkbookReader> book, std::string path, SheetOptions options,
                   std::string version)
      : book_(std::move(book)),
        path_(std::move(path)),
        options_(std::move(options)),
        version_(std::move(version)),
        sheets_(book_->sheetNames()) {}

  std::vector<std::string> tableNames() const override {
    std::vector<std::string> names;
    for (const auto& s : sheets_) names.push_back(s + "$");
    return names;
  }

  std::unique_ptr<Recordset> openRecordset(const std::string& name) override {
    std::string want = name;
    // The engine also takes a table name in brackets or single quotes.
    if (want.size() >= 2 && ((want.front() == '[' && want.back() == ']') ||
                             (want.front() == '\'' && want.back() == '\'')))
      want = want.substr(1, want.size() - 2);
    if (want.size() >= 2 && want.front() == '\'' && want.back() == '$' &&
        want[want.size() - 2] == '\'')
      want = want.substr(1, want.size() - 3) + "$";
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
      if (iequals(sheets_[i] + "$", want)) {
        SheetOptions o = options_;
        o.fileName = path_ + " (" + sheets_[i] + ")";
        std::unique_ptr<RowReader> sheet = book_->openSheet(static_cast<int>(i));
        RowReader* raw = sheet.get();
        // A large sheet's rows are scanned on a second thread while the caller uses them.
        auto ahead = std::make_unique<RowsAhead>(std::move(sheet),
                                                 [raw] { return raw->prepareForThread(); });
        return std::make_unique<SheetRecordset>(std::move(ahead), o);
      }
    }
    throw DatabaseError(object_not_found_message(name));
  }

  std::string version() const override { return version_; }

 private:
  std::unique_ptr<WorkbookReader> book_;
  std::string path_;
  SheetOptions options_;
  std::string version_;
  std::vector<std::string> sheets_;
};

std::unique_ptr<EngineDatabase> open_workbook(const std::string& path,
                                              const ConnectString& connect) {
  std::string real = resolve_path(path);
  std::ifstream in(to_fs_path(real), std::ios::binary);
  if (!in || std::filesystem::is_directory(to_fs_path(real)))
    throw DatabaseError("Could not find file '" + path + "'.");
  unsigned char sig[8] = {};
  in.read(reinterpret_cast<char*>(sig), sizeof sig);
  std::streamsize got = in.gcount();
  in.close();
  bool zip = got >= 4 && sig[0] == 'P' && sig[1] == 'K' && sig[2] == 3 && sig[3] == 4;
  bool ole = got >= 8 && sig[0] == 0xD0 && sig[1] == 0xCF && sig[2] == 0x11 && sig[3] == 0xE0;
  // BIFF2 to BIFF4 files, and some BIFF5+ ones, are bare record streams beginning with a BOF
  // record (0x0009, 0x0209, 0x0409, 0x0809); the .xls reader names the ones it cannot read.
  bool bof = got >= 2 && sig[0] == 0x09 &&
             (sig[1] == 0x00 || sig[1] == 0x02 || sig[1] == 0x04 || sig[1] == 0x08);
  SheetOptions options = SheetOptions::from(connect);
  std::unique_ptr<WorkbookReader> book;
  std::string version;
  if (zip) {
    book = open_xlsx(real);
    version = "12.0";
  } else if (ole || bof) {
    book = open_xls(real);
    version = "8.0";
  } else {
    throw DatabaseError("External table is not in the expected format. (" + path + ": " +
                        (got == 0 ? "the file is empty" : "neither an .xlsx nor an .xls workbook") +
                        ")");
  }
  return std::make_unique<WorkbookDatabase>(std::move(book), path, options, version);
}

}  // namespace

std::unique_ptr<EngineDatabase> open_engine_database(const std::string& path,
                                                     const ConnectString& connect) {
  const std::string& type = connect.type;
  if (starts_with_ci(type, "Excel ")) return open_workbook(path, connect);
  if (starts_with_ci(type, "dBase ")) return open_dbf_folder(path, connect);
  if (iequals(type, "Text")) return open_text_folder(path, connect);
  throw DatabaseError("Could not find installable ISAM.");
}

}  // namespace qm::source
