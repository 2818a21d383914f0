// The integers of the table, memo and index file headers, in the byte orders the formats fix.
#pragma once

#include <cstdint>

namespace qm::tables {

inline std::uint32_t u32le(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
inline std::uint16_t u16le(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
// FoxPro memo blocks give their lengths high byte first.
inline std::uint32_t u32be(const unsigned char* p) {
  return std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 |
         std::uint32_t(p[0]) << 24;
}
inline void put_u32le(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace qm::tables
