// The mapping list's lines: one destination field each, linked to a source column, to a
// column of break rows, or to a constant. The page-3 editor writes them; the column view, the
// row conversion and the command line read them with the one rule below.
#pragma once

#include <string>
#include <string_view>

namespace qm::config {

enum class MappingKind {
  Column,    // PARTNUMBER=0
  RowBreak,  // LEV1=ROWBREAK-4
  Constant,  // LEV2=CONS-A
};

inline constexpr std::string_view kRowBreakPrefix = "ROWBREAK-";
inline constexpr std::string_view kConstantPrefix = "CONS-";

// A line split at its first "=". Views into the line given.
struct MappingLine {
  std::string_view name;   // the text before the first "=" (the whole line when it has none)
  std::string_view value;  // the text after it (empty when the line has no "=")
  MappingKind kind = MappingKind::Column;
};

MappingLine split_mapping_line(std::string_view line);

// The column number of a value part: at most its first three characters, read as a whole
// number the way the runtime reads one, so columns run from 0 to 999. Raises ConvertError
// with the runtime's text ("'ROW' is not a valid integer value") when they are no number.
int mapping_column(std::string_view value);
// As mapping_column, false instead of raising.
bool try_mapping_column(std::string_view value, int& column);
// The column of a row-break value part: up to three characters after "ROWBREAK-".
int rowbreak_column(std::string_view value);
// The constant of a constant value part: everything after "CONS-", exactly as typed.
std::string_view constant_text(std::string_view value);

std::string column_line(std::string_view name, int column);
std::string rowbreak_line(std::string_view name, int column);
std::string constant_line(std::string_view name, std::string_view constant);

}  // namespace qm::config
