// Pages 2 and 3 of the wizard, the page flow, the stored configuration listing and the column
// view, driven through their widgets; the store is read back from the file after each step.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>
#include <QToolButton>
#include <map>

#include "app/screen_grid.h"
#include "app/tests/window_fixture.h"
#include "core/datetime.h"
#include "tables/tests/test_util.h"

using namespace qm;
using namespace qm::app;
using namespace qm::test;
using qm::tables::TableState;

namespace {

using Lines = std::vector<std::string>;

struct Stored {
  std::string name;
  std::string code;
  Lines mapping;
};

struct ConfigPages : Windows {
  // Configurations in storelst.dbf before the program starts.
  void store(const std::vector<Stored>& configs) {
    make_table(folder, "storelst.dbf", template_fields());
    DbfTable t;
    t.setFolder(folder);
    t.setTableName("storelst.dbf");
    t.open();
    for (const auto& c : configs) {
      t.append();
      t.fieldByName("STORENAME").setAsString(c.name);
      t.fieldByName("CODE").setAsString(c.code);
      t.fieldByName("FIELDSLIST").setLines(c.mapping);
      t.post();
    }
  }

  // One field of every record, in table order, as the file holds it now.
  std::vector<std::string> column(const char* field) {
    DbfTable t;
    t.setFolder(folder);
    t.setTableName("storelst.dbf");
    t.open();
    std::vector<std::string> r;
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName(field).asString());
    return r;
  }

  // Starts over the scripted source with a sheet of six columns open.
  TfrmConvert& startWithSheet() {
    useFake = true;
    make_program_folder();
    TfrmConvert& w = start();
    auto& book = fakeDb->files["/prices/list.xls"];
    book.tables = {"Master$"};
    book.columns["Master$"] = {"PART", "DESC", "LIST", "COST", "GROUP", "NOTE"};
    book.rows["Master$"] = {{"P-1", "Bolt", "1.50", "1.00", "Hardware", "n1"},
                            {"P-2", "Nut", "0.25", "0.10", "Hardware", "n2"}};
    w.edtDir->setText("/prices/");
    w.edtFileName->setText("list.xls");
    w.btnOpenSourceFile->click();
    EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
    return w;
  }

  static QString page(TfrmConvert& w) { return w.ntbMain->currentWidget()->objectName(); }

  static QStringList texts(QListWidget* l) {
    QStringList r;
    for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
    return r;
  }

  static QStringList qlines(const Lines& lines) {
    QStringList r;
    for (const auto& l : lines) r << QString::fromStdString(l);
    return r;
  }

  static void choose(QListWidget* l, const QString& text) {
    auto found = l->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_FALSE(found.isEmpty()) << text.toStdString();
    l->setCurrentItem(found.first());
  }

  static void toPage2(TfrmConvert& w) {
    ASSERT_TRUE(w.btnNextPage2->isEnabled());
    w.btnNextPage2->click();
    ASSERT_EQ(page(w), "Page2");
  }
};

const Lines kAcme = {"PARTNUMBER=0", "DESCRIPTN=1", "LEV1=ROWBREAK-4"};
const Lines kZeta = {"LISTPRICE=2"};

