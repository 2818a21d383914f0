#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <map>

#include "config/tests/test_folder.h"
#include "core/datetime.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/text.h"
#include "pricefile/registration.h"

using namespace qm;
using qm::pricefile::RegistrationValues;
using qm::tables::DbfTable;
using qm::tables::FieldDef;

namespace {

// The separator the messages name: the platform's own.
const std::string kSep = separator_string();

class FixedSettings : public pricefile::SettingsSource {
 public:
  std::map<std::string, std::string> values;  // "section/key"
  std::string readString(const std::string& section, const std::string& key,
                         const std::string& def) const override {
    auto it = values.find(section + "/" + key);
    return it == values.end() ? def : it->second;
  }
};

struct ListRecord {
  bool found = false;
  std::map<std::string, std::string> fields;  // upper-case name -> text
};

// Reads a list from disk: record count and the record of one identifier.
ListRecord read_record(const std::string& folder, const std::string& name, const std::string& id,
                       std::int64_t* count = nullptr) {
  DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  t.open();
  if (count) *count = t.recordCount();
  ListRecord r;
  for (t.first(); !t.eof(); t.next()) {
    if (t.fieldByName("file").asString() != id) continue;
    r.found = true;
    for (int i = 0; i < t.fieldCount(); ++i)
      r.fields[to_upper_ascii(t.field(i).name())] = t.field(i).asString();
    break;
  }
  return r;
}

std::int64_t count_of(const std::string& folder, const std::string& name) {
  DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  t.open();
  return t.recordCount();
}

// What the tag of one character field must hold for the table as it stands: every live
// record's key with its record number, in key order.
std::vector<testkit::IndexEntry> entries_from_records(const std::string& folder,
                                                      const std::string& name,
                                                      const std::string& field) {
  DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  t.open();
  std::vector<testkit::IndexEntry> r;
  for (t.first(); !t.eof(); t.next())
    r.push_back({t.fieldByName(field).asString(), static_cast<long>(t.recNo())});
  std::stable_sort(
      r.begin(), r.end(),
      [](const testkit::IndexEntry& a, const testkit::IndexEntry& b) { return a.key < b.key; });
  return r;
}

// The table reads through, and the independent reader finds in its production index exactly
// the keys of its records.
void expect_index_agrees(const testkit::TestFolder& tf, const std::string& folder,
                         const std::string& name, const std::string& tag) {
  const std::string base = name.substr(0, name.size() - 4);
  const std::string mdx = file_exists(join_path(folder, base + ".mdx"))
                              ? join_path(folder, base + ".mdx")
                              : join_path(folder, base + ".MDX");
  ASSERT_TRUE(file_exists(mdx)) << mdx;
  if (testkit::have_perl_xbase()) {
    EXPECT_EQ(testkit::independent_index_entries(tf, mdx, tag),
              entries_from_records(folder, name, tag))
        << name << " tag " << tag;
  }
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manulist = testkit::copy_sample_tessaro(tf);
    stru = pricefile::template_folder(manulist);
    dest = tf.folder("dest");
    app = tf.folder("app");
    for (const char* f : {"filelwin.dbf", "flistwin.dbf"}) testkit::put_data_file(app, f);

    // A vendor that the sample vendor table holds.
    DbfTable vendors;
    vendors.setFolder(manulist);
    vendors.setTableName("prvendor.DBF");
    vendors.open();
    ASSERT_GT(vendors.recordCount(), 0);
    vendors.first();
    vendorCode = vendors.fieldByName("code").asString();
    ASSERT_FALSE(vendorCode.empty());

    v.destFolder = dest;
    v.manulistFolder = manulist;
    v.identifier = "QMT";
    v.company = "Quillmere Test Co";
    v.code = vendorCode;
    v.sourceId = "SRC1";
    v.parameter = "PARM";
    v.updateText = "12/9/2026";
    v.priceSheet = "Dec 2026";
    v.sourceLit = "LIT";
    v.usCanada = true;
    v.cable = false;
    v.contractPr = true;
    v.serialNum = "Y";
    v.conversion = "12";
    v.dept = "QMD";
    tblVendor.setTableName("prvendor.DBF");
  }

  bool run() { return pricefile::register_price_file(v, tables, msgs, app, settings); }

  testkit::TestFolder tf;
  std::string manulist, stru, dest, app, vendorCode;
  RegistrationValues v;
  DbfTable tblExport, tblFields, tblVendor;
  pricefile::RegistrationTables tables{tblExport, tblFields, tblVendor};
  ScriptedMessages msgs;
  FixedSettings settings;
};

