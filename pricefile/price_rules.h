// Cleaning and rounding of the price texts of supplier price lists, and the small text rule
// used on descriptions. Pure functions: they read no window or table state.
//
// Every number read or written here uses "." as the decimal point whatever the machine's
// regional settings; nothing in this file goes through the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::pricefile {

// A fixed-point amount: a count of ten-thousandths (four decimal places).
using Amount = std::int64_t;
inline constexpr Amount kAmountScale = 10000;

// How clean_price reads a cell for a destination field, decided by the field's name alone.
enum class PriceKind {
  None,           // no price at all: the cleaned text is empty
  Price,          // "COST_OF", "LISTPRICE", "PRO_NET", "SPCL_COST": the part after the first "="
  BreakQuantity,  // a name beginning with "LEV": the part before a "-" or up to a blank
  BreakPrice,     // "LEV" further in, as "COSTLEV3": the whole cell
};

PriceKind price_kind(std::string_view field);

// The text to store in a price, break quantity or break price field for the cell text value.
// Never raises for bad text: no digits give "0", a number that does not convert "0.00".
std::string clean_price(std::string_view value, std::string_view field);
std::string clean_price(std::string_view value, PriceKind kind);

// What the user may not expect of how clean_price reads a text, for the build report.
enum class PriceReading {
  AsWritten,     // nothing to say
  NoNumber,      // text without a number in it (or one that does not convert): stored as 0
  DecimalComma,  // "12,50", "7.911,66", "1.234.567": written with a decimal comma or a dot
                 // between thousands, which the rules do not read as such
  Negative,      // in parentheses: stored negative
};
PriceReading price_reading(std::string_view value, PriceKind kind);
// clean_price and price_reading of the same text, which then takes one pass in most cases.
std::string clean_price(std::string_view value, PriceKind kind, PriceReading& reading);

// Rounds value to decimals places (the program always passes 2): first to four places, half
// to even, then on the third decimal digit alone, half away from zero. Raises ConvertError
// for a value an amount cannot hold (not finite, or beyond about 9.2e14).
Amount roundnumber(int decimals, double value);

// Whole number, half away from zero: the whole part plus the whole part of twice the fraction.
long double roundup(long double value);

// text without any of the given characters.
std::string removecharacter(std::string_view text, std::string_view characters);

// Shortest text of an amount: no trailing zeros, no point for a whole amount ("12.5", "13",
// "-0.25"). Exact for every amount.
std::string amount_to_text(Amount amount);
// Decimal text (optional blanks before it, optional sign, digits with at most one ".") to an
// amount; places beyond the fourth are rounded half to even. False when the text is not such
// a number or the amount would overflow.
bool text_to_amount(std::string_view text, Amount& out);

}  // namespace qm::pricefile
