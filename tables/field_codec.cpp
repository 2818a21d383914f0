#include "tables/field_codec.h"

#include "core/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace qm::tables::codec {
namespace {

void put_be64(char* p, std::uint64_t u) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<char>(u & 0xFF);
    u >>= 8;
  }
}

std::uint64_t get_be64(const char* p) {
  std::uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return u;
}

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kLastDay = 3652059;  // 9999-12-31

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\0'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\0' ||
                        s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// A number's field is a few bytes wide: its blanks, digits and zeros are put with word and
// part-word moves rather than a library call each.
void fill_bytes(char* p, std::size_t n, char c) {
  const std::uint64_t w = 0x0101010101010101ull * static_cast<unsigned char>(c);
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) std::memcpy(p + i, &w, 8);
    std::memcpy(p + n - 8, &w, 8);
    return;
  }
  if (n & 4) {
    std::memcpy(p, &w, 4);
    p += 4;
  }
  if (n & 2) {
    std::memcpy(p, &w, 2);
    p += 2;
  }
  if (n & 1) *p = c;
}

char* copy_bytes(char* out, std::string_view s) {
  copy_noting_ascii(out, s);
  return out + s.size();
}

NumberFit place(const char* s, int len, int width, char* out) {
  if (len > width) return NumberFit::TooWide;
  fill_bytes(out, static_cast<size_t>(width - len), ' ');
  copy_bytes(out + (width - len), std::string_view(s, static_cast<size_t>(len)));
  return NumberFit::Ok;
}

}  // namespace

void put_long7(char* p, std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
  p[0] = static_cast<char>(u >> 24);
  p[1] = static_cast<char>(u >> 16);
  p[2] = static_cast<char>(u >> 8);
  p[3] = static_cast<char>(u);
}

std::int32_t get_long7(const char* p) {
  std::uint32_t u = (std::uint32_t(static_cast<unsigned char>(p[0])) << 24) |
                    (std::uint32_t(static_cast<unsigned char>(p[1])) << 16) |
                    (std::uint32_t(static_cast<unsigned char>(p[2])) << 8) |
                    std::uint32_t(static_cast<unsigned char>(p[3]));
  return static_cast<std::int32_t>(u ^ 0x80000000u);
}

void put_double7(char* p, double v) {
  if (v == 0) v = 0.0;  // no negative zero
  std::uint64_t u;
  std::memcpy(&u, &v, 8);
  u = (u >> 63) ? ~u : (u | (1ull << 63));
  put_be64(p, u);
}

