// Stands in until the .xlsx reader is part of the build.
#include "core/error.h"
#include "source/reader.h"

namespace qm::source {

std::unique_ptr<WorkbookReader> open_xlsx(const std::string& path) {
  throw DatabaseError("External table is not in the expected format. (" + path +
                      ": this build has no .xlsx reader)");
}

}  // namespace qm::source
