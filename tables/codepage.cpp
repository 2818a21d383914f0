#include "tables/codepage.h"
#include "core/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace qm::tables {
namespace {

#include "tables/codepage_tables.inc"

constexpr int kUtf8 = 65001;

// The tables are in the order of their code pages, which the search below relies on.
static_assert(std::is_sorted(std::begin(kCodepageTables), std::end(kCodepageTables),
                             [](const CodepageTable& a, const CodepageTable& b) {
                               return a.codepage < b.codepage;
                             }));

const CodepageTable* find_table(int codepage) {
  const auto* it =
      std::lower_bound(std::begin(kCodepageTables), std::end(kCodepageTables), codepage,
                       [](const CodepageTable& t, int cp) { return t.codepage < cp; });
  return it != std::end(kCodepageTables) && it->codepage == codepage ? it : nullptr;
}

const char16_t* high_half(int codepage) {
  const CodepageTable* t = find_table(codepage);
  return t ? t->high : nullptr;
}

// Unknown code pages read as 1252, as the header promises.
const char16_t* table_for(int codepage) {
  const char16_t* t = high_half(codepage);
  return t ? t : high_half(1252);
}

// Reverse map of one code page's upper half, sorted by character.
struct Reverse {
  std::vector<std::pair<char16_t, unsigned char>> entries;
};

const Reverse& reverse_for(int codepage) {
  // One slot per table; built on first use (function-local statics are thread-safe).
  static const std::array<Reverse, std::size(kCodepageTables)> all = [] {
    std::array<Reverse, std::size(kCodepageTables)> r;
    for (size_t i = 0; i < std::size(kCodepageTables); ++i) {
      for (int b = 0; b < 128; ++b) {
        char16_t c = kCodepageTables[i].high[b];
        if (c != 0xFFFD) r[i].entries.emplace_back(c, static_cast<unsigned char>(0x80 + b));
      }
      std::sort(r[i].entries.begin(), r[i].entries.end());
    }
    return r;
  }();
  const CodepageTable* t = find_table(codepage);
  if (!t) t = find_table(1252);
  return t ? all[static_cast<size_t>(t - kCodepageTables)] : all[0];
}

// Decodes one UTF-8 sequence at s[i]; returns false (and advances by one byte) when it is
// malformed, overlong, a surrogate or beyond U+10FFFF.
bool next_utf8(std::string_view s, size_t& i, char32_t& out) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  int n;
  char32_t c;
  if (b < 0x80) {
    out = b;
    ++i;
    return true;
  } else if ((b & 0xE0) == 0xC0) {
    n = 1;
    c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 2;
    c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 3;
    c = b & 0x07;
  } else {
    ++i;
    return false;
  }
  if (i + static_cast<size_t>(n) >= s.size()) {  // fewer continuation bytes than announced
    ++i;
    return false;
  }
  for (int k = 1; k <= n; ++k) {
    unsigned char cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return false;
  }
  out = c;
  i += static_cast<size_t>(n) + 1;
  return true;
}

// The text with every malformed sequence replaced by bad.
std::string keep_valid_utf8(std::string_view s, std::string_view bad) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    char32_t c;
    if (next_utf8(s, i, c))
      out.append(s.data() + start, i - start);
    else
      out.append(bad);
  }
  return out;
}

struct DriverName {
  const char* name;
  int codepage;
};

// The dBase language drivers and their code pages.
constexpr DriverName kDrivers[] = {
    {"DBWINUS0", 1252}, {"DBWINWE0", 1252}, {"DBWINES0", 1252}, {"DB437US0", 437},
    {"DB850US0", 850},  {"DB437UK0", 437},  {"DB850UK0", 850},  {"DB437DE0", 437},
    {"DB850DE0", 850},  {"DB437FR0", 437},  {"DB850FR0", 850},  {"DB850CF0", 850},
    {"DB863CF1", 863},  {"DB437IT0", 437},  {"DB850IT1", 850},  {"DB437NL0", 437},
    {"DB850NL0", 850},  {"DB437ES1", 437},  {"DB850ES0", 850},  {"DB437SV0", 437},
    {"DB850SV1", 850},  {"DB437FI0", 437},  {"DB865DA0", 865},  {"DB865NO0", 865},
    {"DB850PT0", 850},  {"DB860PT0", 860},  {"DB852CZ0", 852},  {"DB852HDC", 852},
    {"DB852PO0", 852},  {"DB852SL0", 852},  {"DB866RU0", 866},  {"DB437GR0", 737},
    {"DB857TR0", 857},
};

