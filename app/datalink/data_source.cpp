#include "app/datalink/data_source.h"

#include <algorithm>

#include "core/error.h"
#include "core/messages.h"

namespace qm::datalink {

using tables::DbfTable;
using tables::TableState;

DataLink::~DataLink() {
  if (source_) source_->removeLink(this);
}

DataSource::~DataSource() {
  setTable(nullptr);
  for (DataLink* l : links_) l->source_ = nullptr;
}

void DataSource::setTable(DbfTable* table) {
  if (table_ == table && attached_) return;
  if (table_ && attached_) table_->removeListener(this);
  table_ = table;
  attached_ = table != nullptr;
  closing_ = false;
  if (table_) table_->addListener(this);
  notify(DataEvent::ActiveChanged);
}

void DataSource::detach() {
  if (!attached()) return;
  table_->removeListener(this);
  attached_ = false;
  notify(DataEvent::ActiveChanged);
}

void DataSource::reattach() {
  if (attached_ || !table_) return;
  attached_ = true;
  closing_ = false;
  table_->addListener(this);
  notify(DataEvent::ActiveChanged);
}

bool DataSource::active() const {
  return attached() && !closing_ && table_->active();
}

void DataSource::addLink(DataLink* link) {
  if (link->source_ == this) return;
  if (link->source_) link->source_->removeLink(link);
  links_.push_back(link);
  link->source_ = this;
}

void DataSource::removeLink(DataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (link->source_ == this) link->source_ = nullptr;
}

tables::DbfField* DataSource::field(std::string_view name) const {
  if (!active()) return nullptr;
  return table_->findField(name);
}

bool DataSource::beginEdit() {
  if (!active()) return false;
  if (table_->editing()) return true;
  if (table_->recordCount() == 0)
    table_->append();
  else
    table_->edit();
  return true;
}

void DataSource::reportError(const std::exception& e) const {
  if (!messages_) throw;
  messages_->error(e.what());
}

void DataSource::notify(DataEvent event, int fieldIndex) {
  // A client may unbind itself (or another) while being told; walk a copy and skip the gone.
  const std::vector<DataLink*> links = links_;
  for (DataLink* l : links) {
    if (std::find(links_.begin(), links_.end(), l) == links_.end()) continue;
    l->dataEvent(event, fieldIndex);
  }
}

void DataSource::afterOpen() {
  closing_ = false;
  notify(DataEvent::ActiveChanged);
}

void DataSource::beforeClose() {
  closing_ = true;
  notify(DataEvent::ActiveChanged);
}

NavigatorState navigator_state(const DataSource& source) {
  NavigatorState s;
  DbfTable* t = source.table();
  if (!source.active() || !t) return s;
  const bool inserting = t->state() == TableState::Insert;
  const bool empty = t->bof() && t->eof() && !inserting;
  s.first = s.prior = !t->bof() && !empty;
  s.next = s.last = !t->eof() && !empty;
  s.insert = true;
  s.remove = !empty;
  s.post = s.cancel = t->editing();
  return s;
}

// --- RowMap -------------------------------------------------------------------------------

void RowMap::clear() {
  if (scan_.active()) scan_.close();
  if (reader_.active()) reader_.close();
  rows_.clear();
  rowOfRecNo_.clear();
  indexName_.clear();
  readerRecNo_ = 0;
  readerStale_ = false;
  usable_ = false;
  complete_ = true;
  started_ = false;
}

void RowMap::reset(const DbfTable* table) {
  clear();
  if (!table || !table->active()) return;
  indexName_ = table->indexName();
  try {
    for (DbfTable* t : {&scan_, &reader_}) {
      t->setFolder(table->folder());
      t->setTableName(table->tableName());
      t->setExclusive(false);
      t->setIndexName("");
      t->open();
    }
    // The scanning table walks the bound table's order; the reader goes by record number.
    scan_.setIndexName(indexName_);
  } catch (const Error&) {
    clear();
    return;
  }
  usable_ = true;
  complete_ = false;
}

std::int64_t RowMap::fetch(std::int64_t count) {
  if (!usable_ || complete_) return 0;
  std::int64_t added = 0;
  if (!started_) {
    scan_.first();
    started_ = true;
  }
  while (added < count && !scan_.eof()) {
    appendRow(scan_.recNo());
    ++added;
    scan_.next();
  }
  if (scan_.eof()) complete_ = true;
  return added;
}

void RowMap::fetchAll() {
  while (!complete_ && usable_) fetch(4096);
}

std::int64_t RowMap::rowOf(std::int64_t recNo) const {
  if (recNo <= 0 || recNo >= static_cast<std::int64_t>(rowOfRecNo_.size())) return -1;
  return rowOfRecNo_[static_cast<size_t>(recNo)];
}

void RowMap::appendRow(std::int64_t recNo) {
  if (recNo <= 0) return;
  if (recNo >= static_cast<std::int64_t>(rowOfRecNo_.size()))
    rowOfRecNo_.resize(static_cast<size_t>(recNo) + 1, -1);
  rowOfRecNo_[static_cast<size_t>(recNo)] = static_cast<std::int64_t>(rows_.size());
  rows_.push_back(recNo);
}

DbfTable* RowMap::readRow(std::int64_t row) {
  if (!usable_ || row < 0 || row >= size()) return nullptr;
  const std::int64_t recNo = rows_[static_cast<size_t>(row)];
  if (readerStale_) {
    reader_.first();  // a walk to the start is the engine's way of dropping what it read
    readerStale_ = false;
    readerRecNo_ = 0;
  }
  if (readerRecNo_ != recNo) {
    reader_.goToRecNo(recNo);
    readerRecNo_ = recNo;
  }
  return &reader_;
}

}  // namespace qm::datalink
