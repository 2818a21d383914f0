// Excel 5.0 to 2003 workbooks (.xls, BIFF5 to BIFF8). The workbook stream is taken out of its
// compound file container whole (it is no larger than the file), its global records give the
// shared strings, the date styles and the sheets, and a sheet's cell records are gathered when
// the sheet is opened. Every length, offset and count in the records comes from the file, so
// each is checked against the bytes that are really there before it is used: a damaged file
// ends in an error that says so, never in a read outside the data.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include "core/text.h"

#include "core/error.h"
#include "core/paths.h"
#include "source/reader.h"
#include "source/xls/compound_file.h"
#include "source/xlsx/number_formats.h"
#include "tables/codepage.h"

namespace qm::source {

namespace {

using xls::CompoundFile;
using Damaged = xls::ContainerError;

// Record kinds read here.
enum : std::uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRk = 0x027E,
  kFormat = 0x041E,
  kBof = 0x0809,
};

// The largest record body BIFF8 allows; BIFF5 allows less, but no reader is harmed by more.
constexpr std::size_t kMaxRecord = 8224;
constexpr std::uint32_t kMaxColumns = 256;

std::uint16_t u16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t u32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

double f64(std::string_view b, std::size_t at) {
  std::uint64_t bits =
      static_cast<std::uint64_t>(u32(b, at)) | static_cast<std::uint64_t>(u32(b, at + 4)) << 32;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// An RK number: a double's high 30 bits or a 30-bit integer, either of them perhaps times 100.
double rk_value(std::uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100 : v;
}

const char* error_code_text(std::uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    default:
      return "#N/A";
  }
}

// UTF-16 as the workbook stores it; a surrogate without its partner becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

struct Record {
  std::uint16_t id = 0;
  std::string_view data;
};

// The records of the workbook stream from an offset on, each checked to lie inside the stream.
class Records {
 public:
  Records(std::string_view stream, std::size_t at) : s_(stream), at_(at) {}
  // The next record; false at the end of the stream.
  bool next(Record& r) {
    if (at_ >= s_.size()) return false;
    if (s_.size() - at_ < 4) throw Damaged("the workbook stream ends inside a record");
    r.id = u16(s_, at_);
    std::size_t len = u16(s_, at_ + 2);
    if (len > kMaxRecord)
      throw Damaged("a record declares " + std::to_string(len) + " bytes, more than the " +
                    std::to_string(kMaxRecord) + " a record can hold (the file is damaged)");
    if (s_.size() - at_ - 4 < len)
      throw Damaged("a record runs past the end of the workbook stream (the file is truncated)");
    r.data = s_.substr(at_ + 4, len);
    at_ += 4 + len;
    return true;
  }
  // The bodies of the CONTINUE records right after the current one, which carry on its data.
  std::size_t at() const { return at_; }
  void continues(std::vector<std::string_view>& parts) {
    Record r;
    while (at_ + 4 <= s_.size() && u16(s_, at_) == kContinue) {
      next(r);
      parts.push_back(r.data);
    }
  }

 private:
  std::string_view s_;
  std::size_t at_;
};

// A record's data with its continuations, read as one sequence of bytes, except that a text
// split between two parts begins its second half with a fresh option byte.
class Pieces {
 public:
  explicit Pieces(const std::vector<std::string_view>& parts, const char* what)
      : parts_(parts), what_(what) {}

