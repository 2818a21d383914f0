// The two source components of the wizard window as its page-1 handlers and its start-up use
// them: the database component that connects to a workbook, dBase folder or text folder, and
// the table component that reads one of its tables. Implemented over the source engine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/dataset.h"

namespace qm::app {

class SourceDatabase {
 public:
  virtual ~SourceDatabase() = default;
  virtual bool connected() const = 0;
  // Disconnecting closes every table open on the database.
  virtual void setConnected(bool on) = 0;
  virtual void setDatabaseType(const std::string& type) = 0;  // also empties Database
  virtual void setDatabase(const std::string& database) = 0;
  virtual std::string database() const = 0;
  virtual void setDatabaseParameters(const std::string& parameters) = 0;
  virtual std::string databaseParameters() const = 0;
  virtual void setVersion(const std::string& version) = 0;
  virtual std::string version() const = 0;
  // The engine version actually in use, "3.5", "3.6" or "12.0".
  virtual std::string versionInUse() const = 0;
  virtual std::vector<std::string> databaseTypeList() const = 0;
  virtual std::vector<std::string> tableNameList() const = 0;
};

class SourceTableLink : public Dataset {
 public:
  virtual void setTableName(const std::string& name) = 0;
  virtual std::string tableName() const = 0;
  // The record count when known without reading the rows (for progress), else -1.
  virtual std::int64_t knownRecordCount() { return -1; }
  // What the reader changed in the values it handed out (such as NUL bytes left out).
  virtual std::vector<std::string> readNotes() const { return {}; }
};

struct SourceComponents {
  std::unique_ptr<SourceDatabase> db;
  std::unique_ptr<SourceTableLink> table;
};

// SourceDB and SourceTable with the property values the wizard window starts with.
SourceComponents make_source_components();
// Creates and releases a throw-away database component; raises what its creation raises
// ("Cannot find DAO on your system!" when no engine is there).
void probe_source_engine();

}  // namespace qm::app
