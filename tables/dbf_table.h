// The dBase table engine: the table object every part of the program opens, reads and writes.
//
// Reads level 7 (0x04, 0x8C), dBase III/IV/5 and FoxPro / Visual FoxPro tables with their memo
// files; writes level 7 only. Texts are UTF-8 here and in the table's code page on disk.
// After every post the files on disk form a valid table; nothing is cached across opens, since
// another program may have the table open too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/dataset.h"
#include "core/datetime.h"

namespace qm::tables {

struct FieldDef {
  std::string name;
  // Type letter as the table stores it: C N F L D M B G I + O @ (level 7), and for tables of
  // other levels read as they are (FoxPro Y T B V ...). A level-7 create accepts only the first
  // set.
  char type = 'C';
  int length = 0;
  int decimals = 0;

  friend bool operator==(const FieldDef&, const FieldDef&) = default;
};

enum class TableState { Inactive, Browse, Edit, Insert, SetKey };

class DbfTable;

class DbfField : public Field {
 public:
  DbfField(DbfTable& table, int index, FieldDef def);

  const std::string& name() const override { return def_.name; }
  const FieldDef& def() const { return def_; }
  int index() const { return index_; }
  int displayWidth() const override { return displayWidth_; }
  void setDisplayWidth(int w) override { displayWidth_ = w; }

  bool isNull() const override;
  // C: trailing blanks removed. N/F: the number's shortest text ("12.5"). L: "True"/"False".
  // D: the short date. @: date and time. M: the whole memo. Empty for null.
  std::string asString() const override;
  void readString(std::string& text) const override;
  // Converted as a dBase engine does; a value the field cannot take raises TableError naming
  // the field and the value. A character value longer than the field is cut to its width.
  void setAsString(std::string_view text) override;
  // The same, false instead of raising for a value the field cannot take (the field then keeps
  // what it had). For bulk writes where refused values are common and simply skipped.
  bool trySetAsString(std::string_view text);

  bool asBoolean() const;  // a character field is true when it begins with T, t, Y or y
  void setAsBoolean(bool v);
  long long asInteger() const;
  void setAsInteger(long long v);
  double asFloat() const;
  void setAsFloat(double v);
  DateTime asDateTime() const;
  void setAsDateTime(const DateTime& v);
  void clear();  // null / blank

  // Memo text as lines (split at CR LF, LF or CR); written back joined with CR LF.
  std::vector<std::string> lines() const;
  void setLines(const std::vector<std::string>& lines);

 private:
  DbfTable& table_;
  int index_;
  FieldDef def_;
  int displayWidth_;
};

// Notifications a data link listens to. Every callback has an empty default.
class TableListener {
 public:
  virtual ~TableListener() = default;
  virtual void afterOpen() {}
  virtual void beforeClose() {}
  virtual void afterScroll() {}  // after every move, and after append/insert
  virtual void afterInsert() {}
  virtual void afterDelete() {}
  virtual void afterPost() {}
  virtual void afterCancel() {}
  virtual void stateChanged() {}
  virtual void fieldChanged(int /*fieldIndex*/) {}
};

class DbfTable : public Dataset {
 public:
  DbfTable();
  ~DbfTable() override;
  DbfTable(const DbfTable&) = delete;
  DbfTable& operator=(const DbfTable&) = delete;

  // Naming. The folder may end with a separator or not; a name without extension means ".dbf".
  // Files are found without regard to case.
  void setFolder(std::string folder);
  const std::string& folder() const;
  void setTableName(std::string name);
  const std::string& tableName() const;
  std::string path() const;
  bool exists() const;
  void setExclusive(bool exclusive);  // takes effect at the next open
  bool exclusive() const;

  // Open fails with the engine's error (naming the file) when folder or file is missing or
  // the file is malformed, and with "NAME is in use by another import" when another open
  // holds it exclusively (or this open asks for that and another holds it at all). Close
  // discards an unposted change. A table that an interrupted write left with bytes past its
  // last record is cut back to its records before the first write; repairNote() then says so.
  void open() override;
  const std::string& repairNote() const;
  void close() override;
  bool active() const override;

