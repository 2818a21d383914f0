// Single-byte code pages of dBase tables and old workbooks, converted at the engine's edge.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::tables {

// Known code pages: 437, 737, 850, 852, 857, 860, 861, 863, 865, 866, 874, 1250, 1251, 1252,
// 1253, 1254, 1255, 1256, 1257, and 65001 (UTF-8, passed through). Anything else reads as 1252.
bool codepage_known(int codepage);
// Bytes in the code page to UTF-8. Never fails: bytes without a character map to U+FFFD.
std::string to_utf8(std::string_view bytes, int codepage);
// UTF-8 to the code page; a character the code page lacks (or invalid UTF-8) becomes '?'.
std::string from_utf8(std::string_view utf8, int codepage);

// Language driver name of a level-7 header ("DBWINUS0", "DB866RU0"): its code page, or 0.
int codepage_from_driver_name(std::string_view name);
// Language driver byte of a 32-byte header (LDID / FoxPro code page mark): its code page, or 0.
int codepage_from_ldid(std::uint8_t ldid);
// The driver name a new table gets for a code page (1252 -> "DBWINUS0").
// "" when no dBase language driver serves the code page.
std::string driver_name_for_codepage(int codepage);
// The header byte 29 mark for a code page (FoxPro / dBase LDID), 0 when there is none.
std::uint8_t ldid_for_codepage(int codepage);

}  // namespace qm::tables
