#include "core/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>

#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace qm {

namespace {

// What the profile functions strip around names and values: blanks, tabs, stray CRs and the
// end-of-file mark old editors leave.
bool is_profile_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\x1a';
}

std::string_view strip(std::string_view s) {
  while (!s.empty() && is_profile_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_profile_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  if (n == 3) {
    unsigned cp = ((c & 0x0F) << 12) | ((b(i + 1) & 0x3F) << 6);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  }
  if (n == 4) {
    unsigned cp = ((c & 0x07) << 18) | ((b(i + 1) & 0x3F) << 12);
    if (cp < 0x10000 || cp > 0x10FFFF) return 0;
  }
  return n;
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = utf8_sequence(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// 0x80..0x9F of Windows-1252; the rest of the upper half is Latin-1.
constexpr unsigned short kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string from_cp1252(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80)
      out += ch;
    else if (c < 0xA0)
      append_utf8(out, kCp1252High[c - 0x80]);
    else
      append_utf8(out, c);
  }
  return out;
}

std::string from_utf16le(std::string_view s) {
  std::string out;
  std::size_t n = s.size() / 2;
  auto unit = [&](std::size_t k) {
    return static_cast<unsigned>(static_cast<unsigned char>(s[2 * k])) |
           (static_cast<unsigned>(static_cast<unsigned char>(s[2 * k + 1])) << 8);
  };
  for (std::size_t k = 0; k < n; ++k) {
    unsigned u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      append_utf8(out, 0xFFFD);
    } else {
      append_utf8(out, u);
    }
  }
  return out;
}

std::string decode(std::string_view bytes, IniEncoding& encoding) {
  encoding = IniEncoding::Utf8;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    encoding = IniEncoding::Utf8Bom;
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    encoding = IniEncoding::Utf16le;
    return from_utf16le(bytes.substr(2));
  }
  if (valid_utf8(bytes)) return std::string(bytes);
  encoding = IniEncoding::Cp1252;
  return from_cp1252(bytes);
}

char32_t code_point(std::string_view s, std::size_t i, std::size_t n) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (n == 1) return b(0);
  char32_t cp = b(0) & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (b(k) & 0x3F);
  return cp;
}

// The text in Windows-1252; nullopt when it holds a character that code page lacks.
std::optional<std::string> to_cp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t n = utf8_sequence(utf8, i);
    if (n == 0) return std::nullopt;
    char32_t cp = code_point(utf8, i, n);
    i += n;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    const unsigned short* at = std::find(std::begin(kCp1252High), std::end(kCp1252High), cp);
    if (cp == 0xFFFD || at == std::end(kCp1252High)) return std::nullopt;
    out += static_cast<char>(0x80 + (at - kCp1252High));
  }
  return out;
}

std::string to_utf16le(std::string_view utf8) {
  std::string out;
  auto unit = [&](char32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t n = utf8_sequence(utf8, i);
    char32_t cp = n ? code_point(utf8, i, n) : 0xFFFD;
    i += n ? n : 1;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// The text a value line must carry so that find() gives value back.
std::string encode_value(std::string_view value) {
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  bool needsQuotes = !v.empty() && (is_profile_blank(v.front()) || is_profile_blank(v.back()));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    needsQuotes = true;
  return needsQuotes ? "\"" + v + "\"" : v;
}

void check_name(std::string_view what, std::string_view name, bool isKey) {
  bool bad = name.empty() || strip(name) != name;
  for (char c : name)
    if (c == '\r' || c == '\n' || (!isKey && c == ']') || (isKey && c == '=')) bad = true;
  if (isKey && !name.empty() && (name.front() == '[' || name.front() == ';')) bad = true;
  if (bad)
    throw Error("A settings file cannot hold the " + std::string(what) + " name '" +
                std::string(name) + "'");
}

}  // namespace

std::string cut_to_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0, count = 0;
  while (i < s.size() && count < n) {
    std::size_t len = utf8_sequence(s, i);
    i += len == 0 ? 1 : len;
    ++count;
  }
  return std::string(s.substr(0, i));
}

