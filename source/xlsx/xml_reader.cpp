#include "source/xlsx/xml_reader.h"
#include "core/text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "source/xlsx/errors.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {
namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kMore = static_cast<std::size_t>(-1);

// Byte classes. Plain text bytes need no look: printable ASCII other than '<' and '&', tab and
// line feed. Attribute bytes exclude the quotes and the blanks that are turned into spaces.
struct Classes {
  bool text[256] = {};
  bool attr[256] = {};
  // 1 for a name byte, 2 for one that may not begin a name, 0 for the rest.
  std::uint8_t name[256] = {};
  bool blank[256] = {};
  Classes() {
    for (unsigned char c : {' ', '\t', '\n', '\r'}) blank[c] = true;
    for (int c = 0x20; c < 0x80; ++c) text[c] = attr[c] = true;
    for (unsigned char c : {'<', '&'}) text[c] = attr[c] = false;
    for (unsigned char c : {'"', '\''}) attr[c] = false;
    for (unsigned char c : {'\t', '\n'}) text[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) name[c] = name[c - 32] = 1;
    for (int c = '0'; c <= '9'; ++c) name[c] = 2;
    for (unsigned char c : {'.', '-'}) name[c] = 2;
    for (unsigned char c : {'_', ':'}) name[c] = 1;
  }
};
const Classes kClass;

// One look in a table rather than four compares: the tag loops ask at every attribute.
bool blank(char c) {
  return kClass.blank[static_cast<unsigned char>(c)];
}

bool xml_char(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool encoding_read_here(std::string_view e) {
  std::string u(e);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return u == "UTF-8" || u == "UTF8" || u == "US-ASCII" || u == "ASCII";
}

}  // namespace

// Names are short and end at a plain byte: the loop is worth having in each caller.
inline std::size_t XmlReader::name_end(std::size_t p) {
  const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
  if (kClass.name[b[p]] == 2) malformed("a name begins with a character no name begins with");
  while (kClass.name[b[p]]) ++p;
  if (b[p] < 0x80 && p < end_) return p;
  return name_rest(p);
}

XmlReader::XmlReader(PartStream& in, XmlHandler& handler, const Limits& limits)
    : in_(in), handler_(handler), limits_(limits) {}

XmlReader::~XmlReader() = default;

void XmlReader::count_lines(std::size_t upTo) {
  std::size_t from = static_cast<std::size_t>(countedTo_ - base_);
  const char* b = buf_.data();
  // Sheets hold few line ends if any: looking for each is quicker than looking at every byte.
  const char* last = nullptr;
  for (const char* p = b + from;;) {
    auto* nl =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(b + upTo - p)));
    if (!nl) break;
    ++line_;
    last = nl;
    p = nl + 1;
  }
  if (last) lineStart_ = base_ + static_cast<std::size_t>(last - b) + 1;
  countedTo_ = base_ + upTo;
}

