#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "core/error.h"
#include "pricefile/price_rules.h"

using namespace qm::pricefile;

TEST(CleanPrice, CellTextsAsSuppliersWriteThem) {
  struct Case {
    const char* value;
    const char* field;
    const char* want;
  } cases[] = {
      // Prices: only the number counts, rounded to cents on the third decimal.
      {"$1,234.567", "LISTPRICE", "1234.57"},
      {"12.5", "LISTPRICE", "12.5"},
      {"12.50", "LISTPRICE", "12.5"},
      {"12.995", "LISTPRICE", "13"},
      {"0.005", "LISTPRICE", "0.01"},
      {"12.3449", "LISTPRICE", "12.34"},
      {"12.345", "COST_OF_1", "12.35"},
      {"12.344", "PRO_NET", "12.34"},
      {"99.995", "SPCL_COST", "100"},
      {"0.995", "LISTPRICE", "1"},
      {"1.005", "LISTPRICE", "1.01"},  // 1.005 is below itself in binary; the digits decide
      {"2.675", "LISTPRICE", "2.68"},
      {"PRICE=12.345", "LISTPRICE", "12.35"},
      {"A=B=7.5", "LISTPRICE", "7.5"},
      {"N/A", "LISTPRICE", "0"},
      {"", "LISTPRICE", "0"},
      {"POA", "COST_OF_2", "0"},
      {"1.2.3", "LISTPRICE", "0.00"},
      {".", "LISTPRICE", "0.00"},
      {".5", "LISTPRICE", "0.5"},
      {"5.", "LISTPRICE", "5"},
      {"7", "LISTPRICE", "7"},
      {"007", "LISTPRICE", "007"},
      {"1,000", "LISTPRICE", "1000"},
      {"1.234,56", "LISTPRICE", "1.23"},  // comma decimals lose the comma, as the rule says
      {" 45.00 ", "LISTPRICE", "45"},
      {"12.50 USD", "LISTPRICE", "12.5"},
      {"(12.345)", "LISTPRICE", "-12.35"},
      {"(12.995)", "LISTPRICE", "-13"},
      {"(0.005)", "LISTPRICE", "-0.01"},
      {"(0.095)", "LISTPRICE", "-0.1"},
      {"(7)", "LISTPRICE", "-7"},
      {"(N/A)", "LISTPRICE", "0"},
      {"(12.5", "LISTPRICE", "12.5"},
      {"-12.50", "LISTPRICE", "12.5"},
      {"12.00004", "LISTPRICE", "12"},
      {"12.00005", "LISTPRICE", "12"},  // half to even at four places: 12.0000
      {"12.00015", "LISTPRICE", "12"},  // the fourth place never reaches the cents
      {"0.00049999", "LISTPRICE", "0"},
      {"999999999.995", "LISTPRICE", "1000000000"},
      {"007.50", "LISTPRICE", "7.5"},
      {"(12.50)", "LISTPRICE", "-12.5"},
      {"(0.00)", "LISTPRICE", "0"},
      {"1234567890.5", "LISTPRICE", "1234567890.5"},  // ten whole digits: through a double
      // Break quantities: the part before a "-" or up to a blank.
      {"100-249", "LEV1", "100"},
      {"250 +", "LEV2", "250"},
      {"1000+", "LEV3", "1000"},
      {"-5", "LEV4", "5"},
      {"5.5-10", "LEV5", "5.5"},
      {"100 pcs", "LEV6", "100"},
      {"100", "LEV1", "100"},
      {"1-99", "LEV1", "1"},
      {"500+", "LEV1", "500"},
      {"", "LEV1", "0"},
      {" 50", "LEV1", "50"},  // the part up to the blank holds no digit: the whole cell
      {"ab-5", "LEV1", "5"},
      {"1.2345-2", "LEV1", "1.23"},
      // Break prices: the whole cell.
      {"$10.00", "COSTLEV1", "10"},
      {"10-20", "COSTLEV2", "1020"},
      {"PRICE=5", "COSTLEV3", "5"},
      {"(3.333)", "COSTLEV4", "-3.33"},
      // Other names give nothing at all.
      {"12.5", "DESCRIPTN", ""},
      {"12.5", "OQTY", ""},
      {"12.5", "COST_OF", "12.5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(clean_price(c.value, c.field), c.want) << c.value << " for " << c.field;
}

TEST(CleanPrice, FieldNameChoosesTheSourceText) {
  EXPECT_EQ(price_kind("LISTPRICE"), PriceKind::Price);
  EXPECT_EQ(price_kind("XCOST_OF_3"), PriceKind::Price);
  EXPECT_EQ(price_kind("LEV1"), PriceKind::BreakQuantity);
  EXPECT_EQ(price_kind("COSTLEV1"), PriceKind::BreakPrice);
  EXPECT_EQ(price_kind("lev1"), PriceKind::None);  // names are compared case-sensitively
  EXPECT_EQ(price_kind("PARTNUMBER"), PriceKind::None);
  // A price name wins over "LEV" at the front: the "=" rule applies, not the "-" rule.
  EXPECT_EQ(clean_price("10-20", "LEVLISTPRICE"), "1020");
}

TEST(CleanPrice, NumbersThatNoAmountHoldsFallBack) {
  EXPECT_EQ(clean_price("99999999999999999999.5", "LISTPRICE"), "0.00");
  EXPECT_EQ(clean_price(std::string(400, '9') + ".5", "LISTPRICE"), "0.00");
  // Whole numbers are never converted, so any length passes through.
  EXPECT_EQ(clean_price(std::string(30, '9'), "LISTPRICE"), std::string(30, '9'));
  // Large but holdable amounts keep every cent (no 15-digit cut).
  EXPECT_EQ(clean_price("123456789012.345", "LISTPRICE"), "123456789012.35");
}

TEST(RoundNumber, TwoPlacesDecidedOnTheThirdDigit) {
  struct Case {
    double v;
    Amount want;
  } cases[] = {
      {12.345, 123500},   {12.344, 123400},
      {12.3449, 123400},  {12.995, 130000},
      {-12.995, -130000}, {-12.345, -123500},
      {0.005, 100},       {-0.005, -100},
      {0.0049, 0},  // 0.0049 -> third digit 4
      {12.5, 125000},     {0, 0},
      {-0.0, 0},          {1e9, 10000000000000},
      {0.00005, 0},       {0.00015, 0},
      {0.095, 1000},      {-0.095, -1000},
      {19.999, 200000},   {9.9951, 100000},
  };
  for (const auto& c : cases) EXPECT_EQ(roundnumber(2, c.v), c.want) << c.v;
}

TEST(RoundNumber, OtherPlaceCountsAndOverflow) {
  EXPECT_EQ(roundnumber(0, 12.5), 120000);  // the format rounds half to even
  EXPECT_EQ(roundnumber(0, 13.5), 140000);
  EXPECT_EQ(roundnumber(0, 12.6), 130000);
  EXPECT_EQ(roundnumber(4, 1.23456), 12346);
  EXPECT_THROW(roundnumber(2, 1e15), qm::ConvertError);
  EXPECT_THROW(roundnumber(2, std::numeric_limits<double>::infinity()), qm::ConvertError);
  EXPECT_THROW(roundnumber(2, std::nan("")), qm::ConvertError);
  EXPECT_EQ(roundnumber(2, 9.1e14), 9100000000000000000);
}

// The net effect as a second, independent statement of the rule: round to four places half
// to even from the value's exact decimal expansion, then to two on the third digit.
TEST(RoundNumber, AgreesWithTheNetRuleOverManyPrices) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<long long> cents(-10000000, 10000000);
  std::uniform_int_distribution<int> extra(0, 99);
  for (int i = 0; i < 20000; ++i) {
    long long thousandths = cents(rng) * 10 + extra(rng) % 10;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", thousandths / 1000,
                  std::llabs(thousandths % 1000));
    std::string text = buf;
    if (thousandths < 0 && thousandths > -1000) text = "-" + text;
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    long long mag = std::llabs(thousandths);
    long long expect = (mag / 10 + (mag % 10 >= 5 ? 1 : 0)) * 100;
    if (thousandths < 0) expect = -expect;
    ASSERT_EQ(roundnumber(2, v), expect) << text;
  }
}

