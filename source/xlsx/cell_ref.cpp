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

namespace {

// The text ends at end, or with Terminated at its NUL: a cell's reference comes as an
// attribute's value, whose length nobody has counted.
template <bool Terminated>
bool parse_ref(const char* p, const char* end, CellRef& out) {
  auto more = [end](const char* q) {
    if constexpr (Terminated)
      return *q != 0;
    else
      return q < end;
  };
  if (more(p) && *p == '$') ++p;
  std::uint32_t col = 0;
  int letters = 0;
  for (; more(p); ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    if (++letters > 3) return false;
    col = col * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
  }
  if (letters == 0 || col > kMaxColumns) return false;
  if (more(p) && *p == '$') ++p;
  std::uint32_t row = 0;
  if (more(p)) {
    int digits = 0;
    for (; more(p); ++p) {
      if (*p < '0' || *p > '9' || ++digits > 7) return false;
      row = row * 10 + static_cast<std::uint32_t>(*p - '0');
    }
    if (row == 0 || row > kMaxRows) return false;
  }
  out.column = col - 1;
  out.row = row;
  return true;
}

}  // namespace

bool parse_cell_ref(std::string_view text, CellRef& out) {
  return parse_ref<false>(text.data(), text.data() + text.size(), out);
}

bool parse_cell_ref(const char* text, CellRef& out) {
  return parse_ref<true>(text, nullptr, out);
}

bool parse_cell_column(const char* text, std::uint32_t& column) {
  // Mostly as Excel writes it: capitals, then up to six digits not led by a zero, which always
  // make a row in range. Every cell has one, so that much is read at a glance and the rest is
  // left to the general reading.
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  unsigned d = *p - unsigned{'A'};
  if (d < 26) {
    std::uint32_t col = d + 1;
    if ((d = *++p - unsigned{'A'}) < 26) {
      col = col * 26 + d + 1;
      if ((d = *++p - unsigned{'A'}) < 26) {
        col = col * 26 + d + 1;
        ++p;
      }
    }
    if (*p - unsigned{'1'} < 9 && col <= kMaxColumns) {
      const unsigned char* q = p + 1;
      while (*q - unsigned{'0'} < 10) ++q;
      if (*q == 0 && q - p <= 6) {
        column = col - 1;
        return true;
      }
    }
  }
  CellRef ref;
  if (!parse_cell_ref(text, ref)) return false;
  column = ref.column;
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
