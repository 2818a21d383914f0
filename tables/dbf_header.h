// The header of a .dbf file: reading every dialect the engine knows (level 7 with 48-byte
// field descriptors, dBase III/IV/5 and FoxPro with 32-byte ones), telling them apart by
// structure, and writing a level-7 header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "tables/dbf_table.h"

namespace qm::tables {

enum class Dialect { DBase3, DBase4, Level7, FoxPro, VisualFoxPro };
enum class MemoKind { None, Dbt3, Dbt4, Fpt };

struct FieldLayout {
  FieldDef def;
  int offset = 0;             // inside the record, after the deletion byte
  std::uint8_t foxFlags = 0;  // Visual FoxPro field flags (0x01 system, 0x02 nullable)
  int descriptorOffset = 0;   // file offset of the field's descriptor
  bool hidden() const { return (foxFlags & 0x01) != 0; }
};

struct DbfHeader {
  Dialect dialect = Dialect::Level7;
  MemoKind memo = MemoKind::None;
  std::uint8_t version = 0;
  std::uint32_t recordCount = 0;
  int headerLength = 0;
  int recordLength = 0;
  bool productionIndex = false;
  std::uint8_t ldid = 0;
  std::string driverName;  // level 7 only
  int codepage = 1252;
  std::vector<FieldLayout> fields;  // every descriptor, hidden ones included
};

// Longest header the engine reads: the header length is a 16-bit value.
constexpr std::size_t kMaxHeaderBytes = 65535;

// Parses a header from the first bytes of a file (at most kMaxHeaderBytes of them) whose real
// size is fileSize. Checks every declared size against the file; raises TableError naming
// `path` and what is wrong.
DbfHeader parse_header(const unsigned char* data, std::size_t size, std::uint64_t fileSize,
                       const std::string& path);

// True for the type letters a level-7 table can be created with.
bool level7_type(char type);
// Checks and completes definitions for a level-7 create (fixed lengths filled in when 0);
// raises TableError naming the table and the field that cannot be created.
std::vector<FieldDef> normalize_level7_defs(std::vector<FieldDef> defs, const std::string& path);
bool has_memo_fields(const std::vector<FieldDef>& defs);
int record_length_of(const std::vector<FieldDef>& defs);

// The bytes of a new, empty level-7 table: header, descriptors, terminator and the end mark.
std::vector<unsigned char> build_level7_file(const std::vector<FieldDef>& defs,
                                             const std::string& driverName, std::uint8_t ldid,
                                             const DateTime& date);

// Header bytes 1-7 (update date and record count) as a writer refreshes them.
void put_date_and_count(unsigned char* p7, const DateTime& date, std::uint32_t count);

}  // namespace qm::tables
