// Tables of every dialect, built byte by byte as their writers lay them out, read back.
#include <gtest/gtest.h>
#include "core/text.h"

#include <cstring>

#include "core/error.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

DbfTable& open_in(DbfTable& t, const ScratchDir& dir, const std::string& name) {
  t.setFolder(dir.str());
  t.setTableName(name);
  t.open();
  return t;
}

// The level-7 example table: C(10) N(12,2) F(10,3) L D I + O @ M(10), header 549, record 76.
const std::vector<RawField> kT7Fields = {
    {"CODE", 'C', 10}, {"PRICE", 'N', 12, 2}, {"RATE", 'F', 10, 3}, {"OK", 'L', 1},
    {"DAY", 'D', 8},   {"QTY", 'I', 4},       {"ID", '+', 4},       {"AMOUNT", 'O', 8},
    {"STAMP", '@', 8}, {"NOTES", 'M', 10},
};

TEST(DbfRead, Level7ExampleTable) {
  ScratchDir dir;
  std::string longMemo(700, 'x');
  longMemo += "END";
  std::vector<int> blocks;
  write_bytes(dir.file("t7memo.dbt"), dbt4_file({"Hello\r\nWorld", longMemo}, blocks, ' '));
  ASSERT_EQ(blocks, (std::vector<int>{1, 2}));
  std::vector<std::string> recs = {
      " WIDGET           12.50     3.125T20240301" +
          hex("80000001 80000001 C045D33333333333 42CC418BA99A0000") + "0000000001",
      " GADGET           -7.25          F        " +
          hex("7FFFFFFF 80000002 3F970051EB851EB7 42CCF9BDCAA9D000") + "          ",
      "*GONE              0.00     0.000?00000000" +
          hex("80000000 80000003 8000000000000000 42CB4062AA880000") + "0000000002",
  };
  std::string file = level7_file(0x8C, kT7Fields, recs);
  file[68 + 48 * 6 + 42] = 4;  // next autoincrement value
  ASSERT_EQ(file.size(), 549u + 3 * 76 + 1);
  write_bytes(dir.file("t7memo.dbf"), file);

  DbfTable t;
  open_in(t, dir, "t7memo");
  EXPECT_EQ(t.tableLevel(), 7);
  EXPECT_EQ(t.codepage(), 1252);
  EXPECT_EQ(t.languageDriver(), "DBWINUS0");
  EXPECT_EQ(t.recordCount(), 2);
  ASSERT_EQ(t.fieldCount(), 10);
  EXPECT_EQ(t.field(2).def(), (FieldDef{"RATE", 'F', 10, 3}));

  struct Expect {
    const char* field;
    const char* first;
    const char* second;
  } cases[] = {
      {"CODE", "WIDGET", "GADGET"},
      {"PRICE", "12.5", "-7.25"},
      {"RATE", "3.125", ""},
      {"OK", "True", "False"},
      {"DAY", "3/1/2024", ""},
      {"QTY", "1", "-1"},
      {"ID", "1", "2"},
      {"AMOUNT", "43.65", "-199.99"},
      {"STAMP", "1/1/1970", "2/20/2020 8:20:20 PM"},
      {"NOTES", "Hello\r\nWorld", ""},
  };
  t.first();
  for (const auto& c : cases) EXPECT_EQ(t.fieldByName(c.field).asString(), c.first) << c.field;
  EXPECT_EQ(t.fieldByName("notes").lines(), (std::vector<std::string>{"Hello", "World"}));
  EXPECT_DOUBLE_EQ(t.fieldByName("AMOUNT").asFloat(), 43.65);
  EXPECT_EQ(t.fieldByName("QTY").asInteger(), 1);
  t.next();
  for (const auto& c : cases) EXPECT_EQ(t.fieldByName(c.field).asString(), c.second) << c.field;
  EXPECT_TRUE(t.fieldByName("RATE").isNull());
  EXPECT_TRUE(t.fieldByName("DAY").isNull());
  EXPECT_TRUE(t.fieldByName("NOTES").isNull());
  EXPECT_FALSE(t.fieldByName("OK").isNull());
  t.next();
  EXPECT_TRUE(t.eof());  // the deleted third record is skipped
  t.goToRecNo(3);        // but can be reached by number
  EXPECT_EQ(t.fieldByName("NOTES").asString(), longMemo);
  EXPECT_EQ(t.fieldByName("STAMP").asDateTime().day, day_from_ymd(1900, 1, 1));
  EXPECT_TRUE(t.fieldByName("OK").isNull());   // '?' is an unknown logical
  EXPECT_TRUE(t.fieldByName("DAY").isNull());  // zeros are a null date

  // An append continues the autoincrement from the descriptor.
  t.append();
  t.fieldByName("CODE").setAsString("NEW");
  t.post();
  EXPECT_EQ(t.fieldByName("ID").asInteger(), 4);
  t.close();
  std::string after = read_bytes(dir.file("t7memo.dbf"));
  EXPECT_EQ(static_cast<unsigned char>(after[68 + 48 * 6 + 42]), 5);
  EXPECT_EQ(after.size(), 549u + 4 * 76 + 1);
  EXPECT_EQ(after.back(), '\x1A');
}

