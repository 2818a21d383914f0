// Writing: every level-7 type round trip, typed-write refusals, creation rules, the state of
// the files after each post, write-behind and a second program appending.
#include <gtest/gtest.h>

#include <cstring>

#include "core/error.h"
#include "core/platform.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

const std::vector<FieldDef> kAllTypes = {
    {"NAME", 'C', 12, 0}, {"PRICE", 'N', 10, 2}, {"RATE", 'F', 8, 3},  {"OK", 'L', 1, 0},
    {"DAY", 'D', 8, 0},   {"QTY", 'I', 4, 0},    {"ID", '+', 4, 0},    {"AMOUNT", 'O', 8, 0},
    {"STAMP", '@', 8, 0}, {"NOTES", 'M', 10, 0}, {"BLOB", 'B', 10, 0}, {"OLE", 'G', 10, 0},
};

struct Fixture {
  ScratchDir dir;
  DbfTable t;
  explicit Fixture(const std::vector<FieldDef>& defs = kAllTypes, const std::string& name = "all") {
    make_table(dir, name, defs);
    t.setFolder(dir.str());
    t.setTableName(name);
    t.open();
  }
  void reopen() {
    t.close();
    t.open();
  }
};

TEST(DbfWrite, EveryLevel7TypeRoundTrips) {
  Fixture f;
  DbfTable& t = f.t;
  const std::string binary("\x00\x01\xFF\x1A\x00zz", 7);
  const std::string longText = std::string(1500, 'L') + "\r\nlast line";
  t.append();
  t.fieldByName("NAME").setAsString(
      "Caf\xC3\xA9 \xE2\x82\xAC"
      "5");  // cp1252 has both
  t.fieldByName("PRICE").setAsFloat(-1234.565);
  t.fieldByName("RATE").setAsString("2.5");
  t.fieldByName("OK").setAsString("yes");
  t.fieldByName("DAY").setAsDateTime(DateTime{day_from_ymd(2026, 12, 9), 0});
  t.fieldByName("QTY").setAsString("-2147483647");
  t.fieldByName("AMOUNT").setAsFloat(-0.125);
  t.fieldByName("STAMP").setAsString("12/9/2026 3:04:05 PM");
  t.fieldByName("NOTES").setAsString(longText);
  t.fieldByName("BLOB").setAsString(binary);
  t.post();
  t.append();
  t.fieldByName("NAME").setAsString("second");
  t.fieldByName("QTY").setAsInteger(2147483647);
  t.fieldByName("OK").setAsBoolean(false);
  t.fieldByName("AMOUNT").setAsString("1e100");
  t.fieldByName("STAMP").setAsDateTime(DateTime{1, 0});
  t.post();
  f.reopen();

  EXPECT_EQ(t.fieldByName("NAME").asString(),
            "Caf\xC3\xA9 \xE2\x82\xAC"
            "5");
  EXPECT_EQ(t.fieldByName("PRICE").asString(), "-1234.57");
  EXPECT_EQ(t.fieldByName("RATE").asFloat(), 2.5);
  EXPECT_TRUE(t.fieldByName("OK").asBoolean());
  EXPECT_EQ(t.fieldByName("DAY").asString(), "12/9/2026");
  EXPECT_EQ(t.fieldByName("QTY").asInteger(), -2147483647);
  EXPECT_EQ(t.fieldByName("ID").asInteger(), 1);
  EXPECT_EQ(t.fieldByName("AMOUNT").asFloat(), -0.125);
  EXPECT_EQ(t.fieldByName("STAMP").asDateTime(),
            (DateTime{day_from_ymd(2026, 12, 9), ((15 * 60 + 4) * 60 + 5) * 1000}));
  EXPECT_EQ(t.fieldByName("NOTES").asString(), longText);
  EXPECT_EQ(t.fieldByName("NOTES").lines().size(), 2u);
  EXPECT_EQ(t.fieldByName("BLOB").asString(), binary);
  EXPECT_TRUE(t.fieldByName("OLE").isNull());
  t.next();
  EXPECT_EQ(t.fieldByName("QTY").asInteger(), 2147483647);
  EXPECT_EQ(t.fieldByName("ID").asInteger(), 2);
  EXPECT_EQ(t.fieldByName("OK").asString(), "False");
  EXPECT_EQ(t.fieldByName("AMOUNT").asFloat(), 1e100);
  EXPECT_EQ(t.fieldByName("STAMP").asString(), "1/1/0001");
  EXPECT_TRUE(t.fieldByName("PRICE").isNull());
  EXPECT_TRUE(t.fieldByName("NOTES").isNull());

  // Clearing and rewriting a memo in an edit.
  t.edit();
  t.fieldByName("NOTES").setLines({"a", "b"});
  t.fieldByName("PRICE").clear();
  t.post();
  f.reopen();
  t.last();
  EXPECT_EQ(t.fieldByName("NOTES").asString(), "a\r\nb\r\n");
  EXPECT_TRUE(t.fieldByName("PRICE").isNull());
}

