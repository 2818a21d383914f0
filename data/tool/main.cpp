// qm-datafiles: writes the program's own dBase tables (templates, destination field list,
// sample Tessaro folder) from the readable schema files in data/schemas, and lists tables.
//
//   qm-datafiles --build SCHEMA_DIR OUT_DIR   every SCHEMA_DIR/<path>.schema becomes
//                                             OUT_DIR/<path> (records from <path>.csv)
//   qm-datafiles --list DIR                   every table under DIR with its field count
//
// Schema file: one field per line, "NAME TYPE LENGTH [DECIMALS]"; "like OTHER.schema" takes
// the fields of another schema (path from SCHEMA_DIR); "tag NAME FIELD" names an index tag;
// "#" starts a comment. Records: a CSV file whose first row names the fields.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "tables/dbf_table.h"

namespace fs = std::filesystem;
using qm::tables::DbfTable;
using qm::tables::FieldDef;

namespace {

struct Schema {
  std::vector<FieldDef> fields;
  std::vector<std::pair<std::string, std::string>> tags;  // tag name, field
};

[[noreturn]] void fail(const std::string& what) {
  throw qm::Error(what);
}

Schema read_schema(const fs::path& root, const fs::path& file, int depth = 0) {
  if (depth > 8) fail("schema '" + qm::from_fs_path(file) + "': 'like' nests too deep");
  std::ifstream in(file);
  if (!in) fail("cannot read schema '" + qm::from_fs_path(file) + "'");
  Schema s;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    auto where = [&] {
      return "schema '" + qm::from_fs_path(file) + "' line " + std::to_string(lineNo);
    };
    if (w[0] == "like") {
      if (w.size() != 2) fail(where() + ": 'like' takes one schema file");
      Schema other = read_schema(root, root / w[1], depth + 1);
      s.fields.insert(s.fields.end(), other.fields.begin(), other.fields.end());
      continue;
    }
    if (w[0] == "tag") {
      if (w.size() != 3) fail(where() + ": 'tag' takes a tag name and a field");
      s.tags.emplace_back(w[1], w[2]);
      continue;
    }
    if (w.size() < 3 || w.size() > 4 || w[1].size() != 1)
      fail(where() + ": expected NAME TYPE LENGTH [DECIMALS]");
    FieldDef f;
    f.name = w[0];
    f.type = w[1][0];
    long long len = 0, dec = 0;
    if (!qm::try_str_to_int(w[2], len) || (w.size() == 4 && !qm::try_str_to_int(w[3], dec)))
      fail(where() + ": length and decimals must be whole numbers");
    f.length = static_cast<int>(len);
    f.decimals = static_cast<int>(dec);
    s.fields.push_back(f);
  }
  return s;
}

