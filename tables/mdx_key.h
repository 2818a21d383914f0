// Index keys of a dBase production index: their byte forms, their order, and the key
// expressions (field, UPPER(field), a + b) that turn a record into a key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::tables {

enum class KeyType : char { Character = 'C', Numeric = 'N', Date = 'D' };

// The numeric key is a 12-byte packed decimal: exponent byte, digit count and sign byte,
// then up to 20 digits two to a byte.
constexpr int kNumericKeyLength = 12;
// The date key is the Julian day number as a little-endian double.
constexpr int kDateKeyLength = 8;

// Numeric key of a number written as text ("  -12.50"). Text that is not a number (blank
// included) gives the key of zero, as dBase's VAL() does.
std::string numeric_key(std::string_view text);
// The number a numeric key holds, as shortest text ("12.5", "-0.001", "0").
std::string numeric_key_text(std::string_view key);
// Date key of a date field's text "YYYYMMDD"; blank or invalid text gives the key of day 0.
std::string date_key(std::string_view yyyymmdd);
// Julian day number a date key holds (2000-01-01 is 2451545).
double date_key_value(std::string_view key);

// Order of two keys of the given type: < 0, 0, > 0. Character keys compare byte by byte
// (the index holds them space-padded to the key length); numeric keys by their value, not by
// their bytes; date keys by day.
int compare_keys(KeyType type, std::string_view a, std::string_view b);

// Upper case of text in a table's code page, as the index's UPPER() sees it: ASCII letters
// always, and the accented letters of code pages 1252, 437 and 850.
std::string upper_in_codepage(std::string_view bytes, int codepage);

// A field of the table as a key expression sees it.
struct KeyField {
  std::string name;
  char type = 'C';
  int offset = 0;  // of the field's bytes inside the record (the deletion byte is at 0)
  int length = 0;
  int decimals = 0;
};

// A key expression compiled against a table's fields.
class KeyExpression {
 public:
  // Understands a field name, UPPER(...), DTOS(date field), quoted literals and
  // concatenation with +. Anything else gives nullopt and the reason in *why.
  static std::optional<KeyExpression> compile(std::string_view text,
                                              const std::vector<KeyField>& fields,
                                              std::string* why = nullptr);

  KeyType type() const { return type_; }
  int length() const { return length_; }
  // Index of the field when the expression is that field alone, else -1.
  int singleField() const { return single_; }
  // Indexes of the fields the key is made of.
  const std::vector<int>& fieldsUsed() const { return used_; }
  // The key of a record (raw bytes in the table's code page, deletion byte first).
  std::string evaluate(std::string_view record, int codepage) const;

 private:
  struct Part {
    int field = -1;       // -1: literal
    std::string literal;  // when field is -1
    bool upper = false;
    bool dtos = false;
  };
  std::vector<Part> parts_;
  std::vector<KeyField> fields_;
  std::vector<int> used_;
  KeyType type_ = KeyType::Character;
  int length_ = 0;
  int single_ = -1;
};

}  // namespace qm::tables