TEST_F(ConfigPages, AnEmptyStoreAndTheNewConfigurationMadeOnceHoweverOftenPressed) {
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  EXPECT_EQ(w.lsbConfigNames->count(), 0);
  EXPECT_FALSE(w.btnNextPage3->isEnabled());

  w.btnDeleteConfig->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(msgs.shown[0].text, "You must select a configuration name before deleting it.");
  EXPECT_TRUE(column("STORENAME").empty());

  w.btnNewConfig->click();
  EXPECT_TRUE(w.btnNextPage3->isEnabled());
  EXPECT_EQ(column("STORENAME"), (Lines{""}));
  EXPECT_EQ(column("STARTEXPRT"), (Lines{"1"}));
  for (const char* flag :
       {"BREAKONROW", "APPENDDATA", "ADDDESCRIP", "CABLE", "US_CANADA", "CONTRACTPR"})
    EXPECT_EQ(column(flag), (Lines{"False"})) << flag;
  EXPECT_EQ(column("UPDATEDATE"), (Lines{format_short_date(DateTime{today().day, 0})}));
  EXPECT_EQ(column("FIELDSLIST"), (Lines{""}));
  EXPECT_EQ(w.cdsStore.state(), TableState::Browse);
  // The controls show the new record.
  EXPECT_EQ(w.edeStart->text(), "1");
  EXPECT_FALSE(w.chkRowBreak->isChecked());
  EXPECT_EQ(w.lstbNew2->count(), 0);

  // A second press, and one after listing the names: the unnamed record is used again.
  w.btnNewConfig->click();
  w.btnPrevious->click();
  EXPECT_EQ(texts(w.lsbConfigNames), QStringList({""}));
  EXPECT_FALSE(w.btnNextPage3->isEnabled());
  w.btnNewConfig->click();
  EXPECT_EQ(w.lsbConfigNames->count(), 0);
  EXPECT_TRUE(w.btnNextPage3->isEnabled());
  EXPECT_EQ(column("STORENAME").size(), 1u);

  // A name of blanks counts as empty; a real name does not.
  QTest::keyClicks(w.dbeSaveAsName, "   ");
  w.btnNewConfig->click();
  EXPECT_EQ(column("STORENAME").size(), 1u);
  QTest::keyClicks(w.dbeSaveAsName, "Acme");
  w.btnNewConfig->click();
  EXPECT_EQ(column("STORENAME"), (Lines{"   Acme", ""}));
  EXPECT_EQ(msgs.shown.size(), 1u);
}

TEST_F(ConfigPages, TheNamesSortThemselvesAndAChoiceIsAnExactScan) {
  store({{"Zeta", "Z", kZeta},
         {"", "E", {}},
         {"Acme", "A1", kAcme},
         {"acme", "LC", {"COST_OF_1=3"}},
         {"Acme", "A2", {"DESCRIPTN=2"}}});
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  // The empty name first, and the table on its last record with that record's mapping.
  ASSERT_EQ(w.lsbConfigNames->count(), 5);
  EXPECT_EQ(w.lsbConfigNames->item(0)->text(), "");
  QStringList sorted = texts(w.lsbConfigNames);
  QStringList resorted = sorted;
  std::sort(resorted.begin(), resorted.end());
  EXPECT_EQ(sorted, resorted);
  EXPECT_EQ(sorted.count("Acme"), 2);
  EXPECT_TRUE(w.lsbConfigNames->selectedItems().isEmpty());
  EXPECT_FALSE(w.btnNextPage3->isEnabled());
  EXPECT_EQ(w.cdsStore.recNo(), 5);
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"DESCRIPTN=2"}));
  EXPECT_EQ(w.dbeVendCode->text(), "A2");

  // Either "Acme" makes the first of them current; "acme" is another configuration.
  choose(w.lsbConfigNames, "Acme");
  EXPECT_TRUE(w.btnNextPage3->isEnabled());
  EXPECT_EQ(w.cdsStore.recNo(), 3);
  EXPECT_EQ(w.dbeVendCode->text(), "A1");
  EXPECT_EQ(w.dbeSaveAsName->text(), "Acme");
  EXPECT_EQ(texts(w.lstbNew2), qlines(kAcme));
  EXPECT_EQ(w.lstbNew->toPlainText().toStdString(), "PARTNUMBER=0\nDESCRIPTN=1\nLEV1=ROWBREAK-4");
  w.lsbConfigNames->setCurrentRow(sorted.lastIndexOf("Acme"));
  EXPECT_EQ(w.dbeVendCode->text(), "A1");
  choose(w.lsbConfigNames, "acme");
  EXPECT_EQ(w.dbeVendCode->text(), "LC");
  EXPECT_EQ(w.dbeSaveAsName->text(), "acme");
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"COST_OF_1=3"}));

  // With the unnamed one current, "1a. New Configuration" takes it instead of adding one.
  choose(w.lsbConfigNames, "");
  EXPECT_EQ(w.dbeVendCode->text(), "E");
  w.btnNewConfig->click();
  EXPECT_EQ(column("STORENAME").size(), 5u);
  EXPECT_EQ(w.dbeVendCode->text(), "E");
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
}

