#include <gtest/gtest.h>

#include "config/config_text.h"
#include "config/store.h"
#include "config/tests/test_folder.h"
#include "core/datetime.h"
#include "core/error.h"
#include "core/text.h"

using namespace qm;
using qm::tables::DbfTable;

namespace {

TEST(ConfigurationText, ReadsKeysValuesAndMappingVerbatim) {
  auto c = config::parse_configuration_text(
      "\xEF\xBB\xBF[Configuration]\r\nSTORENAME= two  blanks \r\n\r\nCODE=A=B\r\nSHEET=\r\n"
      "[Mapping]\r\nPARTNUMBER=0\r\n\r\nDESCRIPTN=CONS-x = y\r\n");
  using KV = std::pair<std::string, std::string>;
  EXPECT_EQ(c.fields,
            (std::vector<KV>{{"STORENAME", " two  blanks "}, {"CODE", "A=B"}, {"SHEET", ""}}));
  EXPECT_EQ(c.mapping, (std::vector<std::string>{"PARTNUMBER=0", "", "DESCRIPTN=CONS-x = y"}));
}

TEST(ConfigurationText, RefusesMalformedTextsNamingTheLine) {
  struct Case {
    const char* text;
    const char* says;
  } cases[] = {
      {"", "line 1"},
      {"STORENAME=x\n[Mapping]\n", "line 1"},
      {"[Configuration]\nSTORENAME\n[Mapping]\n", "line 2"},
      {"[Configuration]\n=x\n[Mapping]\n", "line 2"},
      {"[Configuration]\nSTORENAME=a\nstorename=b\n[Mapping]\n", "repeats"},
      {"[Configuration]\nSTORENAME=a\n", "[Mapping]"},
  };
  for (const auto& c : cases) {
    try {
      config::parse_configuration_text(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

class ConfigTextTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tf.folder("app");
    testkit::create_table(folder, "storelst.dbf", testkit::storelst_defs());
    cdsStore.setFolder(folder);
    cdsStore.setTableName("storelst.dbf");
    cdsStore.open();
  }

  // Fills every field of a new record with a value of its type.
  void fillRecord(const std::string& name, int salt) {
    cdsStore.append();
    for (int i = 0; i < cdsStore.fieldCount(); ++i) {
      tables::DbfField& f = cdsStore.field(i);
      const auto& d = f.def();
      if (iequals(d.name, "FIELDSLIST"))
        f.setLines({"PARTNUMBER=" + std::to_string(salt), "DESCRIPTN=1", "LEV1=ROWBREAK-3"});
      else if (iequals(d.name, "STORENAME"))
        f.setAsString(name);
      else if (d.type == 'L')
        f.setAsBoolean((i + salt) % 2 == 0);
      else if (d.type == 'D')
        f.setAsDateTime(DateTime{day_from_ymd(2026, 2, 1 + (i + salt) % 27), 0});
      else if (d.type == 'N' || d.type == 'F' || d.type == 'I')
        f.setAsInteger(i + salt);
      else if (d.type == 'C')
        f.setAsString(std::string(1, static_cast<char>('A' + (i + salt) % 26)) + "é " +
                      std::to_string(i));
    }
    cdsStore.post();
  }

  std::vector<std::string> recordTexts() {
    std::vector<std::string> r;
    for (int i = 0; i < cdsStore.fieldCount(); ++i) {
      tables::DbfField& f = cdsStore.field(i);
      r.push_back(f.name() + "=" + f.asString());
    }
    return r;
  }

  testkit::TestFolder tf;
  std::string folder;
  DbfTable cdsStore;
};

TEST_F(ConfigTextTableTest, ExportListsEveryFieldButTheMappingInTableOrder) {
  fillRecord("Acme", 0);
  config::ConfigurationText c = config::read_configuration(cdsStore);
  std::vector<std::string> expectKeys;
  for (int i = 0; i < cdsStore.fieldCount(); ++i)
    if (!iequals(cdsStore.field(i).name(), "FIELDSLIST"))
      expectKeys.push_back(cdsStore.field(i).name());
  ASSERT_EQ(c.fields.size(), expectKeys.size());
  for (size_t i = 0; i < expectKeys.size(); ++i) {
    EXPECT_EQ(c.fields[i].first, expectKeys[i]);
    char type = cdsStore.fieldByName(expectKeys[i]).def().type;
    if (type == 'L') {
      EXPECT_TRUE(c.fields[i].second == "True" || c.fields[i].second == "False");
    }
    if (type == 'D') {
      EXPECT_EQ(c.fields[i].second.substr(0, 5), "2026-") << c.fields[i].second;
    }
  }
  EXPECT_EQ(c.mapping,
            (std::vector<std::string>{"PARTNUMBER=0", "DESCRIPTN=1", "LEV1=ROWBREAK-3"}));
  std::string text = config::export_configuration(cdsStore);
  EXPECT_EQ(text.rfind("[Configuration]\nSTORENAME=Acme\n", 0), 0u) << text;
}

TEST_F(ConfigTextTableTest, ExportThenImportGivesBackTheSameRecord) {
  fillRecord("Acme", 0);
  const std::vector<std::string> before = recordTexts();
  const std::string path = join_path(tf.folder("out"), "acme.txt");
  config::export_configuration_file(cdsStore, path);

  // Into another store: added.
  testkit::TestFolder other;
  std::string otherFolder = other.folder("app");
  testkit::create_table(otherFolder, "storelst.dbf", testkit::storelst_defs());
  DbfTable second;
  second.setFolder(otherFolder);
  second.setTableName("storelst.dbf");
  second.open();
  config::import_configuration_file(second, path);
  EXPECT_EQ(second.recordCount(), 1);
  second.close();
  second.open();
  std::vector<std::string> after;
  for (int i = 0; i < second.fieldCount(); ++i)
    after.push_back(second.field(i).name() + "=" + second.field(i).asString());
  EXPECT_EQ(after, before);
}

TEST_F(ConfigTextTableTest, ImportReplacesTheFirstOfTheSameNameInPlace) {
  fillRecord("Other", 1);
  fillRecord("Acme", 2);
  fillRecord("Acme", 3);
  ASSERT_TRUE(config::find_configuration(cdsStore, "Other"));
  std::string otherText = config::export_configuration(cdsStore);
  ASSERT_TRUE(config::find_configuration(cdsStore, "Acme"));
  const std::vector<std::string> acmeFirst = recordTexts();

  // A changed "Other" replaces record 1; nothing is added.
  std::string changed = otherText;
  changed.replace(changed.find("PARTNUMBER=1"), 12, "PARTNUMBER=7");
  config::import_configuration(cdsStore, changed);
  EXPECT_EQ(cdsStore.recordCount(), 3);
  EXPECT_EQ(cdsStore.recNo(), 1);
  EXPECT_EQ(cdsStore.fieldByName("FIELDSLIST").lines().front(), "PARTNUMBER=7");
  ASSERT_TRUE(config::find_configuration(cdsStore, "Acme"));
  EXPECT_EQ(recordTexts(), acmeFirst) << "the other records stay as they were";

  // Fields a text leaves out become blank in the replaced record.
  config::import_configuration(cdsStore, "[Configuration]\nSTORENAME=Acme\nCODE=NEW\n[Mapping]\n");
  EXPECT_EQ(cdsStore.recordCount(), 3);
  EXPECT_EQ(cdsStore.recNo(), 2);
  EXPECT_EQ(cdsStore.fieldByName("CODE").asString(), "NEW");
  EXPECT_EQ(cdsStore.fieldByName("COMPANY").asString(), "");
  EXPECT_TRUE(cdsStore.fieldByName("FIELDSLIST").lines().empty());
  EXPECT_EQ(config::configuration_names(cdsStore),
            (std::vector<std::string>{"Other", "Acme", "Acme"}));
}

TEST_F(ConfigTextTableTest, RefusedTextsLeaveTheStoreUnchanged) {
  fillRecord("Acme", 0);
  const std::vector<std::string> before = recordTexts();
  const char* bad[] = {
      "[Configuration]\nSTORENAME=New\nNOSUCHFIELD=1\n[Mapping]\n",
      "[Configuration]\nSTORENAME=Acme\nFIELDSLIST=x\n[Mapping]\n",
      "[Configuration]\nSTORENAME=Acme\nUPDATEDATE=9/12/2026\n[Mapping]\n",
      "[Configuration]\nSTORENAME=Acme\nUPDATEDATE=2026-02-30\n[Mapping]\n",
      "[Configuration]\nSTORENAME=Acme\nCABLE=yes\n[Mapping]\n",
      "[Configuration]\nSTORENAME=Acme\nSTARTEXPRT=abc\n[Mapping]\n",
  };
  for (const char* text : bad) {
    EXPECT_THROW(config::import_configuration(cdsStore, text), Error) << text;
    EXPECT_EQ(cdsStore.recordCount(), 1) << text;
    EXPECT_FALSE(cdsStore.editing()) << text;
  }
  cdsStore.close();
  cdsStore.open();
  EXPECT_EQ(recordTexts(), before);
}

TEST_F(ConfigTextTableTest, AValueWithALineBreakIsNotExported) {
  fillRecord("Acme", 0);
  cdsStore.edit();
  cdsStore.fieldByName("SOURCE").setAsString("two\r\nlines");
  cdsStore.post();
  EXPECT_THROW(config::export_configuration(cdsStore), Error);
}

}  // namespace
