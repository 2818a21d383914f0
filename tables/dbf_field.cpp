// A field of the current record: its value read and written as text, number, date or memo.

#include "tables/dbf_table_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "tables/codepage.h"
#include "tables/field_codec.h"

namespace qm::tables {

namespace {

std::string def_text(const FieldDef& d) {
  std::string s(1, d.type);
  s += "(" + std::to_string(d.length);
  if (d.type == 'N' || d.type == 'F') s += "," + std::to_string(d.decimals);
  return s + ")";
}

// "3:04:05 PM", "15:04", "15:04:05.250" after a date.
bool parse_time(std::string_view t, std::int32_t& ms) {
  std::string s = to_upper_ascii(trim(t));
  bool pm = false, am = false;
  if (ends_with(s, "PM") || ends_with(s, "AM")) {
    pm = ends_with(s, "PM");
    am = !pm;
    s = trim(std::string_view(s).substr(0, s.size() - 2));
  }
  int parts[3] = {0, 0, 0};
  int frac = 0;
  int n = 0;
  size_t i = 0;
  while (i < s.size() && n < 3) {
    int v = 0, w = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && w < 3) v = v * 10 + (s[i++] - '0'), ++w;
    if (w == 0) return false;
    parts[n++] = v;
    if (i < s.size() && s[i] == ':') {
      ++i;
      continue;
    }
    if (i < s.size() && s[i] == '.' && n == 3) {
      ++i;
      int w2 = 0, f = 0;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9' && w2 < 3)
        f = f * 10 + (s[i++] - '0'), ++w2;
      while (w2 > 0 && w2 < 3) f *= 10, ++w2;
      frac = f;
    }
    break;
  }
  if (i != s.size() || n < 2) return false;
  int h = parts[0];
  if (am || pm) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
    if (pm) h += 12;
  }
  if (h > 23 || parts[1] > 59 || parts[2] > 59) return false;
  ms = ((h * 60 + parts[1]) * 60 + parts[2]) * 1000 + frac;
  return true;
}

bool parse_date_time(std::string_view text, DateTime& out) {
  std::string t = trim(text);
  if (parse_date(t, out)) return true;
  auto sp = t.find(' ');
  if (sp == std::string::npos) return false;
  DateTime d;
  std::int32_t ms = 0;
  if (!parse_date(std::string_view(t).substr(0, sp), d)) return false;
  if (!parse_time(std::string_view(t).substr(sp + 1), ms)) return false;
  d.ms = ms;
  out = d;
  return true;
}

// A date kept in a number: the days since 1899-12-30, the time of day as their fraction.
double to_float_days(const DateTime& d) {
  return static_cast<double>(d.day - kDay18991230) + d.ms / 86400000.0;
}

