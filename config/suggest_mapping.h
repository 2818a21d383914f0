// "Suggest mapping": mapping lines proposed for a source table from its header names (English,
// any case: "Part No", "Catalog #", "Desc", "List Price", "Your Cost", "Qty 2") and, where the
// names say nothing, from what its columns hold (unique codes, long texts, money, quantities).
// The wizard's page 3 and `quillmere-import suggest` both call it.
#pragma once

#include <string>
#include <vector>

#include "config/config_text.h"
#include "core/dataset.h"

namespace qm::config {

struct SuggestOptions {
  // The table's field names are its header row (the "first row holds the names" tick);
  // without it they are the engine's F1, F2, ... and say nothing.
  bool header = true;
  // The destination fields as the page-3 list spells them; a proposal names only these. Empty:
  // the fields every price file has.
  std::vector<std::string> fields;
  // "3. Row Contains Break Levels" is ticked: a break quantity column is linked as the rows'
  // break column, as "6 &Add >" links it then.
  bool rowBreak = false;
  // Rows read from the start of the table; a price list's layout shows in its first rows.
  int sampleRows = 200;
};

// The lines to append to the present mapping list. A field the list already links, and a
// column it already uses, are left alone, so a line the user made is never replaced. Reads
// from the source's first row and leaves it past the sample; going back to the first row costs
// a workbook another pass, so only a caller that needs it does.
std::vector<std::string> suggest_mapping(Dataset& source, const std::vector<std::string>& lines,
                                         const SuggestOptions& options = {});

// A new configuration around a proposed mapping, in the form `config import` takes: every
// stored field, the ticks as a new configuration has them, the rest blank for the user.
ConfigurationText suggested_configuration(std::vector<std::string> mapping);

}  // namespace qm::config
