// Configuration texts come from files a user hands the command line.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/config_text.h"
#include "core/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    qm::config::ConfigurationText c = qm::config::parse_configuration_text(text);
    // What was read must write back to a text that reads the same.
    qm::config::ConfigurationText again =
        qm::config::parse_configuration_text(qm::config::format_configuration_text(c));
    if (again.fields != c.fields || again.mapping != c.mapping) __builtin_trap();
  } catch (const qm::Error&) {
  }
  return 0;
}
