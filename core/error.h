// Failures are raised errors that carry the message a user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace qm {

// Base of every error the program raises on purpose. what() is the user-facing text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised by the dBase table engine (open, create, field conversion, index problems).
class TableError : public Error {
 public:
  using Error::Error;
};

// Raised by the source components with their fixed texts, or passed through from a reader.
class DatabaseError : public Error {
 public:
  using Error::Error;
};

// A text that does not convert (whole number, date), with the runtime library's wording.
class ConvertError : public Error {
 public:
  using Error::Error;
};

// An index into a list that is out of range ("List index out of bounds (5)").
class ListIndexError : public Error {
 public:
  explicit ListIndexError(long long index)
      : Error("List index out of bounds (" + std::to_string(index) + ")") {}
};

}  // namespace qm
