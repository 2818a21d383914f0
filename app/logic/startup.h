// The wizard's first-activation work on its tables: the stored configuration table made from
// its template or brought to the template's structure, and the destination field list.
#pragma once

#include <string>
#include <vector>

#include "app/datalink/data_source.h"
#include "app/logic/shell.h"
#include "core/profile.h"
#include "tables/dbf_table.h"

namespace qm::app {

// Number of fields of the stored configuration table in its current structure.
constexpr int kStoreFieldCount = 29;

struct StoreTables {
  tables::DbfTable& cdsStore;
  tables::DbfTable& tblFields;
  // The link of the configuration controls, bound to cdsStore; detached while the table is
  // prepared so that no control follows it.
  datalink::DataSource& dataSource2;
  IniFile& ini;
  std::string appFolder;  // with its trailing separator
};

// storelst.dbf from the field definitions of exprtwin.dbf in the program folder, level 7.
// tblFields is left closed, named flistwin.dbf, in the program folder.
void create_store(StoreTables& t);
// Copies every record of the open cdsStore into a copy of the template (taken from the folder
// tblFields has at that moment) and puts it in place of storelst; writes Update/Level = 1.
void restructure_store(StoreTables& t);
// Creates storelst.dbf when missing, opens it with the data link detached, restructures it
// when its field count is not kStoreFieldCount, and attaches the link again.
void prepare_store(StoreTables& t);

// Display names of the fields of flistwin.dbf (tblFields, left open on its first record),
// without the first entry "DEPT". Empty when the table is not there.
std::vector<std::string> destination_fields(tables::DbfTable& tblFields);

}  // namespace qm::app
