#include "pricefile/registration.h"

#include <functional>
#include <optional>

#include "config/restructure.h"
#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "pricefile/staged_table.h"

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

enum { kFileList, kDateList, kManufacturerList };

class Registration {
 public:
  Registration(const RegistrationValues& v, RegistrationTables& t, Messages& m,
               const std::string& appFolder, const SettingsSource& settings,
               RegistrationLists& lists)
      : v_(v),
        lists_(lists),
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
        tblExport_.close();
        putListsInPlace();
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

  // The folder the list is written in until the three are put in place: its staging folder,
  // holding a copy of the list when there is one.
  std::string workFolder(int which) {
    StagedTable& st = lists_.list(which);
    if (file_exists(lists_.finalPath(which))) {
      try {
        st.copyOld();
      } catch (const Error& e) {
        messages_.plain(e.what());
        throw Stopped{};
      }
    }
    return without_trailing_separator(folder_of(st.stagedPath()));
  }

  void putListsInPlace() {
    try {
      lists_.commit();
    } catch (const Error& e) {
      messages_.plain(e.what());
      throw Stopped{};
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
      createFromTemplate("filelst.dbf", " Error opening file ", workFolder(kFileList),
                         "filelist.dbf");
    } else {
      const std::string work = workFolder(kFileList);
      tblExport_.close();
      tblExport_.setIndexName("");
      tblExport_.setFolder(work);
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
      createFromTemplate("Datelst.dbf", " Error Open file ", workFolder(kDateList),
                         file_name_of(lists_.finalPath(kDateList)));
    } else {
      const std::string work = workFolder(kDateList);
      tblExport_.close();
      tblExport_.setIndexName("");
      tblExport_.setFolder(work);
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
    const std::string work = workFolder(kManufacturerList);
    if (!file_exists(join_path(v_.manulistFolder, "manulist.dbf")))
      createFromTemplate("filelst.dbf", " Error Open file ", work, "manulist.dbf");
    tblFields_.close();
    tblExport_.close();
    tblExport_.setIndexName("");
    tblExport_.setFolder(work);
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
  RegistrationLists& lists_;
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

RegistrationLists::RegistrationLists(const RegistrationValues& v) {
  paths_[kFileList] = resolve_path(join_path(v.destFolder, "filelist.dbf"));
  // A date list made from its template is named as the project system names it.
  const std::string dates = join_path(v.destFolder, "datelist.dbf");
  paths_[kDateList] =
      file_exists(dates) ? resolve_path(dates) : join_path(v.destFolder, "Datelist.dbf");
  paths_[kManufacturerList] = resolve_path(join_path(v.manulistFolder, "manulist.dbf"));
  for (int i = 0; i < 3; ++i) lists_[i] = std::make_unique<StagedTable>(paths_[i]);
}

RegistrationLists::~RegistrationLists() = default;

void RegistrationLists::begin(Messages& messages) {
  if (begun_) return;
  for (auto& l : lists_) l->begin(messages);
  begun_ = true;
}

StagedTable& RegistrationLists::list(int which) {
  return *lists_[which];
}

void RegistrationLists::commit() {
  // Every list complete and marked so before the first one moves: an import killed in
  // between leaves all three for the next one to put in place.
  for (auto& l : lists_) l->prepare();
  for (auto& l : lists_) l->commit();
}

bool register_price_file(const RegistrationValues& values, RegistrationTables& tables,
                         Messages& messages, const std::string& appFolder,
                         const SettingsSource& settings, RegistrationLists* lists) {
  std::optional<RegistrationLists> own;
  if (!lists) {
    own.emplace(values);
    try {
      own->begin(messages);
    } catch (const Error& e) {
      messages.error(e.what());
      return false;
    }
    lists = &*own;
  }
  Registration r(values, tables, messages, appFolder, settings, *lists);
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
