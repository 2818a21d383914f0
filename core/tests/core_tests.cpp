#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/datetime.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/text.h"

namespace fs = std::filesystem;
using namespace qm;

TEST(FormatGeneral, ShortestFormWithFifteenDigits) {
  struct Case {
    double v;
    const char* text;
  } cases[] = {{3, "3"},
               {0.1, "0.1"},
               {12.5, "12.5"},
               {-0.25, "-0.25"},
               {1234.567, "1234.567"},
               {0.1 + 0.2, "0.3"},
               {1e15, "1E15"},
               {123456789012345.0, "123456789012345"},
               {0.00001, "0.00001"},
               {1e-7, "1E-7"},
               {0, "0"}};
  for (const auto& c : cases) EXPECT_EQ(format_general(c.v), c.text) << c.v;
}

TEST(StrToInt, TakesWhatTheRuntimeTakes) {
  EXPECT_EQ(str_to_int(" 12 "), 12);
  EXPECT_EQ(str_to_int("-7"), -7);
  EXPECT_EQ(str_to_int("0x1F"), 31);
  EXPECT_EQ(str_to_int("$10"), 16);
  for (const char* bad : {"", "1.5", "12a", "-", "99999999999999999999"}) {
    EXPECT_THROW(str_to_int(bad), ConvertError) << bad;
  }
  try {
    str_to_int("abc");
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

// A high byte is found wherever it stands: in a whole word, in the bytes after the last one, or
// in the pieces a text shorter than a word is read in.
TEST(IsAscii, FindsAHighByteAnywhere) {
  for (size_t length : {0, 1, 2, 6, 7, 8, 9, 16, 23}) {
    std::string s(length, 'a');
    EXPECT_TRUE(is_ascii(s)) << length;
    for (size_t at = 0; at < length; ++at) {
      std::string t = s;
      t[at] = '\x80';
      EXPECT_FALSE(is_ascii(t)) << length << " " << at;
    }
  }
}

TEST(Trim, RemovesBlanksAndControlCharacters) {
  EXPECT_EQ(trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(trim("   "), "");
  EXPECT_TRUE(iequals("PrVendor.DBF", "prvendor.dbf"));
  EXPECT_FALSE(iequals("abc", "abd"));
}

TEST(Dates, DayNumbersMatchLevelSevenTimestamps) {
  EXPECT_EQ(day_from_ymd(1970, 1, 1), 719163);
  EXPECT_EQ(day_from_ymd(1, 1, 1), 1);
  EXPECT_EQ(day_from_ymd(1899, 12, 30), kDay18991230);
  Ymd d = ymd_from_day(day_from_ymd(2024, 2, 29));
  EXPECT_EQ(d.year, 2024);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 29);
}

TEST(Dates, ShortDateRoundTripAndInvalidDates) {
  DateTime dt{day_from_ymd(2026, 12, 9), 0};
  EXPECT_EQ(format_short_date(dt), "12/9/2026");
  DateTime back;
  ASSERT_TRUE(parse_date("12/9/2026", back));
  EXPECT_EQ(back, dt);
  ASSERT_TRUE(parse_date("2026-12-09", back));
  EXPECT_EQ(back, dt);
  ASSERT_TRUE(parse_date("12/09/26", back));
  EXPECT_EQ(back, dt);
  for (const char* bad : {"", "2/30/2024", "13/1/2024", "12/9", "abc", "1/1/2024x"})
    EXPECT_FALSE(parse_date(bad, back)) << bad;
  EXPECT_EQ(format_date_time({day_from_ymd(2020, 2, 20), (20 * 3600 + 20 * 60 + 20) * 1000}),
            "2/20/2020 8:20:20 PM");
}

TEST(Paths, FindsFilesWithoutRegardToCase) {
  fs::path dir = fs::temp_directory_path() / "qm_core_paths";
  fs::remove_all(dir);
  fs::create_directories(dir / "Stru");
  std::ofstream(dir / "Stru" / "FileLst.DBF") << "x";
  std::string folder = from_fs_path(dir) + separator_string();
  EXPECT_TRUE(file_exists(folder + "stru" + separator_string() + "filelst.dbf"));
  EXPECT_FALSE(file_exists(folder + "stru" + separator_string() + "datelst.dbf"));
  copy_file_replace(folder + "STRU/filelst.dbf", folder + "copy.dbf");
  EXPECT_TRUE(file_exists(folder + "COPY.DBF"));
  EXPECT_TRUE(delete_file(folder + "Copy.Dbf"));
  EXPECT_FALSE(delete_file(folder + "copy.dbf"));
  EXPECT_EQ(extension_of("C:/a.b/prices.Csv"), ".Csv");
  EXPECT_EQ(file_name_of(folder + "x.dbf"), "x.dbf");
  EXPECT_EQ(folder_of(folder + "x.dbf"), folder);
  fs::remove_all(dir);
}

TEST(ScriptedMessages, AnswersFromTheQueueThenTheDefault) {
  ScriptedMessages m;
  m.answer(MsgAnswer::No);
  EXPECT_FALSE(m.askYesNo(MsgKind::Confirmation, "first?"));
  EXPECT_TRUE(m.askYesNo(MsgKind::Confirmation, "second?"));
  m.error("bad");
  ASSERT_EQ(m.shown.size(), 3u);
  EXPECT_EQ(m.shown[2].kind, MsgKind::Error);
  EXPECT_EQ(m.texts()[0], "first?");
}