DateTime from_float_days(double v) {
  DateTime d;
  double day = std::floor(v);
  d.day = static_cast<std::int64_t>(day) + kDay18991230;
  d.ms = static_cast<std::int32_t>(std::llround((v - day) * 86400000.0));
  if (d.ms >= 86400000) d.ms = 86399999;
  return d;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// DbfField

DbfField::DbfField(DbfTable& table, int index, FieldDef def)
    : table_(table), index_(index), def_(std::move(def)) {
  switch (def_.type) {
    case 'D':
      displayWidth_ = 10;
      break;
    case '@':
    case 'T':
      displayWidth_ = 20;
      break;
    case 'L':
      displayWidth_ = 5;
      break;
    case 'I':
    case '+':
      displayWidth_ = 11;
      break;
    case 'O':
    case 'Y':
      displayWidth_ = 20;
      break;
    default:
      displayWidth_ = std::max(def_.length, 1);
  }
}

namespace {

struct FieldAccess {
  DbfTable::Impl& m;
  const FieldLayout& lay;
  const FieldDef& def;
  int index;

  const char* bytes() const { return m.rec.data() + lay.offset; }
  int len() const { return lay.def.length; }
  Dialect dialect() const { return m.hdr.dialect; }
  bool vfp() const { return m.hdr.dialect == Dialect::VisualFoxPro; }
  bool memo() const { return m.memoField[static_cast<size_t>(index)]; }

  [[noreturn]] void refuse(const std::string& what) const { throw TableError(what); }
  std::string quoted(std::string_view v) const {
    std::string q(1, '\'');
    q.append(v);
    q += '\'';
    return q;
  }
  std::string named() const { return "field '" + def.name + "'"; }

  // Raw memo bytes (pending or stored).
  std::string memoBytes() const {
    const auto& p = m.memoPending[static_cast<size_t>(index)];
    if (p) return *p;
    if (!m.memo) return {};
    std::uint64_t block = 0;
    if (vfp() && len() == 4) {
      block = static_cast<std::uint32_t>(codec::get_le32(bytes()));
    } else if (!codec::get_memo_block(bytes(), len(), block)) {
      m.corrupt("the memo pointer '" + std::string(bytes(), static_cast<size_t>(len())) + "' of " +
                named() + " in record " + std::to_string(m.recNo) + " is not a number");
    }
    return m.memo->read(block);
  }

  // Every set goes through here: the usual case (an open, writable table in edit or insert)
  // is a few compares, the refusals are kept out of line.
  char* target() const {
    if (m.st != TableState::SetKey && !(m.active && m.writable && m.editing())) refuseTarget();
    return m.rec.data() + lay.offset;
  }
  [[gnu::noinline, gnu::cold]] void refuseTarget() const {
    m.requireWritable();
    throw TableError("Table '" + m.file.path() + "' is not in edit or insert mode");
  }
  void changed() const {
    m.modifiedFlag = true;
    if (m.listeners.empty()) return;
    for (auto* l : std::vector<TableListener*>(m.listeners)) l->fieldChanged(index);
  }
  void setBlank() const {
    char* p = target();
    if (memo()) {
      m.memoPending[static_cast<size_t>(index)] = std::string();
      m.anyMemoPending = true;
    } else {
      std::memcpy(p, m.blank.data() + lay.offset, static_cast<size_t>(len()));
    }
    changed();
  }
  void setNumberResult(codec::NumberFit r, std::string_view shown) const {
    if (r == codec::NumberFit::NotANumber)
      refuse(quoted(shown) + " is not a valid number for " + named());
    if (r == codec::NumberFit::TooWide)
      refuse("Value " + quoted(shown) + " does not fit " + named() + " " + def_text(def));
  }
  void putLong(long long v, std::string_view shown) const {
    if (v < -2147483647LL || v > 2147483647LL)
      refuse("Value " + quoted(shown) + " is out of range for " + named());
    codec::put_long7(target(), static_cast<std::int32_t>(v));
  }
  void putDouble(double v, std::string_view shown) const {
    if (!std::isfinite(v)) refuse(quoted(shown) + " is not a valid number for " + named());
    codec::put_double7(target(), v);
  }
  void putText(std::string_view text) const {
    char* p = target();
    const int w = len();
    if (text.size() <= static_cast<size_t>(w)) {
      // Copied while it is looked at: for the ASCII text most fields get, that is all. A
      // text with other bytes is written again below, over what this put.
      const size_t n = text.size();
      if (copy_noting_ascii(p, text)) {
        std::memset(p + n, ' ', static_cast<size_t>(w) - n);
        return;
      }
    } else if (is_ascii(text)) {
      size_t n = std::min(text.size(), static_cast<size_t>(w));
      std::memcpy(p, text.data(), n);
      std::memset(p + n, ' ', static_cast<size_t>(w) - n);
      return;
    }
    std::string b = from_utf8(text, m.hdr.codepage);
    size_t n = std::min(b.size(), static_cast<size_t>(w));
    if (m.hdr.codepage == 65001)  // never cut inside a character
      while (n > 0 && n < b.size() && (static_cast<unsigned char>(b[n]) & 0xC0) == 0x80) --n;
    std::memcpy(p, b.data(), n);
    std::memset(p + n, ' ', static_cast<size_t>(w) - n);
  }
  void readOnlyType() const {
    refuse(named() + " of type '" + std::string(1, def.type) + "' cannot be written");
  }
};

}  // namespace

#define QM_FIELD                                                                      \
  FieldAccess a {                                                                     \
    *table_.impl_, *table_.impl_->layoutOf[static_cast<size_t>(index_)], def_, index_ \
  }

bool DbfField::isNull() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  if (a.memo()) {
    const auto& pend = a.m.memoPending[static_cast<size_t>(index_)];
    if (pend) return pend->empty();
    if (a.vfp() && a.len() == 4) return codec::get_le32(p) == 0;
    std::uint64_t block = 0;
    return !codec::get_memo_block(p, a.len(), block) || block == 0;
  }
  switch (def_.type) {
    case 'L': {
      bool b;
      return !codec::get_logical(p[0], b);
    }
    case 'D': {
      DateTime d;
      return !codec::get_date(p, d);
    }
    case '@': {
      DateTime d;
      return a.len() != 8 || !codec::get_timestamp7(p, d);
    }
    case 'T': {
      DateTime d;
      return a.len() != 8 || !codec::get_vfp_datetime(p, d);
    }
    case 'I':
    case '+':
    case 'O':
    case 'Y':
    case 'B':
      return a.vfp() ? false : codec::all_zero(p, a.len());
    default:
      return codec::all_blank(p, a.len());
  }
}

