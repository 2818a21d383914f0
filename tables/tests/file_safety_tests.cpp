// What keeps tables whole and shared safely: the repair of a tail an interrupted write left,
// the header date of every change, memo space reused, and the locks of opens.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/datetime.h"
#include "core/error.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

struct SafetyTable : ::testing::Test {
  ScratchDir dir;
  void SetUp() override { fresh(); }
  // Two records, no memo yet.
  void fresh() {
    std::filesystem::remove(dir.file("t.dbf"));
    std::filesystem::remove(dir.file("t.dbt"));
    make_table(dir, "t", {{"PART", 'C', 12, 0}, {"NOTES", 'M', 10, 0}});
    DbfTable t;
    open(t);
    for (const char* p : {"A", "B"}) {
      t.append();
      t.fieldByName("PART").setAsString(p);
      t.post();
    }
  }
  void open(DbfTable& t, bool exclusive = false) {
    t.setFolder(dir.str());
    t.setTableName("t");
    t.setExclusive(exclusive);
    t.open();
  }
  std::string path() const { return dir.file("t.dbf"); }
};

TEST_F(SafetyTable, BytesPastTheCountedRecordsAreCutOffBeforeTheFirstWrite) {
  const std::string whole = read_bytes(path());
  const std::size_t recordLength = 1 + 12 + 10;
  struct Case {
    const char* what;
    std::string bytes;
    bool said;
  } cases[] = {
      {"a partial record", whole.substr(0, whole.size() - 1) + " C   ", true},
      {"a whole record not yet counted",
       whole.substr(0, whole.size() - 1) + " C" + std::string(recordLength - 2, ' ') + "\x1A",
       true},
      {"no end mark", whole.substr(0, whole.size() - 1), false},
      {"nothing wrong", whole, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes(path(), c.bytes);
    DbfTable t;
    open(t);
    std::vector<std::string> parts;
    for (t.first(); !t.eof(); t.next()) parts.push_back(t.fieldByName("PART").asString());
    EXPECT_EQ(parts, (std::vector<std::string>{"A", "B"}));
    // Reading leaves the file as it is.
    EXPECT_EQ(read_bytes(path()), c.bytes);
    t.append();
    t.fieldByName("PART").setAsString("D");
    t.post();
    EXPECT_EQ(t.repairNote().empty(), !c.said) << t.repairNote();
    t.close();
    // The append follows the counted records, with nothing in between.
    EXPECT_EQ(read_bytes(path()).size(), whole.size() + recordLength);
    DbfTable again;
    open(again);
    parts.clear();
    for (again.first(); !again.eof(); again.next())
      parts.push_back(again.fieldByName("PART").asString());
    EXPECT_EQ(parts, (std::vector<std::string>{"A", "B", "D"}));
    again.close();
    write_bytes(path(), whole);
  }
}

TEST_F(SafetyTable, EveryChangeRefreshesTheHeaderDate) {
  struct Case {
    const char* what;
    std::function<void(DbfTable&)> change;
  } cases[] = {
      {"an edit",
       [](DbfTable& t) {
         t.edit();
         t.fieldByName("PART").setAsString("X");
         t.post();
       }},
      {"a delete", [](DbfTable& t) { t.deleteRecord(); }},
      {"an append",
       [](DbfTable& t) {
         t.append();
         t.fieldByName("PART").setAsString("Y");
         t.post();
       }},
  };
  const DateTime now = today();
  const Ymd ymd = ymd_from_day(now.day);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = read_bytes(path());
    b[1] = 80, b[2] = 1, b[3] = 1;  // 1980-01-01
    write_bytes(path(), b);
    DbfTable t;
    open(t);
    t.first();
    c.change(t);
    t.close();
    b = read_bytes(path());
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(b[1])), ymd.year - 1900);
    EXPECT_EQ(static_cast<int>(b[2]), ymd.month);
    EXPECT_EQ(static_cast<int>(b[3]), ymd.day);
  }
}

TEST_F(SafetyTable, AMemoRewrittenAgainAndAgainReusesTheSpaceItLeft) {
  struct Case {
    std::size_t length;
    bool otherOpen;  // another open may hold records back whose memos look unused
    double growth;   // at most, after the first rewrite
  } cases[] = {{100, false, 2.0}, {3000, false, 2.0}, {100, true, 200.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    fresh();
    DbfTable other;
    if (c.otherOpen) open(other);
    DbfTable t;
    open(t);
    std::uintmax_t afterFirst = 0;
    for (int round = 0; round < 100; ++round) {
      t.first();
      t.edit();
      t.fieldByName("NOTES").setAsString(std::string(c.length, char('a' + round % 26)));
      t.post();
      if (round == 0) afterFirst = std::filesystem::file_size(dir.file("t.dbt"));
    }
    const auto size = std::filesystem::file_size(dir.file("t.dbt"));
    EXPECT_LE(size, static_cast<std::uintmax_t>(afterFirst * c.growth));
    if (c.otherOpen) {
      EXPECT_GT(size, afterFirst * 50);
    }
    t.first();
    EXPECT_EQ(t.fieldByName("NOTES").asString(), std::string(c.length, char('a' + 99 % 26)));
    t.close();
    other.close();
  }
}

TEST_F(SafetyTable, AnExclusiveOpenAndAnyOtherOpenExcludeEachOther) {
  struct Case {
    bool firstExclusive, secondExclusive, refused;
  } cases[] = {{false, false, false}, {false, true, true}, {true, false, true}, {true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.firstExclusive << c.secondExclusive);
    DbfTable first, second;
    open(first, c.firstExclusive);
    if (c.refused) {
      try {
        open(second, c.secondExclusive);
        ADD_FAILURE() << "opened";
      } catch (const qm::TableError& e) {
        EXPECT_STREQ(e.what(), "t.dbf is in use by another import");
      }
    } else {
      EXPECT_NO_THROW(open(second, c.secondExclusive));
    }
    first.close();
    second.close();
    // Closing gives the lock up.
    DbfTable again;
    EXPECT_NO_THROW(open(again, true));
  }
}

}  // namespace
}  // namespace qm::tables
