// The build from page 4 over real tables in a scratch program folder, with the source rows in
// memory: the checks, the saved configuration, making or reopening the price file, the walk,
// registration and the trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "config/tests/test_folder.h"
#include "core/datetime.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/platform.h"
#include "pricefile/build_file.h"
#include "pricefile/staged_table.h"
#include "pricefile/tests/memory_dataset.h"
#include "pricefile/tests/whole_tables.h"

using namespace qm;
using namespace qm::pricefile;
using qm::tables::DbfTable;
using qm::test::MemoryDataset;
using qm::test::Rows;

namespace {

// The separator the messages name: the platform's own.
const std::string kSep = separator_string();

const Rows kRows = {
    {"ab-1", "Bolt", "$1.50", "0.70"}, {"", "no part here", "9", "9"}, {"X-2", "Nut", "2", "1"}};

struct BuildTest : ::testing::Test {
  testkit::TestFolder tf;
  std::string app = tf.folder("prog");
  std::string dest = tf.folder("out");
  MemoryDataset src;
  ScriptedMessages msgs;
  DbfTable cdsStore, tblFields, tblExport, tblVendor;
  DefaultSettings settings;
  BuildPage page;
  std::vector<std::string> pages;
  int disconnects = 0;
  std::function<void(DbfTable&)> createTable;
  std::function<bool()> cancelled;
  std::function<void(const std::string&)> faultPoint;

  void SetUp() override {
    testkit::put_data_file(app, "flistwin.dbf");
    testkit::create_table(app, "storelst.dbf", testkit::storelst_defs());
    cdsStore.setFolder(app);
    cdsStore.setTableName("storelst.dbf");
    cdsStore.open();
    cdsStore.append();
    cdsStore.fieldByName("STORENAME").setAsString("Acme");
    cdsStore.post();
    tblFields.setFolder(app);
    tblFields.setTableName("flistwin.dbf");
    tblVendor.setTableName("prvendor.DBF");
    src.addTable("Sheet1$", 4, kRows);
    page.manufacturer = "ACME";
    page.destFolder = dest;
    page.saveName = "Acme";
    page.startRow = "1";
    page.updateDate = "11/1/2026";
    page.mapping = {"PARTNUMBER=0", "DESCRIPTN=1", "LISTPRICE=2", "COST_OF_1=3"};
  }

  BuildResult go() {
    BuildSource source{src, &src, [this] { ++disconnects; }, [] { return std::int64_t{3}; }};
    BuildTables tables{cdsStore, tblFields, tblExport, tblVendor};
    BuildEnvironment env{msgs, app, settings};
    env.showPage = [this](const std::string& p) { pages.push_back(p); };
    env.createTable = createTable;
    env.cancelled = cancelled;
    env.faultPoint = faultPoint;
    return build_file(page, source, tables, env);
  }

  std::string priceFile() const { return dest + "ACMELIST.dbf"; }

  // Part numbers of the price file in record order, read by a fresh table object.
  std::vector<std::string> parts() {
    DbfTable t;
    t.setFolder(dest);
    t.setTableName("ACMELIST.dbf");
    t.open();
    std::vector<std::string> r;
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName("partnumber").asString());
    return r;
  }

  std::vector<std::string> storedMapping() {
    cdsStore.first();
    return cdsStore.fieldByName("FIELDSLIST").lines();
  }

  std::string stored(const char* field) {
    cdsStore.first();
    return cdsStore.fieldByName(field).asString();
  }

  // The destination field list with a memo field, so that price files are a .dbf and a .dbt,
  // and the price file built from it with an index as well: a set of three files.
  void buildThreeFileSet() {
    std::vector<tables::FieldDef> defs = testkit::defs_of(app, "flistwin.dbf");
    if (std::none_of(defs.begin(), defs.end(), [](const auto& d) { return d.type == 'M'; })) {
      defs.push_back({"QMNOTES", 'M', 10, 0});
      delete_file(app + "flistwin.dbf");
      testkit::create_table(app, "flistwin.dbf", defs);
    }
    ASSERT_EQ(go().outcome, BuildOutcome::Complete);
    DbfTable t;
    t.setFolder(dest);
    t.setTableName("ACMELIST.dbf");
    t.setExclusive(true);
    t.open();
    t.addIndex("PART", "partnumber");
    t.close();
    ASSERT_TRUE(file_exists(dest + "ACMELIST.dbt"));
    ASSERT_TRUE(file_exists(dest + "ACMELIST.mdx"));
  }

