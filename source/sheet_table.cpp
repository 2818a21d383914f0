#include "source/sheet_table.h"

#include <algorithm>
#include <cmath>
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

std::vector<EngineColumn> describe_columns(const std::vector<Cell>* header,
                                           const std::vector<std::vector<Cell>>& rows,
                                           int columnCount, const SheetOptions& options) {
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
    unsigned seen = 0;
    std::size_t counts[4] = {0, 0, 0, 0};
    bool longText = false, allTimes = true, anyTime = false;
    for (const auto& row : rows) {
      if (static_cast<std::size_t>(i) >= row.size()) continue;
      const Cell& c = row[i];
      switch (c.kind) {
        case Cell::Kind::Empty:
          continue;
        case Cell::Kind::Number:
          seen |= kNumber, ++counts[0];
          break;
        case Cell::Kind::DateTime: {
          seen |= kDate, ++counts[1];
          if (c.number >= 1 || c.number < 0) allTimes = false;
          double frac = c.number - std::floor(c.number);
          if (frac != 0) anyTime = true;
          break;
        }
        case Cell::Kind::Boolean:
          seen |= kBool, ++counts[2];
          break;
        case Cell::Kind::Text:
        case Cell::Kind::Error:
          seen |= kText, ++counts[3];
          if (c.text.size() > static_cast<std::size_t>(kTextSize)) longText = true;
          break;
      }
    }
    auto text_column = [&] {
      col.type = longText ? dbMemo : dbText;
      col.size = longText ? 0 : kTextSize;
    };
    if (options.allText || seen == 0 || seen == kText) {
      text_column();
      if (options.allText || seen == 0) col.size = longText ? 0 : kTextSize;
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
        if (counts[k] > counts[best]) best = static_cast<std::size_t>(k);
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
        col.format = allTimes ? "Long Time" : anyTime ? "General Date" : "Short Date";
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

SheetRecordset::SheetRecordset(std::unique_ptr<RowReader> reader, SheetOptions options)
    : reader_(std::move(reader)), options_(std::move(options)) {
  std::vector<Cell> header;
  bool haveHeader = false;
  std::vector<Cell> row;
  if (options_.firstRowHeader) haveHeader = reader_->nextRow(header);
  int limit = options_.typeGuessRows <= 0 ? kMaxScanRows : options_.typeGuessRows;
  scannedAll_ = true;
  while (static_cast<int>(scanned_.size()) < limit) {
    if (!reader_->nextRow(row)) break;
    scanned_.push_back(row);
  }
  if (static_cast<int>(scanned_.size()) == limit) scannedAll_ = false;

  // Trailing empty cells do not make columns; a header cell does.
  auto used_width = [](const std::vector<Cell>& r) {
    std::size_t n = r.size();
    while (n > 0 && r[n - 1].kind == Cell::Kind::Empty) --n;
    return static_cast<int>(n);
  };
  int width = haveHeader ? used_width(header) : 0;
  for (const auto& r : scanned_) width = std::max(width, used_width(r));
  width = std::max(width, std::min(reader_->declaredColumnCount(), kMaxColumns));
  if (width > kMaxColumns)
    throw DatabaseError(options_.fileName + ": Too many fields defined (" + std::to_string(width) +
                        " columns; at most " + std::to_string(kMaxColumns) + ").");
  columns_ = describe_columns(haveHeader ? &header : nullptr, scanned_, width, options_);
  nextScanned_ = 0;
  position_ = 0;
}

bool SheetRecordset::fetch(std::vector<Cell>& row) {
  if (atEnd_) return false;
  const std::size_t width = columns_.size();
  if (nextScanned_ < scanned_.size()) {
    row = scanned_[nextScanned_++];
  } else if (scannedAll_ || !reader_->nextRow(row)) {
    atEnd_ = true;
    return false;
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
  if (scannedAll_) return;
  // Past the rows kept from the scan, the reader must stand right behind them.
  reader_->rewind();
  std::vector<Cell> skip;
  std::size_t toSkip = scanned_.size() + (options_.firstRowHeader ? 1 : 0);
  for (std::size_t i = 0; i < toSkip; ++i)
    if (!reader_->nextRow(skip)) break;
}

std::int64_t SheetRecordset::knownRecordCount() {
  if (count_ >= 0) return count_;
  if (scannedAll_) return static_cast<std::int64_t>(scanned_.size());
  std::int64_t declared = reader_->declaredRowCount();
  if (declared < 0) return -1;
  if (options_.firstRowHeader && declared > 0) --declared;
  return declared;
}

std::int64_t SheetRecordset::recordCount() {
  if (count_ >= 0) return count_;
  if (scannedAll_) return count_ = static_cast<std::int64_t>(scanned_.size());
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
