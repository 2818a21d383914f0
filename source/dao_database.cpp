#include "source/dao_database.h"

#include <algorithm>

#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "source/dao_engine.h"
#include "source/dao_table.h"

namespace qm::source {

namespace {

const char* const kVersions[] = {"3.5", "3.6", "12.0"};

bool is_type(const std::string& type, const char* name) {
  return iequals(type, name);
}

bool installable(const std::string& type) {
  return !is_type(type, "Access") && !is_type(type, "ODBC");
}

std::string version_info_for(const std::string& details, const std::string& current) {
  if (starts_with(details, "3.5")) return "(In Access'97 mode)";
  if (starts_with(details, "3.6")) return "(In Access'2000 mode)";
  if (starts_with(details, "12.0")) return "(In Access'2007 mode)";
  return current;
}

}  // namespace

TDaoDatabase::TDaoDatabase() {
  // ProbeInstalledVersions: each engine class that exists and can be created, in order.
  for (const char* v : kVersions)
    if (engine_creatable(v)) installedVersions_.push_back(v);
  if (installedVersions_.empty()) throw DatabaseError("Cannot find DAO on your system!");
  version_ = installedVersions_.front();
  engine_ = createEngine(version_);
  systemDatabase_ = readSystemDatabase(version_);
  versionDetails_ = engine_version_text(engine_->version);
  versionInfo_ = version_info_for(versionDetails_, versionInfo_);
  readIsamFormats();
}

TDaoDatabase::~TDaoDatabase() {
  try {
    if (connected_) disconnect();
  } catch (...) {
  }
  for (TDaoTable* t : linked_) t->databaseDestroyed();
}

void TDaoDatabase::loaded() {
  loading_ = false;
  if (connected_) return;
  try {
    recreateEngine();
  } catch (const Error&) {
    engine_.reset();
    workspaceObject_.reset();
  }
}

void TDaoDatabase::guard(bool refuse, const char* message) const {
  if (refuse) throw DatabaseError(message);
}

// ---- guarded setters ----------------------------------------------------------------------

void TDaoDatabase::setExclusive(bool v) {
  guard(connected_,
        "TDaoDatabase.F_Set_Exclusive: Cannot change Exclusive mode while Database is connected!");
  exclusive_ = v;
}
void TDaoDatabase::setDatabaseType(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!");
  databaseType_ = v;
  database_.clear();
}
void TDaoDatabase::setDatabase(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!");
  database_ = v;
}
void TDaoDatabase::setDatabaseParameters(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_DatabaseParameters: Cannot set DatabaseParameters while Database is "
        "connected!");
  databaseParameters_ = v;
}
void TDaoDatabase::setReadOnly(bool v) {
  guard(connected_, "TDaoDatabase.F_Set_ReadOnly: Cannot change mode while Database is connected!");
  readOnly_ = v;
}
void TDaoDatabase::setLoginPrompt(bool v) {
  guard(connected_,
        "TDaoDatabase.F_Set_LoginPrompt: Cannot change LoginPrompt while Database is connected!");
  loginPrompt_ = v;
}
void TDaoDatabase::setUserName(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_UserName: Cannot change User Name while Database is connected!");
  userName_ = v;
}
void TDaoDatabase::setPassword(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_Password: Cannot change Password while Database is connected!");
  password_ = v;
}
void TDaoDatabase::setDatabasePassword(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_DatabasePassword: Cannot change Database Password while Database is "
        "connected!");
  databasePassword_ = v;
}
void TDaoDatabase::setEngineType(int v) {
  guard(connected_,
        "TDaoDatabase.F_Set_EngineType: Cannot set EngineType Type while Database is connected!");
  engineType_ = v;
}
void TDaoDatabase::setPrivateEngine(bool v) {
  guard(connected_,
        "TDaoDatabase.F_Set_EngineType: Cannot set PrivateEngine Type while Database is "
        "connected!");
  privateEngine_ = v;
}
void TDaoDatabase::setTrackTransactions(bool v) {
  guard(connected_, "Cannot set TrackTransactions property when Database is connected!");
  trackTransactions_ = v;
}

