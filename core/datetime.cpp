#include "core/datetime.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "core/error.h"

namespace qm {

namespace {

bool leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
  static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : d[m - 1];
}

// Days from 1970-01-01 (Howard Hinnant's civil algorithm).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kDay19700101 = 719163;

}  // namespace

bool valid_ymd(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(y, m);
}

std::int64_t day_from_ymd(int y, int m, int d) {
  return days_from_civil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kDay19700101;
}

Ymd ymd_from_day(std::int64_t day) {
  std::int64_t z = day - kDay19700101 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

DateTime now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  DateTime r;
  r.day = day_from_ymd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  r.ms = (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) * 1000;
  return r;
}

DateTime today() {
  DateTime r = now();
  r.ms = 0;
  return r;
}

DateFormats& date_formats() {
  static DateFormats f;
  return f;
}

namespace {

std::string two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

}  // namespace

std::string format_short_date(const DateTime& dt) {
  Ymd d = ymd_from_day(dt.day);
  const std::string& f = date_formats().shortDate;
  std::string out;
  for (size_t i = 0; i < f.size();) {
    auto run = [&](char c) {
      size_t n = 0;
      while (i + n < f.size() && f[i + n] == c) ++n;
      return n;
    };
    char c = f[i];
    if (c == 'd' || c == 'M' || c == 'y') {
      size_t n = run(c);
      int v = c == 'd' ? d.day : c == 'M' ? d.month : d.year;
      if (c == 'y') {
        // "yyyy" is always four digits, also for the years before 1000.
        std::string y = std::to_string(v);
        out += n <= 2 ? two(v % 100) : std::string(y.size() < 4 ? 4 - y.size() : 0, '0') + y;
      } else
        out += n >= 2 ? two(v) : std::to_string(v);
      i += n;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string format_long_time(const DateTime& dt) {
  int s = dt.ms / 1000;
  int h = s / 3600, m = (s / 60) % 60, sec = s % 60;
  const std::string& f = date_formats().longTime;
  bool ampm = f.find("AP") != std::string::npos;
  std::string out;
  for (size_t i = 0; i < f.size();) {
    if (f.compare(i, 2, "AP") == 0) {
      out += h < 12 ? "AM" : "PM";
      i += 2;
      continue;
    }
    char c = f[i];
    size_t n = 0;
    while (i + n < f.size() && f[i + n] == c) ++n;
    if (c == 'h' || c == 'H') {
      int hv = h;
      if (ampm) hv = h % 12 == 0 ? 12 : h % 12;
      out += n >= 2 ? two(hv) : std::to_string(hv);
    } else if (c == 'm') {
      out += two(m);
    } else if (c == 's') {
      out += two(sec);
    } else {
      out.append(n, c);
    }
    i += n;
  }
  return out;
}

std::string format_date_time(const DateTime& dt) {
  std::string r = format_short_date(dt);
  if (dt.ms != 0) r += " " + format_long_time(dt);
  return r;
}

bool parse_date(std::string_view text, DateTime& out) {
  std::vector<int> nums;
  std::vector<int> widths;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  while (i < text.size()) {
    if (text[i] < '0' || text[i] > '9') return false;
    int v = 0, w = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (w >= 6) return false;
      v = v * 10 + (text[i] - '0');
      ++i;
      ++w;
    }
    nums.push_back(v);
    widths.push_back(w);
    size_t j = i;
    while (j < text.size() && text[j] == ' ') ++j;
    if (j == text.size()) break;
    if (text[j] != '/' && text[j] != '-' && text[j] != '.') return false;
    i = j + 1;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) return false;
  }
  if (nums.size() != 3) return false;
  int y, m, d;
  if (widths[0] == 4) {  // ISO order
    y = nums[0], m = nums[1], d = nums[2];
  } else {
    // Field order of the short date format.
    std::string order;
    for (char c : date_formats().shortDate)
      if ((c == 'd' || c == 'M' || c == 'y') && order.find(c) == std::string::npos) order += c;
    if (order.size() != 3) order = "Mdy";
    int vals[3] = {nums[0], nums[1], nums[2]};
    y = m = d = 0;
    for (int k = 0; k < 3; ++k) {
      if (order[k] == 'y') {
        y = vals[k];
        if (widths[k] <= 2) y += y < 50 ? 2000 : 1900;
      } else if (order[k] == 'M') {
        m = vals[k];
      } else {
        d = vals[k];
      }
    }
  }
  if (!valid_ymd(y, m, d)) return false;
  out.day = day_from_ymd(y, m, d);
  out.ms = 0;
  return true;
}

DateTime str_to_date(std::string_view text) {
  DateTime d;
  if (!parse_date(text, d)) throw ConvertError("'" + std::string(text) + "' is not a valid date");
  return d;
}

}  // namespace qm
