#include "tables/dbf_table.h"
#include "tables/dbf_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "tables/codepage.h"
#include "tables/dbf_file.h"
#include "tables/dbf_header.h"
#include "tables/field_codec.h"
#include "tables/memo_file.h"

namespace qm::tables {
namespace {

constexpr std::size_t kReadCacheBytes = 64 * 1024;
constexpr std::size_t kWriteBatchBytes = 1024 * 1024;

bool is_memo_type(const FieldLayout& f, Dialect d) {
  switch (f.def.type) {
    case 'M':
    case 'G':
    case 'P':
      return true;
    case 'B':
      return d != Dialect::VisualFoxPro;  // VFP's B is a double
    case 'W':
    case 'Q':
      return d == Dialect::VisualFoxPro && f.def.type == 'W';
    default:
      return false;
  }
}

// The high bits of all bytes together, a word at a time: most texts are plain ASCII.
bool is_ascii(std::string_view s) {
  const char* p = s.data();
  std::size_t n = s.size(), i = 0;
  std::uint64_t any = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    any |= w;
  }
  for (; i < n; ++i) any |= static_cast<unsigned char>(p[i]);
  return (any & 0x8080808080808080ull) == 0;
}

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

std::string with_extension(const std::string& name) {
  return extension_of(name).empty() ? name + ".dbf" : name;
}

// The companion file of a table (".dbt", ".fpt", ".mdx"), in the case the table's name uses.
std::string companion_path(const std::string& tablePath, const char* ext) {
  std::string base = tablePath.substr(0, tablePath.size() - extension_of(tablePath).size());
  std::string e = ext;
  std::string tableExt = extension_of(tablePath);
  if (tableExt.size() > 1 && tableExt[1] >= 'A' && tableExt[1] <= 'Z') e = to_upper_ascii(e);
  return base + e;
}

DbfHeader read_header_file(RandomFile& f) {
  std::uint64_t size = f.size();
  std::vector<unsigned char> buf(
      static_cast<size_t>(std::min<std::uint64_t>(size, kMaxHeaderBytes)));
  f.readAt(0, buf.data(), buf.size());
  return parse_header(buf.data(), buf.size(), size, f.path());
}

int level_of(Dialect d) {
  switch (d) {
    case Dialect::DBase3:
      return 3;
    case Dialect::DBase4:
      return 4;
    case Dialect::Level7:
      return 7;
    case Dialect::FoxPro:
      return 25;
    case Dialect::VisualFoxPro:
      return 30;
  }
  return 7;
}

std::string def_text(const FieldDef& d) {
  std::string s(1, d.type);
  s += "(" + std::to_string(d.length);
  if (d.type == 'N' || d.type == 'F') s += "," + std::to_string(d.decimals);
  return s + ")";
}

// "3:04:05 PM", "15:04", "15:04:05.250" after a date.
bool parse_time(std::string_view t, std::int32_t& ms) {
  std::string s = to_upper_ascii(trim(t));
  bool pm = false, am = false;
  if (ends_with(s, "PM") || ends_with(s, "AM")) {
    pm = ends_with(s, "PM");
    am = !pm;
    s = trim(std::string_view(s).substr(0, s.size() - 2));
  }
  int parts[3] = {0, 0, 0};
  int frac = 0;
  int n = 0;
  size_t i = 0;
  while (i < s.size() && n < 3) {
    int v = 0, w = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && w < 3) v = v * 10 + (s[i++] - '0'), ++w;
    if (w == 0) return false;
    parts[n++] = v;
    if (i < s.size() && s[i] == ':') {
      ++i;
      continue;
    }
    if (i < s.size() && s[i] == '.' && n == 3) {
      ++i;
      int w2 = 0, f = 0;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9' && w2 < 3)
        f = f * 10 + (s[i++] - '0'), ++w2;
      while (w2 > 0 && w2 < 3) f *= 10, ++w2;
      frac = f;
    }
    break;
  }
  if (i != s.size() || n < 2) return false;
  int h = parts[0];
  if (am || pm) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
    if (pm) h += 12;
  }
  if (h > 23 || parts[1] > 59 || parts[2] > 59) return false;
  ms = ((h * 60 + parts[1]) * 60 + parts[2]) * 1000 + frac;
  return true;
}

bool parse_date_time(std::string_view text, DateTime& out) {
  std::string t = trim(text);
  if (parse_date(t, out)) return true;
  auto sp = t.find(' ');
  if (sp == std::string::npos) return false;
  DateTime d;
  std::int32_t ms = 0;
  if (!parse_date(std::string_view(t).substr(0, sp), d)) return false;
  if (!parse_time(std::string_view(t).substr(sp + 1), ms)) return false;
  d.ms = ms;
  out = d;
  return true;
}

double to_delphi_float(const DateTime& d) {
  return static_cast<double>(d.day - kDay18991230) + d.ms / 86400000.0;
}

DateTime from_delphi_float(double v) {
  DateTime d;
  double day = std::floor(v);
  d.day = static_cast<std::int64_t>(day) + kDay18991230;
  d.ms = static_cast<std::int32_t>(std::llround((v - day) * 86400000.0));
  if (d.ms >= 86400000) d.ms = 86399999;
  return d;
}

}  // namespace

struct DbfTable::Impl {
  // Naming and creation settings.
  std::string folder, tableName;
  bool exclusiveRequested = false, exclusiveOpen = false;
  std::vector<FieldDef> defs;
  int level = 7;
  int createCodepage = 1252;
  std::string createDriver = "DBWINUS0";
  bool writeBehindOn = false;
  std::string indexName;
  std::vector<TableListener*> listeners;
  std::unique_ptr<ProductionIndex> index;  // when the header announces one
  int indexTag = -1;                       // of indexName in the open index
  std::vector<char> keySaved;              // the current record while a key is typed

  // The open table.
  bool active = false;
  RandomFile file;
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

  std::uint64_t recordOffset(std::int64_t n) const {
    return static_cast<std::uint64_t>(hdr.headerLength) +
           static_cast<std::uint64_t>(n - 1) * static_cast<std::uint64_t>(hdr.recordLength);
  }

  // The header's count, read from the file each time: another program may append.
  std::uint32_t readCount() {
    unsigned char b[4];
    file.readAt(4, b, 4);
    std::uint32_t c = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                      std::uint32_t(b[3]) << 24;
    std::uint64_t size = file.size();
    std::uint64_t need =
        static_cast<std::uint64_t>(hdr.headerLength) +
        static_cast<std::uint64_t>(c) * static_cast<std::uint64_t>(hdr.recordLength);
    if (need > size)
      corrupt("the header counts " + std::to_string(c) + " records but the file holds only " +
              std::to_string((size - static_cast<std::uint64_t>(hdr.headerLength)) /
                             static_cast<std::uint64_t>(hdr.recordLength)));
    if (c != knownCount) cache.clear(), cacheRecords = 0;
    knownCount = c;
    return c;
  }

  bool loadRecord(std::int64_t n, char* out) {
    if (n < 1 || n > static_cast<std::int64_t>(knownCount)) return false;
    const size_t rl = static_cast<size_t>(hdr.recordLength);
    if (n < cacheFirst || n >= cacheFirst + cacheRecords) {
      std::int64_t want =
          std::max<std::int64_t>(1, static_cast<std::int64_t>(kReadCacheBytes / rl));
      want = std::min<std::int64_t>(want, static_cast<std::int64_t>(knownCount) - n + 1);
      cache.resize(static_cast<size_t>(want) * rl);
      size_t got = file.readSome(recordOffset(n), cache.data(), cache.size());
      cacheFirst = n;
      cacheRecords = static_cast<std::int64_t>(got / rl);
      if (cacheRecords == 0) return false;
    }
    std::memcpy(out, cache.data() + static_cast<size_t>(n - cacheFirst) * rl, rl);
    return true;
  }
  void dropCache() {
    cacheRecords = 0;
    liveCount = -1;
  }

