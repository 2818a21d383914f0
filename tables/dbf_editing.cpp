// Appending, editing, posting, cancelling and deleting records.

#include "tables/dbf_table_internal.h"

namespace qm::tables {

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
  const bool appended = m.st == TableState::Insert;
  {
    // Given up before listeners are told: one may write the table through another object.
    // An append that joins a batch already begun touches no file (the batch's flush takes
    // the lock), and a lock and its release cost two system calls per record.
    std::optional<WriteScope> lock;
    if (!m.joinsBatch()) lock.emplace(m);
    if (appended) {
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
  }
  if (appended && m.appendWatcher) m.appendWatcher(m.recNo, {m.rec.data(), m.rec.size()});
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
  {
    WriteScope lock(m);
    m.storeRecord(m.recNo, old.data(), m.rec.data());
  }
  std::int64_t from = m.recNo;
  m.readCount();
  std::int64_t found = m.findLive(from + 1, 1);
  if (!found) found = m.findLive(from - 1, -1);
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

}  // namespace qm::tables
