// Where the row conversion writes the price file: the few table operations it needs, so that
// the walk runs the same over the dBase table engine and over memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::pricefile {

class PriceSink {
 public:
  virtual ~PriceSink() = default;

  virtual void append() = 0;  // a blank record; a pending change is posted first
  virtual void post() = 0;
  virtual void close() = 0;  // drops an unposted record

  // Position of the field of that name (matched without regard to case); -1 when the table
  // has none. Positions stay valid until close.
  virtual int findField(std::string_view name) = 0;
  // Raises the table's own error for a field it lacks (what a write by that name raises).
  [[noreturn]] virtual void raiseMissingField(std::string_view name);
  // The field's present text in the record being written.
  virtual std::string fieldText(int field) = 0;
  // The same into text, whose buffer the walk keeps from record to record.
  virtual void readFieldText(int field, std::string& text) { text = fieldText(field); }
  // Raises the table's error when the field refuses the value.
  virtual void setFieldText(int field, std::string_view text) = 0;
  // The same, false instead of raising when the field refuses the value, which then leaves
  // the field as it was. Values a walk skips when refused go this way: a raise costs far more
  // than a write, and messy sheets refuse many.
  virtual bool trySetFieldText(int field, std::string_view text);

  // Type letter and width of a field, so that the report can tell a cut or changed text.
  struct Shape {
    char type = 'C';
    int width = 0;
  };
  virtual Shape fieldShape(int field) = 0;
};

// A price file in memory, for tests and for measuring the walk alone. Character fields cut a
// value to their width; numeric fields refuse a text that is not a number.
class MemoryPriceSink : public PriceSink {
 public:
  struct FieldSpec {
    std::string name;
    char type = 'C';  // 'C' or 'N'
    int width = 254;
  };

  explicit MemoryPriceSink(std::vector<FieldSpec> fields);

  void append() override;
  void post() override;
  void close() override;
  int findField(std::string_view name) override;
  std::string fieldText(int field) override;
  void setFieldText(int field, std::string_view text) override;
  Shape fieldShape(int field) override;

  // A posted record's field by name; raises std::out_of_range when either is missing.
  const std::string& text(std::size_t record, std::string_view field) const;
  std::size_t size() const {
    return keepRecords ? records.size() : static_cast<std::size_t>(posted);
  }

  std::vector<FieldSpec> fields;
  std::vector<std::vector<std::string>> records;  // posted records, in order
  bool keepRecords = true;  // false: count posts only, as a sink that costs nothing
  std::int64_t posted = 0;
  int closes = 0;
  // Refusals to test the walk's error paths: the append or post once this many records are
  // posted (-1: never).
  std::int64_t refuseAppendAt = -1;
  std::int64_t refusePostAt = -1;

 private:
  void requireEditing() const;
  bool inserting_ = false;
  std::vector<std::string> current_;
};

}  // namespace qm::pricefile
