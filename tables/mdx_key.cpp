#include "tables/mdx_key.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "core/datetime.h"
#include "core/text.h"

namespace qm::tables {

namespace {

constexpr int kExponentBias = 52;
constexpr int kMaxDigits = 20;
constexpr double kJulianOfDay0 = 1721425.0;  // day 1 (0001-01-01) is Julian day 1721426

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool numeric_is_zero(std::string_view key) {
  for (size_t i = 2; i < key.size(); ++i)
    if (key[i] != 0) return false;
  return true;
}

}  // namespace

std::string numeric_key(std::string_view text) {
  std::string key(kNumericKeyLength, '\0');
  std::string t = trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::string intPart, fracPart;
  while (i < t.size() && is_digit(t[i])) intPart += t[i++];
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && is_digit(t[i])) fracPart += t[i++];
  }
  if (i != t.size()) intPart.clear(), fracPart.clear();  // not a number: zero
  intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size()));
  while (!fracPart.empty() && fracPart.back() == '0') fracPart.pop_back();

  int exponent = kExponentBias;
  int count = 0;
  std::string digits;
  if (!intPart.empty()) {
    exponent += static_cast<int>(intPart.size());
    digits = intPart + fracPart;
    count = static_cast<int>(digits.size());
  } else {
    size_t zeros = std::min(fracPart.find_first_not_of('0'), fracPart.size());
    digits = fracPart.substr(zeros);
    if (!digits.empty()) {
      exponent -= static_cast<int>(zeros);
      // Values below 1 also count the zeros after the point.
      count = static_cast<int>(zeros + digits.size());
    }
  }
  if (digits.empty()) negative = false;
  if (digits.size() > kMaxDigits) digits.resize(kMaxDigits);
  count = std::min(count, 31);
  exponent = std::clamp(exponent, 0, 255);
  key[0] = static_cast<char>(exponent);
  key[1] = static_cast<char>((count << 2) | 0x01 | (negative ? 0x80 : 0));
  for (size_t d = 0; d < digits.size(); ++d) {
    int v = digits[d] - '0';
    key[2 + d / 2] = static_cast<char>(key[2 + d / 2] | (d % 2 == 0 ? v << 4 : v));
  }
  return key;
}

std::string numeric_key_text(std::string_view key) {
  if (key.size() < kNumericKeyLength || numeric_is_zero(key)) return "0";
  std::string digits;
  for (int d = 0; d < kMaxDigits; ++d) {
    auto b = static_cast<unsigned char>(key[2 + d / 2]);
    digits += static_cast<char>('0' + ((d % 2 == 0 ? b >> 4 : b) & 0x0F));
  }
  int before = static_cast<unsigned char>(key[0]) - kExponentBias;
  std::string r;
  if (before <= 0) {
    r = "0." + std::string(-before, '0') + digits;
  } else {
    if (static_cast<int>(digits.size()) < before) digits.append(before - digits.size(), '0');
    r = digits.substr(0, before) + "." + digits.substr(before);
  }
  while (r.back() == '0') r.pop_back();
  if (r.back() == '.') r.pop_back();
  if (static_cast<unsigned char>(key[1]) & 0x80) r.insert(r.begin(), '-');
  return r;
}

