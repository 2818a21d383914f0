#include "config/config_text.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "config/store.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::config {

namespace {

constexpr std::string_view kConfigHeader = "[Configuration]";
constexpr std::string_view kMappingHeader = "[Mapping]";

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::string two_digits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string format_iso_date(const DateTime& dt) {
  Ymd d = ymd_from_day(dt.day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string format_iso_timestamp(const DateTime& dt) {
  int ms = dt.ms;
  std::string r = format_iso_date(dt) + " " + two_digits(ms / 3600000) + ":" +
                  two_digits(ms / 60000 % 60) + ":" + two_digits(ms / 1000 % 60);
  if (ms % 1000) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%03d", ms % 1000);
    r += buf;
  }
  return r;
}

bool read_digits(std::string_view s, size_t pos, size_t count, int& out) {
  if (pos + count > s.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// YYYY-MM-DD, optionally followed by " HH:MM:SS" and ".mmm".
bool parse_iso(std::string_view s, bool withTime, DateTime& out) {
  int y, m, d;
  if (s.size() < 10 || s[4] != '-' || s[7] != '-' || !read_digits(s, 0, 4, y) ||
      !read_digits(s, 5, 2, m) || !read_digits(s, 8, 2, d) || !valid_ymd(y, m, d))
    return false;
  out = DateTime{day_from_ymd(y, m, d), 0};
  if (s.size() == 10) return true;
  int hh, mm, ss, mmm = 0;
  if (!withTime || s.size() < 19 || s[10] != ' ' || s[13] != ':' || s[16] != ':' ||
      !read_digits(s, 11, 2, hh) || !read_digits(s, 14, 2, mm) || !read_digits(s, 17, 2, ss) ||
      hh > 23 || mm > 59 || ss > 59)
    return false;
  if (s.size() != 19 && (s.size() != 23 || s[19] != '.' || !read_digits(s, 20, 3, mmm)))
    return false;
  out.ms = ((hh * 60 + mm) * 60 + ss) * 1000 + mmm;
  return true;
}

bool is_fieldslist(std::string_view name) {
  return iequals(name, "FIELDSLIST");
}

void set_value(tables::DbfField& f, const std::string& value) {
  if (value.empty()) {
    f.clear();
    return;
  }
  const char t = f.def().type;
  if (t == 'D' || t == '@') {
    DateTime dt;
    if (!parse_iso(value, t == '@', dt))
      throw Error("Field " + f.name() + ": '" + value + "' is not a date of the form YYYY-MM-DD");
    f.setAsDateTime(dt);
  } else if (t == 'L') {
    if (value == "True")
      f.setAsBoolean(true);
    else if (value == "False")
      f.setAsBoolean(false);
    else
      throw Error("Field " + f.name() + ": '" + value + "' is neither True nor False");
  } else {
    f.setAsString(value);
  }
}

}  // namespace

ConfigurationText parse_configuration_text(std::string_view text) {
  if (starts_with(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines = split_lines(text);
  ConfigurationText r;
  size_t i = 0;
  while (i < lines.size() && trim(lines[i]).empty()) ++i;
  if (i == lines.size() || trim(lines[i]) != kConfigHeader)
    throw Error("Configuration text: line " + std::to_string(i + 1) + " must read " +
                std::string(kConfigHeader));
  for (++i; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (trim(line) == kMappingHeader) break;
    if (trim(line).empty()) continue;
    size_t eq = line.find('=');
    std::string key = trim(line.substr(0, eq == std::string_view::npos ? 0 : eq));
    if (eq == std::string_view::npos || key.empty())
      throw Error("Configuration text: line " + std::to_string(i + 1) +
                  " is not of the form KEY=value: " + std::string(line));
    for (const auto& kv : r.fields)
      if (iequals(kv.first, key))
        throw Error("Configuration text: line " + std::to_string(i + 1) + " repeats the key " +
                    key);
    r.fields.emplace_back(key, std::string(line.substr(eq + 1)));
  }
  if (i == lines.size())
    throw Error("Configuration text: the line " + std::string(kMappingHeader) + " is missing");
  for (++i; i < lines.size(); ++i) r.mapping.emplace_back(lines[i]);
  return r;
}

std::string format_configuration_text(const ConfigurationText& config) {
  std::string out(kConfigHeader);
  out += "\n";
  for (const auto& [key, value] : config.fields) out += key + "=" + value + "\n";
  out += kMappingHeader;
  out += "\n";
  for (const auto& line : config.mapping) out += line + "\n";
  return out;
}

ConfigurationText read_configuration(tables::DbfTable& cdsStore) {
  ConfigurationText r;
  for (int i = 0; i < cdsStore.fieldCount(); ++i) {
    tables::DbfField& f = cdsStore.field(i);
    if (is_fieldslist(f.name())) {
      r.mapping = f.lines();
      continue;
    }
    std::string value;
    if (!f.isNull()) {
      const char t = f.def().type;
      if (t == 'D')
        value = format_iso_date(f.asDateTime());
      else if (t == '@')
        value = format_iso_timestamp(f.asDateTime());
      else if (t == 'L')
        value = f.asBoolean() ? "True" : "False";
      else
        value = f.asString();
    }
    if (value.find_first_of("\r\n") != std::string::npos)
      throw Error("Field " + f.name() +
                  " holds a line break, which a configuration text cannot carry");
    r.fields.emplace_back(f.name(), value);
  }
  return r;
}

std::string export_configuration(tables::DbfTable& cdsStore) {
  return format_configuration_text(read_configuration(cdsStore));
}

void write_configuration(tables::DbfTable& cdsStore, const ConfigurationText& config) {
  // Every key must name a field before anything is touched.
  std::string name;
  for (const auto& [key, value] : config.fields) {
    if (!cdsStore.findField(key) || is_fieldslist(key))
      throw Error("Configuration text: the stored configurations have no field " + key);
    if (iequals(key, "STORENAME")) name = value;
  }
  // The table keeps its names without trailing blanks; a name is compared as it reads back.
  if (find_configuration(cdsStore, trim_right(name)))
    cdsStore.edit();
  else
    cdsStore.append();
  try {
    for (int i = 0; i < cdsStore.fieldCount(); ++i) cdsStore.field(i).clear();
    for (const auto& [key, value] : config.fields) set_value(cdsStore.fieldByName(key), value);
    if (tables::DbfField* memo = cdsStore.findField("FIELDSLIST")) memo->setLines(config.mapping);
    cdsStore.post();
  } catch (...) {
    cdsStore.cancel();
    throw;
  }
}

void import_configuration(tables::DbfTable& cdsStore, std::string_view text) {
  write_configuration(cdsStore, parse_configuration_text(text));
}

void export_configuration_file(tables::DbfTable& cdsStore, const std::string& path) {
  std::string text = export_configuration(cdsStore);
  std::ofstream out(to_fs_path(path), std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) throw Error("Cannot write the configuration file " + path);
}

void import_configuration_file(tables::DbfTable& cdsStore, const std::string& path) {
  std::ifstream in(to_fs_path(resolve_path(path)), std::ios::binary);
  if (!in) throw Error("Cannot open the configuration file " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Error("Cannot read the configuration file " + path);
  import_configuration(cdsStore, text);
}

}  // namespace qm::config