TEST_F(RegistrationTest, FirstRegistrationCreatesBothListsWithOneRecordEach) {
  const std::int64_t manuBefore = count_of(manulist, "manulist.dbf");
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_TRUE(msgs.shown.empty()) << ::testing::PrintToString(msgs.texts());

  std::int64_t n = 0;
  ListRecord fl = read_record(dest, "filelist.dbf", "QMT", &n);
  EXPECT_EQ(n, 1);
  ASSERT_TRUE(fl.found);
  EXPECT_EQ(fl.fields["COMPANY"], "Quillmere Test Co");
  EXPECT_EQ(fl.fields["CODE"], vendorCode);
  EXPECT_EQ(fl.fields["SOURCE_ID"], "SRC1");
  EXPECT_EQ(fl.fields["PARAMETER"], "PARM");
  EXPECT_EQ(fl.fields["PRICESHEET"], "Dec 2026");
  EXPECT_EQ(fl.fields["SOURCELIT"], "LIT");
  EXPECT_EQ(fl.fields["US_CANADA"], "True");
  EXPECT_EQ(fl.fields["CABLE"], "False");
  EXPECT_EQ(fl.fields["CONTRACTPR"], "True");
  EXPECT_EQ(fl.fields["SERIALNUM"], "Y");
  EXPECT_EQ(fl.fields["CONVERSION"], "12");

  ListRecord dl = read_record(dest, "datelist.dbf", "QMT", &n);
  EXPECT_EQ(n, 1);
  ASSERT_TRUE(dl.found);
  EXPECT_EQ(dl.fields["PRICESHEET"], "Dec 2026");
  DbfTable d;
  d.setFolder(dest);
  d.setTableName("datelist.dbf");
  d.open();
  d.first();
  EXPECT_EQ(d.fieldByName("UPDATE").asDateTime(), (DateTime{day_from_ymd(2026, 12, 9), 0}));

  ListRecord ml = read_record(manulist, "manulist.dbf", "QMT", &n);
  EXPECT_EQ(n, manuBefore + 1);
  ASSERT_TRUE(ml.found);
  EXPECT_EQ(ml.fields["DEPT"], "QMD");
  EXPECT_EQ(ml.fields["COMPANY"], "Quillmere Test Co");
  EXPECT_EQ(ml.fields["CONVERSION"], "12");

  // The destination field list is current again, from the program folder by default.
  EXPECT_TRUE(tblFields.active());
  EXPECT_EQ(tblFields.folder(), app);
  EXPECT_EQ(tblFields.tableName(), "flistwin.dbf");
  EXPECT_FALSE(tblExport.active());
}

TEST_F(RegistrationTest, TheSameIdentifierTwiceUpdatesTheSameThreeRecords) {
  ASSERT_TRUE(run());
  const std::int64_t manu = count_of(manulist, "manulist.dbf");
  v.company = "Second Company";
  v.priceSheet = "Jan 2027";
  v.updateText = "not a date";
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_EQ(count_of(dest, "filelist.dbf"), 1);
  EXPECT_EQ(count_of(dest, "datelist.dbf"), 1);
  EXPECT_EQ(count_of(manulist, "manulist.dbf"), manu);
  EXPECT_EQ(read_record(dest, "filelist.dbf", "QMT").fields["COMPANY"], "Second Company");
  EXPECT_EQ(read_record(manulist, "manulist.dbf", "QMT").fields["COMPANY"], "Second Company");
  EXPECT_EQ(read_record(dest, "datelist.dbf", "QMT").fields["PRICESHEET"], "Jan 2027");
  {
    // Closed before the next run: on Windows an open file cannot be replaced.
    DbfTable d;
    d.setFolder(dest);
    d.setTableName("datelist.dbf");
    d.open();
    d.first();
    EXPECT_EQ(d.fieldByName("UPDATE").asDateTime(), (DateTime{today().day, 0}))
        << "a text that is no date gives today";
  }

  // Another identifier adds its own records.
  v.identifier = "QMU";
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_EQ(count_of(dest, "filelist.dbf"), 2);
  EXPECT_EQ(count_of(manulist, "manulist.dbf"), manu + 1);
}