  bool liveAt(std::int64_t n) { return loadRecord(n, rec.data()) && rec[0] != '*'; }

  void positionNone() {
    recNo = 0;
    rec = blank;
  }

  // The one place where a record reaches the file: an append when oldRec is null, else a
  // change of record recNo from oldRec to newRec. Index maintenance belongs here, since it
  // needs both images and the number.
  void storeRecord(std::int64_t number, const char* oldRec, const char* newRec) {
    const size_t rl = static_cast<size_t>(hdr.recordLength);
    if (index) index->requireMaintainable();
    // An indexed table writes each append at once: its index entry needs the final number.
    if (!oldRec && writeBehindOn && !index) {
      pending.insert(pending.end(), newRec, newRec + rl);
      ++pendingRecords;
      if (pending.size() >= kWriteBatchBytes) flushPending();
      return;
    }
    if (!oldRec) {
      // Record, end mark, autoincrement values, count: valid after each step.
      appendBuf.assign(newRec, newRec + rl);
      appendBuf.push_back(0x1A);
      file.writeAt(recordOffset(number), appendBuf.data(), appendBuf.size());
      for (const auto& [f, next] : autoNext) writeAutoNext(*f, next);
      writeCount(static_cast<std::uint32_t>(number));
    } else {
      file.writeAt(recordOffset(number), newRec, rl);
    }
    dropCache();
    if (index) index->recordStored(static_cast<std::uint32_t>(number), oldRec, newRec, rl);
  }

  void writeCount(std::uint32_t count) {
    unsigned char b[7];
    put_date_and_count(b, today, count);
    file.writeAt(1, b, 7);
    knownCount = count;
  }

  std::uint32_t readAutoNext(const FieldLayout& f) {
    unsigned char b[4];
    file.readAt(static_cast<std::uint64_t>(f.descriptorOffset) + 42, b, 4);
    std::uint32_t v = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                      std::uint32_t(b[3]) << 24;
    return v == 0 ? 1 : v;
  }
  void writeAutoNext(const FieldLayout& f, std::uint32_t v) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    file.writeAt(static_cast<std::uint64_t>(f.descriptorOffset) + 42, b, 4);
  }

  void flushPending() {
    if (pendingRecords == 0) return;
    // Another program may have appended since the batch began: ours go after its records.
    std::uint32_t c = readCount();
    pending.push_back(0x1A);
    file.writeAt(recordOffset(static_cast<std::int64_t>(c) + 1), pending.data(), pending.size());
    for (const auto& [f, next] : autoNext) writeAutoNext(*f, next);
    writeCount(c + static_cast<std::uint32_t>(pendingRecords));
    pending.clear();
    pendingRecords = 0;
    autoNext.clear();
    dropCache();
  }

  // The number the next appended record gets, with the autoincrement values assigned.
  std::int64_t prepareAppend() {
    std::int64_t number;
    bool batchStart = !writeBehindOn || pendingRecords == 0;
    if (batchStart) {
      pendingBase = readCount();
      autoNext.clear();
      for (const FieldLayout& f : hdr.fields)
        if (f.def.type == '+' && hdr.dialect == Dialect::Level7)
          autoNext.emplace_back(&f, readAutoNext(f));
    }
    number = static_cast<std::int64_t>(pendingBase) + pendingRecords + 1;
    if (number > 0xFFFFFFFFll) throw TableError("Table '" + file.path() + "' is full");
    for (auto& [f, next] : autoNext) {
      codec::put_long7(rec.data() + f->offset, static_cast<std::int32_t>(next));
      ++next;
    }
    return number;
  }

  void writeMemos() {
    if (!anyMemoPending) return;
    for (size_t i = 0; i < memoPending.size(); ++i) {
      if (!memoPending[i]) continue;
      const FieldLayout& f = *layoutOf[i];
      std::uint64_t block = 0;
      if (!memoPending[i]->empty()) {
        if (!memo)
          throw TableError("Table '" + file.path() + "' has no memo file for field '" + f.def.name +
                           "'");
        block = memo->append(*memoPending[i]);
      }
      codec::put_memo_block(rec.data() + f.offset, f.def.length, block,
                            hdr.dialect == Dialect::Level7);
    }
  }

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
};

enum class IndexMove { First, Next, Prior, Last };
void open_index(DbfTable::Impl& m, const std::string& tablePath);
void index_move(DbfTable& self, DbfTable::Impl& m, IndexMove how);

// ---------------------------------------------------------------------------------------------
// DbfTable

DbfTable::DbfTable() : impl_(std::make_unique<Impl>()) {}

DbfTable::~DbfTable() {
  // Listeners may already be gone (members declared after the table); don't call them.
  impl_->listeners.clear();
  try {
    close();
  } catch (...) {
    // A destructor cannot report; close() is where a caller sees write errors.
  }
}

void DbfTable::setFolder(std::string folder) {
  impl_->folder = std::move(folder);
}
const std::string& DbfTable::folder() const {
  return impl_->folder;
}
void DbfTable::setTableName(std::string name) {
  impl_->tableName = std::move(name);
}
const std::string& DbfTable::tableName() const {
  return impl_->tableName;
}
std::string DbfTable::path() const {
  return impl_->path();
}
bool DbfTable::exists() const {
  return !impl_->tableName.empty() && file_exists(path());
}
void DbfTable::setExclusive(bool exclusive) {
  impl_->exclusiveRequested = exclusive;
}
bool DbfTable::exclusive() const {
  return impl_->exclusiveRequested;
}
bool DbfTable::active() const {
  return impl_->active;
}

void DbfTable::open() {
  Impl& m = *impl_;
  if (m.active) return;
  std::string p = path();
  if (m.tableName.empty()) throw TableError("No table name given");
  std::error_code ec;
  if (!m.folder.empty() && !std::filesystem::is_directory(to_fs_path(resolve_path(m.folder)), ec))
    throw TableError("Folder '" + m.folder + "' does not exist (table '" + p + "')");
  if (!file_exists(p)) throw TableError("Table '" + p + "' does not exist");
  if (!m.file.open(p, true)) throw TableError("Cannot open table '" + p + "'");
  try {
    m.hdr = read_header_file(m.file);
    m.knownCount = 0;
    m.readCount();
    m.memo.reset();
    if (m.hdr.memo != MemoKind::None) {
      std::string mp =
          resolve_path(companion_path(p, m.hdr.memo == MemoKind::Fpt ? ".fpt" : ".dbt"));
      if (!file_exists(mp))
        throw TableError("Memo file '" + mp + "' of table '" + p + "' not found");
      m.memo = std::make_unique<MemoFile>(mp, m.hdr.memo, m.file.writable());
    }
    open_index(m, p);
  } catch (...) {
    m.file.close();
    m.memo.reset();
    m.index.reset();
    m.indexTag = -1;
    throw;
  }
  m.writable =
      m.file.writable() && (m.hdr.dialect == Dialect::Level7 || m.hdr.dialect == Dialect::DBase4 ||
                            m.hdr.dialect == Dialect::DBase3);
  m.exclusiveOpen = m.exclusiveRequested;
  m.fields.clear();
  m.layoutOf.clear();
  m.memoField.clear();
  std::vector<std::string> names;
  m.blank.assign(static_cast<size_t>(m.hdr.recordLength), ' ');
  for (const FieldLayout& f : m.hdr.fields) {
    if (f.def.type == 'I' || f.def.type == '+' || f.def.type == 'O' || f.def.type == '@' ||
        f.def.type == 'T' || f.def.type == 'Y' ||
        (m.hdr.dialect == Dialect::VisualFoxPro &&
         (f.def.type == 'B' || f.def.type == 'M' || f.def.type == 'G' || f.def.type == '0')))
      std::memset(m.blank.data() + f.offset, 0, static_cast<size_t>(f.def.length));
    if (f.hidden()) continue;
    int idx = static_cast<int>(m.fields.size());
    m.fields.push_back(std::make_unique<DbfField>(*this, idx, f.def));
    m.layoutOf.push_back(&f);
    m.memoField.push_back(is_memo_type(f, m.hdr.dialect));
    names.push_back(f.def.name);
  }
  m.names.build(names);
  m.memoPending.assign(m.fields.size(), std::nullopt);
  m.anyMemoPending = false;
  m.rec = m.blank;
  m.today = qm::today();
  m.dropCache();
  m.active = true;
  m.setState(TableState::Browse);
  m.notify(&TableListener::afterOpen);
  first();
}

