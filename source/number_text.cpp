#include "source/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "core/text.h"

namespace qm::source {

std::string number_text(double value) {
  if (!std::isfinite(value) || value == 0) return format_general(value);
  // Shortest digits that read back as the value, in the form d.ddde±x.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (r.ec != std::errc()) return format_general(value);
  const char* p = buf;
  bool neg = *p == '-';
  if (neg) ++p;
  const char* e =
      static_cast<const char*>(std::memchr(p, 'e', static_cast<std::size_t>(r.ptr - p)));
  if (!e) return format_general(value);
  char digits[24];
  int k = 0;
  for (const char* q = p; q < e; ++q) {
    if (*q == '.') continue;
    if (k == 20) return format_general(value);
    digits[k++] = *q;
  }
  // to_chars writes no terminating NUL: the exponent ends where its output ends.
  const char* x = e + 1;
  if (x < r.ptr && *x == '+') ++x;
  int exp = 0;
  if (std::from_chars(x, r.ptr, exp).ptr != r.ptr) return format_general(value);
  // With more than 15 digits the general format rounds to 15 first; far exponents are written
  // with an E. Both are left to it.
  if (k > 15 || exp < -5 || exp >= 15) return format_general(value);
  std::string s;
  s.reserve(static_cast<std::size_t>(k) + 8);
  if (neg) s.push_back('-');
  int point = 1 + exp;  // digits before the decimal point
  if (point <= 0) {
    s += "0.";
    s.append(static_cast<std::size_t>(-point), '0');
    s.append(digits, static_cast<std::size_t>(k));
  } else if (point >= k) {
    s.append(digits, static_cast<std::size_t>(k));
    s.append(static_cast<std::size_t>(point - k), '0');
  } else {
    s.append(digits, static_cast<std::size_t>(point));
    s.push_back('.');
    s.append(digits + point, static_cast<std::size_t>(k - point));
  }
  return s;
}

}  // namespace qm::source