TEST_F(RegistrationTest, AnEmptyDeptLeavesTheManufacturerListDeptAsItWas) {
  ASSERT_TRUE(run());
  v.dept = "";
  v.company = "Changed";
  ASSERT_TRUE(run());
  ListRecord ml = read_record(manulist, "manulist.dbf", "QMT");
  EXPECT_EQ(ml.fields["DEPT"], "QMD");
  EXPECT_EQ(ml.fields["COMPANY"], "Changed");
  v.identifier = "QMV";
  ASSERT_TRUE(run());
  EXPECT_EQ(read_record(manulist, "manulist.dbf", "QMV").fields["DEPT"], "");
}

TEST_F(RegistrationTest, AFileListOf44FieldsIsRebuiltKeepingItsRecords) {
  std::vector<FieldDef> defs = testkit::defs_of(stru, "filelst.dbf");
  ASSERT_EQ(defs.size(), 45u);
  // Drop a field no registration writes, so the old records' other values can be compared.
  auto dropped = std::find_if(defs.begin(), defs.end(), [](const FieldDef& d) {
    for (const char* named :
         {"file", "COMPANY", "CODE", "SOURCE_ID", "PARAMETER", "UPDATE", "pricesheet", "SOURCELIT",
          "us_canada", "cable", "CONTRACTPR", "serialnum", "conversion", "DEPT"})
      if (iequals(d.name, named)) return false;
    return true;
  });
  ASSERT_NE(dropped, defs.end());
  defs.erase(dropped);
  testkit::create_table(dest, "filelist.dbf", defs);
  {
    DbfTable t;
    t.setFolder(dest);
    t.setTableName("filelist.dbf");
    t.open();
    for (const char* id : {"OLD1", "QMT"}) {
      t.append();
      t.fieldByName("file").setAsString(id);
      t.fieldByName("COMPANY").setAsString(std::string("Company of ") + id);
      t.post();
    }
  }
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());

  DbfTable t;
  t.setFolder(dest);
  t.setTableName("filelist.dbf");
  t.open();
  EXPECT_EQ(t.fieldCount(), static_cast<int>(testkit::defs_of(app, "filelwin.dbf").size()));
  EXPECT_EQ(t.recordCount(), 2);
  ASSERT_EQ(t.tagNames().size(), 1u);
  EXPECT_TRUE(iequals(t.tagNames()[0], "file"));
  EXPECT_EQ(read_record(dest, "filelist.dbf", "OLD1").fields["COMPANY"], "Company of OLD1");
  EXPECT_EQ(read_record(dest, "filelist.dbf", "QMT").fields["COMPANY"], "Quillmere Test Co");
  EXPECT_FALSE(file_exists(join_path(dest, "work.dbf")));
  t.close();
  if (testkit::have_perl_xbase()) {
    EXPECT_EQ(testkit::independent_index_entries(tf, join_path(dest, "filelist.mdx"), "file"),
              (std::vector<testkit::IndexEntry>{{"OLD1", 1}, {"QMT", 2}}));
  }
}

