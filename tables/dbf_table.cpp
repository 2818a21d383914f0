// Naming, opening and closing a table, and what is told to its listeners.

#include "tables/dbf_table_internal.h"

#include <algorithm>
#include <cstring>

namespace qm::tables {

namespace {

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

}  // namespace

// Bytes past the counted records are what an interrupted append or batch left before it
// could count them: never part of the table, and a later append must not keep them in the
// middle. Cut off before the first write (not at open: a source file that is only read must
// stay as it is), under the write lock, since a writer elsewhere may be between its records
// and its count.
void repair_tail(DbfTable::Impl& m) {
  m.tailChecked = true;
  const std::uint32_t count = m.readCount();
  const std::uint64_t records = m.recordOffset(static_cast<std::int64_t>(count) + 1);
  const std::uint64_t size = m.file.size();
  unsigned char last = 0;
  if (size == records + 1) m.file.readAt(records, &last, 1);
  if (size == records + 1 && last == 0x1A) return;
  const unsigned char mark = 0x1A;
  if (size > records + 1) {
    m.file.truncate(records);
    m.repairNote = file_name_of(m.file.path()) + ": " + std::to_string(size - records) +
                   " bytes after its last record, left by an interrupted write, were cut off.";
  }
  m.file.writeAt(records, &mark, 1);
}

const std::string& DbfTable::repairNote() const {
  return impl_->repairNote;
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
    // A file system without locks is no reason to refuse the table.
    if (m.openLock.lockOpenFile(m.file.handle(), m.exclusiveRequested) ==
        platform::LockResult::InUse)
      throw TableError(file_name_of(p) + " is in use by another import");
    m.hdr = read_header_file(m.file);
    m.knownCount = 0;
    m.readCount();
    m.tailChecked = false;
    m.repairNote.clear();
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
    m.openLock.release();
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
  // Idle by now: flushPending waited for the batch posted last.
  m.writer.reset();
  try {
    m.file.finishWriteBack();
  } catch (...) {
    if (!err) err = std::current_exception();
  }
  m.pending.clear();
  m.pendingRecords = 0;
  m.writtenBack = 0;
  m.autoNext.clear();
  m.openLock.release();
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
void DbfTable::setAppendWatcher(AppendWatcher watcher) {
  impl_->appendWatcher = std::move(watcher);
}

void DbfTable::addListener(TableListener* l) {
  if (l && std::find(impl_->listeners.begin(), impl_->listeners.end(), l) == impl_->listeners.end())
    impl_->listeners.push_back(l);
}
void DbfTable::removeListener(TableListener* l) {
  auto& v = impl_->listeners;
  v.erase(std::remove(v.begin(), v.end(), l), v.end());
}

}  // namespace qm::tables
