#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/logic/settings.h"
#include "app/logic/shell.h"
#include "app/logic/source_page.h"
#include "app/logic/startup.h"
#include "app/tests/fake_source.h"
#include "core/error.h"
#include "core/paths.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::app;
using qm::test::FakeSource;

namespace {

const std::string kSep = separator_string();
const std::string kDir = kSep + "prices" + kSep;

// A workbook with two sheets, a dBase table and a text file, all in kDir.
struct Page1 : ::testing::Test {
  FakeSource src;
  ScriptedMessages msgs;
  SourcePage page;
  SourceContext ctx{*src.db, *src.table, msgs, "1.5.13"};

  void SetUp() override {
    auto& book = src.db->files[kDir + "list.xlsx"];
    book.tables = {"Master$", "Cables$"};
    book.columns["Master$"] = {"F1", "F2", "F3"};
    book.columns["Cables$"] = {"PART", "PRICE"};
    book.rows["Master$"] = {{"A1", "1.5", "x"}, {"A2", "2", "y"}};
    src.db->files[kDir + "LIST.XLSX"] = book;
    auto& folder = src.db->files[kDir];
    folder.columns["acme.DBF"] = {"PARTNO", "DESC"};
    folder.columns["prices.Csv"] = {"F1"};
    folder.columns["notes.TXT"] = {"F1", "F2"};
    page.edtDir = kDir;
  }
  void open(const std::string& file) {
    page.edtFileName = file;
    btnOpenSourceFileClick(page, ctx);
  }
};

}  // namespace

