#include "app/logic/build_link.h"

#include "core/error.h"

namespace qm::app {

SourceBuildLink::SourceBuildLink(SourceDatabase& db, SourceTableLink& table)
    : db_(db), table_(table), source_{table, this, {}, {}} {
  source_.disconnect = [this] { db_.setConnected(false); };
  source_.knownRowCount = [this] { return table_.knownRecordCount(); };
  source_.readerNotes = [this] { return table_.readNotes(); };
}

std::string SourceBuildLink::tableName(std::int64_t position) {
  std::vector<std::string> names = db_.tableNameList();
  if (position < 0 || position >= static_cast<std::int64_t>(names.size()))
    throw ListIndexError(position);
  return names[static_cast<std::size_t>(position)];
}

void SourceBuildLink::setTableName(const std::string& name) {
  table_.setTableName(name);
}

}  // namespace qm::app
