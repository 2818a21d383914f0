// "22 &Build File" through the wizard over the source engine: price lists saved by spreadsheet
// software opened on page 1, page 4 typed in, the price file built and registered.
#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <functional>

#include "app/report_window.h"
#include "app/tests/window_fixture.h"
#include "config/tests/test_folder.h"
#include "core/datetime.h"
#include "core/paths.h"

namespace qm::test {
namespace {

// The separator the messages name: the platform's own.
const std::string kSep = separator_string();

const QStringList kMapping = {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"};

std::string fixture(const std::string& name) {
  return join_path(QM_SOURCE_DIR, "pricefile/tests/fixtures/" + name);
}

std::uint64_t file_hash(const std::string& path) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : slurp(path)) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::vector<std::string> split_csv_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

struct BuildWindow : Windows {
  std::string out, data;

  void prepare() {
    for (const char* f : {"exprtwin.dbf", "flistwin.dbf", "filelwin.dbf"})
      testkit::put_data_file(folder, f);
    out = folder + "out" + separator_string();
    fs::create_directories(to_fs_path(out));
    fs::copy(to_fs_path(join_path(QM_BIN_DIR, "sample/Tessaro")), to_fs_path(folder + "Tessaro"),
             fs::copy_options::recursive);
    data = resolve_path(folder + "Tessaro/Data") + separator_string();
  }

  void open(TfrmConvert& w, const std::string& path) {
    w.edtDir->setText(QString::fromStdString(folder_of(path)));
    w.edtFileName->setText(QString::fromStdString(file_name_of(path)));
    w.btnOpenSourceFile->click();
    ASSERT_TRUE(w.btnNextPage2->isEnabled()) << (msgs.shown.empty() ? "" : msgs.shown[0].text);
  }

  void type(QLineEdit* e, const std::string& text) {
    e->clear();
    QTest::keyClicks(e, QString::fromStdString(text));
  }

  void fillPage4(TfrmConvert& w, const std::string& startRow, bool vendor) {
    w.showPage("Page4");
    type(w.edeDBF, "ACME");
    type(w.edtDestFolder, out);
    type(w.dbeSaveAsName, "Acme monthly");
    type(w.edeStart, startRow);
    type(w.txtUpdate, "11/1/2026");
    type(w.txtPriceSheet, "Nov 2026");
    type(w.txtCompany, "Acme Electrical Supply");
    w.lstbNew2->clear();
    w.lstbNew2->addItems(kMapping);
    w.chkVendInfo->setChecked(vendor);
    if (vendor) {
      type(w.edtManlist, data);
      type(w.dbeVendCode, "ACM001");
      type(w.dbeVendSource, "V1001");
    }
  }

  std::vector<std::string> parts() {
    DbfTable t;
    t.setFolder(out);
    t.setTableName("ACMELIST.dbf");
    t.open();
    std::vector<std::string> r;
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName("PARTNUMBER").asString());
    return r;
  }

