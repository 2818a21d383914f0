#include <gtest/gtest.h>

#include <algorithm>

#include "config/restructure.h"
#include "config/tests/test_folder.h"
#include "core/error.h"
#include "core/text.h"

using namespace qm;
using qm::tables::DbfTable;
using qm::tables::FieldDef;

namespace {

bool has_memo(const std::vector<FieldDef>& defs) {
  return std::any_of(defs.begin(), defs.end(), [](const FieldDef& d) {
    return d.type == 'M' || d.type == 'B' || d.type == 'G';
  });
}

// An old file list: the template less its last field, plus a field of its own and a memo,
// and the first non-character field of the template held as text that it cannot take.
class RestructureTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    app = tf.folder("app");
    testkit::put_data_file(app, "filelwin.dbf");
    templateDefs = testkit::defs_of(app, "filelwin.dbf");
    ASSERT_GT(templateDefs.size(), 3u);

    lists = tf.folder("lists");
    std::vector<FieldDef> old = templateDefs;
    old.pop_back();
    for (auto& d : old) {
      if (!iequals(d.name, "file") && d.type != 'C' && d.type != 'M' && refusing.empty()) {
        refusing = d.name;
        d = FieldDef{d.name, 'C', 20, 0};
      }
    }
    old.push_back({"OLDONLY", 'C', 10, 0});
    old.push_back({"OLDNOTES", 'M', 10, 0});
    testkit::create_table(lists, "filelist.dbf", old);

    oldTable.setFolder(lists);
    oldTable.setTableName("filelist.dbf");
    oldTable.open();
    for (const char* key : {"CCC", "AAA", "BBB"}) {
      oldTable.append();
      for (int i = 0; i < oldTable.fieldCount(); ++i) {
        tables::DbfField& f = oldTable.field(i);
        if (iequals(f.name(), "file"))
          f.setAsString(key);
        else if (iequals(f.name(), refusing))
          f.setAsString("not a value");
        else if (f.def().type == 'C')
          f.setAsString(std::string(key).substr(0, 1) + std::to_string(i));
        else if (f.def().type == 'M')
          f.setLines({"memo of", key});
      }
      oldTable.post();
    }
    tblFields.setFolder(app);
    tblFields.setTableName("flistwin.dbf");
  }

  std::string folderArg() const { return GetParam() ? lists : lists.substr(0, lists.size() - 1); }

  testkit::TestFolder tf;
  std::string app, lists, refusing;
  std::vector<FieldDef> templateDefs;
  DbfTable oldTable, tblFields;
};

TEST_P(RestructureTest, KeepsRecordsAndCommonValuesAndEndsWithOneFileIndex) {
  config::updatestructure("filelist", folderArg(), tblFields, oldTable, app);

  EXPECT_TRUE(oldTable.active());
  EXPECT_FALSE(oldTable.exclusive());
  EXPECT_FALSE(tblFields.active());
  EXPECT_EQ(tblFields.tableName(), "flistwin.dbf");
  EXPECT_EQ(tblFields.folder(), folderArg());
  EXPECT_FALSE(file_exists(join_path(lists, "work.dbf")));
  EXPECT_FALSE(file_exists(join_path(lists, "work.dbt")));

  std::vector<FieldDef> now = oldTable.fieldDefs();
  EXPECT_EQ(now, templateDefs);
  ASSERT_EQ(oldTable.tagNames().size(), 1u);
  EXPECT_TRUE(iequals(oldTable.tagNames()[0], "file"));
  EXPECT_EQ(file_exists(join_path(lists, "filelist.dbt")), has_memo(templateDefs))
      << "the memo file goes with the table";

  // Reopened from disk, in physical order: the same records, the common values kept.
  oldTable.close();
  oldTable.setIndexName("");
  oldTable.open();
  ASSERT_EQ(oldTable.recordCount(), 3);
  oldTable.first();
  for (const char* key : {"CCC", "AAA", "BBB"}) {
    ASSERT_FALSE(oldTable.eof());
    EXPECT_EQ(oldTable.fieldByName("file").asString(), key);
    for (int i = 0; i + 1 < static_cast<int>(templateDefs.size()); ++i) {
      tables::DbfField& f = oldTable.field(i);
      if (iequals(f.name(), "file")) continue;
      if (iequals(f.name(), refusing)) {
        EXPECT_TRUE(f.isNull() || f.asString().empty()) << f.name() << " took a refused value";
      } else if (f.def().type == 'C') {
        std::string held = std::string(key).substr(0, 1) + std::to_string(i);
        EXPECT_EQ(f.asString(), held.substr(0, f.def().length)) << f.name();
      }
    }
    EXPECT_EQ(oldTable.findField("OLDONLY"), nullptr);
    oldTable.next();
  }

  // The index agrees with the keys.
  oldTable.close();
  oldTable.setIndexName("file");
  oldTable.open();
  std::vector<std::string> inOrder;
  for (oldTable.first(); !oldTable.eof(); oldTable.next())
    inOrder.push_back(oldTable.fieldByName("file").asString());
  EXPECT_EQ(inOrder, (std::vector<std::string>{"AAA", "BBB", "CCC"}));
  oldTable.close();
  if (testkit::have_perl_xbase()) {
    EXPECT_EQ(testkit::independent_index_entries(tf, join_path(lists, "filelist.mdx"), "file"),
              (std::vector<testkit::IndexEntry>{{"AAA", 2}, {"BBB", 3}, {"CCC", 1}}));
  }
}

TEST_P(RestructureTest, AMissingTemplateIsRaisedAndTheOldTableStays) {
  ASSERT_TRUE(delete_file(join_path(app, "filelwin.dbf")));
  EXPECT_THROW(config::updatestructure("filelist", folderArg(), tblFields, oldTable, app), Error);
  oldTable.close();
  oldTable.open();
  EXPECT_EQ(oldTable.recordCount(), 3);
  EXPECT_NE(oldTable.findField("OLDONLY"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(FolderWithAndWithoutSeparator, RestructureTest, ::testing::Bool());

}  // namespace