  std::uint8_t byte() {
    settle();
    return static_cast<std::uint8_t>(parts_[part_][at_++]);
  }
  std::uint16_t word() {
    std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | byte() << 8);
  }
  std::uint32_t dword() {
    std::uint32_t lo = word();
    return lo | static_cast<std::uint32_t>(word()) << 16;
  }
  void skip(std::uint64_t n) {
    while (n > 0) {
      settle();
      std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(n, parts_[part_].size() - at_));
      at_ += take;
      n -= take;
    }
  }
  bool at_end() {
    while (part_ < parts_.size() && at_ == parts_[part_].size()) ++part_, at_ = 0;
    return part_ >= parts_.size();
  }

  // A BIFF8 text: count characters after its option byte was read (wide: two bytes each).
  void chars(std::size_t count, bool wide, std::u16string& out) {
    out.clear();
    std::size_t done = 0;
    while (done < count) {
      if (at_ == parts_[part_].size()) {
        // The text goes on in the next part, which says afresh how wide its characters are.
        if (++part_ >= parts_.size()) fail();
        at_ = 0;
        if (parts_[part_].empty()) fail();
        wide = static_cast<std::uint8_t>(parts_[part_][at_++]) & 1;
        continue;
      }
      std::string_view p = parts_[part_].substr(at_);
      std::size_t n = std::min(count - done, wide ? p.size() / 2 : p.size());
      if (n == 0) fail();  // half a wide character
      for (std::size_t k = 0; k < n; ++k)
        out.push_back(wide ? static_cast<char16_t>(u16(p, 2 * k))
                           : static_cast<char16_t>(static_cast<unsigned char>(p[k])));
      at_ += wide ? 2 * n : n;
      done += n;
    }
  }
  // Raw bytes (an 8-bit text of an older workbook).
  std::string bytes(std::size_t count) {
    std::string out;
    while (out.size() < count) {
      settle();
      std::size_t take = std::min(count - out.size(), parts_[part_].size() - at_);
      out.append(parts_[part_].substr(at_, take));
      at_ += take;
    }
    return out;
  }

  [[noreturn]] void fail() const {
    throw Damaged(std::string(what_) + " is damaged (its text runs past the end of its record)");
  }

 private:
  void settle() {
    while (part_ < parts_.size() && at_ == parts_[part_].size()) ++part_, at_ = 0;
    if (part_ >= parts_.size()) fail();
  }
  const std::vector<std::string_view>& parts_;
  const char* what_;
  std::size_t part_ = 0, at_ = 0;
};

// The workbook's global state that every sheet reads through.
struct Book {
  std::string path;
  std::string stream;
  bool biff8 = true;
  bool date1904 = false;
  int codepage = 1252;
  std::vector<std::string> strings;  // the shared string table
  std::vector<std::uint8_t> dateXf;  // per cell style: shows a date
  struct Sheet {
    std::string name;
    std::uint32_t offset = 0;
  };
  std::vector<Sheet> sheets;

  // A text of a cell or name: BIFF8 with a count of countBytes bytes and an option byte,
  // older workbooks with a count and bytes in the workbook's code page.
  std::string text(Pieces& p, int countBytes, std::u16string& scratch) const {
    std::size_t count = countBytes == 1 ? p.byte() : p.word();
    if (!biff8) return tables::to_utf8(p.bytes(count), codepage);
    std::uint8_t options = p.byte();
    std::uint16_t runs = (options & 0x08) ? p.word() : 0;
    std::uint32_t extra = (options & 0x04) ? p.dword() : 0;
    p.chars(count, options & 1, scratch);
    p.skip(4ull * runs + extra);
    return utf16_to_utf8(scratch);
  }
};

void read_sst(Book& book, const std::vector<std::string_view>& parts) {
  Pieces p(parts, "the shared string table");
  p.dword();  // total uses
  std::uint32_t unique = p.dword();
  std::u16string scratch;
  // The count is the file's word only; every string takes at least three bytes of the table.
  for (std::uint32_t i = 0; i < unique && !p.at_end(); ++i)
    book.strings.push_back(book.text(p, 2, scratch));
}

bool is_date_format(int id, const std::string& code) {
  return xlsx::is_builtin_date_format(id) || (!code.empty() && xlsx::is_date_format_code(code));
}

