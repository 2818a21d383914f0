#include "config/suggest_mapping.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <set>
#include <string_view>

#include "config/field_mapping.h"
#include "config/mapping.h"
#include "core/text.h"

namespace qm::config {

namespace {

using Words = std::vector<std::string>;

// What a column is for, as far as its name or contents tell.
enum class Role {
  None,         // nothing known: its contents may still tell
  Part,         // PARTNUMBER
  Description,  // DESCRIPTN
  List,         // LISTPRICE
  Cost,         // COST_OF_1 to COST_OF_5
  Special,      // SPCL_COST
  ProNet,       // PRO_NET
  OrderQty,     // OQTY
  BreakQty,     // LEV1 to LEV6
  BreakPrice,   // COSTLEV1 to COSTLEV6
  Other,        // named as something the suggestion leaves to the user (unit, bar code, ...)
};

struct NameMatch {
  Role role = Role::None;
  int strength = 0;  // 2: the name says it outright; 1: likely ("Price", "Code", "Name")
  int level = 0;     // the number in "Qty 2" or "Cost 3"; 0 for none
};

constexpr int kMaxCosts = 5;
constexpr int kMaxBreaks = 6;
// The mapping's reading rule takes at most three digits of a column number.
constexpr int kMaxColumns = 1000;
// A title or a blank line or two may stand above the header row.
constexpr int kHeaderSearchRows = 10;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

using WordList = std::initializer_list<std::string_view>;

// The words header names are made of, by what they tell.
const WordList kDescription = {"description", "descriptn", "descr", "desc"};
const WordList kDescriptionLikely = {"name", "title"};
const WordList kCodeOrMeasure = {"upc", "ean", "gtin", "barcode", "weight",
                                 "wt",  "lb",  "lbs",  "kg",      "oz"};
const WordList kQuantity = {"qty", "qnty", "quantity", "break", "breaks",
                            "brk", "lev",  "level",    "tier"};
const WordList kPriceWord = {"price", "prices", "prc", "cost", "net", "nett", "list"};
const WordList kPack = {"oqty",     "pack",      "pkg", "package",  "carton", "ctn", "moq",
                        "multiple", "multiples", "std", "standard", "case",   "box"};
const WordList kMinimum = {"min", "minimum"};
const WordList kOrder = {"order"};
const WordList kCount = {"qty", "quantity"};
const WordList kSpecial = {"special", "spcl", "spl", "promo", "promotional"};
const WordList kPro = {"pro"};
const WordList kNet = {"net"};
const WordList kList = {"list", "msrp", "retail", "srp", "rrp", "suggested", "resale"};
const WordList kCost = {"cost",        "costs",   "net",       "nett",  "dealer",
                        "distributor", "distrib", "wholesale", "trade", "contractor",
                        "buy",         "your",    "purchase"};
const WordList kPrice = {"price", "prices", "prc", "sell", "selling"};
const WordList kPart = {"part", "item", "sku", "catalog", "catalogue", "cat", "article", "pn"};
const WordList kMaker = {"mfr", "mfg"};
const WordList kNumber = {"no", "number", "num", "nbr"};
const WordList kPartLikely = {"model", "stock", "product",   "prod",
                              "code",  "ref",   "reference", "style"};
const WordList kOther = {
    "unit",    "uom",      "um",     "category",     "group",  "class", "notes", "note", "remarks",
    "comment", "comments", "brand",  "manufacturer", "vendor", "image", "url",   "page", "status",
    "date",    "country",  "origin", "color",        "colour", "size",  "of"};

bool listed(std::string_view word) {
  for (const WordList* list : {&kDescription, &kDescriptionLikely, &kCodeOrMeasure, &kQuantity,
                               &kPriceWord, &kPack, &kMinimum, &kOrder, &kSpecial, &kPro, &kList,
                               &kCost, &kPrice, &kPart, &kMaker, &kNumber, &kPartLikely, &kOther})
    for (auto w : *list)
      if (w == word) return true;
  return false;
}

// "listprice" -> list price, "partno" -> part no: a run of letters that is known words written
// together, as dBase field names and "ListPrice" headers have them; empty when it is not.
Words known_parts(const std::string& word) {
  // from[i]: where the last known word ending at i begins, -1 when no split reaches i.
  std::vector<int> from(word.size() + 1, -1);
  from[0] = 0;
  for (std::size_t end = 2; end <= word.size(); ++end)
    for (std::size_t begin = 0; begin + 2 <= end; ++begin)
      if (from[begin] >= 0 && listed(std::string_view(word).substr(begin, end - begin))) {
        from[end] = static_cast<int>(begin);
        break;
      }
  if (from[word.size()] < 0) return {};
  Words parts;
  for (std::size_t end = word.size(); end > 0; end = static_cast<std::size_t>(from[end]))
    parts.insert(parts.begin(), word.substr(static_cast<std::size_t>(from[end]),
                                            end - static_cast<std::size_t>(from[end])));
  return parts;
}

// "Part #" -> part no, "Qty2" -> qty 2, "U/M" -> u m, "ListPrice" and "LISTPRICE" -> list price:
// lower-case words, split where letters meet digits or a capital follows a small letter.
Words name_words(std::string_view name) {
  Words words;
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    Words parts;
    // Longer runs are text, not a name; the split's cost grows with the square of the length.
    if (!is_digit(word[0]) && word.size() <= 24 && !listed(word)) parts = known_parts(word);
    if (parts.empty())
      words.push_back(word);
    else
      words.insert(words.end(), parts.begin(), parts.end());
    word.clear();
  };
  char before = 0;
  for (char c : name) {
    if (c == '#') {
      flush();
      words.push_back("no");
    } else if (is_letter(c) || is_digit(c)) {
      const bool capitalAfterSmall = c >= 'A' && c <= 'Z' && before >= 'a' && before <= 'z';
      if (!word.empty() && (is_digit(word.back()) != is_digit(c) || capitalAfterSmall)) flush();
      word += static_cast<char>(is_letter(c) ? (c | 0x20) : c);
    } else {
      flush();
    }
    before = c;
  }
  flush();
  return words;
}

bool any_of(const Words& words, const WordList& list) {
  for (const auto& w : words)
    for (auto s : list)
      if (w == s) return true;
  return false;
}

bool any_prefix(const Words& words, std::string_view prefix) {
  for (const auto& w : words)
    if (starts_with(w, prefix)) return true;
  return false;
}

int level_of(const Words& words) {
  for (const auto& w : words)
    if (w.size() == 1 && w[0] >= '1' && w[0] <= '9') return w[0] - '0';
  return 0;
}

// The order of the tests settles names that hold words of two roles: "Item Description" is a
// description, "Net Weight" a weight, "Unit Cost" a cost, "Qty 2 Price" a break price.
NameMatch match_name(std::string_view name) {
  const Words w = name_words(name);
  const int level = level_of(w);
  if (w.empty()) return {};
  if (any_prefix(w, "desc")) return {Role::Description, 2, 0};
  if (any_of(w, kDescriptionLikely)) return {Role::Description, 1, 0};
  if (any_of(w, kCodeOrMeasure)) return {Role::Other, 2, 0};
  const bool qty = any_of(w, kQuantity);
  const bool price = any_of(w, kPriceWord);
  const bool minimum = any_of(w, kMinimum), order = any_of(w, kOrder);
  if ((any_of(w, kPack) && !price) || ((minimum || order) && any_of(w, kCount)) ||
      (minimum && order))
    return {Role::OrderQty, 2, 0};
  if (qty && price) return {Role::BreakPrice, 2, level};
  if (qty) return {Role::BreakQty, 2, level};
  if (any_of(w, kSpecial)) return {Role::Special, 2, 0};
  if (any_of(w, kPro) && any_of(w, kNet)) return {Role::ProNet, 2, 0};
  if (any_of(w, kList)) return {Role::List, 2, level};
  if (any_of(w, kCost)) return {Role::Cost, 2, level};
  if (any_of(w, kPrice)) return {Role::List, 1, level};
  if (any_of(w, kPart) || w == Words{"p", "n"} || (any_of(w, kMaker) && any_of(w, kNumber)))
    return {Role::Part, 2, 0};
  if (any_of(w, kPartLikely) || any_of(w, kNumber)) return {Role::Part, 1, 0};
  if (any_of(w, kOther) || any_of(w, kMaker) || w == Words{"u", "m"}) return {Role::Other, 1, 0};
  return {};
}

// What a column holds over the sampled rows, counted in filled (not blank) cells.
struct ColumnStats {
  int filled = 0;
  int distinct = 0;   // different texts
  double length = 0;  // mean length
  int amounts = 0;    // cells that read as a sum of money or a number
  int currency = 0;   // ... with a currency sign
  int decimals = 0;   // ... with a decimal point
  int whole = 0;      // plain whole numbers of up to six digits
  int barcodes = 0;   // digit strings of eleven or more, as UPC and EAN are
  int ranges = 0;     // break quantities written "100-249" or "250+"
  int blanks = 0;     // cells with a blank inside
  int letters = 0;    // cells with a letter
  // The amount of each sampled row, to tell the list price from the cost.
  std::vector<std::optional<double>> values;
};

// "$1,234.50", "12.5", "USD 3", "€4": the amount; nullopt for anything else. Read by hand,
// since the user's locale may take "," for the decimal point. Sets the flags a money column is
// told by.
std::optional<double> read_amount(std::string_view text, bool& currency, bool& decimal) {
  std::string t = trim(text);
  currency = decimal = false;
  for (std::string_view sign : {"$", "\xE2\x82\xAC", "\xC2\xA3", "USD", "EUR", "GBP"}) {
    if (starts_with(t, sign)) {
      t = trim(std::string_view(t).substr(sign.size()));
      currency = true;
    } else if (ends_with(t, sign)) {
      t = trim(std::string_view(t).substr(0, t.size() - sign.size()));
      currency = true;
    }
  }
  double value = 0, scale = 1;
  int digits = 0;
  bool negative = false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == ',' && !decimal && i > 0 && is_digit(t[i - 1])) continue;
    if (c == '-' && i == 0) {
      negative = true;
    } else if (c == '.' && !decimal) {
      decimal = true;
    } else if (is_digit(c) && digits < 18) {
      ++digits;
      if (decimal) scale /= 10;
      value = decimal ? value + (c - '0') * scale : value * 10 + (c - '0');
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  return negative ? -value : value;
}

// Break quantities as price lists write them: "100-249", "250+", "250 +".
bool is_range(std::string_view text) {
  const std::string t = trim(text);
  std::size_t i = 0;
  while (i < t.size() && is_digit(t[i])) ++i;
  if (i == 0) return false;
  const std::string rest = trim(std::string_view(t).substr(i));
  if (rest == "+") return true;
  return rest.size() >= 2 && rest[0] == '-' && std::all_of(rest.begin() + 1, rest.end(), is_digit);
}

ColumnStats column_stats(const std::vector<std::vector<std::string>>& rows, std::size_t first,
                         int column) {
  ColumnStats s;
  std::set<std::string> seen;
  double length = 0;
  for (std::size_t r = first; r < rows.size(); ++r) {
    const std::string cell = trim(rows[r][static_cast<std::size_t>(column)]);
    s.values.emplace_back();
    if (cell.empty()) continue;
    ++s.filled;
    seen.insert(cell);
    length += static_cast<double>(cell.size());
    if (cell.find(' ') != std::string::npos) ++s.blanks;
    if (std::any_of(cell.begin(), cell.end(), is_letter)) ++s.letters;
    bool currency = false, decimal = false;
    if (auto v = read_amount(cell, currency, decimal)) {
      ++s.amounts;
      s.values.back() = v;
      if (currency) ++s.currency;
      if (decimal) ++s.decimals;
      const bool digitsOnly = std::all_of(cell.begin(), cell.end(), is_digit);
      if (digitsOnly && cell.size() >= 11) ++s.barcodes;
      if (digitsOnly && cell.size() <= 6) ++s.whole;
    } else if (is_range(cell)) {
      ++s.ranges;
    }
  }
  s.distinct = static_cast<int>(seen.size());
  if (s.filled) s.length = length / s.filled;
  return s;
}

bool mostly(int part, int whole) {
  return whole > 0 && part * 10 >= whole * 9;
}

bool is_money(const ColumnStats& s, std::size_t rows) {
  return s.filled * 2 >= static_cast<int>(rows) && s.filled > 0 && mostly(s.amounts, s.filled) &&
         s.currency * 2 + s.decimals * 2 >= s.filled && s.barcodes == 0;
}

bool is_code(const ColumnStats& s, std::size_t rows) {
  return s.filled * 5 >= static_cast<int>(rows) * 4 && mostly(s.distinct, s.filled) &&
         s.blanks * 5 <= s.filled && s.length <= 30 && s.currency == 0 && s.decimals == 0 &&
         !mostly(s.barcodes, s.filled);
}

bool is_text(const ColumnStats& s) {
  return s.filled > 0 && s.letters * 5 >= s.filled * 4 && s.amounts * 5 < s.filled;
}

bool is_quantity(const ColumnStats& s, std::size_t rows) {
  return s.filled * 2 >= static_cast<int>(rows) && mostly(s.whole + s.ranges, s.filled) &&
         s.distinct < s.filled && s.currency == 0;
}

// The destination fields in the order the lines are written, PARTNUMBER first.
struct Slot {
  std::string field;
  Role role;
  int level;  // 1-based place among the role's fields; 0 for a single field
};

std::vector<Slot> all_slots() {
  std::vector<Slot> slots = {{"PARTNUMBER", Role::Part, 0},
                             {"DESCRIPTN", Role::Description, 0},
                             {"LISTPRICE", Role::List, 0}};
  for (int i = 1; i <= kMaxCosts; ++i)
    slots.push_back({"COST_OF_" + std::to_string(i), Role::Cost, i});
  slots.push_back({"SPCL_COST", Role::Special, 0});
  slots.push_back({"PRO_NET", Role::ProNet, 0});
  slots.push_back({"OQTY", Role::OrderQty, 0});
  for (int i = 1; i <= kMaxBreaks; ++i)
    slots.push_back({"LEV" + std::to_string(i), Role::BreakQty, i});
  for (int i = 1; i <= kMaxBreaks; ++i)
    slots.push_back({"COSTLEV" + std::to_string(i), Role::BreakPrice, i});
  return slots;
}

class Proposal {
 public:
  Proposal(const std::vector<std::string>& lines, const SuggestOptions& options, int columns)
      : slots_(all_slots()), column_(slots_.size(), -1), usedColumn_(columns, false) {
    for (auto& slot : slots_) {
      if (options.fields.empty()) continue;
      // A proposal names the field as the page-3 list spells it, and only a field it lists.
      auto it = std::find_if(options.fields.begin(), options.fields.end(),
                             [&](const std::string& f) { return iequals(f, slot.field); });
      if (it == options.fields.end())
        slot.role = Role::None;
      else
        slot.field = *it;
    }
    for (const auto& line : lines) {
      MappingLine m = split_mapping_line(line);
      for (std::size_t i = 0; i < slots_.size(); ++i)
        if (iequals(trim(m.name), slots_[i].field)) slots_[i].role = Role::None;
      int column = -1;
      if (m.kind == MappingKind::Column && try_mapping_column(m.value, column)) use(column);
      if (m.kind == MappingKind::RowBreak) {
        userBreakColumn_ = true;
        if (try_mapping_column(m.value.substr(kRowBreakPrefix.size()), column)) use(column);
      }
    }
  }

