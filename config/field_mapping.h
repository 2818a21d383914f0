// Page 3's editing of the mapping list (the lines of mapping.h) and the columns the column
// view makes of it. Plain functions over the list's lines; the window reads its controls,
// calls them and shows the result.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/dataset.h"
#include "core/messages.h"

namespace qm::config {

// What "6 &Add >" works from: the chosen destination field (nullptr when none is selected),
// the zero-based position of the chosen source column (-1 when none), the break-level tick
// and the constant box.
struct AddMappingRequest {
  const std::string* field = nullptr;
  int column = -1;
  bool rowBreak = false;
  std::string constant;
};

struct AddMappingResult {
  bool added = false;
  std::string line;            // the line to append when added
  bool clearConstant = false;  // the constant went into the line: empty the box
};

// A line of the list begins with the field's name: a prefix test on the whole line, so a
// line for LEV10 counts against LEV1.
bool mapping_has_field(const std::vector<std::string>& lines, std::string_view field);

// The line a field gets: a row-break link for a break-level field ("LEV" in its name) while
// rows carry break levels, else a constant when one is typed (blanks count), else a link to
// the column.
AddMappingResult mapping_line_for(std::string_view field, int column, bool rowBreak,
                                  const std::string& constant);

// "6 &Add >": refuses without both selections, asks before linking a field again, and says
// which line to append.
AddMappingResult add_mapping_line(const std::vector<std::string>& lines,
                                  const AddMappingRequest& request, Messages& messages);

// "&Delete <": true when the selected line (-1: none) is to be removed, after the refusal
// for no selection and the question.
bool confirm_remove_mapping_line(const std::vector<std::string>& lines, int selected,
                                 Messages& messages);

// One column of the column view: the title and the source field's position, or -1 with the
// reason when the line links to no field of the source.
struct ColumnViewColumn {
  std::string title;
  int field = -1;
  std::string error;  // the message shown for an unbound column
};

// A column per mapping line, in order, bound by the lines' reading rule to the source's
// fields. The source must be open.
std::vector<ColumnViewColumn> column_view_columns(const std::vector<std::string>& lines,
                                                  Dataset& source);

}  // namespace qm::config