std::shared_ptr<Book> read_globals(const std::string& path, std::string stream) {
  auto book = std::make_shared<Book>();
  book->path = path;
  book->stream = std::move(stream);
  Records recs(book->stream, 0);
  Record r;
  if (!recs.next(r) || r.id != kBof || r.data.size() < 4)
    throw Damaged("its workbook stream does not begin with a workbook header");
  std::uint16_t version = u16(r.data, 0);
  if (version == 0x0600)
    book->biff8 = true;
  else if (version == 0x0500)
    book->biff8 = false;
  else
    throw Damaged("its workbook stream is of an unknown Excel version");
  if (u16(r.data, 2) != 0x0005) throw Damaged("its workbook stream does not begin with a workbook");

  std::vector<std::pair<int, std::string>> formats;  // custom number formats
  std::vector<std::uint16_t> xfFormats;
  std::vector<std::pair<std::string, std::uint32_t>> rawSheets;
  std::vector<std::string_view> parts;
  std::u16string scratch;
  bool ended = false;
  while (!ended && recs.next(r)) {
    parts.assign(1, r.data);
    switch (r.id) {
      case kEof:
        ended = true;
        break;
      case kFilePass:
        throw DatabaseError("Could not decrypt file. (" + path + " is protected by a password)");
      case kCodePage:
        if (r.data.size() >= 2) book->codepage = u16(r.data, 0);
        break;
      case kDateMode:
        if (r.data.size() >= 2) book->date1904 = u16(r.data, 0) == 1;
        break;
      case kFormat: {
        recs.continues(parts);
        Pieces p(parts, "a number format");
        int id = p.word();
        formats.emplace_back(id, book->text(p, book->biff8 ? 2 : 1, scratch));
        break;
      }
      case kXf:
        if (r.data.size() < 4) throw Damaged("a cell style record is damaged");
        xfFormats.push_back(u16(r.data, 2));
        break;
      case kBoundSheet: {
        if (r.data.size() < 7) throw Damaged("a sheet record is damaged");
        std::uint32_t offset = u32(r.data, 0);
        std::uint8_t kind = static_cast<std::uint8_t>(r.data[5]);
        Pieces p(parts, "a sheet name");
        p.skip(6);
        std::string name = book->text(p, 1, scratch);
        if (kind == 0) rawSheets.emplace_back(std::move(name), offset);
        break;
      }
      case kSst:
        recs.continues(parts);
        read_sst(*book, parts);
        break;
      default:
        break;
    }
  }
  // Older workbooks name their sheets in the code page, which may come after the names.
  for (auto& [name, offset] : rawSheets) book->sheets.push_back({std::move(name), offset});
  book->dateXf.reserve(xfFormats.size());
  for (std::uint16_t f : xfFormats) {
    std::string code;
    for (const auto& [id, c] : formats) {
      if (id == f) code = c;
    }
    book->dateXf.push_back(is_date_format(f, code) ? 1 : 0);
  }
  return book;
}

// One cell as the sheet's records give it; texts point into the shared table or the sheet's own.
struct SheetCell {
  std::uint16_t row = 0;
  std::uint16_t column = 0;
  Cell::Kind kind = Cell::Kind::Empty;
  bool shared = false;  // text is an index into the shared string table
  bool boolean = false;
  union {
    std::uint32_t text;
    double number;
  };
  SheetCell() : number(0) {}
};

// Cells gathered at a time: a sheet's rows are read in bands of at most this many cells (one
// row at least), so that a sheet of 65,536 rows by 256 columns never has all its cells in
// memory at once.
constexpr std::size_t kBandCells = 1 << 16;

// A sheet read in bands of rows. Opening it surveys its cell records once (how many cells each
// row has, whether the rows come in order); a band is then gathered by one more walk over the
// records, which for rows in order (as Excel writes them) starts where the band's first row
// starts and stops at the first row past the band.
class XlsRowReader : public RowReader {
 public:
  XlsRowReader(std::shared_ptr<const Book> book, const Book::Sheet& sheet)
      : book_(std::move(book)), name_(sheet.name), rowCells_(std::size_t{1} << 16, 0) {
    guard([&] { survey(sheet.offset); });
    rewind();
  }

  bool nextRow(std::vector<Cell>& out) override {
    if (!any_ || next_ > last_) return false;
    if (next_ >= bandEnd_) guard([&] { gather_band(); });
    std::size_t end = at_;
    while (end < cells_.size() && cells_[end].row == next_) ++end;
    std::size_t width = end > at_ ? cells_[end - 1].column + 1u : 0;
    out.resize(width);
    for (Cell& c : out) c.clear();
    for (std::size_t i = at_; i < end; ++i) {
      const SheetCell& s = cells_[i];
      Cell& c = out[s.column];  // of cells in the same place, the last one written stands
      c.kind = s.kind;
      c.number = s.kind == Cell::Kind::Number || s.kind == Cell::Kind::DateTime ? s.number : 0;
      c.boolean = s.boolean;
      if (s.kind == Cell::Kind::Text || s.kind == Cell::Kind::Error)
        c.text = s.shared ? book_->strings[s.text] : texts_[s.text];
      else
        c.text.clear();
    }
    at_ = end;
    ++next_;
    return true;
  }