TEST(DbfRead, DBase3WithMemoAndOemText) {
  ScratchDir dir;
  std::string dbt(512, '\0');
  put32(dbt, 0, 3);
  dbt += pad_right(std::string("Caf\x82 au lait\x1A\x1A"), 512, '\0');
  dbt += std::string("second\x8D\nline\x1A\x1A");
  write_bytes(dir.file("OLD3.DBT"), dbt);  // upper-case companion of a lower-case name
  std::vector<RawField> f = {
      {"NAME", 'C', 10}, {"QTY", 'N', 5}, {"WHEN", 'D', 8}, {"NOTES", 'M', 10}};
  write_bytes(dir.file("old3.dbf"),
              dbase_file(0x83, f,
                         {" Caf\x82      " + std::string("   12") + "19991231" + "         1",
                          " \x9C"
                          "5 note   " +
                              std::string("     ") + "        " + "         2"},
                         0x1B));
  DbfTable t;
  open_in(t, dir, "old3.dbf");
  EXPECT_EQ(t.tableLevel(), 3);
  EXPECT_EQ(t.codepage(), 437);
  EXPECT_EQ(t.field(0).asString(), "Caf\xC3\xA9");
  EXPECT_EQ(t.field(1).asInteger(), 12);
  EXPECT_EQ(t.field(2).asDateTime().day, day_from_ymd(1999, 12, 31));
  EXPECT_EQ(t.field(3).asString(), "Caf\xC3\xA9 au lait");
  t.next();
  EXPECT_EQ(t.field(0).asString(),
            "\xC2\xA3"
            "5 note");
  EXPECT_EQ(t.field(3).asString().substr(0, 6), "second");
  EXPECT_TRUE(t.field(1).isNull());
}

TEST(DbfRead, DBase4WithMemoAndCyrillic) {
  ScratchDir dir;
  std::vector<int> blocks;
  write_bytes(dir.file("ru4.dbt"), dbt4_file({"\x8C\xAE\xE1\xAA\xA2\xA0"}, blocks));
  std::vector<RawField> f = {{"CITY", 'C', 8}, {"RATE", 'F', 8, 2}, {"NOTES", 'M', 10}};
  write_bytes(
      dir.file("ru4.dbf"),
      dbase_file(0x8B, f, {" \x8C\xAE\xE1\xAA\xA2\xA0  " + std::string("   -1.50") + "         1"},
                 0x26));
  DbfTable t;
  open_in(t, dir, "ru4");
  EXPECT_EQ(t.tableLevel(), 4);
  EXPECT_EQ(t.codepage(), 866);
  const std::string moscow = "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0";
  EXPECT_EQ(t.field(0).asString(), moscow);
  EXPECT_DOUBLE_EQ(t.field(1).asFloat(), -1.5);
  EXPECT_EQ(t.field(2).asString(), moscow);
  // Writing keeps the table's code page; a character it lacks becomes '?'.
  t.edit();
  t.field(0).setAsString("\xD0\x9A\xD0\xB8\xD0\xB5\xD0\xB2\xE2\x82\xAC");  // "Kiev" + euro sign
  t.post();
  t.close();
  std::string raw = read_bytes(dir.file("ru4.dbf"));
  EXPECT_EQ(raw.substr(32 + 3 * 32 + 1 + 1, 8), "\x8A\xA8\xA5\xA2?   ");
}

TEST(DbfRead, DialectIsToldByStructureNotByTheVersionByte) {
  ScratchDir dir;
  std::vector<RawField> f = {{"A", 'C', 3}, {"B", 'N', 4}};
  // 0x04 on a 32-byte layout: a dBase IV table, not level 7.
  write_bytes(dir.file("four.dbf"), dbase_file(0x04, f, {" abc  12"}));
  // A dBase III writer that put a stray NUL after the terminator: records follow the header
  // length, not the descriptors.
  std::string stray = dbase_file(0x03, f, {});
  stray.pop_back();                  // the end mark
  stray += '\0';                     // the stray byte
  put16(stray, 8, 32 + 2 * 32 + 2);  // header length counts it
  put32(stray, 4, 1);
  stray += " xyz 345\x1A";
  write_bytes(dir.file("stray.dbf"), stray);
  // A level-7 table with no driver name and an LDID instead.
  write_bytes(dir.file("ldid7.dbf"), level7_file(0x04, f, {" qq    7"}, "", 0x26));

  DbfTable t;
  open_in(t, dir, "four");
  EXPECT_EQ(t.tableLevel(), 4);
  EXPECT_EQ(t.field(0).asString(), "abc");
  EXPECT_EQ(t.field(1).asString(), "12");
  t.close();
  open_in(t, dir, "stray");
  EXPECT_EQ(t.field(0).asString(), "xyz");
  EXPECT_EQ(t.field(1).asInteger(), 345);
  t.close();
  open_in(t, dir, "ldid7");
  EXPECT_EQ(t.tableLevel(), 7);
  EXPECT_EQ(t.codepage(), 866);
  EXPECT_EQ(t.field(1).asInteger(), 7);
}

