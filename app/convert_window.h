// The import wizard window: the four pages, the source rows grid, the vendor panel and the
// stored configuration listing. Start-up, closing and page 1 are in convert_window.cpp, the
// layouts in convert_window_pages.cpp; the handlers of pages 2 to 4 are defined by their
// subsystems.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableView>
#include <QWidget>
#include <memory>
#include <string>

#include "app/datalink/data_source.h"
#include "app/datalink/navigator.h"
#include "app/logic/save_dialog.h"
#include "app/logic/settings.h"
#include "app/logic/source_link.h"
#include "app/logic/source_page.h"
#include "app/logic/startup.h"
#include "app/source_model.h"
#include "core/profile.h"
#include "tables/dbf_table.h"
#include "lookup/vendor_lookup.h"

namespace qm::datalink {
class MemoBinder;
class TableModel;
}  // namespace qm::datalink

namespace qm::app {

class TfrmSplash;
class TfrmScreenGrid;

class TfrmConvert : public QWidget {
 public:
  explicit TfrmConvert(TfrmSplash& owner);
  ~TfrmConvert() override;

  // Layout.
  QFrame* Panel2;
  QStackedWidget* ntbMain;
  QTableView* DBGrid1;
  SourceRowsModel* DataSource1;

  // Page 1.
  QLineEdit* edtDir;
  QLineEdit* edtFileName;
  QPushButton* btnBrowse;
  QPushButton* btnOpenSourceFile;
  QPushButton* Button2;
  QCheckBox* chkMakeFirstRecordHeaderFields;
  QCheckBox* UseOlderExcelDrivers;
  QGroupBox* grpExcel;
  QComboBox* cmbSheets;
  QPushButton* btnLookAtList;
  QLabel* lblComplete;
  QPushButton* btnNextPage2;

  // Page 2.
  QPushButton* btnNewConfig;
  QPushButton* btnPrevious;
  QListWidget* lsbConfigNames;
  QPushButton* btnDeleteConfig;
  QPushButton* btnbackPage1;
  QPushButton* btnNextPage3;

  // Page 3.
  QListWidget* lstbFields;
  QListWidget* lstFields;
  QListWidget* cmbFields;
  QCheckBox* chkSort;
  QCheckBox* chkRowBreak;
  QCheckBox* chkAddTitletoDesc;
  QLineEdit* txtConstant;
  QPushButton* btnAdd;
  QPushButton* btnDelete;
  QPushButton* btnViewSelect;
  QListWidget* lstbNew2;
  QPlainTextEdit* lstbNew;
  QPushButton* btnBackPage2;
  QPushButton* btnNextPage4;

  // Page 4.
  QLineEdit* edeDBF;
  QLineEdit* edtDestFolder;
  QPushButton* btnDest;
  QLineEdit* txtCompany;
  QLineEdit* dbeSaveAsName;
  QCheckBox* chkAddToExisting;
  QLineEdit* edeStart;
  QLineEdit* txtUpdate;
  QDateEdit* dttimDueDate;
  QLineEdit* txtPriceSheet;
  QLineEdit* DBEdit1;
  QCheckBox* chkVendInfo;
  QFrame* pnlFinial;
  QLineEdit* edtManlist;
  QPushButton* btnAlaLoc;
  QPushButton* Button4;
  QLineEdit* dbeVendCode;
  QLineEdit* dbeVendSource;
  QLineEdit* txtDept;
  QLineEdit* dbeParam;
  QLineEdit* DBEdit2;
  QCheckBox* DBCheckBox1;
  QLineEdit* DBEdit4;
  QCheckBox* DBCheckBox2;
  QComboBox* DBComboBox1;
  QCheckBox* DBCheckBox3;
  QCheckBox* MultipleTabs;
  QPushButton* btnBackPage;
  QPushButton* Button1;
  QProgressBar* prgBuild = nullptr;  // rows passed while a build walks the source

  // Vendor panel.
  QFrame* pnlVendor;
  QFrame* Panel4;
  QGroupBox* grpLookUpSelector;
  QRadioButton* chkCompany;
  QRadioButton* chkID;
  QRadioButton* chkCode;
  QLineEdit* Edit1;
  QPushButton* cmdTake;
  QPushButton* Button6;
  QTableView* DBGrid3;

