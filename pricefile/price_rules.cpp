#include "pricefile/price_rules.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "core/error.h"

namespace qm::pricefile {

namespace {

bool has(std::string_view s, std::string_view part) {
  return s.find(part) != s.npos;
}

// value times the scale, rounded half to even, as the runtime converts to its currency type.
Amount half_even(double scaled) {
  double whole = std::floor(scaled);
  double diff = scaled - whole;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  return static_cast<Amount>(whole);
}

// Ten-thousandths rounded to whole cents as the two-place rounding does.
Amount two_places(Amount four);
bool exact_four_places(std::string_view number, Amount& four);

[[noreturn]] void invalid_value() {
  throw ConvertError("Invalid floating point operation");
}

// The value written with a fixed number of places (as "%12.<n>f" does; the padding to 12
// columns is blanks, which the read back skips anyway) and read back as an amount.
Amount fixed_round_trip(double value, int places) {
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, places);
  Amount a = 0;
  if (res.ec != std::errc() || !text_to_amount(std::string_view(buf, res.ptr - buf), a))
    invalid_value();
  return a;
}

std::string_view source_text(std::string_view value, PriceKind kind) {
  switch (kind) {
    case PriceKind::Price: {
      auto eq = value.find('=');
      return eq == value.npos ? value : value.substr(eq + 1);
    }
    case PriceKind::BreakQuantity: {
      std::string_view part;
      auto dash = value.find('-');
      if (dash != value.npos) {
        part = value.substr(0, dash);
      } else {
        auto blank = value.find(' ');
        if (blank != value.npos) part = value.substr(0, blank + 1);
      }
      // A part without a digit (empty for '-5', a lone blank for ' 50') holds no quantity:
      // the whole cell is read instead of storing 0.
      return part.find_first_of("0123456789") == part.npos ? value : part;
    }
    case PriceKind::BreakPrice:
    case PriceKind::None:
      break;
  }
  return value;
}

}  // namespace

PriceKind price_kind(std::string_view field) {
  if (has(field, "COST_OF") || has(field, "LISTPRICE") || has(field, "PRO_NET") ||
      has(field, "SPCL_COST"))
    return PriceKind::Price;
  auto lev = field.find("LEV");
  if (lev == 0) return PriceKind::BreakQuantity;
  if (lev != field.npos) return PriceKind::BreakPrice;
  return PriceKind::None;
}

std::string clean_price(std::string_view value, std::string_view field) {
  return clean_price(value, price_kind(field));
}

namespace {

// clean_price, and when reading is given, price_reading too: a text of nothing but digits
// and at most one point, the most common by far, reads as written, which the cleaning's own
// pass tells; any other is read again by price_reading.
std::string clean_and_read(std::string_view value, PriceKind kind, PriceReading* reading) {
  if (kind == PriceKind::None) {
    if (reading) *reading = PriceReading::AsWritten;
    return {};
  }
  std::string_view src = source_text(value, kind);

  // The digits and points kept, after a "-" for a price in parentheses; a price's text is
  // short, so they are gathered on the stack.
  char small[64];
  std::string large;
  char* out = small;
  if (src.size() + 1 > sizeof small) {
    large.resize(src.size() + 1);
    out = large.data();
  }
  std::size_t n = 0;
  if (!src.empty() && src.front() == '(' && src.back() == ')' && src.size() > 1) out[n++] = '-';
  bool digit = false, other = false;
  int points = 0;
  for (char c : src) {
    if (c >= '0' && c <= '9') {
      out[n++] = c;
      digit = true;
    } else if (c == '.') {
      out[n++] = c;
      ++points;
    } else {
      other = true;
    }
  }
  if (reading)
    *reading = !other && points <= 1 && (digit || src.empty()) ? PriceReading::AsWritten
                                                               : price_reading(value, kind);
  const bool point = points > 0;
  const std::string_view number(out, n);
  // No number at all reads as "0.00", which the rounding below turns into "0" (also "-0.00").
  if (!digit && !point) return "0";
  // Whole numbers are stored as they stand: '007' stays '007'.
  if (!point) return std::string(number);

  // At most nine whole digits and two places, as most prices are: the rounding leaves the
  // amount as it is, so its text is made from the digits themselves, as amount_to_text
  // writes it (no leading zeros, no trailing zeros in the places, no sign on zero).
  if (digit && points == 1) {
    std::size_t i = out[0] == '-' ? 1 : 0;
    const bool neg = i == 1;
    while (out[i] == '0') ++i;
    const std::size_t wholeBegin = i;
    while (out[i] != '.') ++i;
    const std::size_t wholeEnd = i, placesBegin = i + 1;
    std::size_t placesEnd = n;
    if (wholeEnd - wholeBegin <= 9 && placesEnd - placesBegin <= 2) {
      while (placesEnd > placesBegin && out[placesEnd - 1] == '0') --placesEnd;
      if (wholeEnd == wholeBegin && placesEnd == placesBegin) return "0";
      char text[16];
      char* p = text;
      if (neg) *p++ = '-';
      if (wholeEnd == wholeBegin) *p++ = '0';
      for (std::size_t k = wholeBegin; k < wholeEnd; ++k) *p++ = out[k];
      if (placesEnd > placesBegin) {
        *p++ = '.';
        for (std::size_t k = placesBegin; k < placesEnd; ++k) *p++ = out[k];
      }
      return std::string(text, p);
    }
  }

  Amount four = 0;
  if (exact_four_places(number, four)) return amount_to_text(two_places(four));

  double v = 0;
  auto res = std::from_chars(number.data(), number.data() + number.size(), v);
  if (res.ec != std::errc() || res.ptr != number.data() + number.size()) return "0.00";
  try {
    return amount_to_text(roundnumber(2, v));
  } catch (const ConvertError&) {
    return "0.00";
  }
}

}  // namespace

