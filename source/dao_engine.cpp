#include "source/dao_engine.h"

#include <algorithm>
#include <cstdlib>

#include "core/text.h"

namespace qm::source {

namespace {
const char* const kVersions[] = {"3.5", "3.6", "12.0"};
}

EngineMachine parse_engine_machine(const char* versions, const char* noExcel) {
  EngineMachine m;
  if (versions) {
    std::vector<std::string> given;
    std::string cur;
    for (const char* p = versions;; ++p) {
      if (*p == 0 || *p == ',' || *p == ' ' || *p == ';' || *p == '\t') {
        if (!cur.empty()) given.push_back(cur);
        cur.clear();
        if (*p == 0) break;
      } else {
        cur += *p;
      }
    }
    m.versions.clear();
    // Probing order, whatever order the variable names them in.
    for (const char* v : kVersions)
      if (std::find(given.begin(), given.end(), v) != given.end()) m.versions.push_back(v);
  }
  m.excel = !(noExcel && *noExcel && std::string(noExcel) != "0");
  return m;
}

EngineMachine& engine_machine() {
  static EngineMachine m =
      parse_engine_machine(std::getenv("QM_DAO_VERSIONS"), std::getenv("QM_DAO_NO_EXCEL"));
  return m;
}

bool engine_creatable(const std::string& version) {
  const auto& v = engine_machine().versions;
  return std::find(v.begin(), v.end(), version) != v.end();
}

std::optional<std::vector<std::string>> isam_formats(const std::string& version) {
  if (!engine_creatable(version)) return std::nullopt;
  std::vector<std::string> f;
  if (engine_machine().excel) {
    f = {"Excel 3.0", "Excel 4.0", "Excel 5.0", "Excel 8.0"};
    if (version == "12.0") f.push_back("Excel 12.0");
  }
  for (const char* n : {"dBase III", "dBase IV", "dBase 5.0", "Text"}) f.push_back(n);
  return f;
}

std::string engine_version_text(const std::string& version) {
  return version == "3.5" ? "3.51" : version;
}

}  // namespace qm::source
