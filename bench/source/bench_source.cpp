// Opens a source file and times: the open with the first 100 records, then the walk over every
// record reading every field's text.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/dao_table.h"

namespace {

long peak_rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: bench_source FILE\n";
    return 2;
  }
  std::string path = argv[1];
  std::string ext = qm::to_upper_ascii(qm::extension_of(path));
  auto t0 = std::chrono::steady_clock::now();
  qm::source::TDaoDatabase db;
  db.setDatabaseParameters("IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  std::string table;
  if (ext == ".CSV" || ext == ".TXT" || ext == ".DBF") {
    db.setDatabaseType(ext == ".DBF" ? "dBase 5.0" : "TEXT");
    db.setDatabase(qm::folder_of(path).empty() ? "." : qm::folder_of(path));
    table = qm::file_name_of(path);
  } else {
    db.setVersion("12.0");
    db.setDatabaseType("Excel 8.0");
    db.setDatabase(path);
  }
  db.setConnected(true);
  if (table.empty()) table = db.tableNameList().at(0);
  qm::source::TDaoTable t;
  t.setDatabase(&db);
  t.setTableName(table);
  t.open();
  std::size_t bytes = 0;
  long records = 0;
  for (; !t.eof() && records < 100; t.next(), ++records)
    for (int i = 0; i < t.fieldCount(); ++i) bytes += t.field(i).asString().size();
  double first100 = since(t0);
  for (; !t.eof(); t.next(), ++records)
    for (int i = 0; i < t.fieldCount(); ++i) bytes += t.field(i).asString().size();
  double all = since(t0);
  std::printf(
      "%-40s open+100 records %.3f s   all %ld records %.3f s   peak RSS %ld MiB   (%zu text "
      "bytes)\n",
      qm::file_name_of(path).c_str(), first100, records, all, peak_rss_kib() / 1024, bytes);
  return 0;
}
