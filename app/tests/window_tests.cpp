// The start and wizard windows driven through their widgets, found by object name, over
// program folders made for each test and the source engine or a scripted stand-in.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QImageReader>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/convert_window.h"
#include "app/splash_window.h"
#include "app/tests/fake_source.h"
#include "app/tests/window_fixture.h"
#include "core/paths.h"
#include "core/profile.h"
#include "source/dao_engine.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::app;
using qm::tables::DbfTable;
using qm::tables::FieldDef;
using namespace qm::test;

TEST_F(Windows, TheStartWindowShowsItsPictureTitleAndVersion) {
  splash = std::make_unique<TfrmSplash>(shell);
  EXPECT_EQ(splash->size(), QSize(516, 319));
  auto* img = get<QLabel>(*splash, "Image1");
  EXPECT_EQ(img->geometry(), QRect(3, 3, 510, 255));
  EXPECT_EQ(img->pixmap().size(), QSize(510, 255));
  EXPECT_EQ(get<QLabel>(*splash, "Label1")->text(), "The Quillmere ... The Price List Import Tool");
  EXPECT_EQ(get<QLabel>(*splash, "Label1")->pos(), QPoint(7, 269));
  EXPECT_TRUE(get<QLabel>(*splash, "Label2")->text().endsWith("v1.5.13"));
  auto* next = get<QPushButton>(*splash, "btnNext");
  EXPECT_EQ(next->text(), "Next -->");
  EXPECT_EQ(next->geometry(), QRect(442, 216, 57, 25));
  EXPECT_EQ(next->property("tag").toInt(), 0);

  // The picture is a baseline JPEG decoded by the JPEG plugin.
  QImageReader reader(":/splash.jpg");
  EXPECT_EQ(reader.format(), "jpeg");
  EXPECT_EQ(reader.size(), QSize(510, 255));
  QFile f(":/splash.jpg");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("\xFF\xD8"));
  EXPECT_TRUE(bytes.contains(QByteArray("\xFF\xC0", 2)));   // baseline frame
  EXPECT_FALSE(bytes.contains(QByteArray("\xFF\xC2", 2)));  // no progressive frame
}

TEST_F(Windows, WithoutAnEngineNextBecomesCloseAndEndsTheProgram) {
  source::engine_machine().versions.clear();
  splash = std::make_unique<TfrmSplash>(shell);
  splash->show();
  QApplication::setActiveWindow(splash.get());
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_TRUE(msgs.shown[0].text.find("You do not have DAO 3.5 or 3.6") == 0);
  auto* next = get<QPushButton>(*splash, "btnNext");
  EXPECT_EQ(next->text(), "&Close");
  EXPECT_EQ(next->property("tag").toInt(), 1);
  next->click();
  EXPECT_EQ(splash->frmConvert(), nullptr);
  EXPECT_EQ(quits, 1);
}

