// What a build did, kept while it runs: the rows by what became of them, the records written,
// each cell whose stored value says something other than its text, and the changes against
// the price file it replaces. The wizard and the command line show the same report.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::pricefile {

// What became of a row the source delivered; every row gets exactly one.
enum class RowOutcome {
  PartRecord,       // written as a part record
  BreakFolded,      // a break row folded into the part above
  BreakPassedOver,  // a break row beyond the sixth of its part
  Heading,          // a part number without description, taken as the heading of the next
  NoDescription,    // a part number without description, passed over
  NoPartNumber,     // passed over
  BeforeStartRow,   // before the start row
  EndMarker,        // the row holding "$END$"
  AfterEndMarker,   // after the end marker, never looked at
  Stopped,          // the row an error stopped the walk on
  kCount
};
inline constexpr std::size_t kRowOutcomes = static_cast<std::size_t>(RowOutcome::kCount);
const char* outcome_name(RowOutcome outcome);

enum class NoteReason {
  NotANumber,        // a price text with no number in it, stored as 0
  DecimalComma,      // reads as a decimal comma or a dot as thousands separator
  DoesNotFit,        // too wide or too large for its field, stored as 0 or blank
  Truncated,         // cut to the field's width
  NotStored,         // refused by its field, which was left as it was
  NotRepresentable,  // characters the table's code page lacks, stored as "?"
  NegativePrice,     // a price in parentheses, stored negative
  kCount
};
inline constexpr std::size_t kNoteReasons = static_cast<std::size_t>(NoteReason::kCount);
const char* reason_code(NoteReason reason);

struct Note {
  std::string sheet;
  std::int64_t row = 0;  // as the spreadsheet numbers it
  std::string column;    // letters, as the spreadsheet names it
  std::string field, text, stored;
  NoteReason reason = NoteReason::NotANumber;
};

struct PriceChange {
  std::string part, field, before, after;
  bool suspicious = false;  // rose or fell by more than ten times, or became 0
};

// Price changes in percent: one bin per percent from -kHistogramSpan to +kHistogramSpan,
// with one more at each end for everything beyond.
inline constexpr int kHistogramSpan = 50;
inline constexpr std::size_t kHistogramBins = 2 * kHistogramSpan + 2;
std::size_t histogram_bin(double percent);

struct Comparison {
  std::int64_t previousRecords = 0;  // part records of the previous file
  std::int64_t added = 0, removed = 0, unchanged = 0, changed = 0;
  std::int64_t duplicates = 0;  // records whose part number their file already had
  std::int64_t changeCount = 0, suspiciousCount = 0;  // all of them; the lists are bounded
  std::vector<PriceChange> changes;                   // every kind, in the new file's order
  std::vector<PriceChange> suspicious;                // the suspicious ones among them
  std::array<std::int64_t, kHistogramBins> histogram{};
};

// Details kept per reason, and of changes; every one is counted.
inline constexpr std::size_t kKeptPerList = 1000;
inline constexpr std::size_t kKeptRecords = 300;

struct BuildReport {
  bool dryRun = false;
  std::string sourceFile, sourceTable;
  std::int64_t sourceRows = 0;           // rows the source delivered, all sheets together
  std::vector<std::string> sourceNotes;  // what the reader left out or changed, in words
  std::int64_t startRow = 0;
  std::array<std::int64_t, kRowOutcomes> outcomes{};
  std::int64_t headingRecords = 0, partRecords = 0, recordsBefore = 0;
  std::array<std::int64_t, kNoteReasons> noteCounts{};
  std::vector<Note> notes;  // the first kKeptPerList of each reason, in the order met
  std::optional<Comparison> comparison;
  std::string comparisonError;  // why a previous file could not be compared
  // The first records this build wrote as the price file holds them, in its field order.
  std::vector<std::string> recordFields;
  std::vector<std::vector<std::string>> records;

  std::int64_t& count(RowOutcome o) { return outcomes[static_cast<std::size_t>(o)]; }
  std::int64_t rowsTotal() const;
  std::int64_t notesTotal() const;
  // Counts the note; true when its details are to be kept (then call keep).
  bool countNote(NoteReason reason) {
    return ++noteCounts[static_cast<std::size_t>(reason)] <= std::int64_t(kKeptPerList);
  }
};

// The report as the JSON that scripts read.
std::string report_json(const BuildReport& report);
// A few lines for the command line: records, rows, notes, comparison, suspicious changes.
std::vector<std::string> report_summary(const BuildReport& report, std::size_t suspiciousLines);
std::string notes_csv(const BuildReport& report);
std::string changes_csv(const BuildReport& report);

// The spreadsheet's name of a column counted from 0: A ... Z, AA ...
std::string column_letters(int column);

}  // namespace qm::pricefile
