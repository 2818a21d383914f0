// The records of a dBase table read straight from its file, a block at a time, as raw bytes:
// for comparing two price files of a million records each in a fraction of what reading
// every field through the table engine costs. Values are bytes as stored (code page, blank
// padding); the caller confirms with the engine what the bytes say differs.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace qm::pricefile {

class RawRecords {
 public:
  struct Column {
    std::string name;  // as stored
    char type = 'C';
    int offset = 0;  // in the record, after the deletion flag
    int length = 0;
  };

  // Reads the header; raises Error when it is not that of a dBase III, IV or level-7 table.
  explicit RawRecords(std::istream& in);

  const std::vector<Column>& columns() const { return columns_; }
  int find(std::string_view name) const;         // without regard to case; -1 when missing
  std::int64_t count() const { return count_; }  // records in the header, deleted ones too
  std::size_t recordLength() const { return recordLength_; }

  // The next record that is not deleted, with its physical number (from 1); false at the end
  // of the records, or of the file when it holds fewer than its header says.
  bool next();
  std::int64_t number() const { return number_; }
  // A field of the current record, trailing blanks and NULs removed.
  std::string_view field(int column) const { return field(columns_[std::size_t(column)], record_); }
  // The current record's bytes, its deletion flag first.
  std::string_view record() const { return {record_, recordLength_}; }
  // The same field of any record of this layout, such as one a build has just stored.
  static std::string_view field(const Column& column, const char* record);

 private:
  bool fill();

  std::istream& in_;
  std::vector<Column> columns_;
  std::int64_t count_ = 0, number_ = 0;
  std::size_t recordLength_ = 0;
  std::vector<char> block_;
  std::size_t blockRecords_ = 0, at_ = 0;
  const char* record_ = nullptr;
};

// Physical records of the table at path, from its header.
std::int64_t raw_record_count(const std::string& path);

}  // namespace qm::pricefile
