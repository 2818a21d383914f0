// The layouts of the wizard's four pages, the vendor panel and the stored configuration listing.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/convert_window.h"
#include "app/splash_window.h"
#include "app/widget_makers.h"

namespace qm::app {

using namespace widgets;

namespace {

// The Back and Next buttons go to the page their tag names; a Next waits, disabled, until
// its page's work is done.
QPushButton* back_button(const char* name, int tag, QWidget* page) {
  QPushButton* b = button(name, "<--&Back", page);
  b->setProperty("tag", tag);
  return b;
}

QPushButton* next_button(const char* name, const char* caption, int tag, QWidget* page) {
  QPushButton* b = button(name, caption, page);
  b->setProperty("tag", tag);
  b->setEnabled(false);
  return b;
}

// The foot of a page: its buttons at the right, in the order given.
QHBoxLayout* foot(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

}  // namespace

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
  btnNextPage2 = next_button("btnNextPage2", "6 &Next -->", 2, page);
  g->setRowStretch(6, 1);
  g->addLayout(foot({btnNextPage2}), 7, 0, 1, 5);
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
  btnbackPage1 = back_button("btnbackPage1", 1, page);
  btnNextPage3 = next_button("btnNextPage3", "3 &Next -->", 3, page);
  g->addLayout(foot({btnbackPage1, btnNextPage3}), 6, 0, 1, 3);
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
  btnBackPage2 = back_button("btnBackPage2", 2, page);
  btnNextPage4 = next_button("btnNextPage4", "7 &Next -->", 4, page);
  g->addLayout(foot({btnBackPage2, btnNextPage4}), 7, 0, 1, 5);
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
  btnBackPage = back_button("btnBackPage", 3, page);
  Button1 = button("Button1", "22 &Build File", page);
  bottom->addLayout(foot({btnBackPage, Button1}), 1, 5);
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

}  // namespace qm::app
