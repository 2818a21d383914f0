#include "tables/field_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tables/tests/test_util.h"

namespace qm::tables::codec {
namespace {

using test::hex;

TEST(FieldCodec, Level7LongMatchesRealFiles) {
  struct {
    std::int32_t v;
    const char* bytes;
  } cases[] = {{1, "80000001"},          {-1, "7FFFFFFF"},          {0, "80000000"},
               {2147483647, "FFFFFFFF"}, {-2147483647, "00000001"}, {1000, "800003E8"}};
  for (const auto& c : cases) {
    char b[4];
    put_long7(b, c.v);
    EXPECT_EQ(std::string(b, 4), hex(c.bytes)) << c.v;
    EXPECT_EQ(get_long7(hex(c.bytes).data()), c.v) << c.bytes;
  }
}

TEST(FieldCodec, Level7DoubleMatchesRealFiles) {
  struct {
    double v;
    const char* bytes;
  } cases[] = {
      {43.65, "C045D33333333333"}, {-199.99, "3F970051EB851EB7"}, {0.0, "8000000000000000"}};
  for (const auto& c : cases) {
    char b[8];
    put_double7(b, c.v);
    EXPECT_EQ(std::string(b, 8), hex(c.bytes)) << c.v;
    EXPECT_EQ(get_double7(hex(c.bytes).data()), c.v) << c.bytes;
  }
  char b[8];
  put_double7(b, -0.0);  // negative zero is stored as zero
  EXPECT_EQ(std::string(b, 8), hex("8000000000000000"));
  // The transform keeps the order of the bytes equal to the order of the numbers.
  double vals[] = {-1e10, -5.5, -0.001, 0, 0.001, 2, 1e300};
  std::string prev;
  for (double v : vals) {
    put_double7(b, v);
    std::string cur(b, 8);
    if (!prev.empty()) {
      EXPECT_LT(prev, cur) << v;
    }
    prev = cur;
  }
}

TEST(FieldCodec, Level7TimestampMatchesRealFiles) {
  struct {
    int y, m, d, hh, mm, ss;
    const char* bytes;
  } cases[] = {{1970, 1, 1, 0, 0, 0, "42CC418BA99A0000"},
               {1900, 1, 1, 0, 0, 0, "42CB4062AA880000"},
               {2020, 2, 20, 20, 20, 20, "42CCF9BDCAA9D000"}};
  for (const auto& c : cases) {
    DateTime dt{day_from_ymd(c.y, c.m, c.d), ((c.hh * 60 + c.mm) * 60 + c.ss) * 1000};
    char b[8];
    put_timestamp7(b, dt);
    EXPECT_EQ(std::string(b, 8), hex(c.bytes)) << c.y;
    DateTime back;
    ASSERT_TRUE(get_timestamp7(hex(c.bytes).data(), back));
    EXPECT_EQ(back, dt);
  }
  DateTime none;
  EXPECT_FALSE(get_timestamp7(std::string(8, '\0').data(), none));
}

TEST(FieldCodec, NumberTextFitsTheField) {
  struct {
    const char* text;
    int width, decimals;
    NumberFit fit;
    const char* stored;
  } cases[] = {
      {"12.5", 12, 2, NumberFit::Ok, "       12.50"},
      {"-12.5", 8, 2, NumberFit::Ok, "  -12.50"},
      {"-12.5", 5, 2, NumberFit::TooWide, ""},
      {"-0.00", 6, 2, NumberFit::Ok, "  0.00"},  // no negative zero without rounding either
      {"-0", 3, 0, NumberFit::Ok, "  0"},
      {"0.25", 6, 4, NumberFit::Ok, "0.2500"},
      {"-.5", 6, 2, NumberFit::Ok, " -0.50"},
      {"1234.5678", 9, 4, NumberFit::Ok, "1234.5678"},
      {"123456789.5", 21, 2, NumberFit::Ok, "         123456789.50"},  // words of blanks, digits
      {" 12.5 ", 8, 2, NumberFit::Ok, "   12.50"},
      {"1.005", 8, 2, NumberFit::Ok, "    1.01"},  // decimal rounding, not binary
      {"-1.005", 8, 2, NumberFit::Ok, "   -1.01"},
      {"-0.001", 6, 2, NumberFit::Ok, "  0.00"},  // no negative zero
      {"9.999", 5, 2, NumberFit::Ok, "10.00"},    // carry into a new digit
      {"9.999", 4, 2, NumberFit::TooWide, ""},
      {"123456", 6, 0, NumberFit::Ok, "123456"},
      {"1234567", 6, 0, NumberFit::TooWide, ""},
      {"12.7", 6, 0, NumberFit::Ok, "    13"},
      {".5", 5, 1, NumberFit::Ok, "  0.5"},
      {"5.", 3, 0, NumberFit::Ok, "  5"},
      {"+7", 3, 0, NumberFit::Ok, "  7"},
      {"0012", 4, 0, NumberFit::Ok, "  12"},
      {"1.5e3", 8, 1, NumberFit::Ok, "  1500.0"},
      {"", 5, 0, NumberFit::Blank, ""},
      {"   ", 5, 0, NumberFit::Blank, ""},
      {"abc", 5, 0, NumberFit::NotANumber, ""},
      {"$12.50", 8, 2, NumberFit::NotANumber, ""},
      {"1,234.50", 10, 2, NumberFit::NotANumber, ""},
      {"1.2.3", 8, 2, NumberFit::NotANumber, ""},
      {"-", 5, 0, NumberFit::NotANumber, ""},
      {"1e", 5, 0, NumberFit::NotANumber, ""},
      {"12 5", 5, 0, NumberFit::NotANumber, ""},
      {"99999999999999999999999", 20, 0, NumberFit::TooWide, ""},
  };
  for (const auto& c : cases) {
    std::string out(static_cast<size_t>(c.width), '#');
    NumberFit r = format_number_text(c.text, c.width, c.decimals, out.data());
    EXPECT_EQ(static_cast<int>(r), static_cast<int>(c.fit)) << "'" << c.text << "'";
    if (c.fit == NumberFit::Ok) {
      EXPECT_EQ(out, c.stored) << c.text;
    }
  }
}

TEST(FieldCodec, NumberValueFitsTheField) {
  char out[12];
  EXPECT_EQ(format_number_value(3.14159, 8, 3, out), NumberFit::Ok);
  EXPECT_EQ(std::string(out, 8), "   3.142");
  EXPECT_EQ(format_number_value(-0.0001, 6, 2, out), NumberFit::Ok);
  EXPECT_EQ(std::string(out, 6), "  0.00");
  EXPECT_EQ(format_number_value(1e7, 6, 0, out), NumberFit::TooWide);
  EXPECT_EQ(format_number_value(NAN, 6, 0, out), NumberFit::NotANumber);
  EXPECT_EQ(format_number_value(INFINITY, 6, 0, out), NumberFit::NotANumber);
}

TEST(FieldCodec, DatesLogicalsAndMemoPointers) {
  DateTime d;
  EXPECT_TRUE(get_date("20240229", d));
  EXPECT_EQ(d.day, day_from_ymd(2024, 2, 29));
  for (const char* bad : {"20230229", "        ", "00000000", "2024-3-1", "20241301"})
    EXPECT_FALSE(get_date(bad, d)) << bad;
  char b[8];
  put_date(b, DateTime{day_from_ymd(987, 6, 5), 0});
  EXPECT_EQ(std::string(b, 8), "09870605");

  bool v;
  for (char c : std::string("TtYy")) EXPECT_TRUE(get_logical(c, v) && v) << c;
  for (char c : std::string("FfNn")) EXPECT_TRUE(get_logical(c, v) && !v) << c;
  for (char c : std::string(" ?x")) EXPECT_FALSE(get_logical(c, v)) << c;

  std::uint64_t blk;
  EXPECT_TRUE(get_memo_block("0000000587", 10, blk));
  EXPECT_EQ(blk, 587u);
  EXPECT_TRUE(get_memo_block("       587", 10, blk));
  EXPECT_EQ(blk, 587u);
  EXPECT_TRUE(get_memo_block("          ", 10, blk));
  EXPECT_EQ(blk, 0u);
  EXPECT_FALSE(get_memo_block("   5x7    ", 10, blk));
  EXPECT_FALSE(get_memo_block("  5  7    ", 10, blk));
  char p[10];
  put_memo_block(p, 10, 42, true);
  EXPECT_EQ(std::string(p, 10), "0000000042");
  put_memo_block(p, 10, 42, false);
  EXPECT_EQ(std::string(p, 10), "        42");
  put_memo_block(p, 10, 0, true);
  EXPECT_EQ(std::string(p, 10), "          ");
}

TEST(FieldCodec, VisualFoxProForms) {
  DateTime d;
  // Julian day 2440588 = 1970-01-01, plus 1.5 seconds.
  ASSERT_TRUE(get_vfp_datetime((test::le32(2440588) + test::le32(1500)).data(), d));
  EXPECT_EQ(d.day, day_from_ymd(1970, 1, 1));
  EXPECT_EQ(d.ms, 1500);
  EXPECT_FALSE(get_vfp_datetime(std::string(8, '\0').data(), d));
  EXPECT_EQ(get_le32(test::le32(0xFFFFFFFE).data()), -2);
}

}  // namespace
}  // namespace qm::tables::codec
