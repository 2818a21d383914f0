// Our tables and memo files read by readers nobody on the team wrote: SheetJS (node) and
// Perl XBase::Memo. Skipped when the reader is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "core/tests/run_process.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

std::string run(const qm::testkit::Command& cmd) {
  qm::testkit::Outcome r = qm::testkit::run_process(cmd);
  EXPECT_EQ(r.code, 0) << cmd.args[0] << "\n" << r.out << r.err;
  return r.out + r.err;
}

std::vector<std::string> split_lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// SheetJS reads level-7 tables only with the memo version byte: copy with byte 0 = 0x8C.
std::string sheetjs_rows(const ScratchDir& dir, const std::string& table) {
  std::string bytes = read_bytes(table);
  bytes[0] = static_cast<char>(0x8C);
  std::string copy = dir.file("sheetjs-copy.dbf");
  write_bytes(copy, bytes);
  const char* modules = std::getenv("QM_NODE_MODULES");
  return run({{"node", QM_SOURCE_DIR "/tables/tests/sheetjs_read_dbf.js", copy},
              {{"NODE_PATH", modules}}});
}

bool have_sheetjs() {
  const char* modules = std::getenv("QM_NODE_MODULES");
  return modules && *modules && qm::testkit::program_succeeds({"node", "--version"});
}

TEST(IndependentReaders, SheetJsReadsOurLevel7Table) {
  if (!have_sheetjs()) GTEST_SKIP() << "QM_NODE_MODULES not set or node missing";
  ScratchDir dir;
  make_table(dir, "check",
             {{"CODE", 'C', 12, 0},
              {"PRICE", 'N', 12, 2},
              {"RATE", 'F', 8, 3},
              {"OK", 'L', 1, 0},
              {"DAY", 'D', 8, 0},
              {"QTY", 'I', 4, 0},
              {"ID", '+', 4, 0},
              {"AMOUNT", 'O', 8, 0},
              {"STAMP", '@', 8, 0}});
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("check");
  t.open();
  struct Row {
    const char *code, *price, *rate, *ok, *day, *qty, *amount, *stamp;
  } rows[] = {
      {"Caf\xC3\xA9 \xE2\x82\xAC"
       "5",
       "1234.5", "0.125", "True", "2026-12-09", "-42", "43.65", "2020-02-20 20:20:20"},
      {"plain", "-7.25", "3", "False", "1999-01-31", "2147483647", "0", "1970-01-01"},
  };
  for (const auto& r : rows) {
    t.append();
    t.fieldByName("CODE").setAsString(r.code);
    t.fieldByName("PRICE").setAsString(r.price);
    t.fieldByName("RATE").setAsString(r.rate);
    t.fieldByName("OK").setAsString(r.ok);
    t.fieldByName("DAY").setAsString(r.day);
    t.fieldByName("QTY").setAsString(r.qty);
    t.fieldByName("AMOUNT").setAsString(r.amount);
    t.fieldByName("STAMP").setAsString(r.stamp);
    t.post();
  }
  t.close();
  auto lines = split_lines(sheetjs_rows(dir, dir.file("check.dbf")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "CODE\tPRICE\tRATE\tOK\tDAY\tQTY\tID\tAMOUNT\tSTAMP");
  EXPECT_EQ(lines[1],
            "Caf\xC3\xA9 \xE2\x82\xAC"
            "5\t1234.5\t0.125\ttrue\t2026-12-09\t-42\t1\t43.65\t2020-02-20 20:20:20");
  EXPECT_EQ(lines[2], "plain\t-7.25\t3\tfalse\t1999-01-31\t2147483647\t2\t0\t1970-01-01");
}

TEST(IndependentReaders, SheetJsReadsTheProgramTables) {
  if (!have_sheetjs()) GTEST_SKIP() << "QM_NODE_MODULES not set or node missing";
  struct {
    const char* file;
    int fields;
  } tables[] = {{"exprtwin.dbf", 29},
                {"flistwin.dbf", 0},
                {"filelwin.dbf", 45},
                {"sample/Tessaro/Data/manulist.dbf", 45},
                {"sample/Tessaro/Data/prvendor.DBF", 0},
                {"sample/Tessaro/stru/filelst.dbf", 45},
                {"sample/Tessaro/stru/Datelst.dbf", 0}};
  for (const auto& tb : tables) {
    SCOPED_TRACE(tb.file);
    std::string path = std::string(QM_BIN_DIR) + "/" + tb.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " not built";
    DbfTable t;
    t.setFolder(std::filesystem::path(path).parent_path().string());
    t.setTableName(std::filesystem::path(path).filename().string());
    auto defs = t.fieldDefs();
    if (tb.fields) {
      EXPECT_EQ(static_cast<int>(defs.size()), tb.fields);
    }
    ScratchDir dir;
    auto lines = split_lines(sheetjs_rows(dir, path));
    ASSERT_FALSE(lines.empty());
    std::string names;
    for (const auto& d : defs) names += (names.empty() ? "" : "\t") + d.name;
    EXPECT_EQ(lines[0], names);
    t.open();
    EXPECT_EQ(static_cast<std::int64_t>(lines.size()) - 1, t.recordCount());
  }
}

TEST(IndependentReaders, PerlXBaseReadsOurMemos) {
  if (!qm::testkit::program_succeeds({"perl", "-MXBase::Memo", "-e", "1"}))
    GTEST_SKIP() << "Perl XBase missing";
  ScratchDir dir;
  make_table(dir, "memos", {{"CODE", 'C', 4, 0}, {"NOTES", 'M', 10, 0}, {"BLOB", 'B', 10, 0}});
  const std::vector<std::string> notes = {"short", std::string(1000, 'a') + "\r\nend", "",
                                          "\xE9t\xE9"};
  const std::string blob("\x00\x01\x02\xFF\x1A\x1A\x00", 7);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("memos");
  t.open();
  for (const auto& n : notes) {
    t.append();
    t.field(0).setAsString("R");
    t.field(1).setAsString(n == "\xE9t\xE9" ? "\xC3\xA9t\xC3\xA9" : n);  // UTF-8 in, cp1252 stored
    t.field(2).setAsString(blob);
    t.post();
  }
  t.close();
  // The pointers straight from the records: 68 + 3*48 + 1 = 213 bytes of header, 25 per record.
  std::string raw = read_bytes(dir.file("memos.dbf"));
  std::vector<std::string> want;
  qm::testkit::Command cmd{
      {"perl", QM_SOURCE_DIR "/tables/tests/xbase_read_memo.pl", dir.file("memos.dbt")}};
  auto hexOf = [](const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) h += d[c >> 4], h += d[c & 15];
    return h;
  };
  for (size_t i = 0; i < notes.size(); ++i) {
    std::string rec = raw.substr(213 + 25 * i, 25);
    for (int f = 0; f < 2; ++f) {
      std::string ptr = rec.substr(5 + 10 * static_cast<size_t>(f), 10);
      if (ptr == std::string(10, ' ')) {
        EXPECT_TRUE(f == 0 && notes[i].empty()) << i;
        continue;
      }
      long block = std::stol(ptr);
      cmd.args.push_back(std::to_string(block));
      want.push_back(std::to_string(block) + ":" + hexOf(f == 0 ? notes[i] : blob));
    }
  }
  auto lines = split_lines(run(cmd));
  EXPECT_EQ(lines, want);
}

}  // namespace
}  // namespace qm::tables