  bool free(int column) const {
    return column >= 0 && column < static_cast<int>(usedColumn_.size()) &&
           !usedColumn_[static_cast<std::size_t>(column)];
  }
  // The slot of a role at a level (0: the first one still open); -1 when none is open.
  int open_slot(Role role, int level) const {
    for (std::size_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].role == role && column_[i] < 0 && (level == 0 || slots_[i].level == level))
        return static_cast<int>(i);
    return -1;
  }
  bool has_open(Role role) const { return open_slot(role, 0) >= 0; }
  bool assign(Role role, int level, int column) {
    const int slot = open_slot(role, level);
    if (slot < 0 || !free(column)) return false;
    column_[static_cast<std::size_t>(slot)] = column;
    use(column);
    return true;
  }

  std::vector<std::string> lines(bool rowBreak) const {
    std::vector<std::string> out;
    bool breakColumn = userBreakColumn_;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (column_[i] < 0) continue;
      // While rows carry break levels the walk folds a part's rows into its breaks from one
      // quantity column, the prices coming from the cost column; every other "LEV" line
      // would be a second break column.
      if (rowBreak && contains(slots_[i].field, "LEV")) {
        if (slots_[i].role != Role::BreakQty || breakColumn) continue;
        breakColumn = true;
      }
      out.push_back(mapping_line_for(slots_[i].field, column_[i], rowBreak, "").line);
    }
    return out;
  }

 private:
  void use(int column) {
    if (column >= 0 && column < static_cast<int>(usedColumn_.size()))
      usedColumn_[static_cast<std::size_t>(column)] = true;
  }
  std::vector<Slot> slots_;
  std::vector<int> column_;
  std::vector<bool> usedColumn_;
  bool userBreakColumn_ = false;  // the present list has a row-break line
};