std::string XmlReader::position() const {
  std::uint64_t line = line_, start = lineStart_;
  std::uint64_t upTo = std::min<std::uint64_t>(std::max(tokenAt_, countedTo_), base_ + end_);
  for (std::uint64_t i = countedTo_; i < upTo; ++i) {
    if (buf_[static_cast<std::size_t>(i - base_)] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(upTo - start + 1) + " of " +
         in_.name();
}

void XmlReader::raise_here(const std::string& what) const {
  std::string where = in_.where();
  std::string ctx = handler_.context();
  if (!ctx.empty()) where += ", " + ctx;
  where += " (" + position() + ")";
  raise(in_.file(), where, what);
}

void XmlReader::malformed(const std::string& why) {
  raise_here("the XML is malformed (" + why + ")");
}

void XmlReader::malformed(const char* why) {
  malformed(std::string(why));
}

void XmlReader::too_deep() {
  raise_here("the XML is nested more than " + std::to_string(limits_.maxDepth) + " elements deep");
}

void XmlReader::suspend() {
  if (!error_) suspended_ = true;
}

void XmlReader::fail(std::exception_ptr error) {
  if (!error_) error_ = error;
}

bool XmlReader::fill() {
  if (eof_) return false;
  if (pos_ > 0) {
    count_lines(pos_);
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
  }
  if (buf_.size() < end_ + kChunk + 1) buf_.resize(end_ + kChunk + 1);
  std::size_t n = in_.read(buf_.data() + end_, kChunk);
  end_ += n;
  buf_[end_] = '\0';
  if (n == 0) {
    eof_ = true;
    return false;
  }
  return true;
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
  } else {
    fill();
    if (base_ == 0 && pos_ == 0 && end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0)
      pos_ = 3;  // the byte order mark of UTF-8
  }
  parse_buffer();
  if (suspended_) return true;
  if (!eof_) return true;
  tokenAt_ = base_ + end_;
  if (where_ == Where::Prolog) malformed("the part holds no element");
  if (where_ == Where::Root) malformed("the part ends before its elements are closed");
  done_ = true;
  return false;
}

bool XmlReader::run() {
  while (step()) {
    if (suspended_) return true;
  }
  return false;
}

void XmlReader::parse_buffer() {
  while (!suspended_ && pos_ < end_) {
    tokenAt_ = base_ + pos_;
    Got g;
    if (buf_[pos_] == '<') {
      if (offer_ && depth_ + 2 <= limits_.maxDepth) {
        const std::size_t took = handler_.elements(buf_.data() + pos_, buf_.data() + end_);
        if (error_) std::rethrow_exception(error_);
        if (took > 0) {
          pos_ += took;
          continue;
        }
      }
      g = markup();
    } else {
      g = text_run();
    }
    if (error_) std::rethrow_exception(error_);
    if (g == Got::More) {
      if (eof_) malformed("the part ends inside a tag or reference");
      if (end_ - pos_ > limits_.maxTokenBytes) {
        raise_here("the XML holds a tag, attribute or comment longer than " +
                   std::to_string(limits_.maxTokenBytes) + " bytes");
      }
      return;
    }
  }
}

void XmlReader::deliver(const char* data, std::size_t len) {
  handler_.text(data, static_cast<int>(len));
}

std::size_t XmlReader::utf8_char(std::size_t p) {
  const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
  unsigned char c = b[p];
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    malformed("the text is not valid UTF-8");
  }
  if (p + need > end_) {
    if (eof_) malformed("the text is not valid UTF-8");
    return 0;
  }
  if (b[p + 1] < lo || b[p + 1] > hi) malformed("the text is not valid UTF-8");
  for (std::size_t k = 2; k < need; ++k)
    if (b[p + k] < 0x80 || b[p + k] > 0xBF) malformed("the text is not valid UTF-8");
  // U+FFFE and U+FFFF are no characters of XML.
  if (c == 0xEF && b[p + 1] == 0xBF && b[p + 2] >= 0xBE)
    malformed("the text holds a character that XML does not allow");
  return need;
}

std::size_t XmlReader::name_rest(std::size_t p) {
  const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
  for (;;) {
    if (p >= end_) return eof_ ? p : kMore;
    if (b[p] < 0x80) return p;
    std::size_t n = utf8_char(p);
    if (n == 0) return kMore;
    p += n;
    while (kClass.name[b[p]]) ++p;
  }
}

std::size_t XmlReader::reference(std::size_t p, std::string& out) {
  std::size_t q = p;
  while (q < end_ && q - p < 16 && buf_[q] != ';') ++q;
  if (q >= end_ && !eof_) return 0;
  if (q >= end_ || buf_[q] != ';') malformed("a reference is not closed by ';'");
  std::string_view name(buf_.data() + p, q - p);
  out.clear();
  if (!name.empty() && name[0] == '#') {
    std::uint32_t v = 0;
    bool hex = name.size() > 1 && name[1] == 'x';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) malformed("a character reference has no digits");
    for (char c : digits) {
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        malformed("a character reference has a character that is no digit");
      v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      if (v > 0x10FFFF) malformed("a character reference names no character");
    }
    if (!xml_char(v)) malformed("a character reference names a character XML does not allow");
    append_utf8(out, v);
  } else if (name == "lt") {
    out.push_back('<');
  } else if (name == "gt") {
    out.push_back('>');
  } else if (name == "amp") {
    out.push_back('&');
  } else if (name == "quot") {
    out.push_back('"');
  } else if (name == "apos") {
    out.push_back('\'');
  } else {
    malformed("the reference &" + std::string(name) + "; names an entity that is not declared");
  }
  return q + 1;
}

