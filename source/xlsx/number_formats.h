// Which cells hold dates: a cell's style (its index into cellXfs) names a number format, and a
// format shows a date or time when it is one of Excel's built-in date formats or its code has
// date or time tokens outside quoted text, escapes and brackets.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "source/xlsx/xlsx_reader.h"

namespace qm::source::xlsx {

class PartStream;

// Built-in formats 14-22 and 45-47, and the East Asian built-in date formats 27-36, 50-58.
bool is_builtin_date_format(int id);
// True when a format code shows a date or a time ("d/m/yyyy", "[h]:mm", "mmm-yy").
bool is_date_format_code(std::string_view code);

// For each cell style, whether it shows a date. Styles beyond the table are not dates.
class DateStyles {
 public:
  bool is_date(std::uint32_t style) const { return style < flags_.size() && flags_[style]; }
  // Reads styles.xml.
  static DateStyles read(PartStream& in, const Limits& limits);

 private:
  std::vector<std::uint8_t> flags_;
};

}  // namespace qm::source::xlsx