TEST_F(ConfigPages, DeleteAsksAndRemovesOnlyTheFirstOfTwoNamedAlike) {
  store({{"Acme", "A1", kAcme}, {"Zeta", "Z", kZeta}, {"Acme", "A2", {}}});
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  choose(w.lsbConfigNames, "Acme");
  msgs.answer(MsgAnswer::No);
  w.btnDeleteConfig->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Confirmation);
  EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(msgs.shown[0].text, "Are you sure to delete configuration \"Acme\"?");
  EXPECT_EQ(column("CODE"), (Lines{"A1", "Z", "A2"}));
  EXPECT_TRUE(w.btnNextPage3->isEnabled()) << "No leaves everything as it was";
  EXPECT_EQ(texts(w.lstbNew2), qlines(kAcme));

  msgs.answer(MsgAnswer::Yes);
  w.btnDeleteConfig->click();
  EXPECT_EQ(column("CODE"), (Lines{"Z", "A2"}));
  EXPECT_EQ(texts(w.lsbConfigNames), QStringList({"Acme", "Zeta"}));
  EXPECT_FALSE(w.btnNextPage3->isEnabled());
  // Refilled: the table on its last record, showing its (empty) mapping.
  EXPECT_EQ(w.dbeVendCode->text(), "A2");
  EXPECT_EQ(w.lstbNew2->count(), 0);
  EXPECT_EQ(msgs.shown.size(), 2u);
}

TEST_F(ConfigPages, ThePageFlowByTagAndWhatEachArrivalDoes) {
  store({{"Acme", "A1", kAcme}, {"Zeta", "Z", kZeta}});
  TfrmConvert& w = startWithSheet();
  struct Button {
    QPushButton* b;
    int tag;
  } buttons[] = {{w.btnNextPage2, 2}, {w.btnbackPage1, 1}, {w.btnNextPage3, 3},
                 {w.btnBackPage2, 2}, {w.btnNextPage4, 4}, {w.btnBackPage, 3}};
  for (const auto& b : buttons) EXPECT_EQ(b.b->property("tag").toInt(), b.tag);

  toPage2(w);
  choose(w.lsbConfigNames, "Acme");
  w.btnNextPage3->click();
  ASSERT_EQ(page(w), "Page3");
  EXPECT_TRUE(w.btnNextPage4->isEnabled()) << "arrived with three lines";
  w.btnNextPage4->click();
  ASSERT_EQ(page(w), "Page4");
  EXPECT_FALSE(w.btnNextPage4->isEnabled());
  EXPECT_TRUE(w.pnlFinial->isHidden());
  w.chkVendInfo->setChecked(true);
  w.btnBackPage->click();
  EXPECT_EQ(page(w), "Page3");
  w.btnNextPage4->click();
  EXPECT_FALSE(w.pnlFinial->isHidden()) << "page 4 shows the vendor group as ticked";

  // Back to page 2 rescans: the last record is current and unsaved mapping changes are gone.
  w.btnBackPage->click();
  choose(w.lstbFields, "NOTE");
  choose(w.cmbFields, "COST_OF_1");
  w.btnAdd->click();
  EXPECT_EQ(w.lstbNew2->count(), 4);
  w.btnBackPage2->click();
  EXPECT_EQ(page(w), "Page2");
  EXPECT_FALSE(w.btnNextPage3->isEnabled());
  EXPECT_EQ(w.dbeVendCode->text(), "Z");
  EXPECT_EQ(texts(w.lstbNew2), qlines(kZeta));
  choose(w.lsbConfigNames, "Acme");
  EXPECT_EQ(texts(w.lstbNew2), qlines(kAcme));
  EXPECT_EQ(column("FIELDSLIST")[0], "PARTNUMBER=0\r\nDESCRIPTN=1\r\nLEV1=ROWBREAK-4\r\n");

  // A new configuration arrives at page 3 with nothing to go on with.
  w.btnNewConfig->click();
  w.btnNextPage3->click();
  EXPECT_EQ(page(w), "Page3");
  EXPECT_FALSE(w.btnNextPage4->isEnabled());

  // A tag that names no page does nothing.
  QPushButton odd;
  odd.setProperty("tag", 7);
  w.btnNextPage3Click(&odd);
  EXPECT_EQ(page(w), "Page3");
  w.btnBackPage2->click();
  w.btnbackPage1->click();
  EXPECT_EQ(page(w), "Page1");
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
}

