// unit DaoDatabase: the connection to a supplier's source file. It chooses an engine version,
// knows the database types that version offers, opens the source with a connect string and
// lists its tables. The engine behind it is source/engine.h; nothing here edits a source.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "source/engine.h"

namespace qm::source {

class TDaoTable;

class TDaoDatabase {
 public:
  using Event = std::function<void(TDaoDatabase&)>;
  // Receives "USER NAME=...", "PASSWORD=..." and "DBPASSWORD=..." and may change them.
  using LoginEvent = std::function<void(TDaoDatabase&, std::vector<std::string>&)>;

  // Raises DatabaseError "Cannot find DAO on your system!" when no engine is installed.
  TDaoDatabase();
  ~TDaoDatabase();
  TDaoDatabase(const TDaoDatabase&) = delete;
  TDaoDatabase& operator=(const TDaoDatabase&) = delete;

  // Stored properties: between beginLoad() and loaded() the setters of Version, SystemDatabase
  // and Workspace only store; loaded() then re-creates the engine for the stored Version
  // (errors swallowed: the component is left without an engine).
  void beginLoad() { loading_ = true; }
  void loaded();

  std::string name = "SourceDB";

  // Published properties, in declared order.
  std::string componentVersion() const { return "7.20"; }
  void setComponentVersion(const std::string&) {}
  bool exclusive() const { return exclusive_; }
  void setExclusive(bool v);
  const std::string& databaseLanguage() const { return databaseLanguage_; }
  const std::string& databaseType() const { return databaseType_; }
  void setDatabaseType(const std::string& v);  // also empties Database
  const std::string& database() const { return database_; }
  void setDatabase(const std::string& v);
  const std::string& databaseParameters() const { return databaseParameters_; }
  void setDatabaseParameters(const std::string& v);
  const std::string& databaseVersionInfo() const { return databaseVersionInfo_; }
  bool readOnly() const { return readOnly_; }
  void setReadOnly(bool v);
  bool loginPrompt() const { return loginPrompt_; }
  void setLoginPrompt(bool v);
  const std::string& userName() const { return userName_; }
  void setUserName(const std::string& v);
  bool useODBCDialog() const { return useODBCDialog_; }
  void setUseODBCDialog(bool v) { useODBCDialog_ = v; }
  const std::string& password() const { return password_; }
  void setPassword(const std::string& v);
  const std::string& databasePassword() const { return databasePassword_; }
  void setDatabasePassword(const std::string& v);
  const std::string& systemDatabase() const { return systemDatabase_; }
  void setSystemDatabase(const std::string& v);
  bool saveUserName() const { return saveUserName_; }
  void setSaveUserName(bool v) { saveUserName_ = v; }
  bool showSystemObjects() const { return showSystemObjects_; }
  void setShowSystemObjects(bool v) { showSystemObjects_ = v; }
  bool smartOpen() const { return smartOpen_; }
  void setSmartOpen(bool v) { smartOpen_ = v; }
  int engineType() const { return engineType_; }
  void setEngineType(int v);
  bool privateEngine() const { return privateEngine_; }
  void setPrivateEngine(bool v);
  bool trackTransactions() const { return trackTransactions_; }
  void setTrackTransactions(bool v);
  bool usesDynaDao() const { return usesDynaDao_; }
  void setUsesDynaDao(bool v) { usesDynaDao_ = v; }
  const std::string& version() const { return version_; }
  void setVersion(const std::string& v);
  const std::string& versionDetails() const { return versionDetails_; }
  void setVersionDetails(const std::string&) {}
  const std::string& versionInfo() const { return versionInfo_; }
  const std::string& workspace() const { return workspace_; }
  void setWorkspace(const std::string& v);
  int defaultCursorDriver() const { return defaultCursorDriver_; }
  void setDefaultCursorDriver(int v) { defaultCursorDriver_ = v; }
  int queryTimeout() const { return queryTimeout_; }
  void setQueryTimeout(int v) { queryTimeout_ = v; }
  bool mdbVersionAutoDetect() const { return mdbVersionAutoDetect_; }
  void setMdbVersionAutoDetect(bool v) { mdbVersionAutoDetect_ = v; }
  LoginEvent OnLogin;
  Event OnBeforeConnect, OnAfterConnect, OnBeforeDisconnect, OnAfterDisconnect;
  bool connected() const { return connected_; }
  void setConnected(bool v);

  const std::vector<std::string>& installedVersionList() const { return installedVersions_; }
  const std::vector<std::string>& databaseTypeList() const { return databaseTypes_; }
  const std::vector<std::string>& tableNameList() const { return tableNames_; }
  const std::vector<std::string>& queryNameList() const { return queryNames_; }
  std::vector<std::string> attachedTableList() const;
  bool hasEngine() const { return engine_ != nullptr; }

  // The connect string a connect gives the engine for the current properties.
  std::string connectString() const;

  // For the table component.
  EngineDatabase& engineDatabase();
  void refreshCatalogue();
  void attach(TDaoTable* table);
  void detach(TDaoTable* table);
  void link(TDaoTable* table);
  void unlink(TDaoTable* table);

 private:
  struct Engine {
    std::string version;
  };
  struct Workspace {
    std::string name;
  };

  void guard(bool refuse, const char* message) const;
  std::unique_ptr<Engine> createEngine(const std::string& version);
  void recreateEngine();
  // After a change of a setting the engine is made from: the engine made anew, or, when that
  // fails, the setting back at its old value (with an engine made from it when one can be)
  // before the error goes on.
  void recreateEngineOrRestore(std::string& setting, const std::string& old);
  void readIsamFormats();
  static std::string readSystemDatabase(const std::string& version);
  void connect();
  void disconnect();

  bool loading_ = false;
  bool exclusive_ = false;
  std::string databaseLanguage_;
  std::string databaseType_ = "Access";
  std::string database_;
  std::string databaseParameters_;
  std::string databaseVersionInfo_;
  bool readOnly_ = false;
  bool loginPrompt_ = false;
  std::string userName_ = "Admin";
  bool useODBCDialog_ = true;
  std::string password_;
  std::string databasePassword_;
  std::string systemDatabase_;
  bool saveUserName_ = true;
  bool showSystemObjects_ = false;
  bool smartOpen_ = true;
  int engineType_ = 2;
  bool privateEngine_ = false;
  bool trackTransactions_ = true;
  bool usesDynaDao_ = true;
  std::string version_;
  std::string versionDetails_;
  std::string versionInfo_;
  std::string workspace_ = "DaoWorkspace";
  int defaultCursorDriver_ = -1;
  int queryTimeout_ = 60;
  bool mdbVersionAutoDetect_ = false;
  bool connected_ = false;

  std::vector<std::string> installedVersions_;
  std::vector<std::string> databaseTypes_;
  std::vector<std::string> tableNames_;
  std::vector<std::string> queryNames_;
  std::vector<TDaoTable*> attached_;
  std::vector<TDaoTable*> linked_;  // every table whose Database is this one

  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Workspace> workspaceObject_;
  std::unique_ptr<EngineDatabase> db_;
};

}  // namespace qm::source
