// Feeds arbitrary bytes to the workbook reader as a package: every sheet is opened and read
// to its end. Anything but a clean result or a DatabaseError is a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/error.h"
#include "source/xlsx/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qm::source;
  xlsx::Limits limits;
  // Small enough that a run stays fast, large enough for the corpus workbooks.
  limits.maxPartBytes = 64u << 20;
  limits.ratioFreeBytes = 1u << 20;
  limits.maxSharedStringBytes = 16u << 20;
  try {
    auto wb = xlsx::open_workbook_bytes(
        "fuzz.xlsx", std::string(reinterpret_cast<const char*>(data), size), limits);
    std::vector<Cell> cells;
    auto names = wb->sheetNames();
    for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
      try {
        auto sheet = wb->openSheet(static_cast<int>(i));
        for (int rows = 0; sheet->nextRow(cells) && rows < 200000; ++rows) {
        }
        sheet->rewind();
        sheet->nextRow(cells);
      } catch (const qm::DatabaseError&) {
      }
    }
  } catch (const qm::DatabaseError&) {
  }
  return 0;
}