XmlReader::Got XmlReader::text_run() {
  // Mostly plain bytes up to the next tag: those without the rest's prologue.
  if (where_ == Where::Root) {
    const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
    std::size_t p = pos_;
    while (kClass.text[b[p]]) ++p;
    if (b[p] == '<') {
      deliver(buf_.data() + pos_, p - pos_);
      pos_ = p;
      return Got::Done;
    }
  }
  return text_rest();
}

XmlReader::Got XmlReader::text_rest() {
  const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
  if (where_ != Where::Root) {
    std::size_t p = pos_;
    while (blank(buf_[p])) ++p;
    pos_ = p;
    if (p < end_ && buf_[p] != '<')
      malformed(where_ == Where::Prolog ? "text before the first element"
                                        : "text after the last element");
    return Got::Done;
  }
  std::size_t p = pos_;
  for (;;) {
    std::size_t s = p;
    for (;;) {
      while (kClass.text[b[p]]) ++p;
      if (b[p] < 0x80) break;  // the NUL at the end of the buffer among them
      std::size_t n = utf8_char(p);
      if (n == 0) break;
      p += n;
    }
    if (p > s) deliver(buf_.data() + s, p - s);
    pos_ = p;
    if (p >= end_) return Got::Done;
    unsigned char c = b[p];
    if (c == '<') return Got::Done;
    if (c == '&') {
      std::size_t after = reference(p + 1, chars_);
      if (after == 0) return Got::More;
      deliver(chars_.data(), chars_.size());
      p = pos_ = after;
    } else if (c == '\r') {
      // A line end is a line feed, whether the file writes CR LF, CR or LF.
      if (p + 1 >= end_ && !eof_) return Got::More;
      deliver("\n", 1);
      p += (p + 1 < end_ && buf_[p + 1] == '\n') ? 2 : 1;
      pos_ = p;
    } else if (c >= 0x80) {
      return Got::More;  // a character cut by the end of the buffer
    } else {
      malformed("the text holds a character that XML does not allow");
    }
  }
}

XmlReader::Got XmlReader::markup() {
  if (pos_ + 1 >= end_) return Got::More;
  char c = buf_[pos_ + 1];
  if (c == '/') return end_tag();
  if (c == '?' || c == '!') return special();
  return start_tag();
}

