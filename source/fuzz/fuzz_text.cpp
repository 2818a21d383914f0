// Delimited text of any bytes, with each delimiter the engine knows: an error is fine, a
// crash, a hang or unbounded memory is not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "source/sheet_table.h"
#include "source/text/text_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  qm::source::detect_delimiter(bytes);
  qm::source::parse_schema_ini(bytes, "prices.txt");
  for (char delim : {',', '\t', ';'}) {
    qm::source::TextFormat f;
    f.delimiter = delim;
    try {
      qm::source::SheetOptions o;
      o.allText = true;
      o.typeGuessRows = 0;
      qm::source::SheetRecordset rs(qm::source::text_rows_from_memory(bytes, f, "fuzz.csv"), o);
      std::vector<qm::source::Cell> row;
      while (rs.fetch(row)) {
      }
      rs.recordCount();
    } catch (const qm::Error&) {
    }
  }
  return 0;
}