// The driver a new table gets per code page: the first name of the list above that carries it.
struct NewDriver {
  int codepage;
  const char* name;
};
constexpr NewDriver kNewDrivers[] = {
    {1252, "DBWINUS0"}, {437, "DB437US0"}, {850, "DB850US0"}, {852, "DB852CZ0"}, {857, "DB857TR0"},
    {860, "DB860PT0"},  {863, "DB863CF1"}, {865, "DB865DA0"}, {866, "DB866RU0"}, {737, "DB437GR0"},
};

}  // namespace

bool codepage_known(int codepage) {
  return codepage == kUtf8 || high_half(codepage) != nullptr;
}

namespace {

// Most texts are ASCII with here and there a letter of the upper half: the runs between those
// go over whole, and a text without one is a single copy. special(out, at) appends what the
// text holds at the upper-half byte at and returns where the next run starts.
template <typename Special>
std::string by_ascii_runs(std::string_view text, std::size_t room, Special special) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::string out;
  for (std::size_t i = 0; i < n;) {
    const std::size_t j = ascii_run_end(text, i);
    if (j == n && i == 0) return std::string(text);
    if (out.empty()) out.reserve(room);
    out.append(p + i, j - i);
    if (j == n) break;
    i = special(out, j);
  }
  return out;
}

}  // namespace

std::string to_utf8(std::string_view bytes, int codepage) {
  if (codepage == kUtf8)
    return is_ascii(bytes) ? std::string(bytes) : keep_valid_utf8(bytes, "\xEF\xBF\xBD");  // U+FFFD
  const char16_t* high = nullptr;
  return by_ascii_runs(bytes, bytes.size() * 2, [&](std::string& out, std::size_t at) {
    if (!high) high = table_for(codepage);
    append_utf8(out, high[static_cast<unsigned char>(bytes[at]) - 0x80]);
    return at + 1;
  });
}

std::string from_utf8(std::string_view utf8, int codepage) {
  if (codepage == kUtf8) return is_ascii(utf8) ? std::string(utf8) : keep_valid_utf8(utf8, "?");
  const std::vector<std::pair<char16_t, unsigned char>>* rev = nullptr;
  return by_ascii_runs(utf8, utf8.size(), [&](std::string& out, std::size_t at) {
    char32_t c;
    if (!next_utf8(utf8, at, c) || c > 0xFFFF) {
      out += '?';
      return at;
    }
    if (!rev) rev = &reverse_for(codepage).entries;  // an unknown code page reads as 1252
    auto it = std::lower_bound(rev->begin(), rev->end(),
                               std::pair<char16_t, unsigned char>(static_cast<char16_t>(c), 0));
    out += it != rev->end() && it->first == c ? static_cast<char>(it->second) : '?';
    return at;
  });
}