XmlReader::Got XmlReader::start_tag() {
  const auto* b = reinterpret_cast<const unsigned char*>(buf_.data());
  std::size_t p = pos_ + 1;
  std::size_t ne = name_end(p);
  if (ne == kMore) return Got::More;
  if (ne == p) malformed("a tag has no name");
  const std::size_t nameAt = p;
  std::size_t n = 0;  // names and values in atts_
  bool empty = false;
  if (b[ne] == '>') {
    // Mostly a tag without attributes (<v>, <si>, <t>): nothing to read past its name.
    p = ne + 1;
  } else {
    if (arenaSize_ < end_ - pos_ + 1) {
      // Left uninitialised: a part's pages are touched only as far as its tags reach.
      arenaSize_ = buf_.size();
      arena_.reset(new char[arenaSize_]);
    }
    char* const a = arena_.get();
    char* w = a;
    p = ne;
    for (;;) {
      std::size_t s = p;
      while (blank(static_cast<char>(b[p]))) ++p;
      if (p >= end_) return Got::More;
      unsigned char c = b[p];
      if (c == '>') {
        ++p;
        break;
      }
      if (c == '/') {
        if (p + 1 >= end_) return Got::More;
        if (b[p + 1] != '>') malformed("a tag holds a '/' that does not end it");
        p += 2;
        empty = true;
        break;
      }
      if (p == s) malformed("a tag's attributes are not apart");
      std::size_t an = name_end(p);
      if (an == kMore) return Got::More;
      if (an == p) malformed("a tag holds something that is no attribute");
      const std::size_t attAt = static_cast<std::size_t>(w - a);
      for (; p < an; ++p) *w++ = static_cast<char>(b[p]);
      *w++ = '\0';
      // Mostly name="value" with nothing between: then no blanks to look for.
      if (b[p] != '=') {
        while (blank(static_cast<char>(b[p]))) ++p;
        if (p >= end_) return Got::More;
        if (b[p] != '=') malformed("an attribute has no value");
      }
      ++p;
      unsigned char quote = b[p];
      if (quote != '"' && quote != '\'') {
        while (blank(static_cast<char>(b[p]))) ++p;
        if (p >= end_) return Got::More;
        quote = b[p];
      }
      if (quote != '"' && quote != '\'') malformed("an attribute's value is not in quotes");
      ++p;
      const std::size_t valueAt = static_cast<std::size_t>(w - a);
      for (;;) {
        unsigned char v;
        while (kClass.attr[v = b[p]]) {
          *w++ = static_cast<char>(v);
          ++p;
        }
        if (p >= end_) return Got::More;
        if (v == quote) {
          ++p;
          break;
        }
        if (v == '"' || v == '\'') {
          *w++ = static_cast<char>(v);
          ++p;
        } else if (v == '&') {
          std::size_t after = reference(p + 1, chars_);
          if (after == 0) return Got::More;
          std::memcpy(w, chars_.data(), chars_.size());
          w += chars_.size();
          p = after;
        } else if (v == '\t' || v == '\n') {
          *w++ = ' ';
          ++p;
        } else if (v == '\r') {
          if (p + 1 >= end_) return Got::More;
          *w++ = ' ';
          p += b[p + 1] == '\n' ? 2 : 1;
        } else if (v >= 0x80) {
          std::size_t len = utf8_char(p);
          if (len == 0) return Got::More;
          for (std::size_t k = 0; k < len; ++k) *w++ = static_cast<char>(b[p + k]);
          p += len;
        } else if (v == '<') {
          malformed("an attribute's value holds '<'");
        } else {
          malformed("an attribute's value holds a character that XML does not allow");
        }
      }
      *w++ = '\0';
      if (atts_.size() < n + 3) atts_.resize(2 * n + 8);
      atts_[n++] = a + attAt;
      atts_[n++] = a + valueAt;
    }

    // The whole tag is here: check it as a whole, then hand it out.
    const std::size_t count = n / 2;
    if (count > 1 && count <= 8) {
      // A cell has two or three attributes: comparing each pair is quickest.
      for (std::size_t i = 1; i < count; ++i) {
        const char* x = atts_[2 * i];
        for (std::size_t j = 0; j < i; ++j) {
          const char* y = atts_[2 * j];
          if (x[0] == y[0] && std::strcmp(x, y) == 0) malformed("a tag names an attribute twice");
        }
      }
    } else if (count > 8) {
      sortedNames_.clear();
      for (std::size_t i = 0; i < count; ++i) sortedNames_.emplace_back(atts_[2 * i]);
      std::sort(sortedNames_.begin(), sortedNames_.end());
      if (std::adjacent_find(sortedNames_.begin(), sortedNames_.end()) != sortedNames_.end())
        malformed("a tag names an attribute twice");
    }
  }
  if (where_ == Where::Epilog) malformed("a second root element");
  where_ = Where::Root;
  if (depth_ + 1 > limits_.maxDepth) too_deep();
  // The name goes on the stack of open names, with where its part after a prefix begins.
  const std::size_t nameLength = ne - nameAt;
  const std::size_t at = namesUsed_;
  if (at + nameLength + 1 > names_.size()) names_.resize(2 * (at + nameLength + 1));
  Open open{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(nameLength),
            static_cast<std::uint32_t>(at)};
  char* to = names_.data() + at;
  for (std::size_t i = 0; i < nameLength; ++i) {
    char c = static_cast<char>(b[nameAt + i]);
    if (c == ':' && open.local == open.at) open.local = static_cast<std::uint32_t>(at + i + 1);
    to[i] = c;
  }
  to[nameLength] = '\0';
  namesUsed_ = at + nameLength + 1;
  open_.push_back(open);
  ++depth_;
  if (atts_.size() < n + 1) atts_.resize(n + 1);
  atts_[n] = nullptr;
  pos_ = p;
  handler_.start(names_.data() + open.local, atts_.data());
  if (empty) close_element(open);
  return Got::Done;
}

void XmlReader::close_element(const Open& open) {
  // Read before the slot goes: open may be that slot.
  const std::size_t at = open.at;
  --depth_;
  if (depth_ == 0) where_ = Where::Epilog;
  handler_.end(names_.data() + open.local);
  open_.pop_back();
  namesUsed_ = at;
}

