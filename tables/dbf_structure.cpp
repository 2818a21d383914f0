// A table's structure: its field definitions, level, code page and language driver, and the
// creation of a new table from them.

#include "tables/dbf_table_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "tables/codepage.h"
#include "tables/dbf_file.h"
#include "tables/dbf_header.h"
#include "tables/field_codec.h"
#include "tables/memo_file.h"

namespace qm::tables {

namespace {

int level_of(Dialect d) {
  switch (d) {
    case Dialect::DBase3:
      return 3;
    case Dialect::DBase4:
      return 4;
    case Dialect::Level7:
      return 7;
    case Dialect::FoxPro:
      return 25;
    case Dialect::VisualFoxPro:
      return 30;
  }
  return 7;
}

}  // namespace

std::vector<FieldDef> DbfTable::fieldDefs() const {
  Impl& m = *impl_;
  DbfHeader h;
  if (m.active) {
    h = m.hdr;
  } else {
    std::string p = path();
    if (!file_exists(p)) throw TableError("Table '" + p + "' does not exist");
    RandomFile f;
    if (!f.open(p, false)) throw TableError("Cannot open table '" + p + "'");
    h = read_header_file(f);
  }
  std::vector<FieldDef> out;
  for (const auto& f : h.fields)
    if (!f.hidden()) out.push_back(f.def);
  // A table created from these definitions keeps this table's language.
  m.createCodepage = h.codepage;
  m.createDriver = h.dialect == Dialect::Level7 && codepage_from_driver_name(h.driverName)
                       ? h.driverName
                       : driver_name_for_codepage(h.codepage);
  return out;
}

void DbfTable::setFieldDefs(std::vector<FieldDef> defs) {
  impl_->defs = std::move(defs);
}
void DbfTable::setTableLevel(int level) {
  impl_->level = level;
}
int DbfTable::tableLevel() const {
  return impl_->active ? level_of(impl_->hdr.dialect) : impl_->level;
}
bool DbfTable::readOnly() const {
  return impl_->active && !impl_->writable;
}

void DbfTable::setCodepage(int codepage) {
  impl_->createCodepage = codepage_known(codepage) ? codepage : 1252;
  impl_->createDriver = driver_name_for_codepage(impl_->createCodepage);
}

int DbfTable::codepage() const {
  return impl_->active ? impl_->hdr.codepage : impl_->createCodepage;
}

const std::string& DbfTable::languageDriver() const {
  return impl_->active ? impl_->hdr.driverName : impl_->createDriver;
}

void DbfTable::setLanguageDriver(std::string name) {
  int cp = codepage_from_driver_name(name);
  if (!cp) throw TableError("Unknown language driver '" + name + "'");
  impl_->createCodepage = cp;
  impl_->createDriver = std::move(name);
}

void DbfTable::copyStructureFrom(const DbfTable& other) {
  impl_->defs = other.fieldDefs();
  impl_->createCodepage = other.impl_->createCodepage;
  impl_->createDriver = other.impl_->createDriver;
}

void DbfTable::createTable() {
  Impl& m = *impl_;
  if (m.active) throw TableError("Cannot create table '" + path() + "' while it is open");
  if (m.level != 7)
    throw TableError("Only level 7 tables can be created (level " + std::to_string(m.level) +
                     " asked)");
  if (m.tableName.empty()) throw TableError("No table name given");
  std::string p = join_path(m.folder, with_extension(m.tableName));
  std::error_code ec;
  if (!m.folder.empty() && !std::filesystem::is_directory(to_fs_path(resolve_path(m.folder)), ec))
    throw TableError("Folder '" + m.folder + "' does not exist (table '" + p + "')");
  if (file_exists(p)) throw TableError("Table '" + resolve_path(p) + "' already exists");
  std::vector<FieldDef> defs = normalize_level7_defs(m.defs, p);
  std::string driver = m.createDriver;
  std::uint8_t ldid = driver.empty() ? ldid_for_codepage(m.createCodepage) : 0;
  auto bytes = build_level7_file(defs, driver, ldid, qm::today());
  // The memo file first: a table whose header announces one must never lack it.
  if (has_memo_fields(defs)) {
    std::string mp = resolve_path(companion_path(p, ".dbt"));
    MemoFile::create(mp);
  }
  RandomFile f;
  f.create(p);
  f.writeAt(0, bytes.data(), bytes.size());
}

}  // namespace qm::tables
