// Bringing a registration list (file list, manufacturer list) to the structure of the template
// filelwin.dbf that lies beside the program, keeping its records.
#pragma once

#include <string>

#include "tables/dbf_table.h"

namespace qm::config {

// Rebuilds the table name + ".dbf" in folder (with or without a trailing separator) to the
// structure of appFolder's filelwin.dbf. oldTable is the table object that has the list open;
// it ends open again, shared, on the rebuilt table with a single index tag "file".
// tblFields is borrowed for the work table: it ends closed, pointing at folder, with its table
// name as before. Values a field of the new structure cannot take, and fields it lacks, are
// skipped; any other failure is raised to the caller.
void updatestructure(const std::string& name, const std::string& folder,
                     tables::DbfTable& tblFields, tables::DbfTable& oldTable,
                     const std::string& appFolder);

// Copies one value between fields of possibly different types; raises when the target refuses.
void copy_field_value(tables::DbfField& from, tables::DbfField& to);

}  // namespace qm::config
