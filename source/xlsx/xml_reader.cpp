#include "source/xlsx/xml_reader.h"

#include <expat.h>

#include <cstring>

#include "source/xlsx/errors.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {
namespace {

constexpr int kChunk = 128 * 1024;

const char* local_name(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon ? colon + 1 : name;
}

}  // namespace

XmlReader::XmlReader(PartStream& in, XmlHandler& handler, const Limits& limits)
    : in_(in), handler_(handler), limits_(limits), parser_(XML_ParserCreate(nullptr)) {
  if (!parser_) raise(in_.file(), in_.where(), "out of memory");
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, on_start, on_end);
  XML_SetCharacterDataHandler(parser_, on_text);
  XML_SetStartDoctypeDeclHandler(parser_, on_doctype);
  XML_SetEntityDeclHandler(parser_, on_entity);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlReader::~XmlReader() {
  XML_ParserFree(parser_);
}

std::string XmlReader::position() const {
  return "line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) + " of " + in_.name();
}

void XmlReader::raise_here(const std::string& what) const {
  std::string where = in_.where();
  std::string ctx = handler_.context();
  if (!ctx.empty()) where += ", " + ctx;
  where += " (" + position() + ")";
  raise(in_.file(), where, what);
}

void XmlReader::on_start(void* self, const char* name, const char** atts) {
  auto* r = static_cast<XmlReader*>(self);
  if (++r->depth_ > r->limits_.maxDepth) {
    r->refusal_ =
        "the XML is nested more than " + std::to_string(r->limits_.maxDepth) + " elements deep";
    XML_StopParser(r->parser_, XML_FALSE);
    return;
  }
  try {
    r->handler_.start(local_name(name), atts);
  } catch (...) {
    r->fail(std::current_exception());
  }
}

void XmlReader::on_end(void* self, const char* name) {
  auto* r = static_cast<XmlReader*>(self);
  --r->depth_;
  try {
    r->handler_.end(local_name(name));
  } catch (...) {
    r->fail(std::current_exception());
  }
}

void XmlReader::on_text(void* self, const char* data, int len) {
  auto* r = static_cast<XmlReader*>(self);
  try {
    r->handler_.text(data, len);
  } catch (...) {
    r->fail(std::current_exception());
  }
}

void XmlReader::on_doctype(void* self, const char*, const char*, const char*, int) {
  auto* r = static_cast<XmlReader*>(self);
  r->refusal_ = "the XML declares a document type, which a workbook part never does";
  XML_StopParser(r->parser_, XML_FALSE);
}

void XmlReader::on_entity(void* self, const char*, int, const char*, int, const char*, const char*,
                          const char*, const char*) {
  auto* r = static_cast<XmlReader*>(self);
  r->refusal_ = "the XML declares entities, which a workbook part never does";
  XML_StopParser(r->parser_, XML_FALSE);
}

void XmlReader::suspend() {
  if (!error_ && refusal_.empty()) XML_StopParser(parser_, XML_TRUE);
}

void XmlReader::fail(std::exception_ptr error) {
  if (!error_) error_ = error;
  // A parser that was already asked to stop refuses a second request; the error is kept and
  // raised when the parse returns either way.
  XML_StopParser(parser_, XML_FALSE);
}

void XmlReader::check(int status) {
  if (error_) std::rethrow_exception(error_);
  if (!refusal_.empty()) raise_here(refusal_);
  if (status == XML_STATUS_ERROR) {
    raise_here(std::string("the XML is malformed (") + XML_ErrorString(XML_GetErrorCode(parser_)) +
               ")");
  }
}

bool XmlReader::step() {
  if (broken_) std::rethrow_exception(broken_);
  try {
    return parse_step();
  } catch (...) {
    broken_ = std::current_exception();
    throw;
  }
}

bool XmlReader::parse_step() {
  if (done_) return false;
  if (suspended_) {
    suspended_ = false;
    int st = XML_ResumeParser(parser_);
    check(st);
    if (st == XML_STATUS_SUSPENDED) {
      suspended_ = true;
      return true;
    }
    if (finalFed_) {
      done_ = true;
      return false;
    }
    return true;
  }
  void* buf = XML_GetBuffer(parser_, kChunk);
  if (!buf) raise_here("out of memory");
  std::size_t n = in_.read(static_cast<char*>(buf), kChunk);
  fed_ += n;
  finalFed_ = n == 0;
  int st = XML_ParseBuffer(parser_, static_cast<int>(n), finalFed_ ? XML_TRUE : XML_FALSE);
  check(st);
  if (st == XML_STATUS_SUSPENDED) {
    suspended_ = true;
    return true;
  }
  if (finalFed_) {
    done_ = true;
    return false;
  }
  // Outside a callback the byte index is just past the last complete token: what lies beyond
  // it is held by expat, and only an unfinished tag or comment can make that large.
  auto consumed = static_cast<std::uint64_t>(XML_GetCurrentByteIndex(parser_));
  if (fed_ - consumed > limits_.maxTokenBytes) {
    raise_here("the XML holds a tag, attribute or comment longer than " +
               std::to_string(limits_.maxTokenBytes) + " bytes");
  }
  return true;
}

bool XmlReader::run() {
  while (step()) {
    if (suspended_) return true;
  }
  return false;
}

}  // namespace qm::source::xlsx