  void write_file(const std::string& path, const std::string& text = "x") {
    std::ofstream(to_fs_path(path), std::ios::binary) << text;
  }
};

TEST_F(BuildTest, ABuildWritesTheHeadingAndOneRecordPerPartAndEndsOnPageOne) {
  BuildResult r = go();
  ASSERT_EQ(r.outcome, BuildOutcome::Complete) << msgs.texts().size();
  EXPECT_EQ(r.records, 2);
  EXPECT_EQ(r.completion, "Import complete! 2 Records");
  EXPECT_EQ(r.priceFile, priceFile());
  EXPECT_EQ(parts(), (std::vector<std::string>{"0", "AB-1", "X-2"}));
  EXPECT_EQ(testkit::defs_of(dest, "ACMELIST.dbf"), testkit::defs_of(app, "flistwin.dbf"));
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(pages, std::vector<std::string>{"Page1"});
  EXPECT_EQ(msgs.beeps, 1);
  EXPECT_EQ(msgs.busyDepth, 0);
  EXPECT_TRUE(msgs.shown.empty()) << msgs.shown.front().text;
  // Without the vendor tick nothing but the price file appears in the destination folder.
  EXPECT_FALSE(file_exists(dest + "filelist.dbf"));
  EXPECT_FALSE(file_exists(dest + "datelist.dbf"));
}

TEST_F(BuildTest, PageChecksRefuseInOrderWithTheirMessages) {
  struct Case {
    std::function<void(BuildPage&)> change;
    std::string message;
  } cases[] = {
      {[](BuildPage& p) { p.destFolder.pop_back(); },
       "You must have \"" + kSep + "\" at the end of the Destination Path!"},
      // An empty folder is refused before the empty save name and identifier.
      {[](BuildPage& p) { p.destFolder = p.saveName = p.manufacturer = ""; },
       "You must have \"" + kSep + "\" at the end of the Destination Path!"},
      {[](BuildPage& p) { p.destFolder += "  "; }, ""},
      {[](BuildPage& p) { p.saveName = ""; }, "You must enter a Save Name!"},
      {[](BuildPage& p) { p.saveName = "   "; }, ""},
      {[](BuildPage& p) { p.manufacturer = ""; },
       "You must enter a manufacturer ID\r\nin order to save your exported file."},
      {[](BuildPage& p) { p.startRow = ""; },
       "You must enter a record number to start exporting data."},
      {[](BuildPage& p) {
         p.vendorInfo = true;
         p.manulistFolder = " ";
       },
       "You enter the location of Manulist.dbf before exporting data"},
      {[](BuildPage& p) {
         p.vendorInfo = true;
         p.manulistFolder = "/x/";
         p.vendorId = "  ";
         p.vendorCode = "C";
       },
       "You enter a vender ID before exporting data"},
      {[](BuildPage& p) {
         p.vendorInfo = true;
         p.manulistFolder = "/x/";
         p.vendorId = "V";
       },
       "You enter a vender Code before exporting data"},
  };
  int round = 0;
  for (auto& c : cases) {
    SCOPED_TRACE(c.message);
    BuildPage keep = page;
    c.change(page);
    msgs.shown.clear();
    delete_file(priceFile());
    const std::vector<std::string> before = storedMapping();
    // A line the last save did not have, so that a save would show.
    page.mapping.push_back("SPCL_COST=" + std::to_string(round++ % 4));
    BuildResult r = go();
    if (c.message.empty()) {
      EXPECT_EQ(r.outcome, BuildOutcome::Complete);
    } else {
      EXPECT_EQ(r.outcome, BuildOutcome::Refused);
      ASSERT_EQ(msgs.shown.size(), 1u);
      EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
      EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::Ok);
      EXPECT_EQ(msgs.shown[0].text, c.message);
      EXPECT_FALSE(file_exists(priceFile()));
      // Refused before the configuration is saved.
      EXPECT_EQ(storedMapping(), before);
    }
    page = keep;
  }
}