int codepage_from_driver_name(std::string_view name) {
  // The header field is NUL-padded; compare the text before the first NUL, ignoring case.
  auto nul = name.find('\0');
  if (nul != std::string_view::npos) name = name.substr(0, nul);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (const auto& d : kDrivers) {
    size_t n = std::strlen(d.name);
    if (name.size() != n) continue;
    bool same = true;
    for (size_t i = 0; i < n && same; ++i) same = upper(name[i]) == d.name[i];
    if (same) return d.codepage;
  }
  // Other drivers of the same families: DBWINxxx are ANSI, DBnnnxxx name their OEM page,
  // except the Greek ones that are built on 437's layout but are in fact 737.
  if (name.size() >= 5 && upper(name[0]) == 'D' && upper(name[1]) == 'B') {
    if (upper(name[2]) == 'W' && upper(name[3]) == 'I' && upper(name[4]) == 'N') return 1252;
    if (name[2] >= '0' && name[2] <= '9' && name[3] >= '0' && name[3] <= '9' && name[4] >= '0' &&
        name[4] <= '9') {
      int cp = (name[2] - '0') * 100 + (name[3] - '0') * 10 + (name[4] - '0');
      if (cp == 437 && name.size() >= 7 && upper(name[5]) == 'G' && upper(name[6]) == 'R')
        return 737;
      if (high_half(cp)) return cp;
    }
  }
  return 0;
}

int codepage_from_ldid(std::uint8_t ldid) {
  switch (ldid) {
    case 0x01:
      return 437;
    case 0x02:
      return 850;
    case 0x03:
      return 1252;
    case 0x08:
      return 865;
    case 0x09:
      return 437;
    case 0x0A:
      return 850;
    case 0x0B:
      return 437;
    case 0x0D:
      return 437;
    case 0x0E:
      return 850;
    case 0x0F:
      return 437;
    case 0x10:
      return 850;
    case 0x11:
      return 437;
    case 0x12:
      return 850;
    case 0x13:
      return 932;
    case 0x14:
      return 850;
    case 0x15:
      return 437;
    case 0x16:
      return 850;
    case 0x17:
      return 865;
    case 0x18:
      return 437;
    case 0x19:
      return 437;
    case 0x1A:
      return 850;
    case 0x1B:
      return 437;
    case 0x1C:
      return 863;
    case 0x1D:
      return 850;
    case 0x1F:
      return 852;
    case 0x22:
      return 852;
    case 0x23:
      return 852;
    case 0x24:
      return 860;
    case 0x25:
      return 850;
    case 0x26:
      return 866;
    case 0x37:
      return 850;
    case 0x40:
      return 852;
    case 0x4D:
      return 936;
    case 0x4E:
      return 949;
    case 0x4F:
      return 950;
    case 0x50:
      return 874;
    case 0x57:
      return 1252;
    case 0x58:
      return 1252;
    case 0x59:
      return 1252;
    case 0x64:
      return 852;
    case 0x65:
      return 866;
    case 0x66:
      return 865;
    case 0x67:
      return 861;
    case 0x6A:
      return 737;
    case 0x6B:
      return 857;
    case 0x6C:
      return 863;
    case 0x78:
      return 950;
    case 0x79:
      return 949;
    case 0x7A:
      return 936;
    case 0x7B:
      return 932;
    case 0x7C:
      return 874;
    case 0x7D:
      return 1255;
    case 0x7E:
      return 1256;
    case 0xC8:
      return 1250;
    case 0xC9:
      return 1251;
    case 0xCA:
      return 1254;
    case 0xCB:
      return 1253;
    case 0xCC:
      return 1257;
    default:
      return 0;
  }
}

std::string driver_name_for_codepage(int codepage) {
  for (const auto& d : kNewDrivers)
    if (d.codepage == codepage) return d.name;
  return "";
}

std::uint8_t ldid_for_codepage(int codepage) {
  switch (codepage) {
    case 437:
      return 0x01;
    case 850:
      return 0x02;
    case 1252:
      return 0x03;
    case 852:
      return 0x64;
    case 866:
      return 0x65;
    case 865:
      return 0x66;
    case 861:
      return 0x67;
    case 737:
      return 0x6A;
    case 857:
      return 0x6B;
    case 863:
      return 0x6C;
    case 860:
      return 0x24;
    case 874:
      return 0x7C;
    case 1255:
      return 0x7D;
    case 1256:
      return 0x7E;
    case 1250:
      return 0xC8;
    case 1251:
      return 0xC9;
    case 1254:
      return 0xCA;
    case 1253:
      return 0xCB;
    case 1257:
      return 0xCC;
    default:
      return 0;
  }
}

}  // namespace qm::tables
