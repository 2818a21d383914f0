#include "source/text/encoding.h"

#include <cstdint>
#include <cstring>

#include "core/text.h"
#include "source/text/text_source.h"
#include "tables/codepage.h"

namespace qm::source {

bool valid_utf8(std::string_view s, bool truncatedTail) {
  std::size_t i = 0, n = s.size();
  while (i < n) {
    i = ascii_run_end(s, i);
    if (i == n) break;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (len == 0 || c > 0xF4) return false;
    if (i + static_cast<std::size_t>(len) > n) {
      if (!truncatedTail) return false;
      for (std::size_t k = i + 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80) return false;
      return true;
    }
    unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
    // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
        (c == 0xF4 && c1 > 0x8F))
      return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

bool codepage_supported(int codepage) {
  return codepage == kUtf8 || codepage == 1252 || tables::codepage_known(codepage);
}

namespace {

// 0x80..0x9F of Windows-1252; the rest of its upper half is Latin-1.
const char16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void from_cp1252(std::string& s) {
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    char32_t u = c < 0x80 ? c : c < 0xA0 ? kCp1252High[c - 0x80] : c;
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  s.swap(out);
}

}  // namespace

void decode_in_place(std::string& s, int codepage) {
  if (is_ascii(s)) return;
  if (codepage == kUtf8) {
    if (!valid_utf8(s)) from_cp1252(s);
  } else if (codepage == 1252) {
    from_cp1252(s);
  } else {
    s = tables::to_utf8(s, codepage);
  }
}

int utf16_bom(std::string_view head) {
  if (head.size() >= 2 && head[0] == '\xFF' && head[1] == '\xFE') return 1;
  if (head.size() >= 2 && head[0] == '\xFE' && head[1] == '\xFF') return 2;
  return 0;
}

void Utf16Decoder::decode(std::string_view bytes, std::string& out) {
  auto unit = [this](unsigned char a, unsigned char b) {
    return static_cast<char16_t>(bigEndian_ ? a << 8 | b : b << 8 | a);
  };
  auto put = [&](char16_t u) {
    if (high_ != 0) {
      if (u >= 0xDC00 && u < 0xE000) {
        append_utf8(out, 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (u - 0xDC00));
        high_ = 0;
        return;
      }
      append_utf8(out, 0xFFFD);
      high_ = 0;
    }
    if (u >= 0xD800 && u < 0xDC00)
      high_ = u;
    else if (u >= 0xDC00 && u < 0xE000)
      append_utf8(out, 0xFFFD);
    else
      append_utf8(out, u);
  };
  std::size_t i = 0;
  if (!carry_.empty() && !bytes.empty()) {
    put(unit(static_cast<unsigned char>(carry_[0]), static_cast<unsigned char>(bytes[0])));
    carry_.clear();
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2)
    put(unit(static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1])));
  if (i < bytes.size()) carry_.assign(1, bytes[i]);
}

void Utf16Decoder::finish(std::string& out) {
  if (high_ != 0 || !carry_.empty()) append_utf8(out, 0xFFFD);
  high_ = 0;
  carry_.clear();
}

}  // namespace qm::source