TEST_F(BuildTest, MappingCheckAsksAndRefuses) {
  BuildRun run;
  ScriptedMessages m;
  EXPECT_TRUE(validate_mapping({"DESCRIPTN=1", "PARTNUMBER2=0"}, m, run));
  EXPECT_EQ(m.texts(),
            std::vector<std::string>{"PartNumber is not selected, Invalid configuration!"});

  m = ScriptedMessages();
  m.answer(MsgAnswer::Cancel);
  EXPECT_TRUE(validate_mapping({"partnumber=0", "LISTPRICE=2"}, m, run));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].text, "DESCRIPTN is not selected, would you like to continue!");
  EXPECT_EQ(m.shown[0].buttons, MsgButtons::YesCancel);
  EXPECT_FALSE(run.descriptionOptional);

  m = ScriptedMessages();
  EXPECT_FALSE(validate_mapping({"partnumber=0", "LISTPRICE=2"}, m, run));
  EXPECT_TRUE(run.descriptionOptional);

  // A first cost stands in for the list price; a different cost does not.
  m = ScriptedMessages();
  EXPECT_FALSE(validate_mapping({"PARTNUMBER=0", "DESCRIPTN=1", "cost_of_1=3"}, m, run));
  EXPECT_TRUE(m.shown.empty());
  EXPECT_FALSE(run.descriptionOptional);
  m.answer(MsgAnswer::Cancel);
  EXPECT_TRUE(validate_mapping({"PARTNUMBER=0", "DESCRIPTN=1", "COST_OF_2=3"}, m, run));
  EXPECT_EQ(m.texts(),
            std::vector<std::string>{"LISTPRICE is not selected, would you like to continue!"});
}

TEST_F(BuildTest, ConfirmedMappingWithoutDescriptionConvertsPartsAlone) {
  src.addTable("Parts$", 2, {{"P1", ""}, {"P2", "has one"}});
  src.setTableName("Parts$");
  src.open();
  page.mapping = {"PARTNUMBER=0", "LISTPRICE=1"};
  BuildResult r = go();
  ASSERT_EQ(r.outcome, BuildOutcome::Complete);
  EXPECT_EQ(parts(), (std::vector<std::string>{"0", "P1", "P2"}));
  EXPECT_EQ(msgs.texts(),
            std::vector<std::string>{"DESCRIPTN is not selected, would you like to continue!"});
}

TEST_F(BuildTest, TheConfigurationIsSavedBeforeAnyLaterFailure) {
  page.startRow = "2x";
  page.updateDate = "not a date";
  EXPECT_THROW(go(), ConvertError);
  EXPECT_EQ(storedMapping(), page.mapping);
  EXPECT_EQ(stored("FILENAME"), "ACME");
  EXPECT_EQ(cdsStore.fieldByName("UPDATEDATE").asDateTime(), today());
  EXPECT_FALSE(cdsStore.editing());
  EXPECT_FALSE(file_exists(priceFile()));

  // A refused mapping keeps the saved configuration too.
  page.startRow = "1";
  page.updateDate = "12/24/2026";
  page.mapping = {"DESCRIPTN=1"};
  EXPECT_EQ(go().outcome, BuildOutcome::Refused);
  EXPECT_EQ(storedMapping(), std::vector<std::string>{"DESCRIPTN=1"});
  EXPECT_EQ(cdsStore.fieldByName("UPDATEDATE").asDateTime(),
            (DateTime{day_from_ymd(2026, 12, 24), 0}));
}

