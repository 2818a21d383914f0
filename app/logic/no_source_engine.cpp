// Stands in for the source engine until it is part of the build: the engine counts as
// present, its version in use is "12.0", and connecting raises, naming what is missing.
#include <string>

#include "app/logic/source_link.h"
#include "core/error.h"

namespace qm::app {

namespace {

class AbsentDatabase : public SourceDatabase {
 public:
  bool connected() const override { return false; }
  void setConnected(bool on) override {
    if (on) throw DatabaseError("This build has no source engine to open " + database_);
  }
  void setDatabaseType(const std::string& t) override {
    type_ = t;
    database_.clear();
  }
  void setDatabase(const std::string& d) override { database_ = d; }
  std::string database() const override { return database_; }
  void setDatabaseParameters(const std::string& p) override { params_ = p; }
  std::string databaseParameters() const override { return params_; }
  void setVersion(const std::string& v) override { version_ = v; }
  std::string version() const override { return version_; }
  std::string versionInUse() const override { return "12.0"; }
  std::vector<std::string> databaseTypeList() const override { return {"Access", "ODBC"}; }
  std::vector<std::string> tableNameList() const override { return {}; }

 private:
  std::string type_ = "Excel 8.0", database_;
  std::string params_ = "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;";
  std::string version_ = "12.0";
};

class AbsentTable : public SourceTableLink {
 public:
  void setTableName(const std::string& n) override { name_ = n; }
  std::string tableName() const override { return name_; }
  void open() override {
    throw DatabaseError("TDaoTable.OpenDaoRecordset: Database is NOT connected");
  }
  void close() override {}
  bool active() const override { return false; }
  void first() override {}
  void next() override {}
  bool eof() const override { return true; }
  std::int64_t recordCount() override { return 0; }
  int fieldCount() const override { return 0; }
  Field& field(int index) override { throw ListIndexError(index); }
  Field* findField(std::string_view) override { return nullptr; }

 private:
  std::string name_ = "Master$";
};

}  // namespace

SourceComponents make_source_components() {
  return {std::make_unique<AbsentDatabase>(), std::make_unique<AbsentTable>()};
}

void probe_source_engine() {}

}  // namespace qm::app
