// The application shell's own rules: the version, the engine check of the start window and
// the top-level handling of errors that escape a handler.
#pragma once

#include <functional>
#include <string>

#include "core/messages.h"

namespace qm::app {

extern const char* const kVersionText;  // "1.5.13"
extern const char* const kTitle;        // the title line of the start window
std::string rights_line(const std::string& versionText);

extern const char* const kDaoMissingMessage;
// Runs the probe; true (after the message) when it fails because no engine is installed.
// Any other failure is ignored.
bool DAOMissing(const std::function<void()>& probe, Messages& m);

// The messages of the last start-up steps of the wizard window.
std::string flistwin_missing_message(const std::string& appFolder);
extern const char* const kDao35Warning;
// Shows the version warning when the engine in use is 3.5.
void warn_about_engine_version(const std::string& versionInUse, Messages& m);

// Every handler runs through run(): an error that escapes it is shown in an error box and the
// program goes on, until ErrorDAO() is set at the start of closing; from then on an escaped
// error ends the program without a message.
class TopLevel {
 public:
  TopLevel(Messages& m, std::function<void()> terminate)
      : messages_(m), terminate_(std::move(terminate)) {}

  // True when the handler ran to its end.
  bool run(const std::function<void()>& handler) noexcept;
  void ErrorDAO() { closing_ = true; }
  bool closing() const { return closing_; }

 private:
  void report(const std::string& text) noexcept;
  Messages& messages_;
  std::function<void()> terminate_;
  bool closing_ = false;
};

}  // namespace qm::app
