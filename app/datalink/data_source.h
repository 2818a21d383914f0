// The data link between one dBase table object and the controls that show its current record.
//
// Free of Qt: the controls' side lives in binders.h, table_model.h and navigator.h. A data
// source keeps no copy of any record; every client reads the table itself when told to.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf_table.h"

namespace qm {
class Messages;
}

namespace qm::datalink {

class DataSource;

enum class DataEvent {
  ActiveChanged,  // attached, detached, opened or about to close: everything may differ
  Scrolled,       // a move, or the blank record of an append
  Inserted,       // an append has begun (a Scrolled follows)
  Deleted,
  Posted,
  Cancelled,
  StateChanged,
  FieldChanged,  // one field of the current record, by position
};

// A control or view that follows a data source.
class DataLink {
 public:
  virtual ~DataLink();
  DataSource* dataSource() const { return source_; }

  // fieldIndex is the field's position for FieldChanged, -1 otherwise.
  virtual void dataEvent(DataEvent event, int fieldIndex) = 0;

 private:
  friend class DataSource;
  DataSource* source_ = nullptr;
};

class DataSource : private tables::TableListener {
 public:
  DataSource() = default;
  explicit DataSource(tables::DbfTable* table) { setTable(table); }
  ~DataSource() override;
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  // Binds to a table (nullptr unbinds and forgets it). The table must outlive the binding:
  // unbind or destroy the data source before the table.
  void setTable(tables::DbfTable* table);
  // Stops following the table without forgetting it: the controls go blank and typing in them
  // reaches no table until reattach(). Used while a table is prepared behind the window's back.
  void detach();
  void reattach();
  bool attached() const { return attached_ && table_ != nullptr; }
  // The bound table, or nullptr while detached.
  tables::DbfTable* table() const { return attached() ? table_ : nullptr; }
  // Attached and open. False from the table's beforeClose on, so that controls go blank
  // before the record disappears.
  bool active() const;

  void addLink(DataLink* link);
  void removeLink(DataLink* link);

  // The current record's field of that name, nullptr when inactive or the field is missing.
  tables::DbfField* field(std::string_view name) const;

  // What a control does before it changes a field: start editing the current record unless
  // the table is editing already; on an empty table there is no record to edit, so a blank one
  // is appended. False when there is no table to edit.
  bool beginEdit();

  // Where errors of operations started by a control go (a control's handler must not let an
  // exception escape into the toolkit). Without messages the error is rethrown.
  void setMessages(Messages* messages) { messages_ = messages; }
  Messages* messages() const { return messages_; }
  void reportError(const std::exception& e) const;

 private:
  void notify(DataEvent event, int fieldIndex = -1);

  void afterOpen() override;
  void beforeClose() override;
  void afterScroll() override { notify(DataEvent::Scrolled); }
  void afterInsert() override { notify(DataEvent::Inserted); }
  void afterDelete() override { notify(DataEvent::Deleted); }
  void afterPost() override { notify(DataEvent::Posted); }
  void afterCancel() override { notify(DataEvent::Cancelled); }
  void stateChanged() override { notify(DataEvent::StateChanged); }
  void fieldChanged(int index) override { notify(DataEvent::FieldChanged, index); }

  tables::DbfTable* table_ = nullptr;
  bool attached_ = false;
  bool closing_ = false;
  std::vector<DataLink*> links_;
  Messages* messages_ = nullptr;
};

// Which navigator buttons can act on the table as it stands.
struct NavigatorState {
  bool first = false, prior = false, next = false, last = false;
  bool insert = false, remove = false, post = false, cancel = false;

  friend bool operator==(const NavigatorState&, const NavigatorState&) = default;
};
NavigatorState navigator_state(const DataSource& source);

// A table's records in the order it walks them (the chosen index, or physical order), as a list
// of record numbers that grows on demand. It reads through table objects of its own on the
// same file, so the bound table's current record and pending edit are never disturbed.
class RowMap {
 public:
  // Opens the scanning and reading tables like `table` (folder, name, index). Without a table,
  // or when the file cannot be opened a second time (an exclusive open), the map stays empty
  // and usable() is false.
  void reset(const tables::DbfTable* table);
  void clear();
  bool usable() const { return usable_; }

  std::int64_t size() const { return static_cast<std::int64_t>(rows_.size()); }
  bool complete() const { return complete_; }
  // Reads up to count further records; returns how many were added.
  std::int64_t fetch(std::int64_t count);
  void fetchAll();
  std::int64_t recNoAt(std::int64_t row) const { return rows_.at(static_cast<size_t>(row)); }
  // Row of a record number among the rows read so far, -1 when not (yet) read.
  std::int64_t rowOf(std::int64_t recNo) const;
  // A record added at the physical end while the map walks physical order.
  void appendRow(std::int64_t recNo);
  const std::string& indexName() const { return indexName_; }

  // The record of a row, positioned for reading its fields; nullptr when unusable.
  tables::DbfTable* readRow(std::int64_t row);
  // The reading table keeps records it read in memory; after the bound table wrote one they
  // must be read from the file again.
  void invalidate() { readerStale_ = true; }

 private:
  tables::DbfTable scan_;
  tables::DbfTable reader_;
  std::vector<std::int64_t> rows_;
  std::vector<std::int64_t> rowOfRecNo_;  // by record number, -1 when unknown
  std::string indexName_;
  std::int64_t readerRecNo_ = 0;
  bool readerStale_ = false;
  bool usable_ = false;
  bool complete_ = true;
  bool started_ = false;
};

}  // namespace qm::datalink