void DbfTable::close() {
  Impl& m = *impl_;
  if (!m.active) return;
  m.notify(&TableListener::beforeClose);
  // An unposted change is discarded; posted appends still in memory are written.
  m.clearMemoPending();
  m.modifiedFlag = false;
  std::exception_ptr err;
  try {
    m.flushPending();
  } catch (...) {
    err = std::current_exception();
  }
  m.pending.clear();
  m.pendingRecords = 0;
  m.autoNext.clear();
  m.file.close();
  m.memo.reset();
  m.index.reset();
  m.indexTag = -1;
  m.active = false;
  m.fields.clear();
  m.layoutOf.clear();
  m.names.clear();
  m.recNo = 0;
  m.eofFlag = m.bofFlag = true;
  m.cache.clear();
  m.cacheRecords = 0;
  m.setState(TableState::Inactive);
  if (err) std::rethrow_exception(err);
}

std::vector<FieldDef> DbfTable::fieldDefs() const {
  Impl& m = *impl_;
  DbfHeader h;
  if (m.active) {
    h = m.hdr;
  } else {
    std::string p = path();
    if (!file_exists(p)) throw TableError("Table '" + p + "' does not exist");
    RandomFile f;
    if (!f.open(p, false)) throw TableError("Cannot open table '" + p + "'");
    h = read_header_file(f);
  }
  std::vector<FieldDef> out;
  for (const auto& f : h.fields)
    if (!f.hidden()) out.push_back(f.def);
  // A table created from these definitions keeps this table's language.
  m.createCodepage = h.codepage;
  m.createDriver = h.dialect == Dialect::Level7 && codepage_from_driver_name(h.driverName)
                       ? h.driverName
                       : driver_name_for_codepage(h.codepage);
  return out;
}

void DbfTable::setFieldDefs(std::vector<FieldDef> defs) {
  impl_->defs = std::move(defs);
}
void DbfTable::setTableLevel(int level) {
  impl_->level = level;
}
int DbfTable::tableLevel() const {
  return impl_->active ? level_of(impl_->hdr.dialect) : impl_->level;
}
bool DbfTable::readOnly() const {
  return impl_->active && !impl_->writable;
}

void DbfTable::setCodepage(int codepage) {
  impl_->createCodepage = codepage_known(codepage) ? codepage : 1252;
  impl_->createDriver = driver_name_for_codepage(impl_->createCodepage);
}

int DbfTable::codepage() const {
  return impl_->active ? impl_->hdr.codepage : impl_->createCodepage;
}

const std::string& DbfTable::languageDriver() const {
  return impl_->active ? impl_->hdr.driverName : impl_->createDriver;
}

void DbfTable::setLanguageDriver(std::string name) {
  int cp = codepage_from_driver_name(name);
  if (!cp) throw TableError("Unknown language driver '" + name + "'");
  impl_->createCodepage = cp;
  impl_->createDriver = std::move(name);
}

void DbfTable::copyStructureFrom(const DbfTable& other) {
  impl_->defs = other.fieldDefs();
  impl_->createCodepage = other.impl_->createCodepage;
  impl_->createDriver = other.impl_->createDriver;
}

void DbfTable::createTable() {
  Impl& m = *impl_;
  if (m.active) throw TableError("Cannot create table '" + path() + "' while it is open");
  if (m.level != 7)
    throw TableError("Only level 7 tables can be created (level " + std::to_string(m.level) +
                     " asked)");
  if (m.tableName.empty()) throw TableError("No table name given");
  std::string p = join_path(m.folder, with_extension(m.tableName));
  std::error_code ec;
  if (!m.folder.empty() && !std::filesystem::is_directory(to_fs_path(resolve_path(m.folder)), ec))
    throw TableError("Folder '" + m.folder + "' does not exist (table '" + p + "')");
  if (file_exists(p)) throw TableError("Table '" + resolve_path(p) + "' already exists");
  std::vector<FieldDef> defs = normalize_level7_defs(m.defs, p);
  std::string driver = m.createDriver;
  std::uint8_t ldid = driver.empty() ? ldid_for_codepage(m.createCodepage) : 0;
  auto bytes = build_level7_file(defs, driver, ldid, qm::today());
  // The memo file first: a table whose header announces one must never lack it.
  if (has_memo_fields(defs)) {
    std::string mp = resolve_path(companion_path(p, ".dbt"));
    MemoFile::create(mp);
  }
  RandomFile f;
  f.create(p);
  f.writeAt(0, bytes.data(), bytes.size());
}

// Movement ------------------------------------------------------------------------------------

void DbfTable::first() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag >= 0) return index_move(*this, m, IndexMove::First);
  m.endEdit(*this);
  m.flushPending();
  m.readCount();
  m.dropCache();
  m.clearMemoPending();
  m.positionNone();
  for (std::int64_t n = 1; n <= static_cast<std::int64_t>(m.knownCount); ++n)
    if (m.liveAt(n)) {
      m.recNo = n;
      break;
    }
  if (m.recNo == 0) m.rec = m.blank;
  m.bofFlag = true;
  m.eofFlag = m.recNo == 0;
  m.notify(&TableListener::afterScroll);
}

void DbfTable::next() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag >= 0) return index_move(*this, m, IndexMove::Next);
  m.endEdit(*this);
  m.flushPending();
  m.clearMemoPending();
  if (m.recNo == 0) {
    m.eofFlag = true;
  } else {
    std::vector<char> keep = m.rec;
    std::int64_t found = 0;
    for (int pass = 0; pass < 2 && !found; ++pass) {
      if (pass == 1) {
        // At the end of what we knew: the file may have grown meanwhile.
        std::uint32_t before = m.knownCount;
        if (m.readCount() == before) break;
      }
      for (std::int64_t n = m.recNo + 1; n <= static_cast<std::int64_t>(m.knownCount); ++n)
        if (m.liveAt(n)) {
          found = n;
          break;
        }
    }
    if (found) {
      m.recNo = found;
      m.eofFlag = m.bofFlag = false;
    } else {
      m.rec = keep;
      m.eofFlag = true;
    }
  }
  m.notify(&TableListener::afterScroll);
}

