#include "config/store.h"

#include "core/datetime.h"
#include "core/text.h"

namespace qm::config {

bool new_configuration(tables::DbfTable& cdsStore) {
  if (cdsStore.recordCount() > 0 && cdsStore.recNo() != 0 &&
      trim(cdsStore.fieldByName("STORENAME").asString()).empty())
    return false;
  cdsStore.append();
  cdsStore.fieldByName("STARTEXPRT").setAsInteger(1);
  for (const char* flag :
       {"BREAKONROW", "APPENDDATA", "ADDDESCRIP", "CABLE", "US_CANADA", "CONTRACTPR"})
    cdsStore.fieldByName(flag).setAsBoolean(false);
  cdsStore.fieldByName("UPDATEDATE").setAsDateTime(DateTime{today().day, 0});
  cdsStore.post();
  return true;
}

std::vector<std::string> configuration_names(tables::DbfTable& cdsStore) {
  std::vector<std::string> names;
  cdsStore.first();
  while (!cdsStore.eof()) {
    names.push_back(cdsStore.fieldByName("STORENAME").asString());
    cdsStore.next();
  }
  if (!names.empty()) cdsStore.last();
  return names;
}

bool find_configuration(tables::DbfTable& cdsStore, const std::string& name) {
  cdsStore.first();
  while (!cdsStore.eof()) {
    if (cdsStore.fieldByName("STORENAME").asString() == name) return true;
    cdsStore.next();
  }
  // Past the end there is no current record; the last one stands in for it.
  if (cdsStore.recordCount() > 0) cdsStore.last();
  return false;
}

bool delete_configuration(tables::DbfTable& cdsStore, const std::string& name) {
  cdsStore.first();
  while (!cdsStore.eof()) {
    if (cdsStore.fieldByName("STORENAME").asString() == name) {
      cdsStore.deleteRecord();
      return true;
    }
    cdsStore.next();
  }
  return false;
}

DeleteOutcome ask_and_delete_configuration(tables::DbfTable& cdsStore, const std::string* selected,
                                           Messages& messages) {
  if (!selected) {
    messages.error("You must select a configuration name before deleting it.");
    return DeleteOutcome::Refused;
  }
  if (!messages.askYesNo(MsgKind::Confirmation,
                         "Are you sure to delete configuration \"" + *selected + "\"?"))
    return DeleteOutcome::Declined;
  return delete_configuration(cdsStore, *selected) ? DeleteOutcome::Deleted
                                                   : DeleteOutcome::NotFound;
}

}  // namespace qm::config