TEST(RoundUp, HalfAwayFromZero) {
  struct Case {
    long double v, want;
  } cases[] = {{4.5L, 5},  {4.49L, 4}, {-4.5L, -5}, {9.5L, 10},   {-0.5L, -1},
               {0.49L, 0}, {0, 0},     {9.4L, 9},   {-4.49L, -4}, {123456.5L, 123457}};
  for (const auto& c : cases) EXPECT_EQ(roundup(c.v), c.want) << static_cast<double>(c.v);
}

TEST(RemoveCharacter, DropsEveryGivenCharacter) {
  EXPECT_EQ(removecharacter("A|B||C", "|"), "ABC");
  EXPECT_EQ(removecharacter("ABC", "|"), "ABC");
  EXPECT_EQ(removecharacter("|", "|"), "");
  EXPECT_EQ(removecharacter("", "|"), "");
  EXPECT_EQ(removecharacter("Cat 5|e", ""), "Cat 5|e");
  // A set whose characters never stand together in the text still removes each of them.
  EXPECT_EQ(removecharacter("A-B|C", "|-"), "ABC");
}

TEST(AmountText, ShortestAndExact) {
  struct Case {
    Amount a;
    const char* text;
  } cases[] = {{125000, "12.5"},
               {130000, "13"},
               {-2500, "-0.25"},
               {0, "0"},
               {1, "0.0001"},
               {-1, "-0.0001"},
               {100, "0.01"},
               {1234567, "123.4567"},
               {std::numeric_limits<Amount>::max(), "922337203685477.5807"},
               {std::numeric_limits<Amount>::min(), "-922337203685477.5808"}};
  for (const auto& c : cases) {
    EXPECT_EQ(amount_to_text(c.a), c.text);
    Amount back = 0;
    EXPECT_TRUE(text_to_amount(c.text, back)) << c.text;
    EXPECT_EQ(back, c.a) << c.text;
  }
}

