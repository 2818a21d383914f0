// Appends to DIR/crash.dbf until it is killed: record n holds PART "P<n>", QTY n and, for every
// fifth record, the memo "memo <n>". Used by the crash-safety test, which kills it at random.
// Usage: tables_append_helper DIR WRITEBEHIND(0|1)
#include <iostream>
#include <string>

#include "tables/dbf_table.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  qm::tables::DbfTable t;
  t.setFolder(argv[1]);
  t.setTableName("crash");
  t.open();
  t.setWriteBehind(std::string(argv[2]) == "1");
  long long n = t.recordCount();
  for (;;) {
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
  }
}
