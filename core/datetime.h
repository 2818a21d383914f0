// Dates as the program and its tables see them: a day number and a millisecond of the day.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

struct DateTime {
  // Proleptic Gregorian day number, 0001-01-01 = day 1 (the same count as a level-7 timestamp).
  std::int64_t day = 0;
  // Milliseconds since midnight.
  std::int32_t ms = 0;

  bool isNull() const { return day == 0 && ms == 0; }
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

struct Ymd {
  int year = 0, month = 0, day = 0;
};

std::int64_t day_from_ymd(int year, int month, int day);
Ymd ymd_from_day(std::int64_t day);
bool valid_ymd(int year, int month, int day);
DateTime today();
DateTime now();

// Dates as day counts (0 = 1899-12-30), as numeric fields and spreadsheet serials hold them,
// meet these through:
constexpr std::int64_t kDay18991230 = 693594;  // day_from_ymd(1899, 12, 30)

// The user's short date and long time formats. Fixed here rather than read from the machine,
// so that a configuration's dates read back the same everywhere; the window may change them.
struct DateFormats {
  std::string shortDate = "M/d/yyyy";   // tokens: d dd M MM yy yyyy and separators
  std::string longTime = "h:mm:ss AP";  // tokens: h hh H HH mm ss AP
};
DateFormats& date_formats();

std::string format_short_date(const DateTime& dt);
std::string format_long_time(const DateTime& dt);
// Short date, and when the time of day is not zero a space and the long time.
std::string format_date_time(const DateTime& dt);

// Reads a date in the short date format's field order ("12/9/2026", "12-09-26"); also takes
// ISO "2026-12-09". Returns false for anything that is not a valid date.
bool parse_date(std::string_view text, DateTime& out);
// As parse_date but raises ConvertError "'x' is not a valid date".
DateTime str_to_date(std::string_view text);

}  // namespace qm
