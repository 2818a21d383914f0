// Scratch folders for tests that write tables, and the sample data the build leaves beside
// the programs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "core/paths.h"
#include "tables/dbf_table.h"

namespace qm::testkit {

class TestFolder {
 public:
  TestFolder() {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() /
            ("qm-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(root_);
  }
  ~TestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  // A folder below the root, created, with a trailing separator.
  std::string folder(const std::string& sub) const {
    std::filesystem::create_directories(root_ / sub);
    return from_fs_path(root_ / sub) + separator_string();
  }
  std::filesystem::path root() const { return root_; }

 private:
  std::filesystem::path root_;
};

inline std::string bin_file(const std::string& name) {
  return join_path(QM_BIN_DIR, name);
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(to_fs_path(resolve_path(path)), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Copies the sample Tessaro folder (Data/ and stru/) into dest; returns dest's Data folder.
inline std::string copy_sample_tessaro(const TestFolder& tf) {
  std::filesystem::path from = to_fs_path(join_path(QM_BIN_DIR, "sample/Tessaro"));
  std::string to = tf.folder("Tessaro");
  std::filesystem::copy(from, to_fs_path(to), std::filesystem::copy_options::recursive);
  return resolve_path(join_path(to, "Data")) + separator_string();
}

// Makes an empty level-7 table from field definitions.
inline void create_table(const std::string& folder, const std::string& name,
                         const std::vector<tables::FieldDef>& defs) {
  tables::DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  t.setFieldDefs(defs);
  t.setTableLevel(7);
  t.createTable();
}

inline std::vector<tables::FieldDef> defs_of(const std::string& folder, const std::string& name) {
  tables::DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  return t.fieldDefs();
}

}  // namespace qm::testkit
