// The changes a build makes against the price file it replaces or adds to, by part number.
#pragma once

#include <cstdint>
#include <string>

#include "pricefile/build_report.h"

namespace qm::pricefile {

// Compares the part records 1 to previousLast (all when -1; physical record numbers) of the
// previous file with the part records from nextFirst on of the new one (the two may be one file,
// when a build adds to it). Part numbers are trimmed; the heading records are not parts. A part
// number met again in the same file is counted as a duplicate and only its first record compared.
// Compared: the description and every price field (list price, costs, special cost, net,
// break prices) of the new file.
Comparison compare_price_files(const std::string& previousPath, std::int64_t previousLast,
                               const std::string& nextPath, std::int64_t nextFirst);

}  // namespace qm::pricefile
