#include "pricefile/compare.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

std::uint64_t fnv(std::uint64_t h, std::string_view s) {
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}
constexpr std::uint64_t kFnvStart = 1469598103934665603ull;

// One of the two files: read as raw records for the matching, and through the table engine
// for the values of a part that the bytes say has changed.
struct Side {
  std::ifstream file;
  std::optional<RawRecords> raw;
  DbfTable table;
  int rawPart = -1;
  std::vector<int> rawFields, fields;  // -1 where this file lacks the field

  void open(const std::string& path) {
    file.open(to_fs_path(path), std::ios::binary);
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
    std::uint64_t h = kFnvStart;
    for (int f : rawFields) h = fnv(fnv(h, rawValue(f)), "\x1f");
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
  while (before.raw->next()) {
    const std::int64_t record = before.raw->number();
    if (previousLast >= 0 && record > previousLast) break;
    std::string_view part = before.partNumber();
    if (before.heading(part)) continue;
    old.push_back({fnv(kFnvStart, part), before.valuesHash(), record});
  }
  c.previousRecords = static_cast<std::int64_t>(old.size());
  std::sort(old.begin(), old.end(), [](const Entry& a, const Entry& b) {
    return a.part != b.part ? a.part < b.part : a.record < b.record;
  });
  auto last = std::unique(old.begin(), old.end(),
                          [](const Entry& a, const Entry& b) { return a.part == b.part; });
  c.duplicates += old.end() - last;
  old.erase(last, old.end());
  old.shrink_to_fit();

  std::vector<bool> matched(old.size());
  std::vector<std::uint64_t> added;
  while (after.raw->next()) {
    if (after.raw->number() < nextFirst) continue;
    std::string_view part = after.partNumber();
    if (after.heading(part)) continue;
    const std::uint64_t h = fnv(kFnvStart, part);
    auto it = std::lower_bound(old.begin(), old.end(), h,
                               [](const Entry& e, std::uint64_t v) { return e.part < v; });
    if (it == old.end() || it->part != h) {
      added.push_back(h);
      continue;
    }
    const auto at = static_cast<std::size_t>(it - old.begin());
    if (matched[at]) {
      ++c.duplicates;
      continue;
    }
    matched[at] = true;
    if (after.valuesHash() == it->values) {
      ++c.unchanged;
      continue;
    }
    before.table.goToRecNo(it->record);
    after.table.goToRecNo(after.raw->number());
    // The part number as the engine reads it (in UTF-8, not the table's code page).
    tables::DbfField* partField = after.table.findField("PARTNUMBER");
    const std::string partText = partField ? trim(partField->asString()) : std::string(part);
    if (describe_change(before, after, names, partText, c))
      ++c.changed;
    else
      ++c.unchanged;
  }
  std::sort(added.begin(), added.end());
  auto end = std::unique(added.begin(), added.end());
  c.added = end - added.begin();
  c.duplicates += added.end() - end;
  c.removed = static_cast<std::int64_t>(std::count(matched.begin(), matched.end(), false));
  return c;
}

}  // namespace qm::pricefile