void TDaoDatabase::setSystemDatabase(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_SystemDatabase: Cannot set SystemDatabase while Database is "
        "connected!");
  std::string old = systemDatabase_;
  systemDatabase_ = v.empty() ? readSystemDatabase(version_) : v;
  if (loading_) return;
  recreateEngineOrRestore(systemDatabase_, old);
}

void TDaoDatabase::setWorkspace(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_Workspace: Cannot set Workspace while Database is connected!");
  std::string old = workspace_;
  workspace_ = v;
  if (loading_) return;
  recreateEngineOrRestore(workspace_, old);
}

void TDaoDatabase::setVersion(const std::string& v) {
  guard(connected_,
        "TDaoDatabase.F_Set_DaoVersion: Cannot set Dao Version while Database is connected!");
  std::string old = version_;
  std::string cut = v;
  auto point = cut.find('.');
  if (point != std::string::npos && point + 2 < cut.size()) cut.resize(point + 2);
  version_ = cut;
  readIsamFormats();
  if (loading_) return;
  recreateEngineOrRestore(version_, old);
  versionDetails_ = engine_version_text(engine_->version);
}

// ---- the engine -------------------------------------------------------------------------

std::unique_ptr<TDaoDatabase::Engine> TDaoDatabase::createEngine(const std::string& version) {
  // Upward fallback: an older version is served by a newer engine when it is missing.
  std::vector<std::string> tries;
  if (version == "3.5")
    tries = {"3.5", "3.6", "12.0"};
  else if (version == "3.6")
    tries = {"3.6", "12.0"};
  else if (version == "12.0")
    tries = {"12.0"};
  for (const auto& t : tries) {
    if (engine_creatable(t)) {
      version_ = t;
      auto e = std::make_unique<Engine>();
      e->version = t;
      return e;
    }
  }
  // A version text that names no engine at all gets the same answer as a missing one: every
  // later step needs an engine.
  throw DatabaseError("You does not have Microsoft DAO installed ot it is an OLD Version!");
}

void TDaoDatabase::recreateEngine() {
  workspaceObject_.reset();
  engine_.reset();
  engine_ = createEngine(version_);
  versionDetails_ = engine_version_text(engine_->version);
  versionInfo_ = version_info_for(versionDetails_, versionInfo_);
  workspaceObject_ = std::make_unique<Workspace>();
  workspaceObject_->name = workspace_;
  workspace_ = workspaceObject_->name;
  usesDynaDao_ = true;
}

void TDaoDatabase::recreateEngineOrRestore(std::string& setting, const std::string& old) {
  try {
    recreateEngine();
  } catch (const Error&) {
    setting = old;
    try {
      recreateEngine();
    } catch (const Error&) {
      // The first error is the one the caller is told.
    }
    throw;
  }
}

void TDaoDatabase::readIsamFormats() {
  std::vector<std::string> list = databaseTypes_;
  // The list read last time keeps its place when the version offers none.
  list.erase(std::remove_if(list.begin(), list.end(),
                            [](const std::string& s) { return s == "Access" || s == "ODBC"; }),
             list.end());
  if (auto formats = isam_formats(version_)) list = *formats;
  list.insert(list.begin(), {"Access", "ODBC"});
  databaseTypes_ = list;
}

std::string TDaoDatabase::readSystemDatabase(const std::string& /*version*/) {
  // No workgroup file stands beside this engine: source files are opened without a login.
  return {};
}

// ---- connecting -------------------------------------------------------------------------

std::string TDaoDatabase::connectString() const {
  const std::string& type = databaseType_;
  if (is_type(type, "Access"))
    return ";UID=" + userName_ + ";PWD=" + databasePassword_ + ";" + databaseParameters_;
  if (is_type(type, "ODBC")) {
    if (starts_with(to_lower_ascii(database_), "odbc;"))
      return database_ + ";" + databaseParameters_;
    return type + ";UID=" + userName_ + ";PWD=" + password_ + ";DSN=" + database_ + ";" +
           databaseParameters_;
  }
  if (!password_.empty() && !userName_.empty())
    return type + ";UID=" + userName_ + ";PWD=" + password_ + ";" + databaseParameters_;
  return type + ";" + databaseParameters_;
}

void TDaoDatabase::setConnected(bool v) {
  if (v == connected_) return;
  if (v)
    connect();
  else
    disconnect();
}