std::string date_key(std::string_view yyyymmdd) {
  double julian = 0;
  if (yyyymmdd.size() == 8 && std::all_of(yyyymmdd.begin(), yyyymmdd.end(), is_digit)) {
    int y = std::stoi(std::string(yyyymmdd.substr(0, 4)));
    int m = std::stoi(std::string(yyyymmdd.substr(4, 2)));
    int d = std::stoi(std::string(yyyymmdd.substr(6, 2)));
    if (valid_ymd(y, m, d)) julian = static_cast<double>(day_from_ymd(y, m, d)) + kJulianOfDay0;
  }
  std::uint64_t bits;
  std::memcpy(&bits, &julian, 8);
  std::string key(kDateKeyLength, '\0');
  for (int i = 0; i < 8; ++i) key[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return key;
}

double date_key_value(std::string_view key) {
  if (key.size() < kDateKeyLength) return 0;
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= std::uint64_t(static_cast<unsigned char>(key[i])) << (8 * i);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

int compare_keys(KeyType type, std::string_view a, std::string_view b) {
  switch (type) {
    case KeyType::Numeric: {
      if (a.size() < kNumericKeyLength || b.size() < kNumericKeyLength) break;
      // Zero has no sign and the exponent of 0.1, so it is placed by hand.
      bool za = numeric_is_zero(a), zb = numeric_is_zero(b);
      int sa = za ? 0 : (static_cast<unsigned char>(a[1]) & 0x80 ? -1 : 1);
      int sb = zb ? 0 : (static_cast<unsigned char>(b[1]) & 0x80 ? -1 : 1);
      if (sa != sb) return sa < sb ? -1 : 1;
      if (sa == 0) return 0;
      int r = static_cast<unsigned char>(a[0]) - static_cast<unsigned char>(b[0]);
      if (r == 0) r = std::memcmp(a.data() + 2, b.data() + 2, kNumericKeyLength - 2);
      r = r < 0 ? -1 : (r > 0 ? 1 : 0);
      return sa < 0 ? -r : r;
    }
    case KeyType::Date: {
      double x = date_key_value(a), y = date_key_value(b);
      if (x < y) return -1;
      if (x > y) return 1;
      return 0;
    }
    case KeyType::Character:
      break;
  }
  size_t n = std::min(a.size(), b.size());
  int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (r != 0) return r < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string upper_in_codepage(std::string_view bytes, int codepage) {
  // Lower/upper pairs of the OEM pages (cp850 holds every cp437 pair at the same places).
  static const unsigned char k437[][2] = {{0x81, 0x9A}, {0x82, 0x90}, {0x84, 0x8E}, {0x86, 0x8F},
                                          {0x87, 0x80}, {0x91, 0x92}, {0x94, 0x99}, {0xA4, 0xA5}};
  static const unsigned char k850[][2] = {
      {0xA0, 0xB5}, {0x83, 0xB6}, {0x85, 0xB7}, {0x88, 0xD2}, {0x89, 0xD3}, {0x8A, 0xD4},
      {0x8B, 0xD8}, {0x8C, 0xD7}, {0x8D, 0xDE}, {0xA1, 0xD6}, {0xA2, 0xE0}, {0x93, 0xE2},
      {0x95, 0xE3}, {0xA3, 0xE9}, {0x96, 0xEA}, {0x97, 0xEB}, {0x9B, 0x9D}, {0xC6, 0xC7},
      {0xE4, 0xE5}, {0xEC, 0xED}, {0xE7, 0xE8}, {0xD0, 0xD1}};
  std::string r(bytes);
  for (char& ch : r) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') {
      ch = static_cast<char>(c - 32);
    } else if (c >= 0x80) {
      if (codepage == 1252) {
        if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
          ch = static_cast<char>(c - 0x20);
        else if (c == 0x9A || c == 0x9C || c == 0x9E)
          ch = static_cast<char>(c - 0x10);
        else if (c == 0xFF)
          ch = static_cast<char>(0x9F);
      } else if (codepage == 437 || codepage == 850) {
        for (auto& p : k437)
          if (p[0] == c) ch = static_cast<char>(p[1]);
        if (codepage == 850)
          for (auto& p : k850)
            if (p[0] == c) ch = static_cast<char>(p[1]);
      }
    }
  }
  return r;
}

// --- key expressions ---

namespace {

struct Parser {
  std::string_view s;
  size_t pos = 0;
  std::string error;

  void skip() {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  }
  bool eat(char c) {
    skip();
    if (pos < s.size() && s[pos] == c) return ++pos, true;
    return false;
  }
  std::string ident() {
    skip();
    size_t b = pos;
    while (pos < s.size() && (std::isalnum(static_cast<unsigned char>(s[pos])) || s[pos] == '_'))
      ++pos;
    return std::string(s.substr(b, pos - b));
  }
};

}  // namespace

std::optional<KeyExpression> KeyExpression::compile(std::string_view text,
                                                    const std::vector<KeyField>& fields,
                                                    std::string* why) {
  KeyExpression e;
  e.fields_ = fields;
  Parser p;
  p.s = text;
  auto fail = [&](std::string reason) -> std::optional<KeyExpression> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  auto findField = [&](const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i)
      if (iequals(fields[i].name, name)) return static_cast<int>(i);
    return -1;
  };

  // term := field | UPPER(expr) | DTOS(field) | 'literal' | "literal";  expr := term {+ term}
  bool numericOrDate = false;
  int terms = 0;
  std::function<bool(bool)> expr;
  auto addField = [&](int fi, bool upper, bool dtos) {
    Part part;
    part.field = fi;
    part.upper = upper;
    part.dtos = dtos;
    e.parts_.push_back(part);
    e.used_.push_back(fi);
    ++terms;
  };
  std::function<bool(bool)> term = [&](bool upper) -> bool {
    p.skip();
    if (p.pos < p.s.size() && (p.s[p.pos] == '"' || p.s[p.pos] == '\'')) {
      char q = p.s[p.pos++];
      size_t end = p.s.find(q, p.pos);
      if (end == std::string_view::npos) return p.error = "unterminated text", false;
      Part part;
      part.literal = std::string(p.s.substr(p.pos, end - p.pos));
      part.upper = upper;
      p.pos = end + 1;
      e.parts_.push_back(part);
      ++terms;
      return true;
    }
    std::string name = p.ident();
    if (name.empty()) return p.error = "a field name was expected", false;
    if (p.eat('(')) {
      if (iequals(name, "UPPER")) {
        if (!expr(true)) return false;
      } else if (iequals(name, "DTOS")) {
        std::string f = p.ident();
        int fi = findField(f);
        if (fi < 0) return p.error = "no field " + f, false;
        if (fields[fi].type != 'D') return p.error = "DTOS of a field that is not a date", false;
        addField(fi, false, true);
      } else {
        return p.error = "the function " + name + " is not supported", false;
      }
      if (!p.eat(')')) return p.error = "')' was expected", false;
      return true;
    }
    int fi = findField(name);
    if (fi < 0) return p.error = "no field " + name, false;
    char t = fields[fi].type;
    if (t == 'N' || t == 'F' || t == 'D') {
      if (upper) return p.error = "UPPER of a field that is not character", false;
      numericOrDate = true;
    } else if (t != 'C') {
      return p.error = std::string("fields of type ") + t + " are not supported in keys", false;
    }
    addField(fi, upper, false);
    return true;
  };
  expr = [&](bool upper) -> bool {
    if (!term(upper)) return false;
    while (p.eat('+'))
      if (!term(upper)) return false;
    return true;
  };

  if (!expr(false)) return fail(p.error);
  p.skip();
  if (p.pos != p.s.size())
    return fail("unexpected text at '" + std::string(p.s.substr(p.pos)) + "'");
  if (numericOrDate) {
    if (terms != 1) return fail("numbers and dates cannot be joined with +");
    const KeyField& f = fields[e.parts_[0].field];
    e.type_ = f.type == 'D' ? KeyType::Date : KeyType::Numeric;
    e.length_ = f.type == 'D' ? kDateKeyLength : kNumericKeyLength;
  } else {
    e.type_ = KeyType::Character;
    e.length_ = 0;
    for (const Part& part : e.parts_)
      e.length_ += part.field < 0 ? static_cast<int>(part.literal.size())
                                  : (part.dtos ? 8 : fields[part.field].length);
  }
  if (e.parts_.size() == 1 && e.parts_[0].field >= 0 && !e.parts_[0].upper && !e.parts_[0].dtos)
    e.single_ = e.parts_[0].field;
  std::sort(e.used_.begin(), e.used_.end());
  e.used_.erase(std::unique(e.used_.begin(), e.used_.end()), e.used_.end());
  return e;
}

std::string KeyExpression::evaluate(std::string_view record, int codepage) const {
  auto bytesOf = [&](const KeyField& f) {
    if (f.offset < 0 || static_cast<size_t>(f.offset) + f.length > record.size())
      return std::string(f.length, ' ');
    return std::string(record.substr(f.offset, f.length));
  };
  if (type_ != KeyType::Character) {
    std::string raw = bytesOf(fields_[parts_[0].field]);
    return type_ == KeyType::Date ? date_key(raw) : numeric_key(raw);
  }
  std::string key;
  key.reserve(length_);
  for (const Part& part : parts_) {
    std::string s = part.field < 0 ? part.literal : bytesOf(fields_[part.field]);
    if (part.dtos && trim(s).empty()) s = std::string(8, ' ');
    key += part.upper ? upper_in_codepage(s, codepage) : s;
  }
  key.resize(length_, ' ');
  return key;
}

}  // namespace qm::tables