// One CSV record per call; fields may be quoted with "" for a quote inside.
bool read_csv_row(std::istream& in, std::vector<std::string>& row) {
  row.clear();
  std::string cell;
  bool quoted = false, any = false;
  for (int c; (c = in.get()) != EOF;) {
    any = true;
    if (quoted) {
      if (c == '"') {
        if (in.peek() == '"') {
          cell += '"';
          in.get();
        } else {
          quoted = false;
        }
      } else {
        cell += static_cast<char>(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(cell);
      cell.clear();
    } else if (c == '\n') {
      row.push_back(cell);
      return true;
    } else if (c != '\r') {
      cell += static_cast<char>(c);
    }
  }
  if (any) row.push_back(cell);
  return any;
}

void build_table(const fs::path& root, const fs::path& schemaFile, const fs::path& outDir) {
  fs::path rel = fs::relative(schemaFile, root);
  std::string relText = qm::from_fs_path(rel);
  relText.erase(relText.size() - std::string(".schema").size());
  fs::path target = outDir / relText;
  fs::create_directories(target.parent_path());
  Schema s = read_schema(root, schemaFile);

  // A fresh table each build: remove the old one and its companions.
  std::string base = qm::from_fs_path(target).substr(
      0, qm::from_fs_path(target).size() - qm::from_fs_path(target.extension()).size());
  for (const char* ext : {".dbt", ".DBT", ".mdx", ".MDX"}) fs::remove(base + ext);
  fs::remove(target);

  DbfTable t;
  t.setFolder(qm::from_fs_path(target.parent_path()));
  t.setTableName(qm::from_fs_path(target.filename()));
  t.setFieldDefs(s.fields);
  t.setTableLevel(7);
  t.setCodepage(1252);
  t.createTable();

  fs::path csv = schemaFile;
  csv.replace_extension(".csv");
  int records = 0;
  if (fs::exists(csv)) {
    std::ifstream in(csv, std::ios::binary);
    std::vector<std::string> header, row;
    if (!read_csv_row(in, header)) fail("'" + qm::from_fs_path(csv) + "' is empty");
    t.open();
    std::vector<qm::tables::DbfField*> cols;
    for (const auto& h : header) {
      auto* f = t.findField(qm::trim(h));
      if (!f)
        fail("'" + qm::from_fs_path(csv) + "' names the field '" + h + "', which the schema lacks");
      cols.push_back(f);
    }
    int line = 1;
    while (read_csv_row(in, row)) {
      ++line;
      if (row.size() == 1 && qm::trim(row[0]).empty()) continue;
      if (row.size() != cols.size())
        fail("'" + qm::from_fs_path(csv) + "' line " + std::to_string(line) + " has " +
             std::to_string(row.size()) + " values for " + std::to_string(cols.size()) + " fields");
      t.append();
      for (size_t i = 0; i < cols.size(); ++i) cols[i]->setAsString(row[i]);
      t.post();
      ++records;
    }
    t.close();
  }
  size_t tagsWritten = 0;
  if (!s.tags.empty()) {
    DbfTable ix;
    ix.setFolder(qm::from_fs_path(target.parent_path()));
    ix.setTableName(qm::from_fs_path(target.filename()));
    ix.setExclusive(true);
    ix.open();
    for (const auto& [tag, field] : s.tags) {
      ix.addIndex(tag, field);
      ++tagsWritten;
    }
    ix.close();
  }
  std::cout << qm::from_fs_path(target) << ": " << s.fields.size() << " fields, " << records
            << " records";
  if (!s.tags.empty()) std::cout << ", " << tagsWritten << " of " << s.tags.size() << " index tags";
  std::cout << "\n";
}

int build_all(const fs::path& root, const fs::path& outDir) {
  std::vector<fs::path> schemas;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().extension() == ".schema") schemas.push_back(e.path());
  std::sort(schemas.begin(), schemas.end());
  for (const auto& s : schemas) build_table(root, s, outDir);
  return 0;
}

int list_all(const fs::path& dir) {
  std::vector<fs::path> tables;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && qm::iequals(qm::from_fs_path(e.path().extension()), ".dbf"))
      tables.push_back(e.path());
  std::sort(tables.begin(), tables.end());
  int bad = 0;
  for (const auto& p : tables) {
    DbfTable t;
    t.setFolder(qm::from_fs_path(p.parent_path()));
    t.setTableName(qm::from_fs_path(p.filename()));
    try {
      t.open();
      std::cout << qm::from_fs_path(fs::relative(p, dir)) << ": " << t.fieldCount() << " fields, "
                << t.recordCount() << " records (level " << t.tableLevel() << ")\n";
    } catch (const qm::Error& e) {
      std::cout << qm::from_fs_path(fs::relative(p, dir)) << ": " << e.what() << "\n";
      ++bad;
    }
  }
  if (tables.empty()) std::cout << "no tables under " << qm::from_fs_path(dir) << "\n";
  return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  qm::platform::set_up_console();
  std::vector<std::string> args = qm::platform::arguments(argc, argv);
  // A folder given with "/" on Windows is printed with the Windows separator.
  auto folder = [&](std::size_t i) { return qm::to_fs_path(args[i]).make_preferred(); };
  try {
    if (args.size() == 3 && args[0] == "--build") return build_all(folder(1), folder(2));
    if (args.size() == 2 && args[0] == "--list") return list_all(folder(1));
  } catch (const std::exception& e) {
    std::cerr << "qm-datafiles: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: qm-datafiles --build SCHEMA_DIR OUT_DIR | --list DIR\n";
  return 2;
}
