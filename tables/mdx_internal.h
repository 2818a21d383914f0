// What the pieces of the index engine share: the byte layout of its pages and the nodes read
// from them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "tables/mdx.h"

namespace qm::tables {

inline constexpr std::uint32_t kPage = 512;
inline constexpr std::uint32_t kHeaderBytes = 2048;  // file header and tag table: pages 0-3
inline constexpr std::uint32_t kFirstBlockPage = 4;
inline constexpr int kTagTableOffset = 544;
inline constexpr int kTagEntryLength = 32;
inline constexpr int kMaxTags = 47;
inline constexpr int kMaxDepth = 40;
inline constexpr int kMaxCharKey = 100;

inline std::uint32_t get32(std::string_view b, size_t at) {
  return std::uint32_t(static_cast<unsigned char>(b[at])) |
         std::uint32_t(static_cast<unsigned char>(b[at + 1])) << 8 |
         std::uint32_t(static_cast<unsigned char>(b[at + 2])) << 16 |
         std::uint32_t(static_cast<unsigned char>(b[at + 3])) << 24;
}
inline std::uint16_t get16(std::string_view b, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
inline void put32(std::string& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void put16(std::string& b, size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline std::string cstr(std::string_view b, size_t at, size_t max) {
  std::string_view s = b.substr(at, max);
  return std::string(s.substr(0, std::min(s.find('\0'), s.size())));
}
inline void put_date(std::string& b, size_t at) {
  Ymd d = ymd_from_day(today().day);
  b[at] = static_cast<char>(std::clamp(d.year - 1900, 0, 255));
  b[at + 1] = static_cast<char>(d.month);
  b[at + 2] = static_cast<char>(d.day);
}

struct MdxFile::Node {
  std::uint32_t page = 0;
  bool leaf = true;
  std::uint32_t link = 0;
  std::vector<MdxEntry> items;  // recNo holds the child page in interior nodes
  std::uint32_t right = 0;      // interior: the right-most child
  int n() const { return static_cast<int>(items.size()); }
  std::uint32_t child(int i) const { return i < n() ? items[i].recNo : right; }
};

struct MdxFile::Frame {
  Node node;
  int idx = 0;  // interior: the child taken (n = the right-most); leaf: the item
};

}  // namespace qm::tables
