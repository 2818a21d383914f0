// What the pieces of the table engine share: the open table's state and the helpers more than
// one of them needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "tables/dbf_file.h"
#include "tables/dbf_header.h"
#include "tables/dbf_index.h"
#include "tables/dbf_table.h"
#include "tables/memo_file.h"

namespace qm::tables {

inline constexpr std::size_t kReadCacheBytes = 64 * 1024;
// A batch of appended records goes to the file in one write. The kernel copies a 256 KiB write
// into the page cache several times faster than a 1 MiB one (the smaller buffer is still in the
// processor's cache when it is read); for a 640 MB price file that is most of a second.
inline constexpr std::size_t kWriteBatchBytes = 256 * 1024;
// A batch is posted once it holds this much, in writes of the size above: every batch costs
// its lock, a read of the count and a write of it, a dozen system calls in all, which on a
// virtual machine add up over the 2,500 batches of a 640 MB price file.
inline constexpr std::size_t kPostBatchBytes = 4 * kWriteBatchBytes;

// Field names looked up without regard to case and without allocating: the price-file walk
// asks for some 25 fields per record.
class NameIndex {
 public:
  void build(const std::vector<std::string>& names) {
    names_ = names;
    size_t cap = 16;
    while (cap < names.size() * 2) cap *= 2;
    slots_.assign(cap, -1);
    for (size_t i = 0; i < names.size(); ++i) {
      size_t h = hash(names[i]) & (cap - 1);
      while (slots_[h] >= 0) {
        if (iequals(names_[static_cast<size_t>(slots_[h])], names[i])) break;  // first wins
        h = (h + 1) & (cap - 1);
      }
      if (slots_[h] < 0) slots_[h] = static_cast<int>(i);
    }
    followedBy_.assign(names.size() + 1, -1);
    last_ = -1;
  }
  int find(std::string_view name) const {
    if (slots_.empty()) return -1;
    // A record is written by naming its fields in the same order each time, so the field
    // named after the last one found is most often the one that followed it the time before:
    // one comparison instead of hashing the name.
    int& guess = followedBy_[static_cast<size_t>(last_ + 1)];
    if (guess >= 0 && same(names_[static_cast<size_t>(guess)], name)) return last_ = guess;
    size_t h = hash(name) & (slots_.size() - 1);
    while (slots_[h] >= 0) {
      if (same(names_[static_cast<size_t>(slots_[h])], name)) {
        // Slots hold a name's first place only, so a guess taken from them finds the same field.
        guess = slots_[h];
        return last_ = guess;
      }
      h = (h + 1) & (slots_.size() - 1);
    }
    return -1;
  }
  void clear() {
    names_.clear();
    slots_.clear();
    followedBy_.clear();
    last_ = -1;
  }

 private:
  // Callers mostly spell a name as the table does; the byte comparison settles those.
  static bool same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // Names are a few bytes long: a loop here beats a call of memcmp.
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return iequals(a, b);
    return true;
  }
  static size_t hash(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (char c : s) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
  std::vector<std::string> names_;
  std::vector<int> slots_;
  // For each field (and -1 before any, at 0): the field found right after it last time.
  mutable std::vector<int> followedBy_;
  mutable int last_ = -1;
};

inline std::string with_extension(const std::string& name) {
  return extension_of(name).empty() ? name + ".dbf" : name;
}

// The companion file of a table (".dbt", ".fpt", ".mdx"), in the case the table's name uses.
std::string companion_path(const std::string& tablePath, const char* ext);

DbfHeader read_header_file(RandomFile& f);

struct DbfTable::Impl {
  // Naming and creation settings.
  std::string folder, tableName;
  bool exclusiveRequested = false, exclusiveOpen = false;
  std::vector<FieldDef> defs;
  int level = 7;
  int createCodepage = 1252;
  std::string createDriver = "DBWINUS0";
  bool writeBehindOn = false;
  AppendWatcher appendWatcher;
  std::string indexName;
  std::vector<TableListener*> listeners;
  std::unique_ptr<ProductionIndex> index;  // when the header announces one
  int indexTag = -1;                       // of indexName in the open index
  std::vector<char> keySaved;              // the current record while a key is typed

