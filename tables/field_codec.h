// Encodings of single field values inside a record: the text forms of N/F/D/L, the level-7
// binary forms of I, +, O and @, and the Visual FoxPro binary forms read from older tables.
// Pure functions over byte ranges; the table object decides which one a field uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/datetime.h"

namespace qm::tables::codec {

// Level 7 long (I, +): two's complement with the sign bit flipped, big-endian.
void put_long7(char* p, std::int32_t v);
std::int32_t get_long7(const char* p);
// Level 7 double (O): big-endian with an order-preserving transform. -0.0 is written as +0.0.
void put_double7(char* p, double v);
double get_double7(const char* p);
// Level 7 timestamp (@): big-endian double of milliseconds since 0001-01-01 (day 1) 00:00.
void put_timestamp7(char* p, const DateTime& v);
// False for a value that is no real moment (all zero bytes, NaN, out of the calendar).
bool get_timestamp7(const char* p, DateTime& out);

bool all_zero(const char* p, int n);
bool all_blank(const char* p, int n);  // spaces or NULs only
// Where a character field's text of n bytes ends: before its trailing blanks and NULs.
std::size_t text_end(const char* p, std::size_t n);

// Visual FoxPro forms (little-endian).
std::int32_t get_le32(const char* p);
double get_le_double(const char* p);
std::int64_t get_le64(const char* p);
// T: u32 Julian day + u32 milliseconds of the day; false when the day is 0.
bool get_vfp_datetime(const char* p, DateTime& out);

// The text of a number as a dBase N(width, decimals) / F field holds it, right-aligned.
enum class NumberFit { Ok, Blank, NotANumber, TooWide };
// From a text as a user or source gives it: blanks around, optional sign, digits with an
// optional point, optional exponent. Rounded half away from zero to the decimals.
NumberFit format_number_text(std::string_view text, int width, int decimals, char* out);
NumberFit format_number_value(double v, int width, int decimals, char* out);
// Reads a stored N/F text (or any decimal text); false when blank or not a number.
bool parse_number(std::string_view text, double& out);

// D: "YYYYMMDD"; false for blanks, zeros or an impossible date.
bool get_date(const char* p, DateTime& out);
void put_date(char* p, const DateTime& v);

// L: T t Y y are true, F f N n false; anything else (blank, '?') is null: returns false.
bool get_logical(char c, bool& out);

// Memo pointer of 10 ASCII digits (space- or zero-padded). Returns false when it is not a
// number; block 0 means no memo.
bool get_memo_block(const char* p, int n, std::uint64_t& block);
void put_memo_block(char* p, int n, std::uint64_t block, bool zeroPadded);

}  // namespace qm::tables::codec
