#include <gtest/gtest.h>

#include <functional>

#include "core/error.h"
#include "source/dao_database.h"
#include "source/dao_table.h"
#include "source/tests/test_util.h"

namespace qm::source {
namespace {

using Strings = std::vector<std::string>;

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(EngineMachineVariables, Parsed) {
  EXPECT_EQ(parse_engine_machine(nullptr, nullptr).versions, (Strings{"3.5", "3.6", "12.0"}));
  EXPECT_TRUE(parse_engine_machine("", nullptr).versions.empty());
  // cmd.exe cannot set a variable to "": the word that says the same.
  EXPECT_TRUE(parse_engine_machine("none", nullptr).versions.empty());
  EXPECT_EQ(parse_engine_machine("12.0, 3.5", nullptr).versions, (Strings{"3.5", "12.0"}));
  EXPECT_EQ(parse_engine_machine("4.0;3.6", nullptr).versions, (Strings{"3.6"}));
  EXPECT_TRUE(parse_engine_machine(nullptr, nullptr).excel);
  EXPECT_TRUE(parse_engine_machine(nullptr, "0").excel);
  EXPECT_FALSE(parse_engine_machine(nullptr, "1").excel);
}

TEST(TDaoDatabase, ValuesAtCreation) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  TDaoDatabase db;
  EXPECT_EQ(db.componentVersion(), "7.20");
  EXPECT_FALSE(db.exclusive());
  EXPECT_EQ(db.databaseLanguage(), "");
  EXPECT_EQ(db.databaseType(), "Access");
  EXPECT_EQ(db.database(), "");
  EXPECT_EQ(db.databaseParameters(), "");
  EXPECT_EQ(db.databaseVersionInfo(), "");
  EXPECT_FALSE(db.readOnly());
  EXPECT_FALSE(db.loginPrompt());
  EXPECT_EQ(db.userName(), "Admin");
  EXPECT_TRUE(db.useODBCDialog());
  EXPECT_EQ(db.password(), "");
  EXPECT_EQ(db.databasePassword(), "");
  EXPECT_TRUE(db.saveUserName());
  EXPECT_FALSE(db.showSystemObjects());
  EXPECT_TRUE(db.smartOpen());
  EXPECT_EQ(db.engineType(), 2);
  EXPECT_FALSE(db.privateEngine());
  EXPECT_TRUE(db.trackTransactions());
  EXPECT_TRUE(db.usesDynaDao());
  EXPECT_EQ(db.version(), "3.5");
  EXPECT_EQ(db.versionDetails(), "3.51");
  EXPECT_EQ(db.versionInfo(), "(In Access'97 mode)");
  EXPECT_EQ(db.workspace(), "DaoWorkspace");
  EXPECT_EQ(db.defaultCursorDriver(), -1);
  EXPECT_EQ(db.queryTimeout(), 60);
  EXPECT_FALSE(db.mdbVersionAutoDetect());
  EXPECT_FALSE(db.connected());
  EXPECT_EQ(db.installedVersionList(), (Strings{"3.5", "3.6", "12.0"}));
  EXPECT_EQ(db.databaseTypeList(),
            (Strings{"Access", "ODBC", "Excel 3.0", "Excel 4.0", "Excel 5.0", "Excel 8.0",
                     "dBase III", "dBase IV", "dBase 5.0", "Text"}));
  EXPECT_TRUE(db.tableNameList().empty());
  db.setComponentVersion("9.99");
  EXPECT_EQ(db.componentVersion(), "7.20");
}

TEST(TDaoDatabase, NoEngineInstalled) {
  test::MachineScope none({});
  EXPECT_EQ(message_of([] { TDaoDatabase db; }), "Cannot find DAO on your system!");
}

TEST(TDaoDatabase, OnlyTheNewestEngine) {
  test::MachineScope only({"12.0"});
  TDaoDatabase db;
  EXPECT_EQ(db.installedVersionList(), (Strings{"12.0"}));
  EXPECT_EQ(db.version(), "12.0");
  EXPECT_EQ(db.versionInfo(), "(In Access'2007 mode)");
  EXPECT_EQ(db.databaseTypeList().back(), "Text");
  EXPECT_NE(std::find(db.databaseTypeList().begin(), db.databaseTypeList().end(), "Excel 12.0"),
            db.databaseTypeList().end());
  // 3.6 falls back to the 12.0 engine; its missing formats leave the list as it was.
  Strings before = db.databaseTypeList();
  db.setVersion("3.6");
  EXPECT_EQ(db.version(), "12.0");
  EXPECT_EQ(db.databaseTypeList(), before);
}

TEST(TDaoDatabase, VersionWithoutEngineIsRefusedAndPutBack) {
  test::MachineScope old({"3.5"});
  TDaoDatabase db;
  EXPECT_EQ(message_of([&] { db.setVersion("12.0"); }),
            "You does not have Microsoft DAO installed ot it is an OLD Version!");
  EXPECT_EQ(db.version(), "3.5");
  EXPECT_TRUE(db.hasEngine());
}

TEST(TDaoDatabase, VersionTextIsCutAfterTheFirstDigitBehindThePoint) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  TDaoDatabase db;
  db.setVersion("3.61");
  EXPECT_EQ(db.version(), "3.6");
  EXPECT_EQ(db.versionInfo(), "(In Access'2000 mode)");
  db.setVersion("12.0");
  EXPECT_EQ(db.version(), "12.0");
  EXPECT_EQ(db.databaseTypeList().size(), 11u);
}