TEST(DbfRead, FoxPro2WithFpt) {
  ScratchDir dir;
  std::string fpt(512, '\0');
  fpt.replace(0, 4, be32(9));
  fpt[6] = 0, fpt[7] = 64;
  fpt += pad_right(be32(1) + be32(12) + "fox memo \x93q\x94", 64, '\0');  // block 8
  write_bytes(dir.file("FOX.FPT"), fpt);
  std::vector<RawField> f = {{"PART", 'C', 6}, {"COST", 'N', 8, 3}, {"NOTES", 'M', 10}};
  write_bytes(dir.file("fox.dbf"), dbase_file(0xF5, f, {" P-1      1.250         8"}, 0x03));
  DbfTable t;
  open_in(t, dir, "fox");
  EXPECT_EQ(t.tableLevel(), 25);
  EXPECT_TRUE(t.readOnly());
  EXPECT_EQ(t.field(1).asString(), "1.25");
  EXPECT_EQ(t.field(2).asString(), "fox memo \xE2\x80\x9Cq\xE2\x80\x9D");
  EXPECT_THROW(t.edit(), TableError);
  EXPECT_THROW(t.append(), TableError);
}

TEST(DbfRead, VisualFoxProBinaryTypes) {
  ScratchDir dir;
  std::string fpt(512, '\0');
  fpt.replace(0, 4, be32(9));
  fpt[7] = 64;
  fpt += pad_right(be32(1) + be32(3) + "vfp", 64, '\0');
  write_bytes(dir.file("vfp.fpt"), fpt);
  std::vector<RawField> f = {{"NAME", 'C', 4},
                             {"QTY", 'I', 4},
                             {"WHEN", 'T', 8},
                             {"PRICE", 'Y', 8},
                             {"RATE", 'B', 8},
                             {"NOTES", 'M', 4},
                             {"_NullFlags", '0', 1, 0, 0x05}};
  double rate = 2.5;
  std::string rateBytes(8, '\0');
  std::memcpy(rateBytes.data(), &rate, 8);
  std::int64_t price = 123450;  // 12.345 in ten-thousandths
  std::string priceBytes(8, '\0');
  std::memcpy(priceBytes.data(), &price, 8);
  std::string rec = " ab  " + le32(static_cast<std::uint32_t>(-5)) + le32(2451545) + le32(3600000) +
                    priceBytes + rateBytes + le32(8) + std::string(1, '\0');
  write_bytes(dir.file("vfp.dbf"), dbase_file(0x30, f, {rec}, 0x03, true));
  DbfTable t;
  open_in(t, dir, "vfp");
  EXPECT_EQ(t.tableLevel(), 30);
  EXPECT_EQ(t.fieldCount(), 6);  // the system field stays hidden
  EXPECT_EQ(t.findField("_NullFlags"), nullptr);
  EXPECT_EQ(t.field(0).asString(), "ab");
  EXPECT_EQ(t.field(1).asInteger(), -5);
  EXPECT_EQ(t.field(2).asString(), "1/1/2000 1:00:00 AM");
  EXPECT_EQ(t.field(3).asString(), "12.345");
  EXPECT_EQ(t.field(4).asString(), "2.5");
  EXPECT_EQ(t.field(5).asString(), "vfp");
}

TEST(DbfRead, ProductionIndexFlagWithoutItsIndexIsAClearError) {
  // Tessaro trusts the flag; opening without the index would let it go stale unnoticed.
  ScratchDir dir;
  std::vector<RawField> f = {{"CODE", 'C', 4}};
  std::string b = level7_file(0x04, f, {" AB  "});
  b[28] = 1;
  write_bytes(dir.file("ix.dbf"), b);
  DbfTable t;
  try {
    open_in(t, dir, "ix");
    FAIL() << "a table whose index is missing opened";
  } catch (const TableError& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find("ix"), std::string::npos) << msg;
    EXPECT_NE(to_lower_ascii(msg).find(".mdx"), std::string::npos) << msg;
  }
  EXPECT_FALSE(t.active());
}

}  // namespace
}  // namespace qm::tables