void DbfTable::prior() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag >= 0) return index_move(*this, m, IndexMove::Prior);
  m.endEdit(*this);
  m.flushPending();
  m.clearMemoPending();
  if (m.recNo == 0) {
    m.bofFlag = true;
  } else {
    std::vector<char> keep = m.rec;
    std::int64_t found = 0;
    for (std::int64_t n = std::min<std::int64_t>(m.recNo, m.knownCount + 1) - 1; n >= 1; --n)
      if (m.liveAt(n)) {
        found = n;
        break;
      }
    if (found) {
      m.recNo = found;
      m.eofFlag = m.bofFlag = false;
    } else {
      m.rec = keep;
      m.bofFlag = true;
    }
  }
  m.notify(&TableListener::afterScroll);
}

void DbfTable::last() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag >= 0) return index_move(*this, m, IndexMove::Last);
  m.endEdit(*this);
  m.flushPending();
  m.readCount();
  m.dropCache();
  m.clearMemoPending();
  m.positionNone();
  for (std::int64_t n = m.knownCount; n >= 1; --n)
    if (m.liveAt(n)) {
      m.recNo = n;
      break;
    }
  if (m.recNo == 0) m.rec = m.blank;
  m.eofFlag = true;
  m.bofFlag = m.recNo == 0;
  m.notify(&TableListener::afterScroll);
}

bool DbfTable::eof() const {
  return !impl_->active || impl_->eofFlag;
}
bool DbfTable::bof() const {
  return !impl_->active || impl_->bofFlag;
}

std::int64_t DbfTable::recordCount() {
  Impl& m = *impl_;
  m.requireActive();
  m.flushPending();
  std::uint32_t count = m.readCount();
  std::uint64_t size = m.file.size();
  if (m.liveCount >= 0 && m.liveForCount == count && m.liveForSize == size) return m.liveCount;
  // Deleted records still count in the header; only the deletion bytes need reading.
  const size_t rl = static_cast<size_t>(m.hdr.recordLength);
  std::vector<char> buf(std::max(rl, kWriteBatchBytes / rl * rl));
  std::int64_t live = 0;
  for (std::int64_t n = 1; n <= static_cast<std::int64_t>(count);) {
    std::int64_t k =
        std::min<std::int64_t>(static_cast<std::int64_t>(buf.size() / rl), count - n + 1);
    size_t got = m.file.readSome(m.recordOffset(n), buf.data(), static_cast<size_t>(k) * rl);
    if (got < static_cast<size_t>(k) * rl)
      m.corrupt("the file ends inside record " + std::to_string(n));
    for (std::int64_t i = 0; i < k; ++i)
      if (buf[static_cast<size_t>(i) * rl] != '*') ++live;
    n += k;
  }
  m.liveCount = live;
  m.liveForCount = count;
  m.liveForSize = size;
  return live;
}

int DbfTable::fieldCount() const {
  if (impl_->active) return static_cast<int>(impl_->fields.size());
  return static_cast<int>(fieldDefs().size());
}

DbfField& DbfTable::field(int index) {
  impl_->requireActive();
  if (index < 0 || index >= static_cast<int>(impl_->fields.size())) throw ListIndexError(index);
  return *impl_->fields[static_cast<size_t>(index)];
}

DbfField* DbfTable::findField(std::string_view name) {
  if (!impl_->active) return nullptr;
  int i = impl_->names.find(name);
  return i < 0 ? nullptr : impl_->fields[static_cast<size_t>(i)].get();
}

DbfField& DbfTable::fieldByName(std::string_view name) {
  impl_->requireActive();
  if (DbfField* f = findField(name)) return *f;
  throw TableError("Field '" + std::string(name) + "' not found in table '" + impl_->file.path() +
                   "'");
}

std::int64_t DbfTable::recNo() const {
  return impl_->active ? impl_->recNo : 0;
}

void DbfTable::goToRecNo(std::int64_t n) {
  Impl& m = *impl_;
  m.requireActive();
  m.endEdit(*this);
  m.flushPending();
  m.readCount();
  m.clearMemoPending();
  if (n < 1 || n > static_cast<std::int64_t>(m.knownCount) || !m.loadRecord(n, m.rec.data()))
    throw TableError("Record " + std::to_string(n) + " does not exist in table '" + m.file.path() +
                     "'");
  m.recNo = n;
  m.eofFlag = m.bofFlag = false;
  m.notify(&TableListener::afterScroll);
}

// Changes -------------------------------------------------------------------------------------

void DbfTable::append() {
  Impl& m = *impl_;
  m.requireWritable();
  m.endEdit(*this);
  m.savedRecNo = m.recNo;
  m.rec = m.blank;
  m.clearMemoPending();
  m.recNo = 0;
  m.modifiedFlag = false;
  m.eofFlag = m.bofFlag = false;
  m.setState(TableState::Insert);
  m.notify(&TableListener::afterInsert);
  m.notify(&TableListener::afterScroll);
}

void DbfTable::edit() {
  Impl& m = *impl_;
  m.requireWritable();
  if (m.editing()) return;
  if (m.recNo == 0) {
    append();
    return;
  }
  m.flushPending();
  // Start from the record as it is on disk now.
  m.readCount();
  m.dropCache();
  if (!m.loadRecord(m.recNo, m.rec.data()))
    throw TableError("Record " + std::to_string(m.recNo) + " of table '" + m.file.path() +
                     "' no longer exists");
  m.orig = m.rec;
  m.clearMemoPending();
  m.modifiedFlag = false;
  m.setState(TableState::Edit);
}

void DbfTable::post() {
  Impl& m = *impl_;
  if (!m.active || !m.editing()) return;
  if (m.st == TableState::Insert) {
    std::int64_t number = m.prepareAppend();
    m.writeMemos();
    m.rec[0] = ' ';
    m.storeRecord(number, nullptr, m.rec.data());
    m.recNo = number;
    m.liveCount = -1;
  } else {
    m.writeMemos();
    m.storeRecord(m.recNo, m.orig.data(), m.rec.data());
  }
  m.clearMemoPending();
  m.modifiedFlag = false;
  m.eofFlag = m.bofFlag = false;
  m.setState(TableState::Browse);
  m.notify(&TableListener::afterPost);
}

void DbfTable::cancel() {
  Impl& m = *impl_;
  if (!m.active || !m.editing()) return;
  bool wasInsert = m.st == TableState::Insert;
  m.clearMemoPending();
  m.modifiedFlag = false;
  if (wasInsert) {
    m.recNo = m.savedRecNo;
    if (m.recNo == 0 || !m.loadRecord(m.recNo, m.rec.data())) {
      m.positionNone();
      m.eofFlag = m.bofFlag = true;
    }
  } else {
    m.rec = m.orig;
  }
  m.setState(TableState::Browse);
  m.notify(&TableListener::afterCancel);
  if (wasInsert) m.notify(&TableListener::afterScroll);
}

void DbfTable::deleteRecord() {
  Impl& m = *impl_;
  m.requireWritable();
  if (m.st == TableState::Insert) {
    cancel();
    return;
  }
  if (m.st == TableState::Edit) {
    m.rec = m.orig;
    m.clearMemoPending();
    m.modifiedFlag = false;
    m.setState(TableState::Browse);
  }
  if (m.recNo == 0)
    throw TableError("Cannot delete: table '" + m.file.path() + "' has no current record");
  m.flushPending();
  std::vector<char> old = m.rec;
  m.rec[0] = '*';
  m.storeRecord(m.recNo, old.data(), m.rec.data());
  std::int64_t from = m.recNo;
  m.readCount();
  std::int64_t found = 0;
  for (std::int64_t n = from + 1; n <= static_cast<std::int64_t>(m.knownCount) && !found; ++n)
    if (m.liveAt(n)) found = n;
  for (std::int64_t n = from - 1; n >= 1 && !found; --n)
    if (m.liveAt(n)) found = n;
  if (found) {
    m.liveAt(found);
    m.recNo = found;
    m.eofFlag = m.bofFlag = false;
  } else {
    m.positionNone();
    m.eofFlag = m.bofFlag = true;
  }
  m.notify(&TableListener::afterDelete);
  m.notify(&TableListener::afterScroll);
}

