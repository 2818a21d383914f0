#include "pricefile/compare.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>

#include "core/error.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "pricefile/price_rules.h"
#include "pricefile/raw_records.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

namespace {

using tables::DbfTable;
using Column = RawRecords::Column;

std::string_view trim_view(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// Two million records of up to a few hundred compared bytes each: hashed eight bytes a step
// (a byte a step took most of the comparison's time).
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kHashStart = 0x27D4EB2F165667C5ull;

std::uint64_t rotl(std::uint64_t v, int r) {
  return v << r | v >> (64 - r);
}
std::uint64_t mix(std::uint64_t h, std::uint64_t w) {
  h ^= rotl(w * kPrime2, 31) * kPrime1;
  return rotl(h, 27) * kPrime1 + 0x85EBCA77C2B2AE63ull;
}
std::uint64_t hash(std::uint64_t h, std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = mix(h, w);
  }
  std::uint64_t tail = 0;
  if (i < s.size()) std::memcpy(&tail, s.data() + i, s.size() - i);
  // The length keeps "AB" + "1" apart from "A" + "B1" in two neighbouring fields.
  return mix(h ^ s.size(), tail);
}

std::string_view field(const Column* c, const char* record) {
  return c ? RawRecords::field(*c, record) : std::string_view();
}

std::uint64_t load(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Sixteen bytes a step, for runs of fields of the same width in both files.
std::uint64_t fold(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(r >> 64) ^ static_cast<std::uint64_t>(r);
#else
  return mix(mix(kHashStart, a), b);
#endif
}
// Four hashes, each over every fourth block of sixteen bytes, so that four products are under
// way at once. The blocks of a run of fields are all its whole ones and then its last sixteen
// bytes, overlapping the block before them: runs have the same lengths in every record.
struct Lanes {
  static constexpr std::uint64_t kB = 0xE7037ED1A0B428DBull;
  std::uint64_t a = kHashStart, b = kPrime2, c = 0x165667B19E3779F9ull, d = kPrime1;

  static std::uint64_t step(const char* p, std::uint64_t lane) {
    // The second word is never multiplied as it is: blank padding of NULs would be 0.
    return fold(load(p) ^ lane, load(p + 8) ^ kB);
  }
  void one(const char* p) {
    const std::uint64_t t = step(p, a);
    a = b;
    b = c;
    c = d;
    d = t;
  }
  void run(const char* p, std::size_t n) {
    if (n < 16) {
      char block[16] = {};
      std::memcpy(block, p, n);
      one(block);
      return;
    }
    const char* end = p + n;
    for (; end - p >= 64; p += 64) {
      a = step(p, a);
      b = step(p + 16, b);
      c = step(p + 32, c);
      d = step(p + 48, d);
    }
    for (; end - p > 16; p += 16) one(p);
    if (p < end) one(end - 16);
  }
  std::uint64_t value() const { return fold(fold(a, b ^ kB) ^ c, d ^ kB); }
};

// Where the two files keep the part number and the compared fields (nullptr where one lacks
// a field).
struct Layout {
  struct Side {
    const Column* part = nullptr;
    std::vector<const Column*> fields;
    // The compared fields as runs of neighbouring bytes, when the two files agree on them.
    std::vector<std::pair<int, int>> runs;  // offset, length
  };
  Side previous, next;
  // Both files give every compared field the same width: a part whose compared bytes are the
  // same is unchanged, and the bytes are hashed a run of fields at a time. Otherwise each
  // field is hashed without its padding. Either way the engine has the last word on a part
  // whose bytes differ.
  bool sameWidths = true;

  Layout(const RawRecords& before, const RawRecords& after, const std::vector<std::string>& names) {
    auto find = [](const RawRecords& raw, std::string_view name) -> const Column* {
      const int i = raw.find(name);
      return i < 0 ? nullptr : &raw.columns()[static_cast<std::size_t>(i)];
    };
    previous.part = find(before, "PARTNUMBER");
    next.part = find(after, "PARTNUMBER");
    const Column *lastBefore = nullptr, *lastAfter = nullptr;
    for (const std::string& n : names) {
      const Column *a = find(before, n), *b = find(after, n);
      previous.fields.push_back(a);
      next.fields.push_back(b);
      if (!a && !b) continue;
      if (!a || !b || a->length != b->length) {
        sameWidths = false;
        continue;
      }
      // A field that follows the last one in both files lengthens the run.
      if (lastBefore && lastBefore->offset + lastBefore->length == a->offset &&
          lastAfter->offset + lastAfter->length == b->offset) {
        previous.runs.back().second += a->length;
        next.runs.back().second += b->length;
      } else {
        previous.runs.emplace_back(a->offset, a->length);
        next.runs.emplace_back(b->offset, b->length);
      }
      lastBefore = a;
      lastAfter = b;
    }
  }
  static std::string_view partNumber(const Side& side, const char* record) {
    return trim_view(field(side.part, record));
  }
  // The record written before the parts, which dates the list.
  static bool heading(const Side& side, std::string_view part, const char* record) {
    return part == "0" && field(side.fields[0], record).substr(0, 7) == "Update ";
  }
  std::uint64_t valuesHash(const Side& side, const char* record) const {
    if (sameWidths) {
      Lanes lanes;
      for (const auto& [offset, length] : side.runs)
        lanes.run(record + offset, static_cast<std::size_t>(length));
      return lanes.value();
    }
    std::uint64_t h = kHashStart;
    for (const Column* f : side.fields) h = hash(h, field(f, record));
    return h;
  }
};

// One of the two files through the table engine, for the values of a part whose bytes say it
// has changed.
struct Engine {
  DbfTable table;
  std::vector<int> fields;  // -1 where this file lacks the field

  void open(const std::string& path, const std::vector<std::string>& names) {
    table.setFolder(folder_of(path));
    table.setTableName(file_name_of(path));
    table.open();
    for (const std::string& n : names) {
      tables::DbfField* f = table.findField(n);
      fields.push_back(f ? f->index() : -1);
    }
  }
  std::string value(std::size_t i) {
    return fields[i] < 0 ? std::string() : table.field(fields[i]).asString();
  }
};

bool number(const std::string& text, double& v) {
  std::string t = trim(text);
  if (t.empty()) {
    v = 0;
    return true;
  }
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

void keep(std::vector<PriceChange>& list, std::int64_t& count, const PriceChange& c) {
  if (++count <= static_cast<std::int64_t>(kKeptPerList)) list.push_back(c);
}

// False when the values read the same through the engine (the bytes differed in form only).
bool describe_change(Engine& before, Engine& after, const std::vector<std::string>& names,
                     const std::string& part, Comparison& c) {
  bool any = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string a = before.value(i), b = after.value(i);
    if (a == b) continue;
    any = true;
    PriceChange ch{part, names[i], a, b, false};
    double x = 0, y = 0;
    if (i > 0 && number(a, x) && number(b, y) && x != 0) {
      c.histogram[histogram_bin((y - x) / std::fabs(x) * 100)] += 1;
      const double ratio = std::fabs(y / x);
      ch.suspicious = y == 0 || ratio > 10 || ratio < 0.1;
    }
    if (ch.suspicious) keep(c.suspicious, c.suspiciousCount, ch);
    keep(c.changes, c.changeCount, ch);
  }
  return any;
}

constexpr std::size_t kBlockBytes = kLargePage;
// How far ahead of a look-up in the part table its slot is asked for.
constexpr std::size_t kAhead = 16;

}  // namespace

std::uint64_t part_hash(std::string_view number) {
  // Most part numbers are a few to sixteen bytes: two loads that between them hold every byte
  // and one product, for the two million numbers a comparison hashes.
  const std::size_t n = number.size();
  if (n > 16) return hash(kHashStart, number);
  const char* p = number.data();
  std::uint64_t a = 0, b = 0;
  if (n >= 8) {
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + n - 8, 8);
  } else if (n >= 4) {
    std::uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = static_cast<unsigned char>(p[0]) |
        std::uint64_t(static_cast<unsigned char>(p[n / 2])) << 8 |
        std::uint64_t(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  std::uint64_t h = fold(a ^ kPrime1 ^ n, b ^ Lanes::kB);
  h ^= h >> 29;
  h *= kPrime2;
  return h ^ h >> 32;
}

// PartTable ----------------------------------------------------------------------------------

PartTable::PartTable(Hash hash) : hash_(hash) {
  rehash(64);
}

void PartTable::reserve(std::size_t parts) {
  reserve_in_large_pages(parts_, parts);
  reserve_in_large_pages(unplaced_, parts);
  grow(parts);
}

// Two thirds full at most: a number not there is then told after a few neighbouring slots.
void PartTable::grow(std::size_t parts) {
  if (parts * 3 > slots_.size() * 2) rehash(std::max(parts * 3 / 2, slots_.size() * 2) + 64);
}

void PartTable::rehash(std::size_t slots) {
  std::vector<Slot> fresh;
  reserve_in_large_pages(fresh, slots);
  fresh.assign(slots, Slot{0, kEmpty});
  slots_ = std::move(fresh);
  for (std::size_t p = 0; p + unplaced_.size() < parts_.size(); ++p) {
    if (!live(p)) continue;
    const auto tag = static_cast<std::uint32_t>(hash_(number(p)) >> 32);
    std::size_t at = home(tag);
    while (slots_[at].part != kEmpty) at = after(at);
    slots_[at] = {tag, static_cast<std::uint32_t>(p)};
  }
}

std::string_view PartTable::numberAt(std::uint32_t at) const {
  const char* p = blocks_[at / kBlockBytes].get() + at % kBlockBytes;
  return {p + 1, static_cast<unsigned char>(p[0])};
}

std::uint32_t PartTable::keep(std::string_view number) {
  // A field is at most 255 bytes wide, so its length fits the byte before it.
  if (number.size() > 255) throw Error("Part number too long to compare: " + std::string(number));
  if (parts_.size() >= kEmpty) throw Error("Too many part numbers to compare");
  if (blocks_.empty() || used_ + 1 + number.size() > kBlockBytes) {
    // Every place stays below kEmpty, which marks a part left out.
    if (blocks_.size() + 1 >= 0xFFFFFFFFu / kBlockBytes)
      throw Error("Too many part numbers to compare");
    blocks_.push_back(make_large_block(kBlockBytes));
    used_ = 0;
  }
  char* p = blocks_.back().get() + used_;
  p[0] = static_cast<char>(number.size());
  std::memcpy(p + 1, number.data(), number.size());
  const auto at = static_cast<std::uint32_t>((blocks_.size() - 1) * kBlockBytes + used_);
  used_ += 1 + number.size();
  return at;
}

std::pair<std::size_t, bool> PartTable::insert(std::string_view number, std::uint64_t hash) {
  if (!unplaced_.empty()) place();
  grow(parts_.size() + 1);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  for (std::size_t at = home(tag);; at = after(at)) {
    Slot& s = slots_[at];
    if (s.part == kEmpty) {
      Part part;
      part.name = keep(number);
      s = {tag, static_cast<std::uint32_t>(parts_.size())};
      parts_.push_back(part);
      return {parts_.size() - 1, true};
    }
    if (s.tag == tag && this->number(s.part) == number) return {s.part, false};
  }
}

std::size_t PartTable::append(std::string_view number, std::uint64_t hash) {
  Part part;
  part.name = keep(number);
  parts_.push_back(part);
  unplaced_.push_back(static_cast<std::uint32_t>(hash >> 32));
  return parts_.size() - 1;
}

std::int64_t PartTable::place() {
  grow(parts_.size());
  const std::size_t first = parts_.size() - unplaced_.size();
  std::vector<std::uint32_t> tags = std::move(unplaced_);
  unplaced_ = {};
  // The parts by the top bits of their tags, each group in the order the parts came: a
  // group's slots are neighbours, so the table is filled from one end to the other.
  constexpr int kGroupBits = 10;
  std::vector<std::uint32_t> start((std::size_t(1) << kGroupBits) + 1);
  for (std::uint32_t tag : tags) ++start[(tag >> (32 - kGroupBits)) + 1];
  for (std::size_t g = 1; g < start.size(); ++g) start[g] += start[g - 1];
  std::vector<std::uint32_t> order;
  reserve_in_large_pages(order, tags.size());
  order.resize(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i)
    order[start[tags[i] >> (32 - kGroupBits)]++] = static_cast<std::uint32_t>(i);
  std::int64_t repeated = 0;
  for (std::uint32_t i : order) {
    const std::uint32_t tag = tags[i], part = static_cast<std::uint32_t>(first + i);
    for (std::size_t at = home(tag);; at = after(at)) {
      Slot& s = slots_[at];
      if (s.part == kEmpty) {
        s = {tag, part};
        break;
      }
      if (s.tag == tag && number(s.part) == number(part)) {
        parts_[part].name = kEmpty;
        ++repeated;
        break;
      }
    }
  }
  return repeated;
}

void PartTable::prefetch(std::uint64_t hash) const {
#if defined(__GNUC__)
  __builtin_prefetch(&slots_[home(static_cast<std::uint32_t>(hash >> 32))]);
#else
  (void)hash;
#endif
}

// PriceComparison ----------------------------------------------------------------------------

struct PriceComparison::State {
  std::string previousPath, nextPath;
  std::int64_t previousLast = -1;
  std::vector<std::string> names;
  std::ifstream previousFile, nextFile;
  std::optional<RawRecords> previous, next;
  std::optional<Layout> layout;
  std::exception_ptr previousError, nextError, addError;

  // Written by the reader until ready is set, then by add and finish.
  PartTable parts;
  std::size_t previousParts = 0;
  std::int64_t previousRecords = 0, previousDuplicates = 0;
  std::thread reader;
  // On a cache line of their own: the reader asks for stop at every record.
  struct alignas(64) Flags {
    std::atomic<bool> ready{false}, stop{false};
  } flags;

  // The new parts not yet looked up: the first ones wait for the reader.
  struct Lookup {
    std::uint64_t hash, values;
    std::uint32_t record, name;
  };
  std::vector<Lookup> waiting;
  std::string waitingNames;
  std::vector<bool> matched;
  std::int64_t matchedCount = 0;
  std::size_t lastFound = static_cast<std::size_t>(-1);
  bool inOrder = false;
  // The records of parts whose bytes differ, previous and new, in the new file's order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> differing;
  Comparison c;

  void read() {
    // The walk is what the user waits for; the reader has until the walk's end to finish.
    platform::lower_this_thread_priority();
    try {
      RawRecords raw = std::move(*previous);
      previous.reset();
      // Reserved from the header, as far as the file can hold: growing by doubling briefly
      // held one and a half times the list.
      std::error_code ec;
      const std::uintmax_t bytes = std::filesystem::file_size(to_fs_path(previousPath), ec);
      std::int64_t expected = std::min<std::int64_t>(
          raw.count(), static_cast<std::int64_t>((ec ? 0 : bytes) / raw.recordLength()));
      if (previousLast >= 0) expected = std::min(expected, previousLast);
      // Kept apart from what add reads until the end: sharing its cache lines while both
      // threads run cost more than all the rest.
      PartTable table;
      std::int64_t records = 0;
      table.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, expected)));
      const Layout::Side& side = layout->previous;
      while (raw.next() && !flags.stop.load(std::memory_order_relaxed)) {
        const std::int64_t record = raw.number();
        if (previousLast >= 0 && record > previousLast) break;
        const char* bytes = raw.record().data();
        std::string_view part = Layout::partNumber(side, bytes);
        if (Layout::heading(side, part, bytes)) continue;
        ++records;
        PartTable::Part& p = table[table.append(part, table.hash(part))];
        p.values = layout->valuesHash(side, bytes);
        p.record = static_cast<std::uint32_t>(record);
      }
      // A number met again: only its first record is compared.
      previousDuplicates = table.place();
      previousRecords = records;
      previousParts = table.size();
      parts = std::move(table);
    } catch (...) {
      previousError = std::current_exception();
    }
    flags.ready.store(true, std::memory_order_release);
  }

  void waitForReader() {
    if (reader.joinable()) reader.join();
  }

  // The waiting parts against the previous ones, in the order they came.
  void settle() {
    waitForReader();
    if (previousError || !flags.ready) {
      waiting.clear();
      return;
    }
    if (matched.size() < previousParts) matched.resize(previousParts);
    for (std::size_t k = 0; k < waiting.size(); ++k) {
      if (!inOrder && k + kAhead < waiting.size()) parts.prefetch(waiting[k + kAhead].hash);
      const Lookup& l = waiting[k];
      const std::string_view name(
          waitingNames.data() + l.name,
          (k + 1 < waiting.size() ? waiting[k + 1].name : waitingNames.size()) - l.name);
      // Next month's list mostly keeps last month's order: the part after the last one found
      // is tried first, which the table would find too, since it holds each number once.
      std::size_t at = lastFound + 1;
      bool added = false;
      inOrder = at < previousParts && parts.live(at) && parts.number(at) == name;
      if (!inOrder) std::tie(at, added) = parts.insert(name, l.hash);
      lastFound = at;
      if (added) {
        ++c.added;
        continue;
      }
      if (at >= previousParts || matched[at]) {
        ++c.duplicates;
        continue;
      }
      matched[at] = true;
      ++matchedCount;
      if (parts[at].values == l.values)
        ++c.unchanged;
      else
        differing.emplace_back(parts[at].record, l.record);
    }
    waiting.clear();
    waitingNames.clear();
  }
};

