// Streams one XML part through expat with the guards a file from outside needs: no document
// type declarations (so no entities), bounded nesting, and no unfinished token (a tag with
// its attributes, a comment) larger than a limit, which is what would make expat's buffer grow.
// Element names reach the handler without their namespace prefix ("x:row" -> "row").
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "source/xlsx/xlsx_reader.h"

struct XML_ParserStruct;

namespace qm::source::xlsx {

class PartStream;

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(const char* name, const char** attributes) = 0;
  virtual void end(const char* name) = 0;
  virtual void text(const char* data, int length) = 0;
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
  // Line and column of the parse position, for a handler's messages.
  std::string position() const;

 private:
  static void on_start(void* self, const char* name, const char** atts);
  static void on_end(void* self, const char* name);
  static void on_text(void* self, const char* data, int len);
  static void on_doctype(void* self, const char*, const char*, const char*, int);
  static void on_entity(void* self, const char*, int, const char*, int, const char*, const char*,
                        const char*, const char*);
  [[noreturn]] void raise_here(const std::string& what) const;
  void check(int status);
  bool parse_step();

  PartStream& in_;
  XmlHandler& handler_;
  const Limits& limits_;
  XML_ParserStruct* parser_;
  std::exception_ptr error_;
  std::exception_ptr broken_;  // the error that ended the parse, raised again by later calls
  std::string refusal_;
  std::uint64_t fed_ = 0;
  int depth_ = 0;
  bool suspended_ = false;
  bool finalFed_ = false;
  bool done_ = false;
};

}  // namespace qm::source::xlsx