XmlReader::Got XmlReader::end_tag() {
  std::size_t p = pos_ + 2;
  // Mostly the name of the element open and '>' right after it: then nothing else to check.
  if (depth_ > 0) {
    const Open& open = open_.back();
    const std::size_t length = open.length;
    if (p + length < end_ && buf_[p + length] == '>') {
      const char* here = buf_.data() + p;
      const char* name = names_.data() + open.at;
      std::size_t i = 0;
      while (i < length && here[i] == name[i]) ++i;
      if (i == length) {
        pos_ = p + length + 1;
        close_element(open);
        return Got::Done;
      }
    }
  }
  std::size_t ne = name_end(p);
  if (ne == kMore) return Got::More;
  if (ne == p) malformed("an end tag has no name");
  std::size_t q = ne;
  while (blank(buf_[q])) ++q;
  if (q >= end_) return Got::More;
  if (buf_[q] != '>') malformed("an end tag holds more than its name");
  std::string_view name(buf_.data() + p, ne - p);
  if (depth_ == 0) malformed("an end tag without its start tag");
  const Open open = open_.back();
  bool same = name.size() == open.length;
  for (std::size_t i = 0; same && i < name.size(); ++i) same = name[i] == names_[open.at + i];
  if (!same)
    malformed("the end tag </" + std::string(name) + "> closes <" +
              names_.substr(open.at, open.length) + ">");
  pos_ = q + 1;
  close_element(open);
  return Got::Done;
}

XmlReader::Got XmlReader::special() {
  std::string_view rest(buf_.data() + pos_, end_ - pos_);
  auto find_end = [&](std::size_t from, std::string_view close) -> std::size_t {
    std::size_t at = rest.find(close, from);
    return at == std::string_view::npos ? kMore : at + close.size();
  };
  if (rest.size() < 9 && !eof_) return Got::More;
  if (rest.substr(0, 2) == "<?") {
    std::size_t e = find_end(2, "?>");
    if (e == kMore) return Got::More;
    std::string_view body = rest.substr(2, e - 4);
    if (body.substr(0, 3) == "xml" && (body.size() == 3 || blank(body[3]))) {
      // The declaration: only at the start, and only in an encoding read here.
      if (base_ + pos_ > 3 || where_ != Where::Prolog)
        malformed("an XML declaration after the start of the part");
      std::size_t at = body.find("encoding");
      if (at != std::string_view::npos) {
        std::size_t q = body.find_first_of("\"'", at);
        std::size_t qe = q == std::string_view::npos ? q : body.find(body[q], q + 1);
        if (qe == std::string_view::npos) malformed("the XML declaration is damaged");
        std::string_view enc = body.substr(q + 1, qe - q - 1);
        if (!encoding_read_here(enc))
          raise_here("the XML is in the encoding " + std::string(enc) +
                     ", but a workbook part is in UTF-8");
      }
    }
    pos_ += e;
    return Got::Done;
  }
  if (rest.substr(0, 4) == "<!--") {
    std::size_t e = find_end(4, "-->");
    if (e == kMore) return Got::More;
    pos_ += e;
    return Got::Done;
  }
  if (rest.substr(0, 9) == "<![CDATA[") {
    if (where_ != Where::Root) malformed("character data outside the elements");
    std::size_t e = find_end(9, "]]>");
    if (e == kMore) return Got::More;
    std::size_t from = pos_ + 9, to = pos_ + e - 3;
    chars_.clear();
    for (std::size_t p = from; p < to;) {
      unsigned char c = static_cast<unsigned char>(buf_[p]);
      if (c >= 0x80) {
        std::size_t n = utf8_char(p);
        chars_.append(buf_.data() + p, n);
        p += n;
      } else if (c == '\r') {
        chars_.push_back('\n');
        p += (p + 1 < to && buf_[p + 1] == '\n') ? 2 : 1;
      } else if (c < 0x20 && c != '\t' && c != '\n') {
        malformed("the text holds a character that XML does not allow");
      } else {
        chars_.push_back(static_cast<char>(c));
        ++p;
      }
    }
    pos_ += e;
    if (!chars_.empty()) deliver(chars_.data(), chars_.size());
    return Got::Done;
  }
  if (rest.substr(0, 9) == "<!DOCTYPE")
    raise_here("the XML declares a document type, which a workbook part never does");
  malformed("markup that is no tag, comment or declaration");
}

}  // namespace qm::source::xlsx
