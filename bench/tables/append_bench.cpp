// Appends records the way a build writes the price file (append, ~25 texts, post) into a
// 31-field level-7 table with write-behind on, and prints the rate beside the target.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tables/dbf_table.h"

int main(int argc, char** argv) {
  using namespace qm::tables;
  long long records = argc > 1 ? std::stoll(argv[1]) : 1000000;
  auto dir = std::filesystem::temp_directory_path() / "qm-bench-tables";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::vector<FieldDef> defs = {
      {"DEPT", 'C', 6, 0}, {"PARTNUMBER", 'C', 30, 0}, {"DESCRIPTN", 'C', 254, 0}};
  for (const char* n : {"LISTPRICE", "COST_OF_1", "COST_OF_2", "COST_OF_3", "COST_OF_4",
                        "COST_OF_5", "SPCL_COST", "PRO_NET"})
    defs.push_back({n, 'N', 14, 4});
  defs.push_back({"OQTY", 'N', 10, 0});
  defs.push_back({"PRICETYPE", 'C', 1, 0});
  for (int i = 1; i <= 6; ++i) defs.push_back({"LEV" + std::to_string(i), 'N', 12, 2});
  for (int i = 1; i <= 6; ++i) defs.push_back({"COSTLEV" + std::to_string(i), 'N', 14, 4});
  defs.push_back({"UNIT", 'C', 4, 0});
  defs.push_back({"UPC", 'C', 14, 0});
  defs.push_back({"NOTES", 'M', 10, 0});
  DbfTable t;
  t.setFolder(dir.string());
  t.setTableName("BENCHLIST");
  t.setFieldDefs(defs);
  t.createTable();
  t.open();
  t.setWriteBehind(true);
  // Names as a build holds them, with their lengths known (it keeps them as strings).
  const std::string_view names[] = {
      "DEPT",     "PARTNUMBER", "DESCRIPTN", "LISTPRICE", "COST_OF_1", "COST_OF_2", "SPCL_COST",
      "PRO_NET",  "OQTY",       "PRICETYPE", "LEV1",      "LEV2",      "LEV3",      "COSTLEV1",
      "COSTLEV2", "COSTLEV3",   "UNIT",      "UPC",       "LEV4",      "LEV5",      "LEV6",
      "COSTLEV4", "COSTLEV5",   "COSTLEV6",  "COST_OF_3"};
  const char* values[] = {
      "ACM",    "AC-1001-XL", "Duplex receptacle, 15A 125V, white, tamper resistant",
      "1234.5", "555.53",     "12.5",
      "0.01",   "1234.57",    "1",
      "M",      "1",          "10",
      "100",    "10",         "9.5",
      "9",      "EA",         "012345600017",
      "250",    "500",        "1000",
      "8.75",   "8.5",        "8.25",
      "0"};
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  char part[32];
  for (long long i = 0; i < records; ++i) {
    t.append();
    for (int k = 0; k < 25; ++k) {
      if (k == 1) {
        int n = std::snprintf(part, sizeof part, "AC-%lld", i);
        t.fieldByName(names[k]).setAsString(std::string_view(part, static_cast<size_t>(n)));
      } else {
        t.fieldByName(names[k]).setAsString(values[k]);
      }
    }
    t.post();
  }
  t.close();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  auto size = std::filesystem::file_size(dir / "BENCHLIST.dbf");
  std::printf("price file append, 25 fields per record: %lld records in %.2f s (%.2f s of CPU)\n",
              records, secs, cpu);
  std::printf("  qm-tables: %10.0f records/s   target: %10.0f records/s   (%.0f MB written)\n",
              records / secs, 1e6, size / 1e6);
  // On a shared machine the wall clock counts other processes too; CPU time does not.
  std::printf("  qm-tables: %10.0f records per CPU second\n", records / cpu);
  std::filesystem::remove_all(dir);
  return 0;
}
