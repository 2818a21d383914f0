// The common shape of every table the program walks: the dBase tables and the source table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// One column of the current record. Texts are UTF-8 on this side of the interface.
class Field {
 public:
  virtual ~Field() = default;

  virtual const std::string& name() const = 0;
  virtual std::string displayName() const { return name(); }
  virtual int displayWidth() const = 0;
  virtual void setDisplayWidth(int width) = 0;

  virtual bool isNull() const = 0;
  // The value as text; empty for a null value.
  virtual std::string asString() const = 0;
  // The same into text, so that a walk over every row keeps one buffer per column instead of
  // a new string per cell.
  virtual void readString(std::string& text) const { text = asString(); }
  // The value's text where the dataset holds it as text already, valid until the dataset
  // moves or changes; nullptr where it would have to be made (then readString).
  virtual const std::string* heldText() const { return nullptr; }
  // Raises TableError (or DatabaseError for a read-only dataset) when the value is refused.
  virtual void setAsString(std::string_view text) = 0;
};

class Dataset {
 public:
  virtual ~Dataset() = default;

  virtual void open() = 0;   // no effect when open
  virtual void close() = 0;  // no effect when closed
  virtual bool active() const = 0;

  virtual void first() = 0;
  virtual void next() = 0;
  virtual bool eof() const = 0;

  // Number of records; may have to walk the data. -1 when it cannot be known cheaply.
  virtual std::int64_t recordCount() = 0;

  virtual int fieldCount() const = 0;
  // Position counted from 0. Raises ListIndexError when out of range.
  virtual Field& field(int index) = 0;
  // Name matched without regard to case; nullptr when the dataset has no such field.
  virtual Field* findField(std::string_view name) = 0;
  // As findField, but raises an Error naming the field when it is missing.
  Field& fieldByName(std::string_view name);
};

}  // namespace qm