std::string clean_price(std::string_view value, PriceKind kind) {
  return clean_and_read(value, kind, nullptr);
}

std::string clean_price(std::string_view value, PriceKind kind, PriceReading& reading) {
  return clean_and_read(value, kind, &reading);
}

PriceReading price_reading(std::string_view value, PriceKind kind) {
  if (kind == PriceKind::None) return PriceReading::AsWritten;
  std::string_view src = source_text(value, kind);
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  bool anyDigit = false, dotSeen = false, dotThenComma = false;
  int dots = 0;
  bool groupsOfThree = true;  // every "." followed by exactly three digits
  std::size_t lastComma = src.npos;
  for (std::size_t i = 0; i < src.size(); ++i) {
    char c = src[i];
    if (digit(c)) {
      anyDigit = true;
    } else if (c == '.') {
      ++dots;
      dotSeen = true;
      std::size_t n = 0;
      while (i + 1 + n < src.size() && digit(src[i + 1 + n])) ++n;
      if (n != 3) groupsOfThree = false;
    } else if (c == ',') {
      if (dotSeen && i > 0 && digit(src[i - 1])) dotThenComma = true;
      lastComma = i;
    }
  }
  if (!anyDigit) {
    // Blank cells are prices nobody gave; only a text that says something is worth a note.
    return src.find_first_not_of(" \t") == src.npos ? PriceReading::AsWritten
                                                    : PriceReading::NoNumber;
  }
  if (dotThenComma || (dots >= 2 && groupsOfThree)) return PriceReading::DecimalComma;
  if (lastComma != src.npos && lastComma > 0 && digit(src[lastComma - 1]) &&
      src.find('.', lastComma) == src.npos) {
    std::size_t n = 0;
    while (lastComma + 1 + n < src.size() && digit(src[lastComma + 1 + n])) ++n;
    if (n == 1 || n == 2) return PriceReading::DecimalComma;
  }
  if (dots >= 2) return PriceReading::NoNumber;  // "1.2.3": no number converts
  if (src.size() > 1 && src.front() == '(' && src.back() == ')') return PriceReading::Negative;
  return PriceReading::AsWritten;
}

Amount roundnumber(int decimals, double value) {
  if (!std::isfinite(value)) invalid_value();
  double scaled = value * static_cast<double>(kAmountScale);
  // Beyond this an amount overflows; the runtime raises there as well.
  if (!(std::fabs(scaled) < 9.2e18)) invalid_value();
  if (decimals != 2) return fixed_round_trip(value, decimals < 0 ? 0 : decimals > 4 ? 4 : decimals);

  Amount four = half_even(scaled);
  if (four % 100 == 0) {
    // At most two places already. The value then lies within half a ten-thousandth of
    // four, so the two-place format rounds it to four itself; below 1e9 the double holds
    // that margin many times over and the formatting can be skipped.
    if (std::fabs(value) < 1e9) return four;
    return fixed_round_trip(value, 2);
  }
  return two_places(four);
}

