#include "source/xlsx/sheet_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/datetime.h"
#include "core/error.h"
#include "source/xlsx/errors.h"

namespace qm::source::xlsx {
namespace {

// Days between Excel's two date systems: 1904-01-01 is serial 0 there and 1462 here.
constexpr double k1904Offset = 1462;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool parse_double(std::string_view s, double& out) {
  s = trimmed(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

// Whether a number's text is already as the engine shows the number: the shortest digits,
// at most 15 of them, without exponent, leading or trailing zeros, and not zero, with its
// first digit no further than five places after the point and at most fifteen before it.
// Fifteen significant digits always read back as themselves, so the shortest form of the
// number read is this text (as Excel writes most numbers); anything else is formatted anew.
bool shown_as_written(std::string_view s) {
  std::size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
  const std::size_t intAt = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  const std::size_t intDigits = i - intAt;
  if (intDigits == 0 || (intDigits > 1 && s[intAt] == '0')) return false;
  const bool intZero = s[intAt] == '0';
  std::size_t significant = intZero ? 0 : intDigits, leading = 0;
  if (i < s.size()) {
    if (s[i] != '.' || i + 1 == s.size()) return false;
    const std::size_t fracAt = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i != s.size() || s.back() == '0') return false;
    if (intZero) {
      while (s[fracAt + leading] == '0') ++leading;
      significant = s.size() - fracAt - leading;
    } else {
      significant += s.size() - fracAt;
    }
  } else if (intZero) {
    return false;  // zero, which the general format writes its own way
  }
  return significant <= 15 && intDigits <= 15 && leading <= 4;
}

bool parse_digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
  if (s.size() < at + n) return false;
  int v = 0;
  for (std::size_t k = at; k < at + n; ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    v = v * 10 + (s[k] - '0');
  }
  out = v;
  return true;
}

// An ISO 8601 date or date and time of a t="d" cell ("2026-12-09", "2026-12-09T10:30:00Z",
// "10:30:00") as a serial in Excel's count, which has a 29 February 1900.
bool parse_iso_serial(std::string_view s, double& out) {
  s = trimmed(s);
  double serial = 0;
  std::size_t i = 0;
  int y = 0, mo = 0, d = 0;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!parse_digits(s, 0, 4, y) || !parse_digits(s, 5, 2, mo) || !parse_digits(s, 8, 2, d) ||
        !valid_ymd(y, mo, d))
      return false;
    std::int64_t days = day_from_ymd(y, mo, d) - kDay18991230;
    serial = static_cast<double>(days < 61 ? days - 1 : days);
    i = 10;
    if (i == s.size()) {
      out = serial;
      return true;
    }
    if (s[i] != 'T' && s[i] != ' ') return false;
    ++i;
  }
  int h = 0, mi = 0, sec = 0;
  if (!parse_digits(s, i, 2, h) || s.size() < i + 5 || s[i + 2] != ':' ||
      !parse_digits(s, i + 3, 2, mi))
    return false;
  i += 5;
  double frac = 0;
  if (i < s.size() && s[i] == ':') {
    if (!parse_digits(s, i + 1, 2, sec)) return false;
    i += 3;
    if (i < s.size() && s[i] == '.') {
      double scale = 0.1;
      for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
        frac += (s[i] - '0') * scale;
    }
  }
  // A zone suffix is left aside: the cell shows the local time it was written with.
  if (i < s.size() && s[i] != 'Z' && s[i] != '+' && s[i] != '-') return false;
  if (h > 24 || mi > 59 || sec > 60) return false;
  out = serial + (h * 3600 + mi * 60 + sec + frac) / 86400.0;
  return true;
}

}  // namespace

SheetReader::SheetReader(SheetSource source)
    : src_(std::move(source)), limits_(src_.archive->limits()) {
  begin();
}

SheetReader::~SheetReader() = default;

void SheetReader::begin() {
  xml_.reset();
  in_.reset();
  failure_.clear();
  haveDimension_ = false;
  inData_ = dataDone_ = ended_ = false;
  inRow_ = false;
  rowNumber_ = nextColumn_ = width_ = 0;
  rowHasValue_ = inCell_ = inValue_ = inInline_ = inInlineText_ = false;
  phonetic_ = 0;
  pending_ = false;
  pendingNumber_ = startRow_ = nextDelivered_ = 0;
  in_ = src_.archive->open(src_.part, src_.where);
  xml_ = std::make_unique<XmlReader>(*in_, static_cast<XmlHandler&>(*this), limits_);
  // Reading up to the first value row settles where row 0 lies and what the file declares,
  // and shows a broken sheet at once rather than at its first row.
  fill();
}

