// The wizard's source components over the source engine's database and table components.
#include "app/logic/source_link.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/dao_table.h"

namespace qm::app {

namespace {

using source::TDaoDatabase;
using source::TDaoTable;

class DaoDatabaseLink : public SourceDatabase {
 public:
  DaoDatabaseLink() {
    // The values the window's stored properties give SourceDB.
    db.beginLoad();
    db.name = "SourceDB";
    db.setDatabaseType("Excel 8.0");
    db.setDatabaseParameters("HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
    db.setVersion("12.0");
    db.setUserName("Admin");
    db.setPassword("");
    db.setSystemDatabase("system.mdb");
    db.setWorkspace("#Default Workspace#");
    db.setEngineType(2);
    db.setPrivateEngine(false);
    db.setExclusive(false);
    db.setReadOnly(false);
    db.setLoginPrompt(false);
    db.setQueryTimeout(0);
    db.setMdbVersionAutoDetect(false);
    db.setSmartOpen(true);
    db.setShowSystemObjects(false);
    db.loaded();
  }
  bool connected() const override { return db.connected(); }
  void setConnected(bool on) override { db.setConnected(on); }
  void setDatabaseType(const std::string& t) override { db.setDatabaseType(t); }
  void setDatabase(const std::string& d) override { db.setDatabase(d); }
  std::string database() const override { return db.database(); }
  void setDatabaseParameters(const std::string& p) override { db.setDatabaseParameters(p); }
  std::string databaseParameters() const override { return db.databaseParameters(); }
  void setVersion(const std::string& v) override { db.setVersion(v); }
  std::string version() const override { return db.version(); }
  // The stored Version stays "12.0" even where only an older engine could be created; the
  // engine's own version text tells which one is working.
  std::string versionInUse() const override {
    const std::string& d = db.versionDetails();
    for (const char* v : {"3.5", "3.6", "12.0"})
      if (starts_with(d, v)) return v;
    return db.version();
  }
  std::vector<std::string> databaseTypeList() const override { return db.databaseTypeList(); }
  std::vector<std::string> tableNameList() const override { return db.tableNameList(); }

  TDaoDatabase db;
};

class DaoTableLink : public SourceTableLink {
 public:
  explicit DaoTableLink(TDaoDatabase& db) {
    t.setName("SourceTable");
    t.setDatabase(&db);
    t.setTableName("Master$");
    t.setTableType(2);
    t.setLockType(3);
    t.setOpenOptions(16);  // dbInconsistent
    t.setReadOnly(false);
    t.setDatabaseAutoActivate(false);
  }
  void setTableName(const std::string& n) override { t.setTableName(n); }
  std::string tableName() const override { return t.tableName(); }
  void open() override { t.open(); }
  void close() override { t.close(); }
  bool active() const override { return t.active(); }
  void first() override { t.first(); }
  void next() override { t.next(); }
  bool eof() const override { return t.eof(); }
  std::int64_t recordCount() override { return t.recordCount(); }
  std::int64_t knownRecordCount() override { return t.knownRecordCount(); }
  std::vector<std::string> readNotes() const override { return t.readNotes(); }
  int fieldCount() const override { return t.fieldCount(); }
  Field& field(int index) override { return t.field(index); }
  Field* findField(std::string_view name) override { return t.findField(name); }

  TDaoTable t;
};

}  // namespace

SourceComponents make_source_components() {
  auto db = std::make_unique<DaoDatabaseLink>();
  auto table = std::make_unique<DaoTableLink>(db->db);
  return {std::move(db), std::move(table)};
}

void probe_source_engine() {
  TDaoDatabase probe;
}

}  // namespace qm::app