namespace {

Amount two_places(Amount four) {
  if (four % 100 == 0) return four;
  // Three or four places: keep the first decimal digit (H), decide the second (D) on the
  // third (E) alone. A carry out of D (9 and E >= 5) moves H on by 0.1 away from zero, which
  // is the same sum with 10 in place of D.
  std::uint64_t mag = four < 0 ? 0 - static_cast<std::uint64_t>(four) : four;
  std::uint64_t h = mag / 1000;  // whole tenths
  int d = static_cast<int>(mag / 100 % 10);
  int e = static_cast<int>(mag / 10 % 10);
  // roundup(D.E): D, and one more for an E of 5 or above (D.5 is exact, so nothing lies on
  // the edge), without going through a floating point value.
  const auto r = static_cast<std::uint64_t>(d + (e >= 5 ? 1 : 0));
  auto result = static_cast<Amount>(h * 1000 + r * 100);
  // Whole cents read back unchanged through the two-place format, so no round trip is needed.
  return four < 0 ? -result : result;
}

// A cleaned number ("-" first at most, digits, one point) with at most nine whole digits and
// four places, read as ten-thousandths without going through a double: what roundnumber's
// half_even makes of it, since the double's error times the scale stays far below half a
// ten-thousandth there. Anything else is left to the conversion.
bool exact_four_places(std::string_view number, Amount& four) {
  std::size_t i = 0;
  bool neg = !number.empty() && number[0] == '-';
  if (neg) ++i;
  while (i < number.size() && number[i] == '0') ++i;
  std::uint64_t mag = 0;
  int whole = 0, places = 0;
  bool digit = i > (neg ? 1u : 0u);
  for (; i < number.size() && number[i] != '.'; ++i, ++whole) {
    mag = mag * 10 + static_cast<unsigned>(number[i] - '0');
    digit = true;
  }
  if (i == number.size() || whole > 9) return false;
  for (++i; i < number.size(); ++i, ++places) {
    if (number[i] == '.' || places == 4) return false;
    mag = mag * 10 + static_cast<unsigned>(number[i] - '0');
    digit = true;
  }
  if (!digit) return false;
  for (; places < 4; ++places) mag *= 10;
  four = neg ? -static_cast<Amount>(mag) : static_cast<Amount>(mag);
  return true;
}

}  // namespace

long double roundup(long double value) {
  long double whole = std::trunc(value);
  return whole + std::trunc((value - whole) * 2);
}

std::string removecharacter(std::string_view text, std::string_view characters) {
  if (characters.empty() || text.find_first_of(characters) == text.npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (characters.find(c) == characters.npos) out.push_back(c);
  return out;
}

std::string amount_to_text(Amount amount) {
  std::uint64_t mag = amount < 0 ? 0 - static_cast<std::uint64_t>(amount) : amount;
  char buf[32];
  char* p = buf;
  if (amount < 0) *p++ = '-';
  p = std::to_chars(p, buf + sizeof buf, mag / kAmountScale).ptr;
  auto frac = static_cast<unsigned>(mag % kAmountScale);
  if (frac != 0) {
    *p++ = '.';
    // The four places in two pairs, then as many as the last that is not 0 needs.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    const unsigned hi = frac / 100, lo = frac % 100;
    std::memcpy(p, kPairs + 2 * hi, 2);
    std::memcpy(p + 2, kPairs + 2 * lo, 2);
    p += lo ? (p[3] != '0' ? 4 : 3) : (p[1] != '0' ? 2 : 1);
  }
  return std::string(buf, p);
}

bool text_to_amount(std::string_view text, Amount& out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  constexpr std::uint64_t limit = std::numeric_limits<std::int64_t>::max();
  std::uint64_t whole = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
    if (whole > limit / kAmountScale) return false;
    digits = true;
  }
  std::uint64_t frac = 0;
  int places = 0;
  int rest = 0;  // 0: nothing beyond the fourth place, 1: below half, 2: half, 3: above half
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      int dgt = text[i] - '0';
      digits = true;
      if (places < 4) {
        frac = frac * 10 + static_cast<unsigned>(dgt);
        ++places;
      } else if (places == 4) {
        rest = dgt > 5 ? 3 : dgt == 5 ? 2 : dgt > 0 ? 1 : 0;
        ++places;
      } else if (dgt != 0 && rest == 2) {
        rest = 3;
      } else if (dgt != 0 && rest == 0) {
        rest = 1;
      }
    }
  }
  if (!digits || i != text.size()) return false;
  for (; places < 4; ++places) frac *= 10;
  std::uint64_t mag = whole * kAmountScale + frac;
  if (rest == 3 || (rest == 2 && (mag & 1))) ++mag;
  if (mag > limit + (neg ? 1 : 0)) return false;
  out = neg ? static_cast<Amount>(0 - mag) : static_cast<Amount>(mag);
  return true;
}

}  // namespace qm::pricefile
