#include "tables/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::tables {
namespace {

struct ByteCase {
  int codepage;
  std::string bytes;
  std::string utf8;
};

// Raw bytes as old tables hold them and the characters they stand for.
const ByteCase kCases[] = {
    {1252, "\x80", "\xE2\x82\xAC"},    // euro sign
    {1252, "caf\xE9", "caf\xC3\xA9"},  // e acute
    {1252, "\x93quoted\x94", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
    // Runs of ASCII longer than a word around and between the letters of the upper half.
    {1252, "price list \x80 5 per unit, caf\xE9 ends here",
     "price list \xE2\x82\xAC 5 per unit, caf\xC3\xA9 ends here"},
    {437, "caf\x82", "caf\xC3\xA9"},
    {437, "\x9C", "\xC2\xA3"},                      // pound sign
    {437, "\xDB\xB0", "\xE2\x96\x88\xE2\x96\x91"},  // block graphics
    {850, "\xD5", "\xC4\xB1"},                      // dotless i (437 has a box piece there)
    {850, "\x9B", "\xC3\xB8"},                      // o slash
    {866, "\x80\xE0", "\xD0\x90\xD1\x80"},          // Cyrillic A, er
    {866, "\x8C\xAE\xE1\xAA\xA2\xA0", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
    {1251, "\xCC\xEE\xF1\xEA\xE2\xE0", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
    {1250, "\x8A", "\xC5\xA0"},     // S caron
    {737, "\x80", "\xCE\x91"},      // Greek Alpha
    {874, "\xA1", "\xE0\xB8\x81"},  // Thai ko kai
    {65001, "caf\xC3\xA9", "caf\xC3\xA9"},
};

TEST(Codepage, BytesToUtf8AndBack) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.codepage);
    EXPECT_EQ(to_utf8(c.bytes, c.codepage), c.utf8);
    EXPECT_EQ(from_utf8(c.utf8, c.codepage), c.bytes);
  }
}

TEST(Codepage, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(from_utf8("\xE2\x82\xAC 5", 437), "? 5");       // no euro in 437
  EXPECT_EQ(from_utf8("\xD0\x90", 1252), "?");              // no Cyrillic in 1252
  EXPECT_EQ(from_utf8("a\xF0\x9F\x98\x80z", 1252), "a?z");  // beyond the BMP
  EXPECT_EQ(from_utf8("a\xC3z", 1252), "a?z");              // truncated sequence
  EXPECT_EQ(from_utf8("\xC0\xAF", 1252), "??");             // overlong
  EXPECT_EQ(from_utf8("\xED\xA0\x80", 65001), "???");       // surrogate
}

TEST(Codepage, EveryByteDecodesToValidUtf8) {
  const int pages[] = {437,  737,  850,  852,  857,  860,  861,  863,  865,   866,  874,
                       1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 65001, 12345};
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (int cp : pages) {
    SCOPED_TRACE(cp);
    std::string u = to_utf8(all, cp);
    // Re-encoding to UTF-8 passes valid text through unchanged, so no '?' may appear
    // except where the source byte itself was one.
    std::string again = from_utf8(u, 65001);
    EXPECT_EQ(again, u);
  }
  // Undefined cp1252 bytes show as U+FFFD.
  EXPECT_EQ(to_utf8("\x81", 1252), "\xEF\xBF\xBD");
  // An unknown code page reads as 1252.
  EXPECT_EQ(to_utf8("\x80", 12345), "\xE2\x82\xAC");
  EXPECT_FALSE(codepage_known(12345));
  EXPECT_TRUE(codepage_known(866));
  EXPECT_TRUE(codepage_known(65001));
}

TEST(Codepage, RoundTripOfWholeUpperHalf) {
  const int pages[] = {437, 850, 852, 866, 1250, 1251, 1253, 1257};
  for (int cp : pages) {
    SCOPED_TRACE(cp);
    for (int b = 0x80; b < 256; ++b) {
      std::string one(1, static_cast<char>(b));
      std::string u = to_utf8(one, cp);
      if (u == "\xEF\xBF\xBD") continue;
      EXPECT_EQ(from_utf8(u, cp), one) << b;
    }
  }
}

TEST(Codepage, DriverNamesAndLdids) {
  struct {
    const char* name;
    int cp;
  } names[] = {{"DBWINUS0", 1252}, {"dbwinwe0", 1252}, {"DB437US0", 437},
               {"DB866RU0", 866},  {"DB437GR0", 737},  {"DB852HDC", 852},
               {"DB863CF1", 863},  {"DB850CF0", 850},  {"", 0},
               {"ASCII", 0},       {"DB999XX0", 0}};
  for (const auto& n : names) EXPECT_EQ(codepage_from_driver_name(n.name), n.cp) << n.name;
  // As the header holds it: NUL-padded to 32 bytes.
  EXPECT_EQ(codepage_from_driver_name(std::string("DB866RU0") + std::string(24, '\0')), 866);

  EXPECT_EQ(codepage_from_ldid(0x1B), 437);
  EXPECT_EQ(codepage_from_ldid(0x26), 866);
  EXPECT_EQ(codepage_from_ldid(0x57), 1252);
  EXPECT_EQ(codepage_from_ldid(0x03), 1252);
  EXPECT_EQ(codepage_from_ldid(0xC9), 1251);
  EXPECT_EQ(codepage_from_ldid(0x00), 0);

  EXPECT_EQ(driver_name_for_codepage(1252), "DBWINUS0");
  EXPECT_EQ(driver_name_for_codepage(866), "DB866RU0");
  EXPECT_EQ(driver_name_for_codepage(1251), "");
  // Every driver a new table can get names its own code page again.
  for (int cp : {437, 737, 850, 852, 857, 860, 863, 865, 866, 1252})
    EXPECT_EQ(codepage_from_driver_name(driver_name_for_codepage(cp)), cp) << cp;
  for (int cp : {437, 850, 852, 866, 1250, 1251, 1252, 1253, 1257})
    EXPECT_EQ(codepage_from_ldid(ldid_for_codepage(cp)), cp) << cp;
}

}  // namespace
}  // namespace qm::tables