TEST_F(Windows, FirstRunInAnEmptyProgramFolder) {
  make_program_folder();
  TfrmConvert& w = start();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_TRUE(splash->isHidden());
  EXPECT_EQ(w.windowTitle(), "Quillmere 1.5.13");
  EXPECT_EQ(get<QStackedWidget>(w, "ntbMain")->currentWidget()->objectName(), "Page1");
  EXPECT_FALSE(get<QCheckBox>(w, "UseOlderExcelDrivers")->isChecked());
  EXPECT_FALSE(get<QCheckBox>(w, "chkVendInfo")->isChecked());
  EXPECT_TRUE(get<QCheckBox>(w, "chkMakeFirstRecordHeaderFields")->isChecked());
  EXPECT_TRUE(get<QWidget>(w, "pnlFinial")->isHidden());
  for (const char* e : {"edtDir", "edtFileName", "edtDestFolder", "edtManlist"})
    EXPECT_TRUE(get<QLineEdit>(w, e)->text().isEmpty()) << e;
  EXPECT_EQ(items(w, "cmbFields"),
            QStringList({"PARTNUMBER", "DESCRIPTN", "LISTPRICE", "COST_OF_1", "LEV1"}));
  EXPECT_EQ(w.AppFolder, folder);
  EXPECT_EQ(w.DataSource2.table(), &w.cdsStore);
  EXPECT_TRUE(w.DataSource2.active());

  DbfTable store;
  store.setFolder(folder);
  store.setTableName("storelst.dbf");
  store.open();
  EXPECT_EQ(store.fieldCount(), 29);
  EXPECT_EQ(store.tableLevel(), 7);
  EXPECT_EQ(store.recordCount(), 0);
  EXPECT_EQ(store.fieldDefs(), template_fields());
  store.close();
  EXPECT_TRUE(file_exists(folder + "storelst.dbt"));

  // Switching away and back runs nothing again.
  QApplication::setActiveWindow(splash.get());
  QApplication::setActiveWindow(&w);
  EXPECT_TRUE(msgs.shown.empty());

  w.close();
  EXPECT_EQ(quits, 1);
  std::string ini = slurp(folder + "Convert.ini");
  IniDocument doc = IniDocument::parse(ini);
  // The seven settings and the window's five placement keys.
  EXPECT_EQ(doc.entries().size(), 12u) << ini;
  EXPECT_FALSE(doc.find("DestFolder", "Flist"));
  EXPECT_FALSE(doc.find("Update", "Level"));
  EXPECT_EQ(doc.find("Import", "chkMakeFirstRecordHeaderFields"), "1");
  EXPECT_EQ(doc.find("Import", "UseOlderExcelDrivers"), "0");
  EXPECT_EQ(doc.find("Vendor", "Info"), "0");
  EXPECT_EQ(doc.find("SourceFolder", "File"), "");
}

TEST_F(Windows, SettingsComeBackAtTheNextStart) {
  make_program_folder();
  {
    IniFile ini(folder + "Convert.ini");
    ini.writeString("SourceFolder", "File", "/in/");
    ini.writeString("Source", "File", "list.xlsx");
    ini.writeString("DestFolder", "File", "/out/");
    ini.writeString("DestFolder", "Manulist", "/tessaro/");
    ini.writeBool("Vendor", "Info", true);
    ini.writeBool("Import", "UseOlderExcelDrivers", true);
    ini.writeString("Import", "chkMakeFirstRecordHeaderFields", "0x0");
  }
  TfrmConvert& w = start();
  EXPECT_EQ(get<QLineEdit>(w, "edtDir")->text(), "/in/");
  EXPECT_EQ(get<QLineEdit>(w, "edtFileName")->text(), "list.xlsx");
  EXPECT_EQ(get<QLineEdit>(w, "edtDestFolder")->text(), "/out/");
  EXPECT_EQ(get<QLineEdit>(w, "edtManlist")->text(), "/tessaro/");
  EXPECT_TRUE(get<QCheckBox>(w, "chkVendInfo")->isChecked());
  EXPECT_FALSE(get<QWidget>(w, "pnlFinial")->isHidden());
  EXPECT_TRUE(get<QCheckBox>(w, "UseOlderExcelDrivers")->isChecked());
  EXPECT_FALSE(get<QCheckBox>(w, "chkMakeFirstRecordHeaderFields")->isChecked());
  get<QLineEdit>(w, "edtManlist")->setText("/elsewhere/");
  w.close();
  IniFile ini(folder + "Convert.ini");
  EXPECT_EQ(ini.readString("DestFolder", "Manulist", ""), "/elsewhere/");
  EXPECT_EQ(ini.readString("Import", "chkMakeFirstRecordHeaderFields", ""), "0");
}

