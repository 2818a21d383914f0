// libFuzzer target: a memo file (.dbt of dBase III or IV/7 style, or .fpt) behind a valid table
// whose records point at blocks 1 to 8. The first input byte chooses the dialect.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/fuzz/fuzz_common.h"

namespace {

// A table with one memo field C(4) + M(10), eight records pointing at blocks 1..8.
std::string memo_table(std::uint8_t version, bool level7) {
  const int nfields = 2;
  const int desc = level7 ? 48 : 32;
  const int base = level7 ? 68 : 32;
  const int hl = base + desc * nfields + 1;
  const int rl = 1 + 4 + 10;
  std::string h(static_cast<size_t>(hl), '\0');
  h[0] = static_cast<char>(version);
  h[1] = 124, h[2] = 3, h[3] = 1;
  h[4] = 8;
  h[8] = static_cast<char>(hl & 0xFF), h[9] = static_cast<char>(hl >> 8);
  h[10] = static_cast<char>(rl);
  const char* names[] = {"CODE", "NOTES"};
  const char types[] = {'C', 'M'};
  const int lens[] = {4, 10};
  for (int i = 0; i < nfields; ++i) {
    size_t p = static_cast<size_t>(base + desc * i);
    h.replace(p, std::string(names[i]).size(), names[i]);
    h[p + (level7 ? 32 : 11)] = types[i];
    h[p + (level7 ? 33 : 16)] = static_cast<char>(lens[i]);
  }
  h[static_cast<size_t>(hl - 1)] = 0x0D;
  for (int r = 1; r <= 8; ++r)
    h += " R" + std::to_string(r) + " " + std::string(9, level7 ? '0' : ' ') + std::to_string(r);
  h += '\x1A';
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qm::tables::fuzz;
  if (size < 1) return 0;
  int kind = data[0] % 4;
  std::string table;
  std::string memoName = "m.dbt";
  switch (kind) {
    case 0:
      table = memo_table(0x8C, true);
      break;  // level 7
    case 1:
      table = memo_table(0x8B, false);
      break;  // dBase IV
    case 2:
      table = memo_table(0x83, false);
      break;  // dBase III
    default:
      table = memo_table(0xF5, false);
      memoName = "m.fpt";
      break;  // FoxPro 2.x
  }
  write_file("m.dbf", table.data(), table.size());
  std::filesystem::remove(scratch_dir() / (memoName == "m.dbt" ? "m.fpt" : "m.dbt"));
  write_file(memoName, reinterpret_cast<const char*>(data + 1), size - 1);
  read_all("m.dbf");
  return 0;
}