TableState DbfTable::state() const {
  return impl_->st;
}
bool DbfTable::modified() const {
  return impl_->modifiedFlag;
}

// Indexes: see the end of this file.

void DbfTable::setWriteBehind(bool on) {
  if (!on) impl_->flushPending();
  impl_->writeBehindOn = on;
}
bool DbfTable::writeBehind() const {
  return impl_->writeBehindOn;
}
void DbfTable::flush() {
  if (impl_->active) impl_->flushPending();
}

void DbfTable::addListener(TableListener* l) {
  if (l && std::find(impl_->listeners.begin(), impl_->listeners.end(), l) == impl_->listeners.end())
    impl_->listeners.push_back(l);
}
void DbfTable::removeListener(TableListener* l) {
  auto& v = impl_->listeners;
  v.erase(std::remove(v.begin(), v.end(), l), v.end());
}

// ---------------------------------------------------------------------------------------------
// DbfField

DbfField::DbfField(DbfTable& table, int index, FieldDef def)
    : table_(table), index_(index), def_(std::move(def)) {
  switch (def_.type) {
    case 'D':
      displayWidth_ = 10;
      break;
    case '@':
    case 'T':
      displayWidth_ = 20;
      break;
    case 'L':
      displayWidth_ = 5;
      break;
    case 'I':
    case '+':
      displayWidth_ = 11;
      break;
    case 'O':
    case 'Y':
      displayWidth_ = 20;
      break;
    default:
      displayWidth_ = std::max(def_.length, 1);
  }
}

namespace {

struct FieldAccess {
  DbfTable::Impl& m;
  const FieldLayout& lay;
  const FieldDef& def;
  int index;

  const char* bytes() const { return m.rec.data() + lay.offset; }
  int len() const { return lay.def.length; }
  Dialect dialect() const { return m.hdr.dialect; }
  bool vfp() const { return m.hdr.dialect == Dialect::VisualFoxPro; }
  bool memo() const { return m.memoField[static_cast<size_t>(index)]; }

  [[noreturn]] void refuse(const std::string& what) const { throw TableError(what); }
  std::string quoted(std::string_view v) const {
    std::string q(1, '\'');
    q.append(v);
    q += '\'';
    return q;
  }
  std::string named() const { return "field '" + def.name + "'"; }

  // Raw memo bytes (pending or stored).
  std::string memoBytes() const {
    const auto& p = m.memoPending[static_cast<size_t>(index)];
    if (p) return *p;
    if (!m.memo) return {};
    std::uint64_t block = 0;
    if (vfp() && len() == 4) {
      block = static_cast<std::uint32_t>(codec::get_le32(bytes()));
    } else if (!codec::get_memo_block(bytes(), len(), block)) {
      m.corrupt("the memo pointer '" + std::string(bytes(), static_cast<size_t>(len())) + "' of " +
                named() + " in record " + std::to_string(m.recNo) + " is not a number");
    }
    return m.memo->read(block);
  }

  char* target() const {
    if (m.st == TableState::SetKey) return m.rec.data() + lay.offset;
    m.requireWritable();
    if (!m.editing())
      throw TableError("Table '" + m.file.path() + "' is not in edit or insert mode");
    return m.rec.data() + lay.offset;
  }
  void changed() const {
    m.modifiedFlag = true;
    if (m.listeners.empty()) return;
    for (auto* l : std::vector<TableListener*>(m.listeners)) l->fieldChanged(index);
  }
  void setBlank() const {
    char* p = target();
    if (memo()) {
      m.memoPending[static_cast<size_t>(index)] = std::string();
      m.anyMemoPending = true;
    } else {
      std::memcpy(p, m.blank.data() + lay.offset, static_cast<size_t>(len()));
    }
    changed();
  }
  void setNumberResult(codec::NumberFit r, std::string_view shown) const {
    if (r == codec::NumberFit::NotANumber)
      refuse(quoted(shown) + " is not a valid number for " + named());
    if (r == codec::NumberFit::TooWide)
      refuse("Value " + quoted(shown) + " does not fit " + named() + " " + def_text(def));
  }
  void putLong(long long v, std::string_view shown) const {
    if (v < -2147483647LL || v > 2147483647LL)
      refuse("Value " + quoted(shown) + " is out of range for " + named());
    codec::put_long7(target(), static_cast<std::int32_t>(v));
  }
  void putDouble(double v, std::string_view shown) const {
    if (!std::isfinite(v)) refuse(quoted(shown) + " is not a valid number for " + named());
    codec::put_double7(target(), v);
  }
  void putText(std::string_view text) const {
    char* p = target();
    const int w = len();
    if (is_ascii(text)) {
      size_t n = std::min(text.size(), static_cast<size_t>(w));
      std::memcpy(p, text.data(), n);
      std::memset(p + n, ' ', static_cast<size_t>(w) - n);
      return;
    }
    std::string b = from_utf8(text, m.hdr.codepage);
    size_t n = std::min(b.size(), static_cast<size_t>(w));
    if (m.hdr.codepage == 65001)  // never cut inside a character
      while (n > 0 && n < b.size() && (static_cast<unsigned char>(b[n]) & 0xC0) == 0x80) --n;
    std::memcpy(p, b.data(), n);
    std::memset(p + n, ' ', static_cast<size_t>(w) - n);
  }
  void readOnlyType() const {
    refuse(named() + " of type '" + std::string(1, def.type) + "' cannot be written");
  }
};

}  // namespace

#define QM_FIELD                                                                      \
  FieldAccess a {                                                                     \
    *table_.impl_, *table_.impl_->layoutOf[static_cast<size_t>(index_)], def_, index_ \
  }

bool DbfField::isNull() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  if (a.memo()) {
    const auto& pend = a.m.memoPending[static_cast<size_t>(index_)];
    if (pend) return pend->empty();
    if (a.vfp() && a.len() == 4) return codec::get_le32(p) == 0;
    std::uint64_t block = 0;
    return !codec::get_memo_block(p, a.len(), block) || block == 0;
  }
  switch (def_.type) {
    case 'L': {
      bool b;
      return !codec::get_logical(p[0], b);
    }
    case 'D': {
      DateTime d;
      return !codec::get_date(p, d);
    }
    case '@': {
      DateTime d;
      return a.len() != 8 || !codec::get_timestamp7(p, d);
    }
    case 'T': {
      DateTime d;
      return a.len() != 8 || !codec::get_vfp_datetime(p, d);
    }
    case 'I':
    case '+':
    case 'O':
    case 'Y':
    case 'B':
      return a.vfp() ? false : codec::all_zero(p, a.len());
    default:
      return codec::all_blank(p, a.len());
  }
}