TEST_F(Windows, AStoreOf28FieldsIsBroughtToTheTemplatesStructure) {
  make_program_folder();
  {
    make_table(folder, "storelst.dbf", store_fields());
    DbfTable s;
    s.setFolder(folder);
    s.setTableName("storelst.dbf");
    s.open();
    const char* names[] = {"Acme", "Bolt", "Cable"};
    for (int i = 0; i < 3; ++i) {
      s.append();
      s.fieldByName("STORENAME").setAsString(names[i]);
      s.fieldByName("STARTEXPRT").setAsInteger(i + 2);
      s.fieldByName("BREAKONROW").setAsBoolean(i == 1);
      s.fieldByName("UPDATEDATE").setAsDateTime({day_from_ymd(2026, 1, i + 1), 0});
      s.fieldByName("FIELDSLIST")
          .setLines({"PARTNUMBER=0", std::string("DESCRIPTN=") + char('1' + i)});
      s.post();
    }
    s.close();
  }
  TfrmConvert& w = start();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_EQ(w.cdsStore.fieldCount(), 29);
  EXPECT_FALSE(file_exists(folder + "work.dbf"));
  EXPECT_FALSE(file_exists(folder + "work.dbt"));
  EXPECT_EQ(IniFile(folder + "Convert.ini").readInteger("Update", "Level", 0), 1);
  w.cdsStore.first();
  const char* names[] = {"Acme", "Bolt", "Cable"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(w.cdsStore.eof());
    EXPECT_EQ(w.cdsStore.fieldByName("STORENAME").asString(), names[i]);
    EXPECT_EQ(w.cdsStore.fieldByName("STARTEXPRT").asInteger(), i + 2);
    EXPECT_EQ(w.cdsStore.fieldByName("BREAKONROW").asBoolean(), i == 1);
    EXPECT_EQ(w.cdsStore.fieldByName("UPDATEDATE").asDateTime().day, day_from_ymd(2026, 1, i + 1));
    EXPECT_EQ(
        w.cdsStore.fieldByName("FIELDSLIST").lines(),
        (std::vector<std::string>{"PARTNUMBER=0", std::string("DESCRIPTN=") + char('1' + i)}));
    EXPECT_TRUE(w.cdsStore.fieldByName("REMARKS").asString().empty());
    w.cdsStore.next();
  }
  EXPECT_TRUE(w.cdsStore.eof());
  // The destination fields came from the program folder.
  EXPECT_EQ(items(w, "cmbFields").size(), 5);
}

TEST_F(Windows, FlistNamesTheFolderOfTheDestinationFields) {
  make_program_folder();
  std::string other = folder + "other" + separator_string();
  fs::create_directories(to_fs_path(other));
  make_flistwin(other, {"ITEM", "Dept", "PRICE"});
  IniFile(folder + "Convert.ini").writeString("DestFolder", "Flist", other);

  // storelst.dbf missing: this run reads flistwin.dbf from the program folder.
  {
    TfrmConvert& w = start();
    EXPECT_TRUE(msgs.shown.empty());
    EXPECT_EQ(items(w, "cmbFields").size(), 5);
    w.close();
    splash.reset();
  }
  // Next run: the Flist folder, and a "Dept" in any case is left out.
  {
    TfrmConvert& w = start();
    EXPECT_TRUE(msgs.shown.empty());
    EXPECT_EQ(items(w, "cmbFields"), QStringList({"ITEM", "PRICE"}));
    w.close();
    splash.reset();
  }
  // A Flist folder without flistwin.dbf: the message names the program folder.
  fs::remove(to_fs_path(other + "flistwin.dbf"));
  {
    TfrmConvert& w = start();
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
    EXPECT_EQ(msgs.shown[0].text,
              "Import wizard can not find the flistwin.dbf in the+\r\n" + folder + " Directory.");
    EXPECT_EQ(get<QListWidget>(w, "cmbFields")->count(), 0);
    EXPECT_TRUE(get<QWidget>(w, "btnBrowse")->isEnabled());
  }
}

TEST_F(Windows, OnlyTheOldestEngineGivesTheVersionWarning) {
  struct Case {
    std::vector<std::string> versions;
    bool warned;
  } cases[] = {{{"3.5"}, true},
               {{"3.6"}, false},
               {{"12.0"}, false},
               {{"3.5", "3.6"}, true},
               {{"3.5", "12.0"}, false}};
  make_program_folder();
  for (const auto& c : cases) {
    source::engine_machine().versions = c.versions;
    msgs.shown.clear();
    TfrmConvert& w = start();
    ASSERT_EQ(msgs.shown.size(), c.warned ? 1u : 0u)
        << c.versions[0] << " in use " << w.SourceDB->versionInUse();
    if (c.warned) {
      EXPECT_EQ(msgs.shown[0].kind, MsgKind::Warning);
      EXPECT_EQ(msgs.shown[0].text,
                "This PC does not have DAO version 3.6 but instead have version 3.5\r\nNOTE: some "
                "fields in an EXCEL spread sheet may not be displayed using version 3.5");
    }
    w.close();
    splash.reset();
  }
}

