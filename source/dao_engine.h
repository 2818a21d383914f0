// What the machine offers in the database engine's place: the engine versions that can be
// created and the installable formats each offers. There is no registry here: the machine is
// described by the program itself, and two environment variables let tests and support staff
// pretend otherwise:
//   QM_DAO_VERSIONS   the versions "installed", separated by commas or blanks ("3.5,12.0");
//                     unset: all of 3.5, 3.6 and 12.0; empty or "none" (which cmd.exe can set):
//                     no engine at all.
//   QM_DAO_NO_EXCEL   when set to anything but "" or "0": no version offers an Excel format.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm::source {

struct EngineMachine {
  std::vector<std::string> versions{"3.5", "3.6", "12.0"};
  bool excel = true;
};

// Reads the two variables (nullptr = unset). Versions other than the three are ignored.
EngineMachine parse_engine_machine(const char* versions, const char* noExcel);
// The machine this process sees, read from the environment at first use; tests may change it.
EngineMachine& engine_machine();

// Whether the engine class of a version ("3.5", "3.6", "12.0") can be created.
bool engine_creatable(const std::string& version);
// The installable format names a version offers, or nothing when that version is not
// installed (as when its registry key is missing).
std::optional<std::vector<std::string>> isam_formats(const std::string& version);
// The engine's own version text ("3.51", "3.6", "12.0").
std::string engine_version_text(const std::string& version);

}  // namespace qm::source
