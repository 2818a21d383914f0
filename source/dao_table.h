// unit DaoTable: a dataset over one table of a connected TDaoDatabase. It describes the
// table's columns as fields, walks its rows (read from the source only as they are needed) and
// gives each value as text. Source tables are read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/dataset.h"
#include "source/engine.h"

namespace qm::source {

class TDaoDatabase;

enum class FieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
};
const char* field_type_name(FieldType t);

struct FieldKind {
  FieldType type = FieldType::ftUnknown;
  int size = 0;
  friend bool operator==(const FieldKind&, const FieldKind&) = default;
};
// The field kind of an engine column (type code, attributes, size, "Format" property).
FieldKind field_kind(int engineType, int attributes, int size, std::string_view format);

// OpenOptions members, each the engine option value it adds.
enum OpenOption : unsigned {
  dbDenyWrite = 1,
  dbDenyRead = 2,
  dbReadOnly = 4,
  dbAppendOnly = 8,
  dbInconsistent = 16,
  dbConsistent = 32,
  dbSQLPassThrough = 64,
  dbFailOnError = 128,
  dbForwardOnly = 256,
  dbSeeChanges = 512,
  dbRunAsync = 1024,
  dbExecDirect = 2048,
};

class TDaoTable;

class TDaoField : public Field {
 public:
  TDaoField(TDaoTable& table, int index, std::string name, FieldKind kind, int displayWidth);

  const std::string& name() const override { return name_; }
  std::string displayName() const override { return displayLabel_.empty() ? name_ : displayLabel_; }
  void setDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
  int displayWidth() const override { return displayWidth_; }
  void setDisplayWidth(int w) override { displayWidth_ = w; }
  FieldType dataType() const { return kind_.type; }
  int size() const { return kind_.size; }
  int index() const { return index_; }

  bool isNull() const override;
  std::string asString() const override;
  void readString(std::string& text) const override;
  const std::string* heldText() const override;
  // Source tables are read-only: raises DatabaseError.
  void setAsString(std::string_view text) override;

 private:
  TDaoTable& table_;
  int index_;
  std::string name_;
  std::string displayLabel_;
  FieldKind kind_;
  int displayWidth_;
};

// The text of a cell read into a field of the given type.
std::string cell_text(const Cell& cell, FieldType type);

class TDaoTable : public Dataset {
 public:
  TDaoTable();
  ~TDaoTable() override;
  TDaoTable(const TDaoTable&) = delete;
  TDaoTable& operator=(const TDaoTable&) = delete;

  // The component's name; an open gives a nameless one "DaoTable_" and the tick count.
  const std::string& name() const { return name_; }
  void setName(std::string n) { name_ = std::move(n); }

  // Published properties the program uses (others keep their value and are not applied).
  std::string componentVersion() const { return "7.20"; }
  TDaoDatabase* database() const { return database_; }
  void setDatabase(TDaoDatabase* db);
  const std::string& tableName() const { return tableName_; }
  void setTableName(const std::string& name);
  int tableType() const { return tableType_; }
  void setTableType(int type);
  int lockType() const { return lockType_; }
  void setLockType(int type);
  unsigned openOptions() const { return openOptions_; }
  void setOpenOptions(unsigned options) { openOptions_ = options; }
  bool readOnly() const { return readOnly_; }
  void setReadOnly(bool v);
  bool databaseAutoActivate() const { return databaseAutoActivate_; }
  void setDatabaseAutoActivate(bool v) { databaseAutoActivate_ = v; }
  bool useCaptions() const { return useCaptions_; }
  void setUseCaptions(bool v) { useCaptions_ = v; }
  bool useDaoProperties() const { return useDaoProperties_; }
  void setUseDaoProperties(bool v) { useDaoProperties_ = v; }
  bool cacheMemos() const { return cacheMemos_; }
  void setCacheMemos(bool v) { cacheMemos_ = v; }
  bool cacheBlobs() const { return cacheBlobs_; }
  void setCacheBlobs(bool v) { cacheBlobs_ = v; }
  const std::string& indexName() const { return indexName_; }
  void setIndexName(const std::string& v) { indexName_ = v; }
  const std::string& queryDefName() const { return queryDefName_; }
  void setQueryDefName(const std::string& v) { queryDefName_ = v; }
  const std::vector<std::string>& sortedBy() const { return sortedBy_; }
  void setSortedBy(std::vector<std::string> v) { sortedBy_ = std::move(v); }
  const std::string& filter() const { return filter_; }
  void setFilter(const std::string& v) { filter_ = v; }
  bool filtered() const { return filtered_; }
  void setFiltered(bool v) { filtered_ = v; }
  // The read-only flag an open settled on (the database's mode, the table type, the engine).
  bool effectiveReadOnly() const { return tableReadOnly_; }

  // Dataset. After open the first record is current (eof() at once for an empty table).
  void open() override;
  void close() override;
  bool active() const override { return recordset_ != nullptr; }
  void first() override;
  void next() override;
  bool eof() const override { return eof_; }
  std::int64_t recordCount() override;
  // The record count when the source knows it without reading every row, else -1.
  std::int64_t knownRecordCount();
  int fieldCount() const override { return static_cast<int>(fields_.size()); }
  TDaoField& field(int index) override;
  TDaoField* findField(std::string_view name) override;
  // Records passed since the first one (0 on the first record).
  std::int64_t position() const { return position_; }
  // What the source's reader changed in the data to read it (such as NUL bytes left out of
  // values), one sentence each, for the notes of a build's report.
  std::vector<std::string> readNotes() const {
    return recordset_ ? recordset_->notes() : std::vector<std::string>{};
  }

  // For the database component.
  void closeByDatabase();
  void databaseDestroyed();

 private:
  friend class TDaoField;
  void closeInternal(bool byDatabase);
  void fetch();
  // The current record's cell, read now if the recordset left it for later.
  const Cell& cell(std::size_t index);

  std::string name_;
  TDaoDatabase* database_ = nullptr;
  std::string tableName_;
  int tableType_ = 2;
  int lockType_ = 3;
  unsigned openOptions_ = 0;
  bool readOnly_ = false;
  bool databaseAutoActivate_ = false;
  bool useCaptions_ = false;
  bool useDaoProperties_ = false;
  bool cacheMemos_ = false;
  bool cacheBlobs_ = false;
  std::string indexName_;
  std::string queryDefName_;
  std::vector<std::string> sortedBy_;
  std::string filter_;
  bool filtered_ = false;

  std::unique_ptr<Recordset> recordset_;
  std::vector<std::unique_ptr<TDaoField>> fields_;
  std::vector<Cell> row_;  // the current record's values
  // Columns the recordset reads only when asked (memos), and which of them the current
  // record has not read yet.
  std::vector<std::size_t> deferred_;
  std::vector<bool> unread_;
  bool haveRow_ = false;
  bool eof_ = true;
  bool tableReadOnly_ = true;
  std::int64_t position_ = -1;
};

}  // namespace qm::source
