// Page 4's vendor group and the vendor panel driven through the wizard's widgets, over a copy
// of the sample Tessaro folder. The configuration record is checked in cdsStore itself.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <algorithm>

#include "app/tests/window_fixture.h"
#include "config/tests/test_folder.h"
#include "core/text.h"

using namespace qm;
using namespace qm::test;

namespace {

struct Vendor {
  std::string code, company, id, invtlink, alias, extra2;
  bool us = false;
};

struct VendorWindows : Windows {
  testkit::TestFolder tess;
  std::string manulist;
  std::vector<OpenDialog> openShown;
  std::vector<SaveDialog> saveShown;
  std::vector<std::string> saveAnswers;

  void SetUp() override {
    Windows::SetUp();
    manulist = testkit::copy_sample_tessaro(tess);
    // The sample lists its vendors in the same order by code, company and ID; reversed IDs and
    // one company renamed tell the three orders apart.
    DbfTable t;
    t.setFolder(manulist);
    t.setTableName("prvendor.DBF");
    t.setIndexName("CODE");
    t.open();
    int n = static_cast<int>(t.recordCount());
    for (t.first(); !t.eof(); t.next(), --n) {
      t.edit();
      t.fieldByName("ID").setAsString("V" + std::to_string(5000 + n));
      if (t.fieldByName("CODE").asString() == "ACM001")
        t.fieldByName("COMPANY").setAsString("Zephyr Acme Electrical");
      t.post();
    }
    shell.openDialog = [this](const OpenDialog& d) -> std::optional<std::string> {
      openShown.push_back(d);
      if (dialogAnswers.empty()) return std::nullopt;
      std::string a = dialogAnswers.front();
      dialogAnswers.erase(dialogAnswers.begin());
      return a;
    };
    shell.saveDialog = [this](const SaveDialog& d) -> std::optional<std::string> {
      saveShown.push_back(d);
      if (saveAnswers.empty()) return std::nullopt;
      std::string a = saveAnswers.front();
      saveAnswers.erase(saveAnswers.begin());
      return a;
    };
  }

  // The wizard over the sample folder with one posted configuration.
  TfrmConvert& startWithConfiguration(const std::string& code = "") {
    make_program_folder();
    TfrmConvert& w = start();
    w.edtManlist->setText(QString::fromStdString(manulist));
    EXPECT_TRUE(w.cdsStore.active());
    w.cdsStore.append();
    w.cdsStore.fieldByName("STORENAME").setAsString("Sample");
    w.cdsStore.fieldByName("CODE").setAsString(code);
    w.cdsStore.post();
    w.dbeVendCode->setText(QString::fromStdString(code));
    return w;
  }

  // The sample vendors in the order of one of the look-up tags.
  std::vector<Vendor> vendorsIn(const char* tag, const std::string& folder = "") {
    DbfTable t;
    t.setFolder(folder.empty() ? manulist : folder);
    t.setTableName("prvendor.DBF");
    t.setIndexName(tag);
    t.open();
    std::vector<Vendor> r;
    for (t.first(); !t.eof(); t.next())
      r.push_back({t.fieldByName("CODE").asString(), t.fieldByName("COMPANY").asString(),
                   t.fieldByName("ID").asString(), t.fieldByName("INVTLINK").asString(),
                   t.fieldByName("ALIASNAME1").asString(), t.fieldByName("EXTRA2").asString(),
                   t.fieldByName("US_COMPANY").asBoolean()});
    return r;
  }

