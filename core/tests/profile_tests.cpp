#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/error.h"
#include "core/paths.h"
#include "core/profile.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {

fs::path fresh_dir(const char* name) {
  fs::path dir = fs::temp_directory_path() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

}  // namespace

TEST(ProfileInt, ReadsAsTheWindowsFunctionDoes) {
  struct Case {
    const char* value;
    int def;
    int want;
  } cases[] = {
      {"1", 9, 1},      {"0", 9, 0},          {"", 9, 9},        {"   ", 9, 9},
      {" 42 ", 0, 42},  {"-7", 0, -7},        {"+3", 0, 3},      {"0x1F", 0, 31},
      {"0XfF", 0, 255}, {"0x", 5, 0},         {"12abc", 0, 12},  {"abc", 5, 0},
      {"2", 0, 2},      {"4294967297", 0, 1}, {"-0x10", 0, -16}, {"\t8\x1a", 0, 8},
  };
  for (const auto& c : cases)
    EXPECT_EQ(profile_int(c.value, c.def), c.want) << '"' << c.value << '"';
}

TEST(IniDocument, FindsSectionsAndKeysWithoutRegardToCase) {
  struct Case {
    const char* text;
    const char* section;
    const char* key;
    std::optional<std::string> want;
  } cases[] = {
      {"[Import]\r\nUseOlderExcelDrivers=1\r\n", "import", "USEOLDEREXCELDRIVERS", "1"},
      {"[IMPORT]\nusEOlderexceldrivers = 1 \n", "Import", "UseOlderExcelDrivers", "1"},
      {"  [ Source ]  \nFile=a.xls\n", "Source", "File", "a.xls"},
      {"[Source]\nFile=\"  spaced  \"\n", "Source", "File", "  spaced  "},
      {"[Source]\nFile='x'\n", "Source", "File", "x"},
      {"[Source]\nFile=\"x'\n", "Source", "File", "\"x'"},
      {"[Source]\nFile=\n", "Source", "File", ""},
      {"[Source]\nFile\n", "Source", "File", std::nullopt},
      {"[Source]\n;File=commented\n", "Source", "File", std::nullopt},
      {"File=before any section\n", "Source", "File", std::nullopt},
      {"[Source]\nOther=1\n[Dest]\nFile=x\n", "Source", "File", std::nullopt},
      {"[Source]\nFile=first\nFile=second\n", "Source", "File", "first"},
      {"[Source]\nFile=first\n[source]\nFile=second\n", "Source", "File", "first"},
      {"[Source]\nFile=a=b\n", "Source", "File", "a=b"},
      {"[Source\nFile=unclosed header\n", "Source", "File", "unclosed header"},
      {"[DestFolder]\r\nFile=C:\\Out\\\r\nManulist=C:\\T\\", "DestFolder", "Manulist", "C:\\T\\"},
      {"\xEF\xBB\xBF[Source]\nFile=bom\n", "Source", "File", "bom"},
      {"[Source]\r\nFile=Pr\xE9is \x80.xls\r\n", "Source", "File", "Pr\xC3\xA9is \xE2\x82\xAC.xls"},
      {"[Source]\nFile=Pr\xC3\xA9is.xls\n", "Source", "File", "Pr\xC3\xA9is.xls"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IniDocument::parse(c.text).find(c.section, c.key), c.want) << c.text;

  // UTF-16 text has NULs, so it goes in with its length.
  std::string utf16("\xFF\xFE[\0S\0]\0\n\0F\0=\0\xE9\0", 16);
  EXPECT_EQ(IniDocument::parse(utf16).find("s", "f"), "\xC3\xA9");
}

TEST(IniDocument, SettingAKeyKeepsEverythingElse) {
  const std::string original =
      "; Written by hand\r\n"
      "[Import]\r\n"
      "useolderexceldrivers=0\r\n"
      "Other = keep me \r\n"
      "\r\n"
      "; about sources\r\n"
      "[Source]\r\n"
      "File=old.xls\r\n";
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    std::string want;
  } cases[] = {
      // Changed in place, keeping the file's spelling of the key.
      {"IMPORT", "UseOlderExcelDrivers", "1",
       "; Written by hand\r\n[Import]\r\nuseolderexceldrivers=1\r\nOther = keep me \r\n\r\n"
       "; about sources\r\n[Source]\r\nFile=old.xls\r\n"},
      // Added after the section's last key, before its blank line and the next comment.
      {"Import", "chkMakeFirstRecordHeaderFields", "1",
       "; Written by hand\r\n[Import]\r\nuseolderexceldrivers=0\r\nOther = keep me \r\n"
       "chkMakeFirstRecordHeaderFields=1\r\n\r\n; about sources\r\n[Source]\r\nFile=old.xls\r\n"},
      // A new section goes at the end after a blank line.
      {"Update", "Level", "1", original + "\r\n[Update]\r\nLevel=1\r\n"},
      // Values that would not read back plainly are quoted.
      {"Source", "File", " lead", original.substr(0, original.size() - 14) + "File=\" lead\"\r\n"},
      {"Source", "File", "\"q\"", original.substr(0, original.size() - 14) + "File=\"\"q\"\"\r\n"},
      // A line break in a value must not start a new line of the file.
      {"Source", "File", "a\r\n[Import]",
       original.substr(0, original.size() - 14) + "File=a  [Import]\r\n"},
  };
  for (const auto& c : cases) {
    IniDocument doc = IniDocument::parse(original);
    doc.set(c.section, c.key, c.value);
    EXPECT_EQ(doc.serialize(), c.want) << c.key << "=" << c.value;
  }
}

