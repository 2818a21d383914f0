// A source engine for tests: sources are described in memory, every call is logged, and the
// component rules the page-1 handlers depend on (no property change while connected, tables
// open only on a connected database, disconnecting closes them) are enforced.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/logic/source_link.h"
#include "core/error.h"
#include "core/text.h"

namespace qm::test {

struct FakeSourceFile {
  std::vector<std::string> tables;                          // TableNameList after connecting
  std::map<std::string, std::vector<std::string>> columns;  // per table
  std::map<std::string, std::vector<std::vector<std::string>>> rows;
};

class FakeField : public Field {
 public:
  FakeField(std::string n, const std::string* value) : name_(std::move(n)), value_(value) {}
  const std::string& name() const override { return name_; }
  int displayWidth() const override { return width_; }
  void setDisplayWidth(int w) override { width_ = w; }
  bool isNull() const override { return value_->empty(); }
  std::string asString() const override { return *value_; }
  void setAsString(std::string_view) override { throw DatabaseError("read only"); }

 private:
  std::string name_;
  const std::string* value_;
  int width_ = 10;
};

class FakeDatabase;

class FakeTable : public app::SourceTableLink {
 public:
  explicit FakeTable(FakeDatabase& db) : db_(db) {}
  void setTableName(const std::string& n) override;
  std::string tableName() const override { return name_; }
  void open() override;
  void close() override {
    active_ = false;
    fields_.clear();
  }
  bool active() const override { return active_; }
  void first() override {
    pos_ = 0;
    ++moves;
  }
  void next() override {
    ++pos_;
    ++moves;
  }
  bool eof() const override { return !active_ || pos_ >= rows().size(); }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(rows().size()); }
  // What the reader would know of the sheet's size before walking it; -1 for nothing.
  std::int64_t knownRecordCount() override { return known; }
  std::int64_t known = -1;
  int fieldCount() const override { return static_cast<int>(fields_.size()); }
  Field& field(int i) override {
    if (i < 0 || i >= fieldCount()) throw ListIndexError(i);
    current_ = pos_ < rows().size() && static_cast<std::size_t>(i) < rows()[pos_].size()
                   ? rows()[pos_][static_cast<std::size_t>(i)]
                   : std::string();
    return fields_[static_cast<std::size_t>(i)];
  }
  Field* findField(std::string_view n) override {
    for (auto& f : fields_)
      if (iequals(f.name(), n)) return &f;
    return nullptr;
  }
  long moves = 0;

 private:
  const std::vector<std::vector<std::string>>& rows() const;
  FakeDatabase& db_;
  std::string name_ = "Master$";
  bool active_ = false;
  std::size_t pos_ = 0;
  std::vector<FakeField> fields_;
  std::string current_;
  static inline const std::vector<std::vector<std::string>> kNone{};
};

class FakeDatabase : public app::SourceDatabase {
 public:
  std::map<std::string, FakeSourceFile> files;  // by Database text
  std::vector<std::string> types{"Access", "ODBC", "Excel 8.0", "Excel 5.0", "dBase 5.0", "TEXT"};
  std::string inUse = "12.0";
  std::vector<std::string> log;
  FakeTable* table = nullptr;

  bool connected() const override { return connected_; }
  void setConnected(bool on) override {
    if (on == connected_) return;
    log.push_back(on ? "connect" : "disconnect");
    if (!on) {
      if (table) table->close();
      connected_ = false;
      return;
    }
    if (database_.empty())
      throw DatabaseError("TDaoDatabase.F_Set_Active: Database property is not defined!");
    if (!files.count(database_)) throw DatabaseError("'" + database_ + "' is not a valid path.");
    connected_ = true;
  }
  void setDatabaseType(const std::string& t) override {
    guard("TDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!");
    log.push_back("type " + t);
    type_ = t;
    database_.clear();
  }
  void setDatabase(const std::string& d) override {
    guard("TDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!");
    log.push_back("database " + d);
    database_ = d;
  }
  std::string database() const override { return database_; }
  std::string databaseType() const { return type_; }
  void setDatabaseParameters(const std::string& p) override {
    guard(
        "TDaoDatabase.F_Set_DatabaseParameters: Cannot set DatabaseParameters while Database is "
        "connected!");
    params_ = p;
  }
  std::string databaseParameters() const override { return params_; }
  void setVersion(const std::string& v) override {
    guard("TDaoDatabase.F_Set_DaoVersion: Cannot set Dao Version while Database is connected!");
    log.push_back("version " + v);
    version_ = v;
  }
  std::string version() const override { return version_; }
  std::string versionInUse() const override { return inUse; }
  std::vector<std::string> databaseTypeList() const override { return types; }
  std::vector<std::string> tableNameList() const override {
    return connected_ ? files.at(database_).tables : std::vector<std::string>{};
  }
  const FakeSourceFile* current() const { return connected_ ? &files.at(database_) : nullptr; }

 private:
  void guard(const char* message) const {
    if (connected_) throw DatabaseError(message);
  }
  bool connected_ = false;
  std::string type_ = "Excel 8.0", database_;
  std::string params_ = "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;";
  std::string version_ = "12.0";
};

inline void FakeTable::setTableName(const std::string& n) {
  if (active_)
    throw DatabaseError("TDaoTable.F_Set_TableName: Cannot set TableName while Table is active!");
  name_ = n;
}

inline void FakeTable::open() {
  if (active_) return;
  if (!db_.connected())
    throw DatabaseError("TDaoTable.OpenDaoRecordset: Database is NOT connected");
  const FakeSourceFile* f = db_.current();
  auto it = f->columns.find(name_);
  if (it == f->columns.end())
    throw DatabaseError("The Microsoft Jet database engine could not find the object '" + name_ +
                        "'.");
  for (const auto& c : it->second) fields_.emplace_back(c, &current_);
  active_ = true;
  pos_ = 0;
}

inline const std::vector<std::vector<std::string>>& FakeTable::rows() const {
  const FakeSourceFile* f = db_.current();
  if (!f) return kNone;
  auto it = f->rows.find(name_);
  return it == f->rows.end() ? kNone : it->second;
}

struct FakeSource {
  FakeDatabase* db;
  FakeTable* table;
  app::SourceComponents components;
  FakeSource() {
    auto d = std::make_unique<FakeDatabase>();
    auto t = std::make_unique<FakeTable>(*d);
    d->table = t.get();
    db = d.get();
    table = t.get();
    components = {std::move(d), std::move(t)};
  }
};

}  // namespace qm::test