bool SheetReader::prepareForThread() {
  if (!in_ || !in_->ownHandle()) return false;
  // Strings read through the package's shared handle are read here, in full; those with a
  // handle of their own may be read on either thread, under their own lock.
  if (src_.strings && !src_.strings->readableFromAnyThread()) {
    try {
      src_.strings->load_all();
    } catch (const DatabaseError&) {
      // A damaged table stays for the cells that use it to report, as it would have.
      return false;
    }
  }
  return true;
}

bool SheetReader::workWhileAhead() {
  if (!src_.strings) return false;
  try {
    return src_.strings->load_step();
  } catch (const DatabaseError&) {
    // The cell that needs the damaged part of the table reports it, on the reading thread.
    return false;
  }
}

void SheetReader::rewind() {
  try {
    begin();
  } catch (const DatabaseError& e) {
    failure_ = e.what();
    throw;
  }
}

std::int64_t SheetReader::declaredRowCount() const {
  if (!haveDimension_ || (startRow_ != 0 && startRow_ != dimension_.first.row)) return -1;
  return static_cast<std::int64_t>(dimension_.last.row) - dimension_.first.row + 1;
}

int SheetReader::declaredColumnCount() const {
  return haveDimension_ ? static_cast<int>(dimension_.last.column) + 1 : -1;
}

void SheetReader::fill() {
  while (!pending_ && !ended_) {
    if (dataDone_ || !xml_->run()) ended_ = true;
  }
  if (ended_ && !pending_) {
    // Nothing more is needed from the part; let its buffers go.
    xml_.reset();
    in_.reset();
  }
}

bool SheetReader::nextRow(std::vector<Cell>& cells) {
  if (!failure_.empty()) throw DatabaseError(failure_);
  try {
    fill();
  } catch (const DatabaseError& e) {
    failure_ = e.what();
    throw;
  }
  if (!pending_) return false;  // rows after the last value row hold nothing
  if (nextDelivered_ < pendingNumber_) {
    cells.clear();
    ++nextDelivered_;
    return true;
  }
  // Trading the rows hands the caller the cells without a copy and gives it the caller's old
  // cells for the next row: place() and widen() clear each before it is used. A row read
  // before the limit was set is cut to it here.
  const std::uint32_t width = std::min(width_, columnLimit_);
  cells.swap(row_);
  cells.resize(width);
  pending_ = false;
  ++nextDelivered_;
  return true;
}

std::string SheetReader::context() const {
  if (inCell_) return "cell " + cell_name(column_, rowNumber_);
  if (inRow_) return "row " + std::to_string(rowNumber_);
  if (rowNumber_ > 0) return "after row " + std::to_string(rowNumber_);
  return {};
}

void SheetReader::cell_error(const std::string& what) const {
  raise(src_.archive->file(), src_.where + ", cell " + cell_name(column_, rowNumber_), what);
}

void SheetReader::start(const char* name, const char** atts) {
  switch (name[0]) {
    case 'c':
      if (name[1] == 0 && inRow_) start_cell(atts);
      break;
    case 'v':
      if (name[1] == 0 && inCell_) {
        inValue_ = true;
        valueLength_ = 0;
      }
      break;
    case 't':
      if (name[1] == 0 && inInline_ && phonetic_ == 0) inInlineText_ = true;
      break;
    case 'i':
      if (name[1] == 's' && name[2] == 0 && inCell_) {
        inInline_ = true;
        inline_.clear();
      }
      break;
    case 'r':
      if (name[1] == 'o' && name[2] == 'w' && name[3] == 0) {
        if (inData_) start_row(atts);
      } else if (inCell_ && std::strcmp(name, "rPh") == 0) {
        ++phonetic_;
      }
      break;
    case 's':
      if (std::strcmp(name, "sheetData") == 0) {
        inData_ = true;
        xml_->offer_elements(true);
      }
      break;
    case 'd':
      if (!inData_ && rowNumber_ == 0 && std::strcmp(name, "dimension") == 0) {
        for (int i = 0; atts[i]; i += 2) {
          if (std::strcmp(atts[i], "ref") == 0)
            haveDimension_ = parse_range(atts[i + 1], dimension_);
        }
      }
      break;
    default:
      break;
  }
}