// Names first: the best-named column of a one-field role, then the numbered roles (costs,
// breaks) by their numbers and the rest left to right.
void assign_by_names(Proposal& p, const std::vector<NameMatch>& names,
                     const std::vector<ColumnStats>& stats) {
  const int n = static_cast<int>(names.size());
  for (Role role :
       {Role::Part, Role::Description, Role::List, Role::Special, Role::ProNet, Role::OrderQty}) {
    int best = -1;
    for (int c = 0; c < n; ++c) {
      if (names[c].role != role || !p.free(c)) continue;
      // Of two description columns the one with the longer texts; else the stronger name,
      // then the leftmost.
      if (best < 0 || names[c].strength > names[best].strength ||
          (role == Role::Description && names[c].strength == names[best].strength &&
           stats[c].length > stats[best].length))
        best = c;
    }
    if (best >= 0) p.assign(role, 0, best);
  }
  for (Role role : {Role::Cost, Role::BreakQty, Role::BreakPrice}) {
    std::set<int> numbered;
    for (int c = 0; c < n; ++c)
      if (names[c].role == role && names[c].level) {
        numbered.insert(names[c].level);
        p.assign(role, names[c].level, c);
      }
    // The unnumbered ones take the numbers left, in order; a field the user linked stays
    // his, rather than pushing the column on to the next number.
    int level = 0;
    for (int c = 0; c < n; ++c) {
      if (names[c].role != role) continue;
      if (names[c].level) continue;
      do ++level;
      while (numbered.count(level));
      p.assign(role, level, c);
    }
  }
}

