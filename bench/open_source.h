// A source file opened as the wizard opens it, for the benchmarks that time the road from a
// file rather than from rows in memory.
#pragma once

#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/dao_table.h"

namespace qm::bench {

// A text file or a dBase table is a table of its folder; a workbook is a database of its own,
// of which the first sheet is read.
inline void open_source_file(source::TDaoDatabase& db, source::TDaoTable& t,
                             const std::string& path) {
  std::string ext = to_upper_ascii(extension_of(path)), table;
  db.setDatabaseParameters("IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  if (ext == ".CSV" || ext == ".TXT" || ext == ".DBF") {
    db.setDatabaseType(ext == ".DBF" ? "dBase 5.0" : "TEXT");
    db.setDatabase(folder_of(path).empty() ? "." : folder_of(path));
    table = file_name_of(path);
  } else {
    db.setVersion("12.0");
    db.setDatabaseType("Excel 8.0");
    db.setDatabase(path);
  }
  db.setConnected(true);
  if (table.empty()) table = db.tableNameList().at(0);
  t.setDatabase(&db);
  t.setTableName(table);
  t.open();
}

}  // namespace qm::bench