TEST_F(ConfigPages, TheControlsEditTheCurrentRecordWhichAMovePostsAndCloseDiscards) {
  store({{"Acme", "A1", kAcme}, {"Zeta", "Z", kZeta}});
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  choose(w.lsbConfigNames, "Acme");
  EXPECT_EQ(w.cdsStore.state(), TableState::Browse);

  QTest::keyClicks(w.edeDBF, "acm");
  EXPECT_EQ(w.cdsStore.state(), TableState::Edit);
  EXPECT_EQ(w.edeDBF->text(), "ACM");
  QTest::keyClicks(w.txtCompany, "Acme Ltd");
  w.chkAddToExisting->click();
  w.DBCheckBox2->click();
  w.chkRowBreak->click();
  QTest::keyClicks(w.dbeVendCode, "v9");
  w.DBComboBox1->setCurrentIndex(0);
  emit w.DBComboBox1->activated(0);
  w.edeStart->clear();
  QTest::keyClicks(w.edeStart, "3");
  EXPECT_EQ(column("EXPORTDBF"), (Lines{"", ""})) << "nothing is written before the post";

  choose(w.lsbConfigNames, "Zeta");  // the move posts the changed record
  EXPECT_EQ(w.cdsStore.state(), TableState::Browse);
  EXPECT_EQ(column("EXPORTDBF"), (Lines{"ACM", ""}));
  EXPECT_EQ(column("COMPANY"), (Lines{"Acme Ltd", ""}));
  EXPECT_EQ(column("APPENDDATA"), (Lines{"True", ""}));
  EXPECT_EQ(column("CABLE"), (Lines{"True", ""}));
  EXPECT_EQ(column("BREAKONROW"), (Lines{"True", ""}));
  EXPECT_EQ(column("CODE"), (Lines{"A1V9", "Z"}));
  EXPECT_EQ(column("SERIALNUM"), (Lines{"Y", ""}));
  EXPECT_EQ(column("STARTEXPRT"), (Lines{"3", ""}));
  EXPECT_EQ(w.edeDBF->text(), "") << "the controls show the record moved to";
  EXPECT_FALSE(w.chkRowBreak->isChecked());

  // Unticking writes "False"; ticking and unticking again leaves a change to post.
  choose(w.lsbConfigNames, "Acme");
  EXPECT_TRUE(w.chkRowBreak->isChecked());
  w.chkRowBreak->click();
  choose(w.lsbConfigNames, "Zeta");
  EXPECT_EQ(column("BREAKONROW"), (Lines{"False", ""}));

  // The picked date goes into the record like a typed one.
  w.dttimDueDate->setDate(QDate(2026, 3, 1));
  EXPECT_EQ(w.cdsStore.state(), TableState::Edit);
  choose(w.lsbConfigNames, "Acme");
  DbfTable t;
  t.setFolder(folder);
  t.setTableName("storelst.dbf");
  t.open();
  t.last();
  EXPECT_EQ(t.fieldByName("UPDATEDATE").asDateTime().day, day_from_ymd(2026, 3, 1));
  t.close();

  // Closing the window discards a change not yet posted.
  QTest::keyClicks(w.txtPriceSheet, "March");
  EXPECT_EQ(w.cdsStore.state(), TableState::Edit);
  w.close();
  EXPECT_EQ(column("PRICESHEET"), (Lines{"", ""}));
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
}

