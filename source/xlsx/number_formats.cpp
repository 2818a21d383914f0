#include "source/xlsx/number_formats.h"

#include <charconv>
#include <cstring>
#include <string>
#include <unordered_map>

#include "source/xlsx/errors.h"
#include "source/xlsx/xml_reader.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {

bool is_builtin_date_format(int id) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
         (id >= 50 && id <= 58);
}

namespace {

bool starts_with_nocase(std::string_view s, std::size_t at, std::string_view word) {
  if (s.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    if ((s[at + k] | 0x20) != word[k]) return false;
  }
  return true;
}

}  // namespace

bool is_date_format_code(std::string_view code) {
  // m alone is a month or a minute; both make a date or time, but it is kept apart so that a
  // later rule can tell the two if ever needed.
  bool m = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    char c = code[i];
    if (c == '"') {  // quoted text
      auto close = code.find('"', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
      continue;
    }
    if (c == '\\' || c == '_' || c == '*') {  // escaped, space-of-width, fill character
      ++i;
      continue;
    }
    if (c == '[') {
      auto close = code.find(']', i + 1);
      if (close == std::string_view::npos) break;
      // Elapsed time [h], [mm], [ss]; colours, conditions and locales are not dates.
      std::string_view inner = code.substr(i + 1, close - i - 1);
      if (!inner.empty() && inner.find_first_not_of(inner[0]) == std::string_view::npos) {
        char e = static_cast<char>(inner[0] | 0x20);
        if (e == 'h' || e == 'm' || e == 's') return true;
      }
      i = close;
      continue;
    }
    // Words whose letters are no tokens: AM/PM and A/P mark a time only beside h.
    if (starts_with_nocase(code, i, "am/pm")) {
      i += 4;
      continue;
    }
    if (starts_with_nocase(code, i, "a/p")) {
      i += 2;
      continue;
    }
    if (starts_with_nocase(code, i, "general")) {
      i += 6;
      continue;
    }
    switch (c | 0x20) {
      case 'y':
      case 'd':
      case 'h':
      case 's':
        return true;
      case 'm':
        m = true;
        break;
      default:
        break;
    }
  }
  return m;
}

namespace {

bool read_uint(const char* s, std::uint32_t& out) {
  const char* e = s + std::strlen(s);
  auto r = std::from_chars(s, e, out);
  return r.ec == std::errc() && r.ptr == e;
}

class StylesHandler : public XmlHandler {
 public:
  StylesHandler(const Limits& limits, PartStream& in) : limits_(limits), in_(in) {}

  void start(const char* name, const char** atts) override {
    if (std::strcmp(name, "numFmts") == 0) {
      inNumFmts_ = true;
    } else if (std::strcmp(name, "cellXfs") == 0) {
      inCellXfs_ = true;
    } else if (inNumFmts_ && std::strcmp(name, "numFmt") == 0) {
      std::uint32_t id = 0;
      const char* code = nullptr;
      bool haveId = false;
      for (int i = 0; atts[i]; i += 2) {
        if (std::strcmp(atts[i], "numFmtId") == 0) haveId = read_uint(atts[i + 1], id);
        if (std::strcmp(atts[i], "formatCode") == 0) code = atts[i + 1];
      }
      if (haveId && code) {
        if (formats_.size() >= limits_.maxStyles) too_many();
        formats_[id] = is_date_format_code(code);
      }
    } else if (inCellXfs_ && std::strcmp(name, "xf") == 0) {
      std::uint32_t id = 0;
      for (int i = 0; atts[i]; i += 2) {
        if (std::strcmp(atts[i], "numFmtId") == 0 && !read_uint(atts[i + 1], id)) id = 0;
      }
      if (xfs_.size() >= limits_.maxStyles) too_many();
      xfs_.push_back(id);
    }
  }
  void end(const char* name) override {
    if (std::strcmp(name, "numFmts") == 0) inNumFmts_ = false;
    if (std::strcmp(name, "cellXfs") == 0) inCellXfs_ = false;
  }
  void text(const char*, int) override {}

  std::vector<std::uint8_t> flags() const {
    std::vector<std::uint8_t> f;
    f.reserve(xfs_.size());
    for (std::uint32_t id : xfs_) {
      auto it = formats_.find(id);
      // A format the file defines replaces the built-in one of the same number.
      f.push_back(it != formats_.end() ? it->second : is_builtin_date_format(static_cast<int>(id)));
    }
    return f;
  }

 private:
  [[noreturn]] void too_many() {
    raise(in_.file(), in_.where(),
          "the workbook defines more than " + std::to_string(limits_.maxStyles) + " formats");
  }
  const Limits& limits_;
  PartStream& in_;
  bool inNumFmts_ = false, inCellXfs_ = false;
  std::unordered_map<std::uint32_t, bool> formats_;
  std::vector<std::uint32_t> xfs_;
};

}  // namespace

DateStyles DateStyles::read(PartStream& in, const Limits& limits) {
  StylesHandler h(limits, in);
  XmlReader xml(in, h, limits);
  while (xml.step()) {
  }
  DateStyles s;
  s.flags_ = h.flags();
  return s;
}

}  // namespace qm::source::xlsx
