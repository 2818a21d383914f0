#include "pricefile/compare.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "pricefile/price_rules.h"
#include "tables/dbf_table.h"

namespace qm::pricefile {

namespace {

using tables::DbfTable;

std::uint64_t fnv(std::uint64_t h, std::string_view s) {
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}
constexpr std::uint64_t kFnvStart = 1469598103934665603ull;

// The compared fields of one table: DESCRIPTN first, then the prices, by the new file's names.
struct Side {
  DbfTable table;
  int part = -1;
  std::vector<int> fields;  // -1 where this table lacks the field
  std::string scratch;

  void open(const std::string& path) {
    table.setFolder(folder_of(path));
    table.setTableName(file_name_of(path));
    table.open();
    if (tables::DbfField* f = table.findField("PARTNUMBER")) part = f->index();
  }
  std::string value(std::size_t i) {
    return fields[i] < 0 ? std::string() : table.field(fields[i]).asString();
  }
  std::string partNumber() { return part < 0 ? std::string() : trim(table.field(part).asString()); }
  // The record written before the parts, which dates the list.
  bool heading(const std::string& partText) {
    return partText == "0" && starts_with(value(0), "Update ");
  }
  std::uint64_t valuesHash() {
    std::uint64_t h = kFnvStart;
    for (std::size_t i = 0; i < fields.size(); ++i) h = fnv(fnv(h, value(i)), "\x1f");
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

void describe_change(Side& before, Side& after, const std::vector<std::string>& names,
                     const std::string& part, Comparison& c) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string a = before.value(i), b = after.value(i);
    if (a == b) continue;
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
  for (Side* s : {&before, &after})
    for (const std::string& name : names) {
      tables::DbfField* f = s->table.findField(name);
      s->fields.push_back(f ? f->index() : -1);
    }

  // The previous parts by the hash of their number; the first record of each is compared.
  std::vector<Entry> old;
  for (before.table.first(); !before.table.eof(); before.table.next()) {
    const std::int64_t record = before.table.recNo();
    if (previousLast >= 0 && record > previousLast) break;
    std::string part = before.partNumber();
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
  if (nextFirst <= after.table.recordCount()) {
    after.table.goToRecNo(nextFirst);
    for (; !after.table.eof(); after.table.next()) {
      std::string part = after.partNumber();
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
      ++c.changed;
      before.table.goToRecNo(it->record);
      describe_change(before, after, names, part, c);
    }
  }
  std::sort(added.begin(), added.end());
  auto end = std::unique(added.begin(), added.end());
  c.added = end - added.begin();
  c.duplicates += added.end() - end;
  c.removed = static_cast<std::int64_t>(std::count(matched.begin(), matched.end(), false));
  return c;
}

}  // namespace qm::pricefile
