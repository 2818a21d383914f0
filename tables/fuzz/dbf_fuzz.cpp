// libFuzzer target: a whole .dbf file (header, descriptors, records) of any dialect.
#include <cstddef>
#include <cstdint>

#include "tables/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qm::tables::fuzz;
  write_file("f.dbf", reinterpret_cast<const char*>(data), size);
  read_all("f.dbf");
  return 0;
}
