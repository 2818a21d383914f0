// Cell references as a worksheet writes them ("B7", "XFD1048576").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::source::xlsx {

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxColumns = 16384;

struct CellRef {
  std::uint32_t column = 0;  // 0-based, A = 0
  std::uint32_t row = 0;     // 1-based as the file counts; 0 when the reference has no row
};

// Reads letters then digits ("$" allowed before either). False for anything else, for a
// column beyond XFD and a row beyond 1048576.
bool parse_cell_ref(std::string_view text, CellRef& out);
bool parse_cell_ref(const char* text, CellRef& out);  // a text ended by a NUL
// The column of a reference ended by a NUL, checked as parse_cell_ref checks it: a cell takes
// its row from its row element, so the row's digits need no value.
bool parse_cell_column(const char* text, std::uint32_t& column);
// Reads a row number 1..1048576.
bool parse_row_number(std::string_view text, std::uint32_t& out);
// "A", "Z", "AA" for 0, 25, 26.
std::string column_name(std::uint32_t column);
// "B7" for column 1, row 7.
std::string cell_name(std::uint32_t column, std::uint32_t row);

// A dimension ("A1:G1000001" or "A1"), checked to lie inside the sheet's limits.
struct Range {
  CellRef first, last;
};
bool parse_range(std::string_view text, Range& out);

}  // namespace qm::source::xlsx