TEST_F(Windows, AMissingTemplateStopsTheStartUpWithTheTableError) {
  make_flistwin(folder, kDestFields);
  TfrmConvert& w = start();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_NE(msgs.shown[0].text.find("exprtwin.dbf"), std::string::npos) << msgs.shown[0].text;
  EXPECT_EQ(get<QListWidget>(w, "cmbFields")->count(), 0);  // the remaining steps were skipped
  QApplication::setActiveWindow(splash.get());
  QApplication::setActiveWindow(&w);
  EXPECT_EQ(msgs.shown.size(), 1u);  // and not tried again
}

TEST_F(Windows, AFailingSettingsWriteEndsTheProgramWithoutAMessage) {
  make_program_folder();
  TfrmConvert& w = start();
  fs::create_directories(to_fs_path(folder + "Convert.ini"));  // the file cannot be replaced
  w.close();
  EXPECT_TRUE(msgs.shown.empty());
  EXPECT_EQ(quits, 1);
}

TEST_F(Windows, ThePickedDateGoesIntoTheUpdateDateBox) {
  make_program_folder();
  TfrmConvert& w = start();
  EXPECT_EQ(get<QDateEdit>(w, "dttimDueDate")->date(), QDate::currentDate());
  EXPECT_TRUE(get<QLineEdit>(w, "txtUpdate")->text().isEmpty());
  get<QDateEdit>(w, "dttimDueDate")->setDate(QDate(2026, 3, 7));
  EXPECT_EQ(get<QLineEdit>(w, "txtUpdate")->text(), "3/7/2026");
}

TEST_F(Windows, EveryPageHoldsItsControls) {
  make_program_folder();
  TfrmConvert& w = start();
  struct Case {
    const char* page;
    const char* name;
    const char* caption;
  } cases[] = {
      {"Page1", "btnBrowse", "3 &Browse"},
      {"Page1", "btnOpenSourceFile", "4 Open File"},
      {"Page1", "Button2", "Close File"},
      {"Page1", "btnNextPage2", "6 &Next -->"},
      {"Page1", "btnLookAtList", "Look at Stored Configuration Data List"},
      {"Page2", "btnNewConfig", "1a. New Configuration"},
      {"Page2", "btnPrevious", "1b. Previous Configuration"},
      {"Page2", "btnDeleteConfig", "&Delete Old Configuration"},
      {"Page2", "btnbackPage1", "<--&Back"},
      {"Page2", "btnNextPage3", "3 &Next -->"},
      {"Page3", "btnAdd", "6 &Add >"},
      {"Page3", "btnDelete", "&Delete <"},
      {"Page3", "btnViewSelect", "&Column view"},
      {"Page3", "btnBackPage2", "<--&Back"},
      {"Page3", "btnNextPage4", "7 &Next -->"},
      {"Page4", "btnDest", "Browse"},
      {"Page4", "btnAlaLoc", "Browse"},
      {"Page4", "Button4", "Look Up Vendor"},
      {"Page4", "btnBackPage", "<--Bac&k"},
      {"Page4", "Button1", "22 &Build File"},
  };
  for (const auto& c : cases) {
    QWidget* page = get<QWidget>(w, c.page);
    auto* b = page->findChild<QPushButton*>(c.name);
    ASSERT_NE(b, nullptr) << c.name;
    EXPECT_EQ(b->text(), c.caption);
  }
  struct Tag {
    const char* name;
    int tag;
    bool enabled;
  } tags[] = {{"btnNextPage2", 2, false}, {"btnbackPage1", 1, true},  {"btnNextPage3", 3, false},
              {"btnBackPage2", 2, true},  {"btnNextPage4", 4, false}, {"btnBackPage", 3, true}};
  for (const auto& t : tags) {
    EXPECT_EQ(get<QPushButton>(w, t.name)->property("tag").toInt(), t.tag) << t.name;
    EXPECT_EQ(get<QPushButton>(w, t.name)->isEnabled(), t.enabled) << t.name;
  }
  struct Check {
    const char* name;
    const char* caption;
  } checks[] = {{"chkMakeFirstRecordHeaderFields", "Make First Date Record as Header Fields"},
                {"chkSort", "Sort"},
                {"chkRowBreak", "3. Row Contains Break Levels"},
                {"chkAddTitletoDesc", "4. Add Column Heading to Item Description"},
                {"chkAddToExisting", "5 Add To Existing File"},
                {"chkVendInfo", "10 Tessaro Vendor Information"},
                {"DBCheckBox1", "17 US>Canada"},
                {"MultipleTabs", "Multiple Tabs (ADI)"}};
  for (const auto& c : checks) EXPECT_EQ(get<QCheckBox>(w, c.name)->text(), c.caption);
  for (const char* inFinial :
       {"edtManlist", "dbeVendCode", "dbeVendSource", "txtDept", "dbeParam", "DBEdit2", "DBEdit4"})
    EXPECT_NE(get<QWidget>(w, "pnlFinial")->findChild<QLineEdit*>(inFinial), nullptr) << inFinial;
  EXPECT_TRUE(get<QWidget>(w, "pnlVendor")->isHidden());
  EXPECT_TRUE(get<QWidget>(w, "pnlLookList")->isHidden());
  EXPECT_TRUE(get<QWidget>(w, "lstbNew")->isHidden());
  EXPECT_TRUE(get<QWidget>(w, "grpExcel")->isHidden());
  EXPECT_TRUE(get<QWidget>(w, "lblComplete")->isHidden());
  EXPECT_TRUE(get<QRadioButton>(w, "chkCompany")->isChecked());
  // Upper-case boxes take capitals.
  auto* ede = get<QLineEdit>(w, "edeDBF");
  ede->setFocus();
  QTest::keyClicks(ede, "acm");
  EXPECT_EQ(ede->text(), "ACM");
}

