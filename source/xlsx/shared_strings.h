// The workbook's shared string table, kept compactly (texts side by side in large blocks, one
// 8-byte entry per string) and read lazily: a string is parsed only when a cell first asks for
// an index at or beyond it, so opening a big sheet and reading its first rows does not wait for
// the whole table. Excel writes strings in the order of first use, which makes this cheap.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/memory.h"
#include "source/xlsx/xml_reader.h"

namespace qm::source::xlsx {

class PartStream;

// Decodes the escapes _xHHHH_ (a UTF-16 code unit in hex) by which a workbook writes
// characters XML cannot hold, such as a carriage return as _x000D_; _x005F_ is the
// underscore, which keeps a literal "_x0041_" from being read as an escape. A NUL, or half a
// surrogate pair, stays as written.
void decode_escapes(std::string& s);

class SharedStrings : private XmlHandler {
 public:
  // No table (a workbook without strings).
  explicit SharedStrings(const Limits& limits);
  // A table read from in as strings are asked for.
  SharedStrings(std::unique_ptr<PartStream> in, const Limits& limits);
  ~SharedStrings() override;

  // The string at index, or false when the table ends before it. Safe to call from several
  // threads: sheets of one workbook share the table.
  bool get(std::uint64_t index, std::string_view& out) {
    // Mostly the table is read in full by the time the cells ask: a plain read then, inline,
    // without the locking path's setting up around it. While it is read, a string parsed
    // already is taken from what was published last, without waiting for the lock that the
    // thread reading on holds.
    if (!complete_.load(std::memory_order_acquire)) {
      const Published* p = published_.load(std::memory_order_acquire);
      if (!p || index >= p->count) return get_loading(index, out);
      out = view(p->entries[index], p->blocks);
      return true;
    }
    if (index >= entries_.size()) return false;
    out = entry(index);
    return true;
  }
  // Strings parsed so far.
  std::uint64_t loaded() const;
  // Reads the rest of the table; after that every get is a plain read and the part is closed.
  void load_all();
  // Reads one more buffer of the table; false once it is read in full.
  bool load_step();
  bool complete() const { return complete_.load(std::memory_order_acquire); }
  // True when the rest of the table may be read on any thread: it is read in full, or its
  // part has a package handle of its own.
  bool readableFromAnyThread() const;

 private:
  // The part is read to its end: its reader goes, and every string may be read without the lock.
  void finishLoading();
  bool get_loading(std::uint64_t index, std::string_view& out);
  static std::string_view view(std::uint64_t e, const char* const* blocks) {
    std::uint64_t offset = e >> kLengthBits;
    std::size_t len = static_cast<std::size_t>(e & ((1u << kLengthBits) - 1));
    return std::string_view(blocks[offset / kBlock] + offset % kBlock, len);
  }
  std::string_view entry(std::uint64_t index) const {  // of a string parsed already
    return view(entries_[index], blockStarts_.data());
  }
  // Under the lock, after strings were added: what readers may take without it.
  void publish();
  // Room for one more entry and one more block start; storage that moves is kept, since a
  // reader may still hold what was published from it.
  void makeRoom();
  void start(const char* name, const char** atts) override;
  void end(const char* name) override;
  void text(const char* data, int len) override;
  std::size_t elements(const char* from, const char* end) override;
  std::string context() const override;
  void commit();
  void reserveEntries(const char** atts);

  static constexpr std::size_t kBlock = 4u << 20;  // bigger than the longest string allowed
  static constexpr int kLengthBits = 23;           // lengths up to kBlock
  // Entries reserved from the table's own count at most: a claim of more is grown into.
  static constexpr std::uint64_t kMostReserved = 1u << 24;

  const Limits& limits_;
  std::unique_ptr<PartStream> in_;
  std::unique_ptr<XmlReader> xml_;
  std::vector<LargeBlock> blocks_;
  std::size_t blockUsed_ = kBlock;
  std::uint64_t totalBytes_ = 0;
  std::vector<std::uint64_t> entries_;    // offset << kLengthBits | length
  std::vector<const char*> blockStarts_;  // of blocks_, for readers
  // The strings parsed when it was made, in arrays that stay where they are until the table
  // goes: one for each step that added strings.
  struct Published {
    const std::uint64_t* entries;
    const char* const* blocks;
    std::uint64_t count;
  };
  std::vector<std::unique_ptr<Published>> publications_;
  std::vector<std::vector<std::uint64_t>> retiredEntries_;
  std::vector<std::vector<const char*>> retiredStarts_;
  // Readers waiting for the lock: the thread reading ahead gives way to them.
  std::atomic<int> waiting_{0};
  std::string current_;
  bool inItem_ = false, inText_ = false;
  int phonetic_ = 0;
  bool ended_ = false;
  mutable std::mutex mutex_;
  // What get reads for every cell, on a cache line of its own: the parsing thread writes the
  // members above for every string, and each write would take the line from the reading core.
  // Last, so that the object's size, rounded up to the alignment, ends the line with them.
  alignas(64) std::atomic<const Published*> published_{nullptr};
  // Set once the whole table is read: from then on nothing changes, and get needs no lock.
  std::atomic<bool> complete_{false};
};
static_assert(sizeof(SharedStrings) % 64 == 0, "nothing else shares the readers' line");

}  // namespace qm::source::xlsx