TEST_F(BuildTest, AddingToAnExistingFileKeepsItsRecords) {
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  {
    // A deleted record keeps its place: the report's records are still only the new ones.
    DbfTable t;
    t.setFolder(dest);
    t.setTableName("ACMELIST.dbf");
    t.open();
    t.goToRecNo(2);
    t.deleteRecord();
  }
  page.addToExisting = true;
  BuildResult added = go();
  ASSERT_EQ(added.outcome, BuildOutcome::Complete);
  EXPECT_EQ(parts(), (std::vector<std::string>{"0", "X-2", "0", "AB-1", "X-2"}));
  const auto& fields = added.report.recordFields;
  const auto part = std::find_if(fields.begin(), fields.end(),
                                 [](const std::string& f) { return iequals(f, "partnumber"); });
  ASSERT_NE(part, fields.end());
  ASSERT_EQ(added.report.records.size(), 3u);
  EXPECT_EQ(added.report.records[0][static_cast<std::size_t>(part - fields.begin())], "0");
  // Without the tick the old file goes, with its memo and index, even when nothing is written.
  page.addToExisting = false;
  write_file(dest + "ACMELIST.mdx");
  write_file(dest + "ACMELIST.dbt");
  src.addTable("Empty$", 4, {{"", "x", "1", "1"}});
  src.setTableName("Empty$");
  src.open();
  BuildResult r = go();
  ASSERT_EQ(r.outcome, BuildOutcome::Complete);
  EXPECT_EQ(r.completion, "Import complete! 0 Records");
  EXPECT_TRUE(parts().empty());
  EXPECT_FALSE(file_exists(dest + "ACMELIST.mdx"));
  // flistwin has a memo field, so the new file has a memo of its own.
  bool memo = false;
  for (const auto& d : testkit::defs_of(app, "flistwin.dbf")) memo = memo || d.type == 'M';
  EXPECT_EQ(file_exists(dest + "ACMELIST.dbt"), memo);
  if (memo) {
    EXPECT_NE(testkit::read_bytes(dest + "ACMELIST.dbt"), "x");
  }
}

TEST_F(BuildTest, TickedButMissingFileIsMadeNew) {
  page.addToExisting = true;
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  EXPECT_EQ(parts(), (std::vector<std::string>{"0", "AB-1", "X-2"}));
}

TEST_F(BuildTest, MissingFieldListStopsBeforeTheOldFileIsDeleted) {
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  std::string before = testkit::read_bytes(priceFile());
  tblFields.setFolder(tf.folder("nowhere"));
  EXPECT_THROW(go(), TableError);
  EXPECT_EQ(testkit::read_bytes(priceFile()), before);
}

TEST_F(BuildTest, WhenCreatingDidNotWorkTheFieldListIsCopied) {
  createTable = [](DbfTable&) {};
  write_file(dest + "ACMELIST.dbt", "stale memo");
  BuildResult r = go();
  ASSERT_EQ(r.outcome, BuildOutcome::Complete);
  EXPECT_EQ(msgs.texts(),
            std::vector<std::string>{"The tblExport.CreateTable did not work. We are manually "
                                     "Creating them."});
  EXPECT_EQ(parts(), (std::vector<std::string>{"0", "AB-1", "X-2"}));
  EXPECT_EQ(testkit::defs_of(dest, "ACMELIST.dbf"), testkit::defs_of(app, "flistwin.dbf"));
  if (file_exists(app + "flistwin.dbt")) {
    EXPECT_EQ(testkit::read_bytes(dest + "ACMELIST.dbt"),
              testkit::read_bytes(app + "flistwin.dbt"));
  } else {
    EXPECT_FALSE(file_exists(dest + "ACMELIST.dbt"));
  }
}

TEST_F(BuildTest, AStoppedWalkEndsOnPageTwoWithoutCompletion) {
  page.mapping = {"PARTNUMBER=9", "DESCRIPTN=1", "LISTPRICE=2"};
  BuildResult r = go();
  EXPECT_EQ(r.outcome, BuildOutcome::ConversionStopped);
  EXPECT_EQ(pages, std::vector<std::string>{"Page2"});
  EXPECT_EQ(disconnects, 0);
  EXPECT_EQ(msgs.beeps, 0);
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_TRUE(r.completion.empty());
  EXPECT_FALSE(tblExport.active());
}

