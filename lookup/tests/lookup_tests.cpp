#include <gtest/gtest.h>

#include <algorithm>

#include "config/tests/test_folder.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/text.h"
#include "lookup/vendor_lookup.h"

using namespace qm;
using qm::lookup::LookupMode;
using qm::lookup::VendorLookup;
using qm::tables::DbfTable;

namespace {

struct Vendor {
  std::string code, company, id;
};

class VendorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manulist = testkit::copy_sample_tessaro(tf);
    DbfTable t;
    t.setFolder(manulist);
    t.setTableName("prvendor.DBF");
    t.open();
    for (t.first(); !t.eof(); t.next())
      vendors.push_back({t.fieldByName("code").asString(), t.fieldByName("company").asString(),
                         t.fieldByName("ID").asString()});
    ASSERT_GE(vendors.size(), 3u);
  }

  // The keys of a look-up order as the table's index walks them.
  std::vector<std::string> keysInOrder(const char* index, const char* field) {
    DbfTable t;
    t.setFolder(manulist);
    t.setTableName("prvendor.DBF");
    t.setIndexName(index);
    t.open();
    std::vector<std::string> r;
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName(field).asString());
    return r;
  }

  void openStore() {
    std::string app = tf.folder("app");
    testkit::create_table(app, "storelst.dbf", testkit::storelst_defs());
    cdsStore.setFolder(app);
    cdsStore.setTableName("storelst.dbf");
    cdsStore.open();
  }

  testkit::TestFolder tf;
  std::string manulist;
  std::vector<Vendor> vendors;
  DbfTable tblVendor, cdsStore;
  ScriptedMessages msgs;
};

TEST_F(VendorTest, LookUpWithACodeOpensInCodeOrderOnThatVendor) {
  VendorLookup lookup(tblVendor);
  const Vendor& wanted = vendors[vendors.size() / 2];
  ASSERT_TRUE(lookup.lookUp(manulist, wanted.code, msgs));
  EXPECT_TRUE(msgs.shown.empty());
  EXPECT_TRUE(lookup.panelShown());
  EXPECT_EQ(lookup.mode(), LookupMode::Code);
  EXPECT_TRUE(iequals(tblVendor.indexName(), "code"));
  EXPECT_EQ(tblVendor.fieldByName("code").asString(), wanted.code);
  EXPECT_EQ(tblVendor.fieldByName("company").asString(), wanted.company);
}

TEST_F(VendorTest, LookUpWithoutACodeKeepsTheLastModeOnTheFirstRow) {
  VendorLookup lookup(tblVendor);
  ASSERT_TRUE(lookup.lookUp(manulist, "", msgs));
  EXPECT_EQ(lookup.mode(), LookupMode::Company);
  EXPECT_EQ(tblVendor.fieldByName("company").asString(), keysInOrder("company", "company").front());

  lookup.chooseMode(LookupMode::Id);
  lookup.closePanel();
  EXPECT_FALSE(tblVendor.active());
  // Something else (the registration) left the table in company order meanwhile.
  tblVendor.setIndexName("company");
  ASSERT_TRUE(lookup.lookUp(manulist, "", msgs));
  EXPECT_EQ(lookup.mode(), LookupMode::Id);
  EXPECT_EQ(tblVendor.fieldByName("ID").asString(), keysInOrder("id", "ID").front());
}

TEST_F(VendorTest, AnUnknownCodeOpensOnTheFirstRowInCodeOrder) {
  VendorLookup lookup(tblVendor);
  ASSERT_TRUE(lookup.lookUp(manulist, "\x7F\x7FNONE", msgs));
  EXPECT_EQ(tblVendor.fieldByName("code").asString(), keysInOrder("code", "code").front());
}