double get_double7(const char* p) {
  std::uint64_t u = get_be64(p);
  u = (u >> 63) ? (u & ~(1ull << 63)) : ~u;
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

void put_timestamp7(char* p, const DateTime& v) {
  double ms = static_cast<double>(v.day * kMsPerDay + v.ms);
  std::uint64_t u;
  std::memcpy(&u, &ms, 8);
  put_be64(p, u);
}

bool get_timestamp7(const char* p, DateTime& out) {
  std::uint64_t u = get_be64(p);
  double ms;
  std::memcpy(&ms, &u, 8);
  if (!std::isfinite(ms) || ms < kMsPerDay || ms >= double(kLastDay + 1) * kMsPerDay) return false;
  auto total = static_cast<std::int64_t>(std::llround(ms));
  out.day = total / kMsPerDay;
  out.ms = static_cast<std::int32_t>(total % kMsPerDay);
  return true;
}

bool all_zero(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

bool all_blank(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != ' ' && p[i] != 0) return false;
  return true;
}

// Wide fields hold mostly blanks, so those go eight at a time.
std::size_t text_end(const char* p, std::size_t e) {
  constexpr std::uint64_t kBlanks = 0x2020202020202020ull;
  const std::size_t n = e;
  std::uint64_t w;
  while (e >= 8) {
    std::memcpy(&w, p + e - 8, 8);
    if (w != kBlanks) break;
    e -= 8;
  }
  // Fewer than eight bytes left before the blank words: the first word overlaps those, so
  // when it is blank too, so is the whole field (as that of a fresh record, or an unused price).
  if (e < 8 && n >= 8) {
    std::memcpy(&w, p, 8);
    if (w == kBlanks) return 0;
  }
  while (e > 0 && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  return e;
}

std::int32_t get_le32(const char* p) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<std::int32_t>(u);
}

std::int64_t get_le64(const char* p) {
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<std::int64_t>(u);
}

double get_le_double(const char* p) {
  std::uint64_t u = static_cast<std::uint64_t>(get_le64(p));
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

bool get_vfp_datetime(const char* p, DateTime& out) {
  std::int64_t jd = static_cast<std::uint32_t>(get_le32(p));
  std::int64_t ms = static_cast<std::uint32_t>(get_le32(p + 4));
  // Julian day 2440588 is 1970-01-01, our day 719163.
  std::int64_t day = jd - 1721425;
  if (jd == 0 || day < 1 || day > kLastDay || ms >= kMsPerDay) return false;
  out.day = day;
  out.ms = static_cast<std::int32_t>(ms);
  return true;
}

NumberFit format_number_value(double v, int width, int decimals, char* out) {
  if (!std::isfinite(v)) return NumberFit::NotANumber;
  if (std::fabs(v) >= 1e21) return NumberFit::TooWide;  // no N field is that wide
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return NumberFit::TooWide;
  const char* s = buf;
  int len = static_cast<int>(r.ptr - buf);
  if (s[0] == '-') {
    bool zero = true;
    for (int i = 1; i < len; ++i)
      if (s[i] != '0' && s[i] != '.') zero = false;
    if (zero) ++s, --len;  // "-0.00" is written "0.00"
  }
  return place(s, len, width, out);
}

NumberFit format_number_text(std::string_view text, int width, int decimals, char* out) {
  std::string_view t = trim_blanks(text);
  if (t.empty()) return NumberFit::Blank;
  size_t i = 0;
  bool neg = false;
  if (t[i] == '+' || t[i] == '-') neg = t[i++] == '-';
  size_t intBegin = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::string_view intDigits = t.substr(intBegin, i - intBegin);
  std::string_view fracDigits;
  if (i < t.size() && t[i] == '.') {
    size_t fb = ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    fracDigits = t.substr(fb, i - fb);
  }
  if (intDigits.empty() && fracDigits.empty()) return NumberFit::NotANumber;
  if (i < t.size()) {
    if (t[i] != 'e' && t[i] != 'E') return NumberFit::NotANumber;
    // Exponent forms are rare; let the double conversion handle them.
    std::string_view rest = t.substr(i + 1);
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) rest.remove_prefix(1);
    if (rest.empty()) return NumberFit::NotANumber;
    for (char c : rest)
      if (c < '0' || c > '9') return NumberFit::NotANumber;
    std::string_view num = t[0] == '+' ? t.substr(1) : t;
    double v;
    auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec != std::errc() || r.ptr != num.data() + num.size()) return NumberFit::NotANumber;
    return format_number_value(v, width, decimals, out);
  }
  while (intDigits.size() > 1 && intDigits[0] == '0') intDigits.remove_prefix(1);
  if (intDigits.size() == 1 && intDigits[0] == '0') intDigits = {};
  if (intDigits.size() + static_cast<size_t>(decimals) + 3 > 300) return NumberFit::TooWide;

  if (fracDigits.size() <= static_cast<size_t>(decimals) && decimals >= 0) {
    // Nothing to round, as with most texts: written straight into the field.
    bool zero = intDigits.empty();
    for (char c : fracDigits)
      if (c != '0') zero = false;
    const int whole = intDigits.empty() ? 1 : static_cast<int>(intDigits.size());
    const int len = (neg && !zero ? 1 : 0) + whole + (decimals > 0 ? 1 + decimals : 0);
    if (len > width) return NumberFit::TooWide;
    char* p = out + (width - len);
    fill_bytes(out, static_cast<size_t>(width - len), ' ');
    if (neg && !zero) *p++ = '-';
    if (intDigits.empty())
      *p++ = '0';
    else
      p = copy_bytes(p, intDigits);
    if (decimals > 0) {
      *p++ = '.';
      p = copy_bytes(p, fracDigits);
      fill_bytes(p, static_cast<size_t>(decimals) - fracDigits.size(), '0');
    }
    return NumberFit::Ok;
  }

  // Digits of the result without the point: the whole part, then exactly `decimals` digits.
  char digits[320];
  int n = 1;
  digits[0] = '0';  // room for a carry
  for (char c : intDigits) digits[n++] = c;
  for (int k = 0; k < decimals; ++k)
    digits[n++] = k < static_cast<int>(fracDigits.size()) ? fracDigits[k] : '0';
  if (static_cast<int>(fracDigits.size()) > decimals && fracDigits[decimals] >= '5') {
    int k = n - 1;
    while (digits[k] == '9') digits[k--] = '0';
    ++digits[k];
  }
  int start = 0;
  int wholeLen = n - decimals;  // includes the carry slot
  while (start < wholeLen - 1 && digits[start] == '0') ++start;
  bool zero = true;
  for (int k = start; k < n; ++k)
    if (digits[k] != '0') zero = false;

  char buf[330];
  int len = 0;
  if (neg && !zero) buf[len++] = '-';
  for (int k = start; k < wholeLen; ++k) buf[len++] = digits[k];
  if (decimals > 0) {
    buf[len++] = '.';
    for (int k = wholeLen; k < n; ++k) buf[len++] = digits[k];
  }
  return place(buf, len, width, out);
}

