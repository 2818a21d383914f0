#include "app/logic/startup.h"

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::app {

using tables::DbfField;
using tables::DbfTable;

void create_store(StoreTables& t) {
  t.tblFields.close();
  t.tblFields.setFolder(t.appFolder);
  t.tblFields.setTableName("exprtwin.dbf");
  t.tblFields.open();
  t.cdsStore.setFieldDefs(t.tblFields.fieldDefs());
  t.cdsStore.setCodepage(t.tblFields.codepage());
  t.cdsStore.setTableLevel(7);
  t.cdsStore.createTable();
  t.tblFields.close();
  // The folder stays the program folder for the rest of this start-up.
  t.tblFields.setTableName("flistwin.dbf");
}

namespace {

// A value copied as the field holds it where both sides agree on the kind; through its text
// otherwise, as a variant assignment would convert it.
void copy_value(DbfField& from, DbfField& to) {
  if (from.isNull()) {
    to.clear();
    return;
  }
  char a = from.def().type, b = to.def().type;
  if (a == 'L' && b == 'L')
    to.setAsBoolean(from.asBoolean());
  else if ((a == 'D' || a == '@') && (b == 'D' || b == '@'))
    to.setAsDateTime(from.asDateTime());
  else
    to.setAsString(from.asString());
}

}  // namespace

void restructure_store(StoreTables& t) {
  const std::string& app = t.appFolder;
  delete_file(app + "work.dbf");
  delete_file(app + "work.dbt");
  std::string templ = t.tblFields.folder();
  std::string sep = separator_string();
  copy_file_replace(templ + sep + "exprtwin.dbf", app + "work.dbf");
  copy_file_replace(templ + sep + "exprtwin.dbt", app + "work.dbt");

  t.cdsStore.first();
  t.tblFields.close();
  t.tblFields.setTableName("work");
  t.tblFields.setFolder(app);
  t.tblFields.setIndexName("");
  t.tblFields.open();
  while (!t.cdsStore.eof()) {
    t.tblFields.append();
    for (int i = 0; i < t.cdsStore.fieldCount(); ++i) {
      DbfField& from = t.cdsStore.field(i);
      copy_value(from, t.tblFields.fieldByName(from.name()));
    }
    t.tblFields.post();
    t.cdsStore.next();
  }
  t.tblFields.close();
  t.cdsStore.close();

  delete_file(app + "storelst.dbf");
  delete_file(app + "storelst.dbt");
  // Unlike the deletes, a failed rename would leave no table at all: say so.
  if (!rename_file(app + "work.dbf", app + "storelst.dbf"))
    throw Error("Cannot rename " + app + "work.dbf to storelst.dbf");
  if (!rename_file(app + "work.dbt", app + "storelst.dbt"))
    throw Error("Cannot rename " + app + "work.dbt to storelst.dbt");

  t.cdsStore.setTableName("storelst.dbf");
  t.cdsStore.open();
  t.tblFields.setTableName("flistwin.dbf");
  t.ini.writeInteger("Update", "Level", 1);
}

void prepare_store(StoreTables& t) {
  if (!file_exists(t.cdsStore.path())) create_store(t);
  t.dataSource2.detach();
  t.cdsStore.open();
  if (t.cdsStore.fieldCount() != kStoreFieldCount) restructure_store(t);
  t.dataSource2.reattach();
}

std::vector<std::string> destination_fields(DbfTable& tblFields) {
  std::vector<std::string> names;
  if (!tblFields.exists()) return names;
  tblFields.open();
  tblFields.first();
  for (int i = 0; i < tblFields.fieldCount(); ++i)
    names.push_back(tblFields.field(i).displayName());
  // A list box finds its entries without regard to case.
  for (auto it = names.begin(); it != names.end(); ++it) {
    if (iequals(*it, "DEPT")) {
      names.erase(it);
      break;
    }
  }
  return names;
}

}  // namespace qm::app
