#include "app/logic/settings.h"

namespace qm::app {

Settings read_settings(const IniFile& ini, const std::string& appFolder) {
  Settings s;
  s.useOlderExcelDrivers = ini.readBool("Import", "UseOlderExcelDrivers", false);
  s.destFolder = ini.readString("DestFolder", "File", "");
  s.sourceFolder = ini.readString("SourceFolder", "File", "");
  s.sourceFile = ini.readString("Source", "File", "");
  s.manulist = ini.readString("DestFolder", "Manulist", "");
  s.flist = ini.readString("DestFolder", "Flist", appFolder);
  s.makeFirstRecordHeaderFields = ini.readBool("Import", "chkMakeFirstRecordHeaderFields", true);
  s.vendorInfo = ini.readBool("Vendor", "Info", false);
  return s;
}

void write_settings(IniFile& ini, const Settings& s) {
  ini.writeString("SourceFolder", "File", s.sourceFolder);
  ini.writeString("Source", "File", s.sourceFile);
  ini.writeString("DestFolder", "File", s.destFolder);
  ini.writeString("DestFolder", "Manulist", s.manulist);
  ini.writeBool("Vendor", "Info", s.vendorInfo);
  ini.writeBool("Import", "chkMakeFirstRecordHeaderFields", s.makeFirstRecordHeaderFields);
  ini.writeBool("Import", "UseOlderExcelDrivers", s.useOlderExcelDrivers);
}

namespace {
constexpr const char* kWindow = "Window";
constexpr int kMissing = -32768;  // no screen coordinate is this far off
}  // namespace

std::optional<WindowPlacement> read_window_placement(const IniFile& ini) {
  WindowPlacement p;
  p.left = ini.readInteger(kWindow, "Left", kMissing);
  p.top = ini.readInteger(kWindow, "Top", kMissing);
  p.width = ini.readInteger(kWindow, "Width", 0);
  p.height = ini.readInteger(kWindow, "Height", 0);
  p.maximized = ini.readBool(kWindow, "Maximized", false);
  if (p.left == kMissing || p.top == kMissing || p.width <= 0 || p.height <= 0) return std::nullopt;
  return p;
}

void write_window_placement(IniFile& ini, const WindowPlacement& p) {
  ini.writeInteger(kWindow, "Left", p.left);
  ini.writeInteger(kWindow, "Top", p.top);
  ini.writeInteger(kWindow, "Width", p.width);
  ini.writeInteger(kWindow, "Height", p.height);
  ini.writeBool(kWindow, "Maximized", p.maximized);
}

}  // namespace qm::app