TEST_F(Page1, AWorkbookOpensItsFirstSheetWithTheHeaderRowAsNames) {
  open("list.xlsx");
  EXPECT_EQ(msgs.shown.size(), 0u) << msgs.texts()[0];
  EXPECT_TRUE(src.db->connected());
  EXPECT_EQ(src.db->database(), kDir + "list.xlsx");
  EXPECT_EQ(src.db->databaseType(), "Excel 8.0");
  EXPECT_EQ(src.db->databaseParameters(), "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  EXPECT_EQ(src.db->version(), "12.0");
  EXPECT_EQ(src.table->tableName(), "Master$");
  EXPECT_TRUE(src.table->active());
  EXPECT_EQ(page.sheets, (std::vector<std::string>{"Master$", "Cables$"}));
  EXPECT_EQ(page.sheetText, "Master$");
  EXPECT_TRUE(page.grpExcelVisible);
  EXPECT_TRUE(page.grpExcelEnabled);
  EXPECT_FALSE(page.headerEnabled);
  EXPECT_TRUE(page.btnNextPage2Enabled);
  EXPECT_EQ(page.lstbFields, (std::vector<std::string>{"F1", "F2", "F3"}));
  EXPECT_EQ(page.lstFields, (std::vector<std::string>{"  0", "  1", "  2"}));
  EXPECT_EQ(page.caption, "The Quillmere 1.5.13 list.xlsx Master$");
  for (int i = 0; i < src.table->fieldCount(); ++i)
    EXPECT_EQ(src.table->field(i).displayWidth(), 20);
  EXPECT_EQ(msgs.busyDepth, 0);
}

TEST_F(Page1, TheExtensionDecidesTheDatabaseTypeWithoutRegardToCase) {
  struct Case {
    const char* file;
    const char* type;
    std::string database;
    bool workbook;
  } cases[] = {
      {"acme.DBF", "dBase 5.0", kDir, false},
      {"prices.Csv", "TEXT", kDir, false},
      {"notes.TXT", "TEXT", kDir, false},
      {"LIST.XLSX", "Excel 8.0", kDir + "LIST.XLSX", true},
  };
  for (const auto& c : cases) {
    open(c.file);
    EXPECT_TRUE(msgs.shown.empty())
        << c.file << ": " << (msgs.shown.empty() ? "" : msgs.texts()[0]);
    msgs.shown.clear();
    EXPECT_EQ(src.db->databaseType(), c.type) << c.file;
    EXPECT_EQ(src.db->database(), c.database) << c.file;
    EXPECT_EQ(page.grpExcelVisible, c.workbook) << c.file;
    EXPECT_TRUE(page.btnNextPage2Enabled) << c.file;
    EXPECT_EQ(src.table->tableName(), c.workbook ? "Master$" : c.file);
  }
}

TEST_F(Page1, ParametersOfAFolderSourceAreWhatTheLastWorkbookLeft) {
  open("acme.DBF");  // before any workbook: the initial parameters
  EXPECT_EQ(src.db->databaseParameters(), "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  page.headerChecked = true;
  open("list.xlsx");
  open("prices.Csv");
  EXPECT_EQ(src.db->databaseParameters(), "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  page.headerChecked = false;
  open("list.xlsx");
  EXPECT_EQ(src.db->databaseParameters(), "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  page.useOlderExcelDrivers = true;
  open("list.xlsx");
  EXPECT_EQ(src.db->version(), "3.6");
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(Page1, OpeningTwiceReopensAndAWorkbookStartsAgainAtItsFirstSheet) {
  open("acme.DBF");
  open("acme.DBF");
  EXPECT_TRUE(msgs.shown.empty());
  EXPECT_TRUE(src.table->active());

  open("list.xlsx");
  page.sheetText = "Cables$";
  cmbSheets1Change(page, ctx);
  EXPECT_EQ(src.table->tableName(), "Cables$");
  EXPECT_EQ(page.lstbFields, (std::vector<std::string>{"PART", "PRICE"}));
  EXPECT_EQ(page.caption, "The Quillmere 1.5.13 list.xlsx Cables$");
  open("list.xlsx");
  EXPECT_EQ(src.table->tableName(), "Master$");
  EXPECT_EQ(page.sheetText, "Master$");
  EXPECT_EQ(page.sheets.size(), 2u);
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(Page1, TheNewestExcelTypeOfferedIsTaken) {
  src.db->types = {"Access", "ODBC", "Excel 3.0", "Excel 5.0", "dBase 5.0"};
  open("list.xlsx");
  EXPECT_EQ(src.db->databaseType(), "Excel 5.0");
  EXPECT_TRUE(src.table->active());
}

TEST_F(Page1, WithoutExcelTypesTheOpenStopsWithItsMessage) {
  open("acme.DBF");
  src.db->types = {"Access", "ODBC", "dBase 5.0", "TEXT"};
  page.headerChecked = true;
  open("list.xlsx");
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(msgs.shown[0].text,
            "Import wizard has detected that there is NO Excel Jet drivers installed\r\non this "
            "PC. Please install the Jet drivers by installing Excel.");
  EXPECT_FALSE(src.db->connected());
  EXPECT_FALSE(page.grpExcelVisible);
  EXPECT_FALSE(page.headerEnabled);
  EXPECT_EQ(src.db->databaseParameters(), "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;");
  EXPECT_EQ(msgs.busyDepth, 0);
}

TEST_F(Page1, OpenFileShowsEveryFailureInAPlainBoxAndKeepsWhatItReached) {
  struct Case {
    const char* file;
    std::string dir;
    std::string text;
  } cases[] = {
      {"readme.doc", kDir, "TDaoTable.OpenDaoRecordset: Database is NOT connected"},
      {"empty.xls", kDir, "List index out of bounds (0)"},
      {"list.xlsx", kSep + "prices", "'" + kSep + "priceslist.xlsx' is not a valid path."},
      {"missing.dbf", kDir,
       "The Microsoft Jet database engine could not find the object 'missing.dbf'."},
  };
  src.db->files[kDir + "empty.xls"] = {};
  for (const auto& c : cases) {
    msgs.shown.clear();
    page = SourcePage{};
    page.edtDir = c.dir;
    src.db->setConnected(false);
    open(c.file);
    ASSERT_EQ(msgs.shown.size(), 1u) << c.file;
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Plain);
    EXPECT_EQ(msgs.shown[0].text, c.text);
    EXPECT_TRUE(page.lstbFields.empty()) << c.file;
    EXPECT_FALSE(page.btnNextPage2Enabled) << c.file;
    EXPECT_EQ(msgs.busyDepth, 0);
  }
}

TEST_F(Page1, ASheetThatWillNotOpenIsReportedAboveAndLeavesTheTableClosed) {
  open("list.xlsx");
  page.sheetText = "Typed by hand";
  EXPECT_THROW(cmbSheets1Change(page, ctx), DatabaseError);
  EXPECT_FALSE(src.table->active());
  EXPECT_EQ(msgs.busyDepth, 0);
}

TEST_F(Page1, CloseFileKeepsCaptionListsAndSheets) {
  open("list.xlsx");
  SourcePage before = page;
  Button2Click(page, ctx);
  EXPECT_TRUE(page.headerEnabled);
  EXPECT_FALSE(src.table->active());
  EXPECT_FALSE(src.db->connected());
  EXPECT_FALSE(page.btnNextPage2Enabled);
  EXPECT_FALSE(page.grpExcelVisible);
  EXPECT_EQ(page.caption, before.caption);
  EXPECT_EQ(page.lstbFields, before.lstbFields);
  EXPECT_EQ(page.sheets, before.sheets);
}

TEST_F(Page1, BrowseSetsTheFilterAndTakesTheChosenFile) {
  open("list.xlsx");
  OpenDialog opd;
  opd.fileName = "Manulist.dbf";  // left by the vendor page
  OpenDialog seen;
  page.lblCompleteVisible = true;
  btnOpenFileClick(page, ctx, opd, [&](const OpenDialog& d) {
    seen = d;
    return std::nullopt;
  });
  EXPECT_EQ(seen.filter, "*.xlsx;*.xls");
  EXPECT_EQ(seen.initialDir, kDir);
  EXPECT_EQ(seen.fileName, "Manulist.dbf");
  EXPECT_EQ(seen.title, "Open a File");
  EXPECT_FALSE(page.lblCompleteVisible);
  EXPECT_TRUE(src.db->connected()) << "a cancelled browse changes nothing";
  EXPECT_EQ(page.sheets.size(), 2u);

  page.useOlderExcelDrivers = true;
  std::string chosen = kSep + "other" + kSep + "acme.dbf";
  btnOpenFileClick(page, ctx, opd, [&](const OpenDialog& d) {
    seen = d;
    return std::optional<std::string>(chosen);
  });
  EXPECT_EQ(seen.filter, "*.xls");
  EXPECT_EQ(page.edtDir, kSep + "other" + kSep);
  EXPECT_EQ(page.edtFileName, "acme.dbf");
  EXPECT_TRUE(page.sheets.empty());
  EXPECT_TRUE(page.sheetText.empty());
  EXPECT_FALSE(page.btnNextPage2Enabled);
  EXPECT_FALSE(src.db->connected());
  EXPECT_FALSE(src.table->active());
  EXPECT_TRUE(page.grpExcelVisible) << "Browse keeps the group's visibility";
  EXPECT_FALSE(page.grpExcelEnabled);
}

TEST(DialogFilters, EveryHandledKindCanBeChosen) {
  auto f = dialog_filters("*.xlsx;*.xls");
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].patterns, (std::vector<std::string>{"*.xlsx", "*.xls"}));
  EXPECT_EQ(f[1].patterns,
            (std::vector<std::string>{"*.xlsx", "*.xls", "*.csv", "*.txt", "*.dbf"}));
  auto v = dialog_filters("Dbase *.dbf|*.dbf");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].description, "Dbase *.dbf");
  EXPECT_EQ(v[0].patterns, (std::vector<std::string>{"*.dbf"}));
  EXPECT_EQ(dialog_filters("").size(), 1u);
}

TEST(Settings, DefaultsAndTheSevenKeysWrittenAtClose) {
  fs::path dir = fs::temp_directory_path() / "qm_app_settings";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string file = from_fs_path(dir / "Convert.ini");
  IniFile ini(file);
  Settings s = read_settings(ini, "/app/");
  EXPECT_FALSE(s.useOlderExcelDrivers);
  EXPECT_TRUE(s.makeFirstRecordHeaderFields);
  EXPECT_FALSE(s.vendorInfo);
  EXPECT_EQ(s.flist, "/app/");
  EXPECT_EQ(s.sourceFolder + s.sourceFile + s.destFolder + s.manulist, "");

  s.sourceFolder = "/in/";
  s.sourceFile = "list.xlsx";
  s.destFolder = "/out/";
  s.manulist = "/tessaro/";
  s.vendorInfo = true;
  s.makeFirstRecordHeaderFields = false;
  s.useOlderExcelDrivers = true;
  write_settings(ini, s);
  std::stringstream ss;
  // Closed before the folder goes: Windows refuses to remove a file that is open.
  ss << std::ifstream(dir / "Convert.ini", std::ios::binary).rdbuf();
  EXPECT_EQ(ss.str(),
            "[SourceFolder]\r\nFile=/in/\r\n\r\n[Source]\r\nFile=list.xlsx\r\n\r\n[DestFolder]\r\n"
            "File=/out/\r\nManulist=/tessaro/\r\n\r\n[Vendor]\r\nInfo=1\r\n\r\n[Import]\r\n"
            "chkMakeFirstRecordHeaderFields=0\r\nUseOlderExcelDrivers=1\r\n");
  Settings back = read_settings(ini, "/app/");
  EXPECT_TRUE(back.useOlderExcelDrivers);
  EXPECT_FALSE(back.makeFirstRecordHeaderFields);
  EXPECT_TRUE(back.vendorInfo);
  EXPECT_EQ(back.manulist, "/tessaro/");
  EXPECT_EQ(back.flist, "/app/");
  fs::remove_all(dir);
}

TEST(Shell, DaoMissingOnlyForTheMissingEngineError) {
  struct Case {
    const char* error;  // nullptr: the probe succeeds
    bool missing;
  } cases[] = {{nullptr, false},
               {"Cannot find DAO on your system!", true},
               {"x: cannot find dao here", true},
               {"Unable to init OLE objects!", false}};
  for (const auto& c : cases) {
    ScriptedMessages m;
    bool r = DAOMissing(
        [&] {
          if (c.error) throw DatabaseError(c.error);
        },
        m);
    EXPECT_EQ(r, c.missing) << (c.error ? c.error : "ok");
    ASSERT_EQ(m.shown.size(), c.missing ? 1u : 0u);
    if (c.missing) {
      EXPECT_EQ(m.shown[0].kind, MsgKind::Error);
      EXPECT_EQ(m.shown[0].text,
                "You do not have DAO 3.5 or 3.6 installed on your system.\r\nPlease Install DAO "
                "by installing Excel. This Application\r\ncan not continue.");
    }
  }
  EXPECT_TRUE(ends_with(rights_line("1.5.13"), "v1.5.13"));
}

TEST(Shell, EscapedErrorsAreShownUntilClosingThenEndTheProgram) {
  ScriptedMessages m;
  int ended = 0;
  TopLevel top(m, [&] { ++ended; });
  EXPECT_TRUE(top.run([] {}));
  EXPECT_FALSE(top.run([] { throw TableError("Table is locked"); }));
  EXPECT_FALSE(top.run([] { throw 42; }));
  ASSERT_EQ(m.shown.size(), 2u);
  EXPECT_EQ(m.shown[0].text, "Table is locked");
  EXPECT_EQ(m.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(ended, 0);
  top.ErrorDAO();
  EXPECT_FALSE(top.run([] { throw Error("Unable to write to Convert.ini"); }));
  EXPECT_EQ(m.shown.size(), 2u);
  EXPECT_EQ(ended, 1);
}

TEST(Startup, MessagesOfTheLastSteps) {
  ScriptedMessages m;
  for (const char* v : {"3.6", "12.0", ""}) warn_about_engine_version(v, m);
  EXPECT_TRUE(m.shown.empty());
  warn_about_engine_version("3.5", m);
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].kind, MsgKind::Warning);
  EXPECT_EQ(flistwin_missing_message("/app/"),
            "Import wizard can not find the flistwin.dbf in the+\r\n/app/ Directory.");
}

