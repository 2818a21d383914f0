#include "pricefile/registration.h"

#include <functional>

#include "config/restructure.h"
#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::pricefile {

namespace {

// Both the file list and the manufacturer list have this many fields in the structure the
// project system reads; any other count means an old table that is rebuilt first.
constexpr int kListFieldCount = 45;

// Raised after the user has been told why registration stops.
struct Stopped {};

std::string without_trailing_separator(std::string folder) {
  if (folder.size() > 1 && ends_with_separator(folder)) folder.pop_back();
  return folder;
}

class Registration {
 public:
  Registration(const RegistrationValues& v, RegistrationTables& t, Messages& m,
               const std::string& appFolder, const SettingsSource& settings)
      : v_(v),
        tblExport_(t.tblExport),
        tblFields_(t.tblFields),
        tblVendor_(t.tblVendor),
        messages_(m),
        appFolder_(appFolder),
        flistFolder_(settings.readString("DestFolder", "Flist", appFolder)),
        stru_(template_folder(v.manulistFolder)) {}

  ~Registration() {
    // Templates and work tables borrow tblFields; a stop part way must not leave the next
    // build making its price file from a list template.
    if (tblFieldsRestored_) return;
    try {
      tblFields_.close();
    } catch (const Error&) {
    }
    tblFields_.setIndexName("");
    tblFields_.setFolder(flistFolder_);
    tblFields_.setTableName("flistwin.dbf");
  }

  bool run() {
    try {
      if (fileList() && dateList()) {
        manufacturerList();
        pointFieldsBack();
        vendorSerialChoice();
        return true;
      }
    } catch (const Stopped&) {
    } catch (...) {
      // A value a list refuses ends the build with its error, the refused record unposted.
      closeExport();
      throw;
    }
    closeExport();
    return false;
  }

 private:
  // No list may stay open under tblExport after a stop: the next build points tblExport at its
  // price file and creates it, which an open table cannot do. Closing drops a pending record,
  // which was never written.
  void closeExport() {
    try {
      tblExport_.close();
    } catch (const Error&) {
    }
  }

  void guarded(tables::DbfTable& t, const char* text, const std::function<void()>& f) {
    try {
      f();
    } catch (const Error& e) {
      messages_.plain(std::string(e.what()) + text + t.folder() + separator_string() +
                      t.tableName());
      throw Stopped{};
    }
  }

  void createFromTemplate(const std::string& templateName, const char* openErrorText,
                          const std::string& listFolder, const std::string& tableName) {
    tblFields_.close();
    tblFields_.setIndexName("");
    tblFields_.setFolder(stru_);
    tblFields_.setTableName(templateName);
    guarded(tblFields_, openErrorText, [&] { tblFields_.open(); });
    std::vector<tables::FieldDef> defs = tblFields_.fieldDefs();
    const int codepage = tblFields_.codepage();

    tblExport_.close();
    tblExport_.setFieldDefs(std::move(defs));
    tblExport_.setFolder(without_trailing_separator(listFolder));
    tblExport_.setTableName(tableName);
    tblExport_.setIndexName("");
    tblExport_.setTableLevel(7);
    tblExport_.setCodepage(codepage);
    guarded(tblExport_, " Error CreateTable file ", [&] { tblExport_.createTable(); });
    guarded(tblExport_, " Error Open file ", [&] {
      tblExport_.open();
      tblExport_.close();
    });
  }

  void openList(const std::string& baseName) {
    guarded(tblExport_, " Error Open file ", [&] {
      tblExport_.open();
      if (!baseName.empty() && tblExport_.fieldCount() != kListFieldCount)
        config::updatestructure(baseName, tblExport_.folder(), tblFields_, tblExport_, appFolder_);
    });
  }

  void findOrAdd() {
    tblExport_.first();
    while (!tblExport_.eof() && tblExport_.fieldByName("file").asString() != v_.identifier)
      tblExport_.next();
    if (!tblExport_.eof())
      tblExport_.edit();
    else
      tblExport_.append();
  }

  void setIgnoringErrors(const char* field, const std::function<void(tables::DbfField&)>& f) {
    try {
      f(tblExport_.fieldByName(field));
    } catch (const Error&) {
    }
  }

  // The fields the file list and the manufacturer list share, in the order they are written.
  void setListFields(bool conversionFallback) {
    tblExport_.fieldByName("file").setAsString(v_.identifier);
    tblExport_.fieldByName("COMPANY").setAsString(v_.company);
    tblExport_.fieldByName("CODE").setAsString(v_.code);
    tblExport_.fieldByName("SOURCE_ID").setAsString(v_.sourceId);
    tblExport_.fieldByName("PARAMETER").setAsString(v_.parameter);
    tblExport_.fieldByName("UPDATE").setAsString(v_.updateText);
    tblExport_.fieldByName("pricesheet").setAsString(v_.priceSheet);
    tblExport_.fieldByName("SOURCELIT").setAsString(v_.sourceLit);
    tblExport_.fieldByName("us_canada").setAsBoolean(v_.usCanada);
    tblExport_.fieldByName("cable").setAsBoolean(v_.cable);
    setIgnoringErrors("CONTRACTPR", [&](tables::DbfField& f) { f.setAsBoolean(v_.contractPr); });
    setIgnoringErrors("serialnum", [&](tables::DbfField& f) { f.setAsString(v_.serialNum); });
    if (conversionFallback) {
      try {
        tblExport_.fieldByName("conversion").setAsString(v_.conversion);
      } catch (const Error&) {
        setIgnoringErrors("conversion", [](tables::DbfField& f) { f.setAsString("0"); });
      }
    } else {
      tblExport_.fieldByName("conversion").setAsString(v_.conversion);
    }
  }

