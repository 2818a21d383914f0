// dBase tables as an installable format: a folder whose tables are its .dbf files, read through
// the program's own dBase table engine at any level it reads.
#pragma once

#include <memory>
#include <string>

#include "source/engine.h"

namespace qm::source {

// The engine type and size of a dBase field (type letter as the table stores it).
EngineColumn dbf_column(const std::string& name, char type, int length, int decimals);

std::unique_ptr<EngineDatabase> open_dbf_folder(const std::string& folder,
                                                const ConnectString& connect);

}  // namespace qm::source