// Then contents, over the columns whose names said nothing: unique codes for the part number,
// the longest texts for the description, money for the prices, whole numbers for breaks.
void assign_by_contents(Proposal& p, const std::vector<NameMatch>& names,
                        const std::vector<ColumnStats>& stats, std::size_t rows) {
  const int n = static_cast<int>(names.size());
  auto open = [&](int c) { return names[c].role == Role::None && p.free(c); };
  if (p.has_open(Role::Part))
    for (int c = 0; c < n; ++c)
      if (open(c) && is_code(stats[c], rows) && p.assign(Role::Part, 0, c)) break;
  if (p.has_open(Role::Description)) {
    int best = -1;
    for (int c = 0; c < n; ++c)
      if (open(c) && is_text(stats[c]) && (best < 0 || stats[c].length > stats[best].length))
        best = c;
    if (best >= 0) p.assign(Role::Description, 0, best);
  }
  std::vector<int> money;
  for (int c = 0; c < n && money.size() < 2; ++c)
    if (open(c) && is_money(stats[c], rows)) money.push_back(c);
  if (money.size() == 2 && p.has_open(Role::List) && p.has_open(Role::Cost)) {
    // The list price stands above the cost on most rows.
    int above = 0, below = 0;
    for (std::size_t r = 0; r < stats[money[0]].values.size(); ++r) {
      const auto& a = stats[money[0]].values[r];
      const auto& b = stats[money[1]].values[r];
      if (a && b) (*a >= *b ? above : below)++;
    }
    if (below > above) std::swap(money[0], money[1]);
    p.assign(Role::List, 0, money[0]);
    p.assign(Role::Cost, 0, money[1]);
  } else if (!money.empty()) {
    if (!p.assign(Role::List, 0, money[0])) p.assign(Role::Cost, 0, money[0]);
  }
  for (int c = 0; c < n; ++c)
    if (open(c) && is_quantity(stats[c], rows)) p.assign(Role::BreakQty, 0, c);
}