  // Structure. fieldDefs() of an open table, or read from the file when closed.
  std::vector<FieldDef> fieldDefs() const;
  void setFieldDefs(std::vector<FieldDef> defs);
  void setTableLevel(int level);  // only 7 is written
  // Level of the open table (7, 4 for dBase IV/5, 3 for dBase III, 25 FoxPro 2.x, 30 Visual
  // FoxPro), else the level set for a create. FoxPro tables are read only.
  int tableLevel() const;
  bool readOnly() const;  // of the open table: FoxPro dialects, or a file we may not write
  // Code page of a created table: that of the table whose definitions were read (fieldDefs()
  // of this object, or copyStructureFrom), else 1252 with the driver DBWINUS0.
  void setCodepage(int codepage);
  int codepage() const;
  // The language driver name a created table gets ("DBWINUS0"); set by setCodepage and by
  // reading definitions. Of an open level-7 table: the name in its header.
  const std::string& languageDriver() const;
  void setLanguageDriver(std::string name);
  // Field definitions, code page and language driver of another table (open or closed), so
  // that a table created from a template keeps the template's driver.
  void copyStructureFrom(const DbfTable& other);
  // Creates an empty level-7 table from the field definitions (and a .dbt when there are memo
  // fields), replacing nothing: raises when the file exists.
  void createTable();

  // Movement, in the chosen index's order or physical order. Each move first ends an edit:
  // posts a changed record, cancels an unchanged one (an unchanged appended record is dropped).
  void first() override;
  void next() override;
  void prior();
  void last();
  bool eof() const override;
  bool bof() const;
  std::int64_t recordCount() override;  // live records, read from the file at each call
  int fieldCount() const override;
  DbfField& field(int index) override;
  DbfField* findField(std::string_view name) override;
  DbfField& fieldByName(std::string_view name);
  // Physical record number (1-based) of the current record, 0 when there is none.
  std::int64_t recNo() const;
  void goToRecNo(std::int64_t recNo);

  // Changes.
  void append();  // a blank record, added at the physical end when posted
  void edit();
  void post();
  void cancel();
  void deleteRecord();
  TableState state() const;
  bool editing() const { return state() == TableState::Edit || state() == TableState::Insert; }
  bool modified() const;

  // Indexes (production .mdx). Tag names match without regard to case; "" = physical order.
  void setIndexName(std::string tag);
  const std::string& indexName() const;
  std::vector<std::string> tagNames() const;
  // Key search: setKey(), then write the key field(s) as text, then gotoKey() (exact; true and
  // positioned when found) or gotoNearest() (first record whose key is >= the given key).
  void setKey();
  bool gotoKey();
  void gotoNearest();
  // Adds a tag on a single field to the production index (created when missing). Needs an
  // exclusive open.
  void addIndex(const std::string& tagName, const std::string& fieldName);

  // Write-behind (off by default): posted appends are kept in memory and written in batches
  // of about 1 MB: the records, then the end mark, then the header's count, so the files
  // form a valid table after every batch. A killed process loses the unwritten batch but
  // never leaves a broken table. The batch is written on close, by flush(), and before
  // anything that reads or changes records already on disk (moves, edit, delete, record
  // count). With it off every post reaches the file before post() returns.
  void setWriteBehind(bool on);
  bool writeBehind() const;
  void flush();

  // Told of every appended record once it is posted: its physical number and its bytes as
  // stored (deletion flag first, texts in the table's code page), so that a reader of what a
  // build writes need not read the file back. Empty, the default, tells no one.
  using AppendWatcher = std::function<void(std::int64_t recNo, std::string_view record)>;
  void setAppendWatcher(AppendWatcher watcher);

  void addListener(TableListener* l);
  void removeListener(TableListener* l);

  struct Impl;

 private:
  friend class DbfField;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm::tables