TEST(AmountText, ReadsPaddedFormattedText) {
  struct Case {
    const char* text;
    bool ok;
    Amount a;
  } cases[] = {{"       12.50", true, 125000},
               {"-0.01", true, -100},
               {"+3", true, 30000},
               {"1.00005", true, 10000},
               {"1.00015", true, 10002},
               {"1.000051", true, 10001},
               {"5.", true, 50000},
               {".5", true, 5000},
               {"", false, 0},
               {".", false, 0},
               {"1.2.3", false, 0},
               {"12 ", false, 0},
               {"1e5", false, 0},
               {"922337203685478", false, 0},
               {"922337203685477.5808", false, 0}};
  for (const auto& c : cases) {
    Amount a = -7;
    EXPECT_EQ(text_to_amount(c.text, a), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(a, c.a) << c.text;
    }
  }
}

// Values that have at most two places after four-place rounding go through the two-place
// format and back; the result must be what that format gives, near and far from whole cents.
TEST(RoundNumber, TwoPlaceValuesMatchTheFormatRoundTrip) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> mag(0, 1);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    double scale = std::pow(10.0, static_cast<int>(rng() % 14));  // up to 1e13
    double v = std::round(mag(rng) * scale * 100) / 100;
    v += (static_cast<int>(rng() % 11) - 5) * 1e-6 * (rng() % 2 ? 1 : 0);
    if (rng() % 2) v = -v;
    double scaled = v * 10000;
    if (std::fabs(std::fmod(std::nearbyint(scaled), 100.0)) != 0) continue;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%12.2f", v);
    Amount want = 0;
    ASSERT_TRUE(text_to_amount(buf, want)) << buf;
    ASSERT_EQ(roundnumber(2, v), want) << buf << " from " << v;
    ++checked;
  }
  EXPECT_GT(checked, 100000);
}