TEST(TDaoDatabase, StoredVersionKeptWhenItsEngineCannotBeCreated) {
  test::MachineScope old({"3.5"});
  TDaoDatabase db;
  db.beginLoad();
  db.setVersion("12.0");
  db.loaded();
  EXPECT_EQ(db.version(), "12.0");
  EXPECT_FALSE(db.hasEngine());
}

TEST(TDaoDatabase, NoExcelFormatInstalled) {
  test::MachineScope noExcel({"3.5", "3.6", "12.0"}, false);
  TDaoDatabase db;
  EXPECT_EQ(db.databaseTypeList(),
            (Strings{"Access", "ODBC", "dBase III", "dBase IV", "dBase 5.0", "Text"}));
}

TEST(TDaoDatabase, ConnectStrings) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  struct Case {
    const char* type;
    const char* database;
    const char* user;
    const char* password;
    const char* params;
    const char* want;
  };
  const std::vector<Case> cases = {
      {"Excel 8.0", "/x.xls", "Admin", "", "IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;",
       "Excel 8.0;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;"},
      {"dBase 5.0", "/d/", "Admin", "", "HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;",
       "dBase 5.0;HDR=NO;IMEX=1;TypeGuessRows=0;ImportMixedTypes=Text;"},
      {"Text", "/d/", "joe", "pw", "HDR=NO;", "Text;UID=joe;PWD=pw;HDR=NO;"},
      {"Text", "/d/", "", "pw", "", "Text;"},
      {"Access", "/a.mdb", "joe", "pw", "X=1;", ";UID=joe;PWD=dbpw;X=1;"},
      {"ODBC", "ODBC;DSN=prices", "joe", "pw", "", "ODBC;DSN=prices;"},
      {"odbc", "prices", "joe", "pw", "", "odbc;UID=joe;PWD=pw;DSN=prices;"},
  };
  for (const auto& c : cases) {
    TDaoDatabase db;
    db.setDatabaseType(c.type);
    db.setDatabase(c.database);
    db.setUserName(c.user);
    db.setPassword(c.password);
    db.setDatabasePassword("dbpw");
    db.setDatabaseParameters(c.params);
    EXPECT_EQ(db.connectString(), c.want) << c.type;
  }
}

