// Moving through a table in physical order, counting its records and finding its fields.

#include "tables/dbf_table_internal.h"

#include <algorithm>

namespace qm::tables {

namespace {

// first() and last(): the live record nearest to one end, with the count read afresh, since
// another program may have changed the file.
void move_to_end(DbfTable& self, DbfTable::Impl& m, bool start) {
  m.endEdit(self);
  m.flushPending();
  m.readCount();
  m.dropCache();
  m.clearMemoPending();
  m.positionNone();
  m.recNo = start ? m.findLive(1, 1) : m.findLive(m.knownCount, -1);
  if (m.recNo == 0) m.rec = m.blank;
  m.bofFlag = start || m.recNo == 0;
  m.eofFlag = !start || m.recNo == 0;
  m.notify(&TableListener::afterScroll);
}

// next() and prior(): the neighbouring live record; past the last one the table stays on its
// record.
void step(DbfTable& self, DbfTable::Impl& m, bool forward) {
  m.endEdit(self);
  m.flushPending();
  m.clearMemoPending();
  if (m.recNo != 0) {
    std::vector<char> keep = m.rec;
    std::int64_t found;
    if (forward) {
      found = m.findLive(m.recNo + 1, 1);
      // At the end of what we knew: the file may have grown meanwhile.
      std::uint32_t before = m.knownCount;
      if (!found && m.readCount() != before) found = m.findLive(m.recNo + 1, 1);
    } else {
      found = m.findLive(std::min<std::int64_t>(m.recNo, m.knownCount + 1) - 1, -1);
    }
    if (found) {
      m.recNo = found;
      m.eofFlag = m.bofFlag = false;
      m.notify(&TableListener::afterScroll);
      return;
    }
    m.rec = keep;
  }
  (forward ? m.eofFlag : m.bofFlag) = true;
  m.notify(&TableListener::afterScroll);
}

// In the chosen index's order when there is one, else in physical order.
void move(DbfTable& self, DbfTable::Impl& m, IndexMove how) {
  m.requireActive();
  if (m.indexTag >= 0) return index_move(self, m, how);
  if (how == IndexMove::First || how == IndexMove::Last)
    move_to_end(self, m, how == IndexMove::First);
  else
    step(self, m, how == IndexMove::Next);
}

}  // namespace

void DbfTable::first() {
  move(*this, *impl_, IndexMove::First);
}
void DbfTable::next() {
  move(*this, *impl_, IndexMove::Next);
}
void DbfTable::prior() {
  move(*this, *impl_, IndexMove::Prior);
}
void DbfTable::last() {
  move(*this, *impl_, IndexMove::Last);
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

}  // namespace qm::tables