TEST_F(RegistrationTest, AKnownVendorGetsTheSerialChoiceAnUnknownOneChangesNothing) {
  v.serialNum = " N ";
  ASSERT_TRUE(run());
  DbfTable vendors;
  vendors.setFolder(manulist);
  vendors.setTableName("prvendor.DBF");
  vendors.open();
  vendors.first();
  EXPECT_EQ(vendors.fieldByName("code").asString(), vendorCode);
  EXPECT_EQ(vendors.fieldByName("SERIAL_Y_N").asString(), "N");
  vendors.close();
  EXPECT_TRUE(iequals(tblVendor.indexName(), "company"));
  EXPECT_FALSE(tblVendor.active());

  const std::string before = testkit::read_bytes(join_path(manulist, "prvendor.DBF"));
  v.code = "NO SUCH VENDOR";
  v.serialNum = "Y";
  ASSERT_TRUE(run());
  EXPECT_EQ(testkit::read_bytes(join_path(manulist, "prvendor.DBF")), before);
  EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(RegistrationTest, TheTemplatesAreFoundBesideTheManufacturerListsFolderInAnyCase) {
  // As copied from Windows: "STRU", and the folder typed without its separator.
  const std::filesystem::path tessaro = to_fs_path(manulist).parent_path().parent_path();
  std::filesystem::rename(tessaro / "stru", tessaro / "STRU");
  v.manulistFolder = manulist.substr(0, manulist.size() - 1);
  EXPECT_EQ(pricefile::template_folder(v.manulistFolder),
            join_path(join_path(v.manulistFolder, ".."), "stru"));
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_TRUE(read_record(dest, "filelist.dbf", "QMT").found);
  EXPECT_TRUE(read_record(dest, "datelist.dbf", "QMT").found);
  EXPECT_TRUE(read_record(manulist, "manulist.dbf", "QMT").found);
}

TEST_F(RegistrationTest, MissingTemplatesGiveTheirInformationTexts) {
  struct Case {
    const char* removed;
    std::string text;
  } cases[] = {
      {"filelst.dbf",
       ".." + kSep + "Stru" + kSep + "FileLst.dbf\", Filelist, Manulist work not complete!"},
      // The file list was written, but a registration lands whole or not at all.
      {"Datelst.dbf", ".." + kSep + "Stru" + kSep + "DateLst.dbf\", work not complete!"},
  };
  for (const auto& c : cases) {
    testkit::TestFolder other;
    v.manulistFolder = testkit::copy_sample_tessaro(other);
    v.destFolder = other.folder("dest");
    ASSERT_TRUE(delete_file(join_path(pricefile::template_folder(v.manulistFolder), c.removed)));
    msgs.shown.clear();
    EXPECT_FALSE(run()) << c.removed;
    ASSERT_EQ(msgs.shown.size(), 1u) << c.removed;
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Information);
    EXPECT_EQ(msgs.shown[0].text, "Can not locate \"" + v.manulistFolder + c.text);
    EXPECT_FALSE(file_exists(join_path(v.destFolder, "filelist.dbf")));
    EXPECT_FALSE(file_exists(join_path(v.destFolder, "datelist.dbf")));
    EXPECT_FALSE(read_record(v.manulistFolder, "manulist.dbf", "QMT").found);
    // The destination field list is not left pointing at a template.
    EXPECT_EQ(tblFields.tableName(), "flistwin.dbf") << c.removed;
    EXPECT_EQ(tblFields.folder(), app) << c.removed;
  }
}

TEST_F(RegistrationTest, TableErrorsNameTheTableAndStop) {
  // Lists in place, but the manufacturer list must be made and its template is gone: the
  // template is not looked for first, so opening it fails.
  ASSERT_TRUE(run());
  ASSERT_TRUE(delete_file(join_path(manulist, "manulist.dbf")));
  delete_file(join_path(manulist, "manulist.mdx"));
  delete_file(join_path(manulist, "manulist.dbt"));
  ASSERT_TRUE(delete_file(join_path(stru, "filelst.dbf")));
  EXPECT_FALSE(run());
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Plain);
  const std::string tail = " Error Open file " + stru + separator_string() + "filelst.dbf";
  EXPECT_TRUE(ends_with(msgs.shown[0].text, tail)) << msgs.shown[0].text;
  EXPECT_GT(msgs.shown[0].text.size(), tail.size()) << "the engine's own message comes first";
  EXPECT_EQ(tblFields.tableName(), "flistwin.dbf");
}

TEST_F(RegistrationTest, TheFieldListGoesBackToTheFlistFolder) {
  std::string flist = tf.folder("flist");
  testkit::put_data_file(flist, "flistwin.dbf");
  settings.values["DestFolder/Flist"] = flist;
  ASSERT_TRUE(run());
  EXPECT_EQ(tblFields.folder(), flist);
  EXPECT_TRUE(tblFields.active());

  // Read from a settings file as the window and the command line keep it.
  std::string ini = join_path(app, "Convert.ini");
  {
    IniFile f(ini);
    f.writeString("DestFolder", "Flist", tf.folder("empty"));
  }
  IniFile iniFile(ini);
  pricefile::IniSettings fromFile(iniFile);
  msgs.shown.clear();
  EXPECT_FALSE(pricefile::register_price_file(v, tables, msgs, app, fromFile));
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_TRUE(ends_with(msgs.shown[0].text, " Error Open file " + tf.folder("empty") +
                                                separator_string() + "flistwin.dbf"))
      << msgs.shown[0].text;
}

