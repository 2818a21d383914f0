#include "source/dao_table.h"

#include <cmath>

#include "core/error.h"
#include "core/platform.h"
#include "core/text.h"
#include "source/dao_database.h"
#include "source/number_text.h"

namespace qm::source {

const char* field_type_name(FieldType t) {
  switch (t) {
    case FieldType::ftUnknown:
      return "ftUnknown";
    case FieldType::ftString:
      return "ftString";
    case FieldType::ftSmallint:
      return "ftSmallint";
    case FieldType::ftInteger:
      return "ftInteger";
    case FieldType::ftBoolean:
      return "ftBoolean";
    case FieldType::ftFloat:
      return "ftFloat";
    case FieldType::ftCurrency:
      return "ftCurrency";
    case FieldType::ftDate:
      return "ftDate";
    case FieldType::ftTime:
      return "ftTime";
    case FieldType::ftDateTime:
      return "ftDateTime";
    case FieldType::ftBytes:
      return "ftBytes";
    case FieldType::ftAutoInc:
      return "ftAutoInc";
    case FieldType::ftBlob:
      return "ftBlob";
    case FieldType::ftMemo:
      return "ftMemo";
  }
  return "ftUnknown";
}

FieldKind field_kind(int engineType, int attributes, int size, std::string_view format) {
  using F = FieldType;
  switch (engineType) {
    case dbBoolean:
      return {F::ftBoolean, 0};
    case dbByte:
    case dbInteger:
      return {F::ftSmallint, 0};
    case dbLong:
      return {(attributes & dbAutoIncrField) ? F::ftAutoInc : F::ftInteger, 0};
    case dbBigInt:
      return {F::ftInteger, 0};
    case dbCurrency:
      return {F::ftCurrency, 0};
    case dbSingle:
    case dbDouble:
    case dbNumeric:
    case dbDecimal:
    case dbFloat:
      return {F::ftFloat, 0};
    case dbDate:
      if (iequals(format, "Long Time") || iequals(format, "Medium Time") ||
          iequals(format, "Short Time"))
        return {F::ftTime, 0};
      return {F::ftDateTime, 0};
    case dbTime:
      return {F::ftTime, 0};
    case dbTimeStamp:
      return {F::ftDateTime, 0};
    case dbBinary:
    case dbGUID:
      return {F::ftBytes, size};
    case dbText:
      return {F::ftString, size == 0 ? 255 : size};
    case dbChar:
      return {F::ftString, size};
    case dbLongBinary:
    case dbVarBinary:
      return {F::ftBlob, size};
    case dbMemo:
      return {F::ftMemo, size};
    default:
      return {F::ftUnknown, 0};
  }
}

std::string cell_text(const Cell& cell, FieldType type) {
  switch (cell.kind) {
    case Cell::Kind::Empty:
      return {};
    case Cell::Kind::Text:
    case Cell::Kind::Error:
      return cell.text;
    case Cell::Kind::Boolean:
      return cell.boolean ? "True" : "False";
    case Cell::Kind::Number:
      if (type == FieldType::ftBoolean) return cell.number != 0 ? "True" : "False";
      return cell.text.empty() ? number_text(cell.number) : cell.text;
    case Cell::Kind::DateTime: {
      DateTime dt = datetime_from_serial(cell.number);
      if (dt.isNull()) return number_text(cell.number);
      if (type == FieldType::ftTime) return format_long_time(dt);
      if (type == FieldType::ftDate) return format_short_date(dt);
      // A value without a date part is a time of day, shown as the time alone.
      if (std::floor(cell.number) == 0) return format_long_time(dt);
      return format_date_time(dt);
    }
  }
  return {};
}

// ---- fields -------------------------------------------------------------------------------

TDaoField::TDaoField(TDaoTable& table, int index, std::string name, FieldKind kind,
                     int displayWidth)
    : table_(table),
      index_(index),
      name_(std::move(name)),
      kind_(kind),
      displayWidth_(displayWidth) {}

bool TDaoField::isNull() const {
  if (!table_.haveRow_ || static_cast<std::size_t>(index_) >= table_.row_.size()) return true;
  return table_.cell(static_cast<std::size_t>(index_)).kind == Cell::Kind::Empty;
}

std::string TDaoField::asString() const {
  if (!table_.haveRow_ || static_cast<std::size_t>(index_) >= table_.row_.size()) return {};
  return cell_text(table_.cell(static_cast<std::size_t>(index_)), kind_.type);
}

void TDaoField::readString(std::string& text) const {
  if (!table_.haveRow_ || static_cast<std::size_t>(index_) >= table_.row_.size()) {
    text.clear();
    return;
  }
  const Cell& c = table_.cell(static_cast<std::size_t>(index_));
  if (c.kind == Cell::Kind::Text || c.kind == Cell::Kind::Error)
    text.assign(c.text);
  else if (c.kind == Cell::Kind::Empty)
    text.clear();
  else
    text = cell_text(c, kind_.type);
}

const std::string* TDaoField::heldText() const {
  if (!table_.haveRow_ || static_cast<std::size_t>(index_) >= table_.row_.size()) return nullptr;
  const Cell& c = table_.cell(static_cast<std::size_t>(index_));
  static const std::string kEmpty;
  if (c.kind == Cell::Kind::Text || c.kind == Cell::Kind::Error) return &c.text;
  if (c.kind == Cell::Kind::Empty) return &kEmpty;  // whatever a reader left in its text
  if (c.kind == Cell::Kind::Number && !c.text.empty() && kind_.type != FieldType::ftBoolean)
    return &c.text;
  return nullptr;
}

const Cell& TDaoTable::cell(std::size_t index) {
  if (index < unread_.size() && unread_[index]) {
    recordset_->readDeferred(index, row_[index]);
    unread_[index] = false;
  }
  return row_[index];
}

void TDaoField::setAsString(std::string_view) {
  throw DatabaseError("Cannot modify a read-only dataset");
}

namespace {

int default_display_width(const FieldKind& k) {
  using F = FieldType;
  switch (k.type) {
    case F::ftString:
      return k.size;
    case F::ftBoolean:
      return 5;
    case F::ftSmallint:
      return 6;
    case F::ftInteger:
    case F::ftAutoInc:
      return 11;
    case F::ftDateTime:
      return 20;
    default:
      return 10;
  }
}

}  // namespace

// ---- the table ----------------------------------------------------------------------------

TDaoTable::TDaoTable() = default;

TDaoTable::~TDaoTable() {
  try {
    close();
  } catch (...) {
  }
  if (database_) database_->unlink(this);
}

void TDaoTable::setDatabase(TDaoDatabase* db) {
  if (active())
    throw DatabaseError("TDaoTable.F_Set_Database: Cannot set Database while Table is Active!");
  if (database_) database_->unlink(this);
  database_ = db;
  if (database_) database_->link(this);
}

void TDaoTable::setTableName(const std::string& name) {
  if (active())
    throw DatabaseError("TDaoTable.F_Set_TableName: Cannot set TableName while Table is active!");
  tableName_ = name;
  if (!name.empty()) {
    indexName_.clear();
    queryDefName_.clear();
    sortedBy_.clear();
  }
}

void TDaoTable::setTableType(int type) {
  if (active())
    throw DatabaseError("TDaoTable.F_Set_TableType: Cannot set TableType while Table is active!");
  tableType_ = type;
  if (type == 1) {
    sortedBy_.clear();
  } else {
    indexName_.clear();
    if (type == 8) sortedBy_.clear();
  }
}

void TDaoTable::setLockType(int type) {
  if (active())
    throw DatabaseError("TDaoTable.F_Set_LockType: Cannot set LockType while Table is active!");
  lockType_ = type;
}

void TDaoTable::setReadOnly(bool v) {
  if (active())
    throw DatabaseError("TDaoTable.F_Set_ReadOnly: Cannot set ReadOnly while table is Active!");
  readOnly_ = v;
}

void TDaoTable::open() {
  if (active()) return;
  if (!database_) throw DatabaseError("TDaoTable.OpenDaoRecordset: Missing Database Property");
  if (tableName_.empty() && queryDefName_.empty())
    throw DatabaseError(
        "TDaoTable.OpenDaoRecordset: Missing TableName or QueryDefName, or SQL is empty!");
  if (!database_->connected()) {
    if (!databaseAutoActivate_)
      throw DatabaseError("TDaoTable.OpenDaoRecordset: Database is NOT connected");
    database_->setConnected(true);
  }
  if (tableType_ == 16 && !iequals(database_->databaseType(), "ODBC"))
    throw DatabaseError("TDaoTable.OpenDaoRecordset: DynamicTables are for ODBC connections only!");
  if (tableName_.empty())  // a stored query: the sources read here hold none
    throw DatabaseError(object_not_found_message(queryDefName_));
  if (!sortedBy_.empty() || (filtered_ && !filter_.empty()) || !indexName_.empty())
    throw DatabaseError(
        "Sorting, filtering and index order are not available on the source "
        "table '" +
        tableName_ + "'.");

  std::unique_ptr<Recordset> rs = database_->engineDatabase().openRecordset(tableName_);
  // Nothing here edits a source: every recordset is read-only.
  tableReadOnly_ = true;
  database_->refreshCatalogue();

  fields_.clear();
  const auto& cols = rs->columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    FieldKind k = field_kind(cols[i].type, cols[i].attributes, cols[i].size, cols[i].format);
    fields_.push_back(std::make_unique<TDaoField>(*this, static_cast<int>(i), cols[i].name, k,
                                                  default_display_width(k)));
  }
  if (name_.empty()) name_ = "DaoTable_" + std::to_string(platform::tick_count_ms());
  deferred_.clear();
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (rs->deferred(i)) deferred_.push_back(i);
  unread_.assign(cols.size(), false);
  recordset_ = std::move(rs);
  database_->attach(this);
  position_ = -1;
  first();
}