TEST_F(BuildTest, ACancelStopsBetweenRecordsAndRegistersNothing) {
  std::string data = testkit::copy_sample_tessaro(tf);
  const std::string manulist = testkit::read_bytes(data + "manulist.dbf");
  page.vendorInfo = true;
  page.manulistFolder = data;
  page.vendorId = "V1001";
  page.vendorCode = "ACM001";
  // The walk asks once per row (three rows), the build once more when the walk has ended.
  struct Case {
    int cancelAtQuestion;
    std::int64_t records;
  } cases[] = {{1, 0}, {2, 1}, {4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancelAtQuestion);
    msgs.shown.clear();
    int asked = 0;
    cancelled = [&] { return ++asked >= c.cancelAtQuestion; };
    BuildResult r = go();
    EXPECT_EQ(r.outcome, BuildOutcome::Cancelled);
    EXPECT_EQ(r.records, c.records);
    EXPECT_TRUE(r.completion.empty());
    EXPECT_EQ(msgs.texts(), std::vector<std::string>{"Build cancelled"});
    EXPECT_EQ(msgs.busyDepth, 0);
    EXPECT_EQ(msgs.beeps, 0);
    EXPECT_FALSE(file_exists(dest + "filelist.dbf"));
    EXPECT_EQ(testkit::read_bytes(data + "manulist.dbf"), manulist);
  }
}

// Stands for the process dying at a step of putting the new file in place.
struct Crash {};

