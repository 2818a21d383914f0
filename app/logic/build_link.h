// The wizard's source components as the build walks them: SourceTable, the table list of
// SourceDB for further sheets, and the disconnect after the walk.
#pragma once

#include <cstdint>
#include <string>

#include "app/logic/source_link.h"
#include "pricefile/build_file.h"

namespace qm::app {

class SourceBuildLink : public pricefile::SourceTables {
 public:
  SourceBuildLink(SourceDatabase& db, SourceTableLink& table);
  SourceBuildLink(const SourceBuildLink&) = delete;
  SourceBuildLink& operator=(const SourceBuildLink&) = delete;

  // Entry of TableNameList; ListIndexError beyond its end.
  std::string tableName(std::int64_t position) override;
  void setTableName(const std::string& name) override;

  pricefile::BuildSource& source() { return source_; }

 private:
  SourceDatabase& db_;
  SourceTableLink& table_;
  pricefile::BuildSource source_;
};

}  // namespace qm::app
