// Small text helpers with the semantics the program's rules are written in.
#pragma once

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