std::string DbfField::asString() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  const int n = a.len();
  if (a.memo()) {
    std::string raw = a.memoBytes();
    return def_.type == 'M' ? to_utf8(raw, a.m.hdr.codepage) : raw;
  }
  switch (def_.type) {
    case 'N':
    case 'F': {
      std::string t = trim(std::string_view(p, static_cast<size_t>(n)));
      double v;
      if (t.empty()) return {};
      return codec::parse_number(t, v) ? format_general(v) : t;
    }
    case 'L': {
      bool b;
      return codec::get_logical(p[0], b) ? (b ? "True" : "False") : "";
    }
    case 'D': {
      DateTime d;
      return codec::get_date(p, d) ? format_short_date(d) : "";
    }
    case '@': {
      DateTime d;
      return n == 8 && codec::get_timestamp7(p, d) ? format_date_time(d) : "";
    }
    case 'T': {
      DateTime d;
      return n == 8 && codec::get_vfp_datetime(p, d) ? format_date_time(d) : "";
    }
    case 'I':
    case '+':
      if (n != 4) return {};
      if (a.vfp()) return std::to_string(codec::get_le32(p));
      return codec::all_zero(p, 4) ? "" : std::to_string(codec::get_long7(p));
    case 'O':
      if (n != 8 || codec::all_zero(p, 8)) return {};
      return format_general(codec::get_double7(p));
    case 'B':  // Visual FoxPro double (the dBase B is a memo, handled above)
      return n == 8 ? format_general(codec::get_le_double(p)) : "";
    case 'Y':
      return n == 8 ? format_general(static_cast<double>(codec::get_le64(p)) / 10000.0) : "";
    default: {
      size_t e = static_cast<size_t>(n);
      while (e > 0 && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
      std::string_view raw(p, e);
      if (is_ascii(raw)) return std::string(raw);
      return to_utf8(raw, a.m.hdr.codepage);
    }
  }
}

bool DbfField::trySetAsString(std::string_view text) {
  if (def_.type == 'N' || def_.type == 'F') {
    table_.impl_->requireActive();
    QM_FIELD;
    if (!a.memo()) {
      char* p = a.target();
      auto r = codec::format_number_text(text, a.len(), def_.decimals, p);
      if (r == codec::NumberFit::Blank)
        std::memset(p, ' ', static_cast<size_t>(a.len()));
      else if (r != codec::NumberFit::Ok)
        return false;
      a.changed();
      return true;
    }
  }
  try {
    setAsString(text);
    return true;
  } catch (const TableError&) {
    return false;
  }
}

void DbfField::setAsString(std::string_view text) {
  table_.impl_->requireActive();
  QM_FIELD;
  if (a.memo()) {
    a.target();
    a.m.anyMemoPending = true;
    a.m.memoPending[static_cast<size_t>(index_)] =
        def_.type == 'M' ? from_utf8(text, a.m.hdr.codepage) : std::string(text);
    a.changed();
    return;
  }
  switch (def_.type) {
    case 'C':
      a.putText(text);
      break;
    case 'N':
    case 'F': {
      char* p = a.target();
      auto r = codec::format_number_text(text, a.len(), def_.decimals, p);
      if (r == codec::NumberFit::Blank) {
        std::memset(p, ' ', static_cast<size_t>(a.len()));
      } else if (r != codec::NumberFit::Ok) {
        a.setNumberResult(r, text);
      }
      break;
    }
    case 'L': {
      std::string t = trim(text);
      char* p = a.target();
      if (t.empty()) {
        p[0] = ' ';
        break;
      }
      auto prefix_of = [&](const char* word) {
        std::string_view w(word);
        return t.size() <= w.size() && iequals(t, w.substr(0, t.size()));
      };
      if (prefix_of("True") || prefix_of("Yes"))
        p[0] = 'T';
      else if (prefix_of("False") || prefix_of("No"))
        p[0] = 'F';
      else
        a.refuse(a.quoted(text) + " is not a valid boolean value for " + a.named());
      break;
    }
    case 'D': {
      std::string t = trim(text);
      char* p = a.target();
      DateTime d;
      if (t.empty()) {
        std::memset(p, ' ', 8);
      } else if (t.size() == 8 && codec::get_date(t.data(), d)) {
        std::memcpy(p, t.data(), 8);
      } else if (parse_date(t, d) && ymd_from_day(d.day).year <= 9999 &&
                 ymd_from_day(d.day).year >= 1) {
        codec::put_date(p, d);
      } else {
        a.refuse(a.quoted(text) + " is not a valid date for " + a.named());
      }
      break;
    }
    case '@': {
      std::string t = trim(text);
      DateTime d;
      if (t.empty()) {
        std::memset(a.target(), 0, 8);
      } else if (parse_date_time(t, d)) {
        codec::put_timestamp7(a.target(), d);
      } else {
        a.refuse(a.quoted(text) + " is not a valid date and time for " + a.named());
      }
      break;
    }
    case 'I': {
      std::string t = trim(text);
      long long v;
      if (t.empty()) {
        std::memset(a.target(), 0, 4);
      } else if (try_str_to_int(t, v)) {
        a.putLong(v, text);
      } else {
        a.refuse(a.quoted(text) + " is not a valid integer value for " + a.named());
      }
      break;
    }
    case 'O': {
      std::string t = trim(text);
      double v;
      if (t.empty())
        std::memset(a.target(), 0, 8);
      else if (codec::parse_number(t, v))
        a.putDouble(v, text);
      else
        a.refuse(a.quoted(text) + " is not a valid number for " + a.named());
      break;
    }
    default:
      a.readOnlyType();
  }
  a.changed();
}

bool DbfField::asBoolean() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  switch (def_.type) {
    case 'L': {
      bool b = false;
      return codec::get_logical(p[0], b) && b;
    }
    case 'C':
    case 'V': {
      int i = 0;
      while (i < a.len() && p[i] == ' ') ++i;  // a blank-led text is false
      char c = i == 0 ? p[0] : 0;
      return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
    case 'N':
    case 'F':
    case 'I':
    case '+':
    case 'O':
    case 'B':
    case 'Y':
      return isNull() ? false : asFloat() != 0;
    default:
      throw TableError("Field '" + def_.name + "' cannot be read as a logical value");
  }
}

void DbfField::setAsBoolean(bool v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'L':
      a.target()[0] = v ? 'T' : 'F';
      a.changed();
      break;
    case 'C':
      setAsString(v ? "T" : "F");
      break;
    case 'N':
    case 'F':
    case 'I':
    case 'O':
      setAsInteger(v ? 1 : 0);
      break;
    default:
      a.readOnlyType();
  }
}

long long DbfField::asInteger() const {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'I':
    case '+':
      if (a.len() != 4) return 0;
      if (a.vfp()) return codec::get_le32(a.bytes());
      return codec::all_zero(a.bytes(), 4) ? 0 : codec::get_long7(a.bytes());
    case 'N':
    case 'F':
    case 'O':
    case 'B':
    case 'Y': {
      double v = asFloat();
      if (!(std::fabs(v) < 9.2e18))
        throw TableError("Value of field '" + def_.name + "' is out of range");
      return std::llround(v);
    }
    case 'L':
      return asBoolean() ? 1 : 0;
    case 'D':
    case '@':
    case 'T': {
      DateTime d = asDateTime();
      return d.isNull() ? 0 : d.day - kDay18991230;
    }
    default: {
      std::string t = asString();
      if (t.empty()) return 0;
      long long v;
      if (!try_str_to_int(t, v))
        throw TableError("'" + t + "' is not a valid integer value (field '" + def_.name + "')");
      return v;
    }
  }
}