TEST_F(VendorTest, AnyFailureBeepsAndNamesTheFolder) {
  struct Case {
    std::string folder;
    const char* breakWhat;
  } cases[] = {{tf.folder("nothing-here"), "no table"},
               {join_path(tf.folder("x"), "missing") + separator_string(), "no folder"}};
  for (const auto& c : cases) {
    VendorLookup lookup(tblVendor);
    ScriptedMessages m;
    EXPECT_FALSE(lookup.lookUp(c.folder, "", m)) << c.breakWhat;
    EXPECT_EQ(m.beeps, 1) << c.breakWhat;
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.shown[0].kind, MsgKind::Plain);
    EXPECT_EQ(m.shown[0].text, "Could not open Vendor File in path:" + c.folder);
    EXPECT_FALSE(lookup.panelShown());
  }

  // The table is there but the order the look-up needs is not: without its production index,
  // and with only the company and ID tags when a vendor code asks for code order.
  std::string noIndex = tf.folder("no-index");
  std::string noCodeTag = tf.folder("no-code-tag");
  copy_file_replace(join_path(manulist, "prvendor.DBF"), join_path(noIndex, "prvendor.DBF"));
  {
    DbfTable from;
    from.setFolder(manulist);
    from.setTableName("prvendor.DBF");
    testkit::create_table(noCodeTag, "prvendor.DBF", from.fieldDefs());
    DbfTable t;
    t.setFolder(noCodeTag);
    t.setTableName("prvendor.DBF");
    t.setExclusive(true);
    t.open();
    from.open();
    for (from.first(); !from.eof(); from.next()) {
      t.append();
      for (int i = 0; i < from.fieldCount(); ++i) t.field(i).setAsString(from.field(i).asString());
      t.post();
    }
    t.addIndex("COMPANY", "COMPANY");
    t.addIndex("ID", "ID");
  }
  struct Missing {
    std::string folder;
    std::string code;
    const char* what;
  } missing[] = {{noIndex, "", "no index"}, {noCodeTag, vendors[0].code, "no code tag"}};
  for (const auto& c : missing) {
    VendorLookup lookup(tblVendor);
    ScriptedMessages m;
    EXPECT_FALSE(lookup.lookUp(c.folder, c.code, m)) << c.what;
    EXPECT_EQ(m.beeps, 1) << c.what;
    ASSERT_EQ(m.shown.size(), 1u) << c.what;
    EXPECT_EQ(m.shown[0].text, "Could not open Vendor File in path:" + c.folder);
    EXPECT_FALSE(tblVendor.active()) << c.what;
  }
  // The same table in company order opens.
  VendorLookup lookup(tblVendor);
  EXPECT_TRUE(lookup.lookUp(noCodeTag, "", msgs));
}

TEST_F(VendorTest, LiveFindLandsOnTheFirstKeyAtOrAfterTheText) {
  VendorLookup lookup(tblVendor);
  ASSERT_TRUE(lookup.lookUp(manulist, "", msgs));
  struct Case {
    LookupMode mode;
    const char* index;
    const char* field;
  } modes[] = {{LookupMode::Company, "company", "company"},
               {LookupMode::Id, "id", "ID"},
               {LookupMode::Code, "code", "code"}};
  for (const auto& m : modes) {
    lookup.chooseMode(m.mode);
    std::vector<std::string> keys = keysInOrder(m.index, m.field);
    // Texts typed one letter at a time: every key's first letters, and texts between keys.
    std::vector<std::string> typed;
    for (const auto& k : keys) {
      if (k.size() >= 2) typed.push_back(k.substr(0, 2));
      typed.push_back(k);
    }
    typed.push_back("AC");
    typed.push_back("A");
    for (const auto& text : typed) {
      lookup.setFindText(text);
      auto at = std::find_if(keys.begin(), keys.end(), [&](const std::string& k) {
        return k.compare(0, text.size(), text) >= 0;
      });
      if (at == keys.end()) continue;  // past the last key: where the grid stands is the engine's
      EXPECT_EQ(tblVendor.fieldByName(m.field).asString(), *at) << m.field << " typed " << text;
    }
  }
  // Changing the mode empties the text, which shows the first row again.
  lookup.chooseMode(LookupMode::Company);
  lookup.setFindText("Z");
  lookup.chooseMode(LookupMode::Id);
  EXPECT_EQ(lookup.findText(), "");
  EXPECT_EQ(tblVendor.fieldByName("ID").asString(), keysInOrder("id", "ID").front());
}