  // Stored configuration listing.
  QFrame* pnlLookList;
  QFrame* Panel1;
  datalink::DbNavigator* DBNavigator1;
  QPushButton* Button3;
  QTableView* DBGrid2;

  // Components.
  std::unique_ptr<SourceDatabase> SourceDB;
  std::unique_ptr<SourceTableLink> SourceTable;
  tables::DbfTable cdsStore;
  tables::DbfTable tblFields;
  tables::DbfTable tblExport;
  tables::DbfTable tblVendor;
  datalink::DataSource DataSource2;
  datalink::DataSource DataSource3;
  OpenDialog opd;
  SaveDialog sd1;
  // The vendor panel's look-up over tblVendor (convert_window_vendor.cpp).
  lookup::VendorLookup vendorLookup{tblVendor};

  std::string AppFolder;
  std::unique_ptr<IniFile> settings;
  bool firstActivated() const { return firstActivated_; }
  TfrmSplash& frmSplash() { return owner_; }
  int tag = 0;  // 1 while the column view window is open
  QPointer<TfrmScreenGrid> frmScreenGrid;

  // Start-up, closing and page 1.
  void FormActivate();
  void FormClose();
  void ErrorDAO();
  void dttimDueDateChange();
  void btnOpenFileClick();
  void btnOpenSourceFileClick();
  void cmbSheets1Change();
  void Button2Click();
  void load_field_list();
  void setcaption();
  void showPage(const QString& name);

  // Handlers of pages 2 to 4, the listing and the vendor panel.
  void btnNextPage3Click(QObject* sender);
  void ntbMainPageChanged();
  void btnNewConfigClick();
  void btnPreviousClick();
  void load_config_list();
  void lsbConfigNamesClick();
  void btnDeleteConfigClick();
  void cdsStoreAfterScroll();
  void cdsStoreAfterDelete();
  void btnLookAtListClick();
  void Button3Click();
  void btnAddClick();
  void btnDeleteClick();
  void chkSortClick();
  void lstbFieldsClick();
  void btnViewSelectClick();
  void btnExportClick();
  void chkVendInfoClick();
  void btnAlaLocClick();
  void btnDestClick();
  void Button4Click();
  void chkCompanyClick();
  void chkIDClick();
  void chkCodeClick();
  void Edit1Change();
  void cmdTakeClick(QObject* sender);
  void DBGrid3DblClick();

  // Runs a handler under the application's top-level error handling.
  void guarded(const std::function<void()>& handler);

 protected:
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void buildPage1(QWidget* page);
  void buildPage2(QWidget* page);
  void buildPage3(QWidget* page);
  void buildPage4(QWidget* page);
  void buildVendorPanel();
  void buildLookList(QWidget* parent);
  // Connect the controls to their handlers: pages 2 and 3 with the listing and the column view
  // (convert_window_config.cpp), page 4's vendor group and panel (convert_window_vendor.cpp),
  // the build (convert_window_build.cpp).
  void wireConfigurationPages();
  void wireVendorPage();
  void wireBuild();
  // The vendor panel's selector and Live Find box shown as the look-up stands.
  void syncVendorSelector();
  void chooseVendorMode(lookup::LookupMode mode);
  SourcePage readSourcePage() const;
  void writeSourcePage(const SourcePage& p);
  SourceContext sourceContext();
  void sourceRowsChanged();
  void onSourcePage(const std::function<void(SourcePage&, SourceContext&)>& handler);

  // Pages 2 and 3: the mapping memo's link and the listing's model.
  void bindConfigurationControls();
  std::vector<std::string> mappingLines() const;
  void followMappingLength();
  void refreshColumnView();
  datalink::MemoBinder* lstbNewLink_ = nullptr;
  datalink::TableModel* DBGrid2Model_ = nullptr;

  TfrmSplash& owner_;
  bool firstActivated_ = false;
  bool sized_ = false;
};

}  // namespace qm::app