TEST_F(ConfigPages, TheListingOverTheWindowWithItsGridAndNavigator) {
  store({{"Acme", "A1", kAcme}, {"Zeta", "Z", kZeta}});
  TfrmConvert& w = startWithSheet();
  EXPECT_TRUE(w.pnlLookList->isHidden());
  w.btnLookAtList->click();
  EXPECT_FALSE(w.pnlLookList->isHidden());
  EXPECT_EQ(w.pnlLookList->geometry(), w.rect());
  QWidget* at = w.childAt(w.width() / 2, w.height() / 2);
  ASSERT_NE(at, nullptr);
  EXPECT_TRUE(w.pnlLookList->isAncestorOf(at)) << "the listing lies in front";
  w.resize(800, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(w.pnlLookList->geometry(), w.rect());

  QAbstractItemModel* grid = w.DBGrid2->model();
  ASSERT_NE(grid, nullptr);
  const char* expect[] = {"STORENAME", "FILENAME",   "CODE",      "PARAMETER",  "SOURCE_ID",
                          "DEPT",      "UPDATEDATE", "EXPORTDBF", "STARTEXPRT", "SHEET",
                          "COMPANY",   "PRICESHEET", "STREET",    "CITY",       "STATE",
                          "ZIP",       "PHONE",      "FAX",       "APPENDDATA", "BREAKONROW",
                          "SOURCE",    "ADDDESCRIP"};
  ASSERT_EQ(grid->columnCount(), 22);
  for (int c = 0; c < 22; ++c) EXPECT_EQ(grid->headerData(c, Qt::Horizontal).toString(), expect[c]);
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->index(1, 2).data().toString(), "Z");

  auto* nav = w.DBNavigator1;
  using datalink::NavButton;
  // The navigator moves the configuration everywhere at once.
  nav->press(NavButton::Last);
  EXPECT_EQ(w.dbeVendCode->text(), "Z");
  EXPECT_EQ(texts(w.lstbNew2), qlines(kZeta));
  EXPECT_EQ(w.DBGrid2->currentIndex().row(), 1);
  nav->press(NavButton::Prior);
  EXPECT_EQ(texts(w.lstbNew2), qlines(kAcme));

  // Editing a cell, then Cancel, leaves the file as it was; Post stores it.
  ASSERT_TRUE(grid->setData(grid->index(0, 10), "Cancelled Co"));
  EXPECT_EQ(w.txtCompany->text(), "Cancelled Co");
  nav->press(NavButton::Cancel);
  EXPECT_EQ(w.txtCompany->text(), "");
  ASSERT_TRUE(grid->setData(grid->index(0, 10), "Posted Co"));
  nav->press(NavButton::Post);
  EXPECT_EQ(column("COMPANY"), (Lines{"Posted Co", ""}));

  // An inserted record starts empty and empties the mapping list; unchanged, a move drops it.
  nav->press(NavButton::Insert);
  EXPECT_EQ(w.lstbNew2->count(), 0);
  EXPECT_EQ(w.edeStart->text(), "");
  nav->press(NavButton::First);
  EXPECT_EQ(column("CODE").size(), 2u);
  nav->press(NavButton::Insert);
  QTest::keyClicks(w.dbeSaveAsName, "Third");
  nav->press(NavButton::Post);
  EXPECT_EQ(column("STORENAME"), (Lines{"Acme", "Zeta", "Third"}));
  EXPECT_EQ(column("STARTEXPRT"), (Lines{"", "", ""})) << "no starting values here";

  // Delete asks first.
  msgs.answer(MsgAnswer::No);
  nav->press(NavButton::Delete);
  EXPECT_EQ(column("STORENAME").size(), 3u);
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::YesNo);
  nav->press(NavButton::First);
  msgs.answer(MsgAnswer::Yes);
  nav->press(NavButton::Delete);
  EXPECT_EQ(column("STORENAME"), (Lines{"Zeta", "Third"}));
  EXPECT_EQ(texts(w.lstbNew2), qlines(kZeta)) << "emptied by the delete, then the new current";

  w.Button3->click();
  EXPECT_TRUE(w.pnlLookList->isHidden());
  EXPECT_EQ(page(w), "Page1") << "the wizard kept its page";
}

