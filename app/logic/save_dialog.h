// The save-file dialog sd1 of page 4, which picks the destination folder through a proposed
// price file name. The window shows the platform's dialog; tests answer it from a script.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qm::app {

struct SaveDialog {
  std::string title;
  std::string filter;  // "Description|pattern" pairs
  std::string fileName;
  std::string initialDir;
};
// Shows the dialog; the confirmed path, or nothing when the user cancels.
using SaveDialogRunner = std::function<std::optional<std::string>(const SaveDialog&)>;

}  // namespace qm::app
