// Appends to DIR/crash.dbf until it is killed: record n holds PART "P<n>", QTY n and, for every
// fifth record, the memo "memo <n>". Used by the crash-safety test, which kills it once it has
// said on stdout that SIGNAL_AFTER records are posted.
// Usage: tables_append_helper DIR WRITEBEHIND(0|1) SIGNAL_AFTER
#include <cstdio>
#include <string>

#include "tables/dbf_table.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  qm::tables::DbfTable t;
  t.setFolder(argv[1]);
  t.setTableName("crash");
  t.open();
  t.setWriteBehind(std::string(argv[2]) == "1");
  const long long signalAfter = std::stoll(argv[3]);
  long long n = t.recordCount();
  for (long long posted = 1;; ++posted) {
    ++n;
    t.append();
    std::string part = "P";
    part += std::to_string(n);
    t.fieldByName("PART").setAsString(part);
    t.fieldByName("QTY").setAsInteger(n);
    if (n % 5 == 0) {
      std::string memo = "memo ";
      memo += std::to_string(n);
      t.fieldByName("NOTES").setAsString(memo);
    }
    t.post();
    if (posted == signalAfter) {
      std::printf("posted %lld\n", posted);
      std::fflush(stdout);
    }
  }
}