TEST(IniDocument, LineBreaksAndLastLineAreKept) {
  IniDocument lf = IniDocument::parse("[A]\nk=1");
  lf.set("A", "k", "2");
  EXPECT_EQ(lf.serialize(), "[A]\nk=2");
  lf.set("A", "j", "3");
  EXPECT_EQ(lf.serialize(), "[A]\nk=2\nj=3\n");

  IniDocument empty = IniDocument::parse("");
  empty.set("Import", "UseOlderExcelDrivers", "0");
  EXPECT_EQ(empty.serialize(), "[Import]\r\nUseOlderExcelDrivers=0\r\n");

  IniDocument header = IniDocument::parse("[Vendor]\r\n; no keys yet\r\n");
  header.set("Vendor", "Info", "1");
  EXPECT_EQ(header.serialize(), "[Vendor]\r\nInfo=1\r\n; no keys yet\r\n");
}

// A UTF-16 file with a second byte order mark: that mark is part of the first line, which is
// then no section header, and must stay so when the file is written back as UTF-8.
TEST(IniDocument, ASecondByteOrderMarkSurvivesAWrite) {
  const std::string utf16("\xFF\xFE\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0001\0", 20);
  IniDocument doc = IniDocument::parse(utf16);
  EXPECT_FALSE(doc.find("A", "k"));
  doc.set("Import", "UseOlderExcelDrivers", "1");
  IniDocument again = IniDocument::parse(doc.serialize());
  EXPECT_FALSE(again.find("A", "k"));
  EXPECT_EQ(again.entries(), doc.entries());
}

// Convert.ini written by the Windows tool holds its folders in the ANSI code page; a write
// here must leave the file readable to that tool, and never turn a letter into another.
TEST(IniDocument, AWriteKeepsTheFilesEncoding) {
  const std::string mueller = "C:\\Preise M\xC3\xBCller\\";  // UTF-8 inside
  const std::string cyrillic = "C:\\\xD0\xA6\xD0\xB5\xD0\xBD\xD1\x8B\\";
  struct Case {
    std::string file, value, written;
  } cases[] = {
      {"[S]\r\nold=Pr\xE9ise\r\n", mueller,
       "[S]\r\nold=Pr\xE9ise\r\nFile=C:\\Preise M\xFCller\\\r\n"},
      {"[S]\r\nold=\x80\r\n", "\xE2\x80\x9C", "[S]\r\nold=\x80\r\nFile=\x93\r\n"},
      // No code-page byte for these letters: UTF-8, marked, rather than "?".
      {"[S]\r\nold=Pr\xE9ise\r\n", cyrillic,
       "\xEF\xBB\xBF[S]\r\nold=Pr\xC3\xA9ise\r\nFile=" + cyrillic + "\r\n"},
      // Code-page bytes that happen to spell UTF-8 would read back as other letters.
      {"[S]\r\nFile=\xFF\r\n", "\xC3\x83\xC2\xBC", "\xEF\xBB\xBF[S]\r\nFile=\xC3\x83\xC2\xBC\r\n"},
      {"\xEF\xBB\xBF[S]\n", mueller, "\xEF\xBB\xBF[S]\nFile=" + mueller + "\n"},
      {"[S]\n", mueller, "[S]\nFile=" + mueller + "\n"},
      {std::string("\xFF\xFE[\0S\0]\0\r\0\n\0", 12), "\xD0\xA6\xF0\x9F\x98\x80",
       std::string("\xFF\xFE[\0S\0]\0\r\0\n\0F\0i\0l\0e\0=\0\x26\x04\x3D\xD8\x00\xDE\r\0\n\0", 32)},
  };
  for (const auto& c : cases) {
    IniDocument doc = IniDocument::parse(c.file);
    doc.set("S", "File", c.value);
    EXPECT_EQ(doc.serialize(), c.written) << c.file;
    EXPECT_EQ(IniDocument::parse(doc.serialize()).find("S", "File"), c.value) << c.file;
  }
}

