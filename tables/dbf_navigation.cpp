// Moving through a table in physical order, counting its records and finding its fields.

#include "tables/dbf_table_internal.h"

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

}  // namespace qm::tables