std::string DbfField::asString() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  const int n = a.len();
  if (a.memo()) {
    std::string raw = a.memoBytes();
    return def_.type == 'M' ? to_utf8(raw, a.m.hdr.codepage) : raw;
  }
  switch (def_.type) {
    case 'N':
    case 'F': {
      std::string t = trim(std::string_view(p, static_cast<size_t>(n)));
      double v;
      if (t.empty()) return {};
      return codec::parse_number(t, v) ? format_general(v) : t;
    }
    case 'L': {
      bool b;
      return codec::get_logical(p[0], b) ? (b ? "True" : "False") : "";
    }
    case 'D': {
      DateTime d;
      return codec::get_date(p, d) ? format_short_date(d) : "";
    }
    case '@': {
      DateTime d;
      return n == 8 && codec::get_timestamp7(p, d) ? format_date_time(d) : "";
    }
    case 'T': {
      DateTime d;
      return n == 8 && codec::get_vfp_datetime(p, d) ? format_date_time(d) : "";
    }
    case 'I':
    case '+':
      if (n != 4) return {};
      if (a.vfp()) return std::to_string(codec::get_le32(p));
      return codec::all_zero(p, 4) ? "" : std::to_string(codec::get_long7(p));
    case 'O':
      if (n != 8 || codec::all_zero(p, 8)) return {};
      return format_general(codec::get_double7(p));
    case 'B':  // Visual FoxPro double (the dBase B is a memo, handled above)
      return n == 8 ? format_general(codec::get_le_double(p)) : "";
    case 'Y':
      return n == 8 ? format_general(static_cast<double>(codec::get_le64(p)) / 10000.0) : "";
    default: {
      std::string_view raw(p, codec::text_end(p, static_cast<size_t>(n)));
      if (is_ascii(raw)) return std::string(raw);
      return to_utf8(raw, a.m.hdr.codepage);
    }
  }
}

void DbfField::readString(std::string& text) const {
  table_.impl_->requireActive();
  QM_FIELD;
  if (def_.type != 'C' || a.memo()) {
    text = asString();
    return;
  }
  const char* p = a.bytes();
  std::string_view raw(p, codec::text_end(p, static_cast<size_t>(a.len())));
  if (raw.empty())
    text.clear();
  else if (is_ascii(raw))
    text.assign(raw);
  else
    text = to_utf8(raw, a.m.hdr.codepage);
}

