// A configuration as a text file, one file per configuration, UTF-8:
//
//   [Configuration]
//   STORENAME=Acme monthly
//   STARTEXPRT=2
//   APPENDDATA=False
//   UPDATEDATE=2026-12-09
//   ...
//   [Mapping]
//   PARTNUMBER=0
//   DESCRIPTN=1
//
// Every field of storelst.dbf but FIELDSLIST appears once, in table order; the mapping lines
// follow verbatim. Logical fields read True/False, dates YYYY-MM-DD; an empty value is a
// blank field.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tables/dbf_table.h"

namespace qm::config {

struct ConfigurationText {
  std::vector<std::pair<std::string, std::string>> fields;  // key, value, in file order
  std::vector<std::string> mapping;
};

// Reads the text; raises qm::Error naming the line for anything that is not of the form
// above. A leading UTF-8 byte-order mark and CR LF line ends are accepted.
ConfigurationText parse_configuration_text(std::string_view text);
std::string format_configuration_text(const ConfigurationText& config);

// The current record of cdsStore as a text. Raises qm::Error when a value holds a line break,
// which the format cannot carry.
ConfigurationText read_configuration(tables::DbfTable& cdsStore);
std::string export_configuration(tables::DbfTable& cdsStore);

// Adds the configuration, or replaces the first one of the same STORENAME in place (its
// fields that the text does not name become blank). The record is posted and current.
// A key that the table has no field for, or a value a field refuses, raises and leaves the
// table unchanged.
void write_configuration(tables::DbfTable& cdsStore, const ConfigurationText& config);
void import_configuration(tables::DbfTable& cdsStore, std::string_view text);

void export_configuration_file(tables::DbfTable& cdsStore, const std::string& path);
void import_configuration_file(tables::DbfTable& cdsStore, const std::string& path);

}  // namespace qm::config
