#include "core/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/error.h"

namespace qm {

// The high bits of all bytes together, a word at a time.
bool is_ascii(std::string_view s) {
  const char* p = s.data();
  std::size_t n = s.size(), i = 0;
  std::uint64_t any = 0;
  if (n >= 8) {
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      any |= w;
    }
    // The rest within the last word, read again in part.
    if (i < n) {
      std::uint64_t w;
      std::memcpy(&w, p + n - 8, 8);
      any |= w;
    }
    return (any & 0x8080808080808080ull) == 0;
  }
  // Short texts (units, quantities, prices) in at most three loads.
  if (n & 4) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    any |= w;
    i = 4;
  }
  if (n & 2) {
    std::uint16_t w;
    std::memcpy(&w, p + i, 2);
    any |= w;
    i += 2;
  }
  if (n & 1) any |= static_cast<unsigned char>(p[i]);
  return (any & 0x8080808080808080ull) == 0;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string trim_right(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(0, e));
}

std::string to_upper_ascii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string to_lower_ascii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool contains(std::string_view h, std::string_view n) {
  return h.find(n) != std::string_view::npos;
}
bool starts_with(std::string_view s, std::string_view p) {
  return s.substr(0, p.size()) == p;
}
bool ends_with(std::string_view s, std::string_view x) {
  return s.size() >= x.size() && s.substr(s.size() - x.size()) == x;
}

bool try_str_to_int(std::string_view s, long long& out) {
  std::string t = trim(s);
  std::string_view v = t;
  if (v.empty()) return false;
  bool neg = false;
  if (v[0] == '-' || v[0] == '+') {
    neg = v[0] == '-';
    v.remove_prefix(1);
  }
  int base = 10;
  if (!v.empty() && v[0] == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return false;
  unsigned long long mag = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), mag, base);
  if (ec != std::errc() || p != v.data() + v.size()) return false;
  if (mag > (neg ? 9223372036854775808ull : 9223372036854775807ull)) return false;
  out = neg ? static_cast<long long>(0 - mag) : static_cast<long long>(mag);
  return true;
}

long long str_to_int(std::string_view s) {
  long long v = 0;
  if (!try_str_to_int(s, v))
    throw ConvertError("'" + std::string(s) + "' is not a valid integer value");
  return v;
}

std::string format_general(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  // The shortest of the forms with up to 15 significant digits that reads back the same
  // as the 15-digit form. to_chars writes what printf's "%.*g" writes, without its format
  // parsing and locale; a text from_chars leaves (out of range) goes to strtod as before.
  auto write = [value](char* b, int prec) {
    return static_cast<std::size_t>(
        std::to_chars(b, b + 63, value, std::chars_format::general, prec).ptr - b);
  };
  auto read = [](char* b, std::size_t n) {
    double v = 0;
    auto r = std::from_chars(b, b + n, v);
    if (r.ec == std::errc() && r.ptr == b + n) return v;
    b[n] = '\0';
    return std::strtod(b, nullptr);
  };
  char buf[64];
  std::size_t len = write(buf, 15);
  const double ref = read(buf, len);
  // When the 15-digit form reads back as the value itself, no form shorter than the value's
  // shortest exact one (whose digits the scientific to_chars gives) can: the search starts there.
  int from = 1;
  if (ref == value) {
    char b1[64];
    const char* end = std::to_chars(b1, b1 + 63, value, std::chars_format::scientific).ptr;
    int digits = 0;
    for (const char* q = b1; q < end && *q != 'e'; ++q) digits += *q >= '0' && *q <= '9';
    from = digits > 0 ? digits : 1;
  }
  for (int prec = from; prec < 15; ++prec) {
    char b2[64];
    std::size_t n = write(b2, prec);
    if (read(b2, n) == ref) {
      std::memcpy(buf, b2, n);
      len = n;
      break;
    }
  }
  std::string s(buf, len);
  // Ordinary magnitudes are written without an exponent, like the runtime's general format.
  auto e = s.find('e');
  if (e != std::string::npos) {
    int exp = std::atoi(s.c_str() + e + 1);
    if (exp >= -5 && exp < 15) {
      std::string mant = s.substr(0, e);
      bool neg = !mant.empty() && mant[0] == '-';
      if (neg) mant.erase(0, 1);
      std::string digits;
      for (char c : mant)
        if (c != '.') digits += c;
      int point = 1 + exp;  // position of the decimal point within digits
      std::string r;
      if (point <= 0) {
        r = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
      } else if (point >= static_cast<int>(digits.size())) {
        r = digits + std::string(point - digits.size(), '0');
      } else {
        r = digits.substr(0, point) + "." + digits.substr(point);
      }
      s = (neg ? "-" : "") + r;
    } else {
      // "1.5e+20" -> "1.5E20" as the runtime writes it.
      std::string mant = s.substr(0, e);
      s = mant + "E" + (exp < 0 ? "-" : "") + std::to_string(std::abs(exp));
    }
  }
  return s;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace qm
