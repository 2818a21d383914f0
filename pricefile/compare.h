// The changes a build makes against the price file it replaces or adds to, by part number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/memory.h"
#include "pricefile/build_report.h"

namespace qm::pricefile {

// What the comparison hashes a part number with.
std::uint64_t part_hash(std::string_view number);

// The part numbers of a comparison, each with what is kept of its first record. A part is
// found by a hash of its number and told apart by the number itself: two numbers that hash
// alike stay two parts.
class PartTable {
 public:
  using Hash = std::uint64_t (*)(std::string_view);
  struct Part {
    std::uint64_t values = 0;  // hash of the compared fields
    std::uint32_t record = 0;  // physical record number; 0 for a part only the new file has
    std::uint32_t name = 0;    // where the number is kept
  };

  explicit PartTable(Hash hash = part_hash);
  // Room for that many parts without growing.
  void reserve(std::size_t parts);
  std::uint64_t hash(std::string_view number) const { return hash_(number); }
  // The place of the part of that number (whose hash is given), added blank when missing:
  // then the second is true. Places count from 0 in the order the parts were added.
  std::pair<std::size_t, bool> insert(std::string_view number, std::uint64_t hash);
  std::pair<std::size_t, bool> insert(std::string_view number) {
    return insert(number, hash_(number));
  }
  // Adds a part without looking for its number; place then looks for all those added so, in
  // the order of their slots rather than of the parts, so that a file's million parts do not
  // each wait for a scattered read. Until then insert is not to be called.
  std::size_t append(std::string_view number, std::uint64_t hash);
  // Puts the appended parts in the table, in the order they came. One whose number a part
  // before it has is left out and no longer live. Returns how many were left out.
  std::int64_t place();
  bool live(std::size_t place) const { return parts_[place].name != kEmpty; }
  Part& operator[](std::size_t place) { return parts_[place]; }
  std::size_t size() const { return parts_.size(); }
  std::string_view number(std::size_t place) const { return numberAt(parts_[place].name); }
  // Asks for the memory that an insert of this hash reads first, ahead of it.
  void prefetch(std::uint64_t hash) const;

 private:
  struct Slot {
    std::uint32_t tag;   // the hash's top half
    std::uint32_t part;  // kEmpty when free
  };
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  std::size_t home(std::uint32_t tag) const {
    return static_cast<std::size_t>((std::uint64_t(tag) * slots_.size()) >> 32);
  }
  std::size_t after(std::size_t at) const { return at + 1 == slots_.size() ? 0 : at + 1; }
  void rehash(std::size_t slots);
  void grow(std::size_t parts);
  std::uint32_t keep(std::string_view number);
  std::string_view numberAt(std::uint32_t at) const;

  Hash hash_;
  std::vector<Slot> slots_;
  std::vector<Part> parts_;
  std::vector<std::uint32_t> unplaced_;  // tags of the parts appended and not yet placed
  // The numbers, each after its length byte, in blocks that never move once filled.
  std::vector<LargeBlock> blocks_;
  std::size_t used_ = 0;  // of the last block
};

// A comparison made while the build writes the new file: the previous file's part records
// are read on a thread of their own from the start, and each record the build stores is given
// to add, so that the new file is read back only for the parts whose bytes changed.
class PriceComparison {
 public:
  // Compares the part records 1 to previousLast (all when -1; physical record numbers) of the
  // previous file with the records added to the new one (the two may be one file, when a
  // build adds to it). Errors reading either are raised by finish.
  PriceComparison(const std::string& previousPath, std::int64_t previousLast,
                  const std::string& nextPath);
  ~PriceComparison();
  PriceComparison(const PriceComparison&) = delete;
  PriceComparison& operator=(const PriceComparison&) = delete;

  // A record of the new file as stored, with its physical number.
  void add(std::int64_t number, std::string_view record);
  // Once the new file holds every record added: the counts, and the values of the changes as
  // the table engine reads them.
  Comparison finish();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// The same comparison with the new file's part records from nextFirst on read from the file.
// Part numbers are trimmed; the heading records are not parts. A part number met again in the
// same file is counted as a duplicate and only its first record compared. Compared: the
// description and every price field (list price, costs, special cost, net, break prices) of
// the new file.
Comparison compare_price_files(const std::string& previousPath, std::int64_t previousLast,
                               const std::string& nextPath, std::int64_t nextFirst);

}  // namespace qm::pricefile