bool DbfField::trySetAsString(std::string_view text) {
  if (def_.type == 'N' || def_.type == 'F') {
    table_.impl_->requireActive();
    QM_FIELD;
    if (!a.memo()) {
      char* p = a.target();
      auto r = codec::format_number_text(text, a.len(), def_.decimals, p);
      if (r == codec::NumberFit::Blank)
        std::memset(p, ' ', static_cast<size_t>(a.len()));
      else if (r != codec::NumberFit::Ok)
        return false;
      a.changed();
      return true;
    }
  }
  try {
    setAsString(text);
    return true;
  } catch (const TableError&) {
    return false;
  }
}

void DbfField::setAsString(std::string_view text) {
  table_.impl_->requireActive();
  QM_FIELD;
  if (a.memo()) {
    a.target();
    a.m.anyMemoPending = true;
    a.m.memoPending[static_cast<size_t>(index_)] =
        def_.type == 'M' ? from_utf8(text, a.m.hdr.codepage) : std::string(text);
    a.changed();
    return;
  }
  switch (def_.type) {
    case 'C':
      a.putText(text);
      break;
    case 'N':
    case 'F': {
      char* p = a.target();
      auto r = codec::format_number_text(text, a.len(), def_.decimals, p);
      if (r == codec::NumberFit::Blank) {
        std::memset(p, ' ', static_cast<size_t>(a.len()));
      } else if (r != codec::NumberFit::Ok) {
        a.setNumberResult(r, text);
      }
      break;
    }
    case 'L': {
      std::string t = trim(text);
      char* p = a.target();
      if (t.empty()) {
        p[0] = ' ';
        break;
      }
      auto prefix_of = [&](const char* word) {
        std::string_view w(word);
        return t.size() <= w.size() && iequals(t, w.substr(0, t.size()));
      };
      if (prefix_of("True") || prefix_of("Yes"))
        p[0] = 'T';
      else if (prefix_of("False") || prefix_of("No"))
        p[0] = 'F';
      else
        a.refuse(a.quoted(text) + " is not a valid boolean value for " + a.named());
      break;
    }
    case 'D': {
      std::string t = trim(text);
      char* p = a.target();
      DateTime d;
      if (t.empty()) {
        std::memset(p, ' ', 8);
      } else if (t.size() == 8 && codec::get_date(t.data(), d)) {
        std::memcpy(p, t.data(), 8);
      } else if (parse_date(t, d) && ymd_from_day(d.day).year <= 9999 &&
                 ymd_from_day(d.day).year >= 1) {
        codec::put_date(p, d);
      } else {
        a.refuse(a.quoted(text) + " is not a valid date for " + a.named());
      }
      break;
    }
    case '@': {
      std::string t = trim(text);
      DateTime d;
      if (t.empty()) {
        std::memset(a.target(), 0, 8);
      } else if (parse_date_time(t, d)) {
        codec::put_timestamp7(a.target(), d);
      } else {
        a.refuse(a.quoted(text) + " is not a valid date and time for " + a.named());
      }
      break;
    }
    case 'I': {
      std::string t = trim(text);
      long long v;
      if (t.empty()) {
        std::memset(a.target(), 0, 4);
      } else if (try_str_to_int(t, v)) {
        a.putLong(v, text);
      } else {
        a.refuse(a.quoted(text) + " is not a valid integer value for " + a.named());
      }
      break;
    }
    case 'O': {
      std::string t = trim(text);
      double v;
      if (t.empty())
        std::memset(a.target(), 0, 8);
      else if (codec::parse_number(t, v))
        a.putDouble(v, text);
      else
        a.refuse(a.quoted(text) + " is not a valid number for " + a.named());
      break;
    }
    default:
      a.readOnlyType();
  }
  a.changed();
}