  void rewind() override {
    next_ = first_;
    bandEnd_ = first_;
    resumeAt_ = dataStart_;
    cells_.clear();
    texts_.clear();
    at_ = 0;
  }
  std::int64_t declaredRowCount() const override {
    return any_ ? static_cast<std::int64_t>(last_) - first_ + 1 : 0;
  }
  int declaredColumnCount() const override { return columns_; }
  void limitColumns(std::uint32_t columns) override { limit_ = columns; }

 private:
  template <class F>
  void guard(F&& f) {
    try {
      f();
    } catch (const Damaged& e) {
      throw DatabaseError(book_->path + " (" + name_ + "): " + e.what());
    }
  }

  void survey(std::uint32_t offset) {
    const Book& b = *book_;
    if (offset >= b.stream.size()) throw Damaged("the sheet's records lie outside the workbook");
    Records recs(b.stream, offset);
    Record r;
    if (!recs.next(r) || r.id != kBof || r.data.size() < 4 || u16(r.data, 2) != 0x0010)
      throw Damaged("the sheet's records do not begin with a worksheet header");
    dataStart_ = recs.at();
    std::uint32_t previous = 0;
    walk(recs, [&](const SheetCell& c, std::string*) {
      if (!any_ || c.row < first_) first_ = c.row;
      if (!any_ || c.row > last_) last_ = c.row;
      if (any_ && c.row < previous) inOrder_ = false;
      previous = c.row;
      any_ = true;
      ++rowCells_[c.row];
      columns_ = std::max<int>(columns_, c.column + 1);
      return true;
    });
  }

  void gather_band() {
    // The band: rows from next_ on while their cells fit, and at least one.
    std::size_t count = rowCells_[next_];
    std::uint32_t end = next_ + 1;
    while (end <= last_ && count + rowCells_[end] <= kBandCells) count += rowCells_[end++];
    const std::uint32_t begin = next_;
    cells_.clear();
    texts_.clear();
    at_ = 0;
    Records recs(book_->stream, inOrder_ ? resumeAt_ : dataStart_);
    std::size_t stoppedAt = 0;
    bool stopped = walk(
        recs,
        [&](SheetCell c, std::string* text) {
          if (c.row >= end && inOrder_) return false;
          if (c.row < begin || c.row >= end || c.column >= limit_) return true;
          if (text) {
            c.text = static_cast<std::uint32_t>(texts_.size());
            texts_.push_back(std::move(*text));
          }
          cells_.push_back(c);
          return true;
        },
        &stoppedAt);
    if (inOrder_ && stopped) resumeAt_ = stoppedAt;
    bandEnd_ = end;
    auto before = [](const SheetCell& a, const SheetCell& b) {
      return a.row != b.row ? a.row < b.row : a.column < b.column;
    };
    // Excel writes cells in order; other writers may not.
    if (!std::is_sorted(cells_.begin(), cells_.end(), before))
      std::stable_sort(cells_.begin(), cells_.end(), before);
  }

