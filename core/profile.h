// Settings files in the private-profile manner of Windows: "[Section]" lines, "key=value"
// lines, names matched without regard to case, every read going to the file and every write
// changing only its own line. A file written by the Windows tool (CR LF, ANSI, any letter case
// in the names) reads the same as one written here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// The longest text a read returns, in characters; longer values are cut.
constexpr std::size_t kProfileTextLimit = 2047;

// How a settings file's bytes were written, so that a write keeps them that way.
enum class IniEncoding { Utf8, Utf8Bom, Utf16le, Cp1252 };

// An INI text held line by line, so that a change rewrites one line and leaves every other
// line, comment and blank as it was.
class IniDocument {
 public:
  // Bytes of a file: UTF-8 (with or without a byte order mark), UTF-16LE with its mark, or
  // anything else read as Windows-1252, which is what the Windows tool writes.
  static IniDocument parse(std::string_view bytes);

  // The value of the first key of that name in the first section of that name, with blanks
  // around it removed and one pair of enclosing quotes taken off; nullopt when either is
  // missing or the line has no "=". Not cut to kProfileTextLimit.
  std::optional<std::string> find(std::string_view section, std::string_view key) const;

  // Sets the value, changing the key's own line when it is there, else adding a line at the
  // end of the section's keys, or a new section at the end of the text. Line breaks inside the
  // value become blanks; a value that would not read back as written (blanks at either end,
  // enclosing quotes) is written inside double quotes. Raises qm::Error for a section or key
  // name that a file cannot hold.
  void set(std::string_view section, std::string_view key, std::string_view value);

  // In the encoding and with the line breaks the text came with (UTF-8 and CR LF for a new
  // text). A Windows-1252 text that has taken a character the code page lacks is written as
  // UTF-8 with a byte order mark.
  std::string serialize() const;
  IniEncoding encoding() const { return encoding_; }

  // Every (section, key) with a value, in file order, as find() would look them up.
  std::vector<std::pair<std::string, std::string>> entries() const;

 private:
  enum class Kind { Other, Section, Key };
  struct Line {
    std::string text;  // as written, without the line break
    Kind kind = Kind::Other;
    std::string name;  // section or key name, trimmed
  };
  static Line classify(std::string text);
  // Index of the header line of the first section of that name, or -1.
  long findSection(std::string_view section) const;

  std::vector<Line> lines_;
  std::string newline_ = "\r\n";
  bool trailingNewline_ = false;
  IniEncoding encoding_ = IniEncoding::Utf8;
};

// One settings file. Reads never fail: a missing or unreadable file, section or key gives the
// default. Writes replace the file atomically (a temporary file beside it, then a rename), so
// a crash leaves either the old or the new file; a failed write raises qm::Error
// "Unable to write to <file>".
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& fileName() const { return path_; }

  // Cut to kProfileTextLimit characters. A key present with an empty value reads as "".
  std::string readString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Decimal, or hexadecimal after "0x"; blanks and one sign in front, reading stops at the
  // first character that is not a digit ("12ab" is 12, "ab" is 0); an empty value gives def.
  int readInteger(std::string_view section, std::string_view key, int def) const;
  // An integer, true when not 0.
  bool readBool(std::string_view section, std::string_view key, bool def) const;

  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, long long value);
  void writeBool(std::string_view section, std::string_view key, bool value);

 private:
  IniDocument load() const;
  std::string path_;
};

// The integer reading of a profile value described at IniFile::readInteger.
int profile_int(std::string_view value, int def);
// The first n characters (code points) of a UTF-8 text.
std::string cut_to_chars(std::string_view utf8, std::size_t n);

}  // namespace qm