TEST_F(Windows, Page1OverTheSourceEngine) {
  make_program_folder();
  std::string dir = folder + "in" + separator_string();
  fs::create_directories(to_fs_path(dir));
  std::ofstream(to_fs_path(dir + "prices.Csv")) << "PART,PRICE,DESC\nA1,1.5,Bolt\nA2,2,Nut\n";
  {
    make_table(dir, "acme.dbf", {{"PARTNO", 'C', 10, 0}, {"LIST", 'N', 10, 2}});
    DbfTable t;
    t.setFolder(dir);
    t.setTableName("acme.dbf");
    t.open();
    t.append();
    t.fieldByName("PARTNO").setAsString("X-1");
    t.fieldByName("LIST").setAsString("12.5");
    t.post();
  }
  TfrmConvert& w = start();
  auto* grid = get<QTableView>(w, "DBGrid1");

  // Browse through the dialog seam, then open the text file.
  dialogAnswers = {dir + "prices.Csv"};
  get<QPushButton>(w, "btnBrowse")->click();
  EXPECT_EQ(get<QLineEdit>(w, "edtDir")->text().toStdString(), dir);
  EXPECT_EQ(get<QLineEdit>(w, "edtFileName")->text(), "prices.Csv");
  get<QPushButton>(w, "btnOpenSourceFile")->click();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_TRUE(get<QPushButton>(w, "btnNextPage2")->isEnabled());
  EXPECT_TRUE(get<QWidget>(w, "grpExcel")->isHidden());
  EXPECT_EQ(items(w, "lstFields"), QStringList({"  0", "  1", "  2"}));
  EXPECT_EQ(items(w, "lstbFields").size(), 3);
  EXPECT_GE(grid->model()->rowCount(), 2);
  EXPECT_EQ(grid->model()->columnCount(), 3);
  EXPECT_EQ(w.windowTitle(), "The Quillmere 1.5.13 prices.Csv ");

  // The dBase table of the same folder.
  get<QLineEdit>(w, "edtFileName")->setText("acme.dbf");
  get<QPushButton>(w, "btnOpenSourceFile")->click();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  EXPECT_EQ(items(w, "lstbFields"), QStringList({"PARTNO", "LIST"}));
  ASSERT_EQ(grid->model()->rowCount(), 1);
  EXPECT_EQ(grid->model()->index(0, 0).data().toString(), "X-1");

  // Close File keeps the caption and the lists.
  get<QPushButton>(w, "Button2")->click();
  EXPECT_FALSE(get<QPushButton>(w, "btnNextPage2")->isEnabled());
  EXPECT_EQ(w.windowTitle(), "The Quillmere 1.5.13 acme.dbf ");
  EXPECT_EQ(items(w, "lstbFields").size(), 2);
  EXPECT_EQ(grid->model()->rowCount(), 0);

  // A file of another kind: the table cannot open on a closed database.
  get<QLineEdit>(w, "edtFileName")->setText("readme.doc");
  get<QPushButton>(w, "btnOpenSourceFile")->click();
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Plain);
  EXPECT_EQ(msgs.shown[0].text, "TDaoTable.OpenDaoRecordset: Database is NOT connected");
  EXPECT_EQ(msgs.busyDepth, 0);
}