PriceComparison::PriceComparison(const std::string& previousPath, std::int64_t previousLast,
                                 const std::string& nextPath)
    : s_(std::make_unique<State>()) {
  State& s = *s_;
  s.previousPath = previousPath;
  s.nextPath = nextPath;
  s.previousLast = previousLast;
  // Both headers are read here, before the build adds a record to either file.
  try {
    s.previousFile.open(to_fs_path(previousPath), std::ios::binary);
    s.previous.emplace(s.previousFile);
  } catch (...) {
    s.previousError = std::current_exception();
  }
  try {
    s.nextFile.open(to_fs_path(nextPath), std::ios::binary);
    s.next.emplace(s.nextFile);
    for (const Column& col : s.next->columns()) {
      const std::string name = to_upper_ascii(col.name);
      const PriceKind kind = price_kind(name);
      if (name == "DESCRIPTN")
        s.names.insert(s.names.begin(), name);
      else if (kind == PriceKind::Price || kind == PriceKind::BreakPrice)
        s.names.push_back(name);
    }
    if (s.names.empty() || s.names[0] != "DESCRIPTN") s.names.insert(s.names.begin(), "DESCRIPTN");
  } catch (...) {
    s.nextError = std::current_exception();
  }
  if (s.previousError || s.nextError) return;
  s.layout.emplace(*s.previous, *s.next, s.names);
  try {
    s.reader = std::thread([&s] { s.read(); });
  } catch (const std::system_error&) {
    s.read();  // no thread to be had: read it now
  }
}