TEST_F(ConfigPages, Page3AddsTheThreeKindsOfLineAndDeletesAfterAsking) {
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  w.btnNewConfig->click();
  w.btnNextPage3->click();
  ASSERT_EQ(page(w), "Page3");
  EXPECT_EQ(texts(w.cmbFields),
            QStringList({"PARTNUMBER", "DESCRIPTN", "LISTPRICE", "COST_OF_1", "LEV1"}));

  // Without both selections.
  w.btnAdd->click();
  choose(w.lstbFields, "GROUP");
  EXPECT_EQ(w.lstFields->currentRow(), 4) << "Field # follows the source column";
  EXPECT_EQ(w.lstFields->currentItem()->text(), "  4");
  w.btnAdd->click();
  ASSERT_EQ(msgs.shown.size(), 2u);
  for (const auto& m : msgs.shown) {
    EXPECT_EQ(m.kind, MsgKind::Error);
    EXPECT_EQ(m.text,
              "You must select a Field in the field \r\ncombobox and a field in the listbox.");
  }
  EXPECT_FALSE(w.btnNextPage4->isEnabled());

  choose(w.cmbFields, "LEV1");
  w.btnAdd->click();
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"LEV1=4"}));
  EXPECT_TRUE(w.btnNextPage4->isEnabled());
  EXPECT_EQ(w.lstbFields->currentRow(), 4) << "the selections stay";
  EXPECT_EQ(w.cmbFields->currentItem()->text(), "LEV1");

  // Break levels ticked: the row-break line wins over the constant, which stays; the warning
  // comes first.
  w.chkRowBreak->click();
  EXPECT_EQ(w.cdsStore.state(), TableState::Edit);
  QTest::keyClicks(w.txtConstant, "A");
  msgs.answer(MsgAnswer::No);
  w.btnAdd->click();
  ASSERT_EQ(msgs.shown.size(), 3u);
  EXPECT_EQ(msgs.shown[2].kind, MsgKind::Warning);
  EXPECT_EQ(msgs.shown[2].text,
            "\"LEV1\" has already been included in a field to be exported!\r\nWould you like to "
            "continue?");
  EXPECT_EQ(w.lstbNew2->count(), 1);
  msgs.answer(MsgAnswer::Yes);
  w.btnAdd->click();
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"LEV1=4", "LEV1=ROWBREAK-4"}));
  EXPECT_EQ(w.txtConstant->text(), "A");
  // Not a break-level field: the constant, and the box empties.
  choose(w.cmbFields, "DESCRIPTN");
  w.btnAdd->click();
  EXPECT_EQ(w.lstbNew2->item(2)->text(), "DESCRIPTN=CONS-A");
  EXPECT_TRUE(w.txtConstant->text().isEmpty());
  choose(w.cmbFields, "PARTNUMBER");
  choose(w.lstbFields, "PART");
  w.btnAdd->click();
  EXPECT_EQ(w.lstbNew2->item(3)->text(), "PARTNUMBER=0");
  EXPECT_EQ(msgs.shown.size(), 4u);
  EXPECT_EQ(column("FIELDSLIST"), (Lines{""})) << "the mapping is stored by the build only";

  // Delete: refused without a selection, asked with the line, Cancel keeps it.
  w.btnDelete->click();
  EXPECT_EQ(msgs.shown.back().text, "You must select a export field to delete.");
  w.lstbNew2->setCurrentRow(1);
  msgs.answer(MsgAnswer::Cancel);
  w.btnDelete->click();
  EXPECT_EQ(msgs.shown.back().buttons, MsgButtons::YesCancel);
  EXPECT_EQ(msgs.shown.back().text, "Are you sure to delete this field?\r\nLEV1=ROWBREAK-4");
  EXPECT_EQ(w.lstbNew2->count(), 4);
  for (int left = 4; left > 0; --left) {
    w.lstbNew2->setCurrentRow(left == 4 ? 1 : 0);
    msgs.answer(MsgAnswer::Yes);
    w.btnDelete->click();
    EXPECT_EQ(w.lstbNew2->count(), left - 1);
    EXPECT_EQ(w.btnNextPage4->isEnabled(), left - 1 > 0);
  }
  EXPECT_EQ(msgs.shown.size(), 10u);
}

TEST_F(ConfigPages, SortStaysUntilTheNextStartAndLeavesTheMappingAlone) {
  TfrmConvert& w = startWithSheet();
  toPage2(w);
  w.btnNewConfig->click();
  w.btnNextPage3->click();
  choose(w.lstbFields, "PART");
  choose(w.cmbFields, "PARTNUMBER");
  w.btnAdd->click();
  choose(w.cmbFields, "COST_OF_1");
  w.btnAdd->click();
  w.chkSort->click();
  EXPECT_EQ(texts(w.cmbFields),
            QStringList({"COST_OF_1", "DESCRIPTN", "LEV1", "LISTPRICE", "PARTNUMBER"}));
  w.chkSort->click();
  EXPECT_FALSE(w.chkSort->isChecked());
  EXPECT_EQ(texts(w.cmbFields),
            QStringList({"COST_OF_1", "DESCRIPTN", "LEV1", "LISTPRICE", "PARTNUMBER"}));
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"PARTNUMBER=0", "COST_OF_1=0"}));
}