  // The open table.
  bool active = false;
  RandomFile file;
  // Held while open: shared, or exclusive for an exclusive open, so that an exclusive open
  // elsewhere is refused.
  platform::FileLock openLock;
  // Held, waiting for it, while records, memos and the header change, so that two programs
  // writing one table take turns.
  platform::FileLock writeLock;
  int writeDepth = 0;
  bool tailChecked = false;
  std::string repairNote;
  DbfHeader hdr;
  std::unique_ptr<MemoFile> memo;
  bool writable = false;
  std::vector<std::unique_ptr<DbfField>> fields;
  std::vector<const FieldLayout*> layoutOf;
  std::vector<bool> memoField;
  NameIndex names;
  std::vector<char> rec, orig, blank;
  std::vector<std::optional<std::string>> memoPending;  // in the table's code page
  std::int64_t recNo = 0;
  std::int64_t savedRecNo = 0;  // the record before an append, for cancel
  bool eofFlag = true, bofFlag = true;
  TableState st = TableState::Inactive;
  bool modifiedFlag = false;
  std::uint32_t knownCount = 0;
  DateTime today;

  std::vector<char> cache;
  std::int64_t cacheFirst = 0, cacheRecords = 0;

  std::vector<char> pending;
  std::vector<char> appendBuf;  // one record and its end mark, kept for its capacity
  std::uint32_t pendingBase = 0;
  std::int64_t pendingRecords = 0;
  std::vector<std::pair<const FieldLayout*, std::uint32_t>> autoNext;  // during a batch
  std::uint64_t writtenBack = 0;  // the records' bytes before this are on their way to the disk
  // The batches' records are sent on to the disk while the next ones are made, so that the
  // sync before a built file is put in place waits for little. Never the pages that are
  // written again: the header's (the count) and those near the end (the end mark).
  void writeBack(std::uint64_t end);

  std::int64_t liveCount = -1;
  std::uint32_t liveForCount = 0;
  std::uint64_t liveForSize = 0;

  std::string path() const {
    std::string p = join_path(folder, with_extension(tableName));
    return resolve_path(p);
  }
  [[noreturn]] void corrupt(const std::string& what) const {
    throw TableError("Corrupt table '" + file.path() + "': " + what);
  }
  void requireActive() const {
    if (!active) throw TableError("Table '" + path() + "' is not open");
  }
  void requireWritable() const {
    requireActive();
    if (!writable) throw TableError("Table '" + file.path() + "' is read-only");
  }
  void notify(void (TableListener::*fn)()) {
    if (listeners.empty()) return;
    // A copy: a listener may remove itself while it is told.
    for (auto* l : std::vector<TableListener*>(listeners)) (l->*fn)();
  }
  void setState(TableState s) {
    if (st == s) return;
    st = s;
    notify(&TableListener::stateChanged);
  }
  bool editing() const { return st == TableState::Edit || st == TableState::Insert; }
  // The record being posted is an append that goes into the write-behind batch begun before
  // it, without memos to write: it reaches the file only with the batch.
  bool joinsBatch() const {
    return st == TableState::Insert && writeBehindOn && !index &&
           (pendingRecords > 0 || batchPosted) && !anyMemoPending;
  }

  std::uint64_t recordOffset(std::int64_t n) const {
    return static_cast<std::uint64_t>(hdr.headerLength) +
           static_cast<std::uint64_t>(n - 1) * static_cast<std::uint64_t>(hdr.recordLength);
  }

  // The header's count, read from the file each time: another program may append.
  std::uint32_t readCount();
  // The same, checked against the file's size, without the table's bookkeeping.
  std::uint32_t countOnFile();