  // A template as the messages name it, with the separator of the folder path around it.
  std::string template_text(const std::string& name) const {
    const std::string sep = separator_string();
    return v_.manulistFolder + ".." + sep + "Stru" + sep + name;
  }

  bool fileList() {
    if (!file_exists(join_path(v_.destFolder, "filelist.dbf"))) {
      if (!file_exists(join_path(stru_, "filelst.dbf"))) {
        messages_.information("Can not locate \"" + template_text("FileLst.dbf") +
                              "\", Filelist, Manulist work not complete!");
        return false;
      }
      createFromTemplate("filelst.dbf", " Error opening file ", v_.destFolder, "filelist.dbf");
    } else {
      tblExport_.close();
      tblExport_.setIndexName("");
      tblExport_.setFolder(v_.destFolder);
    }
    tblExport_.setTableName("filelist.dbf");
    openList("filelist");
    findOrAdd();
    setListFields(true);
    tblExport_.post();
    tblExport_.close();
    return true;
  }

  bool dateList() {
    tblExport_.setTableName("datelist.dbf");
    if (!file_exists(join_path(v_.destFolder, "datelist.dbf"))) {
      if (!file_exists(join_path(stru_, "datelst.dbf"))) {
        messages_.information("Can not locate \"" + template_text("DateLst.dbf") +
                              "\", work not complete!");
        return false;
      }
      createFromTemplate("Datelst.dbf", " Error Open file ", v_.destFolder, "Datelist.dbf");
    }
    openList("");  // the date list keeps whatever structure it has
    findOrAdd();
    tblExport_.fieldByName("file").setAsString(v_.identifier);
    DateTime update;
    if (!parse_date(v_.updateText, update)) update = DateTime{today().day, 0};
    tblExport_.fieldByName("UPDATE").setAsDateTime(update);
    tblExport_.fieldByName("pricesheet").setAsString(v_.priceSheet);
    tblExport_.post();
    tblExport_.close();
    return true;
  }

  void manufacturerList() {
    if (!file_exists(join_path(v_.manulistFolder, "manulist.dbf")))
      createFromTemplate("filelst.dbf", " Error Open file ", v_.manulistFolder, "manulist.dbf");
    tblFields_.close();
    tblExport_.close();
    tblExport_.setIndexName("");
    tblExport_.setFolder(v_.manulistFolder);
    tblExport_.setTableName("manulist.dbf");
    openList("manulist");
    findOrAdd();
    if (!v_.dept.empty()) tblExport_.fieldByName("DEPT").setAsString(v_.dept);
    setListFields(false);
    tblExport_.post();
    tblFields_.close();
  }

  void pointFieldsBack() {
    tblFields_.close();
    tblFields_.setIndexName("");
    tblFields_.setFolder(flistFolder_);
    tblFields_.setTableName("flistwin.dbf");
    tblFieldsRestored_ = true;
    guarded(tblFields_, " Error Open file ", [&] { tblFields_.open(); });
    tblExport_.close();
  }

  void vendorSerialChoice() {
    if (trim(v_.code).empty() || trim(v_.manulistFolder).empty()) return;
    // The serial-number choice is a convenience for the project system; nothing here may
    // fail the registration.
    try {
      tblVendor_.close();
      tblVendor_.setFolder(v_.manulistFolder);
      tblVendor_.setTableName("prvendor.DBF");
      tblVendor_.open();
      tblVendor_.setIndexName("code");
      tblVendor_.setKey();
      tblVendor_.fieldByName("code").setAsString(v_.code);
      if (tblVendor_.gotoKey()) {
        tblVendor_.edit();
        tblVendor_.fieldByName("SERIAL_Y_N").setAsString(trim(v_.serialNum));
        tblVendor_.post();
      }
    } catch (const Error&) {
    }
    try {
      tblVendor_.close();
      tblVendor_.setIndexName("company");
    } catch (const Error&) {
    }
  }

  const RegistrationValues& v_;
  tables::DbfTable& tblExport_;
  tables::DbfTable& tblFields_;
  tables::DbfTable& tblVendor_;
  Messages& messages_;
  std::string appFolder_;
  std::string flistFolder_;
  std::string stru_;
  bool tblFieldsRestored_ = false;
};

}  // namespace

std::string template_folder(const std::string& manulistFolder) {
  return join_path(join_path(manulistFolder, ".."), "stru");
}

bool register_price_file(const RegistrationValues& values, RegistrationTables& tables,
                         Messages& messages, const std::string& appFolder,
                         const SettingsSource& settings) {
  Registration r(values, tables, messages, appFolder, settings);
  return r.run();
}

bool register_price_file(const RegistrationValues& values, Messages& messages,
                         const std::string& appFolder, const SettingsSource& settings) {
  tables::DbfTable tblExport, tblFields, tblVendor;
  tblVendor.setTableName("prvendor.DBF");
  tblVendor.setIndexName("company");
  RegistrationTables t{tblExport, tblFields, tblVendor};
  return register_price_file(values, t, messages, appFolder, settings);
}

}  // namespace qm::pricefile
