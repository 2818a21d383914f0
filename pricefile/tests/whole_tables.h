// What a killed or failed build must leave: every table whole (its size exactly the header,
// the counted records and the end mark, every record and memo readable), and files compared
// byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "config/tests/test_folder.h"
#include "core/paths.h"
#include "core/text.h"
#include "tables/dbf_table.h"

namespace qm::testkit {

inline unsigned le(const std::string& b, std::size_t at, int bytes) {
  unsigned v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

// Empty when the table at path is whole, else what is wrong with it.
inline std::string why_not_whole(const std::string& path) {
  const std::string b = read_bytes(path);
  if (b.size() < 32) return path + ": " + std::to_string(b.size()) + " bytes";
  const std::uint64_t count = le(b, 4, 4), header = le(b, 8, 2), record = le(b, 10, 2);
  const std::uint64_t want = header + count * record + 1;
  if (b.size() != want || b.back() != 0x1A)
    return path + ": " + std::to_string(b.size()) + " bytes, but header " + std::to_string(header) +
           " + " + std::to_string(count) + " records x " + std::to_string(record) + " + 1";
  try {
    tables::DbfTable t;
    t.setFolder(folder_of(path));
    t.setTableName(file_name_of(path));
    t.open();
    for (t.first(); !t.eof(); t.next())
      for (int i = 0; i < t.fieldCount(); ++i) (void)t.field(i).asString();
  } catch (const std::exception& e) {
    return path + ": " + e.what();
  }
  return {};
}

// Every file below folder by its path relative to it, with its bytes.
inline std::map<std::string, std::string> folder_bytes(const std::string& folder) {
  std::map<std::string, std::string> r;
  const auto root = to_fs_path(folder);
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    r[from_fs_path(std::filesystem::relative(e.path(), root))] =
        e.is_regular_file() ? read_bytes(from_fs_path(e.path())) : "<folder>";
  return r;
}

// Checks every .dbf below folder.
inline void expect_tables_whole(const std::string& folder) {
  for (const auto& [name, bytes] : folder_bytes(folder))
    if (iequals(extension_of(name), ".dbf")) {
      EXPECT_EQ(why_not_whole(join_path(folder, name)), "");
    }
}

}  // namespace qm::testkit
