// Streams one XML part to a handler with the guards a file from outside needs: no document type
// declarations (so no entities beyond the five predefined ones and character references),
// bounded nesting, and no unfinished token (a tag with its attributes, a comment) larger than a
// limit, so the buffer never grows with what the file declares. Element names reach the
// handler without their namespace prefix ("x:row" -> "row").
//
// The parser is the package's own rather than a general library's: workbook parts are large
// (a million-row sheet is some 300 MB of XML) but use only elements, attributes, text and the
// predefined entities, and a scanner that knows that, hands text straight out of its buffer
// and keeps one buffer for attributes reads them several times faster. It checks what makes a
// document well-formed (matching tags, one root, attribute syntax, no duplicate attributes,
// valid UTF-8 and XML characters, known entities) and refuses everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "source/xlsx/xlsx_reader.h"

namespace qm::source::xlsx {

class PartStream;

// Whether the markup s stands at p, compared byte by byte so that a mismatch at the buffer's
// NUL reads nothing past it: for a handler's elements().
inline bool markup_at(const char* p, std::string_view s) {
  for (char c : s)
    if (*p++ != c) return false;
  return true;
}

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(const char* name, const char** attributes) = 0;
  virtual void end(const char* name) = 0;
  virtual void text(const char* data, int length) = 0;
  // Offered, while the reader is told to offer them, the bytes from a '<' inside the root to
  // the end of the buffer (where a NUL stands): a handler that knows the elements there better
  // than a general scanner may read a run of whole ones itself and return the bytes they take,
  // or 0 to leave them to the reader. What it takes must be well-formed XML, hold no line end
  // and nest no more than two elements deep; it may raise as from its other calls.
  virtual std::size_t elements(const char* at, const char* end) {
    (void)at;
    (void)end;
    return 0;
  }
  // Added to the position in a message about malformed XML ("after row 7").
  virtual std::string context() const { return {}; }
};

class XmlReader {
 public:
  XmlReader(PartStream& in, XmlHandler& handler, const Limits& limits);
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // Parses one more buffer (or the rest of a suspended one). Returns false once the document
  // has ended. Raises DatabaseError for malformed XML, refused constructs and handler errors.
  bool step();
  // Parses until the handler suspends or the document ends; false at the end.
  bool run();
  // From a handler: stop after the current element; run() returns true.
  void suspend();
  // From a handler: stop at once because of this error; run() rethrows it.
  void fail(std::exception_ptr error);
  bool suspended() const { return suspended_; }
  // From a handler: whether elements() is to be offered the markup from here on.
  void offer_elements(bool on) { offer_ = on; }
  // Line and column of the parse position, for a handler's messages.
  std::string position() const;

 private:
  enum class Got { Done, More };  // a token was taken, or more bytes are needed for it

  bool parse_step();
  // Takes tokens from the buffer until it runs dry, the handler suspends or the part ends.
  void parse_buffer();
  [[gnu::always_inline]] inline Got text_run();
  Got text_rest();
  Got markup();
  Got start_tag();
  Got end_tag();
  Got special();  // comments, processing instructions, CDATA, declarations
  // Decodes the reference at p (just past '&') into out; the index past ';', or 0 when the
  // buffer ends first.
  std::size_t reference(std::size_t p, std::string& out);
  // Length of the valid UTF-8 character at p (lead byte >= 0x80), 0 when the buffer ends inside
  // it; raises for an invalid one.
  std::size_t utf8_char(std::size_t p);
  [[gnu::always_inline]] inline std::size_t name_end(std::size_t p);
  std::size_t name_rest(std::size_t p);  // past a byte of 0x80 or more, or at the buffer's end
  void deliver(const char* data, std::size_t len);
  void after_callback();
  bool fill();
  void count_lines(std::size_t upTo);
  [[noreturn]] void malformed(const std::string& why);
  // Out of the scanning loops' way: building a message's string inline there slows them.
  [[noreturn, gnu::cold, gnu::noinline]] void malformed(const char* why);
  [[noreturn, gnu::cold, gnu::noinline]] void too_deep();
  [[noreturn]] void raise_here(const std::string& what) const;

  PartStream& in_;
  XmlHandler& handler_;
  const Limits& limits_;

  // The bytes read, with a NUL at end_: no scanning loop needs to test for the end of the
  // buffer on every byte, as the NUL stops each of them and is then told apart by its place.
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  std::uint64_t base_ = 0;  // offset in the part of buf_[0]
  // Line counting, for messages: lines before countedTo_, where the last of them began.
  std::uint64_t countedTo_ = 0, line_ = 1, lineStart_ = 0;
  std::uint64_t tokenAt_ = 0;  // offset in the part of the token being read

  enum class Where { Prolog, Root, Epilog } where_ = Where::Prolog;
  // The open elements' names side by side in names_, each ended by a NUL; a tag's name is
  // checked against its slot there and handed out from it without a string of its own.
  struct Open {
    std::uint32_t at, length, local;  // offsets in names_ of the name and of its local part
  };
  // The element ends: the handler is told and its name's slot freed.
  void close_element(const Open& open);
  std::string names_;  // its first namesUsed_ bytes
  std::size_t namesUsed_ = 0;
  std::vector<Open> open_;  // as many as depth_
  int depth_ = 0;
  // A tag's attributes as decoded, names and values each ended by a NUL. Decoding never
  // lengthens what it reads, so room for the bytes left in the buffer is room enough.
  std::unique_ptr<char[]> arena_;
  std::size_t arenaSize_ = 0;
  std::string chars_;
  std::vector<const char*> atts_;
  std::vector<std::string_view> sortedNames_;  // of a tag with many attributes

  std::exception_ptr error_;
  std::exception_ptr broken_;  // the error that ended the parse, raised again by later calls
  bool suspended_ = false;
  bool done_ = false;
  bool offer_ = false;
};

}  // namespace qm::source::xlsx
