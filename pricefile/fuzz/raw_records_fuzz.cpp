// libFuzzer target: a .dbf file read record by record as raw bytes, every field looked at.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "core/error.h"
#include "pricefile/raw_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    qm::pricefile::RawRecords r(in);
    std::size_t sum = 0;
    for (int n = 0; n < 100000 && r.next(); ++n)
      for (int c = 0; c < static_cast<int>(r.columns().size()); ++c) sum += r.field(c).size();
    (void)sum;
  } catch (const qm::Error&) {
  }
  return 0;
}
