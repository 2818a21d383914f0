#include "pricefile/convert_rows.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>

#include "config/mapping.h"
#include "core/error.h"
#include "core/text.h"
#include "pricefile/price_rules.h"

namespace qm::pricefile {

namespace {

using config::MappingKind;

bool has(std::string_view s, std::string_view part) {
  return s.find(part) != s.npos;
}

constexpr std::string_view kEndMarker = "$END$";
constexpr int kBreakLevels = 6;
constexpr std::int64_t kProgressEvery = 16384;  // a power of two: the test is one mask

// Thrown at a row boundary when the user cancels; never shown as an error.
struct WalkCancelled {};

// What a mapping line does while a record is written, decided once per walk.
enum class Role {
  BreakQuantity,  // a "LEV" row-break line: names the break quantity column
  LevConstant,    // a "LEV" constant line: up to four characters of the constant
  PartNumber,     // joins its cell, in upper case, to the field's text
  Description,    // the cell without "|", after the heading when there is one
  Oqty,           // as Plain, but an empty cell leaves the field alone
  Plain,          // the cell as it stands; errors ignored
  Price,          // clean_price of the cell; "0.00" on any error
};

struct Line {
  std::string_view name;
  std::string_view value;
  Role role = Role::Plain;
  PriceKind priceKind = PriceKind::None;
  bool scanPart = false;  // name contains "PARTNUMBER"
  bool scanDesc = false;  // name contains "DESCRIPTN"
  bool columnOk = false;
  int column = 0;
  bool rowBreakOk = false;
  int rowBreakColumn = 0;
  bool breakPriceSource = false;  // a "COST_OF_" line, or "LISTPRICE" for RAUDUK's identifiers
  std::string_view constant;      // Role::LevConstant
  int field = -1;                 // position in the price file, -1 when it has none
  PriceSink::Shape shape;         // of the field, when there is one
  bool firstWriter = false;       // no line before it writes its field: a new record's is blank
};

// text with a-z made A-Z, the other bytes as they are, written to out. Eight bytes at a time:
// a byte below 0x80 whose low seven bits reach 'a' and stay within 'z' loses its 0x20.
void upper_ascii_into(std::string_view text, char* out) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
  const char* p = text.data();
  std::size_t n = text.size(), i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    const std::uint64_t low7 = w & ~kHigh;
    const std::uint64_t fromA = low7 + kOnes * (0x80 - 'a');      // high bit: at least 'a'
    const std::uint64_t pastZ = low7 + kOnes * (0x80 - 'z' - 1);  // high bit: beyond 'z'
    w ^= (fromA & ~pastZ & ~w & kHigh) >> 2;
    std::memcpy(out + i, &w, 8);
  }
  for (; i < n; ++i) {
    const char ch = p[i];
    out[i] = ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch;
  }
}

// Looks like a number the field was too narrow or too small for, rather than a word.
bool numeric_text(std::string_view s) {
  bool digit = false;
  for (char c : s) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != ' ' && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E')
      return false;
  }
  return digit;
}