bool DbfField::asBoolean() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  switch (def_.type) {
    case 'L': {
      bool b = false;
      return codec::get_logical(p[0], b) && b;
    }
    case 'C':
    case 'V': {
      int i = 0;
      while (i < a.len() && p[i] == ' ') ++i;  // a blank-led text is false
      char c = i == 0 ? p[0] : 0;
      return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
    case 'N':
    case 'F':
    case 'I':
    case '+':
    case 'O':
    case 'B':
    case 'Y':
      return isNull() ? false : asFloat() != 0;
    default:
      throw TableError("Field '" + def_.name + "' cannot be read as a logical value");
  }
}

void DbfField::setAsBoolean(bool v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'L':
      a.target()[0] = v ? 'T' : 'F';
      a.changed();
      break;
    case 'C':
      setAsString(v ? "T" : "F");
      break;
    case 'N':
    case 'F':
    case 'I':
    case 'O':
      setAsInteger(v ? 1 : 0);
      break;
    default:
      a.readOnlyType();
  }
}

long long DbfField::asInteger() const {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'I':
    case '+':
      if (a.len() != 4) return 0;
      if (a.vfp()) return codec::get_le32(a.bytes());
      return codec::all_zero(a.bytes(), 4) ? 0 : codec::get_long7(a.bytes());
    case 'N':
    case 'F':
    case 'O':
    case 'B':
    case 'Y': {
      double v = asFloat();
      if (!(std::fabs(v) < 9.2e18))
        throw TableError("Value of field '" + def_.name + "' is out of range");
      return std::llround(v);
    }
    case 'L':
      return asBoolean() ? 1 : 0;
    case 'D':
    case '@':
    case 'T': {
      DateTime d = asDateTime();
      return d.isNull() ? 0 : d.day - kDay18991230;
    }
    default: {
      std::string t = asString();
      if (t.empty()) return 0;
      long long v;
      if (!try_str_to_int(t, v))
        throw TableError("'" + t + "' is not a valid integer value (field '" + def_.name + "')");
      return v;
    }
  }
}

void DbfField::setAsInteger(long long v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'N':
    case 'F': {
      std::string t = std::to_string(v);
      auto r = codec::format_number_text(t, a.len(), def_.decimals, a.target());
      a.setNumberResult(r, t);
      a.changed();
      break;
    }
    case 'I':
      a.putLong(v, std::to_string(v));
      a.changed();
      break;
    case 'O':
      a.putDouble(static_cast<double>(v), std::to_string(v));
      a.changed();
      break;
    case 'L':
      setAsBoolean(v != 0);
      break;
    case 'D':
    case '@': {
      DateTime d;
      d.day = v + kDay18991230;
      setAsDateTime(d);
      break;
    }
    default:
      setAsString(std::to_string(v));
  }
}

double DbfField::asFloat() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  switch (def_.type) {
    case 'N':
    case 'F': {
      double v = 0;
      std::string_view t(p, static_cast<size_t>(a.len()));
      if (codec::all_blank(p, a.len())) return 0;
      if (!codec::parse_number(t, v))
        throw TableError("'" + trim(t) + "' is not a valid floating point value (field '" +
                         def_.name + "')");
      return v;
    }
    case 'O':
      return a.len() == 8 && !codec::all_zero(p, 8) ? codec::get_double7(p) : 0;
    case 'B':
      if (a.vfp() && a.len() == 8) return codec::get_le_double(p);
      break;
    case 'Y':
      return a.len() == 8 ? static_cast<double>(codec::get_le64(p)) / 10000.0 : 0;
    case 'I':
    case '+':
      return static_cast<double>(asInteger());
    case 'L':
      return asBoolean() ? 1 : 0;
    case 'D':
    case '@':
    case 'T': {
      DateTime d = asDateTime();
      return d.isNull() ? 0 : to_float_days(d);
    }
    default:
      break;
  }
  std::string t = asString();
  if (t.empty()) return 0;
  double v;
  if (!codec::parse_number(t, v))
    throw TableError("'" + t + "' is not a valid floating point value (field '" + def_.name + "')");
  return v;
}

