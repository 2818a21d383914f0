// Bytes of a text file to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace qm::source {

// Whether s is UTF-8; with truncatedTail a sequence cut off at the very end still counts (s is
// then the head of a longer file).
bool valid_utf8(std::string_view s, bool truncatedTail = false);
// Whether decode_in_place knows the code page.
bool codepage_supported(int codepage);
// Turns bytes in the code page into UTF-8. For 65001 a value that is not valid UTF-8 is read as
// Windows-1252, as files pieced together from several sources mix the two.
void decode_in_place(std::string& s, int codepage);

}  // namespace qm::source
