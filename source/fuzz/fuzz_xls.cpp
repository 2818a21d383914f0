// A workbook of any bytes through the .xls reader and the sheet layer. The reader opens files by
// name only, so each input is written to a scratch file first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/error.h"
#include "source/reader.h"
#include "source/sheet_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / "qm-fuzz-xls-input.xls").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    auto book = qm::source::open_xls(path);
    auto names = book->sheetNames();
    for (std::size_t i = 0; i < names.size() && i < 4; ++i) {
      qm::source::SheetOptions o;
      o.mixedAsText = true;
      qm::source::SheetRecordset rs(book->openSheet(static_cast<int>(i)), o);
      std::vector<qm::source::Cell> row;
      while (rs.fetch(row)) {
      }
    }
  } catch (const qm::Error&) {
  }
  return 0;
}