  // Walks the cell records from where recs stands to the sheet's end, handing each cell to
  // emit (with its own text, if it has one); emit returns false to stop the walk, which then
  // returns true and leaves in stoppedAt where the record of that cell begins.
  template <class Emit>
  bool walk(Records& recs, Emit&& emit, std::size_t* stoppedAt = nullptr) {
    const Book& b = *book_;
    std::vector<std::string_view> parts;
    std::u16string scratch;
    bool formulaText = false;  // a formula's text result follows in a STRING record
    SheetCell pending;
    std::size_t pendingAt = 0;
    Record r;
    for (;;) {
      const std::size_t recordAt = recs.at();
      if (!recs.next(r)) return false;
      const std::string_view d = r.data;
      // The record a cell came from: a formula's text result is its formula's.
      std::size_t cellAt = recordAt;
      auto put = [&](const SheetCell& c, std::string* text) {
        if (emit(c, text)) return true;
        if (stoppedAt) *stoppedAt = cellAt;
        return false;
      };
      auto number = [&](SheetCell c, std::uint16_t xf, double v) {
        bool date = xf < b.dateXf.size() && b.dateXf[xf];
        if (date && b.date1904) v += 1462;
        // A negative serial is no date Excel can show; it stays the number it is.
        c.kind = date && v >= 0 ? Cell::Kind::DateTime : Cell::Kind::Number;
        c.number = v;
        return put(c, nullptr);
      };
      auto text = [&](SheetCell c, std::string t, Cell::Kind kind) {
        if (t.empty()) return true;
        c.kind = kind;
        return put(c, &t);
      };
      bool go = true;
      switch (r.id) {
        case kEof:
          return false;
        case kBof:
          // An embedded chart's own records, up to its EOF, are no cells of this sheet.
          for (int depth = 1; depth > 0;) {
            if (!recs.next(r)) return false;
            if (r.id == kBof) ++depth;
            if (r.id == kEof) --depth;
          }
          break;
        case kNumber:
          need(d, 14, "number");
          go = number(place(u16(d, 0), u16(d, 2)), u16(d, 4), f64(d, 6));
          break;
        case kRk:
          need(d, 10, "number");
          go = number(place(u16(d, 0), u16(d, 2)), u16(d, 4), rk_value(u32(d, 6)));
          break;
        case kMulRk: {
          need(d, 6, "number");
          std::size_t n = (d.size() - 6) / 6;
          std::uint16_t col = u16(d, 2);
          for (std::size_t k = 0; k < n && go; ++k) {
            std::size_t at = 4 + 6 * k;
            go = number(place(u16(d, 0), static_cast<std::uint32_t>(col) + k), u16(d, at),
                        rk_value(u32(d, at + 2)));
          }
          break;
        }
        case kLabelSst: {
          need(d, 10, "text");
          std::uint32_t index = u32(d, 6);
          if (index >= b.strings.size())
            throw Damaged("a cell refers to shared string " + std::to_string(index) +
                          ", but the workbook has only " + std::to_string(b.strings.size()));
          if (b.strings[index].empty()) break;
          SheetCell c = place(u16(d, 0), u16(d, 2));
          c.kind = Cell::Kind::Text;
          c.shared = true;
          c.text = index;
          go = put(c, nullptr);
          break;
        }
        case kLabel:
        case kRString: {
          need(d, 8, "text");
          parts.assign(1, d);
          recs.continues(parts);
          Pieces p(parts, "a text cell");
          p.skip(6);
          go = text(place(u16(d, 0), u16(d, 2)), b.text(p, 2, scratch), Cell::Kind::Text);
          break;
        }
        case kBoolErr: {
          need(d, 8, "logical");
          SheetCell c = place(u16(d, 0), u16(d, 2));
          std::uint8_t v = static_cast<std::uint8_t>(d[6]);
          if (d[7] == 0) {
            c.kind = Cell::Kind::Boolean;
            c.boolean = v != 0;
            go = put(c, nullptr);
          } else {
            go = text(c, error_code_text(v), Cell::Kind::Error);
          }
          break;
        }
        case kFormula: {
          need(d, 14, "formula");
          formulaText = false;
          SheetCell c = place(u16(d, 0), u16(d, 2));
          if (u16(d, 12) != 0xFFFF) {
            go = number(c, u16(d, 4), f64(d, 6));
            break;
          }
          switch (static_cast<std::uint8_t>(d[6])) {
            case 0:
              formulaText = true;
              pending = c;
              pendingAt = recordAt;
              break;
            case 1:
              c.kind = Cell::Kind::Boolean;
              c.boolean = d[8] != 0;
              go = put(c, nullptr);
              break;
            case 2:
              go = text(c, error_code_text(static_cast<std::uint8_t>(d[8])), Cell::Kind::Error);
              break;
            default:  // an empty text
              break;
          }
          break;
        }
        case kString: {
          if (!formulaText) break;
          formulaText = false;
          parts.assign(1, d);
          recs.continues(parts);
          Pieces p(parts, "a formula's text");
          cellAt = pendingAt;
          go = text(pending, b.text(p, 2, scratch), Cell::Kind::Text);
          break;
        }
        default:
          break;
      }
      if (!go) return true;
    }
  }