TEST(IniDocument, RefusesNamesAFileCannotHold) {
  IniDocument doc;
  for (const char* key : {"", "a=b", "[x", ";x", " lead", "a\nb"})
    EXPECT_THROW(doc.set("S", key, "v"), Error) << key;
  for (const char* section : {"", "a]b", "a\rb", "trail "})
    EXPECT_THROW(doc.set(section, "k", "v"), Error) << section;
}

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
  fs::path dir = fresh_dir("qm_profile_defaults");
  IniFile missing(from_fs_path(dir / "Convert.ini"));
  EXPECT_EQ(missing.readString("DestFolder", "Flist", "/app/"), "/app/");
  EXPECT_TRUE(missing.readBool("Import", "chkMakeFirstRecordHeaderFields", true));
  EXPECT_EQ(missing.readInteger("Update", "Level", -1), -1);
  EXPECT_FALSE(fs::exists(dir / "Convert.ini"));  // reading creates nothing

  spit(dir / "Convert.ini",
       "[Import]\r\nUseOlderExcelDrivers=7\r\nchkMakeFirstRecordHeaderFields=0\r\n");
  EXPECT_TRUE(missing.readBool("Import", "UseOlderExcelDrivers", false));
  EXPECT_FALSE(missing.readBool("Import", "chkMakeFirstRecordHeaderFields", true));
  EXPECT_FALSE(missing.readBool("Vendor", "Info", false));
  EXPECT_EQ(missing.readString("Import", "Absent", "d"), "d");
  fs::remove_all(dir);
}

TEST(IniFile, AFileWrittenOnWindowsReadsTheSame) {
  fs::path dir = fresh_dir("qm_profile_windows");
  // Upper-case file name, CR LF, ANSI bytes, keys in another case.
  spit(dir / "CONVERT.INI",
       "[IMPORT]\r\nUSEOLDEREXCELDRIVERS=1\r\nCHKMAKEFIRSTRECORDHEADERFIELDS=0\r\n"
       "[sourcefolder]\r\nfile=C:\\Listes de prix\\\r\n[Source]\r\nFile=Pr\xE9ise.XLS\r\n"
       "[Vendor]\r\nInfo=0x0\r\n");
  IniFile ini(from_fs_path(dir / "Convert.ini"));
  EXPECT_TRUE(ini.readBool("Import", "UseOlderExcelDrivers", false));
  EXPECT_FALSE(ini.readBool("Import", "chkMakeFirstRecordHeaderFields", true));
  EXPECT_EQ(ini.readString("SourceFolder", "File", ""), "C:\\Listes de prix\\");
  EXPECT_EQ(ini.readString("Source", "File", ""), "Pr\xC3\xA9ise.XLS");
  EXPECT_FALSE(ini.readBool("Vendor", "Info", true));

  // Writing goes into that same file, not a second one in another case.
  ini.writeBool("Vendor", "Info", true);
  int files = 0;
  for (auto& e : fs::directory_iterator(dir)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
  EXPECT_TRUE(ini.readBool("Vendor", "Info", false));
  EXPECT_NE(slurp(dir / "CONVERT.INI").find("Info=1\r\n"), std::string::npos);
  fs::remove_all(dir);
}

TEST(IniFile, TextsAreCutAt2047Characters) {
  fs::path dir = fresh_dir("qm_profile_long");
  IniFile ini(from_fs_path(dir / "Convert.ini"));
  std::string ascii(3000, 'a');
  ini.writeString("Source", "File", ascii);
  EXPECT_EQ(ini.readString("Source", "File", ""), std::string(2047, 'a'));
  // Characters, not bytes: a two-byte letter is never split.
  std::string accented;
  for (int i = 0; i < 2100; ++i) accented += "\xC3\xA9";
  ini.writeString("Source", "File", accented);
  EXPECT_EQ(ini.readString("Source", "File", "").size(), 2047u * 2);
  fs::remove_all(dir);
}

TEST(IniFile, WritesAreWholeAndLeaveNoTemporaryFiles) {
  fs::path dir = fresh_dir("qm_profile_atomic");
  fs::path file = dir / "Convert.ini";
  spit(file, "; mine\n[Import]\nUseOlderExcelDrivers=0\n[Keep]\nx=1\n");
  IniFile ini(from_fs_path(file));
  ini.writeInteger("Update", "Level", 1);
  ini.writeString("SourceFolder", "File", "/data/prices/");
  ini.writeBool("Import", "UseOlderExcelDrivers", true);
  EXPECT_EQ(slurp(file),
            "; mine\n[Import]\nUseOlderExcelDrivers=1\n[Keep]\nx=1\n\n[Update]\nLevel=1\n\n"
            "[SourceFolder]\nFile=/data/prices/\n");
  EXPECT_EQ(ini.readInteger("Update", "Level", 0), 1);
  int files = 0;
  for (auto& e : fs::directory_iterator(dir)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
  fs::remove_all(dir);
}

TEST(IniFile, AFailedWriteRaisesAndKeepsTheOldFile) {
  fs::path dir = fresh_dir("qm_profile_fail");
  std::string missingFolder = from_fs_path(dir / "gone" / "Convert.ini");
  IniFile nowhere(missingFolder);
  try {
    nowhere.writeBool("Vendor", "Info", true);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + missingFolder);
  }

  // A folder standing where the file should be: the rename cannot replace it.
  fs::create_directories(dir / "Convert.ini");
  IniFile blocked(from_fs_path(dir / "Convert.ini"));
  EXPECT_THROW(blocked.writeBool("Vendor", "Info", true), Error);
  int entries = 0;
  for (auto& e : fs::directory_iterator(dir)) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 1);  // the temporary file was taken away again
  fs::remove_all(dir);
}
