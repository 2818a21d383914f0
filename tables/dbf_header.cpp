#include "tables/dbf_header.h"

#include <cstring>

#include "core/error.h"
#include "core/text.h"
#include "tables/byte_order.h"
#include "tables/codepage.h"

namespace qm::tables {
namespace {

[[noreturn]] void bad(const std::string& path, const std::string& what) {
  throw TableError("Corrupt table '" + path + "': " + what);
}

bool dbase_type(char t) {
  // Letters of dBase III/IV/5 and FoxPro 2.x 32-byte descriptors.
  return std::strchr("CNFLDMBGPIYTVQW0@O+", t) != nullptr && t != 0;
}

std::string field_name(const unsigned char* p, int maxLen, int codepage) {
  int n = 0;
  while (n < maxLen && p[n] != 0) ++n;
  std::string raw(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  return trim_right(to_utf8(raw, codepage));
}

struct Layout {
  bool ok = false;
  int terminator = 0;  // offset of the 0x0D
  std::vector<FieldLayout> fields;
};

// Level 7: 68-byte header, 48-byte descriptors.
Layout try48(const unsigned char* d, std::size_t size, int headerLength, int recordLength) {
  Layout l;
  // Bytes 32-63: an ASCII driver name, NUL-padded.
  bool inPad = false;
  for (int i = 32; i < 64; ++i) {
    unsigned char c = d[i];
    if (c == 0) {
      inPad = true;
    } else if (inPad || c < 0x20 || c > 0x7E) {
      return l;
    }
  }
  int sum = 0;
  for (int pos = 68;; pos += 48) {
    if (pos >= headerLength || static_cast<std::size_t>(pos) >= size) return l;
    if (d[pos] == 0x0D) {
      l.terminator = pos;
      break;
    }
    if (static_cast<std::size_t>(pos) + 48 > size || pos + 48 > headerLength) return l;
    FieldLayout f;
    f.def.type = static_cast<char>(d[pos + 32]);
    if (!level7_type(f.def.type) && f.def.type != 'P') return l;
    f.def.length = d[pos + 33];
    f.def.decimals = d[pos + 34];
    if (f.def.length == 0 || d[pos] == 0) return l;
    f.offset = 1 + sum;
    f.descriptorOffset = pos;
    sum += f.def.length;
    l.fields.push_back(std::move(f));
  }
  if (l.fields.empty() || sum != recordLength - 1) return l;
  l.ok = true;
  return l;
}

// dBase III/IV/5 and FoxPro: 32-byte header and descriptors.
Layout try32(const unsigned char* d, std::size_t size, int headerLength, int recordLength) {
  Layout l;
  int sum = 0;
  for (int pos = 32;; pos += 32) {
    if (pos >= headerLength || static_cast<std::size_t>(pos) >= size) return l;
    if (d[pos] == 0x0D) {
      l.terminator = pos;
      break;
    }
    if (static_cast<std::size_t>(pos) + 32 > size || pos + 32 > headerLength) return l;
    FieldLayout f;
    f.def.type = static_cast<char>(d[pos + 11]);
    if (!dbase_type(f.def.type)) return l;
    f.def.length = d[pos + 16];
    f.def.decimals = d[pos + 17];
    f.foxFlags = d[pos + 18];
    if (d[pos] == 0) return l;
    f.descriptorOffset = pos;
    sum += f.def.length;
    l.fields.push_back(std::move(f));
  }
  if (l.fields.empty()) return l;
  if (sum != recordLength - 1) {
    // Some writers keep the high byte of a long character field in the decimals byte;
    // believe it only when the record length then adds up.
    int wide = 0;
    for (const auto& f : l.fields)
      wide += f.def.type == 'C' ? f.def.length + 256 * f.def.decimals : f.def.length;
    if (wide != recordLength - 1) return l;
    for (auto& f : l.fields)
      if (f.def.type == 'C') {
        f.def.length += 256 * f.def.decimals;
        f.def.decimals = 0;
      }
  }
  int off = 1;
  for (auto& f : l.fields) {
    if (f.def.length == 0) return l;
    f.offset = off;
    off += f.def.length;
  }
  l.ok = true;
  return l;
}

}  // namespace

bool level7_type(char t) {
  return t != 0 && std::strchr("CNFLDMBGI+O@", t) != nullptr;
}

DbfHeader parse_header(const unsigned char* d, std::size_t size, std::uint64_t fileSize,
                       const std::string& path) {
  if (size < 32 || fileSize < 32) bad(path, "the header is truncated");
  DbfHeader h;
  h.version = d[0];
  h.recordCount = u32le(d + 4);
  h.headerLength = u16le(d + 8);
  h.recordLength = u16le(d + 10);
  h.productionIndex = d[28] == 0x01;
  h.ldid = d[29];
  if (h.version == 0x02) bad(path, "dBase II tables are not supported");
  if (h.headerLength < 33)
    bad(path, "the header length " + std::to_string(h.headerLength) + " is too small");
  if (static_cast<std::uint64_t>(h.headerLength) > fileSize)
    bad(path, "the header length " + std::to_string(h.headerLength) +
                  " is beyond the end of the file (" + std::to_string(fileSize) + " bytes)");
  if (h.recordLength < 2)
    bad(path, "the record length " + std::to_string(h.recordLength) + " is too small");

  Layout l48, l32;
  bool tryLevel7 = (h.version & 7) == 4 && size >= 69;
  if (tryLevel7) l48 = try48(d, size, h.headerLength, h.recordLength);
  l32 = try32(d, size, h.headerLength, h.recordLength);
  bool use48 = l48.ok;
  if (l48.ok && l32.ok) {
    // Both fit: the layout whose terminator ends the header (or leaves room for the VFP
    // backlink) is the one the writer meant.
    int slack48 = h.headerLength - l48.terminator - 1;
    int slack32 = h.headerLength - l32.terminator - 1;
    use48 = slack48 == 0 || !(slack32 == 0 || slack32 == 263);
  }
  if (!use48 && !l32.ok) {
    if (tryLevel7)
      bad(path,
          "the field descriptors do not match the record length " + std::to_string(h.recordLength));
    bad(path, "the field descriptors do not match the record length " +
                  std::to_string(h.recordLength) + " or the header is truncated");
  }
  Layout& l = use48 ? l48 : l32;
  h.fields = std::move(l.fields);

  if (use48) {
    h.dialect = Dialect::Level7;
    h.memo = (h.version & 0x80) ? MemoKind::Dbt4 : MemoKind::None;
    h.driverName.assign(reinterpret_cast<const char*>(d + 32), 32);
    h.driverName.resize(std::strlen(h.driverName.c_str()));
    int cp = codepage_from_driver_name(h.driverName);
    if (!cp) cp = codepage_from_ldid(h.ldid);
    h.codepage = cp ? cp : 1252;
  } else {
    switch (h.version) {
      case 0x30:
      case 0x31:
      case 0x32:
        h.dialect = Dialect::VisualFoxPro;
        h.memo = MemoKind::None;
        for (const auto& f : h.fields)
          if (f.def.type == 'M' || f.def.type == 'G' || f.def.type == 'W' || (f.def.type == 'P'))
            h.memo = MemoKind::Fpt;
        break;
      case 0xF5:
      case 0xFB:
        h.dialect = Dialect::FoxPro;
        h.memo = h.version == 0xF5 ? MemoKind::Fpt : MemoKind::None;
        break;
      case 0x83:
        h.dialect = Dialect::DBase3;
        h.memo = MemoKind::Dbt3;
        break;
      case 0x03:
        h.dialect = Dialect::DBase3;
        h.memo = MemoKind::None;
        break;
      default:
        h.dialect = Dialect::DBase4;
        h.memo = (h.version & 0x80) ? MemoKind::Dbt4 : MemoKind::None;
        break;
    }
    int cp = codepage_from_ldid(h.ldid);
    h.codepage = cp ? cp : 1252;
  }
  int nameLen = use48 ? 32 : 11;
  for (auto& f : h.fields) f.def.name = field_name(d + f.descriptorOffset, nameLen, h.codepage);
  return h;
}

std::vector<FieldDef> normalize_level7_defs(std::vector<FieldDef> defs, const std::string& path) {
  auto refuse = [&](const FieldDef& f, const std::string& why) {
    throw TableError("Cannot create table '" + path + "': field '" + f.name + "' " + why);
  };
  if (defs.empty()) throw TableError("Cannot create table '" + path + "': it has no fields");
  if (defs.size() > 1024) throw TableError("Cannot create table '" + path + "': too many fields");
  int sum = 1;
  for (size_t i = 0; i < defs.size(); ++i) {
    FieldDef& f = defs[i];
    if (f.name.empty()) refuse(f, "has no name");
    if (f.name.size() > 31) refuse(f, "has a name longer than 31 characters");
    for (char c : f.name)
      if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
        refuse(f, "has a name with a character other than ASCII letters and digits");
    for (size_t k = 0; k < i; ++k)
      if (iequals(defs[k].name, f.name)) refuse(f, "is defined twice");
    int fixed = 0;
    switch (f.type) {
      case 'L':
        fixed = 1;
        break;
      case 'D':
        fixed = 8;
        break;
      case 'I':
      case '+':
        fixed = 4;
        break;
      case 'O':
      case '@':
        fixed = 8;
        break;
      case 'M':
      case 'B':
      case 'G':
        fixed = 10;
        break;
      case 'C':
        if (f.length < 1 || f.length > 254) refuse(f, "has a length outside 1 to 254");
        f.decimals = 0;
        break;
      case 'N':
      case 'F':
        if (f.length < 1 || f.length > 20) refuse(f, "has a length outside 1 to 20");
        if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2))
          refuse(f, "has more decimals than its length allows");
        break;
      default:
        refuse(f, std::string("has the type '") + f.type + "', which a level-7 table cannot hold");
    }
    if (fixed) {
      if (f.length == 0) f.length = fixed;
      if (f.length != fixed)
        refuse(f, std::string("of type '") + f.type + "' must have the length " +
                      std::to_string(fixed));
      f.decimals = 0;
    }
    sum += f.length;
  }
  if (sum > 65535) throw TableError("Cannot create table '" + path + "': the record is too long");
  return defs;
}