TEST_F(Windows, AWorkbookShowsItsSheetsAndASheetErrorReachesTheTopLevel) {
  useFake = true;
  make_program_folder();
  TfrmConvert& w = start();
  std::string dir = "/prices/";
  auto& book = fakeDb->files[dir + "list.xls"];
  book.tables = {"Master$", "Cables$"};
  book.columns["Master$"] = {"F1", "F2"};
  book.columns["Cables$"] = {"PART", "PRICE", "QTY"};
  book.rows["Cables$"] = {{"C1", "3", "10"}};
  get<QLineEdit>(w, "edtDir")->setText(QString::fromStdString(dir));
  get<QLineEdit>(w, "edtFileName")->setText("list.xls");
  get<QPushButton>(w, "btnOpenSourceFile")->click();
  EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
  auto* sheets = get<QComboBox>(w, "cmbSheets");
  EXPECT_EQ(sheets->count(), 2);
  EXPECT_EQ(sheets->currentText(), "Master$");
  EXPECT_FALSE(get<QWidget>(w, "grpExcel")->isHidden());
  EXPECT_TRUE(get<QWidget>(w, "grpExcel")->isEnabled());
  EXPECT_FALSE(get<QCheckBox>(w, "chkMakeFirstRecordHeaderFields")->isEnabled());
  EXPECT_EQ(w.windowTitle(), "The Quillmere 1.5.13 list.xls Master$");

  // Typing opens nothing; picking an entry does.
  sheets->setEditText("Cab");
  EXPECT_EQ(fakeTable->tableName(), "Master$");
  sheets->setCurrentIndex(1);
  emit sheets->activated(1);
  EXPECT_EQ(fakeTable->tableName(), "Cables$");
  EXPECT_EQ(items(w, "lstbFields"), QStringList({"PART", "PRICE", "QTY"}));
  EXPECT_EQ(get<QTableView>(w, "DBGrid1")->model()->index(0, 0).data().toString(), "C1");
  EXPECT_EQ(w.windowTitle(), "The Quillmere 1.5.13 list.xls Cables$");

  // A sheet that will not open: the top level shows the engine's text in an error box.
  book.tables.push_back("Gone$");
  sheets->addItem("Gone$");
  sheets->setCurrentIndex(2);
  emit sheets->activated(2);
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_NE(msgs.shown[0].text.find("'Gone$'"), std::string::npos);
  EXPECT_FALSE(fakeTable->active());
  EXPECT_EQ(msgs.busyDepth, 0);
  EXPECT_EQ(quits, 0);
}

namespace {

// A sheet of a million rows, counting what is read of it.
class MillionRows : public Dataset {
 public:
  struct F : Field {
    const std::string& name() const override { return n; }
    int displayWidth() const override { return 20; }
    void setDisplayWidth(int) override {}
    bool isNull() const override { return false; }
    std::string asString() const override { return std::to_string(*row); }
    void setAsString(std::string_view) override {}
    std::string n = "F1";
    const long long* row = nullptr;
  };
  MillionRows() { f.row = &row; }
  void open() override {}
  void close() override {}
  bool active() const override { return true; }
  void first() override { row = 0; }
  void next() override {
    ++row;
    ++reads;
  }
  bool eof() const override { return row >= 1000000; }
  std::int64_t recordCount() override { return 1000000; }
  int fieldCount() const override { return 1; }
  Field& field(int) override { return f; }
  Field* findField(std::string_view) override { return &f; }
  long long row = 0, reads = 0;
  F f;
};

}  // namespace

