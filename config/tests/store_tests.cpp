#include <gtest/gtest.h>

#include "config/store.h"
#include "config/tests/test_folder.h"
#include "core/datetime.h"
#include "core/messages.h"
#include "core/text.h"

using namespace qm;
using qm::tables::DbfTable;

namespace {

// An empty storelst.dbf with the template's structure, open in cdsStore.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tf.folder("app");
    testkit::create_table(folder, "storelst.dbf", testkit::storelst_defs());
    cdsStore.setFolder(folder);
    cdsStore.setTableName("storelst.dbf");
    cdsStore.open();
  }

  void add(const std::string& name, const std::string& code = "") {
    cdsStore.append();
    cdsStore.fieldByName("STORENAME").setAsString(name);
    cdsStore.fieldByName("CODE").setAsString(code);
    cdsStore.post();
  }

  std::string current(const char* field) { return cdsStore.fieldByName(field).asString(); }

  testkit::TestFolder tf;
  std::string folder;
  DbfTable cdsStore;
};

TEST_F(StoreTest, NewConfigurationStartsWithItsValuesAndIsPostedAtOnce) {
  ASSERT_TRUE(config::new_configuration(cdsStore));
  EXPECT_EQ(cdsStore.state(), tables::TableState::Browse);
  EXPECT_EQ(cdsStore.recordCount(), 1);
  EXPECT_EQ(current("STORENAME"), "");
  EXPECT_EQ(cdsStore.fieldByName("STARTEXPRT").asInteger(), 1);
  for (const char* flag :
       {"BREAKONROW", "APPENDDATA", "ADDDESCRIP", "CABLE", "US_CANADA", "CONTRACTPR"}) {
    EXPECT_EQ(current(flag), "False") << flag;
  }
  EXPECT_EQ(cdsStore.fieldByName("UPDATEDATE").asDateTime(), (DateTime{today().day, 0}));
  EXPECT_TRUE(cdsStore.fieldByName("FIELDSLIST").lines().empty());

  // Read back from the file, not from the record buffer.
  cdsStore.close();
  cdsStore.open();
  EXPECT_EQ(cdsStore.recordCount(), 1);
  EXPECT_EQ(cdsStore.fieldByName("STARTEXPRT").asInteger(), 1);
}

TEST_F(StoreTest, UnnamedCurrentRecordIsReusedHoweverOftenPressed) {
  struct Case {
    const char* existingName;
    bool adds;
  } cases[] = {{"", false}, {"   ", false}, {"\t ", false}, {"Acme", true}, {" x ", true}};
  for (const auto& c : cases) {
    cdsStore.close();
    ASSERT_TRUE(delete_file(join_path(folder, "storelst.dbf")));
    delete_file(join_path(folder, "storelst.dbt"));
    testkit::create_table(folder, "storelst.dbf", testkit::storelst_defs());
    cdsStore.open();
    add(c.existingName);
    EXPECT_EQ(config::new_configuration(cdsStore), c.adds) << '"' << c.existingName << '"';
    EXPECT_FALSE(config::new_configuration(cdsStore)) << "second press";
    EXPECT_EQ(cdsStore.recordCount(), c.adds ? 2 : 1) << '"' << c.existingName << '"';
  }
}

TEST_F(StoreTest, NamesInTableOrderEmptyAndDuplicatesIncluded) {
  EXPECT_TRUE(config::configuration_names(cdsStore).empty());
  add("Zeta");
  add("");
  add("Acme");
  add("Zeta");
  EXPECT_EQ(config::configuration_names(cdsStore),
            (std::vector<std::string>{"Zeta", "", "Acme", "Zeta"}));
  EXPECT_EQ(cdsStore.recNo(), 4) << "the scan leaves the table on its last record";
}

TEST_F(StoreTest, FindIsExactCaseSensitiveAndTakesTheFirstMatch) {
  add("Acme", "1");
  add("ACME", "2");
  add("Acme", "3");
  add(" Acme", "4");
  add("Other", "5");
  struct Case {
    const char* name;
    bool found;
    const char* code;
  } cases[] = {{"Acme", true, "1"},  {"ACME", true, "2"}, {" Acme", true, "4"},
               {"acme", false, "5"}, {"Acm", false, "5"}, {"Other", true, "5"}};
  for (const auto& c : cases) {
    EXPECT_EQ(config::find_configuration(cdsStore, c.name), c.found) << c.name;
    EXPECT_EQ(current("CODE"), c.code) << c.name;
  }
}

TEST_F(StoreTest, DeleteRemovesOnlyTheFirstOfTwoNamedAlike) {
  add("A", "1");
  add("B", "2");
  add("A", "3");
  ASSERT_TRUE(config::delete_configuration(cdsStore, "A"));
  EXPECT_EQ(config::configuration_names(cdsStore), (std::vector<std::string>{"B", "A"}));
  ASSERT_TRUE(config::find_configuration(cdsStore, "A"));
  EXPECT_EQ(current("CODE"), "3");
  EXPECT_FALSE(config::delete_configuration(cdsStore, "a"));
  EXPECT_EQ(cdsStore.recordCount(), 2);
}

TEST_F(StoreTest, DeleteAsksFirstAndRefusesWithoutASelection) {
  add("Acme");
  ScriptedMessages msgs;
  using config::DeleteOutcome;
  EXPECT_EQ(config::ask_and_delete_configuration(cdsStore, nullptr, msgs), DeleteOutcome::Refused);
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(msgs.shown[0].text, "You must select a configuration name before deleting it.");

  const std::string name = "Acme";
  msgs.answer(MsgAnswer::No);
  EXPECT_EQ(config::ask_and_delete_configuration(cdsStore, &name, msgs), DeleteOutcome::Declined);
  EXPECT_EQ(cdsStore.recordCount(), 1);
  ASSERT_EQ(msgs.shown.size(), 2u);
  EXPECT_EQ(msgs.shown[1].buttons, MsgButtons::YesNo);
  EXPECT_EQ(msgs.shown[1].text, "Are you sure to delete configuration \"Acme\"?");

  msgs.answer(MsgAnswer::Yes);
  EXPECT_EQ(config::ask_and_delete_configuration(cdsStore, &name, msgs), DeleteOutcome::Deleted);
  EXPECT_EQ(cdsStore.recordCount(), 0);

  // A name gone from the file meanwhile: asked, answered, nothing to delete.
  msgs.answer(MsgAnswer::Yes);
  EXPECT_EQ(config::ask_and_delete_configuration(cdsStore, &name, msgs), DeleteOutcome::NotFound);
  EXPECT_EQ(msgs.shown.size(), 4u);
}

}  // namespace
