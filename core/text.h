// Small text helpers with the semantics the program's rules are written in.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qm {

// Removes leading and trailing blanks and control characters (everything up to ' ').
std::string trim(std::string_view s);
std::string trim_right(std::string_view s);
std::string to_upper_ascii(std::string_view s);
std::string to_lower_ascii(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
// No byte at or above 0x80. Most texts are plain ASCII and skip their conversion on this.
bool is_ascii(std::string_view s);
// Where the run of ASCII bytes from s[from] ends (s.size() when it reaches the end), a word at
// a time: where a text's conversion or check has work to do.
inline std::size_t ascii_run_end(std::string_view s, std::size_t from = 0) {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = from;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (const std::uint64_t high = w & 0x8080808080808080ull) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(high)
                                                                 : std::countl_zero(high);
      return i + static_cast<std::size_t>(bit >> 3);
    }
  }
  while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
  return i;
}
// Copies s to out (room for s.size() bytes) in word and part-word moves, and says whether every
// byte was ASCII: a field's text is put and looked at in one pass. Inline, as it is called for
// every field of a record.
inline bool copy_noting_ascii(char* out, std::string_view s) {
  const char* src = s.data();
  const std::size_t n = s.size();
  std::uint64_t any = 0, x = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::memcpy(&x, src + i, 8);
    std::memcpy(out + i, &x, 8);
    any |= x;
  }
  if (i < n && n >= 8) {
    // The rest within the last word, moved again in part.
    std::memcpy(&x, src + n - 8, 8);
    std::memcpy(out + n - 8, &x, 8);
    any |= x;
  } else if (n < 8) {
    // Short texts (units, codes, digits) in at most three moves.
    if (n & 4) {
      std::uint32_t v;
      std::memcpy(&v, src, 4);
      std::memcpy(out, &v, 4);
      any |= v;
      i = 4;
    }
    if (n & 2) {
      std::uint16_t v;
      std::memcpy(&v, src + i, 2);
      std::memcpy(out + i, &v, 2);
      any |= v;
      i += 2;
    }
    if (n & 1) {
      out[i] = src[i];
      any |= static_cast<unsigned char>(src[i]);
    }
  }
  return (any & 0x8080808080808080ull) == 0;
}
bool contains(std::string_view haystack, std::string_view needle);
bool starts_with(std::string_view s, std::string_view prefix);
bool ends_with(std::string_view s, std::string_view suffix);

// Whole number in decimal with optional sign and surrounding blanks, as the runtime's
// StrToInt takes it ("$1F" hex too). Raises ConvertError "'x' is not a valid integer value".
long long str_to_int(std::string_view s);
// As str_to_int, but returns false instead of raising.
bool try_str_to_int(std::string_view s, long long& out);

// Shortest decimal form of a double with at most 15 significant digits, "." as the point,
// no exponent for ordinary magnitudes: 3 -> "3", 0.1 -> "0.1", 12.5 -> "12.5".
std::string format_general(double value);

// Appends the UTF-8 form of a code point (at most U+10FFFF; callers check that).
void append_utf8(std::string& out, char32_t c);

}  // namespace qm