bool parse_number(std::string_view text, double& out) {
  std::string_view t = trim_blanks(text);
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(out);
}

bool get_date(const char* p, DateTime& out) {
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v[i] = p[i] - '0';
  }
  int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5];
  int d = v[6] * 10 + v[7];
  if (y == 0 || !valid_ymd(y, m, d)) return false;
  out.day = day_from_ymd(y, m, d);
  out.ms = 0;
  return true;
}

void put_date(char* p, const DateTime& v) {
  Ymd d = ymd_from_day(v.day);
  int y = d.year;
  for (int i = 3; i >= 0; --i) {
    p[i] = static_cast<char>('0' + y % 10);
    y /= 10;
  }
  p[4] = static_cast<char>('0' + d.month / 10);
  p[5] = static_cast<char>('0' + d.month % 10);
  p[6] = static_cast<char>('0' + d.day / 10);
  p[7] = static_cast<char>('0' + d.day % 10);
}

bool get_logical(char c, bool& out) {
  switch (c) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      out = true;
      return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      out = false;
      return true;
    default:
      return false;
  }
}

bool get_memo_block(const char* p, int n, std::uint64_t& block) {
  block = 0;
  bool any = false;
  for (int i = 0; i < n; ++i) {
    char c = p[i];
    if (c == ' ' || c == 0) {
      if (any) {
        // blanks after digits: only blanks may follow
        for (int k = i; k < n; ++k)
          if (p[k] != ' ' && p[k] != 0) return false;
        break;
      }
      continue;
    }
    if (c < '0' || c > '9') return false;
    any = true;
    if (block > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return false;
    block = block * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

void put_memo_block(char* p, int n, std::uint64_t block, bool zeroPadded) {
  if (block == 0) {
    std::memset(p, ' ', static_cast<size_t>(n));
    return;
  }
  for (int i = n - 1; i >= 0; --i) {
    if (block == 0 && !zeroPadded) {
      p[i] = ' ';
    } else {
      p[i] = static_cast<char>('0' + block % 10);
      block /= 10;
    }
  }
}

}  // namespace qm::tables::codec
