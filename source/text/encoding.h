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

// 1 when head begins with the byte order mark of UTF-16 little-endian, 2 big-endian, else 0.
int utf16_bom(std::string_view head);

// UTF-16 to UTF-8, piece by piece: a byte or half a surrogate pair at the end of one piece
// waits for the next. A surrogate without its partner becomes U+FFFD.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
  void decode(std::string_view bytes, std::string& out);
  // At the end of the text: what is left over, as U+FFFD.
  void finish(std::string& out);

 private:
  bool bigEndian_;
  std::string carry_;  // an odd byte not yet decoded
  char16_t high_ = 0;  // a high surrogate waiting for its low half
};

}  // namespace qm::source