void SheetReader::end(const char* name) {
  switch (name[0]) {
    case 'c':
      if (name[1] == 0 && inCell_) end_cell();
      break;
    case 'v':
      if (name[1] == 0 && inValue_) {
        inValue_ = false;
        haveValue_ = true;
      }
      break;
    case 't':
      if (name[1] == 0) inInlineText_ = false;
      break;
    case 'i':
      if (name[1] == 's' && name[2] == 0 && inInline_) {
        inInline_ = false;
        haveInline_ = true;
      }
      break;
    case 'r':
      if (name[1] == 'o' && name[2] == 'w' && name[3] == 0) {
        if (!inRow_) break;
        inRow_ = false;
        if (rowHasValue_) {
          pending_ = true;
          pendingNumber_ = rowNumber_;
          if (startRow_ == 0) {
            startRow_ = haveDimension_ && dimension_.first.row <= rowNumber_ ? dimension_.first.row
                                                                             : rowNumber_;
            if (startRow_ != dimension_.first.row) haveDimension_ = false;  // it lied
            nextDelivered_ = startRow_;
          }
          xml_->suspend();
        }
      } else if (inCell_ && std::strcmp(name, "rPh") == 0 && phonetic_ > 0) {
        --phonetic_;
      }
      break;
    case 's':
      if (std::strcmp(name, "sheetData") == 0 && inData_) {
        inData_ = false;
        dataDone_ = true;
        xml_->offer_elements(false);
        // What follows the cells (merged ranges, page setup) is of no use here.
        xml_->suspend();
      }
      break;
    default:
      break;
  }
}

void SheetReader::text(const char* data, int len) {
  const auto n = static_cast<std::size_t>(len);
  if (inValue_) {
    // Into room kept from cell to cell: a value is mostly a few digits, too few for a string's
    // append and its checks to pay.
    if (valueLength_ + n > valueBytes_.size()) grow_value(n);
    std::memcpy(valueBytes_.data() + valueLength_, data, n);
    valueLength_ += n;
    return;
  }
  if (!inInlineText_) return;
  if (inline_.size() + n > limits_.maxCellBytes) too_long();
  inline_.append(data, n);
}

namespace {

// What the cells' own reading takes: attribute values of letters and digits (a reference, a
// type, a style number), and value texts of those with the marks of a number.
struct CellBytes {
  bool word[256] = {};
  bool value[256] = {};
  CellBytes() {
    for (int c = '0'; c <= '9'; ++c) word[c] = value[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) word[c] = word[c - 32] = value[c] = value[c - 32] = true;
    for (unsigned char c : {'.', '-', '+'}) value[c] = true;
  }
};
const CellBytes kCellBytes;

constexpr std::ptrdiff_t kLongestWord = 15;
constexpr std::size_t kLongestValue = 64;

}  // namespace

// A sheet is mostly cells written one way, <c r="B2" s="1" t="s"><v>8</v></c>: those are read
// here in one pass, far quicker than tag by tag. Anything else in them (other attributes,
// blanks, a formula, an inline string, an entity, a cell cut by the buffer's end) goes back to
// the scanner, which reads it as it would have, so only input that is well-formed is taken.
std::size_t SheetReader::elements(const char* from, const char* end) {
  (void)end;  // each byte looked at is compared with one of the markup's, which the NUL is not
  if (!inRow_ || inCell_) return 0;
  // Room the scanner's own reading of a value may rely on too: never past the limit.
  const std::size_t room = std::min(kLongestValue, limits_.maxCellBytes);
  if (valueBytes_.size() < room) valueBytes_.resize(room);
  const auto* word = kCellBytes.word;
  const char* p = from;
  for (;;) {
    const char* q = p;
    if (q[0] != '<' || q[1] != 'c') break;
    q += 2;
    char values[3][kLongestWord + 1];
    unsigned seen = 0;
    bool plain = true;
    while (*q == ' ') {
      const int slot = q[1] == 'r' ? 0 : q[1] == 't' ? 1 : q[1] == 's' ? 2 : 3;
      if (slot == 3 || (seen & (1u << slot)) || q[2] != '=' || q[3] != '"') {
        plain = false;
        break;
      }
      seen |= 1u << slot;
      q += 4;
      const char* v = q;
      while (word[static_cast<unsigned char>(*q)]) ++q;
      if (*q != '"' || q - v > kLongestWord) {
        plain = false;
        break;
      }
      std::memcpy(values[slot], v, static_cast<std::size_t>(q - v));
      values[slot][q - v] = '\0';
      ++q;
    }
    if (!plain) break;
    const char* value = nullptr;
    std::size_t valueLength = 0;
    if (q[0] == '/' && q[1] == '>') {
      q += 2;
    } else if (q[0] == '>') {
      ++q;
      if (markup_at(q, "<v>")) {
        q += 3;
        value = q;
        while (kCellBytes.value[static_cast<unsigned char>(*q)]) ++q;
        valueLength = static_cast<std::size_t>(q - value);
        if (valueLength > room || !markup_at(q, "</v>")) break;
        q += 4;
      }
      if (!markup_at(q, "</c>")) break;
      q += 4;
    } else {
      break;
    }
    begin_cell(seen & 1u ? values[0] : nullptr, seen & 2u ? values[1] : nullptr,
               seen & 4u ? values[2] : nullptr);
    if (value) {
      std::memcpy(valueBytes_.data(), value, valueLength);
      valueLength_ = valueLength;
      haveValue_ = true;
    }
    end_cell();
    p = q;
  }
  return static_cast<std::size_t>(p - from);
}

