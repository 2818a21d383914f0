// Text files (.csv, .txt) as an installable format: a folder whose tables are its text files.
// Rows stream from the file through a fixed buffer; only the current row is held.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "source/engine.h"
#include "source/reader.h"

namespace qm::source {

// Code page marks beside the single-byte ones of the table engine.
constexpr int kUtf8 = 65001;

struct TextFormat {
  char delimiter = ',';
  int codepage = 0;  // 0: detect UTF-8 or Windows-1252 from the file's first bytes
};

// The file's section of a schema.ini beside it; each member is set when the section says so.
struct SchemaSection {
  std::optional<char> delimiter;
  std::optional<bool> colNameHeader;
  std::optional<int> codepage;
  std::string unsupported;  // a Format or CharacterSet this engine cannot read, as written
};

// Reads the section named fileName (matched without regard to case) from schema.ini text.
std::optional<SchemaSection> parse_schema_ini(std::string_view ini, std::string_view fileName);
// The section for the file at path from the schema.ini in its folder (found without regard to
// case), or nothing.
std::optional<SchemaSection> find_schema_section(const std::string& path);

// The delimiter of a text file without a schema: tab, semicolon, comma or pipe, whichever
// splits its first lines evenly (comma when none does).
char detect_delimiter(std::string_view head);
// kUtf8 when head begins with a UTF-8 byte order mark or is valid UTF-8, else 1252.
int detect_codepage(std::string_view head);

// Rows of delimited text. fileName names the file in errors. The data comes from the file at
// path, or from memory (for tests and fuzzing).
std::unique_ptr<RowReader> open_text_rows(const std::string& path, TextFormat format);
std::unique_ptr<RowReader> text_rows_from_memory(std::string data, TextFormat format,
                                                 std::string fileName);

// A folder of text files as a database (connect string type "Text").
std::unique_ptr<EngineDatabase> open_text_folder(const std::string& folder,
                                                 const ConnectString& connect);

// The message of a folder that cannot be opened.
std::string not_a_valid_path_message(const std::string& folder);

}  // namespace qm::source