TEST(TDaoDatabase, DatabaseTypeEmptiesDatabase) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  TDaoDatabase db;
  db.setDatabase("/some/where.xls");
  db.setDatabaseType("Excel 8.0");
  EXPECT_EQ(db.database(), "");
}

class ConnectedDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("prices.csv", "Part,Price\nA,1\nB,2\n");
    db.setDatabaseType("TEXT");
    db.setDatabase(dir.path());
    db.setConnected(true);
  }
  test::MachineScope machine{{"3.5", "3.6", "12.0"}};
  test::TempDir dir;
  TDaoDatabase db;
};

TEST_F(ConnectedDatabase, EverySetterIsGuarded) {
  struct Case {
    std::function<void()> set;
    const char* message;
  };
  const std::vector<Case> cases = {
      {[&] { db.setDatabase("x"); },
       "TDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!"},
      {[&] { db.setDatabaseType("x"); },
       "TDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!"},
      {[&] { db.setDatabaseParameters("x"); },
       "TDaoDatabase.F_Set_DatabaseParameters: Cannot set DatabaseParameters while Database is "
       "connected!"},
      {[&] { db.setVersion("3.6"); },
       "TDaoDatabase.F_Set_DaoVersion: Cannot set Dao Version while Database is connected!"},
      {[&] { db.setSystemDatabase("x"); },
       "TDaoDatabase.F_Set_SystemDatabase: Cannot set SystemDatabase while Database is "
       "connected!"},
      {[&] { db.setWorkspace("x"); },
       "TDaoDatabase.F_Set_Workspace: Cannot set Workspace while Database is connected!"},
      {[&] { db.setReadOnly(true); },
       "TDaoDatabase.F_Set_ReadOnly: Cannot change mode while Database is connected!"},
      {[&] { db.setExclusive(true); },
       "TDaoDatabase.F_Set_Exclusive: Cannot change Exclusive mode while Database is connected!"},
      {[&] { db.setLoginPrompt(true); },
       "TDaoDatabase.F_Set_LoginPrompt: Cannot change LoginPrompt while Database is connected!"},
      {[&] { db.setUserName("x"); },
       "TDaoDatabase.F_Set_UserName: Cannot change User Name while Database is connected!"},
      {[&] { db.setPassword("x"); },
       "TDaoDatabase.F_Set_Password: Cannot change Password while Database is connected!"},
      {[&] { db.setDatabasePassword("x"); },
       "TDaoDatabase.F_Set_DatabasePassword: Cannot change Database Password while Database is "
       "connected!"},
      {[&] { db.setEngineType(1); },
       "TDaoDatabase.F_Set_EngineType: Cannot set EngineType Type while Database is connected!"},
      {[&] { db.setPrivateEngine(true); },
       "TDaoDatabase.F_Set_EngineType: Cannot set PrivateEngine Type while Database is "
       "connected!"},
      {[&] { db.setTrackTransactions(false); },
       "Cannot set TrackTransactions property when Database is connected!"},
  };
  for (const auto& c : cases) EXPECT_EQ(message_of(c.set), c.message);
  EXPECT_EQ(db.databaseType(), "TEXT");
  EXPECT_EQ(db.database(), dir.path());
  EXPECT_EQ(db.engineType(), 2);
}

TEST_F(ConnectedDatabase, ConnectFillsTheListsAndTwiceOpensOnce) {
  EXPECT_EQ(db.tableNameList(), (Strings{"prices.csv"}));
  EXPECT_EQ(db.databaseVersionInfo(), "Text");
  EXPECT_FALSE(db.databaseLanguage().empty());
  int connects = 0;
  db.OnAfterConnect = [&](TDaoDatabase&) { ++connects; };
  db.setConnected(true);
  EXPECT_EQ(connects, 0);
  db.setConnected(false);
  EXPECT_TRUE(db.tableNameList().empty());
  db.setConnected(true);
  EXPECT_EQ(connects, 1);
}

