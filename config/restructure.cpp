#include "config/restructure.h"

#include "core/error.h"
#include "core/paths.h"

namespace qm::config {

namespace {

bool is_date_type(char t) {
  return t == 'D' || t == '@';
}

}  // namespace

void copy_field_value(tables::DbfField& from, tables::DbfField& to) {
  if (from.isNull()) {
    to.clear();
    return;
  }
  const char ft = from.def().type;
  const char tt = to.def().type;
  // Dates and logicals keep their value when both sides hold the same kind; the short-date
  // text would otherwise depend on the date format in force.
  if (is_date_type(ft) && is_date_type(tt)) {
    to.setAsDateTime(from.asDateTime());
  } else if (ft == 'L' && tt == 'L') {
    to.setAsBoolean(from.asBoolean());
  } else {
    to.setAsString(from.asString());
  }
}

void updatestructure(const std::string& name, const std::string& folder,
                     tables::DbfTable& tblFields, tables::DbfTable& oldTable,
                     const std::string& appFolder) {
  const std::string workDbf = join_path(folder, "work.dbf");
  const std::string workDbt = join_path(folder, "work.dbt");

  tblFields.close();
  const std::string rememberedName = tblFields.tableName();

  // A memo file left by an earlier broken run would otherwise be taken for the template's.
  delete_file(workDbf);
  delete_file(workDbt);
  delete_file(join_path(folder, "work.mdx"));
  try {
    copy_file_replace(join_path(appFolder, "filelwin.dbf"), workDbf);
  } catch (const Error&) {
    // Not fatal here: opening the work table below reports the missing template.
  }
  // The template's memo file travels with it, so memo fields of the new structure have one.
  if (file_exists(join_path(appFolder, "filelwin.dbt"))) {
    try {
      copy_file_replace(join_path(appFolder, "filelwin.dbt"), workDbt);
    } catch (const Error&) {
    }
  }

  tblFields.setFolder(folder);
  tblFields.setIndexName("");
  tblFields.setTableName("work.dbf");
  tblFields.open();

  oldTable.first();
  while (!oldTable.eof()) {
    tblFields.append();
    for (int i = 0; i < oldTable.fieldCount(); ++i) {
      tables::DbfField& src = oldTable.field(i);
      tables::DbfField* dst = tblFields.findField(src.name());
      if (!dst) continue;
      try {
        copy_field_value(src, *dst);
      } catch (const Error&) {
        // A value the new structure cannot take is left out; the rest of the record goes on.
      }
    }
    tblFields.post();
    oldTable.next();
  }

  tblFields.close();
  tblFields.setTableName(rememberedName);

  oldTable.close();
  delete_file(join_path(folder, name + ".dbf"));
  delete_file(join_path(folder, name + ".mdx"));
  // The old memo file must go too: the rebuilt table's memo pointers point into work.dbt,
  // and a stale one beside a table without memo fields only misleads.
  delete_file(join_path(folder, name + ".dbt"));
  rename_file(workDbf, join_path(folder, name + ".dbf"));
  if (file_exists(workDbt)) rename_file(workDbt, join_path(folder, name + ".dbt"));

  oldTable.setExclusive(true);
  try {
    oldTable.open();
    oldTable.addIndex("file", "file");
    oldTable.close();
  } catch (...) {
    oldTable.close();
    oldTable.setExclusive(false);
    throw;
  }
  oldTable.setExclusive(false);
  oldTable.open();
}

}  // namespace qm::config
