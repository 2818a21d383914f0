// Every failure of the workbook reader is a DatabaseError that says which file, which part of
// it (sheet, shared strings, styles), where in that part and what is wrong.
#pragma once

#include <string>
#include <string_view>

namespace qm::source::xlsx {

[[noreturn]] void raise(std::string_view file, std::string_view where, std::string_view what);

}  // namespace qm::source::xlsx
