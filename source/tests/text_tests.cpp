#include <gtest/gtest.h>

#include "core/error.h"
#include "source/tests/test_util.h"
#include "source/text/encoding.h"
#include "source/text/text_source.h"

namespace qm::source {
namespace {

std::vector<std::vector<std::string>> rows_of(const std::string& data, TextFormat f = {}) {
  auto r = text_rows_from_memory(data, f, "test.csv");
  std::vector<std::vector<std::string>> out;
  std::vector<Cell> cells;
  while (r->nextRow(cells)) {
    std::vector<std::string> row;
    for (const auto& c : cells) row.push_back(c.kind == Cell::Kind::Empty ? "<null>" : c.text);
    out.push_back(row);
  }
  return out;
}

using Rows = std::vector<std::vector<std::string>>;

TEST(TextRows, QuotingAndLineEnds) {
  struct Case {
    const char* what;
    std::string data;
    Rows rows;
  };
  const std::vector<Case> cases = {
      {"CRLF", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
      {"LF without final end", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
      {"CR alone", "a,b\r1,2\r", {{"a", "b"}, {"1", "2"}}},
      {"quoted delimiter", "\"x,y\",z\n", {{"x,y", "z"}}},
      {"doubled quote", "\"say \"\"hi\"\"\",1\n", {{"say \"hi\"", "1"}}},
      {"line breaks inside quotes",
       "\"one\r\ntwo\nthree\",4\r\n5,6\r\n",
       {{"one\r\ntwo\nthree", "4"}, {"5", "6"}}},
      {"empty values", ",,\n", {{"<null>", "<null>", "<null>"}}},
      {"quoted empty value", "\"\",a\n", {{"<null>", "a"}}},
      {"blank line in the middle", "a\n\nb\n", {{"a"}, {"<null>"}, {"b"}}},
      {"quote inside a plain value", "5\" pipe,1\n", {{"5\" pipe", "1"}}},
      {"text after closing quote", "\"ab\"cd,1\n", {{"abcd", "1"}}},
      {"blanks kept as written", " a , b \n", {{" a ", " b "}}},
      {"UTF-8 byte order mark", "\xEF\xBB\xBFName\n", {{"Name"}}},
      {"a row split whole, then rows that are not",
       "\"x,y\",z,\"\",\r\nab\"c,\"q\"\"r\",\"one\ntwo\"\r\n5\" pipe,\"ab\"cd\rlast row of the "
       "text\n",
       {{"x,y", "z", "<null>", "<null>"},
        {"ab\"c", "q\"r", "one\ntwo"},
        {"5\" pipe", "abcd"},
        {"last row of the text"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(rows_of(c.data), c.rows) << c.what;
}

TEST(TextRows, Encodings) {
  // Windows-1252 bytes: e acute, euro sign, a curly quote.
  EXPECT_EQ(rows_of("caf\xE9,\x80\x39,\x93q\x94\n"), (Rows{{"caf\xC3\xA9",
                                                            "\xE2\x82\xAC"
                                                            "9",
                                                            "\xE2\x80\x9Cq\xE2\x80\x9D"}}));
  EXPECT_EQ(rows_of("caf\xC3\xA9\n"), (Rows{{"caf\xC3\xA9"}}));
  EXPECT_EQ(
      rows_of("caf\xE9,plain words,\x93q\x94\nrest of the text\n"),
      (Rows{{"caf\xC3\xA9", "plain words", "\xE2\x80\x9Cq\xE2\x80\x9D"}, {"rest of the text"}}));
  // A UTF-8 file with one stray Windows-1252 value keeps the rest as it is.
  TextFormat utf8;
  utf8.codepage = kUtf8;
  EXPECT_EQ(rows_of("\xC3\xA9,\xE9\n", utf8), (Rows{{"\xC3\xA9", "\xC3\xA9"}}));
  TextFormat oem;
  oem.codepage = 850;
  EXPECT_EQ(rows_of("\x82\n", oem), (Rows{{"\xC3\xA9"}}));
  EXPECT_EQ(detect_codepage("\xEF\xBB\xBF"
                            "abc"),
            kUtf8);
  EXPECT_EQ(detect_codepage("abc \xC3\xA9"), kUtf8);
  EXPECT_EQ(detect_codepage("abc \xE9 d"), 1252);
  EXPECT_EQ(detect_codepage("abc \xC3"), kUtf8);  // a head cut inside a character
}

TEST(TextRows, OtherDelimiterAndRewind) {
  TextFormat f;
  f.delimiter = '\t';
  auto r = text_rows_from_memory("a\tb,c\n1\t2\n", f, "t.txt");
  std::vector<Cell> cells;
  ASSERT_TRUE(r->nextRow(cells));
  EXPECT_EQ(cells[1].text, "b,c");
  ASSERT_TRUE(r->nextRow(cells));
  EXPECT_FALSE(r->nextRow(cells));
  r->rewind();
  ASSERT_TRUE(r->nextRow(cells));
  EXPECT_EQ(cells[0].text, "a");
}

TEST(TextRows, UnclosedQuoteNamesFileRowAndColumn) {
  try {
    rows_of("a,b\n1,\"open\n2,3\n");
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "test.csv: row 2, column 2: a quoted value is not closed before the end of the "
                 "file.");
  }
}

TEST(TextRows, RowLengthIsBounded) {
  std::string huge = "\"" + std::string(17u << 20, 'x');
  EXPECT_THROW(rows_of(huge), DatabaseError);
}

// UTF-16 as a file holds it: the mark, then each character in two bytes (four for a pair).
std::string utf16(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(TextRows, Utf16FilesWithTheirMark) {
  struct Case {
    const char* what;
    std::string data;
    Rows rows;
  };
  // A pair whose halves lie either side of the 64 KiB the decoder takes at a time.
  std::u16string longLine = u"x," + std::u16string(32765, u'y') + u"\U0001F600\n";
  std::string longWant = std::string(32765, 'y') + "\xF0\x9F\x98\x80";
  const std::vector<Case> cases = {
      {"little-endian",
       utf16(u"Part,Preis\r\nA\u00e91,2\r\n", false),
       {{"Part", "Preis"},
        {"A\xC3\xA9"
         "1",
         "2"}}},
      {"big-endian", utf16(u"Part\tx\n\u20ac\n", true), {{"Part\tx"}, {"\xE2\x82\xAC"}}},
      {"surrogate pair across a read", utf16(longLine, false), {{"x", longWant}}},
      {"lone surrogate and odd last byte",
       utf16(u"a\xD800,b", false) + "z",
       {{"a\xEF\xBF\xBD", "b\xEF\xBF\xBD"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rows_of(c.data), c.rows) << c.what;
    // Read again after a rewind, from the start of the text.
    auto r = text_rows_from_memory(c.data, {}, "test.csv");
    std::vector<Cell> cells;
    while (r->nextRow(cells)) {
    }
    r->rewind();
    ASSERT_TRUE(r->nextRow(cells)) << c.what;
    EXPECT_EQ(cells[0].text, c.rows[0][0]) << c.what;
  }
}

TEST(TextRows, NulBytesAreLeftOutAndCounted) {
  struct Case {
    const char* what;
    std::string data;
    Rows rows;
    const char* note;  // empty: none
  };
  using namespace std::string_literals;
  const std::vector<Case> cases = {
      {"none", "a,b\n", {{"a", "b"}}, ""},
      {"inside values",
       "a,b\nX\0\0Y,\"q\0\"\n"s,
       {{"a", "b"}, {"XY", "q"}},
       "test.csv: 3 NUL bytes were left out of its values (the first in row 2)"},
      {"in a whole word before the delimiter's",
       "x\0yyyyyyyyy,b\n"s,
       {{"xyyyyyyyyy", "b"}},
       "test.csv: 1 NUL byte was left out of its values (the first in row 1)"},
      {"quoted, in a row split whole",
       "\"q\0\",b\nlong enough row\n"s,
       {{"q", "b"}, {"long enough row"}},
       "test.csv: 1 NUL byte was left out of its values (the first in row 1)"},
      {"a value of nothing else",
       "a,\0\n"s,
       {{"a", "<null>"}},
       "test.csv: 1 NUL byte was left out of its values (the first in row 1)"},
      {"UTF-16 NUL character",
       utf16(u"a"s + u'\0' + u"b\n", false),
       {{"ab"}},
       "test.csv: 1 NUL byte was left out"},
  };
  for (const auto& c : cases) {
    auto r = text_rows_from_memory(c.data, {}, "test.csv");
    Rows rows;
    std::vector<Cell> cells;
    while (r->nextRow(cells)) {
      std::vector<std::string> row;
      for (const auto& cell : cells)
        row.push_back(cell.kind == Cell::Kind::Empty ? "<null>" : cell.text);
      rows.push_back(row);
    }
    EXPECT_EQ(rows, c.rows) << c.what;
    auto notes = r->notes();
    if (*c.note == 0) {
      EXPECT_TRUE(notes.empty()) << c.what;
    } else {
      ASSERT_EQ(notes.size(), 1u) << c.what;
      EXPECT_EQ(notes[0].rfind(c.note, 0), 0u) << notes[0];
    }
  }
  // The table over the file passes the count on, after its rows were read.
  test::TempDir dir;
  dir.write("n.csv", std::string("a\nx\0y\n", 6));
  auto rs = open_text_folder(dir.path(), ConnectString::parse("Text;"))->openRecordset("n.csv");
  ASSERT_EQ(rs->notes().size(), 1u);
  EXPECT_NE(rs->notes()[0].find("1 NUL byte was left out"), std::string::npos) << rs->notes()[0];
}

TEST(DetectDelimiter, FirstLines) {
  struct Case {
    const char* head;
    char want;
  };
  for (const Case& c : std::vector<Case>{
           {"a\tb\tc\n1\t2\t3\n", '\t'},
           {"a;b;c\n1,5;2;3\n", ';'},
           {"a,b\n1,2\n", ','},
           {"a|b|c\n1|2|3\n", '|'},
           {"\"x;y\",b\n\"1;2\",3\n", ','},
           {"single\ncolumn\n", ','},
           {"a;b\n1;2;3\n", ';'},
       })
    EXPECT_EQ(detect_delimiter(c.head), c.want) << c.head;
}

TEST(SchemaIni, SectionOfTheFile) {
  const char* ini =
      "[other.txt]\nFormat=TabDelimited\n"
      "[PRICES.TXT]\r\nFormat=Delimited(;)\r\nColNameHeader=False\r\nCharacterSet=OEM\r\n"
      "[tabs.txt]\nFormat=TabDelimited\nColNameHeader=True\nCharacterSet=65001\n"
      "[fixed.txt]\nFormat=FixedLength\n";
  auto s = parse_schema_ini(ini, "prices.txt");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->delimiter, ';');
  EXPECT_EQ(s->colNameHeader, false);
  EXPECT_EQ(s->codepage, 437);
  auto t = parse_schema_ini(ini, "tabs.txt");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->delimiter, '\t');
  EXPECT_EQ(t->colNameHeader, true);
  EXPECT_EQ(t->codepage, kUtf8);
  EXPECT_EQ(parse_schema_ini(ini, "fixed.txt")->unsupported, "Format=FixedLength");
  EXPECT_FALSE(parse_schema_ini(ini, "missing.txt"));
  EXPECT_EQ(parse_schema_ini("[a.csv]\nFormat=CSVDelimited\n", "a.csv")->delimiter, ',');
}

std::vector<std::vector<std::string>> table_of(EngineDatabase& db, const std::string& name) {
  auto rs = db.openRecordset(name);
  std::vector<std::vector<std::string>> out;
  std::vector<std::string> names;
  for (const auto& c : rs->columns()) names.push_back(c.name);
  out.push_back(names);
  std::vector<Cell> row;
  while (rs->fetch(row)) {
    std::vector<std::string> r;
    for (const auto& c : row) r.push_back(c.text);
    out.push_back(r);
  }
  return out;
}

TEST(TextFolder, TablesAreTextFilesWithTheirExtension) {
  test::TempDir dir;
  dir.write("b.csv", "x\n");
  dir.write("A.TXT", "x\n");
  dir.write("notes.doc", "x\n");
  dir.write("c.dbf", "x");
  auto db = open_text_folder(dir.path(), ConnectString::parse("Text;"));
  EXPECT_EQ(db->tableNames(), (std::vector<std::string>{"A.TXT", "b.csv"}));
  try {
    db->openRecordset("missing.csv");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("'missing.csv'"), std::string::npos) << e.what();
  }
  EXPECT_THROW(open_text_folder(dir.path() + "/nope", ConnectString::parse("Text;")),
               DatabaseError);
}

TEST(TextFolder, SchemaIniFoundWithoutRegardToCaseAndHonoured) {
  test::TempDir dir;
  dir.write("Schema.INI", "[list.txt]\nFormat=TabDelimited\nColNameHeader=False\n");
  dir.write("list.txt", "a;1\tb\n");
  dir.write("semi.txt", "Code;Name\nX;Y\n");
  auto db = open_text_folder(dir.path(), ConnectString::parse("TEXT;"));
  EXPECT_EQ(table_of(*db, "LIST.txt"), (Rows{{"F1", "F2"}, {"a;1", "b"}}));
  // Without a section of its own a .txt file's delimiter is detected.
  EXPECT_EQ(table_of(*db, "semi.txt"), (Rows{{"Code", "Name"}, {"X", "Y"}}));
  // HDR=NO makes the first row data.
  auto nohdr = open_text_folder(dir.path(), ConnectString::parse("TEXT;HDR=NO;"));
  EXPECT_EQ(table_of(*nohdr, "semi.txt"), (Rows{{"F1", "F2"}, {"Code", "Name"}, {"X", "Y"}}));
  dir.write("schema.ini", "[semi.txt]\nFormat=FixedLength\n");
  EXPECT_THROW(db->openRecordset("semi.txt"), DatabaseError);
}

TEST(TextFolder, FileWithoutAFieldIsRefused) {
  test::TempDir dir;
  for (const char* data : {"", "\r", "\n\n\r\n", ",\r\n,\r\n"}) {
    dir.write("p.csv", data);
    auto db = open_text_folder(dir.path(), ConnectString::parse("Text;"));
    try {
      db->openRecordset("p.csv");
      ADD_FAILURE() << "opened: " << testing::PrintToString(data);
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("p.csv: the file holds no field"), std::string::npos)
          << e.what();
    }
  }
  // A tab-delimited UTF-16 .txt has its delimiter found in its decoded text.
  dir.write("u.txt", utf16(u"Code\tName\nX\tY\n", false));
  auto db = open_text_folder(dir.path(), ConnectString::parse("Text;"));
  EXPECT_EQ(table_of(*db, "u.txt"), (Rows{{"Code", "Name"}, {"X", "Y"}}));
}

TEST(TextFolder, CsvIsAlwaysCommaWithoutSchema) {
  test::TempDir dir;
  dir.write("p.csv", "a;b,c\n1;2,3\n");
  auto db = open_text_folder(dir.path(), ConnectString::parse("Text;"));
  EXPECT_EQ(table_of(*db, "p.csv"), (Rows{{"a;b", "c"}, {"1;2", "3"}}));
}

}  // namespace
}  // namespace qm::source
