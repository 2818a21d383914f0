#include "pricefile/compare.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "pricefile/price_rules.h"
#include "pricefile/raw_records.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

namespace {

using tables::DbfTable;

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

// One of the two files: read as raw records for the matching, and through the table engine
// for the values of a part that the bytes say has changed.
struct Side {
  std::ifstream file;
  std::uintmax_t bytes = 0;
  std::optional<RawRecords> raw;
  DbfTable table;
  int rawPart = -1;
  std::vector<int> rawFields, fields;  // -1 where this file lacks the field

  void open(const std::string& path) {
    file.open(to_fs_path(path), std::ios::binary);
    std::error_code ec;
    bytes = std::filesystem::file_size(to_fs_path(path), ec);
    if (ec) bytes = 0;
    raw.emplace(file);
    rawPart = raw->find("PARTNUMBER");
    table.setFolder(folder_of(path));
    table.setTableName(file_name_of(path));
    table.open();
  }
  void name(const std::vector<std::string>& names) {
    for (const std::string& n : names) {
      rawFields.push_back(raw->find(n));
      tables::DbfField* f = table.findField(n);
      fields.push_back(f ? f->index() : -1);
    }
  }
  std::string value(std::size_t i) {
    return fields[i] < 0 ? std::string() : table.field(fields[i]).asString();
  }
  std::string_view rawValue(int column) const {
    return column < 0 ? std::string_view() : raw->field(column);
  }
  std::string_view partNumber() const { return trim_view(rawValue(rawPart)); }
  // The record written before the parts, which dates the list.
  bool heading(std::string_view part) const {
    return part == "0" && rawValue(rawFields[0]).substr(0, 7) == "Update ";
  }
  std::uint64_t valuesHash() const {
    std::uint64_t h = kHashStart;
    for (int f : rawFields) h = hash(h, rawValue(f));
    return h;
  }
};

struct Entry {
  std::uint64_t part, values;
  std::int64_t record;
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
bool describe_change(Side& before, Side& after, const std::vector<std::string>& names,
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

}  // namespace

Comparison compare_price_files(const std::string& previousPath, std::int64_t previousLast,
                               const std::string& nextPath, std::int64_t nextFirst) {
  Comparison c;
  Side before, after;
  before.open(previousPath);
  after.open(nextPath);
  std::vector<std::string> names;
  for (int i = 0, n = after.table.fieldCount(); i < n; ++i) {
    const std::string name = to_upper_ascii(after.table.field(i).name());
    const PriceKind kind = price_kind(name);
    if (name == "DESCRIPTN")
      names.insert(names.begin(), name);
    else if (kind == PriceKind::Price || kind == PriceKind::BreakPrice)
      names.push_back(name);
  }
  if (names.empty() || names[0] != "DESCRIPTN") names.insert(names.begin(), "DESCRIPTN");
  before.name(names);
  after.name(names);

  // The previous parts by the hash of their number; the first record of each is compared.
  std::vector<Entry> old;
  // Reserved from the header, as far as the file can hold: growing by doubling briefly held
  // one and a half times the list.
  std::int64_t expected = std::min<std::int64_t>(
      before.raw->count(), static_cast<std::int64_t>(before.bytes / before.raw->recordLength()));
  if (previousLast >= 0) expected = std::min(expected, previousLast);
  old.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, expected)));
  while (before.raw->next()) {
    const std::int64_t record = before.raw->number();
    if (previousLast >= 0 && record > previousLast) break;
    std::string_view part = before.partNumber();
    if (before.heading(part)) continue;
    old.push_back({hash(kHashStart, part), before.valuesHash(), record});
  }
  c.previousRecords = static_cast<std::int64_t>(old.size());
  std::sort(old.begin(), old.end(), [](const Entry& a, const Entry& b) {
    return a.part != b.part ? a.part < b.part : a.record < b.record;
  });
  auto last = std::unique(old.begin(), old.end(),
                          [](const Entry& a, const Entry& b) { return a.part == b.part; });
  c.duplicates += old.end() - last;
  // Not shrunk to fit: that would copy the list, briefly holding it twice.
  old.erase(last, old.end());

  // The hashes spread evenly over their range, so a directory by their top bits finds a part
  // in one or two reads, where a binary search made some twenty scattered ones.
  int bits = 1;
  while (bits < 30 && (std::size_t(1) << bits) < old.size()) ++bits;
  const int shift = 64 - bits;
  std::vector<std::uint32_t> directory((std::size_t(1) << bits) + 1);
  for (std::size_t b = 0, at = 0; b < directory.size(); ++b) {
    directory[b] = static_cast<std::uint32_t>(at);
    while (at < old.size() && (old[at].part >> shift) == b) ++at;
  }

  std::vector<bool> matched(old.size());
  std::vector<std::uint64_t> added;
  // The new parts are looked up a batch at a time: one look-up does not wait for another, so
  // the scattered reads of a whole batch overlap where one part at a time queued them.
  struct Lookup {
    std::uint64_t part, values;
    std::int64_t record;
    std::size_t at;
  };
  constexpr std::size_t kBatch = 4096, kNotThere = static_cast<std::size_t>(-1);
  std::vector<Lookup> batch;
  batch.reserve(kBatch);
  auto settle = [&] {
    for (Lookup& l : batch) {
      const std::size_t b = l.part >> shift;
      const auto end = old.begin() + directory[b + 1];
      auto it = std::lower_bound(old.begin() + directory[b], end, l.part,
                                 [](const Entry& e, std::uint64_t v) { return e.part < v; });
      l.at =
          it != end && it->part == l.part ? static_cast<std::size_t>(it - old.begin()) : kNotThere;
    }
    for (const Lookup& l : batch) {
      if (l.at == kNotThere) {
        added.push_back(l.part);
        continue;
      }
      if (matched[l.at]) {
        ++c.duplicates;
        continue;
      }
      matched[l.at] = true;
      if (l.values == old[l.at].values) {
        ++c.unchanged;
        continue;
      }
      before.table.goToRecNo(old[l.at].record);
      after.table.goToRecNo(l.record);
      // The part number as the engine reads it (in UTF-8, not the table's code page).
      tables::DbfField* partField = after.table.findField("PARTNUMBER");
      const std::string partText = partField ? trim(partField->asString()) : std::string();
      if (describe_change(before, after, names, partText, c))
        ++c.changed;
      else
        ++c.unchanged;
    }
    batch.clear();
  };
  while (after.raw->next()) {
    if (after.raw->number() < nextFirst) continue;
    std::string_view part = after.partNumber();
    if (after.heading(part)) continue;
    batch.push_back({hash(kHashStart, part), after.valuesHash(), after.raw->number(), 0});
    if (batch.size() == kBatch) settle();
  }
  settle();
  std::sort(added.begin(), added.end());
  auto end = std::unique(added.begin(), added.end());
  c.added = end - added.begin();
  c.duplicates += added.end() - end;
  c.removed = static_cast<std::int64_t>(std::count(matched.begin(), matched.end(), false));
  return c;
}

}  // namespace qm::pricefile