TEST_F(ConfigPages, TheColumnViewFollowsTheMappingOneWindowAtATime) {
  store({{"Acme", "A1", {"DESCRIPTN=1", "LEV1=ROWBREAK-4", "LEV2=CONS-A", "COST_OF_1=3"}},
         {"Zeta", "Z", {"LISTPRICE=2", "PARTNUMBER=9"}}});
  make_program_folder();
  useFake = true;
  TfrmConvert& w = start();

  // No source open: an empty grid and no message.
  w.btnViewSelectClick();
  ASSERT_NE(w.frmScreenGrid, nullptr);
  EXPECT_EQ(w.tag, 1);
  TfrmScreenGrid* view = w.frmScreenGrid;
  EXPECT_EQ(view->windowTitle(), "Select Column view");
  EXPECT_TRUE(view->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(view->windowType(), Qt::Tool);
  EXPECT_EQ(view->size(), QSize(584, 102));
  EXPECT_EQ(view->bntClose->text(), "&Close");
  EXPECT_EQ(view->bntClose->geometry(), QRect(248, 40, 75, 25));
  EXPECT_EQ(view->dbgColumn->model()->columnCount(), 0);
  EXPECT_TRUE(msgs.shown.empty());
  view->bntClose->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.tag, 0);
  EXPECT_EQ(w.frmScreenGrid, nullptr) << "destroyed when closed";

  auto& book = fakeDb->files["/prices/list.xls"];
  book.tables = {"Master$"};
  book.columns["Master$"] = {"PART", "DESC", "LIST", "COST", "GROUP"};
  book.rows["Master$"] = {{"P-1", "Bolt", "1.50", "1.00", "Hardware"}};
  w.edtDir->setText("/prices/");
  w.edtFileName->setText("list.xls");
  w.btnOpenSourceFile->click();
  toPage2(w);
  choose(w.lsbConfigNames, "Acme");
  w.btnNextPage3->click();

  w.btnViewSelect->click();
  view = w.frmScreenGrid;
  ASSERT_NE(view, nullptr);
  QAbstractItemModel* m = view->dbgColumn->model();
  ASSERT_EQ(m->columnCount(), 4);
  QStringList titles;
  for (int c = 0; c < 4; ++c) titles << m->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(titles, QStringList({"DESCRIPTN", "LEV1", "LEV2", "COST_OF_1"}));
  ASSERT_GE(m->rowCount(), 1);
  EXPECT_EQ(m->index(0, 0).data().toString(), "Bolt");
  EXPECT_FALSE(m->index(0, 1).data().isValid()) << "an unbound column shows nothing";
  EXPECT_EQ(m->index(0, 3).data().toString(), "1.00");
  EXPECT_EQ(msgs.texts(), (Lines{"'ROW' is not a valid integer value\r\nFor Field: LEV1",
                                 "'CON' is not a valid integer value\r\nFor Field: LEV2"}));
  for (const auto& s : msgs.shown) EXPECT_EQ(s.kind, MsgKind::Error);

  // Open already: the button does nothing.
  w.btnViewSelect->click();
  EXPECT_EQ(w.frmScreenGrid, view);
  EXPECT_EQ(w.findChildren<QWidget*>("frmScreenGrid").size(), 1);
  EXPECT_EQ(msgs.shown.size(), 2u);

  // Every add and delete rebuilds it, with its error boxes again.
  choose(w.lstbFields, "LIST");
  choose(w.cmbFields, "LISTPRICE");
  w.btnAdd->click();
  ASSERT_EQ(m->columnCount(), 5);
  EXPECT_EQ(m->index(0, 4).data().toString(), "1.50");
  EXPECT_EQ(msgs.shown.size(), 4u);
  w.lstbNew2->setCurrentRow(1);
  msgs.answer(MsgAnswer::Yes);
  w.btnDelete->click();
  EXPECT_EQ(m->columnCount(), 4);
  EXPECT_EQ(msgs.shown.size(), 6u);  // the question and the one row-less line left

  // So does a change of configuration; a column past the source's last shows its error.
  w.btnBackPage2->click();  // page 2 rescans to the last record, Zeta
  EXPECT_EQ(m->columnCount(), 2);
  EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "LISTPRICE");
  EXPECT_EQ(msgs.shown.back().text, "List index out of bounds (9)\r\nFor Field: PARTNUMBER");

  // Closed by its caption button: the flag drops, and the next press opens a new window.
  view->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.tag, 0);
  EXPECT_EQ(w.frmScreenGrid, nullptr);
  const size_t before = msgs.shown.size();
  choose(w.lsbConfigNames, "Acme");
  EXPECT_EQ(msgs.shown.size(), before) << "no view, no rebuild";
  w.btnViewSelectClick();
  ASSERT_NE(w.frmScreenGrid, nullptr);
  EXPECT_EQ(w.tag, 1);
  EXPECT_EQ(w.frmScreenGrid->dbgColumn->model()->columnCount(), 4);
}