void SheetReader::grow_value(std::size_t n) {
  const std::size_t need = valueLength_ + n;
  if (need > limits_.maxCellBytes) too_long();
  // Never past the limit: a value that fits the room is then one within it, unchecked.
  valueBytes_.resize(
      std::min(std::max({need, 2 * valueBytes_.size(), std::size_t{64}}), limits_.maxCellBytes));
}

void SheetReader::too_long() const {
  cell_error("the cell's text is longer than " + std::to_string(limits_.maxCellBytes) + " bytes");
}

void SheetReader::start_row(const char** atts) {
  const char* ref = nullptr;
  for (int i = 0; atts[i]; i += 2) {
    if (atts[i][0] == 'r' && atts[i][1] == 0) ref = atts[i + 1];
  }
  std::uint32_t number = 0;
  if (ref) {
    if (!parse_row_number(ref, number)) {
      raise(src_.archive->file(), src_.where + ", after row " + std::to_string(rowNumber_),
            std::string("the row number \"") + ref + "\" is not one from 1 to 1048576");
    }
    if (number <= rowNumber_) {
      raise(src_.archive->file(), src_.where + ", row " + std::to_string(number),
            "the row comes after row " + std::to_string(rowNumber_) +
                "; a worksheet keeps its rows in order");
    }
  } else {
    if (rowNumber_ >= kMaxRows) {
      raise(src_.archive->file(), src_.where, "the sheet has more than 1048576 rows");
    }
    number = rowNumber_ + 1;
  }
  rowNumber_ = number;
  inRow_ = true;
  rowHasValue_ = false;
  width_ = 0;
  nextColumn_ = 0;
}

void SheetReader::start_cell(const char** atts) {
  const char* ref = nullptr;
  const char* type = nullptr;
  const char* style = nullptr;
  for (int i = 0; atts[i]; i += 2) {
    const char* a = atts[i];
    if (a[1] != 0) continue;
    if (a[0] == 'r')
      ref = atts[i + 1];
    else if (a[0] == 't')
      type = atts[i + 1];
    else if (a[0] == 's')
      style = atts[i + 1];
  }
  begin_cell(ref, type, style);
}

void SheetReader::begin_cell(const char* ref, const char* type, const char* style) {
  if (ref) {
    // The row comes from the row element; a cell naming another row is taken where it stands.
    std::uint32_t column;
    if (!parse_cell_column(ref, column)) {
      column_ = nextColumn_ < kMaxColumns ? nextColumn_ : kMaxColumns - 1;
      cell_error(std::string("the cell reference \"") + ref +
                 "\" is not one from A1 to XFD1048576");
    }
    column_ = column;
  } else {
    if (nextColumn_ >= kMaxColumns) {
      column_ = kMaxColumns - 1;
      cell_error("the row has more than 16384 cells");
    }
    column_ = nextColumn_;
  }
  type_ = 'n';
  if (type) {
    if (std::strcmp(type, "s") == 0)
      type_ = 's';
    else if (std::strcmp(type, "str") == 0)
      type_ = 'S';
    else if (std::strcmp(type, "inlineStr") == 0)
      type_ = 'i';
    else if (std::strcmp(type, "b") == 0)
      type_ = 'b';
    else if (std::strcmp(type, "e") == 0)
      type_ = 'e';
    else if (std::strcmp(type, "d") == 0)
      type_ = 'd';
    else if (std::strcmp(type, "n") != 0)
      cell_error(std::string("the cell type \"") + type + "\" is unknown");
  }
  style_ = 0;
  if (style && *style) {
    // Digits only, as from_chars reads them; anything else, or too large a number, is style 0.
    std::uint64_t v = 0;
    const char* q = style;
    for (; *q >= '0' && *q <= '9' && v <= 0xFFFFFFFFu; ++q)
      v = v * 10 + static_cast<unsigned>(*q - '0');
    if (*q == 0 && v <= 0xFFFFFFFFu) style_ = static_cast<std::uint32_t>(v);
  }
  inCell_ = true;
  inValue_ = inInline_ = inInlineText_ = false;
  haveValue_ = haveInline_ = false;
  phonetic_ = 0;
}

