#include "config/field_mapping.h"

#include "config/mapping.h"
#include "core/error.h"
#include "core/text.h"

namespace qm::config {

bool mapping_has_field(const std::vector<std::string>& lines, std::string_view field) {
  for (const auto& l : lines)
    if (starts_with(l, field)) return true;
  return false;
}

AddMappingResult mapping_line_for(std::string_view field, int column, bool rowBreak,
                                  const std::string& constant) {
  AddMappingResult r;
  r.added = true;
  // Letter case counts: break-level fields are named in capitals.
  if (rowBreak && field.find("LEV") != std::string_view::npos) {
    r.line = rowbreak_line(field, column);
  } else if (!constant.empty()) {
    r.line = constant_line(field, constant);
    r.clearConstant = true;
  } else {
    r.line = column_line(field, column);
  }
  return r;
}

AddMappingResult add_mapping_line(const std::vector<std::string>& lines,
                                  const AddMappingRequest& request, Messages& messages) {
  if (!request.field || request.column < 0) {
    messages.error("You must select a Field in the field \r\ncombobox and a field in the listbox.");
    return {};
  }
  const std::string& name = *request.field;
  if (mapping_has_field(lines, name) &&
      !messages.askYesNo(MsgKind::Warning,
                         "\"" + name +
                             "\" has already been included in a field to be exported!\r\n"
                             "Would you like to continue?"))
    return {};
  return mapping_line_for(name, request.column, request.rowBreak, request.constant);
}

bool confirm_remove_mapping_line(const std::vector<std::string>& lines, int selected,
                                 Messages& messages) {
  if (selected < 0 || selected >= static_cast<int>(lines.size())) {
    messages.error("You must select a export field to delete.");
    return false;
  }
  return messages.askYesCancel(MsgKind::Confirmation, "Are you sure to delete this field?\r\n" +
                                                          lines[static_cast<size_t>(selected)]);
}

std::vector<ColumnViewColumn> column_view_columns(const std::vector<std::string>& lines,
                                                  Dataset& source) {
  std::vector<ColumnViewColumn> columns;
  for (const auto& l : lines) {
    const MappingLine m = split_mapping_line(l);
    ColumnViewColumn c;
    c.title = std::string(m.name);
    try {
      const int n = mapping_column(m.value);
      source.field(n);  // raises for a position the source does not have
      c.field = n;
    } catch (const Error& e) {
      c.error = std::string(e.what()) + "\r\nFor Field: " + c.title;
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

}  // namespace qm::config