  bool loadRecord(std::int64_t n, char* out);
  void dropCache() {
    cacheRecords = 0;
    liveCount = -1;
  }

  bool liveAt(std::int64_t n) { return loadRecord(n, rec.data()) && rec[0] != '*'; }
  // From record n on, in steps of step (1 or -1), the first record not deleted, loaded into
  // rec; 0 when there is none before either end.
  std::int64_t findLive(std::int64_t n, int step) {
    for (; n >= 1 && n <= static_cast<std::int64_t>(knownCount); n += step)
      if (liveAt(n)) return n;
    return 0;
  }

  void positionNone() {
    recNo = 0;
    rec = blank;
  }

  // The one place where a record reaches the file: an append when oldRec is null, else a
  // change of record recNo from oldRec to newRec. Index maintenance belongs here, since it
  // needs both images and the number.
  void storeRecord(std::int64_t number, const char* oldRec, const char* newRec);

  void writeCount(std::uint32_t count);

  std::uint32_t readAutoNext(const FieldLayout& f);
  void writeAutoNext(const FieldLayout& f, std::uint32_t v);

  void flushPending();
  // A full batch goes to the file on the writer's thread while the next one is filled; the
  // one before is waited for first. Only for tables without autoincrement fields, whose
  // values are read from the file at each batch's start.
  void postBatch();
  // Waits for the batch posted, if any; its failure is raised here, with its records back in
  // front of those appended since, as though its flush had failed on this thread. Whatever
  // reads or writes the file from this thread waits here first.
  void drainWrites();
  // A batch's records after those the file counts, under the write lock: a flush's work.
  void writeBatch(std::vector<char>& batch, std::int64_t records);
  bool batchPosted = false;  // this thread's view: a batch may be on its way to the file

  // The number the next appended record gets, with the autoincrement values assigned.
  std::int64_t prepareAppend();

  void writeMemos();
  // Runs of memo blocks [first, last) that no record on disk points at.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> unusedMemoRuns();

  void endEdit(DbfTable& self) {
    if (!editing()) return;
    if (modifiedFlag)
      self.post();
    else
      self.cancel();
  }

  // Most records carry no memo; skip the walk over the slots then.
  bool anyMemoPending = false;
  void clearMemoPending() {
    if (!anyMemoPending) return;
    for (auto& p : memoPending) p.reset();
    anyMemoPending = false;
  }

  char* fieldBytes(int index) { return rec.data() + layoutOf[static_cast<size_t>(index)]->offset; }

  // Last of all, so that it goes first: its thread writes through the file and the header.
  struct BatchWriter;
  std::unique_ptr<BatchWriter, void (*)(BatchWriter*)> writer{nullptr, nullptr};
};

// Cuts off what an interrupted write left past the counted records; see repairNote().
void repair_tail(DbfTable::Impl& m);

// Holds the table's write lock for a scope; nested scopes share the outer one's. The first
// write after an open checks the table's tail first.
class WriteScope {
 public:
  explicit WriteScope(DbfTable::Impl& m) : m_(m) {
    // A posted batch first: until it is written the lock, the file and the header are its.
    if (m_.writeDepth == 0) m_.drainWrites();
    if (m_.writeDepth++ != 0 || !m_.file.writable()) return;
    m_.writeLock.lockOpenFile(m_.file.handle(), true, 1, true);
    if (!m_.tailChecked) repair_tail(m_);
  }
  ~WriteScope() {
    if (--m_.writeDepth == 0) m_.writeLock.release();
  }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

 private:
  DbfTable::Impl& m_;
};

enum class IndexMove { First, Next, Prior, Last };
void open_index(DbfTable::Impl& m, const std::string& tablePath);
void index_move(DbfTable& self, DbfTable::Impl& m, IndexMove how);

}  // namespace qm::tables