// storelst.dbf as the Windows tool left it: a level-7 table with a long
// integer start row, logical flags, a date and a memo in 512-byte blocks.
TEST_F(ConfigPages, AStoreWrittenByTheWindowsToolOpensAndListsItsConfigurations) {
  using namespace qm::tables::test;
  std::vector<RawField> fields;
  for (const auto& d : template_fields()) {
    RawField f{d.name, d.type, d.length, d.decimals};
    if (d.name == "STARTEXPRT") f = {d.name, 'I', 4};
    fields.push_back(f);
  }
  std::vector<int> blocks;
  std::string dbt = dbt4_file({"PARTNUMBER=0\r\nDESCRIPTN=1\r\n", "LISTPRICE=2\r\n"}, blocks);
  auto record = [&](const std::string& name, std::int32_t start, bool rowBreak, int memo) {
    std::string r = " ";
    for (const auto& f : fields) {
      std::string v;
      if (f.name == "STORENAME") v = name;
      if (f.name == "UPDATEDATE") v = "20240301";
      if (f.type == 'L') v = f.name == "BREAKONROW" && rowBreak ? "T" : "F";
      if (f.name == "STARTEXPRT") {
        r += be32(static_cast<std::uint32_t>(start) ^ 0x80000000u);
        continue;
      }
      if (f.name == "FIELDSLIST") {
        r += pad_left(std::to_string(blocks[static_cast<size_t>(memo)]), 10, '0');
        continue;
      }
      r += pad_right(v, static_cast<size_t>(f.length));
    }
    return r;
  };
  write_bytes(folder + "storelst.dbt", dbt);
  write_bytes(folder + "storelst.dbf",
              level7_file(0x8C, fields,
                          {record("Supplier B", 3, true, 0), record("Supplier A", 2, false, 1)}));
  TfrmConvert& w = startWithSheet();
  EXPECT_EQ(w.cdsStore.fieldCount(), 29) << "taken as it is, not rebuilt";
  toPage2(w);
  EXPECT_EQ(texts(w.lsbConfigNames), QStringList({"Supplier A", "Supplier B"}));
  choose(w.lsbConfigNames, "Supplier B");
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"PARTNUMBER=0", "DESCRIPTN=1"}));
  EXPECT_EQ(w.edeStart->text(), "3");
  EXPECT_TRUE(w.chkRowBreak->isChecked());
  EXPECT_EQ(w.txtUpdate->text(), "3/1/2024");
  choose(w.lsbConfigNames, "Supplier A");
  EXPECT_EQ(texts(w.lstbNew2), QStringList({"LISTPRICE=2"}));
  EXPECT_FALSE(w.chkRowBreak->isChecked());

  // And takes an edit: the start row goes back into the long integer.
  w.edeStart->clear();
  QTest::keyClicks(w.edeStart, "12");
  choose(w.lsbConfigNames, "Supplier B");
  EXPECT_EQ(column("STARTEXPRT"), (Lines{"3", "12"}));
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
}

}  // namespace

// The font library keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