// Up to n characters of a UTF-8 text (never cutting one in two).
std::string_view first_chars(std::string_view s, int n) {
  std::size_t i = 0;
  for (int k = 0; k < n && i < s.size(); ++k) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

class Walk {
 public:
  Walk(const ConvertInputs& in, std::int64_t startRow, std::int64_t& rowCounter,
       std::vector<std::string>& mapping, BuildRun& run, ConvertTargets& t)
      : in_(in),
        startRow_(startRow),
        rowCounter_(rowCounter),
        mapping_(mapping),
        run_(run),
        source_(t.source),
        tables_(t.tables),
        out_(t.tblExport),
        messages_(t.messages),
        progress_(t.progress),
        cancelled_(t.cancelled),
        report_(t.report),
        sheetName_(t.sheetName),
        firstRow_(t.firstSheetRow) {}

  bool run() {
    messages_.setBusy(true);
    busy_ = true;
    bool result = true;
    try {
      prepare();
      for (;;) {
        walkSheet();
        if (!in_.multipleTabs || sheetPosition_ + 1 == in_.sheetCount) break;
        ++sheetPosition_;
        source_.close();
        if (!tables_) throw ListIndexError(sheetPosition_);
        sheetName_ = tables_->tableName(sheetPosition_);
        tables_->setTableName(sheetName_);
        if (!openSheet()) break;
      }
    } catch (const WalkCancelled&) {
      run_.cancelled = true;
      result = false;
    } catch (const std::exception& e) {
      result = fail(e.what());
    }
    if (report_) {
      report_->sourceRows += delivered_;
      report_->headingRecords += headerWritten_ ? 1 : 0;
      std::int64_t unclassified = delivered_ - report_->rowsTotal();
      if (unclassified > 0) report_->count(RowOutcome::Stopped) += unclassified;
    }
    mapping_.clear();
    mapping_.shrink_to_fit();
    try {
      out_.close();
    } catch (const std::exception& e) {
      // Closing may write what a bulk append held back; losing that is no success.
      if (result) result = fail(e.what());
    }
    if (busy_) messages_.setBusy(false);
    if (progress_) progress_(rowCounter_);
    return result;
  }

 private:
  bool fail(const char* text) {
    if (busy_) messages_.setBusy(false);
    busy_ = false;
    messages_.error(text);
    return false;
  }

  void prepare() {
    bool rauduk = !in_.manufacturer.empty() && has("RAUDUK", in_.manufacturer);
    lines_.reserve(mapping_.size());
    for (const std::string& text : mapping_) {
      auto m = config::split_mapping_line(text);
      Line l;
      l.name = m.name;
      l.value = m.value;
      l.scanPart = has(l.name, "PARTNUMBER");
      l.scanDesc = has(l.name, "DESCRIPTN");
      l.columnOk = config::try_mapping_column(m.value, l.column);
      bool lev = has(l.name, "LEV");
      bool priceName = has(l.name, "COST_OF_") || lev || has(l.name, "LISTPRICE") ||
                       has(l.name, "SPCL_COST") || has(l.name, "PRO_NET");
      if (lev && m.kind == MappingKind::RowBreak) {
        l.role = Role::BreakQuantity;
        std::string_view rest = m.value.substr(config::kRowBreakPrefix.size());
        l.rowBreakOk = config::try_mapping_column(rest, l.rowBreakColumn);
      } else if (lev && m.kind == MappingKind::Constant) {
        l.role = Role::LevConstant;
        l.constant = first_chars(config::constant_text(m.value), 4);
      } else if (!priceName) {
        l.role = l.scanPart            ? Role::PartNumber
                 : l.scanDesc          ? Role::Description
                 : has(l.name, "OQTY") ? Role::Oqty
                                       : Role::Plain;
      } else {
        l.role = Role::Price;
        l.priceKind = price_kind(l.name);
        l.breakPriceSource = has(l.name, "COST_OF_") || (rauduk && has(l.name, "LISTPRICE"));
      }
      l.field = out_.findField(l.name);
      if (l.field >= 0) l.shape = out_.fieldShape(l.field);
      lines_.push_back(l);
    }
    dept_ = out_.findField("DEPT");
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      Line& l = lines_[i];
      l.firstWriter = l.field >= 0 && l.field != dept_;
      for (std::size_t k = 0; k < i && l.firstWriter; ++k)
        if (lines_[k].field == l.field) l.firstWriter = false;
    }
    partnumber_ = out_.findField("partnumber");
    descriptn_ = out_.findField("DESCRIPTN");
    for (int level = 1; level <= kBreakLevels; ++level) {
      levNames_[level] = "LEV" + std::to_string(level);
      costLevNames_[level] = "COSTLEV" + std::to_string(level);
      lev_[level] = out_.findField(levNames_[level]);
      costLev_[level] = out_.findField(costLevNames_[level]);
    }
    resetCells();
  }

  bool openSheet() {
    try {
      source_.open();
      source_.first();
      for (int i = 0, n = source_.fieldCount(); i < n; ++i) source_.field(i).setDisplayWidth(20);
    } catch (const std::exception&) {
      return false;  // a sheet that does not open ends the walk, as a finished one
    }
    resetCells();
    return true;
  }

  // Each cell is read once per row: the dataset may have to convert it every time.
  void resetCells() {
    int n = source_.active() ? source_.fieldCount() : 0;
    fieldCount_ = n < 0 ? 0 : n;
    fields_.assign(static_cast<std::size_t>(fieldCount_), nullptr);
    cells_.resize(static_cast<std::size_t>(fieldCount_));
    texts_.assign(static_cast<std::size_t>(fieldCount_), nullptr);
    stamps_.assign(static_cast<std::size_t>(fieldCount_), 0);
    ++row_;
  }

  // Between records only, so that what is written up to the cancel is whole.
  void pollCancel() {
    if (cancelled_ && cancelled_()) throw WalkCancelled{};
  }

  void nextRow() {
    source_.next();
    ++row_;
    ++sheetRow_;
    if (report_ && !source_.eof()) ++delivered_;
    ++rowCounter_;
    if (progress_ && (rowCounter_ & (kProgressEvery - 1)) == 0) progress_(rowCounter_);
  }

  // The cell at column, raising the dataset's own error for a column it lacks.
  const std::string& cell(int column) {
    if (column < 0 || column >= fieldCount_) {
      source_.field(column);  // raises
      throw ListIndexError(column);
    }
    auto c = static_cast<std::size_t>(column);
    if (stamps_[c] != row_) {
      if (!fields_[c]) fields_[c] = &source_.field(column);
      const std::string* held = fields_[c]->heldText();
      if (!held) {
        fields_[c]->readString(cells_[c]);
        held = &cells_[c];
      }
      texts_[c] = held;
      stamps_[c] = row_;
    }
    return *texts_[c];
  }

  int column(const Line& l) {
    return l.columnOk ? l.column : config::mapping_column(l.value);  // raises
  }

  void set(int field, std::string_view name, std::string_view text) {
    if (field < 0) out_.raiseMissingField(name);
    out_.setFieldText(field, text);
  }

  void outcome(RowOutcome o) {
    if (report_) ++report_->count(o);
  }

  // The rows after an end marker are counted, not read: a row that cannot be read there
  // ends the count rather than the build.
  void countAfterEndMarker() {
    if (!report_) return;
    try {
      for (source_.next(); !source_.eof(); source_.next()) {
        ++delivered_;
        outcome(RowOutcome::AfterEndMarker);
      }
    } catch (const std::exception&) {
    }
  }

  void note(NoteReason reason, std::string_view field, int column, std::string_view text,
            int fieldIndex) {
    if (!report_->countNote(reason)) return;
    Note n;
    n.sheet = sheetName_;
    n.row = sheetRow_ + firstRow_;
    n.column = column_letters(column);
    n.field = field;
    n.text = text;
    if (fieldIndex >= 0) {
      try {
        n.stored = out_.fieldText(fieldIndex);
      } catch (const std::exception&) {
      }
    }
    n.reason = reason;
    report_->notes.push_back(std::move(n));
  }

  // A text written to a character field that does not read back as given: cut to the
  // field's width, or holding characters the code page lacks.
  void checkText(const Line& l, int column, std::string_view text, std::string_view given) {
    if (!report_ || l.shape.type != 'C') return;
    if (given.size() <= static_cast<std::size_t>(l.shape.width) && is_ascii(given)) return;
    while (!given.empty() && static_cast<unsigned char>(given.back()) <= ' ')
      given.remove_suffix(1);
    std::string& stored = stored_;
    out_.readFieldText(l.field, stored);
    if (stored == given) return;
    note(given.substr(0, stored.size()) == stored ? NoteReason::Truncated
                                                  : NoteReason::NotRepresentable,
         l.name, column, text, l.field);
  }

  void refused(const Line& l, int column, std::string_view text) {
    if (!report_) return;
    bool number = l.shape.type != 'C' && l.shape.type != 'M' && numeric_text(text);
    note(number ? NoteReason::DoesNotFit : NoteReason::NotStored, l.name, column, text, l.field);
  }

  void checkPrice(std::string_view field, int column, std::string_view text, PriceKind kind,
                  int fieldIndex) {
    noteReading(price_reading(text, kind), field, column, text, fieldIndex);
  }

  void noteReading(PriceReading reading, std::string_view field, int column, std::string_view text,
                   int fieldIndex) {
    switch (reading) {
      case PriceReading::AsWritten:
        return;
      case PriceReading::NoNumber:
        return note(NoteReason::NotANumber, field, column, text, fieldIndex);
      case PriceReading::DecimalComma:
        return note(NoteReason::DecimalComma, field, column, text, fieldIndex);
      case PriceReading::Negative:
        return note(NoteReason::NegativePrice, field, column, text, fieldIndex);
    }
  }

  void walkSheet() {
    sheetRow_ = 0;
    if (report_ && !source_.eof()) ++delivered_;
    while (!source_.eof()) {
      pollCancel();
      if (rowCounter_ + 1 >= startRow_)
        handleRow();
      else
        outcome(RowOutcome::BeforeStartRow);
      bool endMet = false;
      try {
        nextRow();
        // At the end there is no row to look at; the loop ends there anyway.
        endMet = !source_.eof() && cell(partColumn_) == kEndMarker;
        if (in_.rowBreak && breakQuantityColumn_ != 0 && breakPriceColumn_ != 0 && !endMet &&
            !source_.eof())
          foldBreaks();
      } catch (const std::exception&) {
        // The record was complete before the move: it stays, as the breaks folded so far.
        if (recordOpen_) {
          try {
            postRecord();
          } catch (const std::exception&) {
          }
        }
        throw;
      }
      if (recordOpen_) postRecord();
      breakQuantityColumn_ = 0;
      breakPriceColumn_ = 0;
      if (endMet) {
        outcome(RowOutcome::EndMarker);
        countAfterEndMarker();
        break;
      }
    }
  }

  void handleRow() {
    bool hasPart = false, hasDesc = false, headingTaken = false, headingSet = false;
    int partIndex = -1, descIndex = -1;
    for (const Line& l : lines_) {
      if (l.scanPart) {
        int col = column(l);
        const std::string& c = cell(col);
        if (!c.empty()) {
          hasPart = true;
          partIndex = col;
          partColumn_ = col;
          partText_ = c;
        }
      }
      if (l.scanDesc) {
        int col = column(l);
        if (!cell(col).empty()) {
          hasDesc = true;
        } else {
          descIndex = col;
          headingTaken = false;
        }
      }
      if (partIndex >= 0 && descIndex >= 0 && !headingTaken && in_.addTitleToDesc &&
          !cell(partIndex).empty() && cell(descIndex).empty()) {
        heading_ = cell(partIndex);
        headingTaken = true;
        headingSet = true;
      }
      if (hasPart && hasDesc) break;
    }
    if (hasPart && (hasDesc || run_.descriptionOptional)) {
      writeRecord();
      outcome(RowOutcome::PartRecord);
    } else {
      outcome(!hasPart     ? RowOutcome::NoPartNumber
              : headingSet ? RowOutcome::Heading
                           : RowOutcome::NoDescription);
    }
  }

  void writeHeader() {
    out_.append();
    set(dept_, "DEPT", in_.manufacturer);
    set(partnumber_, "partnumber", "0");
    std::string text = "Update " + in_.updateDate;
    if (!in_.priceSheet.empty()) text += " Price Sheet " + in_.priceSheet;
    set(descriptn_, "DESCRIPTN", text);
    out_.post();
    headerWritten_ = true;
  }

  // The cell without "|", in scratch_ after what it holds already.
  void appendWithoutBars(std::string_view c) {
    for (std::size_t bar; (bar = c.find('|')) != c.npos; c.remove_prefix(bar + 1))
      scratch_.append(c.data(), bar);
    scratch_.append(c);
  }

  void writeRecord() {
    if (!headerWritten_) writeHeader();
    out_.append();
    set(dept_, "DEPT", in_.manufacturer);
    for (const Line& l : lines_) writeLine(l);
    recordOpen_ = true;
    // With break rows the record takes its breaks before its one post, rather than being
    // posted, edited and posted again for every break (each edit would reach the disk).
    if (!in_.rowBreak) postRecord();
  }

  void postRecord() {
    recordOpen_ = false;
    out_.post();
    ++run_.recordCount;
  }

  void writeLine(const Line& l) {
    switch (l.role) {
      case Role::BreakQuantity:
        if (l.rowBreakOk) breakQuantityColumn_ = l.rowBreakColumn;
        return;
      case Role::LevConstant:
        set(l.field, l.name, l.constant);
        return;
      case Role::PartNumber: {
        const int col = column(l);
        const std::string& c = cell(col);
        if (l.field < 0) out_.raiseMissingField(l.name);
        // Joined to what the field holds: nothing yet, unless an earlier line wrote it.
        if (l.firstWriter)
          scratch_.clear();
        else
          out_.readFieldText(l.field, scratch_);
        std::size_t at = scratch_.size();
        scratch_.resize(at + c.size());
        upper_ascii_into(c, scratch_.data() + at);
        out_.setFieldText(l.field, scratch_);
        checkText(l, col, c, scratch_);
        return;
      }
      case Role::Description:
        if (!heading_.empty()) {
          const int col = column(l);
          const std::string& c = cell(col);
          scratch_ = heading_;
          scratch_ += ", ";
          appendWithoutBars(c);
          set(l.field, l.name, scratch_);
          checkText(l, col, c, scratch_);
        } else if (l.field >= 0) {  // without the field there is nothing to write
          guarded([&] {
            const int col = column(l);
            const std::string& c = cell(col);
            std::string_view given = c;
            if (c.find('|') != c.npos) {
              scratch_.clear();
              appendWithoutBars(c);
              given = scratch_;
            }
            if (out_.trySetFieldText(l.field, given))
              checkText(l, col, c, given);
            else
              refused(l, col, c);
          });
        }
        return;
      case Role::Oqty: {
        const int col = column(l);
        const std::string& c = cell(col);
        if (c.empty()) return;
        if (l.field >= 0) guarded([&] { writePlain(l, col, c); });
        return;
      }
      case Role::Plain:
        if (l.field >= 0 && l.columnOk && l.column >= 0 && l.column < fieldCount_)
          guarded([&] { writePlain(l, l.column, cell(l.column)); });
        return;
      case Role::Price:
        writePrice(l);
        return;
    }
  }

  void writePlain(const Line& l, int col, const std::string& c) {
    if (out_.trySetFieldText(l.field, c))
      checkText(l, col, c, c);
    else
      refused(l, col, c);
  }

  void writePrice(const Line& l) {
    if (l.breakPriceSource) breakPriceColumn_ = column(l);  // raises for a value part of no number
    if (l.field < 0) return;  // neither the price nor its fallback can go anywhere
    try {
      if (!l.columnOk || l.column < 0 || l.column >= fieldCount_) {
        out_.setFieldText(l.field, "0.00");
        return;
      }
      bool written = false;
      const std::string* text = nullptr;
      PriceReading reading = PriceReading::AsWritten;
      try {
        text = &cell(l.column);
        written = out_.trySetFieldText(l.field, report_ ? clean_price(*text, l.priceKind, reading)
                                                        : clean_price(*text, l.priceKind));
      } catch (const std::exception&) {
        // A cell that cannot be read gets the fallback, as a refused price does.
      }
      if (!written) out_.setFieldText(l.field, "0.00");
      if (report_ && text) {
        if (written)
          noteReading(reading, l.name, l.column, *text, l.field);
        else
          note(NoteReason::DoesNotFit, l.name, l.column, *text, l.field);
      }
    } catch (const std::exception&) {
      // A field that takes not even the fallback is left as it is.
    }
  }

  template <class F>
  void guarded(F&& f) {
    try {
      f();
    } catch (const std::exception&) {
      // Optional values: a field the price file lacks or a value it refuses is skipped.
    }
  }

  // Fills the open record's break levels from the rows that repeat its part number.
  void foldBreaks() {
    int level = 1;
    while (!partText_.empty() && cell(partColumn_) == partText_) {
      outcome(level <= kBreakLevels ? RowOutcome::BreakFolded : RowOutcome::BreakPassedOver);
      if (level <= kBreakLevels && lev_[level] >= 0 && costLev_[level] >= 0) {
        int lev = lev_[level], cost = costLev_[level];
        levBefore_ = out_.fieldText(lev);
        costBefore_ = out_.fieldText(cost);
        try {
          out_.setFieldText(lev, clean_price(cell(breakQuantityColumn_), PriceKind::BreakQuantity));
          out_.setFieldText(cost, clean_price(cell(breakPriceColumn_), PriceKind::BreakPrice));
          if (report_)
            checkPrice(costLevNames_[level], breakPriceColumn_, cell(breakPriceColumn_),
                       PriceKind::BreakPrice, cost);
        } catch (const std::exception&) {
          // The level stays as it was: nothing half-written is kept.
          guarded([&] { out_.setFieldText(lev, levBefore_); });
          guarded([&] { out_.setFieldText(cost, costBefore_); });
          if (report_)
            note(NoteReason::NotStored, costLevNames_[level], breakPriceColumn_, "", cost);
        }
      }
      ++level;
      nextRow();
      if (source_.eof()) break;
    }
  }

  const ConvertInputs& in_;
  std::int64_t startRow_;
  std::int64_t& rowCounter_;
  std::vector<std::string>& mapping_;
  BuildRun& run_;
  Dataset& source_;
  SourceTables* tables_;
  PriceSink& out_;
  Messages& messages_;
  const ConvertProgress& progress_;
  const std::function<bool()>& cancelled_;
  BuildReport* report_;
  std::string sheetName_;
  int firstRow_;
  std::int64_t sheetRow_ = 0;   // of the current row within its sheet, from 0
  std::int64_t delivered_ = 0;  // rows the source has been on

  bool busy_ = false;
  std::vector<Line> lines_;
  int dept_ = -1, partnumber_ = -1, descriptn_ = -1;
  std::string levNames_[kBreakLevels + 1], costLevNames_[kBreakLevels + 1];
  int lev_[kBreakLevels + 1] = {}, costLev_[kBreakLevels + 1] = {};

  // Walk state.
  bool headerWritten_ = false;
  bool recordOpen_ = false;  // a part record written but not yet posted
  std::string levBefore_, costBefore_;
  std::string heading_;
  int partColumn_ = 0;
  std::string partText_;
  int breakQuantityColumn_ = 0, breakPriceColumn_ = 0;
  std::int64_t sheetPosition_ = 0;

  // Cells of the current row.
  int fieldCount_ = 0;
  std::uint64_t row_ = 0;
  std::vector<Field*> fields_;
  std::vector<std::string> cells_;         // texts the dataset had to make
  std::vector<const std::string*> texts_;  // each column's text in this row
  std::vector<std::uint64_t> stamps_;
  std::string scratch_;
  std::string stored_;  // what a checked field holds
};

}  // namespace

bool convert_rows(const ConvertInputs& inputs, std::int64_t startRow, std::int64_t& rowCounter,
                  std::vector<std::string> mapping, BuildRun& run, ConvertTargets targets) {
  Walk walk(inputs, startRow, rowCounter, mapping, run, targets);
  return walk.run();
}

}  // namespace qm::pricefile
