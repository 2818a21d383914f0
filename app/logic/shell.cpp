#include "app/logic/shell.h"

#include <exception>

#include "core/text.h"

namespace qm::app {

const char* const kVersionText = "1.5.13";
const char* const kTitle = "The Quillmere ... The Price List Import Tool";
const char* const kDaoMissingMessage =
    "You do not have DAO 3.5 or 3.6 installed on your system.\r\nPlease Install DAO by "
    "installing Excel. This Application\r\ncan not continue.";

std::string rights_line(const std::string& versionText) {
  return "Copyright (c) the Quillmere developers. All rights reserved.  v" + versionText;
}

bool DAOMissing(const std::function<void()>& probe, Messages& m) {
  try {
    probe();
  } catch (const std::exception& e) {
    if (contains(to_upper_ascii(e.what()), to_upper_ascii("Cannot find DAO"))) {
      m.error(kDaoMissingMessage);
      return true;
    }
  }
  return false;
}

const char* const kDao35Warning =
    "This PC does not have DAO version 3.6 but instead have version 3.5\r\nNOTE: some fields "
    "in an EXCEL spread sheet may not be displayed using version 3.5";

std::string flistwin_missing_message(const std::string& appFolder) {
  return "Import wizard can not find the flistwin.dbf in the+\r\n" + appFolder + " Directory.";
}

void warn_about_engine_version(const std::string& versionInUse, Messages& m) {
  if (versionInUse == "3.5") m.warning(kDao35Warning);
}

void TopLevel::report(const std::string& text) noexcept {
  if (closing_) {
    terminate_();
    return;
  }
  try {
    messages_.error(text);
  } catch (...) {
  }
}

bool TopLevel::run(const std::function<void()>& handler) noexcept {
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("Unknown error");
  }
  return false;
}

}  // namespace qm::app
