// Shared by the table fuzz targets: the engine reads files, so each input is written to a
// scratch folder of this process first.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/error.h"
#include "tables/dbf_table.h"

namespace qm::tables::fuzz {

inline const std::filesystem::path& scratch_dir() {
  static const std::filesystem::path dir = [] {
    std::random_device rd;
    auto p = std::filesystem::temp_directory_path() / ("qm-fuzz-" + std::to_string(rd()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return dir;
}

inline void write_file(const std::string& name, const char* data, size_t size) {
  std::ofstream out(scratch_dir() / name, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
}

// Opens the table and reads every field of up to 2000 records; a TableError is the expected
// answer to a malformed file, anything else (a crash, another exception) is a find.
inline void read_all(const std::string& name) {
  DbfTable t;
  t.setFolder(scratch_dir().string());
  t.setTableName(name);
  try {
    (void)t.fieldDefs();
    t.open();
    (void)t.recordCount();
    int n = 0;
    for (t.first(); !t.eof() && n < 2000; t.next(), ++n) {
      for (int i = 0; i < t.fieldCount(); ++i) {
        try {
          auto& f = t.field(i);
          (void)f.asString();
          (void)f.isNull();
          (void)f.lines();
        } catch (const qm::TableError&) {
        }
      }
    }
    t.last();
    t.prior();
  } catch (const qm::TableError&) {
  }
}

}  // namespace qm::tables::fuzz
