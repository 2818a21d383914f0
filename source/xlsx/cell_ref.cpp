#include "source/xlsx/cell_ref.h"

namespace qm::source::xlsx {

bool parse_row_number(std::string_view text, std::uint32_t& out) {
  if (text.empty() || text.size() > 7) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v == 0 || v > kMaxRows) return false;
  out = v;
  return true;
}

bool parse_cell_ref(std::string_view text, CellRef& out) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '$') ++i;
  std::uint32_t col = 0;
  std::size_t letters = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    if (++letters > 3) return false;
    col = col * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
  }
  if (letters == 0 || col > kMaxColumns) return false;
  if (i < text.size() && text[i] == '$') ++i;
  std::uint32_t row = 0;
  if (i < text.size() && !parse_row_number(text.substr(i), row)) return false;
  out.column = col - 1;
  out.row = row;
  return true;
}

std::string column_name(std::uint32_t column) {
  std::string s;
  std::uint32_t n = column + 1;
  while (n > 0) {
    std::uint32_t d = (n - 1) % 26;
    s.insert(s.begin(), static_cast<char>('A' + d));
    n = (n - 1) / 26;
  }
  return s;
}

std::string cell_name(std::uint32_t column, std::uint32_t row) {
  return column_name(column) + std::to_string(row);
}

bool parse_range(std::string_view text, Range& out) {
  auto colon = text.find(':');
  Range r;
  if (!parse_cell_ref(text.substr(0, colon), r.first) || r.first.row == 0) return false;
  if (colon == std::string_view::npos) {
    r.last = r.first;
  } else if (!parse_cell_ref(text.substr(colon + 1), r.last) || r.last.row == 0) {
    return false;
  }
  if (r.last.row < r.first.row || r.last.column < r.first.column) return false;
  out = r;
  return true;
}

}  // namespace qm::source::xlsx