PriceComparison::~PriceComparison() {
  s_->flags.stop = true;
  s_->waitForReader();
}

void PriceComparison::add(std::int64_t number, std::string_view record) {
  State& s = *s_;
  if (s.previousError || s.nextError || s.addError) return;
  try {
    const Layout::Side& side = s.layout->next;
    std::string_view part = Layout::partNumber(side, record.data());
    if (Layout::heading(side, part, record.data())) return;
    // The hash the reader's table uses, but not read from that table: the reader moves its
    // own into place when it is done, meanwhile.
    s.waiting.push_back({part_hash(part), s.layout->valuesHash(side, record.data()),
                         static_cast<std::uint32_t>(number),
                         static_cast<std::uint32_t>(s.waitingNames.size())});
    s.waitingNames.append(part);
    // A batch at a time, so that the scattered reads of a batch overlap; until the reader is
    // done the parts wait for it, up to a bound.
    constexpr std::size_t kBatch = 4096, kMostWaiting = 1 << 18;
    if (s.waiting.size() >= kBatch &&
        (s.flags.ready.load(std::memory_order_acquire) || s.waiting.size() >= kMostWaiting))
      s.settle();
  } catch (...) {
    s.addError = std::current_exception();
  }
}

Comparison PriceComparison::finish() {
  State& s = *s_;
  if (!s.previousError && !s.nextError && !s.addError) s.settle();
  s.waitForReader();
  if (s.previousError) std::rethrow_exception(s.previousError);
  Engine before, after;
  before.open(s.previousPath, s.names);
  if (s.nextError) std::rethrow_exception(s.nextError);
  after.open(s.nextPath, s.names);
  if (s.addError) std::rethrow_exception(s.addError);
  Comparison& c = s.c;
  tables::DbfField* partField = after.table.findField("PARTNUMBER");
  for (const auto& [was, now] : s.differing) {
    before.table.goToRecNo(was);
    after.table.goToRecNo(now);
    // The part number as the engine reads it (in UTF-8, not the table's code page).
    const std::string partText = partField ? trim(partField->asString()) : std::string();
    if (describe_change(before, after, s.names, partText, c))
      ++c.changed;
    else
      ++c.unchanged;
  }
  c.previousRecords = s.previousRecords;
  c.duplicates += s.previousDuplicates;
  c.removed = static_cast<std::int64_t>(s.previousParts) - s.previousDuplicates - s.matchedCount;
  return std::move(c);
}

Comparison compare_price_files(const std::string& previousPath, std::int64_t previousLast,
                               const std::string& nextPath, std::int64_t nextFirst) {
  PriceComparison comparison(previousPath, previousLast, nextPath);
  std::ifstream file(to_fs_path(nextPath), std::ios::binary);
  std::optional<RawRecords> raw;
  try {
    raw.emplace(file);
  } catch (const Error&) {
    // The comparison has met the same and says so in its order.
  }
  while (raw && raw->next())
    if (raw->number() >= nextFirst) comparison.add(raw->number(), raw->record());
  return comparison.finish();
}

}  // namespace qm::pricefile
