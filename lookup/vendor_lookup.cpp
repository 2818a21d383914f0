#include "lookup/vendor_lookup.h"

#include "core/error.h"
#include "core/paths.h"

namespace qm::lookup {

LookupModeInfo lookup_mode_info(LookupMode mode) {
  switch (mode) {
    case LookupMode::Id:
      return {"id", "ID"};
    case LookupMode::Code:
      return {"code", "Code"};
    case LookupMode::Company:
      break;
  }
  return {"Company", "company"};
}

VendorLookup::VendorLookup(tables::DbfTable& tblVendor) : tblVendor_(tblVendor) {
  tblVendor_.setTableName("prvendor.DBF");
  tblVendor_.setIndexName("COMPANY");
}

void VendorLookup::chooseMode(LookupMode mode) {
  mode_ = mode;
  tblVendor_.setIndexName(lookup_mode_info(mode).indexName);
  // The vendor under the cursor stays current in the new order, and the grid learns of the
  // new order from the move.
  if (tblVendor_.active() && !tblVendor_.eof() && tblVendor_.recNo() > 0)
    tblVendor_.goToRecNo(tblVendor_.recNo());
  if (!findText_.empty()) setFindText("");
}

void VendorLookup::setFindText(const std::string& text) {
  findText_ = text;
  if (!tblVendor_.active()) return;
  tblVendor_.setKey();
  tblVendor_.fieldByName(lookup_mode_info(mode_).keyField).setAsString(text);
  tblVendor_.gotoNearest();
}

bool VendorLookup::lookUp(const std::string& manulistFolder, const std::string& vendorCode,
                          Messages& messages) {
  try {
    tblVendor_.close();
    tblVendor_.setFolder(manulistFolder);
    // The registration sets the index back to company order; the panel opens in the order
    // its selected mode shows.
    tblVendor_.setIndexName(lookup_mode_info(mode_).indexName);
    tblVendor_.open();
    if (!vendorCode.empty()) {
      if (mode_ != LookupMode::Code) chooseMode(LookupMode::Code);
      tblVendor_.setKey();
      tblVendor_.fieldByName("code").setAsString(vendorCode);
      if (!tblVendor_.gotoKey()) tblVendor_.first();
    }
  } catch (const Error&) {
    try {
      tblVendor_.close();
    } catch (const Error&) {
    }
    messages.beep();
    messages.plain("Could not open Vendor File in path:" + manulistFolder);
    return false;
  }
  panelShown_ = true;
  return true;
}

void VendorLookup::take(tables::DbfTable& cdsStore) {
  if (!cdsStore.editing()) cdsStore.edit();
  cdsStore.fieldByName("Code").setAsString(tblVendor_.fieldByName("code").asString());
  cdsStore.fieldByName("Source_ID").setAsString(tblVendor_.fieldByName("ID").asString());
  cdsStore.fieldByName("DEPT").setAsString(tblVendor_.fieldByName("INVTLINK").asString());
  cdsStore.fieldByName("SHEET").setAsString(tblVendor_.fieldByName("ALIASNAME1").asString());
  cdsStore.fieldByName("CONVERSION").setAsString(tblVendor_.fieldByName("EXTRA2").asString());
  cdsStore.fieldByName("US_CANADA").setAsBoolean(tblVendor_.fieldByName("US_COMPANY").asBoolean());
}

void VendorLookup::closePanel() {
  tblVendor_.close();
  panelShown_ = false;
}

bool check_destination_choice(const std::string& exportDbf, const std::string& startRow,
                              Messages& messages) {
  if (exportDbf.empty()) {
    messages.error(
        "You must enter a manufacturer of 3 to 4 characters\r\nin order to pick a destination "
        "folder.");
    return false;
  }
  if (startRow.empty()) {
    messages.error("You must enter a record number to start exporting data.");
    return false;
  }
  return true;
}

std::string proposed_file_name(const std::string& exportDbf) {
  return exportDbf + "LIST.dbf";
}

std::string folder_of_choice(const std::string& chosenPath) {
  return folder_of(chosenPath);
}

}  // namespace qm::lookup
