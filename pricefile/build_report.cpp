#include "pricefile/build_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace qm::pricefile {

namespace {

using nlohmann::ordered_json;

ordered_json change_json(const std::vector<PriceChange>& list) {
  ordered_json a = ordered_json::array();
  for (const PriceChange& c : list)
    a.push_back({{"part", c.part}, {"field", c.field}, {"old", c.before}, {"new", c.after}});
  return a;
}

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string csv(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace

const char* outcome_name(RowOutcome outcome) {
  switch (outcome) {
    case RowOutcome::PartRecord:
      return "part_record";
    case RowOutcome::BreakFolded:
      return "break_folded";
    case RowOutcome::BreakPassedOver:
      return "break_beyond_sixth";
    case RowOutcome::Heading:
      return "description_heading";
    case RowOutcome::NoDescription:
      return "no_description";
    case RowOutcome::NoPartNumber:
      return "no_part_number";
    case RowOutcome::BeforeStartRow:
      return "before_start_row";
    case RowOutcome::EndMarker:
      return "end_marker";
    case RowOutcome::AfterEndMarker:
      return "after_end_marker";
    case RowOutcome::Stopped:
      return "stopped_by_error";
    case RowOutcome::kCount:
      break;
  }
  return "";
}

const char* reason_code(NoteReason reason) {
  switch (reason) {
    case NoteReason::NotANumber:
      return "not_a_number";
    case NoteReason::DecimalComma:
      return "decimal_comma";
    case NoteReason::DoesNotFit:
      return "does_not_fit";
    case NoteReason::Truncated:
      return "truncated";
    case NoteReason::NotStored:
      return "not_stored";
    case NoteReason::NotRepresentable:
      return "not_representable";
    case NoteReason::NegativePrice:
      return "negative_price";
    case NoteReason::kCount:
      break;
  }
  return "";
}

std::size_t histogram_bin(double percent) {
  if (!(percent >= -kHistogramSpan)) return 0;
  if (percent >= kHistogramSpan) return kHistogramBins - 1;
  return static_cast<std::size_t>(std::floor(percent) + kHistogramSpan) + 1;
}

std::int64_t BuildReport::rowsTotal() const {
  std::int64_t n = 0;
  for (std::int64_t c : outcomes) n += c;
  return n;
}

std::int64_t BuildReport::notesTotal() const {
  std::int64_t n = 0;
  for (std::int64_t c : noteCounts) n += c;
  return n;
}

std::string column_letters(int column) {
  std::string s;
  for (int c = column + 1; c > 0; c = (c - 1) / 26) s.insert(s.begin(), char('A' + (c - 1) % 26));
  return s;
}

std::string report_json(const BuildReport& r) {
  ordered_json outcomes = ordered_json::object();
  for (std::size_t i = 0; i < kRowOutcomes; ++i)
    outcomes[outcome_name(static_cast<RowOutcome>(i))] = r.outcomes[i];
  ordered_json reasons = ordered_json::object();
  for (std::size_t i = 0; i < kNoteReasons; ++i)
    reasons[reason_code(static_cast<NoteReason>(i))] = r.noteCounts[i];
  ordered_json items = ordered_json::array();
  for (const Note& n : r.notes)
    items.push_back({{"sheet", n.sheet},
                     {"row", n.row},
                     {"column", n.column},
                     {"field", n.field},
                     {"text", n.text},
                     {"stored", n.stored},
                     {"reason", reason_code(n.reason)}});
  ordered_json j;
  j["dry_run"] = r.dryRun;
  j["source"] = {{"file", r.sourceFile},
                 {"table", r.sourceTable},
                 {"rows", r.sourceRows},
                 {"start_row", r.startRow},
                 {"notes", r.sourceNotes}};
  j["rows"] = {{"total", r.rowsTotal()}, {"outcomes", outcomes}};
  j["records"] = {{"total", r.headingRecords + r.partRecords},
                  {"heading", r.headingRecords},
                  {"parts", r.partRecords},
                  {"before", r.recordsBefore}};
  j["notes"] = {{"total", r.notesTotal()}, {"by_reason", reasons}, {"items", items}};
  if (!r.comparisonError.empty()) j["comparison_error"] = r.comparisonError;
  if (!r.comparison) {
    j["comparison"] = nullptr;
  } else {
    const Comparison& c = *r.comparison;
    j["comparison"] = {{"previous_records", c.previousRecords},
                       {"added", c.added},
                       {"removed", c.removed},
                       {"unchanged", c.unchanged},
                       {"changed", c.changed},
                       {"duplicates", c.duplicates},
                       {"change_count", c.changeCount},
                       {"suspicious_count", c.suspiciousCount},
                       {"changes", change_json(c.changes)},
                       {"suspicious", change_json(c.suspicious)}};
  }
  // A sheet's text that is not valid UTF-8 must not stop the report from being written.
  return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::vector<std::string> report_summary(const BuildReport& r, std::size_t suspiciousLines) {
  std::vector<std::string> lines;
  lines.push_back("Records: " + std::to_string(r.partRecords) + " parts, " +
                  std::to_string(r.headingRecords) + " heading" +
                  (r.recordsBefore ? ", " + std::to_string(r.recordsBefore) + " before" : ""));
  std::string rows = "Rows: " + std::to_string(r.rowsTotal());
  for (std::size_t i = 0; i < kRowOutcomes; ++i)
    if (r.outcomes[i])
      rows += std::string(", ") + outcome_name(static_cast<RowOutcome>(i)) + " " +
              std::to_string(r.outcomes[i]);
  lines.push_back(rows);
  std::string notes = "Notes: " + std::to_string(r.notesTotal());
  for (std::size_t i = 0; i < kNoteReasons; ++i)
    if (r.noteCounts[i])
      notes += std::string(", ") + reason_code(static_cast<NoteReason>(i)) + " " +
               std::to_string(r.noteCounts[i]);
  lines.push_back(notes);
  for (const std::string& n : r.sourceNotes) lines.push_back("Source: " + n);
  if (!r.comparison) {
    lines.push_back(r.comparisonError.empty() ? "Comparison: no previous price file"
                                              : "Comparison failed: " + r.comparisonError);
    return lines;
  }
  const Comparison& c = *r.comparison;
  lines.push_back(
      "Comparison with " + std::to_string(c.previousRecords) + " previous parts: added " +
      std::to_string(c.added) + ", removed " + std::to_string(c.removed) + ", changed " +
      std::to_string(c.changed) + ", unchanged " + std::to_string(c.unchanged) + ", duplicates " +
      std::to_string(c.duplicates) + ", suspicious changes " + std::to_string(c.suspiciousCount));
  for (std::size_t i = 0; i < c.suspicious.size() && i < suspiciousLines; ++i) {
    const PriceChange& s = c.suspicious[i];
    lines.push_back("  " + s.part + " " + s.field + ": " + s.before + " -> " + s.after);
  }
  return lines;
}

std::string notes_csv(const BuildReport& r) {
  std::string out = "sheet,row,column,field,text,stored,reason\r\n";
  for (const Note& n : r.notes)
    out += csv(n.sheet) + "," + std::to_string(n.row) + "," + n.column + "," + csv(n.field) + "," +
           csv(n.text) + "," + csv(n.stored) + "," + reason_code(n.reason) + "\r\n";
  return out;
}

std::string changes_csv(const BuildReport& r) {
  std::string out = "part,field,old,new,suspicious\r\n";
  if (!r.comparison) return out;
  for (const PriceChange& c : r.comparison->suspicious)
    out += csv(c.part) + "," + csv(c.field) + "," + csv(c.before) + "," + csv(c.after) + ",yes\r\n";
  for (const PriceChange& c : r.comparison->changes)
    if (!c.suspicious)
      out +=
          csv(c.part) + "," + csv(c.field) + "," + csv(c.before) + "," + csv(c.after) + ",no\r\n";
  return out;
}

}  // namespace qm::pricefile
