// Hostile and broken files: each gives a TableError naming the file, never a crash or a
// huge allocation.
#include <gtest/gtest.h>

#include <functional>

#include "core/error.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

const std::vector<RawField> kFields = {{"CODE", 'C', 4}, {"QTY", 'N', 5}, {"NOTES", 'M', 10}};

std::string good_table() {
  return level7_file(0x8C, kFields, {" AB  " + std::string("   12") + "0000000001", " CD  " + std::string("    7") + std::string(10, ' ')});
}
std::string good_memo() {
  std::vector<int> blocks;
  return dbt4_file({"memo one"}, blocks);
}

// Opens and reads every value; returns the error text, or "" when everything read.
std::string read_everything(const ScratchDir& dir) {
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("bad");
  try {
    t.open();
    for (t.first(); !t.eof(); t.next())
      for (int i = 0; i < t.fieldCount(); ++i) (void)t.field(i).asString();
    (void)t.recordCount();
  } catch (const TableError& e) {
    return e.what();
  }
  return "";
}

TEST(DbfMalformed, BrokenTablesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> spoil;
  } cases[] = {
      {"truncated header", [](std::string& b) { b.resize(20); }},
      {"empty file", [](std::string& b) { b.clear(); }},
      {"header length beyond the file", [](std::string& b) { put16(b, 8, 60000); }},
      {"header length too small", [](std::string& b) { put16(b, 8, 10); }},
      {"record count lies", [](std::string& b) { put32(b, 4, 0x7FFFFFFF); }},
      {"record count one too many", [](std::string& b) { put32(b, 4, 3); }},
      {"record length does not add up", [](std::string& b) { put16(b, 10, 30); }},
      {"record length zero", [](std::string& b) { put16(b, 10, 0); }},
      {"field length changed", [](std::string& b) { b[68 + 33] = 9; }},
      {"unknown type letter", [](std::string& b) { b[68 + 32] = 'Z'; }},
      {"no terminator", [](std::string& b) { b[68 + 3 * 48] = 'X'; }},
      {"dBase II", [](std::string& b) { b[0] = 0x02; }},
      {"cut inside the records", [](std::string& b) { b.resize(b.size() - 10); }},
      {"memo pointer past the end", [](std::string& b) { b.replace(213 + 10, 10, "0000099999"); }},
      {"memo pointer not a number", [](std::string& b) { b.replace(213 + 10, 10, "00000x0001"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::string b = good_table();
    c.spoil(b);
    write_bytes(dir.file("bad.dbf"), b);
    write_bytes(dir.file("bad.dbt"), good_memo());
    std::string err = read_everything(dir);
    EXPECT_NE(err, "");
    EXPECT_NE(err.find("bad."), std::string::npos) << err;  // names the table or memo file
  }
}

TEST(DbfMalformed, BrokenMemoFilesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> spoil;
  } cases[] = {
      {"memo length beyond the file", [](std::string& m) { put32(m, 512 + 4, 0x7FFFFFF0); }},
      {"memo length below its prefix", [](std::string& m) { put32(m, 512 + 4, 3); }},
      {"file cut to the header", [](std::string& m) { m.resize(512); }},
      {"file shorter than a header", [](std::string& m) { m.resize(10); }},
      {"tiny block size", [](std::string& m) { put16(m, 20, 4); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::string m = good_memo();
    c.spoil(m);
    write_bytes(dir.file("bad.dbf"), good_table());
    write_bytes(dir.file("bad.dbt"), m);
    std::string err = read_everything(dir);
    EXPECT_NE(err.find("bad.dbt"), std::string::npos) << err;
  }
}

TEST(DbfMalformed, MissingMemoFileIsNamed) {
  ScratchDir dir;
  write_bytes(dir.file("bad.dbf"), good_table());
  std::string err = read_everything(dir);
  EXPECT_NE(err.find("bad.dbt"), std::string::npos) << err;
}

TEST(DbfMalformed, GoodFilesReadAfterAll) {
  // The spoilers above start from files that read cleanly.
  ScratchDir dir;
  write_bytes(dir.file("bad.dbf"), good_table());
  write_bytes(dir.file("bad.dbt"), good_memo());
  EXPECT_EQ(read_everything(dir), "");
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("bad");
  t.open();
  EXPECT_EQ(t.field(2).asString(), "memo one");
}

TEST(DbfMalformed, EveryTruncationOfAValidTableIsHandled) {
  std::string full = good_table();
  for (size_t n = 0; n < full.size(); ++n) {
    ScratchDir dir;
    write_bytes(dir.file("bad.dbf"), full.substr(0, n));
    write_bytes(dir.file("bad.dbt"), good_memo());
    std::string err = read_everything(dir);
    // Only the missing end mark may go unnoticed: readers go by the count.
    if (n < full.size() - 1) {
      EXPECT_NE(err, "") << n;
    }
  }
}

}  // namespace
}  // namespace qm::tables
