// Helpers shared by the engine's tests: scratch folders and raw file access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tables/dbf_table.h"

namespace qm::tables::test {

// A fresh folder under the system's temporary folder, removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qm-tables-") + (info ? info->test_suite_name() : "x") + "-" +
                       (info ? info->name() : "y");
    for (char& c : name)
      if (c == '/') c = '_';
    // Other checkouts on the machine run the same tests at the same time.
    name += "-" + std::to_string(std::random_device{}());
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void make_table(const ScratchDir& dir, const std::string& name,
                       const std::vector<FieldDef>& defs) {
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName(name);
  t.setFieldDefs(defs);
  t.setTableLevel(7);
  t.createTable();
}

}  // namespace qm::tables::test

namespace qm::tables::test {

struct RawField {
  std::string name;
  char type;
  int length;
  int decimals = 0;
  std::uint8_t flags = 0;  // Visual FoxPro field flags
};

inline void put16(std::string& b, size_t at, int v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(std::string& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  put32(s, 0, v);
  return s;
}
inline std::string be32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i)
    s[static_cast<size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
  return s;
}
inline std::string hex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size();) {
    if (h[i] == ' ') {
      ++i;
      continue;
    }
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

// A .dbf as the named writer lays it out, byte by byte. Records are given without the
// deletion byte unless `withFlag`; each is checked to have the record's length.
inline std::string level7_file(std::uint8_t version, const std::vector<RawField>& fields,
                               const std::vector<std::string>& records,
                               const std::string& driver = "DBWINUS0", std::uint8_t ldid = 0) {
  const int n = static_cast<int>(fields.size());
  const int hl = 68 + 48 * n + 1;
  int rl = 1;
  for (const auto& f : fields) rl += f.length;
  std::string b(static_cast<size_t>(hl), '\0');
  b[0] = static_cast<char>(version);
  b[1] = 0x7C, b[2] = 3, b[3] = 1;  // 2024-03-01
  put32(b, 4, static_cast<std::uint32_t>(records.size()));
  put16(b, 8, hl);
  put16(b, 10, rl);
  b[29] = static_cast<char>(ldid);
  b.replace(32, driver.size(), driver);
  for (int i = 0; i < n; ++i) {
    size_t p = static_cast<size_t>(68 + 48 * i);
    b.replace(p, fields[static_cast<size_t>(i)].name.size(), fields[static_cast<size_t>(i)].name);
    b[p + 32] = fields[static_cast<size_t>(i)].type;
    b[p + 33] = static_cast<char>(fields[static_cast<size_t>(i)].length);
    b[p + 34] = static_cast<char>(fields[static_cast<size_t>(i)].decimals);
  }
  b[static_cast<size_t>(hl - 1)] = 0x0D;
  for (const auto& r : records) {
    EXPECT_EQ(static_cast<int>(r.size()), rl) << "fixture record of wrong length";
    b += r;
  }
  return b + '\x1A';
}

// dBase III/IV/FoxPro layout; `backlink` adds the 263 bytes Visual FoxPro keeps there.
inline std::string dbase_file(std::uint8_t version, const std::vector<RawField>& fields,
                              const std::vector<std::string>& records, std::uint8_t ldid = 0,
                              bool backlink = false) {
  const int n = static_cast<int>(fields.size());
  const int hl = 32 + 32 * n + 1 + (backlink ? 263 : 0);
  int rl = 1;
  for (const auto& f : fields) rl += f.length;
  std::string b(static_cast<size_t>(hl), '\0');
  b[0] = static_cast<char>(version);
  b[1] = 0x7C, b[2] = 3, b[3] = 1;
  put32(b, 4, static_cast<std::uint32_t>(records.size()));
  put16(b, 8, hl);
  put16(b, 10, rl);
  b[29] = static_cast<char>(ldid);
  int off = 1;
  for (int i = 0; i < n; ++i) {
    const auto& f = fields[static_cast<size_t>(i)];
    size_t p = static_cast<size_t>(32 + 32 * i);
    b.replace(p, f.name.size(), f.name);
    b[p + 11] = f.type;
    put32(b, p + 12, static_cast<std::uint32_t>(off));
    b[p + 16] = static_cast<char>(f.length);
    b[p + 17] = static_cast<char>(f.decimals);
    b[p + 18] = static_cast<char>(f.flags);
    off += f.length;
  }
  b[static_cast<size_t>(32 + 32 * n)] = 0x0D;
  for (const auto& r : records) {
    EXPECT_EQ(static_cast<int>(r.size()), rl) << "fixture record of wrong length";
    b += r;
  }
  return b + '\x1A';
}

// dBase IV / level-7 memo file with 512-byte blocks holding the given memos in order.
// Returns the file; `blocks` receives each memo's first block.
inline std::string dbt4_file(const std::vector<std::string>& memos, std::vector<int>& blocks,
                             char slack = '\0') {
  std::string f(512, '\0');
  put16(f, 20, 512);
  for (const auto& m : memos) {
    blocks.push_back(static_cast<int>(f.size() / 512));
    std::string blk =
        std::string("\xFF\xFF\x08\x00", 4) + le32(static_cast<std::uint32_t>(m.size() + 8)) + m;
    blk.resize((blk.size() + 511) / 512 * 512, slack);
    f += blk;
  }
  put32(f, 0, static_cast<std::uint32_t>(f.size() / 512));
  return f;
}

inline std::string pad_left(const std::string& s, size_t n, char c = ' ') {
  return s.size() >= n ? s : std::string(n - s.size(), c) + s;
}
inline std::string pad_right(const std::string& s, size_t n, char c = ' ') {
  return s.size() >= n ? s : s + std::string(n - s.size(), c);
}

}  // namespace qm::tables::test