TEST_F(BuildTest, AFailedRefusedOrCancelledBuildLeavesTheOldFileSetByteForByte) {
  namespace fs = std::filesystem;
  buildThreeFileSet();
  const auto old = testkit::folder_bytes(dest);
  const std::string memo = dest + "ACMELIST.dbt";
  std::optional<StagedTable> otherImport;
  [[maybe_unused]] tables::DbfTable reader;
  struct Case {
    const char* what;
    std::function<void()> arrange, undo;
    BuildOutcome outcome;
    std::string message;  // empty: not checked
  } cases[] = {
      {"a walk that fails", [&] { page.mapping[0] = "PARTNUMBER=9"; }, [] {},
       BuildOutcome::ConversionStopped, ""},
      {"a cancel in the walk", [&] { cancelled = [] { return true; }; }, [] {},
       BuildOutcome::Cancelled, "Build cancelled"},
      {"a crash before the new set is complete",
       [&] {
         faultPoint = [](const std::string& s) {
           if (s == "synced") throw Crash{};
         };
       },
       [] {}, BuildOutcome::Refused, ""},
      {"a disk that reports a failed sync", [] { platform::fail_syncs_for_testing(true); },
       [] { platform::fail_syncs_for_testing(false); }, BuildOutcome::ConversionStopped, ""},
      {"a read-only memo",
       [&] {
         fs::permissions(memo, fs::perms::owner_write, fs::perm_options::remove);
         fs::permissions(memo, fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
       },
       [&] { fs::permissions(memo, fs::perms::owner_write, fs::perm_options::add); },
       BuildOutcome::Refused, "ACMELIST.dbt is read-only"},
#ifndef _WIN32
      // A Windows folder is closed by its access list, which Wine has not; its read-only
      // attribute does not stop files being made in it.
      {"a folder that cannot be written",
       [&] {
         fs::permissions(dest,
                         fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
       },
       [&] { fs::permissions(dest, fs::perms::owner_write, fs::perm_options::add); },
       BuildOutcome::Refused, "the folder " + dest + " cannot be written"},
#else
      // Open files cannot be replaced on Windows: the project system reading the price file.
      {"a price file open in another program",
       [&] {
         reader.setFolder(dest);
         reader.setTableName("ACMELIST.dbf");
         reader.open();
       },
       [&] { reader.close(); }, BuildOutcome::Refused, "ACMELIST.dbt is open in another program"},
#endif
      {"another import of the same file",
       [&] {
         otherImport.emplace(priceFile());
         otherImport->begin(msgs);
       },
       [&] { otherImport.reset(); }, BuildOutcome::Refused,
       "ACMELIST.dbf is in use by another import"},
  };
  const BuildPage keep = page;
  for (bool append : {false, true}) {
    for (auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (append ? ", adding" : ", replacing"));
      page = keep;
      page.addToExisting = append;
      msgs.shown.clear();
      c.arrange();
      BuildResult r;
      bool crashed = false;
      try {
        r = go();
      } catch (const Crash&) {
        crashed = true;
      }
      c.undo();
      cancelled = {};
      faultPoint = {};
      if (!crashed) {
        EXPECT_EQ(r.outcome, c.outcome);
        if (!c.message.empty()) {
          EXPECT_EQ(msgs.texts(), std::vector<std::string>{c.message});
        }
      }
      EXPECT_EQ(testkit::folder_bytes(dest), old);
      testkit::expect_tables_whole(dest);
    }
  }
}

TEST_F(BuildTest, ASwapCutShortIsFinishedByTheNextImport) {
  buildThreeFileSet();
  src.addTable("New$", 4, {{"NEW-1", "Washer", "3", "1"}});
  src.setTableName("New$");
  src.open();
  for (const char* step : {"ready", "renamed .dbt", "renamed .dbf"}) {
    SCOPED_TRACE(step);
    page.addToExisting = false;
    faultPoint = [&](const std::string& s) {
      if (s == step) throw Crash{};
    };
    EXPECT_THROW(go(), Crash);
    faultPoint = {};
    // The next import into the file puts the interrupted one's complete set in place first.
    msgs.shown.clear();
    page.addToExisting = true;
    ASSERT_EQ(go().outcome, BuildOutcome::Complete);
    EXPECT_EQ(msgs.texts(), std::vector<std::string>{"The interrupted import of ACMELIST.dbf "
                                                     "was put in place before this one."});
    EXPECT_EQ(parts(), (std::vector<std::string>{"0", "NEW-1", "0", "NEW-1"}));
    EXPECT_FALSE(std::filesystem::exists(to_fs_path(dest + "ACMELIST.building")));
    testkit::expect_tables_whole(dest);
  }
}

TEST_F(BuildTest, AnIdentifierLongerThanTheDeptFieldIsRefused) {
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  const auto old = testkit::folder_bytes(dest);
  int width = 0;
  for (const auto& d : testkit::defs_of(app, "flistwin.dbf"))
    if (iequals(d.name, "DEPT")) width = d.length;
  ASSERT_GT(width, 1);
  struct Case {
    std::string identifier;
    bool refused;
  } cases[] = {{std::string(static_cast<std::size_t>(width), 'A'), false},
               {std::string(static_cast<std::size_t>(width - 1), 'A') + "\xc3\x84", false},
               {std::string(static_cast<std::size_t>(width + 1), 'A'), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identifier);
    page.manufacturer = c.identifier;
    msgs.shown.clear();
    BuildResult r = go();
    EXPECT_EQ(r.outcome, c.refused ? BuildOutcome::Refused : BuildOutcome::Complete);
    if (c.refused) {
      EXPECT_EQ(msgs.texts(), std::vector<std::string>{"The manufacturer ID " + c.identifier +
                                                       " has " + std::to_string(width + 1) +
                                                       " characters; the price file's DEPT "
                                                       "field holds " +
                                                       std::to_string(width) + "."});
      EXPECT_FALSE(file_exists(dest + c.identifier + "LIST.dbf"));
    }
  }
  EXPECT_EQ(testkit::read_bytes(priceFile()), old.at("ACMELIST.dbf"));
}

TEST_F(BuildTest, TraceBoxesWhenDebugTxtIsThere) {
  write_file(app + "debug.txt");
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  const std::string p = priceFile();
  std::vector<std::string> want = {"Here 1",  "Here 1a", "Here 1b", "Here 12", "Here 13",
                                   "Here 14", "Here 18", "Here 19", "Here 110"};
  want.push_back("Here 0" + p);
  for (int i = 1; i <= 8; ++i) want.push_back("Here 0" + std::to_string(i) + p);
  want.push_back("Here 09" + app);
  EXPECT_EQ(msgs.texts(), want);
  EXPECT_EQ(want.size(), 19u);
  for (const auto& s : msgs.shown) EXPECT_EQ(s.kind, MsgKind::Plain);

  // With vendor information four more before the walk; registration then stops on the
  // missing templates, after them.
  msgs.shown.clear();
  page.vendorInfo = true;
  page.manulistFolder = tf.folder("Tessaro/Data");
  page.vendorId = "V1";
  page.vendorCode = "C1";
  BuildResult r = go();
  EXPECT_EQ(r.outcome, BuildOutcome::RegistrationStopped);
  EXPECT_TRUE(r.completion.empty());
  EXPECT_EQ(msgs.beeps, 1);  // from the first build only
  std::vector<std::string> texts = msgs.texts();
  ASSERT_EQ(texts.size(), 24u);
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 6, texts.begin() + 10),
            (std::vector<std::string>{"Here chkVendInfo", "Here 15", "Here 16", "Here 17"}));
  EXPECT_EQ(texts[22], "Here 09" + app);
  EXPECT_NE(texts[23].find("Can not locate "), std::string::npos) << texts[23];

  // Without the file, not one.
  delete_file(app + "debug.txt");
  msgs.shown.clear();
  page.vendorInfo = false;
  ASSERT_EQ(go().outcome, BuildOutcome::Complete);
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(BuildTest, VendorInformationRegistersInTheSampleTessaroFolder) {
  std::string data = testkit::copy_sample_tessaro(tf);
  page.vendorInfo = true;
  page.manulistFolder = data;
  page.vendorId = "V1001";
  page.vendorCode = "ACM001";
  page.company = "Acme Electrical Supply";
  page.serialNum = "N";
  BuildResult r = go();
  ASSERT_EQ(r.outcome, BuildOutcome::Complete) << (msgs.shown.empty() ? "" : msgs.shown[0].text);
  for (const char* list : {"filelist.dbf", "datelist.dbf"}) {
    DbfTable t;
    t.setFolder(dest);
    t.setTableName(list);
    t.open();
    ASSERT_EQ(t.recordCount(), 1) << list;
    t.first();
    EXPECT_EQ(t.fieldByName("file").asString(), "ACME");
  }
  DbfTable m;
  m.setFolder(data);
  m.setTableName("manulist.dbf");
  m.open();
  bool found = false;
  for (m.first(); !m.eof(); m.next())
    if (m.fieldByName("file").asString() == "ACME") {
      found = true;
      EXPECT_EQ(m.fieldByName("COMPANY").asString(), "Acme Electrical Supply");
    }
  EXPECT_TRUE(found);
  // The destination field list is where the next build finds it.
  EXPECT_EQ(tblFields.tableName(), "flistwin.dbf");
}

