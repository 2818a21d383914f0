// The operations on the stored configurations (storelst.dbf, the table object cdsStore) that
// the wizard's page 2 and the command line share. The current configuration is the table's
// current record; every scan runs from the first record in table order.
#pragma once

#include <string>
#include <vector>

#include "core/messages.h"
#include "tables/dbf_table.h"

namespace qm::config {

// "1a. New Configuration": reuses the current record when its name is empty (blanks and
// control characters count as empty), else appends a configuration with the starting values
// and posts it at once. Returns true when a record was added.
bool new_configuration(tables::DbfTable& cdsStore);

// Every STORENAME in table order, empty names included. Leaves the table on its last record.
std::vector<std::string> configuration_names(tables::DbfTable& cdsStore);

// Makes current the first record whose STORENAME equals name exactly (letter case and blanks
// count). Returns false, the table on its last record, when none does.
bool find_configuration(tables::DbfTable& cdsStore, const std::string& name);

// Deletes the first record whose STORENAME equals name exactly; false when there is none.
bool delete_configuration(tables::DbfTable& cdsStore, const std::string& name);

enum class DeleteOutcome {
  Refused,   // no name selected: nothing asked, nothing changed
  Declined,  // the user answered No
  Deleted,
  NotFound,  // answered Yes, but no record carries the name any more
};

// "&Delete Old Configuration" with its refusal and its question: selected is null when no
// name is selected.
DeleteOutcome ask_and_delete_configuration(tables::DbfTable& cdsStore, const std::string* selected,
                                           Messages& messages);

}  // namespace qm::config
