// The user's folders, file and option ticks kept in Convert.ini between runs.
#pragma once

#include <optional>
#include <string>

#include "core/profile.h"

namespace qm::app {

struct Settings {
  bool useOlderExcelDrivers = false;        // [Import] UseOlderExcelDrivers
  std::string destFolder;                   // [DestFolder] File
  std::string sourceFolder;                 // [SourceFolder] File
  std::string sourceFile;                   // [Source] File
  std::string manulist;                     // [DestFolder] Manulist
  std::string flist;                        // [DestFolder] Flist, never written
  bool makeFirstRecordHeaderFields = true;  // [Import] chkMakeFirstRecordHeaderFields
  bool vendorInfo = false;                  // [Vendor] Info
};

// Reads the keys in the order the first activation reads them; Flist defaults to appFolder.
Settings read_settings(const IniFile& ini, const std::string& appFolder);
// The seven keys the window's close writes, in its order; Flist and Update/Level are left.
// Raises "Unable to write to <file>" at the first write that fails.
void write_settings(IniFile& ini, const Settings& s);

// The wizard window's place on the screen: [Window] Left, Top, Width, Height, Maximized.
struct WindowPlacement {
  int left = 0, top = 0, width = 0, height = 0;
  bool maximized = false;
};
// None when a key is missing or the size is not positive, so that the window takes its own.
std::optional<WindowPlacement> read_window_placement(const IniFile& ini);
// Writes the section's five keys, leaving every other key as it is.
void write_window_placement(IniFile& ini, const WindowPlacement& p);

}  // namespace qm::app
