// The text of a number cell as the engine shows it: the runtime's general format, the
// shortest form with up to 15 significant digits. Price lists are full of number cells, and
// the general format of core/text.h finds that form by trying each length in turn through
// printf and strtod; this gives the same text from the shortest round-trip digits at once,
// and leaves the rare numbers that need more care (16 or 17 digits, exponents) to it.
#pragma once

#include <string>

namespace qm::source {

std::string number_text(double value);

}  // namespace qm::source