  static void need(std::string_view d, std::size_t size, const char* kind) {
    if (d.size() < size)
      throw Damaged(std::string("a ") + kind + " cell's record is shorter than a cell needs");
  }
  static SheetCell place(std::uint16_t row, std::uint32_t column) {
    if (column >= kMaxColumns)
      throw Damaged("a cell lies in column " + std::to_string(column + 1) +
                    ", beyond the 256 a sheet of this format has");
    SheetCell c;
    c.row = row;
    c.column = static_cast<std::uint16_t>(column);
    return c;
  }

  std::shared_ptr<const Book> book_;
  std::string name_;
  // From the survey.
  std::size_t dataStart_ = 0;            // the first record after the sheet's header
  std::vector<std::uint32_t> rowCells_;  // cells per row
  bool any_ = false, inOrder_ = true;
  std::uint32_t first_ = 0, last_ = 0;
  int columns_ = 0;
  std::uint32_t limit_ = kMaxColumns;  // cells from this column on are dropped
  // The band being handed out: rows up to bandEnd_, cells in row and column order.
  std::vector<SheetCell> cells_;
  std::vector<std::string> texts_;
  std::uint32_t next_ = 0, bandEnd_ = 0;
  std::size_t at_ = 0;
  std::size_t resumeAt_ = 0;  // rows in order: where the next band's records begin
};

class XlsWorkbook : public WorkbookReader {
 public:
  explicit XlsWorkbook(std::shared_ptr<const Book> book) : book_(std::move(book)) {}
  std::vector<std::string> sheetNames() const override {
    std::vector<std::string> names;
    for (const auto& s : book_->sheets) names.push_back(s.name);
    return names;
  }
  std::unique_ptr<RowReader> openSheet(int index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= book_->sheets.size())
      throw DatabaseError(book_->path + ": the workbook has no sheet " + std::to_string(index + 1) +
                          ".");
    return std::make_unique<XlsRowReader>(book_, book_->sheets[static_cast<std::size_t>(index)]);
  }

 private:
  std::shared_ptr<const Book> book_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(to_fs_path(path), std::ios::binary);
  if (!in) throw Damaged("the file cannot be opened");
  // Read at its size in one piece, rather than grown step by step to twice that.
  std::error_code ec;
  auto size = std::filesystem::file_size(to_fs_path(path), ec);
  std::string bytes;
  if (!ec) {
    bytes.resize(static_cast<std::size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
  }
  // Whatever the size said, the rest of the file is read too.
  bytes.append(std::istreambuf_iterator<char>(in), {});
  return bytes;
}

}  // namespace

std::unique_ptr<WorkbookReader> open_xls(const std::string& path) {
  try {
    std::string stream;
    {
      // The file's bytes go as soon as the stream is out of them: a large workbook's stream is
      // nearly the whole file, and both at once would double what it costs.
      std::string bytes = read_file(path);
      if (bytes.empty()) throw Damaged("the file is empty");
      if (bytes.size() >= 4 && u16(bytes, 0) == kBof) {
        // A bare workbook stream without its container, as some programs write it.
        stream = std::move(bytes);
      } else if (bytes.size() >= 4 &&
                 (u16(bytes, 0) == 0x0009 || u16(bytes, 0) == 0x0209 || u16(bytes, 0) == 0x0409)) {
        throw Damaged(
            "it is an Excel 2.1 to 4.0 workbook, which cannot be read; save it as an Excel "
            "97-2003 or 2007 workbook");
      } else {
        CompoundFile cf(bytes);
        auto found = cf.take_stream({u"Workbook", u"Book"}, bytes);
        if (!found) throw Damaged("it holds no workbook stream");
        stream = std::move(*found);
      }
    }
    return std::make_unique<XlsWorkbook>(read_globals(path, std::move(stream)));
  } catch (const Damaged& e) {
    throw DatabaseError("External table is not in the expected format. (" + path + ": " + e.what() +
                        ")");
  }
}

}  // namespace qm::source
