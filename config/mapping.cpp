#include "config/mapping.h"

#include "core/text.h"

namespace qm::config {

MappingLine split_mapping_line(std::string_view line) {
  MappingLine m;
  auto eq = line.find('=');
  if (eq == line.npos) {
    // Never written by the editor; such a line names a field and links it to nothing, so
    // every reading of its column fails.
    m.name = line;
    return m;
  }
  m.name = line.substr(0, eq);
  m.value = line.substr(eq + 1);
  if (starts_with(m.value, kRowBreakPrefix))
    m.kind = MappingKind::RowBreak;
  else if (starts_with(m.value, kConstantPrefix))
    m.kind = MappingKind::Constant;
  return m;
}

int mapping_column(std::string_view value) {
  // Three characters hold at most "999" (or "-99", "$FF"), so the number always fits.
  return static_cast<int>(str_to_int(value.substr(0, 3)));
}

bool try_mapping_column(std::string_view value, int& column) {
  long long v = 0;
  if (!try_str_to_int(value.substr(0, 3), v)) return false;
  column = static_cast<int>(v);
  return true;
}

int rowbreak_column(std::string_view value) {
  if (starts_with(value, kRowBreakPrefix)) value.remove_prefix(kRowBreakPrefix.size());
  return mapping_column(value);
}

std::string_view constant_text(std::string_view value) {
  if (starts_with(value, kConstantPrefix)) value.remove_prefix(kConstantPrefix.size());
  return value;
}

std::string column_line(std::string_view name, int column) {
  return std::string(name) + "=" + std::to_string(column);
}

std::string rowbreak_line(std::string_view name, int column) {
  return std::string(name) + "=" + std::string(kRowBreakPrefix) + std::to_string(column);
}

std::string constant_line(std::string_view name, std::string_view constant) {
  return std::string(name) + "=" + std::string(kConstantPrefix) + std::string(constant);
}

}  // namespace qm::config