bool has_memo_fields(const std::vector<FieldDef>& defs) {
  for (const auto& f : defs)
    if (f.type == 'M' || f.type == 'B' || f.type == 'G') return true;
  return false;
}

int record_length_of(const std::vector<FieldDef>& defs) {
  int n = 1;
  for (const auto& f : defs) n += f.length;
  return n;
}

void put_date_and_count(unsigned char* p, const DateTime& date, std::uint32_t count) {
  Ymd ymd = ymd_from_day(date.day);
  int y = ymd.year - 1900;
  p[0] = static_cast<unsigned char>(y < 0 ? 0 : (y > 255 ? 255 : y));
  p[1] = static_cast<unsigned char>(ymd.month);
  p[2] = static_cast<unsigned char>(ymd.day);
  for (int i = 0; i < 4; ++i) p[3 + i] = static_cast<unsigned char>(count >> (8 * i));
}

std::vector<unsigned char> build_level7_file(const std::vector<FieldDef>& defs,
                                             const std::string& driverName, std::uint8_t ldid,
                                             const DateTime& date) {
  const int n = static_cast<int>(defs.size());
  const int headerLength = 68 + 48 * n + 1;
  const int recordLength = record_length_of(defs);
  std::vector<unsigned char> b(static_cast<size_t>(headerLength) + 1, 0);
  b[0] = has_memo_fields(defs) ? 0x8C : 0x04;
  put_date_and_count(&b[1], date, 0);
  b[8] = static_cast<unsigned char>(headerLength & 0xFF);
  b[9] = static_cast<unsigned char>(headerLength >> 8);
  b[10] = static_cast<unsigned char>(recordLength & 0xFF);
  b[11] = static_cast<unsigned char>(recordLength >> 8);
  b[29] = ldid;
  std::memcpy(&b[32], driverName.data(), std::min<size_t>(driverName.size(), 31));
  for (int i = 0; i < n; ++i) {
    unsigned char* p = &b[static_cast<size_t>(68 + 48 * i)];
    const FieldDef& f = defs[static_cast<size_t>(i)];
    std::memcpy(p, f.name.data(), std::min<size_t>(f.name.size(), 31));
    p[32] = static_cast<unsigned char>(f.type);
    p[33] = static_cast<unsigned char>(f.length);
    p[34] = static_cast<unsigned char>(f.decimals);
    if (f.type == '+') p[42] = 1;  // next autoincrement value, u32 at 42
  }
  b[static_cast<size_t>(headerLength - 1)] = 0x0D;
  b[static_cast<size_t>(headerLength)] = 0x1A;
  return b;
}

}  // namespace qm::tables