  QString currentPage(TfrmConvert& w) { return w.ntbMain->currentWidget()->objectName(); }
};

TEST_F(BuildWindow, TheSampleWorkbookBecomesARegisteredPriceFile) {
  prepare();
  TfrmConvert& w = start();
  const std::string src = join_path(QM_BIN_DIR, "sample/acme-pricelist.xlsx");
  const std::uint64_t before = file_hash(src);
  open(w, src);
  fillPage4(w, "2", true);

  int shownDuringWalk = 0, maximum = -1, lastValue = -1;
  QObject::connect(w.prgBuild, &QProgressBar::valueChanged, [&](int v) {
    shownDuringWalk += w.prgBuild->isVisible() ? 1 : 0;
    maximum = w.prgBuild->maximum();
    lastValue = v;
  });
  w.Button1->click();

  EXPECT_TRUE(msgs.shown.empty()) << msgs.shown[0].text;
  EXPECT_TRUE(w.lblComplete->isVisible());
  EXPECT_EQ(w.lblComplete->text(), "Import complete! 30 Records");
  EXPECT_FALSE(w.btnNextPage2->isEnabled());
  EXPECT_EQ(currentPage(w), "Page1");
  EXPECT_FALSE(w.SourceDB->connected());
  EXPECT_EQ(w.DBGrid1->model()->rowCount(), 0);
  EXPECT_EQ(msgs.beeps, 1);
  EXPECT_EQ(msgs.busyDepth, 0);
  // The bar followed the walk over the sheet's 31 rows below its field names, then went.
  EXPECT_GT(shownDuringWalk, 0);
  EXPECT_EQ(maximum, 31);
  EXPECT_EQ(lastValue, 31);
  EXPECT_FALSE(w.prgBuild->isVisible());

  std::vector<std::string> p = parts();
  ASSERT_EQ(p.size(), 31u);
  EXPECT_EQ(p[0], "0");
  EXPECT_EQ(p[1], "AC-1001");
  EXPECT_EQ(p[30], "AC-9000");
  EXPECT_EQ(file_hash(src), before);

  for (const char* list : {"filelist.dbf", "Datelist.dbf"}) {
    DbfTable t;
    t.setFolder(out);
    t.setTableName(list);
    t.open();
    ASSERT_EQ(t.recordCount(), 1) << list;
    t.first();
    EXPECT_EQ(t.fieldByName("file").asString(), "ACME");
  }
  DbfTable manulist;
  manulist.setFolder(data);
  manulist.setTableName("manulist.dbf");
  manulist.open();
  bool registered = false;
  for (manulist.first(); !manulist.eof(); manulist.next())
    registered = registered || manulist.fieldByName("file").asString() == "ACME";
  EXPECT_TRUE(registered);

  // The configuration was saved with its mapping and identifier.
  w.cdsStore.first();
  EXPECT_EQ(
      w.cdsStore.fieldByName("FIELDSLIST").lines(),
      (std::vector<std::string>{"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"}));
  EXPECT_EQ(w.cdsStore.fieldByName("FILENAME").asString(), "ACME");
  EXPECT_EQ(w.cdsStore.fieldByName("UPDATEDATE").asDateTime(),
            (DateTime{day_from_ymd(2026, 11, 1), 0}));
}

// Every file under the program folder (the destination and Tessaro folders are in it).
std::map<std::string, std::uint64_t> files_under(const std::string& folder) {
  std::map<std::string, std::uint64_t> m;
  for (const auto& e : fs::recursive_directory_iterator(to_fs_path(folder)))
    if (e.is_regular_file()) m[from_fs_path(e.path())] = file_hash(from_fs_path(e.path()));
  return m;
}

TEST_F(BuildWindow, PreviewAndDetailsShowTheReportFromTheKeyboard) {
  prepare();
  TfrmConvert& w = start();
  open(w, join_path(QM_BIN_DIR, "sample/acme-pricelist.xlsx"));
  fillPage4(w, "2", true);
  const std::string saved = folder + "saved-notes.csv";
  shell.saveDialog = [&](const SaveDialog&) -> std::optional<std::string> { return saved; };
  const auto before = files_under(folder);
  auto press = [](QWidget* target, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    target->setFocus();
    QTest::keyClick(target, key, mods);
  };

  press(w.btnPreview, Qt::Key_Space);
  QPointer<ReportWindow> preview = w.findChild<ReportWindow*>("frmReport");
  ASSERT_TRUE(preview);
  EXPECT_TRUE(msgs.shown.empty()) << msgs.shown[0].text;
  EXPECT_TRUE(preview->isVisible());
  EXPECT_TRUE(preview->report().dryRun);
  EXPECT_EQ(files_under(folder), before);
  EXPECT_EQ(currentPage(w), "Page4");
  EXPECT_TRUE(w.lblComplete->isHidden());
  // The records as they would be stored: the heading record, then the parts.
  ASSERT_EQ(preview->grdRecords->rowCount(), 31);
  EXPECT_EQ(preview->grdRecords->horizontalHeaderItem(1)->text(), "PARTNUMBER");
  EXPECT_EQ(preview->grdRecords->item(1, 1)->text(), "AC-1001");
  // The sample's one cost that is no number, where the sheet has it.
  ASSERT_EQ(preview->grdNotes->rowCount(), 1);
  EXPECT_TRUE(preview->grdNotes->isSortingEnabled());
  QStringList note;
  for (int c = 0; c < preview->grdNotes->columnCount(); ++c)
    note << preview->grdNotes->item(0, c)->text();
  EXPECT_EQ(note.join("|"), "acme-pricelist$|31|D|COST_OF_1|N/A|0|not_a_number");
  press(preview->tabReport, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(preview->tabReport->currentIndex(), 1);
  press(preview->btnSaveNotes, Qt::Key_Space);
  EXPECT_EQ(split_csv_lines(slurp(saved)).size(), 2u);
  const pricefile::BuildReport dry = preview->report();
  press(preview, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(preview);

  // The build itself: its counts under the completion, the same report behind "Details".
  press(w.Button1, Qt::Key_Space);
  EXPECT_EQ(w.lblComplete->text(), "Import complete! 30 Records");
  EXPECT_TRUE(w.lblReportCounts->isVisible());
  EXPECT_EQ(w.lblReportCounts->text(), "31 rows, 30 parts, 1 notes");
  press(w.btnDetails, Qt::Key_Space);
  ReportWindow* details = w.findChild<ReportWindow*>("frmReport");
  ASSERT_NE(details, nullptr);
  EXPECT_FALSE(details->report().dryRun);
  EXPECT_EQ(details->report().outcomes, dry.outcomes);
  EXPECT_EQ(details->report().noteCounts, dry.noteCounts);
  EXPECT_EQ(details->report().partRecords, dry.partRecords);
  EXPECT_EQ(details->grdNotes->rowCount(), 1);
}

TEST_F(BuildWindow, XlsCsvAndDbfSavedByCalcBuildTheSameParts) {
  prepare();
  TfrmConvert& w = start();
  struct Case {
    std::string path, startRow;
  } cases[] = {// Page 1 sets the first-row-as-names parameter only for a workbook; until one
               // is opened a text file's first row (the title) is a row of data.
               {fixture("acme-pricelist-calc.csv"), "3"},
               {fixture("acme-pricelist.xls"), "2"},
               {fixture("acme-parts.dbf"), "1"}};
  std::vector<std::string> first;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::uint64_t before = file_hash(c.path);
    open(w, c.path);
    fillPage4(w, c.startRow, false);
    w.Button1->click();
    EXPECT_TRUE(msgs.shown.empty()) << msgs.shown[0].text;
    EXPECT_EQ(w.lblComplete->text(), "Import complete! 30 Records");
    std::vector<std::string> p = parts();
    if (first.empty()) first = p;
    EXPECT_EQ(p, first);
    EXPECT_EQ(p.size(), 31u);
    EXPECT_EQ(file_hash(c.path), before);
    msgs.shown.clear();
  }
  // Without "10 Tessaro Vendor Information" no list was made or touched.
  EXPECT_FALSE(file_exists(out + "filelist.dbf"));
  EXPECT_FALSE(file_exists(out + "datelist.dbf"));
}

TEST_F(BuildWindow, RefusedStoppedAndFailedBuildsLeaveTheCompletionHidden) {
  prepare();
  TfrmConvert& w = start();
  const std::string src = join_path(QM_BIN_DIR, "sample/acme-pricelist.xlsx");
  open(w, src);
  fillPage4(w, "2", false);

  // A destination without its separator: refused, the page stays.
  type(w.edtDestFolder, out.substr(0, out.size() - 1));
  w.Button1->click();
  EXPECT_EQ(msgs.texts(), std::vector<std::string>{"You must have \"" + kSep +
                                                   "\" at the end of the Destination Path!"});
  EXPECT_EQ(currentPage(w), "Page4");
  EXPECT_TRUE(w.lblComplete->isHidden());
  EXPECT_TRUE(w.SourceDB->connected());
  EXPECT_FALSE(file_exists(out + "ACMELIST.dbf"));

  // A start row that is no number: the top level's error box, the configuration kept.
  msgs.shown.clear();
  type(w.edtDestFolder, out);
  type(w.edeStart, "2a");
  w.Button1->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_NE(msgs.shown[0].text.find("2a"), std::string::npos) << msgs.shown[0].text;
  EXPECT_TRUE(w.lblComplete->isHidden());
  EXPECT_FALSE(w.prgBuild->isVisible());
  w.cdsStore.first();
  EXPECT_EQ(w.cdsStore.fieldByName("FILENAME").asString(), "ACME");

  // A walk stopped by an error shows page 2; the source stays connected.
  msgs.shown.clear();
  type(w.edeStart, "2");
  w.lstbNew2->item(0)->setText("PARTNUMBER=40");
  w.Button1->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(currentPage(w), "Page2");
  EXPECT_TRUE(w.lblComplete->isHidden());
  EXPECT_TRUE(w.SourceDB->connected());
  EXPECT_EQ(msgs.beeps, 0);
  EXPECT_EQ(msgs.busyDepth, 0);
}

// Cancel, Escape, or closing the window and saying Yes, stop a build during its walk: the
// lists stay as the last build left them and page 4 says so. Saying No lets the build finish.
TEST_F(BuildWindow, ACancelledBuildRegistersNothingAndSaysSoOnPage4) {
  prepare();
  TfrmConvert& w = start();
  const std::string src = join_path(QM_BIN_DIR, "sample/acme-pricelist.xlsx");
  open(w, src);
  fillPage4(w, "2", true);
  w.Button1->click();
  ASSERT_TRUE(w.lblComplete->isVisible()) << (msgs.shown.empty() ? "" : msgs.shown[0].text);
  const std::vector<std::string> files = {out + "filelist.dbf", out + "Datelist.dbf",
                                          resolve_path(data + "manulist.dbf")};
  std::vector<std::uint64_t> kept;
  for (const auto& f : files) kept.push_back(file_hash(f));

  struct Case {
    const char* how;
    std::function<void()> act;
    MsgAnswer answer;  // to the question that closing asks
    bool cancelled;
    int quits;
  } cases[] = {
      {"Cancel", [&] { w.btnCancelBuild->click(); }, MsgAnswer::Yes, true, 0},
      {"Escape", [&] { QTest::keyClick(w.btnCancelBuild, Qt::Key_Escape); }, MsgAnswer::Yes, true,
       0},
      {"close, No", [&] { w.close(); }, MsgAnswer::No, false, 0},
      {"close, Yes", [&] { w.close(); }, MsgAnswer::Yes, true, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.how);
    open(w, src);
    fillPage4(w, "2", true);
    w.lblComplete->setVisible(false);
    msgs.shown.clear();
    msgs.answers = {c.answer};
    QString during;
    bool progressShown = false;
    QTimer::singleShot(0, [&] {
      during = w.prgBuild->format();
      progressShown = w.pnlProgress->isVisible() && !w.Panel2->isEnabled();
      c.act();
    });
    w.Button1->click();
    QApplication::processEvents();

    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(during.contains("of 31 rows")) << during.toStdString();
    EXPECT_TRUE(w.pnlProgress->isHidden());
    EXPECT_TRUE(w.Panel2->isEnabled());
    EXPECT_EQ(quits, c.quits);
    if (c.cancelled) {
      EXPECT_EQ(w.lblBuildState->text(), "Build cancelled");
      EXPECT_EQ(currentPage(w), "Page4");
      EXPECT_TRUE(w.lblComplete->isHidden());
      for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(file_hash(files[i]), kept[i]) << files[i];
    } else {
      EXPECT_TRUE(w.lblBuildState->text().isEmpty());
      EXPECT_TRUE(w.lblComplete->isVisible());
    }
  }
}

}  // namespace
}  // namespace qm::test

// Fontconfig keeps its caches until the process ends; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