TEST_F(ConnectedDatabase, DisconnectClosesEveryAttachedTable) {
  TDaoTable a, b;
  a.setName("A");
  b.setName("B");
  for (TDaoTable* t : {&a, &b}) {
    t->setDatabase(&db);
    t->setTableName("prices.csv");
    t->open();
  }
  EXPECT_EQ(db.attachedTableList(), (Strings{"A", "B"}));
  a.close();
  EXPECT_EQ(db.attachedTableList(), (Strings{"B"}));
  a.open();
  db.setConnected(false);
  EXPECT_FALSE(a.active());
  EXPECT_FALSE(b.active());
  EXPECT_TRUE(db.attachedTableList().empty());
}

TEST(TDaoDatabase, ConnectRefusals) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  {
    TDaoDatabase db;
    db.setDatabaseType("Text");
    EXPECT_EQ(message_of([&] { db.setConnected(true); }),
              "TDaoDatabase.F_Set_Active: Database property is not defined!");
    db.setDatabaseType("");
    db.setDatabase(dir.path());
    EXPECT_EQ(message_of([&] { db.setConnected(true); }),
              "TDaoDatabase.F_Set_Active: DatabaseType property is not defined!");
    EXPECT_FALSE(db.connected());
  }
  {
    TDaoDatabase db;
    db.setDatabaseType("Text");
    db.setDatabase(dir.path());
    db.setEngineType(1);
    EXPECT_EQ(message_of([&] { db.setConnected(true); }),
              "TDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported!");
    db.setDatabaseType("Access");
    db.setDatabase(dir.path() + "/a.mdb");
    EXPECT_EQ(message_of([&] { db.setConnected(true); }),
              "TDaoDatabase.F_Set_Active: ODBC direct workspaces\r\nare NOT supported for MS "
              "Access Databases!");
  }
  for (const char* type : {"Access", "ODBC"}) {
    TDaoDatabase db;
    db.setDatabaseType(type);
    db.setDatabase(dir.path() + "/a.mdb");
    std::string m = message_of([&] { db.setConnected(true); });
    EXPECT_NE(m.find("not from"), std::string::npos) << m;
    EXPECT_FALSE(db.connected());
  }
  {
    TDaoDatabase db;
    db.setDatabaseType("Paradox 5.x");
    db.setDatabase(dir.path());
    EXPECT_EQ(message_of([&] { db.setConnected(true); }), "Could not find installable ISAM.");
  }
  {
    TDaoDatabase db;
    db.setDatabaseType("Excel 8.0");
    db.setDatabase(dir.path() + "/missing.xls");
    EXPECT_EQ(message_of([&] { db.setConnected(true); }),
              "Could not find file '" + dir.path() + "/missing.xls'.");
    EXPECT_FALSE(db.connected());
    EXPECT_TRUE(db.hasEngine());
  }
}

TEST(TDaoDatabase, ExcelTypeRefusedWhenItsFormatIsNotInstalled) {
  test::MachineScope noExcel({"12.0"}, false);
  TDaoDatabase db;
  db.setDatabaseType("Excel 8.0");
  db.setDatabase(test::fixture("same-content.xls"));
  EXPECT_EQ(message_of([&] { db.setConnected(true); }), "Could not find installable ISAM.");
}

TEST(TDaoDatabase, LoginEventMayChangeTheValues) {
  test::MachineScope all({"3.5", "3.6", "12.0"});
  test::TempDir dir;
  TDaoDatabase db;
  db.setDatabaseType("Text");
  db.setDatabase(dir.path());
  Strings seen;
  db.OnLogin = [&](TDaoDatabase&, Strings& lines) {
    seen = lines;
    lines[0] = "USER NAME=joe";
  };
  db.setConnected(true);
  EXPECT_EQ(seen, (Strings{"USER NAME=Admin", "PASSWORD=", "DBPASSWORD="}));
  EXPECT_EQ(db.userName(), "joe");
}

}  // namespace
}  // namespace qm::source