void DbfField::setAsFloat(double v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'N':
    case 'F': {
      auto r = codec::format_number_value(v, a.len(), def_.decimals, a.target());
      a.setNumberResult(r, format_general(v));
      a.changed();
      break;
    }
    case 'O':
      a.putDouble(v, format_general(v));
      a.changed();
      break;
    case 'I':
      if (!std::isfinite(v))
        a.refuse("'" + format_general(v) + "' is not a valid number for field '" + def_.name + "'");
      if (std::fabs(v) > 3e9)
        a.refuse("Value '" + format_general(v) + "' is out of range for field '" + def_.name + "'");
      a.putLong(std::llround(v), format_general(v));
      a.changed();
      break;
    case 'D':
    case '@':
      if (!std::isfinite(v) || std::fabs(v) > 3e6)
        a.refuse("'" + format_general(v) + "' is not a valid date for field '" + def_.name + "'");
      setAsDateTime(from_float_days(v));
      break;
    case 'L':
      setAsBoolean(v != 0);
      break;
    default:
      setAsString(format_general(v));
  }
}

DateTime DbfField::asDateTime() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  DateTime d;
  switch (def_.type) {
    case 'D':
      if (!codec::get_date(p, d)) return {};
      return d;
    case '@':
      if (a.len() != 8 || !codec::get_timestamp7(p, d)) return {};
      return d;
    case 'T':
      if (a.len() != 8 || !codec::get_vfp_datetime(p, d)) return {};
      return d;
    case 'N':
    case 'F':
    case 'O':
      return isNull() ? DateTime{} : from_float_days(asFloat());
    default: {
      std::string t = asString();
      if (t.empty()) return {};
      if (!parse_date_time(t, d))
        throw TableError("'" + t + "' is not a valid date (field '" + def_.name + "')");
      return d;
    }
  }
}

void DbfField::setAsDateTime(const DateTime& v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'D': {
      char* p = a.target();
      Ymd y = ymd_from_day(v.day);
      if (v.isNull())
        std::memset(p, ' ', 8);
      else if (v.day < 1 || y.year > 9999)
        a.refuse("The date of day " + std::to_string(v.day) + " does not fit field '" + def_.name +
                 "'");
      else
        codec::put_date(p, v);
      a.changed();
      break;
    }
    case '@': {
      char* p = a.target();
      if (v.isNull())
        std::memset(p, 0, 8);
      else if (v.day < 1 || v.day > 3652059 || v.ms < 0 || v.ms >= 86400000)
        a.refuse("The date and time of day " + std::to_string(v.day) + " do not fit field '" +
                 def_.name + "'");
      else
        codec::put_timestamp7(p, v);
      a.changed();
      break;
    }
    case 'N':
    case 'F':
    case 'O':
      if (v.isNull())
        clear();
      else
        setAsFloat(to_float_days(v));
      break;
    default:
      setAsString(v.isNull() ? std::string() : format_date_time(v));
  }
}

void DbfField::clear() {
  table_.impl_->requireActive();
  QM_FIELD;
  if (def_.type == '+') a.readOnlyType();
  a.setBlank();
}

std::vector<std::string> DbfField::lines() const {
  std::string t = asString();
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\r' || t[i] == '\n') {
      out.push_back(t.substr(start, i - start));
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < t.size()) out.push_back(t.substr(start));
  return out;
}

void DbfField::setLines(const std::vector<std::string>& lines) {
  std::string t;
  for (const auto& l : lines) {
    t += l;
    t += "\r\n";
  }
  setAsString(t);
}

#undef QM_FIELD

}  // namespace qm::tables