namespace {

// What a control bound to the configuration table would have been told.
struct Recorder : datalink::DataLink {
  std::vector<datalink::DataEvent> events;
  void dataEvent(datalink::DataEvent e, int) override { events.push_back(e); }
};

}  // namespace

TEST(Startup, NoControlFollowsTheStoreWhileItIsRestructured) {
  fs::path dir = fs::temp_directory_path() / "qm_logic_prepare_store";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string app = from_fs_path(dir) + kSep;
  std::vector<tables::FieldDef> defs = {{"STORENAME", 'C', 20, 0}, {"FIELDSLIST", 'M', 10, 0}};
  for (int i = static_cast<int>(defs.size()); i < kStoreFieldCount; ++i)
    defs.push_back({"F" + std::to_string(i), 'C', 5, 0});
  {
    tables::DbfTable t;
    t.setFolder(app);
    t.setTableName("exprtwin.dbf");
    t.setFieldDefs(defs);
    t.setTableLevel(7);
    t.createTable();
    // The old store lacks the template's last field and holds two configurations.
    t.setTableName("storelst.dbf");
    defs.pop_back();
    t.setFieldDefs(defs);
    t.createTable();
    t.open();
    for (const char* n : {"Acme", "Zeta"}) {
      t.append();
      t.fieldByName("STORENAME").setAsString(n);
      t.post();
    }
  }
  tables::DbfTable cdsStore, tblFields;
  cdsStore.setFolder(app);
  cdsStore.setTableName("storelst.dbf");
  tblFields.setFolder(app);
  tblFields.setTableName("flistwin.dbf");
  datalink::DataSource ds(&cdsStore);
  Recorder link;
  ds.addLink(&link);
  IniFile ini(app + "Convert.ini");
  StoreTables st{cdsStore, tblFields, ds, ini, app};

  prepare_store(st);
  EXPECT_EQ(cdsStore.fieldCount(), kStoreFieldCount);
  EXPECT_EQ(cdsStore.recordCount(), 2);
  EXPECT_TRUE(ds.attached());
  EXPECT_TRUE(ds.active());
  EXPECT_EQ(ds.table(), &cdsStore);
  // Detached before the first open, attached after the last: nothing of the walk came through.
  EXPECT_EQ(link.events, (std::vector<datalink::DataEvent>{datalink::DataEvent::ActiveChanged,
                                                           datalink::DataEvent::ActiveChanged}));
  ds.removeLink(&link);
  ds.setTable(nullptr);
  cdsStore.close();
  fs::remove_all(dir);
}
