// Stands in until the dBase table engine is part of the build.
#include "core/error.h"
#include "source/dbf/dbf_source.h"

namespace qm::source {

std::unique_ptr<EngineDatabase> open_dbf_folder(const std::string& folder, const ConnectString&) {
  throw DatabaseError("Could not find installable ISAM. (" + folder +
                      ": this build has no dBase engine)");
}

}  // namespace qm::source