TEST(SourceRows, AMillionRowSheetIsReadOnlyAsFarAsItIsShown) {
  application();
  MillionRows rows;
  SourceRowsModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(600, 300);
  model.setDataset(&rows);
  view.show();
  QApplication::processEvents();
  EXPECT_GT(model.rowCount(), 0);
  EXPECT_LE(rows.reads, 2 * SourceRowsModel::kBatch);
  EXPECT_EQ(model.index(5, 0).data().toString(), "5");
  for (int i = 0; i < 3; ++i) {
    view.scrollToBottom();
    QApplication::processEvents();
  }
  EXPECT_GT(rows.reads, SourceRowsModel::kBatch);
  EXPECT_LT(rows.reads, 20 * SourceRowsModel::kBatch);
  EXPECT_EQ(model.rowsRead(), model.rowCount());
  EXPECT_EQ(model.index(model.rowCount() - 1, 0).data().toString().toLongLong(),
            model.rowCount() - 1);
  model.setDataset(nullptr);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_FALSE(model.canFetchMore({}));
}

// Fontconfig keeps its caches until the process ends; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

// At its default size, which a 1366 x 768 screen shows whole below its title bar and above
// a task bar, every page shows each of its controls whole, inside the page, overlapping no
// other, with its caption unclipped.
TEST_F(Windows, EveryPageShowsEveryControlWholeAtTheDefaultSize) {
  const QSize size = TfrmConvert::defaultSize();
  EXPECT_LE(size.width(), 1366);
  EXPECT_LE(size.height(), 768 - 40 - 32);
  make_program_folder();
  TfrmConvert& w = start();
  w.resize(size);
  w.chkVendInfo->setChecked(true);
  w.pnlFinial->setVisible(true);
  w.grpExcel->setVisible(true);
  w.lblComplete->setText("Import complete! 100000 Records");
  w.lblComplete->setVisible(true);
  for (const char* name : {"Page1", "Page2", "Page3", "Page4"}) {
    w.showPage(name);
    QApplication::processEvents();
    QWidget* page = get<QWidget>(w, name);
    std::vector<QWidget*> controls;
    for (QWidget* c : page->findChildren<QWidget*>()) {
      const bool inner = qobject_cast<QAbstractSpinBox*>(c->parentWidget()) ||
                         qobject_cast<QComboBox*>(c->parentWidget());
      const bool control = qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c) ||
                           qobject_cast<QLineEdit*>(c) || qobject_cast<QComboBox*>(c) ||
                           qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QListWidget*>(c);
      if (control && !inner && c->isVisibleTo(page)) controls.push_back(c);
    }
    ASSERT_FALSE(controls.empty()) << name;
    auto rect_of = [&](QWidget* c) { return QRect(c->mapTo(page, QPoint(0, 0)), c->size()); };
    for (QWidget* c : controls) {
      const std::string id = std::string(name) + " " + c->objectName().toStdString() + " " +
                             c->metaObject()->className();
      EXPECT_TRUE(page->rect().contains(rect_of(c))) << id;
      if (auto* l = qobject_cast<QLabel*>(c); l && l->wordWrap()) continue;
      if (qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c)) {
        EXPECT_GE(c->width(), c->sizeHint().width()) << id;
        EXPECT_GE(c->height(), c->minimumSizeHint().height()) << id;
      }
    }
    for (size_t i = 0; i < controls.size(); ++i)
      for (size_t j = i + 1; j < controls.size(); ++j)
        EXPECT_FALSE(rect_of(controls[i]).intersects(rect_of(controls[j])))
            << name << " " << controls[i]->objectName().toStdString() << " over "
            << controls[j]->objectName().toStdString();
  }
}