void DbfField::setAsInteger(long long v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'N':
    case 'F': {
      std::string t = std::to_string(v);
      auto r = codec::format_number_text(t, a.len(), def_.decimals, a.target());
      a.setNumberResult(r, t);
      a.changed();
      break;
    }
    case 'I':
      a.putLong(v, std::to_string(v));
      a.changed();
      break;
    case 'O':
      a.putDouble(static_cast<double>(v), std::to_string(v));
      a.changed();
      break;
    case 'L':
      setAsBoolean(v != 0);
      break;
    case 'D':
    case '@': {
      DateTime d;
      d.day = v + kDay18991230;
      setAsDateTime(d);
      break;
    }
    default:
      setAsString(std::to_string(v));
  }
}

double DbfField::asFloat() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  switch (def_.type) {
    case 'N':
    case 'F': {
      double v = 0;
      std::string_view t(p, static_cast<size_t>(a.len()));
      if (codec::all_blank(p, a.len())) return 0;
      if (!codec::parse_number(t, v))
        throw TableError("'" + trim(t) + "' is not a valid floating point value (field '" +
                         def_.name + "')");
      return v;
    }
    case 'O':
      return a.len() == 8 && !codec::all_zero(p, 8) ? codec::get_double7(p) : 0;
    case 'B':
      if (a.vfp() && a.len() == 8) return codec::get_le_double(p);
      break;
    case 'Y':
      return a.len() == 8 ? static_cast<double>(codec::get_le64(p)) / 10000.0 : 0;
    case 'I':
    case '+':
      return static_cast<double>(asInteger());
    case 'L':
      return asBoolean() ? 1 : 0;
    case 'D':
    case '@':
    case 'T': {
      DateTime d = asDateTime();
      return d.isNull() ? 0 : to_delphi_float(d);
    }
    default:
      break;
  }
  std::string t = asString();
  if (t.empty()) return 0;
  double v;
  if (!codec::parse_number(t, v))
    throw TableError("'" + t + "' is not a valid floating point value (field '" + def_.name + "')");
  return v;
}

void DbfField::setAsFloat(double v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'N':
    case 'F': {
      auto r = codec::format_number_value(v, a.len(), def_.decimals, a.target());
      a.setNumberResult(r, format_general(v));
      a.changed();
      break;
    }
    case 'O':
      a.putDouble(v, format_general(v));
      a.changed();
      break;
    case 'I':
      if (!std::isfinite(v))
        a.refuse("'" + format_general(v) + "' is not a valid number for field '" + def_.name + "'");
      if (std::fabs(v) > 3e9)
        a.refuse("Value '" + format_general(v) + "' is out of range for field '" + def_.name + "'");
      a.putLong(std::llround(v), format_general(v));
      a.changed();
      break;
    case 'D':
    case '@':
      if (!std::isfinite(v) || std::fabs(v) > 3e6)
        a.refuse("'" + format_general(v) + "' is not a valid date for field '" + def_.name + "'");
      setAsDateTime(from_delphi_float(v));
      break;
    case 'L':
      setAsBoolean(v != 0);
      break;
    default:
      setAsString(format_general(v));
  }
}

DateTime DbfField::asDateTime() const {
  table_.impl_->requireActive();
  QM_FIELD;
  const char* p = a.bytes();
  DateTime d;
  switch (def_.type) {
    case 'D':
      if (!codec::get_date(p, d)) return {};
      return d;
    case '@':
      if (a.len() != 8 || !codec::get_timestamp7(p, d)) return {};
      return d;
    case 'T':
      if (a.len() != 8 || !codec::get_vfp_datetime(p, d)) return {};
      return d;
    case 'N':
    case 'F':
    case 'O':
      return isNull() ? DateTime{} : from_delphi_float(asFloat());
    default: {
      std::string t = asString();
      if (t.empty()) return {};
      if (!parse_date_time(t, d))
        throw TableError("'" + t + "' is not a valid date (field '" + def_.name + "')");
      return d;
    }
  }
}

void DbfField::setAsDateTime(const DateTime& v) {
  table_.impl_->requireActive();
  QM_FIELD;
  switch (def_.type) {
    case 'D': {
      char* p = a.target();
      Ymd y = ymd_from_day(v.day);
      if (v.isNull())
        std::memset(p, ' ', 8);
      else if (v.day < 1 || y.year > 9999)
        a.refuse("The date of day " + std::to_string(v.day) + " does not fit field '" + def_.name +
                 "'");
      else
        codec::put_date(p, v);
      a.changed();
      break;
    }
    case '@': {
      char* p = a.target();
      if (v.isNull())
        std::memset(p, 0, 8);
      else if (v.day < 1 || v.day > 3652059 || v.ms < 0 || v.ms >= 86400000)
        a.refuse("The date and time of day " + std::to_string(v.day) + " do not fit field '" +
                 def_.name + "'");
      else
        codec::put_timestamp7(p, v);
      a.changed();
      break;
    }
    case 'N':
    case 'F':
    case 'O':
      if (v.isNull())
        clear();
      else
        setAsFloat(to_delphi_float(v));
      break;
    default:
      setAsString(v.isNull() ? std::string() : format_date_time(v));
  }
}

void DbfField::clear() {
  table_.impl_->requireActive();
  QM_FIELD;
  if (def_.type == '+') a.readOnlyType();
  a.setBlank();
}

std::vector<std::string> DbfField::lines() const {
  std::string t = asString();
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\r' || t[i] == '\n') {
      out.push_back(t.substr(start, i - start));
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < t.size()) out.push_back(t.substr(start));
  return out;
}

void DbfField::setLines(const std::vector<std::string>& lines) {
  std::string t;
  for (const auto& l : lines) {
    t += l;
    t += "\r\n";
  }
  setAsString(t);
}

#undef QM_FIELD

// Indexes -------------------------------------------------------------------------------------
// The production index: opened with the table when its header says there is one, followed by
// the moves when a tag is chosen, and kept right by storeRecord.

namespace {

std::vector<KeyField> key_fields(const DbfTable::Impl& m) {
  std::vector<KeyField> r;
  for (const FieldLayout* f : m.layoutOf)
    r.push_back({f->def.name, f->def.type, f->offset, f->def.length, f->def.decimals});
  return r;
}

std::vector<KeyField> key_fields(const DbfHeader& h) {
  std::vector<KeyField> r;
  for (const FieldLayout& f : h.fields)
    if (!f.hidden()) r.push_back({f.def.name, f.def.type, f.offset, f.def.length, f.def.decimals});
  return r;
}

std::string mdx_path_of(const std::string& tablePath) {
  return resolve_path(companion_path(tablePath, ".mdx"));
}

}  // namespace

void open_index(DbfTable::Impl& m, const std::string& tablePath) {
  m.index.reset();
  m.indexTag = -1;
  if (!m.hdr.productionIndex) {
    if (!m.indexName.empty())
      throw TableError("Index '" + m.indexName + "' not found in table '" + tablePath +
                       "': the table has no production index");
    return;
  }
  m.index = std::make_unique<ProductionIndex>(mdx_path_of(tablePath), tablePath, key_fields(m.hdr),
                                              m.hdr.codepage, m.file.writable());
  if (!m.indexName.empty()) m.indexTag = m.index->usableTag(m.indexName);
}

