#include "app/convert_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QValidator>

#include "app/datalink/binders.h"
#include "app/splash_window.h"
#include "core/datetime.h"
#include "core/paths.h"

namespace qm::app {

namespace {

// Typed letters become capitals, as in the upper-case edit boxes of the original.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

template <class W>
W* named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
  return named(new QPushButton(QString::fromUtf8(caption), parent), name);
}

QCheckBox* check(const char* name, const char* caption, QWidget* parent) {
  return named(new QCheckBox(QString::fromUtf8(caption), parent), name);
}

QLineEdit* edit(const char* name, QWidget* parent, bool upper = false) {
  auto* e = named(new QLineEdit(parent), name);
  if (upper) e->setValidator(new UpperCaseValidator(e));
  return e;
}

QLabel* label(const char* caption, QWidget* parent, QWidget* buddy = nullptr) {
  auto* l = new QLabel(QString::fromUtf8(caption), parent);
  if (buddy) l->setBuddy(buddy);
  return l;
}

QStringList to_qt(const std::vector<std::string>& v) {
  QStringList r;
  for (const auto& s : v) r << QString::fromStdString(s);
  return r;
}

std::vector<std::string> items_of(const QListWidget* w) {
  std::vector<std::string> r;
  for (int i = 0; i < w->count(); ++i) r.push_back(w->item(i)->text().toStdString());
  return r;
}

void set_items(QListWidget* w, const std::vector<std::string>& items) {
  if (items_of(w) == items) return;
  w->clear();
  w->addItems(to_qt(items));
}

std::optional<std::string> platform_open_dialog(QWidget* parent, const OpenDialog& d) {
  QStringList filters;
  for (const auto& f : dialog_filters(d.filter)) {
    QStringList pats = to_qt(f.patterns);
    filters << QString::fromStdString(f.description) + " (" + pats.join(' ') + ")";
  }
  QString start = QString::fromStdString(d.initialDir);
  if (!d.fileName.empty()) start = QString::fromStdString(join_path(d.initialDir, d.fileName));
  QString chosen = QFileDialog::getOpenFileName(parent, QString::fromStdString(d.title), start,
                                                filters.join(";;"));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

}  // namespace

TfrmConvert::TfrmConvert(TfrmSplash& owner) : QWidget(nullptr), owner_(owner) {
  setObjectName("frmConvert");
  setWindowTitle("Quillmere");
  AppShell& shell = owner_.shell();
  SourceComponents sc = shell.sources();
  SourceDB = std::move(sc.db);
  SourceTable = std::move(sc.table);
  tblFields.setTableName("flistwin.dbf");
  tblVendor.setTableName("prvendor.DBF");

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  Panel2 = named(new QFrame(this), "Panel2");
  Panel2->setFrameShape(QFrame::StyledPanel);
  Panel2->setFixedHeight(274);
  auto* p2 = new QVBoxLayout(Panel2);
  p2->setContentsMargins(4, 4, 4, 4);
  ntbMain = named(new QStackedWidget(Panel2), "ntbMain");
  p2->addWidget(ntbMain);
  const char* pageNames[] = {"Page1", "Page2", "Page3", "Page4"};
  QWidget* pages[4];
  for (int i = 0; i < 4; ++i) {
    pages[i] = named(new QWidget(ntbMain), pageNames[i]);
    ntbMain->addWidget(pages[i]);
  }
  buildPage1(pages[0]);
  buildPage2(pages[1]);
  buildPage3(pages[2]);
  buildPage4(pages[3]);
  outer->addWidget(Panel2);

  DBGrid1 = named(new QTableView(this), "DBGrid1");
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DataSource1 = named(new SourceRowsModel(this), "DataSource1");
  DBGrid1->setModel(DataSource1);
  DBGrid1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  connect(DataSource1, &QAbstractItemModel::modelReset, this, [this] {
    int ch = DBGrid1->fontMetrics().averageCharWidth();
    for (int c = 0; c < DataSource1->columnCount(); ++c)
      DBGrid1->setColumnWidth(c, DataSource1->displayWidth(c) * ch + 8);
  });
  outer->addWidget(DBGrid1, 1);

  buildVendorPanel();
  outer->addWidget(pnlVendor, 1);
  buildLookList(this);

  // Start-up, closing and page 1 here; the other pages in their own files.
  connect(btnBrowse, &QPushButton::clicked, this,
          [this] { guarded([this] { btnOpenFileClick(); }); });
  connect(btnOpenSourceFile, &QPushButton::clicked, this,
          [this] { guarded([this] { btnOpenSourceFileClick(); }); });
  connect(cmbSheets, qOverload<int>(&QComboBox::activated), this,
          [this](int) { guarded([this] { cmbSheets1Change(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { guarded([this] { Button2Click(); }); });
  connect(dttimDueDate, &QDateEdit::dateChanged, this,
          [this] { guarded([this] { dttimDueDateChange(); }); });
  wireConfigurationPages();
  wireVendorPage();
  wireBuild();

  resize(679, 480);
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(679 / 2, 480 / 2));
}

TfrmConvert::~TfrmConvert() {
  DataSource1->setDataset(nullptr);
}

void TfrmConvert::buildPage1(QWidget* page) {
  auto* g = new QGridLayout(page);
  g->setContentsMargins(6, 6, 6, 6);
  edtDir = edit("edtDir", page);
  edtFileName = edit("edtFileName", page);
  edtFileName->setReadOnly(true);
  btnBrowse = button("btnBrowse", "3 &Browse", page);
  btnOpenSourceFile = button("btnOpenSourceFile", "4 Open File", page);
  Button2 = button("Button2", "Close File", page);
  g->addWidget(label("1 Source Folder:", page, edtDir), 0, 0);
  g->addWidget(edtDir, 0, 1, 1, 2);
  g->addWidget(btnBrowse, 0, 3);
  g->addWidget(label("2 File Name:", page, edtFileName), 1, 0);
  g->addWidget(edtFileName, 1, 1, 1, 2);
  g->addWidget(btnOpenSourceFile, 1, 3);
  g->addWidget(Button2, 1, 4);
  chkMakeFirstRecordHeaderFields =
      check("chkMakeFirstRecordHeaderFields", "Make First Date Record as Header Fields", page);
  chkMakeFirstRecordHeaderFields->setChecked(true);
  UseOlderExcelDrivers =
      check("UseOlderExcelDrivers",
            "Use Older Excel Drivers (This Machine is missing the new Jet Drivers)", page);
  g->addWidget(chkMakeFirstRecordHeaderFields, 2, 1, 1, 4);
  g->addWidget(UseOlderExcelDrivers, 3, 1, 1, 4);
  grpExcel = named(new QGroupBox("5 Choose Excel Sheet", page), "grpExcel");
  auto* ge = new QHBoxLayout(grpExcel);
  cmbSheets = named(new QComboBox(grpExcel), "cmbSheets");
  cmbSheets->setEditable(true);
  cmbSheets->setInsertPolicy(QComboBox::NoInsert);
  cmbSheets->setMinimumWidth(200);
  ge->addWidget(cmbSheets);
  grpExcel->setVisible(false);
  grpExcel->setEnabled(false);
  g->addWidget(grpExcel, 4, 1, 1, 2);
  btnLookAtList = button("btnLookAtList", "Look at Stored Configuration Data List", page);
  g->addWidget(btnLookAtList, 4, 3, 1, 2, Qt::AlignBottom);
  lblComplete = named(new QLabel(page), "lblComplete");
  QFont big = lblComplete->font();
  big.setPixelSize(20);
  big.setBold(true);
  lblComplete->setFont(big);
  lblComplete->setVisible(false);
  g->addWidget(lblComplete, 5, 0, 1, 5);
  btnNextPage2 = button("btnNextPage2", "6 &Next -->", page);
  btnNextPage2->setProperty("tag", 2);
  btnNextPage2->setEnabled(false);
  g->setRowStretch(6, 1);
  g->addWidget(btnNextPage2, 7, 4);
  g->setColumnStretch(2, 1);
}

void TfrmConvert::buildPage2(QWidget* page) {
  auto* g = new QGridLayout(page);
  g->setContentsMargins(6, 6, 6, 6);
  g->addWidget(label("Is this a previous configuration or a new one?", page), 0, 0, 1, 3);
  btnNewConfig = button("btnNewConfig", "1a. New Configuration", page);
  btnPrevious = button("btnPrevious", "1b. Previous Configuration", page);
  g->addWidget(btnNewConfig, 1, 0);
  g->addWidget(btnPrevious, 2, 0);
  lsbConfigNames = named(new QListWidget(page), "lsbConfigNames");
  lsbConfigNames->setSortingEnabled(true);
  g->addWidget(label("2 Configuration Names", page, lsbConfigNames), 1, 1);
  g->addWidget(lsbConfigNames, 2, 1, 4, 2);
  btnDeleteConfig = button("btnDeleteConfig", "&Delete Old Configuration", page);
  g->addWidget(btnDeleteConfig, 3, 0);
  btnbackPage1 = button("btnbackPage1", "<--&Back", page);
  btnbackPage1->setProperty("tag", 1);
  btnNextPage3 = button("btnNextPage3", "3 &Next -->", page);
  btnNextPage3->setProperty("tag", 3);
  btnNextPage3->setEnabled(false);
  auto* nav = new QHBoxLayout;
  nav->addStretch();
  nav->addWidget(btnbackPage1);
  nav->addWidget(btnNextPage3);
  g->addLayout(nav, 6, 0, 1, 3);
  g->setColumnStretch(2, 1);
  g->setRowStretch(5, 1);
}

void TfrmConvert::buildPage3(QWidget* page) {
  auto* g = new QGridLayout(page);
  g->setContentsMargins(6, 6, 6, 6);
  lstbFields = named(new QListWidget(page), "lstbFields");
  lstFields = named(new QListWidget(page), "lstFields");
  lstFields->setMaximumWidth(60);
  cmbFields = named(new QListWidget(page), "cmbFields");
  // The list captions may wrap: the fonts here run wider than the ones the window was drawn for.
  QLabel* sourceCaption = label("1 Source Field Names", page, lstbFields);
  sourceCaption->setWordWrap(true);
  g->addWidget(sourceCaption, 0, 0);
  g->addWidget(lstbFields, 1, 0, 6, 1);
  g->addWidget(label("Field #", page, lstFields), 0, 1);
  g->addWidget(lstFields, 1, 1, 6, 1);
  QLabel* destCaption = label("2 Link to these Fields", page, cmbFields);
  destCaption->setWordWrap(true);
  g->addWidget(destCaption, 0, 2);
  g->addWidget(cmbFields, 1, 2, 5, 1);
  chkSort = check("chkSort", "Sort", page);
  g->addWidget(chkSort, 6, 2);

  auto* mid = new QVBoxLayout;
  chkRowBreak = check("chkRowBreak", "3. Row Contains Break Levels", page);
  chkAddTitletoDesc = check("chkAddTitletoDesc", "4. Add Column Heading to Item Description", page);
  txtConstant = edit("txtConstant", page);
  btnAdd = button("btnAdd", "6 &Add >", page);
  btnDelete = button("btnDelete", "&Delete <", page);
  btnViewSelect = button("btnViewSelect", "&Column view", page);
  mid->addWidget(chkRowBreak);
  mid->addWidget(chkAddTitletoDesc);
  mid->addWidget(label("5 Constant", page, txtConstant));
  mid->addWidget(txtConstant);
  mid->addWidget(btnAdd);
  mid->addWidget(btnDelete);
  mid->addWidget(btnViewSelect);
  mid->addStretch();
  g->addLayout(mid, 0, 3, 7, 1);

  lstbNew2 = named(new QListWidget(page), "lstbNew2");
  lstbNew = named(new QPlainTextEdit(page), "lstbNew");
  lstbNew->setVisible(false);
  g->addWidget(label("Import Fields", page, lstbNew2), 0, 4);
  g->addWidget(lstbNew2, 1, 4, 6, 1);
  btnBackPage2 = button("btnBackPage2", "<--&Back", page);
  btnBackPage2->setProperty("tag", 2);
  btnNextPage4 = button("btnNextPage4", "7 &Next -->", page);
  btnNextPage4->setProperty("tag", 4);
  btnNextPage4->setEnabled(false);
  auto* nav = new QHBoxLayout;
  nav->addStretch();
  nav->addWidget(btnBackPage2);
  nav->addWidget(btnNextPage4);
  g->addLayout(nav, 7, 0, 1, 5);
  for (int c : {0, 2, 4}) g->setColumnStretch(c, 1);
  // The long captions of the middle column take their room; the lists share what is left.
  for (QListWidget* l : {lstbFields, cmbFields, lstbNew2}) l->setMinimumWidth(90);
  lstFields->setMinimumWidth(40);
  g->setHorizontalSpacing(4);
}

void TfrmConvert::buildPage4(QWidget* page) {
  auto* top = new QGridLayout(page);
  top->setContentsMargins(4, 2, 4, 2);
  top->setVerticalSpacing(1);
  auto* left = new QGridLayout;
  left->setVerticalSpacing(1);
  int r = 0;
  auto row = [&](QGridLayout* g, int& at, const char* caption, QWidget* w,
                 QWidget* extra = nullptr) {
    g->addWidget(label(caption, w->parentWidget(), w), at, 0);
    g->addWidget(w, at, 1, 1, extra ? 1 : 2);
    if (extra) g->addWidget(extra, at, 2);
    ++at;
  };
  edeDBF = edit("edeDBF", page, true);
  edeDBF->setMaxLength(4);
  row(left, r, "1 Manufacturer 3/4 Ltr ID to Import ->", edeDBF);
  edtDestFolder = edit("edtDestFolder", page);
  btnDest = button("btnDest", "Browse", page);
  btnDest->setMaximumWidth(64);  // the folder box needs the room more
  row(left, r, "2 Destination Folder:", edtDestFolder, btnDest);
  txtCompany = edit("txtCompany", page);
  row(left, r, "3 Company", txtCompany);
  dbeSaveAsName = edit("dbeSaveAsName", page);
  row(left, r, "4 Save Name:", dbeSaveAsName);
  chkAddToExisting = check("chkAddToExisting", "5 Add To Existing File", page);
  left->addWidget(chkAddToExisting, r++, 0, 1, 3);
  edeStart = edit("edeStart", page);
  row(left, r, "6 Start Import at Row #", edeStart);
  txtUpdate = edit("txtUpdate", page);
  dttimDueDate = named(new QDateEdit(page), "dttimDueDate");
  dttimDueDate->setCalendarPopup(true);
  row(left, r, "7 Update Date", txtUpdate, dttimDueDate);
  txtPriceSheet = edit("txtPriceSheet", page);
  row(left, r, "8 Price Sheet Date (un-formated)", txtPriceSheet);
  DBEdit1 = edit("DBEdit1", page);
  row(left, r, "9 Source", DBEdit1);
  top->addLayout(left, 0, 0);

  auto* right = new QVBoxLayout;
  right->setSpacing(1);
  chkVendInfo = check("chkVendInfo", "10 Tessaro Vendor Information", page);
  right->addWidget(chkVendInfo);
  pnlFinial = named(new QFrame(page), "pnlFinial");
  pnlFinial->setFrameShape(QFrame::StyledPanel);
  auto* f = new QGridLayout(pnlFinial);
  f->setContentsMargins(3, 2, 3, 2);
  f->setVerticalSpacing(1);
  int fr = 0;
  edtManlist = edit("edtManlist", pnlFinial);
  btnAlaLoc = button("btnAlaLoc", "Browse", pnlFinial);
  btnAlaLoc->setMaximumWidth(64);
  row(f, fr, "11 Location of Manulist.dbf", edtManlist, btnAlaLoc);
  Button4 = button("Button4", "Look Up Vendor", pnlFinial);
  f->addWidget(Button4, fr++, 1, 1, 2);
  dbeVendCode = edit("dbeVendCode", pnlFinial, true);
  row(f, fr, "12 Vendor Code", dbeVendCode);
  dbeVendSource = edit("dbeVendSource", pnlFinial, true);
  row(f, fr, "13 Vendor ID", dbeVendSource);
  txtDept = edit("txtDept", pnlFinial, true);
  row(f, fr, "14 Project Manu ID", txtDept);
  dbeParam = edit("dbeParam", pnlFinial, true);
  row(f, fr, "15 Parameter", dbeParam);
  DBEdit2 = edit("DBEdit2", pnlFinial);
  row(f, fr, "16 Vendor Lit.", DBEdit2);
  DBCheckBox1 = check("DBCheckBox1", "17 US>Canada", pnlFinial);
  f->addWidget(DBCheckBox1, fr++, 0, 1, 3);
  DBEdit4 = edit("DBEdit4", pnlFinial);
  row(f, fr, "18 Conversion %", DBEdit4);
  pnlFinial->setVisible(false);
  right->addWidget(pnlFinial);
  right->addStretch();
  top->addLayout(right, 0, 1);

  auto* bottom = new QGridLayout;
  bottom->setVerticalSpacing(1);
  DBCheckBox2 =
      check("DBCheckBox2",
            "19 Cable Manufacturer (Oqty = 1000, 500, 250, 100 : PriceType = M, D, T, H)", page);
  bottom->addWidget(DBCheckBox2, 0, 0, 1, 6);
  DBComboBox1 = named(new QComboBox(page), "DBComboBox1");
  DBComboBox1->addItems({"Y", "N"});
  DBComboBox1->setCurrentIndex(-1);
  bottom->addWidget(label("20 Serial Number Y/N Blank - Ask", page, DBComboBox1), 1, 0);
  bottom->addWidget(DBComboBox1, 1, 1);
  DBCheckBox3 = check("DBCheckBox3", "", page);
  bottom->addWidget(label("21 Contract Price", page, DBCheckBox3), 1, 2);
  bottom->addWidget(DBCheckBox3, 1, 3);
  MultipleTabs = check("MultipleTabs", "Multiple Tabs (ADI)", page);
  bottom->addWidget(MultipleTabs, 1, 4);
  btnBackPage = button("btnBackPage", "<--&Back", page);
  btnBackPage->setProperty("tag", 3);
  Button1 = button("Button1", "22 &Build File", page);
  auto* nav = new QHBoxLayout;
  nav->addStretch();
  nav->addWidget(btnBackPage);
  nav->addWidget(Button1);
  bottom->addLayout(nav, 1, 5);
  bottom->setColumnStretch(5, 1);
  top->addLayout(bottom, 1, 0, 1, 2);
  top->setColumnStretch(0, 3);
  top->setColumnStretch(1, 2);
  top->setRowStretch(0, 1);
}

void TfrmConvert::buildVendorPanel() {
  pnlVendor = named(new QFrame(this), "pnlVendor");
  auto* v = new QVBoxLayout(pnlVendor);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  Panel4 = named(new QFrame(pnlVendor), "Panel4");
  Panel4->setFixedHeight(48);
  auto* h = new QHBoxLayout(Panel4);
  h->setContentsMargins(4, 0, 4, 0);
  grpLookUpSelector = named(new QGroupBox("Look Up Selector", Panel4), "grpLookUpSelector");
  auto* gl = new QHBoxLayout(grpLookUpSelector);
  gl->setContentsMargins(4, 0, 4, 0);
  chkCompany = named(new QRadioButton("Company", grpLookUpSelector), "chkCompany");
  chkCompany->setChecked(true);
  chkID = named(new QRadioButton("ID", grpLookUpSelector), "chkID");
  chkCode = named(new QRadioButton("Code", grpLookUpSelector), "chkCode");
  gl->addWidget(chkCompany);
  gl->addWidget(chkID);
  gl->addWidget(chkCode);
  h->addWidget(grpLookUpSelector);
  Edit1 = edit("Edit1", Panel4, true);
  h->addWidget(label("Live Find", Panel4, Edit1));
  h->addWidget(Edit1, 1);
  cmdTake = button("cmdTake", "Take", Panel4);
  Button6 = button("Button6", "Cancel", Panel4);
  h->addWidget(cmdTake);
  h->addWidget(Button6);
  v->addWidget(Panel4);
  DBGrid3 = named(new QTableView(pnlVendor), "DBGrid3");
  DBGrid3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  v->addWidget(DBGrid3, 1);
  pnlVendor->setVisible(false);
}

void TfrmConvert::buildLookList(QWidget* parent) {
  // Not in a layout: it lies behind the wizard until the listing is asked for.
  pnlLookList = named(new QFrame(parent), "pnlLookList");
  auto* v = new QVBoxLayout(pnlLookList);
  v->setContentsMargins(0, 0, 0, 0);
  Panel1 = named(new QFrame(pnlLookList), "Panel1");
  auto* h = new QHBoxLayout(Panel1);
  h->addWidget(label("Stored Configuration Data Listing", Panel1));
  DBNavigator1 = named(new datalink::DbNavigator(DataSource2, *owner_.shell().messages, Panel1),
                       "DBNavigator1");
  h->addWidget(DBNavigator1);
  h->addStretch();
  Button3 = button("Button3", "Done", Panel1);
  h->addWidget(Button3);
  v->addWidget(Panel1);
  DBGrid2 = named(new QTableView(pnlLookList), "DBGrid2");
  v->addWidget(DBGrid2, 1);
  pnlLookList->setVisible(false);
  pnlLookList->lower();
}

void TfrmConvert::guarded(const std::function<void()>& handler) {
  owner_.shell().topLevel->run(handler);
}

void TfrmConvert::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (sized_) return;
  sized_ = true;
  // 679 x 480 is the outer size; the frame comes off the client area.
  QSize frame = frameGeometry().size() - size();
  resize(679 - frame.width(), 480 - frame.height());
}

void TfrmConvert::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && form_became_active(this))
    guarded([this] { FormActivate(); });
}

void TfrmConvert::closeEvent(QCloseEvent* e) {
  e->accept();
  guarded([this] { FormClose(); });
}

void TfrmConvert::showPage(const QString& name) {
  if (auto* page = ntbMain->findChild<QWidget*>(name)) ntbMain->setCurrentWidget(page);
}

void TfrmConvert::FormActivate() {
  if (firstActivated_) return;
  setWindowTitle(QString("Quillmere ") + QString::fromStdString(owner_.VersionText));
  firstActivated_ = true;
  {
    QSignalBlocker quiet(dttimDueDate);
    Ymd t = ymd_from_day(today().day);
    dttimDueDate->setDate(QDate(t.year, t.month, t.day));
  }
  showPage("Page1");
  AppFolder = owner_.shell().programFolder;
  if (!ends_with_separator(AppFolder)) AppFolder += path_separator();
  settings = std::make_unique<IniFile>(AppFolder + "Convert.ini");

  Settings s = read_settings(*settings, AppFolder);
  UseOlderExcelDrivers->setChecked(s.useOlderExcelDrivers);
  edtDestFolder->setText(QString::fromStdString(s.destFolder));
  edtDir->setText(QString::fromStdString(s.sourceFolder));
  edtFileName->setText(QString::fromStdString(s.sourceFile));
  edtManlist->setText(QString::fromStdString(s.manulist));
  tblFields.setFolder(s.flist);
  cdsStore.setFolder(AppFolder);
  cdsStore.setTableName("storelst.dbf");
  chkMakeFirstRecordHeaderFields->setChecked(s.makeFirstRecordHeaderFields);
  chkVendInfo->setChecked(s.vendorInfo);
  pnlFinial->setVisible(chkVendInfo->isChecked());

  StoreTables st{cdsStore, tblFields, DataSource2, *settings, AppFolder};
  prepare_store(st);

  Messages& m = *owner_.shell().messages;
  if (tblFields.exists()) {
    cmbFields->clear();
    cmbFields->addItems(to_qt(destination_fields(tblFields)));
    warn_about_engine_version(SourceDB->versionInUse(), m);
  } else {
    m.error(flistwin_missing_message(AppFolder));
  }
}

void TfrmConvert::ErrorDAO() {
  owner_.shell().topLevel->ErrorDAO();
}

void TfrmConvert::FormClose() {
  ErrorDAO();
  if (SourceDB && SourceDB->connected()) {
    SourceTable->close();
    SourceDB->setConnected(false);
  }
  DataSource1->setDataset(nullptr);
  SourceTable.reset();
  SourceDB.reset();
  cdsStore.close();
  if (settings) {
    Settings s;
    s.sourceFolder = edtDir->text().toStdString();
    s.sourceFile = edtFileName->text().toStdString();
    s.destFolder = edtDestFolder->text().toStdString();
    s.manulist = edtManlist->text().toStdString();
    s.vendorInfo = chkVendInfo->isChecked();
    s.makeFirstRecordHeaderFields = chkMakeFirstRecordHeaderFields->isChecked();
    s.useOlderExcelDrivers = UseOlderExcelDrivers->isChecked();
    write_settings(*settings, s);
  }
  settings.reset();
  owner_.close();
}

void TfrmConvert::dttimDueDateChange() {
  QDate d = dttimDueDate->date();
  DateTime dt{day_from_ymd(d.year(), d.month(), d.day()), 0};
  const QString text = QString::fromStdString(format_short_date(dt));
  // Through the field's link, so that the picked date reaches the record as typing would.
  if (auto* link = txtUpdate->findChild<datalink::DateEditBinder*>())
    link->setText(text);
  else
    txtUpdate->setText(text);
}

SourcePage TfrmConvert::readSourcePage() const {
  SourcePage p;
  p.edtDir = edtDir->text().toStdString();
  p.edtFileName = edtFileName->text().toStdString();
  p.headerChecked = chkMakeFirstRecordHeaderFields->isChecked();
  p.headerEnabled = chkMakeFirstRecordHeaderFields->isEnabled();
  p.useOlderExcelDrivers = UseOlderExcelDrivers->isChecked();
  p.grpExcelVisible = !grpExcel->isHidden();
  p.grpExcelEnabled = grpExcel->isEnabled();
  for (int i = 0; i < cmbSheets->count(); ++i)
    p.sheets.push_back(cmbSheets->itemText(i).toStdString());
  p.sheetText = cmbSheets->currentText().toStdString();
  p.btnNextPage2Enabled = btnNextPage2->isEnabled();
  p.lblCompleteVisible = !lblComplete->isHidden();
  p.lstbFields = items_of(lstbFields);
  p.lstFields = items_of(lstFields);
  p.caption = windowTitle().toStdString();
  return p;
}

void TfrmConvert::writeSourcePage(const SourcePage& p) {
  edtDir->setText(QString::fromStdString(p.edtDir));
  edtFileName->setText(QString::fromStdString(p.edtFileName));
  chkMakeFirstRecordHeaderFields->setEnabled(p.headerEnabled);
  grpExcel->setVisible(p.grpExcelVisible);
  grpExcel->setEnabled(p.grpExcelEnabled);
  {
    QSignalBlocker quiet(cmbSheets);
    std::vector<std::string> now;
    for (int i = 0; i < cmbSheets->count(); ++i)
      now.push_back(cmbSheets->itemText(i).toStdString());
    if (now != p.sheets) {
      cmbSheets->clear();
      cmbSheets->addItems(to_qt(p.sheets));
    }
    int at = cmbSheets->findText(QString::fromStdString(p.sheetText), Qt::MatchExactly);
    if (at >= 0) cmbSheets->setCurrentIndex(at);
    cmbSheets->setEditText(QString::fromStdString(p.sheetText));
  }
  btnNextPage2->setEnabled(p.btnNextPage2Enabled);
  lblComplete->setVisible(p.lblCompleteVisible);
  set_items(lstbFields, p.lstbFields);
  set_items(lstFields, p.lstFields);
  setWindowTitle(QString::fromStdString(p.caption));
}

SourceContext TfrmConvert::sourceContext() {
  return SourceContext{*SourceDB, *SourceTable, *owner_.shell().messages, owner_.VersionText};
}

void TfrmConvert::sourceRowsChanged() {
  DataSource1->setDataset(SourceTable && SourceTable->active() ? SourceTable.get() : nullptr);
}

void TfrmConvert::btnOpenFileClick() {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  OpenDialogRunner run = owner_.shell().openDialog;
  if (!run) run = [this](const OpenDialog& d) { return platform_open_dialog(this, d); };
  try {
    qm::app::btnOpenFileClick(p, c, opd, run);
  } catch (...) {
    writeSourcePage(p);
    sourceRowsChanged();
    throw;
  }
  writeSourcePage(p);
  sourceRowsChanged();
}

void TfrmConvert::onSourcePage(const std::function<void(SourcePage&, SourceContext&)>& handler) {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  // The page shows what the handler got to, even when it stops with an error.
  try {
    handler(p, c);
  } catch (...) {
    writeSourcePage(p);
    sourceRowsChanged();
    throw;
  }
  writeSourcePage(p);
  sourceRowsChanged();
}

void TfrmConvert::btnOpenSourceFileClick() {
  onSourcePage(qm::app::btnOpenSourceFileClick);
}

void TfrmConvert::cmbSheets1Change() {
  onSourcePage(qm::app::cmbSheets1Change);
}

void TfrmConvert::Button2Click() {
  onSourcePage(qm::app::Button2Click);
}

void TfrmConvert::load_field_list() {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  qm::app::load_field_list(p, c);
  writeSourcePage(p);
}

void TfrmConvert::setcaption() {
  SourcePage p = readSourcePage();
  qm::app::setcaption(p, sourceContext());
  writeSourcePage(p);
}

}  // namespace qm::app
