#include "source/sheet_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "core/error.h"
#include "core/text.h"

namespace qm::source {

SheetOptions SheetOptions::from(const ConnectString& connect) {
  SheetOptions o;
  o.firstRowHeader = connect.firstRowHeader();
  long long guess = 8;
  if (try_str_to_int(connect.param("TYPEGUESSROWS", "8"), guess))
    o.typeGuessRows = guess < 0 ? 8 : static_cast<int>(std::min<long long>(guess, kMaxScanRows));
  std::string mixed = connect.param("IMPORTMIXEDTYPES", "Text");
  o.mixedAsText = connect.param("IMEX") == "1" && iequals(mixed, "Text");
  return o;
}

namespace {

std::string header_text(const Cell& c) {
  switch (c.kind) {
    case Cell::Kind::Text:
    case Cell::Kind::Error:
      return trim(c.text);
    case Cell::Kind::Number:
      return format_general(c.number);
    case Cell::Kind::Boolean:
      return c.boolean ? "True" : "False";
    case Cell::Kind::DateTime:
      return format_date_time(datetime_from_serial(c.number));
    case Cell::Kind::Empty:
      break;
  }
  return {};
}

enum Seen : unsigned { kNumber = 1, kDate = 2, kBool = 4, kText = 8 };

}  // namespace

void ColumnScan::add(const std::vector<Cell>& row) {
  if (seen_.size() < row.size()) seen_.resize(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    const Cell& c = row[i];
    Seen& s = seen_[i];
    switch (c.kind) {
      case Cell::Kind::Empty:
        break;
      case Cell::Kind::Number:
        s.kinds |= kNumber, ++s.counts[0];
        break;
      case Cell::Kind::DateTime: {
        s.kinds |= kDate, ++s.counts[1];
        if (c.number >= 1 || c.number < 0) s.allTimes = false;
        double frac = c.number - std::floor(c.number);
        if (frac != 0) s.anyTime = true;
        break;
      }
      case Cell::Kind::Boolean:
        s.kinds |= kBool, ++s.counts[2];
        break;
      case Cell::Kind::Text:
      case Cell::Kind::Error:
        s.kinds |= kText, ++s.counts[3];
        if (c.text.size() > static_cast<std::size_t>(kTextSize)) s.longText = true;
        break;
    }
  }
}

std::vector<EngineColumn> ColumnScan::describe(const std::vector<Cell>* header, int columnCount,
                                               const SheetOptions& options) const {
  std::vector<EngineColumn> cols(static_cast<std::size_t>(columnCount));
  std::set<std::string> used;  // upper-cased names taken so far
  for (int i = 0; i < columnCount; ++i) {
    std::string name;
    if (header && static_cast<std::size_t>(i) < header->size()) name = header_text((*header)[i]);
    std::string fallback = std::to_string(i + 1);
    fallback.insert(fallback.begin(), 'F');
    if (name.empty()) name = fallback;
    if (used.count(to_upper_ascii(name))) {
      // A repeated name gets the lowest number that makes it unique.
      for (int n = 1;; ++n) {
        std::string candidate = name + std::to_string(n);
        if (!used.count(to_upper_ascii(candidate))) {
          name = candidate;
          break;
        }
      }
    }
    used.insert(to_upper_ascii(name));
    cols[i].name = name;
  }

  for (int i = 0; i < columnCount; ++i) {
    EngineColumn& col = cols[i];
    const Seen none;
    const Seen& s = static_cast<std::size_t>(i) < seen_.size() ? seen_[i] : none;
    const unsigned seen = s.kinds;
    auto text_column = [&] {
      col.type = s.longText ? dbMemo : dbText;
      col.size = s.longText ? 0 : kTextSize;
    };
    if (options.allText || seen == 0 || seen == kText) {
      text_column();
      continue;
    }
    unsigned kind = seen;
    if ((seen & (seen - 1)) != 0) {  // more than one kind
      if (options.mixedAsText) {
        text_column();
        continue;
      }
      // The kind of most cells wins; a tie goes to the number.
      std::size_t best = 0;
      for (int k = 0; k < 4; ++k)
        if (s.counts[k] > s.counts[best]) best = static_cast<std::size_t>(k);
      kind = 1u << best;
    }
    switch (kind) {
      case kNumber:
        col.type = dbDouble;
        col.size = 8;
        break;
      case kDate:
        col.type = dbDate;
        col.size = 8;
        col.format = s.allTimes ? "Long Time" : s.anyTime ? "General Date" : "Short Date";
        break;
      case kBool:
        col.type = dbBoolean;
        col.size = 1;
        break;
      default:
        text_column();
        break;
    }
  }
  return cols;
}

std::vector<EngineColumn> describe_columns(const std::vector<Cell>* header,
                                           const std::vector<std::vector<Cell>>& rows,
                                           int columnCount, const SheetOptions& options) {
  ColumnScan scan;
  for (const auto& row : rows) scan.add(row);
  return scan.describe(header, columnCount, options);
}

namespace {

// Trailing empty cells do not make columns; a header cell does.
std::size_t used_width(const std::vector<Cell>& r) {
  std::size_t n = r.size();
  while (n > 0 && r[n - 1].kind == Cell::Kind::Empty) --n;
  return n;
}

void put_u32(std::string& out, std::uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

std::uint32_t get_u32(const char*& p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  p += 4;
  return v;
}

}  // namespace

SheetRecordset::SheetRecordset(std::unique_ptr<RowReader> reader, SheetOptions options)
    : reader_(std::move(reader)), options_(std::move(options)) {
  // A row wider than a table can be is refused as soon as it is read, before the rest of the
  // sheet costs any time or memory.
  auto check_width = [this](std::size_t width) {
    if (width > static_cast<std::size_t>(kMaxColumns))
      throw DatabaseError(options_.fileName + ": Too many fields defined (" +
                          std::to_string(width) + " columns; at most " +
                          std::to_string(kMaxColumns) + ").");
  };
  std::vector<Cell> header;
  bool haveHeader = false;
  std::vector<Cell> row;
  std::size_t width = 0;
  if (options_.firstRowHeader) {
    haveHeader = reader_->nextRow(header);
    width = used_width(header);
    check_width(width);
  }
  int limit = options_.typeGuessRows <= 0 ? kMaxScanRows : options_.typeGuessRows;
  ColumnScan scan;
  scannedAll_ = true;
  while (static_cast<int>(scannedAt_.size()) < limit) {
    if (!reader_->nextRow(row)) break;
    std::size_t used = used_width(row);
    check_width(used);
    width = std::max(width, used);
    row.resize(used);
    scan.add(row);
    keep(row);
  }
  if (static_cast<int>(scannedAt_.size()) == limit) scannedAll_ = false;
  // A declared width pads the table with empty columns, as the engine does, but only one that
  // a table can have: a dimension of A1:XFD1048576 over two rows says nothing about them.
  int declared = reader_->declaredColumnCount();
  if (declared <= kMaxColumns)
    width = std::max(width, static_cast<std::size_t>(std::max(declared, 0)));
  if (width == 0 && options_.allText)
    throw DatabaseError(options_.fileName +
                        ": the file holds no field: its first lines have no value in them, so "
                        "there is nothing to import.");
  columns_ = scan.describe(haveHeader ? &header : nullptr, static_cast<int>(width), options_);
  reader_->limitColumns(static_cast<std::uint32_t>(width));
  nextScanned_ = 0;
  position_ = 0;
}

void SheetRecordset::keep(const std::vector<Cell>& row) {
  scannedAt_.push_back(scanned_.size());
  put_u32(scanned_, static_cast<std::uint32_t>(row.size()));
  for (const Cell& c : row) {
    scanned_.push_back(static_cast<char>(c.kind));
    switch (c.kind) {
      case Cell::Kind::Empty:
        break;
      case Cell::Kind::Number:
      case Cell::Kind::DateTime: {
        char b[sizeof(double)];
        std::memcpy(b, &c.number, sizeof b);
        scanned_.append(b, sizeof b);
        break;
      }
      case Cell::Kind::Boolean:
        scanned_.push_back(c.boolean ? 1 : 0);
        break;
      case Cell::Kind::Text:
      case Cell::Kind::Error:
        put_u32(scanned_, static_cast<std::uint32_t>(c.text.size()));
        scanned_.append(c.text);
        break;
    }
  }
}

void SheetRecordset::kept(std::size_t index, std::vector<Cell>& row) const {
  const char* p = scanned_.data() + scannedAt_[index];
  row.resize(get_u32(p));
  for (Cell& c : row) {
    c.clear();
    c.kind = static_cast<Cell::Kind>(*p++);
    switch (c.kind) {
      case Cell::Kind::Empty:
        break;
      case Cell::Kind::Number:
      case Cell::Kind::DateTime:
        std::memcpy(&c.number, p, sizeof c.number);
        p += sizeof c.number;
        break;
      case Cell::Kind::Boolean:
        c.boolean = *p++ != 0;
        break;
      case Cell::Kind::Text:
      case Cell::Kind::Error: {
        std::uint32_t n = get_u32(p);
        c.text.assign(p, n);
        p += n;
        break;
      }
    }
  }
}

bool SheetRecordset::fetch(std::vector<Cell>& row) {
  if (atEnd_) return false;
  const std::size_t width = columns_.size();
  if (nextScanned_ < scannedAt_.size()) {
    kept(nextScanned_++, row);
  } else {
    if (!scannedAll_) readerAfterKept_ = false;
    if (scannedAll_ || !reader_->nextRow(row)) {
      atEnd_ = true;
      return false;
    }
  }
  // Cells beyond the described columns are not part of the table.
  if (row.size() > width) row.resize(width);
  while (row.size() < width) row.emplace_back();
  ++position_;
  return true;
}

void SheetRecordset::rewind() {
  atEnd_ = false;
  position_ = 0;
  nextScanned_ = 0;
  if (scannedAll_ || readerAfterKept_) return;
  // Past the rows kept from the scan, the reader must stand right behind them.
  reader_->rewind();
  std::vector<Cell> skip;
  std::size_t toSkip = scannedAt_.size() + (options_.firstRowHeader ? 1 : 0);
  for (std::size_t i = 0; i < toSkip; ++i)
    if (!reader_->nextRow(skip)) break;
  readerAfterKept_ = true;
}

std::int64_t SheetRecordset::knownRecordCount() {
  if (count_ >= 0) return count_;
  if (scannedAll_) return static_cast<std::int64_t>(scannedAt_.size());
  std::int64_t declared = reader_->declaredRowCount();
  if (declared < 0) return -1;
  if (options_.firstRowHeader && declared > 0) --declared;
  return declared;
}

std::int64_t SheetRecordset::recordCount() {
  if (count_ >= 0) return count_;
  if (scannedAll_) return count_ = static_cast<std::int64_t>(scannedAt_.size());
  std::int64_t keep = position_;
  bool keepEnd = atEnd_;
  rewind();
  std::vector<Cell> row;
  std::int64_t n = 0;
  while (fetch(row)) ++n;
  count_ = n;
  rewind();
  for (std::int64_t i = 0; i < keep; ++i) fetch(row);
  if (keepEnd) atEnd_ = true;
  return count_;
}

}  // namespace qm::source