int profile_int(std::string_view value, int def) {
  std::string_view v = strip(value);
  if (v.empty()) return def;
  std::size_t i = 0;
  bool neg = false;
  if (v[i] == '+' || v[i] == '-') neg = v[i++] == '-';
  unsigned base = 10;
  if (i + 1 < v.size() && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  // Wraps at 32 bits as the Windows function does.
  std::uint32_t acc = 0;
  for (; i < v.size(); ++i) {
    char c = v[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    acc = acc * base + d;
  }
  if (neg) acc = 0u - acc;
  return static_cast<int>(acc);
}

IniDocument::Line IniDocument::classify(std::string text) {
  Line line;
  std::string_view t = strip(text);
  if (!t.empty() && t.front() == '[') {
    line.kind = Kind::Section;
    std::string_view inner = t.substr(1);
    auto close = inner.rfind(']');
    if (close != std::string_view::npos) inner = inner.substr(0, close);
    line.name = std::string(strip(inner));
  } else if (!t.empty() && t.front() != ';') {
    auto eq = t.find('=');
    if (eq != std::string_view::npos) {
      line.kind = Kind::Key;
      line.name = std::string(strip(t.substr(0, eq)));
    }
  }
  line.text = std::move(text);
  return line;
}

IniDocument IniDocument::parse(std::string_view bytes) {
  IniDocument doc;
  std::string text = decode(bytes, doc.encoding_);
  std::size_t firstLf = text.find('\n');
  if (firstLf != std::string::npos)
    doc.newline_ = firstLf > 0 && text[firstLf - 1] == '\r' ? "\r\n" : "\n";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string::npos ? text.size() : lf;
    std::size_t e = end;
    while (e > start && text[e - 1] == '\r') --e;
    doc.lines_.push_back(classify(text.substr(start, e - start)));
    if (lf == std::string::npos) {
      start = text.size();
      doc.trailingNewline_ = false;
    } else {
      start = lf + 1;
      doc.trailingNewline_ = true;
    }
  }
  return doc;
}

long IniDocument::findSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == Kind::Section && iequals(lines_[i].name, section))
      return static_cast<long>(i);
  return -1;
}

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key) const {
  long s = findSection(section);
  if (s < 0) return std::nullopt;
  for (std::size_t i = static_cast<std::size_t>(s) + 1; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::Section) break;
    if (l.kind == Kind::Key && iequals(l.name, key)) {
      std::string_view t = l.text;
      return std::string(unquote(strip(t.substr(t.find('=') + 1))));
    }
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniDocument::entries() const {
  std::vector<std::pair<std::string, std::string>> r;
  const std::string* section = nullptr;
  for (const Line& l : lines_) {
    if (l.kind == Kind::Section) section = &l.name;
    if (l.kind == Kind::Key && section) r.emplace_back(*section, l.name);
  }
  return r;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  check_name("section", section, false);
  check_name("key", key, true);
  std::string encoded = encode_value(value);
  long s = findSection(section);
  if (s < 0) {
    if (!lines_.empty() && !strip(lines_.back().text).empty()) lines_.push_back(classify(""));
    lines_.push_back(classify("[" + std::string(section) + "]"));
    lines_.push_back(classify(std::string(key) + "=" + encoded));
    trailingNewline_ = true;
    return;
  }
  std::size_t insertAt = static_cast<std::size_t>(s) + 1;
  for (std::size_t i = insertAt; i < lines_.size(); ++i) {
    Line& l = lines_[i];
    if (l.kind == Kind::Section) break;
    if (l.kind != Kind::Key) continue;
    if (iequals(l.name, key)) {
      // Keeps the key as the file spells it.
      l = classify(l.name + "=" + encoded);
      return;
    }
    insertAt = i + 1;
  }
  if (insertAt == lines_.size()) trailingNewline_ = true;
  lines_.insert(lines_.begin() + static_cast<long>(insertAt),
                classify(std::string(key) + "=" + encoded));
}

std::string IniDocument::serialize() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += newline_;
    text += lines_[i].text;
  }
  if (trailingNewline_ && !lines_.empty()) text += newline_;
  const std::string bom = "\xEF\xBB\xBF";
  switch (encoding_) {
    case IniEncoding::Utf16le:
      return "\xFF\xFE" + to_utf16le(text);
    case IniEncoding::Cp1252:
      // A folder name the code page cannot hold goes over in UTF-8 rather than as "?"; so
      // does a text whose bytes would read back as UTF-8 or begin with what reads as a byte
      // order mark, and so as other letters.
      if (auto ansi = to_cp1252(text);
          ansi && !valid_utf8(*ansi) && ansi->rfind("\xFF\xFE", 0) != 0 && ansi->rfind(bom, 0) != 0)
        return *ansi;
      return bom + text;
    case IniEncoding::Utf8Bom:
      return bom + text;
    case IniEncoding::Utf8:
      break;
  }
  // Reading drops one byte order mark; a text that itself begins with one (a file that had two)
  // gets another in front, so that it reads back as it was.
  return text.rfind(bom, 0) == 0 ? bom + text : text;
}

IniDocument IniFile::load() const {
  std::ifstream in(to_fs_path(resolve_path(path_)), std::ios::binary);
  if (!in) return IniDocument::parse("");
  std::ostringstream ss;
  ss << in.rdbuf();
  return IniDocument::parse(ss.str());
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  auto v = load().find(section, key);
  return cut_to_chars(v ? *v : def, kProfileTextLimit);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
  auto v = load().find(section, key);
  return v ? profile_int(*v, def) : def;
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool def) const {
  return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  IniDocument doc = load();
  doc.set(section, key, value);
  std::string bytes = doc.serialize();

  std::error_code ec;
  fs::path target = to_fs_path(resolve_path(path_));
  // A settings file that is a link stays one: the file it points at is replaced.
  if (fs::is_symlink(target, ec)) {
    fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;
  }
  fs::path temp = target;
  temp += ".~" + std::to_string(platform::tick_count_ms());

  auto fail = [&]() {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw Error("Unable to write to " + path_);
  };
  std::FILE* f = platform::open_file(from_fs_path(temp), "wb");
  if (!f) fail();
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (ok) platform::flush_to_disk(f);
  ok = std::fclose(f) == 0 && ok;
  if (!ok) fail();
  auto perms = fs::status(target, ec).permissions();
  if (!ec && perms != fs::perms::unknown) fs::permissions(temp, perms, ec);
  fs::rename(temp, target, ec);
  if (ec) fail();
}

void IniFile::writeInteger(std::string_view section, std::string_view key, long long value) {
  writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
  writeString(section, key, value ? "1" : "0");
}

}  // namespace qm
