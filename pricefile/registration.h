// Registering a built price file in the project system's lists: the file list and date list
// beside the price files, the manufacturer list in the project system's data folder, and the
// vendor's serial-number choice in its vendor table.
#pragma once

#include <memory>
#include <string>

#include "core/messages.h"
#include "core/profile.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

// The page-4 values registration reads. Folders are texts as typed; the destination folder
// ends with a separator (the build refuses it otherwise).
struct RegistrationValues {
  std::string destFolder;      // edtDestFolder
  std::string manulistFolder;  // edtManlist
  std::string identifier;      // edeDBF, the key "file" of every list
  std::string company;         // txtCompany
  std::string code;            // dbeVendCode
  std::string sourceId;        // dbeVendSource
  std::string parameter;       // dbeParam
  std::string updateText;      // txtUpdate
  std::string priceSheet;      // txtPriceSheet
  std::string sourceLit;       // DBEdit2, the list's SOURCELIT
  bool usCanada = false;       // DBCheckBox1
  bool cable = false;          // DBCheckBox2
  bool contractPr = false;     // DBCheckBox3
  std::string serialNum;       // DBComboBox1
  std::string conversion;      // DBEdit4
  std::string dept;            // txtDept
};

// Where the destination field list lives (settings DestFolder/Flist, AppFolder by default).
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual std::string readString(const std::string& section, const std::string& key,
                                 const std::string& def) const = 0;
};

// A SettingsSource that has no settings: every read yields its default.
class DefaultSettings : public SettingsSource {
 public:
  std::string readString(const std::string&, const std::string&,
                         const std::string& def) const override {
    return def;
  }
};

// The settings file Convert.ini as a SettingsSource.
class IniSettings : public SettingsSource {
 public:
  explicit IniSettings(const IniFile& ini) : ini_(ini) {}
  std::string readString(const std::string& section, const std::string& key,
                         const std::string& def) const override {
    return ini_.readString(section, key, def);
  }

 private:
  const IniFile& ini_;
};

struct RegistrationTables {
  tables::DbfTable& tblExport;
  tables::DbfTable& tblFields;
  tables::DbfTable& tblVendor;
};

class StagedTable;

// The file list, date list and manufacturer list one registration changes. Each is changed in
// a staged copy and all are put in place together once every one is written, so that a
// registration lands whole or not at all; from begin on each is locked against other imports.
class RegistrationLists {
 public:
  explicit RegistrationLists(const RegistrationValues& values);
  ~RegistrationLists();
  // Locks the three lists and checks they can be replaced; raises qm::Error in the user's words
  // ("filelist.dbf is in use by another import") with nothing changed.
  void begin(Messages& messages);
  // The lists in this order: file list, date list, manufacturer list.
  StagedTable& list(int which);
  const std::string& finalPath(int which) const { return paths_[which]; }
  // Puts every list written in place.
  void commit();

 private:
  std::string paths_[3];
  std::unique_ptr<StagedTable> lists_[3];
  bool begun_ = false;
};

// Returns true when every list was written, false when it stopped after telling the user
// (a missing template, a list that cannot be opened or created); then no list has changed.
// lists: the build's, begun before its walk; null to lock them here. tblFields ends on the
// destination field list on every way out.
// A value the manufacturer list's conversion field refuses is raised, as is any other
// failure to write a list's field.
bool register_price_file(const RegistrationValues& values, RegistrationTables& tables,
                         Messages& messages, const std::string& appFolder,
                         const SettingsSource& settings, RegistrationLists* lists = nullptr);

// The same with table objects of its own.
bool register_price_file(const RegistrationValues& values, Messages& messages,
                         const std::string& appFolder, const SettingsSource& settings);

// The folder "stru" beside the manufacturer list's folder, which holds the list templates.
std::string template_folder(const std::string& manulistFolder);

}  // namespace qm::pricefile
