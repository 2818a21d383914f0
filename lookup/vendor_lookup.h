// Looking a vendor up in the project system's vendor table prvendor.DBF (the table object
// tblVendor) and taking its details into the current configuration; and the checks of the
// destination folder choice. The window owns the controls and calls these.
#pragma once

#include <string>

#include "core/messages.h"
#include "tables/dbf_table.h"

namespace qm::lookup {

// The look-up selector's radio buttons chkCompany, chkID and chkCode.
enum class LookupMode { Company, Id, Code };

struct LookupModeInfo {
  const char* indexName;  // tag of tblVendor chosen by the mode
  const char* keyField;   // field the live find writes its key into
};
LookupModeInfo lookup_mode_info(LookupMode mode);

class VendorLookup {
 public:
  // Names tblVendor "prvendor.DBF" in company order, as at the window's start.
  explicit VendorLookup(tables::DbfTable& tblVendor);

  LookupMode mode() const { return mode_; }
  // The Live Find text (Edit1) as this logic last saw it.
  const std::string& findText() const { return findText_; }
  bool panelShown() const { return panelShown_; }

  // chkCompanyClick / chkIDClick / chkCodeClick: the mode's index, the current vendor kept,
  // and the Live Find box emptied (which runs the live find when it had text).
  void chooseMode(LookupMode mode);

  // Edit1Change: the first vendor whose key in the current index is at least text.
  void setFindText(const std::string& text);

  // Button4Click: opens the vendor table in manulistFolder; with a vendor code, switches to
  // code order and goes to that vendor (to the first row when it is not there). Returns true
  // when the panel is to be shown; on any failure beeps, shows "Could not open Vendor File in
  // path:" with the folder and returns false.
  bool lookUp(const std::string& manulistFolder, const std::string& vendorCode, Messages& messages);

  // cmdTake (and a double-click on a row): copies the current vendor into the current
  // configuration record of cdsStore, editing it unless an edit or append is under way; the
  // record stays unposted. A field missing on either side raises, the fields before it kept.
  void take(tables::DbfTable& cdsStore);

  // Both cmdTake and Button6 ("Cancel") end with this: the table is closed, the panel hidden.
  void closePanel();

 private:
  tables::DbfTable& tblVendor_;
  LookupMode mode_ = LookupMode::Company;
  std::string findText_;
  bool panelShown_ = false;
};

// btnDestClick steps 1 and 2: true when the save dialog may open.
bool check_destination_choice(const std::string& exportDbf, const std::string& startRow,
                              Messages& messages);
// The file name the save dialog proposes: the manufacturer identifier and "LIST.dbf".
std::string proposed_file_name(const std::string& exportDbf);
// The folder a chosen path leaves in edtDestFolder or edtManlist, with a trailing separator.
std::string folder_of_choice(const std::string& chosenPath);

}  // namespace qm::lookup