int recognised(const std::vector<NameMatch>& names) {
  return static_cast<int>(std::count_if(names.begin(), names.end(),
                                        [](const NameMatch& m) { return m.role != Role::None; }));
}

}  // namespace

std::vector<std::string> suggest_mapping(Dataset& source, const std::vector<std::string>& lines,
                                         const SuggestOptions& options) {
  const int columns = std::min(source.fieldCount(), kMaxColumns);
  std::vector<std::vector<std::string>> rows;
  source.first();
  for (int r = 0; r < options.sampleRows && !source.eof(); ++r, source.next()) {
    rows.emplace_back();
    for (int c = 0; c < columns; ++c) rows.back().push_back(source.field(c).asString());
  }

  // The header is the field names, or a row near the top under a title: whichever names more
  // columns. A row counts only when most of its filled cells are names.
  std::vector<NameMatch> names(static_cast<std::size_t>(columns));
  if (options.header)
    for (int c = 0; c < columns; ++c) names[c] = match_name(source.field(c).name());
  std::size_t dataFrom = 0;
  for (std::size_t r = 0; r < rows.size() && r < kHeaderSearchRows; ++r) {
    std::vector<NameMatch> row(static_cast<std::size_t>(columns));
    int filled = 0;
    for (int c = 0; c < columns; ++c) {
      row[c] = match_name(rows[r][c]);
      if (!trim(rows[r][c]).empty()) ++filled;
    }
    const int score = recognised(row);
    if (score >= 2 && score * 2 >= filled && score > recognised(names)) {
      names = row;
      dataFrom = r + 1;
    }
  }

  std::vector<ColumnStats> stats;
  for (int c = 0; c < columns; ++c) stats.push_back(column_stats(rows, dataFrom, c));
  const std::size_t dataRows = rows.size() - std::min(rows.size(), dataFrom);

  // "Qty 2" beside "Price 2": the price of that break, not a second list price or cost.
  for (auto& m : names)
    if ((m.role == Role::List || m.role == Role::Cost) && m.level)
      for (const auto& q : names)
        if (q.role == Role::BreakQty && q.level == m.level) m = {Role::BreakPrice, 2, m.level};

  Proposal p(lines, options, columns);
  assign_by_names(p, names, stats);
  assign_by_contents(p, names, stats, dataRows);
  return p.lines(options.rowBreak);
}

ConfigurationText suggested_configuration(std::vector<std::string> mapping) {
  static const char* const kFields[] = {
      "STORENAME",  "FILENAME",   "CODE",       "PARAMETER",  "SOURCE_ID",  "DEPT",
      "UPDATEDATE", "EXPORTDBF",  "STARTEXPRT", "SHEET",      "COMPANY",    "PRICESHEET",
      "STREET",     "CITY",       "STATE",      "ZIP",        "PHONE",      "FAX",
      "APPENDDATA", "BREAKONROW", "SOURCE",     "ADDDESCRIP", "CONVERSION", "US_CANADA",
      "CABLE",      "SERIALNUM",  "CONTRACTPR", "REMARKS"};
  static const std::set<std::string_view> kTicks = {"APPENDDATA", "BREAKONROW", "ADDDESCRIP",
                                                    "US_CANADA",  "CABLE",      "CONTRACTPR"};
  ConfigurationText config;
  for (const char* f : kFields) config.fields.emplace_back(f, kTicks.count(f) ? "False" : "");
  config.mapping = std::move(mapping);
  return config;
}

}  // namespace qm::config