void TDaoDatabase::connect() {
  guard(database_.empty(), "TDaoDatabase.F_Set_Active: Database property is not defined!");
  guard(databaseType_.empty(), "TDaoDatabase.F_Set_Active: DatabaseType property is not defined!");
  if (OnBeforeConnect) OnBeforeConnect(*this);
  if (OnLogin) {
    std::vector<std::string> lines = {"USER NAME=" + userName_, "PASSWORD=" + password_,
                                      "DBPASSWORD=" + databasePassword_};
    OnLogin(*this, lines);
    for (const auto& l : lines) {
      auto eq = l.find('=');
      if (eq == std::string::npos) continue;
      std::string key = l.substr(0, eq), value = l.substr(eq + 1);
      if (key == "USER NAME") userName_ = value;
      if (key == "PASSWORD") password_ = value;
      if (key == "DBPASSWORD") databasePassword_ = value;
    }
  }
  recreateEngine();

  const std::string cs = connectString();
  if (is_type(databaseType_, "Access")) {
    guard(engineType_ != 2,
          "TDaoDatabase.F_Set_Active: ODBC direct workspaces\r\nare NOT supported for MS Access "
          "Databases!");
    throw DatabaseError("Could not open '" + database_ +
                        "': this program reads price lists from Excel workbooks, dBase tables "
                        "and text files, not from Access databases.");
  }
  if (is_type(databaseType_, "ODBC"))
    throw DatabaseError("ODBC--connection to '" + database_ +
                        "' failed: this program reads price lists from Excel workbooks, dBase "
                        "tables and text files, not from ODBC data sources.");
  guard(engineType_ != 2, "TDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported!");

  // The engine opens only the installable formats its version registered.
  auto formats = isam_formats(version_);
  const auto& known = formats ? *formats : databaseTypes_;
  bool offered = std::any_of(known.begin(), known.end(),
                             [&](const std::string& f) { return iequals(f, databaseType_); });
  if (!offered || !installable(databaseType_))
    throw DatabaseError("Could not find installable ISAM.");

  db_ = open_engine_database(database_, ConnectString::parse(cs));
  databaseVersionInfo_ = db_->version();
  refreshCatalogue();
  databaseLanguage_ = "General (English, French, German, Portuguese, Italian, and Modern Spanish)";
  connected_ = true;
  if (OnAfterConnect) OnAfterConnect(*this);
}

void TDaoDatabase::disconnect() {
  if (OnBeforeDisconnect) OnBeforeDisconnect(*this);
  tableNames_.clear();
  queryNames_.clear();
  std::vector<TDaoTable*> tables;
  tables.swap(attached_);
  for (TDaoTable* t : tables) {
    try {
      t->closeByDatabase();
    } catch (...) {
    }
  }
  db_.reset();
  connected_ = false;
  if (OnAfterDisconnect) OnAfterDisconnect(*this);
}

void TDaoDatabase::refreshCatalogue() {
  tableNames_.clear();
  queryNames_.clear();
  if (db_) tableNames_ = db_->tableNames();
}

EngineDatabase& TDaoDatabase::engineDatabase() {
  if (!db_) throw DatabaseError("TDaoTable.OpenDaoRecordset: Database is NOT connected");
  return *db_;
}

std::vector<std::string> TDaoDatabase::attachedTableList() const {
  std::vector<std::string> names;
  for (const TDaoTable* t : attached_) names.push_back(t->name());
  return names;
}

void TDaoDatabase::attach(TDaoTable* table) {
  if (std::find(attached_.begin(), attached_.end(), table) == attached_.end())
    attached_.push_back(table);
}
void TDaoDatabase::detach(TDaoTable* table) {
  attached_.erase(std::remove(attached_.begin(), attached_.end(), table), attached_.end());
}
void TDaoDatabase::link(TDaoTable* table) {
  if (std::find(linked_.begin(), linked_.end(), table) == linked_.end()) linked_.push_back(table);
}
void TDaoDatabase::unlink(TDaoTable* table) {
  linked_.erase(std::remove(linked_.begin(), linked_.end(), table), linked_.end());
}

}  // namespace qm::source