TEST_F(VendorTest, TakeCopiesTheVendorIntoTheCurrentConfigurationAndLeavesItInEdit) {
  openStore();
  cdsStore.append();
  cdsStore.fieldByName("STORENAME").setAsString("Posted");
  cdsStore.post();
  VendorLookup lookup(tblVendor);
  const Vendor& wanted = vendors.back();
  ASSERT_TRUE(lookup.lookUp(manulist, wanted.code, msgs));
  lookup.take(cdsStore);
  EXPECT_EQ(cdsStore.state(), tables::TableState::Edit);
  EXPECT_EQ(cdsStore.fieldByName("Code").asString(), wanted.code);
  EXPECT_EQ(cdsStore.fieldByName("Source_ID").asString(), tblVendor.fieldByName("ID").asString());
  EXPECT_EQ(cdsStore.fieldByName("DEPT").asString(), tblVendor.fieldByName("INVTLINK").asString());
  EXPECT_EQ(cdsStore.fieldByName("SHEET").asString(),
            tblVendor.fieldByName("ALIASNAME1").asString());
  EXPECT_EQ(cdsStore.fieldByName("CONVERSION").asString(),
            tblVendor.fieldByName("EXTRA2").asString());
  EXPECT_EQ(cdsStore.fieldByName("US_CANADA").asBoolean(),
            tblVendor.fieldByName("US_COMPANY").asBoolean());
  lookup.closePanel();
  EXPECT_FALSE(tblVendor.active());
  EXPECT_EQ(cdsStore.state(), tables::TableState::Edit) << "the record stays unposted";

  // Into a new record not yet posted: no other record is edited.
  cdsStore.post();
  cdsStore.append();
  ASSERT_TRUE(lookup.lookUp(manulist, vendors.front().code, msgs));
  lookup.take(cdsStore);
  EXPECT_EQ(cdsStore.state(), tables::TableState::Insert);
  cdsStore.post();
  EXPECT_EQ(cdsStore.recordCount(), 2);
  cdsStore.first();
  EXPECT_EQ(cdsStore.fieldByName("Code").asString(), wanted.code);
  cdsStore.next();
  EXPECT_EQ(cdsStore.fieldByName("Code").asString(), vendors.front().code);
}

TEST(DestinationChoice, ChecksOnlyEmptinessInOrder) {
  struct Case {
    const char* exportDbf;
    const char* start;
    bool ok;
    const char* text;
  } cases[] = {
      {"", "1", false,
       "You must enter a manufacturer of 3 to 4 characters\r\nin order to pick a destination "
       "folder."},
      {"", "", false,
       "You must enter a manufacturer of 3 to 4 characters\r\nin order to pick a destination "
       "folder."},
      {"AB", "", false, "You must enter a record number to start exporting data."},
      {"AB", "1", true, nullptr},
      {"ACME", "x", true, nullptr},
  };
  for (const auto& c : cases) {
    ScriptedMessages m;
    EXPECT_EQ(lookup::check_destination_choice(c.exportDbf, c.start, m), c.ok) << c.exportDbf;
    if (c.text) {
      ASSERT_EQ(m.shown.size(), 1u);
      EXPECT_EQ(m.shown[0].kind, MsgKind::Error);
      EXPECT_EQ(m.shown[0].text, c.text);
    } else {
      EXPECT_TRUE(m.shown.empty());
    }
  }
  EXPECT_EQ(lookup::proposed_file_name("ABC"), "ABCLIST.dbf");
  const std::string out = join_path(join_path(separator_string() + "out", "sub"), "ABCLIST.dbf");
  EXPECT_EQ(lookup::folder_of_choice(out),
            join_path(separator_string() + "out", "sub") + separator_string());
}

}  // namespace