TEST_F(RegistrationTest, AConversionTheFileListCannotTakeBecomesZero) {
  // Only meaningful when the template keeps conversion as a number.
  DbfTable t;
  std::vector<FieldDef> defs = testkit::defs_of(stru, "filelst.dbf");
  auto conv = std::find_if(defs.begin(), defs.end(),
                           [](const FieldDef& d) { return iequals(d.name, "conversion"); });
  ASSERT_NE(conv, defs.end());
  if (conv->type != 'N' && conv->type != 'F') GTEST_SKIP() << "conversion is kept as text";
  v.conversion = "twelve";
  EXPECT_THROW(run(), Error) << "the manufacturer list does not catch it";
  // The file list took "0", but the three lists land together or not at all.
  EXPECT_FALSE(file_exists(join_path(dest, "filelist.dbf")));
  EXPECT_FALSE(read_record(manulist, "manulist.dbf", "QMT").found) << "left unposted";
  expect_index_agrees(tf, manulist, "manulist.dbf", "file");
  // Nothing stays open under tblExport, so the next build can make its price file with it.
  EXPECT_FALSE(tblExport.active());
  EXPECT_EQ(tblFields.tableName(), "flistwin.dbf");

  v.conversion = "12";
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_EQ(read_record(manulist, "manulist.dbf", "QMT").fields["CONVERSION"], "12");
  EXPECT_EQ(count_of(dest, "filelist.dbf"), 1);
}

TEST_F(RegistrationTest, IndexesAgreeWithTheRecordsAfterAddsAndUpdates) {
  const std::int64_t manuBefore = count_of(manulist, "manulist.dbf");
  ASSERT_GT(manuBefore, 0);
  expect_index_agrees(tf, manulist, "manulist.dbf", "file");
  // Identifiers that sort before, between and after those already listed, then again.
  for (const char* id : {"ZZZ", "AAA", "MMM", "AAA", "ZZZ"}) {
    v.identifier = id;
    v.company = std::string("Company ") + id;
    ASSERT_TRUE(run()) << id << ::testing::PrintToString(msgs.texts());
  }
  EXPECT_EQ(count_of(manulist, "manulist.dbf"), manuBefore + 3);
  EXPECT_EQ(count_of(dest, "filelist.dbf"), 3);
  EXPECT_EQ(count_of(dest, "datelist.dbf"), 3);
  expect_index_agrees(tf, manulist, "manulist.dbf", "file");
  EXPECT_EQ(read_record(manulist, "manulist.dbf", "AAA").fields["COMPANY"], "Company AAA");

  // The vendor's serial choice leaves its look-up tags as they were.
  for (const char* tag : {"COMPANY", "ID", "CODE"})
    expect_index_agrees(tf, manulist, "prvendor.DBF", tag);

  // A date list is never rebuilt: it keeps the template's fields.
  EXPECT_EQ(testkit::defs_of(dest, "datelist.dbf"), testkit::defs_of(stru, "Datelst.dbf"));
}

TEST_F(RegistrationTest, AManufacturerListOf44FieldsIsRebuiltWithItsTag) {
  // The sample list with one field fewer and its records, as an older project system has it.
  std::vector<FieldDef> defs = testkit::defs_of(manulist, "manulist.dbf");
  ASSERT_EQ(defs.size(), 45u);
  std::vector<std::string> ids;
  {
    DbfTable t;
    t.setFolder(manulist);
    t.setTableName("manulist.dbf");
    t.open();
    for (t.first(); !t.eof(); t.next()) ids.push_back(t.fieldByName("file").asString());
  }
  ASSERT_FALSE(ids.empty());
  for (const char* ext : {".dbf", ".mdx", ".dbt"})
    delete_file(join_path(manulist, std::string("manulist") + ext));
  defs.pop_back();
  testkit::create_table(manulist, "manulist.dbf", defs);
  {
    DbfTable t;
    t.setFolder(manulist);
    t.setTableName("manulist.dbf");
    t.open();
    for (const auto& id : ids) {
      t.append();
      t.fieldByName("file").setAsString(id);
      t.post();
    }
  }
  ASSERT_TRUE(run()) << ::testing::PrintToString(msgs.texts());
  EXPECT_EQ(testkit::defs_of(manulist, "manulist.dbf").size(),
            testkit::defs_of(app, "filelwin.dbf").size());
  EXPECT_EQ(count_of(manulist, "manulist.dbf"), static_cast<std::int64_t>(ids.size()) + 1);
  EXPECT_EQ(read_record(manulist, "manulist.dbf", "QMT").fields["DEPT"], "QMD");
  expect_index_agrees(tf, manulist, "manulist.dbf", "file");
  // Rebuilt once: the second registration finds 45 fields and updates in place.
  ASSERT_TRUE(run());
  EXPECT_EQ(count_of(manulist, "manulist.dbf"), static_cast<std::int64_t>(ids.size()) + 1);
  expect_index_agrees(tf, manulist, "manulist.dbf", "file");
}

}  // namespace