TEST_F(BuildTest, ProgressReportsRowsAndTheSheetSize) {
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  BuildSource source{src, &src, {}, [] { return std::int64_t{3}; }};
  BuildTables tables{cdsStore, tblFields, tblExport, tblVendor};
  BuildEnvironment env{msgs, app, settings};
  env.progress = [&](std::int64_t rows, std::int64_t total) { seen.emplace_back(rows, total); };
  ASSERT_EQ(build_file(page, source, tables, env).outcome, BuildOutcome::Complete);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front(), (std::pair<std::int64_t, std::int64_t>{0, 3}));
  EXPECT_EQ(seen.back(), (std::pair<std::int64_t, std::int64_t>{3, 3}));
}

TEST_F(BuildTest, PageReadFromTheStoredConfiguration) {
  cdsStore.first();
  cdsStore.edit();
  cdsStore.fieldByName("EXPORTDBF").setAsString("ACM");
  cdsStore.fieldByName("STARTEXPRT").setAsString("3");
  cdsStore.fieldByName("APPENDDATA").setAsBoolean(true);
  cdsStore.fieldByName("BREAKONROW").setAsBoolean(true);
  cdsStore.fieldByName("UPDATEDATE").setAsDateTime({day_from_ymd(2026, 11, 1), 0});
  cdsStore.fieldByName("SERIALNUM").setAsString("Y");
  cdsStore.fieldByName("FIELDSLIST").setLines({"PARTNUMBER=0", "DESCRIPTN=1"});
  cdsStore.post();
  BuildPage p;
  p.destFolder = "kept/";
  read_page_from_configuration(cdsStore, p);
  EXPECT_EQ(p.manufacturer, "ACM");
  EXPECT_EQ(p.saveName, "Acme");
  EXPECT_EQ(p.startRow, "3");
  EXPECT_TRUE(p.addToExisting);
  EXPECT_TRUE(p.rowBreak);
  EXPECT_FALSE(p.addTitleToDesc);
  EXPECT_EQ(p.updateDate, "11/1/2026");
  EXPECT_EQ(p.serialNum, "Y");
  EXPECT_EQ(p.mapping, (std::vector<std::string>{"PARTNUMBER=0", "DESCRIPTN=1"}));
  EXPECT_EQ(p.destFolder, "kept/");
}

}  // namespace