void index_move(DbfTable& self, DbfTable::Impl& m, IndexMove how) {
  m.endEdit(self);
  m.flushPending();
  m.readCount();
  m.dropCache();
  m.memoPending.assign(m.fields.size(), std::nullopt);
  MdxFile& f = m.index->file();
  const int tag = m.indexTag;
  const bool forward = how == IndexMove::First || how == IndexMove::Next;
  std::vector<char> keep = m.rec;
  std::optional<MdxEntry> e;
  if (how == IndexMove::First) {
    e = f.first(tag);
  } else if (how == IndexMove::Last) {
    e = f.last(tag);
  } else if (m.recNo != 0) {
    std::string key = m.index->keyOf(tag, std::string_view(m.rec.data(), m.rec.size()));
    e = forward ? f.next(tag, key, static_cast<std::uint32_t>(m.recNo))
                : f.prior(tag, key, static_cast<std::uint32_t>(m.recNo));
  }
  // Deleted records stay in the index; the moves pass over them as physical moves do.
  while (e && !(e->recNo <= m.knownCount && m.liveAt(e->recNo)))
    e = forward ? f.next(tag, e->key, e->recNo) : f.prior(tag, e->key, e->recNo);
  if (e) {
    m.recNo = e->recNo;
    m.eofFlag = m.bofFlag = false;
    if (how == IndexMove::First) m.bofFlag = true;
    if (how == IndexMove::Last) m.eofFlag = true;
  } else if (how == IndexMove::First || how == IndexMove::Last || m.recNo == 0) {
    m.positionNone();
    m.eofFlag = m.bofFlag = true;
  } else {
    m.rec = keep;
    (forward ? m.eofFlag : m.bofFlag) = true;
  }
  m.notify(&TableListener::afterScroll);
}

void DbfTable::setIndexName(std::string tag) {
  Impl& m = *impl_;
  tag = trim(tag);
  if (tag.empty()) {
    m.indexName.clear();
    m.indexTag = -1;
    return;
  }
  if (m.active) {
    if (!m.index)
      throw TableError("Index '" + tag + "' not found in table '" + m.file.path() +
                       "': the table has no production index");
    m.indexTag = m.index->usableTag(tag);
  }
  m.indexName = tag;
}
const std::string& DbfTable::indexName() const {
  return impl_->indexName;
}
std::vector<std::string> DbfTable::tagNames() const {
  const Impl& m = *impl_;
  if (m.active) return m.index ? m.index->tagNames() : std::vector<std::string>{};
  std::string p = path();
  RandomFile f;
  if (!f.open(p, false)) throw TableError("Cannot open table '" + p + "'");
  if (!read_header_file(f).productionIndex) return {};
  std::string mp = mdx_path_of(p);
  if (!file_exists(mp)) throw TableError("Index not found: '" + mp + "' of table '" + p + "'");
  std::vector<std::string> r;
  // The index object must outlive the loop: a range over a temporary's member would not.
  MdxFile mdx = MdxFile::open(mp, false);
  for (const MdxTag& t : mdx.tags()) r.push_back(t.name);
  return r;
}

void DbfTable::setKey() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag < 0)
    throw TableError("Table '" + m.file.path() + "' has no index chosen for a key search");
  m.endEdit(*this);
  m.flushPending();
  m.keySaved = m.rec;
  m.rec = m.blank;
  m.setState(TableState::SetKey);
}

namespace {

// The key typed since setKey(), with the table back on its record.
std::string take_search_key(DbfTable::Impl& m) {
  if (m.st != TableState::SetKey)
    throw TableError("Table '" + m.file.path() + "' is not in key mode (setKey)");
  std::string key = m.index->keyOf(m.indexTag, std::string_view(m.rec.data(), m.rec.size()));
  m.rec = m.keySaved;
  m.modifiedFlag = false;
  m.setState(TableState::Browse);
  return key;
}

}  // namespace

bool DbfTable::gotoKey() {
  Impl& m = *impl_;
  m.requireActive();
  std::string key = take_search_key(m);
  m.readCount();
  m.dropCache();
  MdxFile& f = m.index->file();
  KeyType type = m.index->keyType(m.indexTag);
  std::vector<char> keep = m.rec;
  for (auto e = f.seek(m.indexTag, key); e && compare_keys(type, e->key, key) == 0;
       e = f.next(m.indexTag, e->key, e->recNo)) {
    if (e->recNo <= m.knownCount && m.liveAt(e->recNo)) {
      m.recNo = e->recNo;
      m.eofFlag = m.bofFlag = false;
      m.notify(&TableListener::afterScroll);
      return true;
    }
  }
  m.rec = keep;
  return false;
}

void DbfTable::gotoNearest() {
  Impl& m = *impl_;
  m.requireActive();
  std::string key = take_search_key(m);
  m.readCount();
  m.dropCache();
  MdxFile& f = m.index->file();
  auto e = f.seek(m.indexTag, key);
  while (e && !(e->recNo <= m.knownCount && m.liveAt(e->recNo)))
    e = f.next(m.indexTag, e->key, e->recNo);
  if (!e) {
    // Nothing at or after the key: the table ends up at its end, on the last record.
    index_move(*this, m, IndexMove::Last);
    m.eofFlag = true;
    return;
  }
  m.recNo = e->recNo;
  m.eofFlag = m.bofFlag = false;
  m.notify(&TableListener::afterScroll);
}

void DbfTable::addIndex(const std::string& tagName, const std::string& fieldName) {
  Impl& m = *impl_;
  m.requireWritable();
  if (!m.exclusiveOpen)
    throw TableError("Index '" + tagName + "' cannot be added to table '" + m.file.path() +
                     "': the table is not open for exclusive use");
  m.endEdit(*this);
  m.flushPending();
  int fi = m.names.find(fieldName);
  if (fi < 0)
    throw TableError("Field '" + fieldName + "' not found in table '" + m.file.path() + "'");
  const FieldLayout& lay = *m.layoutOf[static_cast<size_t>(fi)];
  MdxTagDefinition tagDef;
  tagDef.name = tagName;
  tagDef.expression = to_upper_ascii(lay.def.name);
  switch (lay.def.type) {
    case 'C':
      tagDef.type = KeyType::Character;
      tagDef.keyLength = lay.def.length;
      break;
    case 'N':
    case 'F':
      tagDef.type = KeyType::Numeric;
      break;
    case 'D':
      tagDef.type = KeyType::Date;
      break;
    default:
      throw TableError("Index '" + tagName + "' cannot be added to table '" + m.file.path() +
                       "': fields of type " + std::string(1, lay.def.type) +
                       " cannot be index keys");
  }
  auto expr = KeyExpression::compile(tagDef.expression, key_fields(m));
  // Every record is indexed, deleted ones included, as dBase does.
  std::vector<MdxEntry> entries;
  std::uint32_t count = m.readCount();
  std::vector<char> buf(static_cast<size_t>(m.hdr.recordLength));
  for (std::uint32_t n = 1; n <= count; ++n) {
    if (!m.loadRecord(n, buf.data())) m.corrupt("record " + std::to_string(n) + " cannot be read");
    entries.push_back(
        {expr->evaluate(std::string_view(buf.data(), buf.size()), m.hdr.codepage), n});
  }
  std::string p = m.file.path();
  std::string mp = mdx_path_of(p);
  {
    // A file left over while the header says there is none is stale: it is replaced.
    auto mdx =
        m.hdr.productionIndex && file_exists(mp) && m.index
            ? MdxFile::open(mp, true)
            : MdxFile::create(mp, file_name_of(p.substr(0, p.size() - extension_of(p).size())));
    mdx.addTag(tagDef, std::move(entries));
  }
  unsigned char one = 1;
  m.file.writeAt(28, &one, 1);
  m.file.writeAt(static_cast<std::uint64_t>(lay.descriptorOffset) +
                     (m.hdr.dialect == Dialect::Level7 ? 37 : 31),
                 &one, 1);
  m.hdr.productionIndex = true;
  std::string keepName = m.indexName;
  open_index(m, p);
}

}  // namespace qm::tables