void TDaoTable::closeInternal(bool byDatabase) {
  if (!active()) return;
  fields_.clear();
  recordset_.reset();
  row_.clear();
  haveRow_ = false;
  eof_ = true;
  position_ = -1;
  if (!byDatabase && database_) database_->detach(this);
}

void TDaoTable::close() {
  closeInternal(false);
}
void TDaoTable::closeByDatabase() {
  closeInternal(true);
}

void TDaoTable::databaseDestroyed() {
  closeInternal(true);
  database_ = nullptr;
}

void TDaoTable::fetch() {
  if (recordset_->fetch(row_)) {
    for (std::size_t i : deferred_) unread_[i] = true;
    haveRow_ = true;
    eof_ = false;
    ++position_;
  } else {
    // The last record stays current, as a dataset keeps it at its end.
    eof_ = true;
  }
}

void TDaoTable::first() {
  if (!active()) return;
  recordset_->rewind();
  position_ = -1;
  haveRow_ = false;
  row_.clear();
  fetch();
}

void TDaoTable::next() {
  if (!active() || eof_) return;
  fetch();
}

std::int64_t TDaoTable::recordCount() {
  if (!active()) return 0;
  return recordset_->recordCount();
}

std::int64_t TDaoTable::knownRecordCount() {
  if (!active()) return 0;
  return recordset_->knownRecordCount();
}

TDaoField& TDaoTable::field(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) throw ListIndexError(index);
  return *fields_[static_cast<std::size_t>(index)];
}

TDaoField* TDaoTable::findField(std::string_view name) {
  for (auto& f : fields_)
    if (iequals(f->name(), name)) return f.get();
  return nullptr;
}

}  // namespace qm::source
