// Memo files beside a table: dBase III .dbt (text ending at 0x1A), dBase IV/level-7 .dbt
// (blocks with a length prefix) and FoxPro .fpt (read only). Memos are raw bytes here; the
// table converts text memos from its code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf_file.h"
#include "tables/dbf_header.h"

namespace qm::tables {

class MemoFile {
 public:
  // Opens and checks the header; raises TableError naming the file when it is malformed.
  MemoFile(const std::string& path, MemoKind kind, bool forWriting);

  // Creates an empty level-7 style memo file (one header block).
  static void create(const std::string& path, std::uint32_t blockSize = 512);

  // The memo that starts at `block`; empty for block 0. Raises TableError when the block
  // lies outside the file or its length is impossible.
  std::string read(std::uint64_t block);
  // Stores a memo at the file's next free block (read from the file each time, as another
  // program may have added memos), then advances the header. Returns the block number.
  // The memo is on disk before this returns, so a record pointing at it may follow.
  std::uint64_t append(std::string_view data);

  // Reusing the space of memos no record points at any more (level-7 style files only).
  // Blocks the memo at `block` takes, its prefix included; 0 when no such memo starts there.
  std::uint64_t extent(std::uint64_t block);
  // The first block past everything in the file, whatever the header says.
  std::uint64_t endBlock();
  // Blocks a memo of n bytes takes.
  std::uint64_t blocksFor(std::size_t n) const;
  // Stores a memo at `block`, which the caller knows to be unused space inside the file; the
  // header is left as it is.
  void writeInto(std::uint64_t block, std::string_view data);

  std::uint32_t blockSize() const { return blockSize_; }
  MemoKind kind() const { return kind_; }
  const std::string& path() const { return file_.path(); }

 private:
  [[noreturn]] void bad(const std::string& what) const;
  std::vector<char> encode(std::string_view data) const;
  RandomFile file_;
  MemoKind kind_;
  std::uint32_t blockSize_ = 512;
};

}  // namespace qm::tables
