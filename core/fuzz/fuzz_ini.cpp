// Reads arbitrary bytes as a settings file, changes one key and checks that the change reads
// back while every other key keeps its value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/profile.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qm::IniDocument doc = qm::IniDocument::parse(bytes);
  auto entries = doc.entries();
  std::vector<std::optional<std::string>> before;
  for (const auto& [s, k] : entries) before.push_back(doc.find(s, k));
  (void)qm::profile_int(bytes.substr(0, 40), 7);

  qm::IniDocument changed = doc;
  const char* value = size % 2 ? " \"padded\" " : "C:\\Prices\\";
  changed.set("Import", "UseOlderExcelDrivers", value);
  qm::IniDocument again = qm::IniDocument::parse(changed.serialize());
  if (again.find("Import", "UseOlderExcelDrivers") != std::optional<std::string>(value))
    std::abort();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& [s, k] = entries[i];
    bool target = qm::iequals(s, "Import") && qm::iequals(k, "UseOlderExcelDrivers");
    if (!target && again.find(s, k) != before[i]) std::abort();
  }
  return 0;
}