TEST(DbfWrite, RefusedValuesNameTheFieldAndTheValue) {
  Fixture f({{"OQTY", 'N', 6, 0},
             {"LISTPRICE", 'N', 10, 2},
             {"WEIGHT", 'F', 6, 3},
             {"QTY", 'I', 4, 0},
             {"AMOUNT", 'O', 8, 0},
             {"UPDATED", 'D', 8, 0},
             {"US_CANADA", 'L', 1, 0},
             {"STAMP", '@', 8, 0},
             {"ID", '+', 4, 0}},
            "refuse");
  DbfTable& t = f.t;
  t.append();
  for (int i = 0; i < 8; ++i) t.field(i).clear();
  struct {
    const char* field;
    const char* value;
  } cases[] = {
      {"OQTY", "1234567"},
      {"OQTY", "ten"},
      {"LISTPRICE", "$12.50"},
      {"LISTPRICE", "1,234.50"},
      {"LISTPRICE", "12345678.9"},
      {"WEIGHT", "123.4567"},
      {"QTY", "12.5"},
      {"QTY", "3000000000"},
      {"QTY", "-2147483648"},
      {"AMOUNT", "abc"},
      {"UPDATED", "2/30/2024"},
      {"UPDATED", "tomorrow"},
      {"UPDATED", "20241340"},
      {"US_CANADA", "maybe"},
      {"STAMP", "12/9/2026 25:00"},
      {"ID", "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + c.value);
    DbfField& fld = t.fieldByName(c.field);
    std::string before = fld.asString();
    try {
      fld.setAsString(c.value);
      ADD_FAILURE() << "accepted";
    } catch (const TableError& e) {
      std::string m = e.what();
      EXPECT_NE(m.find(c.field), std::string::npos) << m;
      if (std::string(c.field) != "ID") {
        EXPECT_NE(m.find(c.value), std::string::npos) << m;
      }
    }
    EXPECT_EQ(fld.asString(), before);  // a refused value leaves the field as it was
    // The non-raising write refuses the same values the same way.
    EXPECT_FALSE(fld.trySetAsString(c.value));
    EXPECT_EQ(fld.asString(), before);
  }
  // ... and takes what the raising one takes.
  EXPECT_TRUE(t.fieldByName("LISTPRICE").trySetAsString(" 12.5 "));
  EXPECT_EQ(t.fieldByName("LISTPRICE").asString(), "12.5");
  EXPECT_TRUE(t.fieldByName("OQTY").trySetAsString(""));
  EXPECT_TRUE(t.fieldByName("OQTY").isNull());
  EXPECT_TRUE(t.fieldByName("US_CANADA").trySetAsString("T"));
  EXPECT_EQ(t.fieldByName("US_CANADA").asString(), "True");
  EXPECT_THROW(t.fieldByName("OQTY").setAsFloat(1e7), TableError);
  EXPECT_THROW(t.fieldByName("QTY").setAsInteger(1LL << 40), TableError);
  // What a dBase engine accepts.
  t.fieldByName("OQTY").setAsString(" 42 ");
  EXPECT_EQ(t.fieldByName("OQTY").asInteger(), 42);
  t.fieldByName("US_CANADA").setAsString("f");
  EXPECT_EQ(t.fieldByName("US_CANADA").asString(), "False");
  t.fieldByName("UPDATED").setAsString("20240229");
  EXPECT_EQ(t.fieldByName("UPDATED").asString(), "2/29/2024");
  t.fieldByName("UPDATED").setAsString("");
  EXPECT_TRUE(t.fieldByName("UPDATED").isNull());
}

TEST(DbfWrite, CharacterValuesAreCutAndReadAsLogical) {
  Fixture f({{"CODE", 'C', 5, 0}, {"SERIALNUM", 'C', 1, 0}}, "cut");
  DbfTable& t = f.t;
  t.append();
  t.field(0).setAsString("ABCDEFGH");
  t.field(1).setAsBoolean(true);
  t.post();
  EXPECT_EQ(t.field(0).asString(), "ABCDE");
  EXPECT_EQ(t.field(1).asString(), "T");
  struct {
    const char* text;
    bool value;
  } cases[] = {{"True", true}, {"yes", true}, {"Y", true}, {"t", true},
               {"No", false},  {"F", false},  {"", false}, {" Y", false}};
  for (const auto& c : cases) {
    t.edit();
    t.field(0).setAsString(c.text);
    t.post();
    EXPECT_EQ(t.field(0).asBoolean(), c.value) << "'" << c.text << "'";
  }
}

TEST(DbfWrite, CharacterTextReadsBackWithoutTrailingBlanks) {
  Fixture f({{"DESCRIPTN", 'C', 20, 0}}, "blanks");
  DbfTable& t = f.t;
  struct {
    const char* text;
    const char* want;
  } cases[] = {{"", ""},
               {"A", "A"},
               {"  lead", "  lead"},
               {"A            B  ", "A            B"},
               {"twenty characters!!", "twenty characters!!"},
               {"caf\xC3\xA9 \xC3\xBC         ", "caf\xC3\xA9 \xC3\xBC"}};
  std::string kept = "left from before";
  for (const auto& c : cases) {
    t.append();
    t.field(0).setAsString(c.text);
    t.post();
    EXPECT_EQ(t.field(0).asString(), c.want) << "'" << c.text << "'";
    t.field(0).readString(kept);
    EXPECT_EQ(kept, c.want) << "'" << c.text << "'";
  }
}

TEST(DbfWrite, ChangesNeedEditMode) {
  Fixture f({{"CODE", 'C', 5, 0}}, "mode");
  DbfTable& t = f.t;
  EXPECT_THROW(t.field(0).setAsString("x"), TableError);
  t.edit();  // on an empty table this appends
  EXPECT_EQ(t.state(), TableState::Insert);
  t.field(0).setAsString("x");
  EXPECT_TRUE(t.modified());
  t.post();
  EXPECT_FALSE(t.modified());
  EXPECT_EQ(t.state(), TableState::Browse);
  EXPECT_THROW(t.field(0).setAsString("y"), TableError);
  EXPECT_THROW(t.field(5), ListIndexError);
  EXPECT_EQ(t.findField("nope"), nullptr);
  EXPECT_THROW(t.fieldByName("nope"), TableError);
}

TEST(DbfWrite, CreateRefusesWhatLevel7CannotHold) {
  ScratchDir dir;
  struct {
    std::vector<FieldDef> defs;
    const char* named;
  } cases[] = {
      {{{"A", 'C', 0, 0}}, "A"},
      {{{"BIG", 'N', 25, 0}}, "BIG"},
      {{{"DEC", 'N', 5, 4}}, "DEC"},
      {{{"CUR", 'Y', 8, 0}}, "CUR"},
      {{{"X", 'C', 5, 0}, {"x", 'C', 5, 0}}, "x"},
      {{{std::string(32, 'N'), 'C', 5, 0}}, "NNNN"},
      {{{"DAY", 'D', 10, 0}}, "DAY"},
      {{}, "no fields"},
  };
  int i = 0;
  for (const auto& c : cases) {
    DbfTable t;
    t.setFolder(dir.str());
    t.setTableName("bad" + std::to_string(i++));
    t.setFieldDefs(c.defs);
    try {
      t.createTable();
      ADD_FAILURE() << c.named;
    } catch (const TableError& e) {
      EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
    }
    EXPECT_FALSE(t.exists());
  }
  make_table(dir, "once", {{"A", 'C', 1, 0}});
  EXPECT_THROW(make_table(dir, "ONCE", {{"A", 'C', 1, 0}}), TableError);  // never replaced
  DbfTable missing;
  missing.setFolder(dir.file("no-such-folder"));
  missing.setTableName("t");
  EXPECT_THROW(missing.open(), TableError);
  missing.setFolder(dir.str());
  try {
    missing.open();
    FAIL();
  } catch (const TableError& e) {
    EXPECT_NE(std::string(e.what()).find("t.dbf"), std::string::npos);
  }
}

TEST(DbfWrite, NewTablesCarryTheTemplatesLanguageDriver) {
  ScratchDir dir;
  DbfTable tpl;
  tpl.setFolder(dir.str());
  tpl.setTableName("tpl");
  tpl.setFieldDefs({{"NAME", 'C', 10, 0}});
  tpl.setCodepage(866);
  tpl.createTable();
  std::string raw = read_bytes(dir.file("tpl.dbf"));
  EXPECT_EQ(raw.substr(32, 9), std::string("DB866RU0\0", 9));
  EXPECT_EQ(raw[0], '\x04');
  EXPECT_EQ(raw.size(), 68u + 48 + 1 + 1);

  DbfTable copy;
  copy.setFolder(dir.str());
  copy.setTableName("copy");
  copy.copyStructureFrom(tpl);
  copy.createTable();
  copy.open();
  EXPECT_EQ(copy.codepage(), 866);
  copy.append();
  copy.field(0).setAsString("\xD0\x90\xD0\x91");
  copy.post();
  copy.close();
  EXPECT_EQ(read_bytes(dir.file("copy.dbf")).substr(68 + 48 + 1 + 1, 2), "\x80\x81");

  // The same object reading a template's definitions and creating from them.
  DbfTable scratch;
  scratch.setFolder(dir.str());
  scratch.setTableName("tpl");
  auto defs = scratch.fieldDefs();
  scratch.setTableName("again");
  scratch.setFieldDefs(defs);
  scratch.createTable();
  EXPECT_EQ(read_bytes(dir.file("again.dbf")).substr(32, 8), "DB866RU0");

  DbfTable plain;
  plain.setFolder(dir.str());
  plain.setTableName("plain");
  plain.setFieldDefs({{"NOTES", 'M', 10, 0}});
  plain.createTable();
  std::string p = read_bytes(dir.file("plain.dbf"));
  EXPECT_EQ(p.substr(32, 8), "DBWINUS0");
  EXPECT_EQ(static_cast<unsigned char>(p[0]), 0x8C);
  std::string dbt = read_bytes(dir.file("plain.dbt"));
  ASSERT_EQ(dbt.size(), 512u);
  EXPECT_EQ(dbt.substr(0, 4), le32(1));
  EXPECT_EQ(dbt.substr(20, 2), std::string("\x00\x02", 2));
}

// After every post the files form a valid table: the records, one end mark, the count.
TEST(DbfWrite, FilesAreValidAfterEveryPost) {
  Fixture f({{"PART", 'C', 8, 0}, {"NOTES", 'M', 10, 0}}, "valid");
  DbfTable& t = f.t;
  const size_t hl = 68 + 2 * 48 + 1, rl = 1 + 8 + 10;
  for (int i = 1; i <= 12; ++i) {
    t.append();
    t.field(0).setAsString("P" + std::to_string(i));
    if (i % 3 == 0) t.field(1).setAsString(std::string(static_cast<size_t>(i * 100), 'm'));
    t.post();
    std::string raw = read_bytes(f.dir.file("valid.dbf"));
    ASSERT_EQ(raw.size(), hl + i * rl + 1) << i;
    EXPECT_EQ(raw.back(), '\x1A');
    EXPECT_EQ(raw.substr(4, 4), le32(static_cast<std::uint32_t>(i)));
    std::string dbt = read_bytes(f.dir.file("valid.dbt"));
    std::uint32_t nextFree = static_cast<unsigned char>(dbt[0]) | static_cast<unsigned char>(dbt[1])
                                                                      << 8;
    EXPECT_EQ(nextFree * 512u, dbt.size());
    std::string ptr = raw.substr(hl + (i - 1) * rl + 9, 10);
    if (i % 3 == 0) {
      EXPECT_EQ(ptr.find_first_not_of("0123456789"), std::string::npos) << ptr;  // zero-padded
      EXPECT_LT(std::stoul(ptr), nextFree);
    } else {
      EXPECT_EQ(ptr, std::string(10, ' '));
    }
  }
}

TEST(DbfWrite, WriteBehindBuffersAndFlushes) {
  Fixture f({{"PART", 'C', 8, 0}, {"QTY", 'N', 8, 0}}, "wb");
  DbfTable& t = f.t;
  t.setWriteBehind(true);
  DbfTable other;
  other.setFolder(f.dir.str());
  other.setTableName("wb");
  for (int i = 1; i <= 100; ++i) {
    t.append();
    t.field(0).setAsString("P" + std::to_string(i));
    t.field(1).setAsInteger(i);
    t.post();
  }
  other.open();
  EXPECT_EQ(other.recordCount(), 0);  // still in memory
  t.flush();
  EXPECT_EQ(other.recordCount(), 100);
  std::string raw = read_bytes(f.dir.file("wb.dbf"));
  EXPECT_EQ(raw.size(), 68 + 2 * 48 + 1 + 100 * 17 + 1u);
  EXPECT_EQ(raw.back(), '\x1A');
  // Another program appends; our next batch goes after its record.
  other.append();
  other.field(0).setAsString("OTHER");
  other.post();
  t.append();
  t.field(0).setAsString("MINE");
  t.post();
  EXPECT_EQ(t.recordCount(), 102);  // reading flushes first
  t.goToRecNo(101);
  EXPECT_EQ(t.field(0).asString(), "OTHER");
  t.goToRecNo(102);
  EXPECT_EQ(t.field(0).asString(), "MINE");
  // A move flushes too, and every record reads back.
  for (int i = 0; i < 5; ++i) {
    t.append();
    t.field(1).setAsInteger(1000 + i);
    t.post();
  }
  int n = 0;
  for (t.first(); !t.eof(); t.next()) ++n;
  EXPECT_EQ(n, 107);
  t.close();
  other.close();
  other.open();
  other.last();
  EXPECT_EQ(other.field(1).asInteger(), 1004);
}

TEST(DbfWrite, TwoOpenTablesSeeEachOthersAppends) {
  ScratchDir dir;
  make_table(dir, "shared", {{"WHO", 'C', 4, 0}});
  DbfTable a, b;
  for (DbfTable* t : {&a, &b}) {
    t->setFolder(dir.str());
    t->setTableName("shared");
    t->open();
  }
  a.append();
  a.field(0).setAsString("A1");
  a.post();
  b.append();
  b.field(0).setAsString("B1");
  b.post();
  EXPECT_EQ(b.recNo(), 2);  // the count is read again before appending
  a.next();
  EXPECT_FALSE(a.eof());
  EXPECT_EQ(a.field(0).asString(), "B1");
  EXPECT_EQ(a.recordCount(), 2);
  // An edit starts from the record as it is on disk.
  b.first();
  a.first();
  b.edit();
  b.field(0).setAsString("B2");
  b.post();
  a.edit();
  EXPECT_EQ(a.field(0).asString(), "B2");
  a.cancel();
}

// Batches of more than a megabyte reach the file while later records are still in memory: as
// each fills when the table has an autoincrement field, else on the writer's thread while the
// next one fills. What a second reader sees meanwhile is a valid table, and a flush leaves
// every record on disk.
TEST(DbfWrite, FullBatchesKeepTheFileValid) {
  for (const bool autoincrement : {true, false}) {
    SCOPED_TRACE(autoincrement ? "with an autoincrement field" : "without one");
    std::vector<FieldDef> defs = {{"PART", 'C', 200, 0}, {"QTY", 'N', 8, 0}};
    if (autoincrement) defs.push_back({"ID", '+', 4, 0});
    Fixture f(defs, "bg");
    DbfTable& t = f.t;
    t.setWriteBehind(true);
    DbfTable other;
    other.setFolder(f.dir.str());
    other.setTableName("bg");
    other.open();
    const int total = 20000;  // about 4 MB of records: several batches
    std::int64_t lastSeen = 0;
    for (int i = 1; i <= total; ++i) {
      t.append();
      t.field(0).setAsString("P" + std::to_string(i));
      t.field(1).setAsInteger(i);
      t.post();
      EXPECT_EQ(t.recNo(), i);
      if (i % 2500 == 0) {
        std::int64_t seen = other.recordCount();
        EXPECT_GE(seen, lastSeen);
        EXPECT_LE(seen, i);
        if (seen > 0) {
          // The last record the count promises is there and complete.
          other.goToRecNo(seen);
          EXPECT_EQ(other.field(1).asInteger(), seen);
          if (autoincrement) {
            EXPECT_EQ(other.field(2).asInteger(), seen);
          }
        }
        lastSeen = seen;
      }
    }
    EXPECT_GT(lastSeen, 0);  // batches reached the file before the end
    t.flush();
    EXPECT_EQ(other.recordCount(), total);
    t.close();
    std::string raw = read_bytes(f.dir.file("bg.dbf"));
    const size_t header = 68 + defs.size() * 48 + 1;
    EXPECT_EQ(raw.size(),
              header + static_cast<size_t>(total) * (1 + 200 + 8 + (autoincrement ? 4 : 0)) + 1);
    EXPECT_EQ(raw.back(), '\x1A');
    t.open();
    t.last();
    EXPECT_EQ(t.field(0).asString(), "P" + std::to_string(total));
    if (!autoincrement) continue;
    EXPECT_EQ(t.field(2).asInteger(), total);  // the autoincrement value went with its batch
    t.close();
    DbfTable again;
    again.setFolder(f.dir.str());
    again.setTableName("bg");
    again.open();
    again.append();
    again.post();
    EXPECT_EQ(again.field(2).asInteger(), total + 1);
  }
}

// A table that grows past a sync's step is synced while it is written; a sync the disk
// reports as failed fails the close, which is the last word a build has on its file.
TEST(DbfWrite, ABackgroundSyncThatFailsFailsTheClose) {
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "syncs failing" : "syncs going well");
    Fixture f({{"PART", 'C', 250, 0}}, "big");
    f.t.setWriteBehind(true);
    platform::fail_syncs_for_testing(failing);
    const int total = 80000;  // some 20 MB: past the first sync, at 16 MiB
    const std::string part(240, 'p');
    for (int i = 0; i < total; ++i) {
      f.t.append();
      f.t.field(0).setAsString(part);
      f.t.post();
    }
    std::string error;
    try {
      f.t.close();
    } catch (const TableError& e) {
      error = e.what();
    }
    platform::fail_syncs_for_testing(false);
    if (failing) {
      EXPECT_NE(error.find("Cannot write to file"), std::string::npos) << error;
      EXPECT_NE(error.find("big.dbf"), std::string::npos) << error;
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(read_bytes(f.dir.file("big.dbf")).size(), 68 + 48 + 1 + total * 251u + 1);
    }
  }
}

}  // namespace
}  // namespace qm::tables
