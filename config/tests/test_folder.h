// Scratch folders for tests that write tables, and the sample data the build leaves beside
// the programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "core/error.h"
#include "core/paths.h"
#include "core/tests/run_process.h"
#include "core/text.h"
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

inline std::vector<tables::FieldDef> defs_from(const char* layout) {
  // "NAME:C:10:0 NAME:L:1:0 ..."
  std::vector<tables::FieldDef> defs;
  std::string all(layout);
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find(' ', pos);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    size_t a = item.find(':'), b = item.find(':', a + 1), c = item.find(':', b + 1);
    defs.push_back({item.substr(0, a), item[a + 1], std::stoi(item.substr(b + 1, c - b - 1)),
                    std::stoi(item.substr(c + 1))});
  }
  return defs;
}

struct IndexEntry {
  std::string key;  // trailing blanks removed
  long recNo = 0;
  friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// Whether Perl with XBase is there to read our indexes (it is not under Wine).
inline bool have_perl_xbase() {
  static const bool ok = program_succeeds({"perl", "-MXBase::Index", "-e1"});
  return ok;
}

// The entries of one tag of an .mdx in key order, as Perl's XBase::Index reads them: a reader
// written by nobody here. Fails the test when the reader refuses the file.
inline std::vector<IndexEntry> independent_index_entries(const TestFolder& tf,
                                                         const std::string& mdxPath,
                                                         const std::string& tag) {
  (void)tf;
  Outcome run = run_process({{"perl", join_path(QM_SOURCE_DIR, "tables/tests/mdx_keys.pl"),
                              resolve_path(mdxPath), to_upper_ascii(tag)}});
  std::string text = run.out + run.err;
  EXPECT_EQ(run.code, 0) << text;
  std::vector<IndexEntry> r;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string key;
    for (size_t i = 0; i + 1 < tab; i += 2)
      key += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    r.push_back({trim_right(key), std::stol(line.substr(tab + 1))});
  }
  return r;
}

// The shapes of the program's data files, for a build that has not made them yet.
inline std::vector<tables::FieldDef> builtin_defs(const std::string& name) {
  if (iequals(name, "exprtwin.dbf"))
    return defs_from(
        "STORENAME:C:40:0 FILENAME:C:8:0 CODE:C:10:0 PARAMETER:C:10:0 SOURCE_ID:C:10:0 "
        "DEPT:C:10:0 UPDATEDATE:D:8:0 EXPORTDBF:C:4:0 STARTEXPRT:N:6:0 SHEET:C:30:0 "
        "COMPANY:C:40:0 PRICESHEET:C:20:0 STREET:C:30:0 CITY:C:20:0 STATE:C:10:0 ZIP:C:10:0 "
        "PHONE:C:20:0 FAX:C:20:0 APPENDDATA:L:1:0 BREAKONROW:L:1:0 SOURCE:C:30:0 "
        "ADDDESCRIP:L:1:0 FIELDSLIST:M:10:0 CONVERSION:C:10:0 US_CANADA:L:1:0 CABLE:L:1:0 "
        "SERIALNUM:C:1:0 CONTRACTPR:L:1:0 NOTES:C:20:0");
  if (iequals(name, "filelwin.dbf") || iequals(name, "filelst.dbf")) {
    std::string layout =
        "file:C:4:0 COMPANY:C:40:0 CODE:C:10:0 SOURCE_ID:C:10:0 PARAMETER:C:10:0 "
        "UPDATE:C:10:0 pricesheet:C:20:0 SOURCELIT:C:30:0 us_canada:L:1:0 cable:L:1:0 "
        "CONTRACTPR:L:1:0 serialnum:C:1:0 conversion:N:8:2 DEPT:C:10:0 LASTDATE:D:8:0";
    for (int i = 1; i <= 30; ++i) layout += " EXTRA" + std::to_string(i) + ":C:10:0";
    return defs_from(layout.c_str());
  }
  if (iequals(name, "Datelst.dbf")) return defs_from("file:C:4:0 UPDATE:D:8:0 pricesheet:C:20:0");
  if (iequals(name, "flistwin.dbf"))
    return defs_from("DEPT:C:4:0 partnumber:C:20:0 DESCRIPTN:C:60:0 LISTPRICE:N:12:2");
  if (iequals(name, "prvendor.DBF"))
    return defs_from(
        "CODE:C:10:0 COMPANY:C:40:0 ID:C:10:0 INVTLINK:C:10:0 ALIASNAME1:C:30:0 EXTRA2:C:10:0 "
        "US_COMPANY:L:1:0 SERIAL_Y_N:C:1:0");
  return {};
}