  static std::string cell(TfrmConvert& w, int row, int column) {
    QAbstractItemModel* m = w.DBGrid3->model();
    return m->data(m->index(row, column)).toString().toStdString();
  }
  // The first column (CODE) of every row the grid shows.
  static std::vector<std::string> gridCodes(TfrmConvert& w) {
    QAbstractItemModel* m = w.DBGrid3->model();
    while (m->canFetchMore({})) m->fetchMore({});
    std::vector<std::string> r;
    for (int i = 0; i < m->rowCount(); ++i) r.push_back(cell(w, i, 0));
    return r;
  }
  static std::string currentCode(TfrmConvert& w) {
    EXPECT_TRUE(w.DBGrid3->currentIndex().isValid());
    return cell(w, w.DBGrid3->currentIndex().row(), 0);
  }
  static std::vector<std::string> codes(const std::vector<Vendor>& v) {
    std::vector<std::string> r;
    for (const auto& x : v) r.push_back(x.code);
    return r;
  }
  static bool panelShown(TfrmConvert& w) {
    EXPECT_NE(w.pnlVendor->isHidden(), w.DBGrid1->isHidden()) << "one takes the other's place";
    return !w.pnlVendor->isHidden();
  }
  std::string store(TfrmConvert& w, const char* field) {
    return w.cdsStore.fieldByName(field).asString();
  }
};

TEST_F(VendorWindows, TheVendorGroupFollowsItsTick) {
  make_program_folder();
  TfrmConvert& w = start();
  EXPECT_TRUE(w.pnlFinial->isHidden());
  w.chkVendInfo->click();
  EXPECT_FALSE(w.pnlFinial->isHidden());
  w.chkVendInfo->click();
  EXPECT_TRUE(w.pnlFinial->isHidden());
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(VendorWindows, BrowsingForTheManufacturerListTakesItsFolder) {
  make_program_folder();
  TfrmConvert& w = start();
  w.edtManlist->setText("/old/place/");
  dialogAnswers = {join_path(manulist, "manulist.dbf")};
  w.btnAlaLoc->click();
  ASSERT_EQ(openShown.size(), 1u);
  EXPECT_EQ(openShown[0].fileName, "Manulist.dbf");
  EXPECT_EQ(openShown[0].defaultExt, "*.dbf");
  EXPECT_EQ(openShown[0].initialDir, "/old/place/");
  EXPECT_EQ(openShown[0].filter, "Dbase *.dbf|*.dbf");
  EXPECT_EQ(w.edtManlist->text().toStdString(), manulist);
  EXPECT_TRUE(ends_with_separator(w.edtManlist->text().toStdString()));
  EXPECT_EQ(w.opd.defaultExt, "*.xls") << "page 1 gets its workbooks back";

  // Cancelling keeps the folder.
  w.btnAlaLoc->click();
  EXPECT_EQ(openShown.size(), 2u);
  EXPECT_EQ(openShown[1].initialDir, manulist);
  EXPECT_EQ(w.edtManlist->text().toStdString(), manulist);
  EXPECT_EQ(w.opd.defaultExt, "*.xls");
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(VendorWindows, TheDestinationFolderComesFromTheProposedPriceFile) {
  make_program_folder();
  TfrmConvert& w = start();
  w.edtDestFolder->setText("/before/");
  struct Refused {
    const char* id;
    const char* start;
    const char* text;
  } refused[] = {
      {"", "1",
       "You must enter a manufacturer of 3 to 4 characters\r\nin order to pick a destination "
       "folder."},
      {"AB", "", "You must enter a record number to start exporting data."},
  };
  for (const auto& r : refused) {
    msgs.shown.clear();
    w.edeDBF->setText(r.id);
    w.edeStart->setText(r.start);
    w.btnDest->click();
    ASSERT_EQ(msgs.shown.size(), 1u) << r.id;
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
    EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(msgs.shown[0].text, r.text);
    EXPECT_TRUE(saveShown.empty()) << "no dialog after a refusal";
  }
  msgs.shown.clear();

  // Two letters pass: only emptiness is refused.
  w.edeDBF->setText("AB");
  w.edeStart->setText("1");
  w.btnDest->click();
  ASSERT_EQ(saveShown.size(), 1u);
  EXPECT_EQ(saveShown[0].fileName, "ABLIST.dbf");
  EXPECT_EQ(w.edtDestFolder->text(), "/before/") << "cancelled";

  w.edeDBF->setText("ABC");
  const std::string out = separator_string() + "out";
  saveAnswers = {join_path(out, "ABCLIST.dbf")};
  w.btnDest->click();
  ASSERT_EQ(saveShown.size(), 2u);
  EXPECT_EQ(saveShown[1].title, "Select a path to export your file.");
  EXPECT_EQ(saveShown[1].filter, "Dbase *.dbf|*.dbf");
  EXPECT_EQ(saveShown[1].fileName, "ABCLIST.dbf");
  EXPECT_EQ(saveShown[1].initialDir, "/before/");
  EXPECT_EQ(w.edtDestFolder->text().toStdString(), out + separator_string());
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(VendorWindows, TheConfigurationsVendorCodeOpensThePanelOnThatVendorInCodeOrder) {
  const std::vector<Vendor> byCode = vendorsIn("CODE");
  ASSERT_GE(byCode.size(), 4u);
  const Vendor& wanted = byCode[byCode.size() / 2];
  TfrmConvert& w = startWithConfiguration(wanted.code);
  ASSERT_TRUE(w.chkCompany->isChecked());
  EXPECT_FALSE(panelShown(w));

  w.Button4->click();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_TRUE(panelShown(w));
  EXPECT_TRUE(w.chkCode->isChecked());
  EXPECT_TRUE(iequals(w.tblVendor.indexName(), "code"));
  EXPECT_EQ(gridCodes(w), codes(byCode));
  EXPECT_EQ(currentCode(w), wanted.code);
  EXPECT_EQ(w.tblVendor.fieldByName("CODE").asString(), wanted.code);

  // The grid's columns.
  QAbstractItemModel* m = w.DBGrid3->model();
  QStringList titles;
  for (int c = 0; c < m->columnCount(); ++c) titles << m->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(titles, QStringList({"CODE", "COMPANY", "ID", "Manufacturers ID", "Lit Vendor"}));
  EXPECT_EQ(w.DBGrid3->columnWidth(1), 188);
  EXPECT_EQ(w.DBGrid3->columnWidth(2), 97);
  // At least its designed 92 pixels, and wide enough for its title.
  EXPECT_GE(w.DBGrid3->columnWidth(3), 92);
  EXPECT_GT(w.DBGrid3->columnWidth(3),
            QFontMetrics(w.DBGrid3->horizontalHeader()->font()).horizontalAdvance(titles[3]));
  EXPECT_EQ(cell(w, w.DBGrid3->currentIndex().row(), 1), wanted.company);
  EXPECT_EQ(cell(w, w.DBGrid3->currentIndex().row(), 3), wanted.invtlink);
  EXPECT_EQ(w.DBGrid3->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(VendorWindows, WithoutAVendorCodeThePanelKeepsTheLastModeOnItsFirstRow) {
  const std::vector<Vendor> byCompany = vendorsIn("COMPANY"), byId = vendorsIn("ID");
  ASSERT_NE(codes(byCompany), codes(byId)) << "the sample must tell the orders apart";
  TfrmConvert& w = startWithConfiguration();
  w.Button4->click();
  EXPECT_TRUE(panelShown(w));
  EXPECT_TRUE(w.chkCompany->isChecked());
  EXPECT_EQ(gridCodes(w), codes(byCompany));
  EXPECT_EQ(currentCode(w), byCompany.front().code);

  // A new mode shows its order at once, on the same vendor.
  const int row = 2;
  w.DBGrid3->setCurrentIndex(w.DBGrid3->model()->index(row, 0));
  ASSERT_EQ(w.tblVendor.fieldByName("CODE").asString(), byCompany[row].code);
  w.chkID->click();
  EXPECT_EQ(gridCodes(w), codes(byId));
  EXPECT_EQ(currentCode(w), byCompany[row].code);

  w.Button6->click();
  EXPECT_FALSE(panelShown(w));
  EXPECT_FALSE(w.tblVendor.active());
  // The registration sets the vendor table back to company order between look-ups.
  w.tblVendor.setIndexName("company");
  w.Button4->click();
  EXPECT_TRUE(w.chkID->isChecked());
  EXPECT_EQ(gridCodes(w), codes(byId));
  EXPECT_EQ(currentCode(w), byId.front().code);
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(VendorWindows, AVendorTableThatCannotBeOpenedBeepsAndKeepsTheSourceGrid) {
  TfrmConvert& w = startWithConfiguration("ACM001");
  struct Case {
    std::string folder;
    const char* what;
  } cases[] = {{tess.folder("empty"), "no vendor table"},
               {join_path(tess.folder("x"), "gone") + separator_string(), "no folder"}};
  for (const auto& c : cases) {
    msgs.shown.clear();
    msgs.beeps = 0;
    w.edtManlist->setText(QString::fromStdString(c.folder));
    w.Button4->click();
    EXPECT_EQ(msgs.beeps, 1) << c.what;
    ASSERT_EQ(msgs.shown.size(), 1u) << c.what;
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Plain);
    EXPECT_EQ(msgs.shown[0].text, "Could not open Vendor File in path:" + c.folder);
    EXPECT_FALSE(panelShown(w)) << c.what;
    EXPECT_FALSE(w.tblVendor.active());
  }
}

TEST_F(VendorWindows, LiveFindMovesToTheNearestKeyOnEveryKeystroke) {
  const std::vector<Vendor> byCompany = vendorsIn("COMPANY"), byCode = vendorsIn("CODE");
  TfrmConvert& w = startWithConfiguration();
  w.Button4->click();
  ASSERT_TRUE(panelShown(w));
  auto firstAtOrAfter = [](const std::vector<Vendor>& v, const std::string& key, bool company) {
    for (const auto& x : v)
      if ((company ? x.company : x.code).compare(0, key.size(), key) >= 0) return x.code;
    return std::string();
  };

  // Typed letters become capitals; each one moves the grid.
  QTest::keyClick(w.Edit1, 'a');
  EXPECT_EQ(w.Edit1->text(), "A");
  EXPECT_EQ(currentCode(w), firstAtOrAfter(byCompany, "A", true));
  QTest::keyClick(w.Edit1, 'c');
  EXPECT_EQ(w.Edit1->text(), "AC");
  EXPECT_EQ(currentCode(w), firstAtOrAfter(byCompany, "AC", true));
  QTest::keyClicks(w.Edit1, "ZZZZ");
  // Past the last company: the grid stays on a vendor.
  EXPECT_FALSE(currentCode(w).empty());

  // A mode change empties the box and shows the new order from its first row.
  w.chkCode->click();
  EXPECT_TRUE(w.Edit1->text().isEmpty());
  EXPECT_EQ(gridCodes(w), codes(byCode));
  EXPECT_EQ(currentCode(w), byCode.front().code);
  const Vendor& mid = byCode[byCode.size() / 2];
  QTest::keyClicks(w.Edit1, QString::fromStdString(mid.code.substr(0, 3)).toLower());
  EXPECT_EQ(currentCode(w), firstAtOrAfter(byCode, mid.code.substr(0, 3), false));
  EXPECT_EQ(currentCode(w), mid.code);
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(VendorWindows, TakeCopiesTheVendorIntoTheConfigurationAndCancelCopiesNothing) {
  const std::vector<Vendor> byCompany = vendorsIn("COMPANY");
  const Vendor& v = byCompany[3];
  TfrmConvert& w = startWithConfiguration();
  w.Button4->click();
  w.DBGrid3->setCurrentIndex(w.DBGrid3->model()->index(3, 0));
  w.cmdTake->click();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_FALSE(panelShown(w));
  EXPECT_FALSE(w.tblVendor.active());
  EXPECT_EQ(w.cdsStore.state(), tables::TableState::Edit) << "left for the build to post";
  EXPECT_EQ(store(w, "CODE"), v.code);
  EXPECT_EQ(store(w, "SOURCE_ID"), v.id);
  EXPECT_EQ(store(w, "DEPT"), v.invtlink.substr(0, 4));  // the configuration's DEPT is 4 wide
  EXPECT_EQ(store(w, "SHEET"), v.alias);
  EXPECT_EQ(store(w, "CONVERSION"), v.extra2);
  EXPECT_EQ(w.cdsStore.fieldByName("US_CANADA").asBoolean(), v.us);
  {
    DbfTable onDisk;
    onDisk.setFolder(folder);
    onDisk.setTableName("storelst.dbf");
    onDisk.open();
    onDisk.first();
    EXPECT_EQ(onDisk.fieldByName("CODE").asString(), "") << "nothing posted yet";
  }

  // Cancel: another vendor in the grid, nothing copied.
  w.cdsStore.post();
  w.dbeVendCode->setText(QString::fromStdString(v.code));
  w.Button4->click();
  ASSERT_TRUE(panelShown(w));
  EXPECT_EQ(currentCode(w), v.code);
  w.DBGrid3->setCurrentIndex(w.DBGrid3->model()->index(0, 0));
  ASSERT_NE(currentCode(w), v.code);
  w.Button6->click();
  EXPECT_FALSE(panelShown(w));
  EXPECT_FALSE(w.tblVendor.active());
  EXPECT_EQ(w.cdsStore.state(), tables::TableState::Browse);
  EXPECT_EQ(store(w, "CODE"), v.code);
  EXPECT_EQ(store(w, "SHEET"), v.alias);

  // A new configuration not yet posted takes the vendor; the posted one stays as it was.
  w.cdsStore.append();
  w.cdsStore.fieldByName("STORENAME").setAsString("Second");
  w.dbeVendCode->setText("");
  w.Button4->click();
  EXPECT_TRUE(w.chkCode->isChecked()) << "the last look-up's mode";
  w.DBGrid3->setCurrentIndex(w.DBGrid3->model()->index(1, 0));
  w.cmdTake->click();
  EXPECT_EQ(w.cdsStore.state(), tables::TableState::Insert);
  EXPECT_EQ(store(w, "CODE"), vendorsIn("CODE")[1].code);
  w.cdsStore.post();
  EXPECT_EQ(w.cdsStore.recordCount(), 2);
  w.cdsStore.first();
  EXPECT_EQ(store(w, "CODE"), v.code);
  EXPECT_EQ(store(w, "STORENAME"), "Sample");
}

TEST_F(VendorWindows, ADoubleClickOnARowTakesThatVendor) {
  const std::vector<Vendor> byCompany = vendorsIn("COMPANY");
  TfrmConvert& w = startWithConfiguration();
  w.Button4->click();
  ASSERT_TRUE(panelShown(w));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QModelIndex at = w.DBGrid3->model()->index(4, 1);
  const QRect r = w.DBGrid3->visualRect(at);
  ASSERT_FALSE(r.isEmpty());
  QTest::mouseClick(w.DBGrid3->viewport(), Qt::LeftButton, {}, r.center());
  // The click may have scrolled the row into full view.
  const QRect now = w.DBGrid3->visualRect(at);
  QTest::mouseDClick(w.DBGrid3->viewport(), Qt::LeftButton, {}, now.center());
  EXPECT_FALSE(panelShown(w));
  EXPECT_EQ(store(w, "CODE"), byCompany[4].code);
  EXPECT_EQ(store(w, "SHEET"), byCompany[4].alias);
  EXPECT_EQ(w.cdsStore.state(), tables::TableState::Edit);
}

TEST_F(VendorWindows, AVendorTableWithoutACopiedFieldStopsTakeAtThatField) {
  // The sample vendor table without ALIASNAME1, with its look-up tags.
  std::string lacking = tess.folder("lacking");
  {
    DbfTable from;
    from.setFolder(manulist);
    from.setTableName("prvendor.DBF");
    std::vector<FieldDef> defs = from.fieldDefs();
    defs.erase(std::remove_if(defs.begin(), defs.end(),
                              [](const FieldDef& d) { return iequals(d.name, "ALIASNAME1"); }),
               defs.end());
    make_table(lacking, "prvendor.DBF", defs);
    DbfTable to;
    to.setFolder(lacking);
    to.setTableName("prvendor.DBF");
    to.setExclusive(true);
    to.open();
    from.open();
    for (from.first(); !from.eof(); from.next()) {
      to.append();
      for (const auto& d : defs)
        to.fieldByName(d.name).setAsString(from.fieldByName(d.name).asString());
      to.post();
    }
    for (const char* tag : {"COMPANY", "ID", "CODE"}) to.addIndex(tag, tag);
  }
  const Vendor v = vendorsIn("COMPANY").front();
  TfrmConvert& w = startWithConfiguration();
  w.edtManlist->setText(QString::fromStdString(lacking));
  w.Button4->click();
  ASSERT_TRUE(panelShown(w)) << (msgs.shown.empty() ? "" : msgs.shown[0].text);
  w.cmdTake->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_TRUE(panelShown(w)) << "the panel stays open";
  EXPECT_TRUE(w.tblVendor.active());
  // The fields before the missing one keep their new values.
  EXPECT_EQ(store(w, "CODE"), v.code);
  EXPECT_EQ(store(w, "SOURCE_ID"), v.id);
  EXPECT_EQ(store(w, "SHEET"), "");
  EXPECT_EQ(store(w, "CONVERSION"), "");
  w.Button6->click();
  EXPECT_FALSE(panelShown(w));
  EXPECT_FALSE(w.tblVendor.active());
}

}  // namespace

// Fontconfig keeps its caches until the process ends; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