void SheetReader::widen(std::uint32_t column) {
  if (row_.size() <= column) row_.resize(column + 1);
  // Gaps come out as empty cells holding nothing from an earlier row.
  for (std::uint32_t i = width_; i < column; ++i) {
    row_[i].clear();
    row_[i].number = 0;
    row_[i].boolean = false;
  }
  width_ = column + 1;
}

Cell& SheetReader::place(std::uint32_t column) {
  // Mostly the cell right after the last, in a row as wide as one before.
  if (column == width_ && column < row_.size())
    width_ = column + 1;
  else if (column >= width_)
    widen(column);
  Cell& c = row_[column];
  c.clear();
  c.number = 0;
  c.boolean = false;
  rowHasValue_ = true;
  return c;
}

void SheetReader::end_cell() {
  inCell_ = false;
  nextColumn_ = column_ + 1;
  if (column_ >= columnLimit_) return;
  const std::string_view value(valueBytes_.data(), valueLength_);
  switch (type_) {
    case 's': {
      if (!haveValue_) return;
      std::uint64_t index = 0;
      // Mostly a few digits and nothing else: those need no trimming nor overflow check.
      bool read = !value.empty() && value.size() <= 9;
      for (std::size_t i = 0; read && i < value.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(value[i]) - unsigned{'0'};
        read = d < 10;
        index = index * 10 + d;
      }
      if (!read) {
        std::string_view digits = trimmed(value);
        index = 0;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
          cell_error("the shared string number \"" + std::string(value) + "\" is not a number");
      }
      std::string_view s;
      if (!src_.strings->get(index, s)) {
        cell_error("the cell refers to shared string " + std::to_string(index) +
                   ", but the workbook has only " + std::to_string(src_.strings->loaded()));
      }
      Cell& c = place(column_);
      c.kind = Cell::Kind::Text;
      c.text.assign(s);
      return;
    }
    case 'S':
    case 'i': {
      // A formula string keeps its result in v; an inline string in is, though some writers
      // use v for either.
      std::string_view t;
      if (type_ == 'S')
        t = haveValue_ ? value : haveInline_ ? std::string_view(inline_) : t;
      else
        t = haveInline_ ? std::string_view(inline_) : haveValue_ ? value : t;
      if (!haveValue_ && !haveInline_) return;
      Cell& c = place(column_);
      c.kind = Cell::Kind::Text;
      c.text.assign(t);
      decode_escapes(c.text);
      return;
    }
    case 'b': {
      if (!haveValue_) return;
      std::string_view v = trimmed(value);
      bool b;
      if (v == "1" || v == "true")
        b = true;
      else if (v == "0" || v == "false")
        b = false;
      else
        cell_error("the logical value \"" + std::string(value) + "\" is neither 1 nor 0");
      Cell& c = place(column_);
      c.kind = Cell::Kind::Boolean;
      c.boolean = b;
      return;
    }
    case 'e': {
      if (!haveValue_) return;
      Cell& c = place(column_);
      c.kind = Cell::Kind::Error;
      c.text.assign(trimmed(value));
      return;
    }
    case 'd': {
      if (!haveValue_ || trimmed(value).empty()) return;
      double serial;
      if (!parse_iso_serial(value, serial))
        cell_error("the date \"" + std::string(value) + "\" is not an ISO 8601 date");
      Cell& c = place(column_);
      c.kind = Cell::Kind::DateTime;
      c.number = serial;
      return;
    }
    default: {
      if (!haveValue_ || trimmed(value).empty()) return;
      double v;
      if (!parse_double(value, v))
        cell_error("the number \"" + std::string(value) + "\" is not a number");
      bool date = src_.styles->is_date(style_);
      if (date && src_.date1904) v += k1904Offset;
      Cell& c = place(column_);
      // A negative serial is no date Excel can show; it stays the number it is.
      c.kind = date && v >= 0 ? Cell::Kind::DateTime : Cell::Kind::Number;
      c.number = v;
      if (c.kind == Cell::Kind::Number && shown_as_written(trimmed(value))) c.text = trimmed(value);
      return;
    }
  }
}

}  // namespace qm::source::xlsx