// Puts a data file of the program folder into folder: the build's copy, or one of the same
// shape when the build has not made it.
inline void put_data_file(const std::string& folder, const std::string& name) {
  const std::string built = bin_file(name);
  if (file_exists(built)) {
    copy_file_replace(built, join_path(folder, name));
    std::string dbt = built.substr(0, built.size() - 4) + ".dbt";
    if (file_exists(dbt))
      copy_file_replace(dbt, join_path(folder, name.substr(0, name.size() - 4) + ".dbt"));
    return;
  }
  create_table(folder, name, builtin_defs(name));
}

inline std::vector<tables::FieldDef> storelst_defs() {
  if (file_exists(bin_file("exprtwin.dbf"))) return defs_of(QM_BIN_DIR, "exprtwin.dbf");
  return builtin_defs("exprtwin.dbf");
}

// Copies the sample Tessaro folder (Data/ and stru/) below tf; returns its Data folder.
inline std::string copy_sample_tessaro(const TestFolder& tf) {
  std::filesystem::path from = to_fs_path(join_path(QM_BIN_DIR, "sample/Tessaro"));
  std::string to = tf.folder("Tessaro");
  if (std::filesystem::exists(from)) {
    // Into the folder's own name: MinGW's copy copies nothing into a name that ends in "\\".
    std::filesystem::copy(from, tf.root() / "Tessaro", std::filesystem::copy_options::recursive);
    return resolve_path(join_path(to, "Data")) + separator_string();
  }
  std::string data = tf.folder("Tessaro/Data"), stru = tf.folder("Tessaro/stru");
  create_table(stru, "filelst.dbf", builtin_defs("filelst.dbf"));
  create_table(stru, "Datelst.dbf", builtin_defs("Datelst.dbf"));
  create_table(data, "manulist.dbf", builtin_defs("filelst.dbf"));
  {
    tables::DbfTable m;
    m.setFolder(data);
    m.setTableName("manulist.dbf");
    m.open();
    for (const char* id : {"BEL", "ACM"}) {
      m.append();
      m.fieldByName("file").setAsString(id);
      m.fieldByName("COMPANY").setAsString(std::string("Maker ") + id);
      m.post();
    }
  }
  create_table(data, "prvendor.DBF", builtin_defs("prvendor.DBF"));
  tables::DbfTable v;
  v.setFolder(data);
  v.setTableName("prvendor.DBF");
  v.open();
  struct Row {
    const char *code, *company, *id, *link, *alias, *extra2;
    bool us;
  } rows[] = {{"ZED", "Zed Lighting", "V500", "ZL", "Zed Catalog", "3.5", false},
              {"ACM", "Acme Cable", "V100", "AC", "Acme Lit", "5", true},
              {"BEL", "Belden", "V200", "BE", "Belden Lit", "", false},
              {"ABB", "ABB Supply", "V050", "AB", "ABB Book", "2", true},
              {"ADC", "Adcock Wire", "V300", "AD", "Adcock", "1", false}};
  for (const auto& r : rows) {
    v.append();
    v.fieldByName("CODE").setAsString(r.code);
    v.fieldByName("COMPANY").setAsString(r.company);
    v.fieldByName("ID").setAsString(r.id);
    v.fieldByName("INVTLINK").setAsString(r.link);
    v.fieldByName("ALIASNAME1").setAsString(r.alias);
    v.fieldByName("EXTRA2").setAsString(r.extra2);
    v.fieldByName("US_COMPANY").setAsBoolean(r.us);
    v.post();
  }
  v.close();
  v.setExclusive(true);
  v.open();
  try {
    for (const char* f : {"COMPANY", "ID", "CODE"}) v.addIndex(f, f);
  } catch (const Error&) {
    // An engine without index support: the tests that need the tags say so.
  }
  return data;
}

}  // namespace qm::testkit
