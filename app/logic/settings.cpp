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

}  // namespace qm::app
