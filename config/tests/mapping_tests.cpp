#include <gtest/gtest.h>

#include "config/mapping.h"
#include "core/error.h"

using namespace qm::config;

TEST(MappingLine, SplitsAtTheFirstEquals) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;
    MappingKind kind;
  } cases[] = {
      {"PARTNUMBER=0", "PARTNUMBER", "0", MappingKind::Column},
      {"LEV1=ROWBREAK-4", "LEV1", "ROWBREAK-4", MappingKind::RowBreak},
      {"LEV2=CONS-A", "LEV2", "CONS-A", MappingKind::Constant},
      {"NOTE=CONS-a=b", "NOTE", "CONS-a=b", MappingKind::Constant},
      {"LEV3=CONS-   ", "LEV3", "CONS-   ", MappingKind::Constant},
      {"UOM=", "UOM", "", MappingKind::Column},
      {"=5", "", "5", MappingKind::Column},
      {"LEV1=ROWBREAK4", "LEV1", "ROWBREAK4", MappingKind::Column},  // not the editor's form
      {"PARTNUMBER", "PARTNUMBER", "", MappingKind::Column},
  };
  for (const auto& c : cases) {
    auto m = split_mapping_line(c.line);
    EXPECT_EQ(m.name, c.name) << c.line;
    EXPECT_EQ(m.value, c.value) << c.line;
    EXPECT_EQ(m.kind, c.kind) << c.line;
  }
}

TEST(MappingLine, ColumnFromAtMostThreeCharacters) {
  struct Case {
    const char* value;
    int column;
  } cases[] = {{"0", 0}, {"12", 12}, {"999", 999}, {"1234", 123}, {"7 ", 7}, {"$1F", 31}};
  for (const auto& c : cases) {
    EXPECT_EQ(mapping_column(c.value), c.column) << c.value;
    int col = -5;
    EXPECT_TRUE(try_mapping_column(c.value, col));
    EXPECT_EQ(col, c.column);
  }
  struct Bad {
    const char* value;
    const char* text;
  } bad[] = {{"ROWBREAK-4", "'ROW' is not a valid integer value"},
             {"CONS-A", "'CON' is not a valid integer value"},
             {"", "'' is not a valid integer value"},
             {"1x", "'1x' is not a valid integer value"}};
  for (const auto& b : bad) {
    int col = 0;
    EXPECT_FALSE(try_mapping_column(b.value, col)) << b.value;
    try {
      mapping_column(b.value);
      ADD_FAILURE() << b.value << " read as a column";
    } catch (const qm::ConvertError& e) {
      EXPECT_STREQ(e.what(), b.text);
    }
  }
}

TEST(MappingLine, RowBreakColumnAndConstant) {
  EXPECT_EQ(rowbreak_column("ROWBREAK-4"), 4);
  EXPECT_EQ(rowbreak_column("ROWBREAK-120"), 120);
  EXPECT_THROW(rowbreak_column("ROWBREAK-"), qm::ConvertError);
  EXPECT_EQ(constant_text("CONS-A=B "), "A=B ");
  EXPECT_EQ(constant_text("CONS-"), "");
}

TEST(MappingLine, FormatsEachKindSoItReadsBack) {
  EXPECT_EQ(column_line("PARTNUMBER", 0), "PARTNUMBER=0");
  EXPECT_EQ(rowbreak_line("LEV1", 4), "LEV1=ROWBREAK-4");
  EXPECT_EQ(constant_line("LEV2", "  "), "LEV2=CONS-  ");
  std::string line = constant_line("X", "a=b");
  auto m = split_mapping_line(line);
  EXPECT_EQ(m.name, "X");
  EXPECT_EQ(m.kind, MappingKind::Constant);
  EXPECT_EQ(constant_text(m.value), "a=b");
  std::string rb = rowbreak_line("LEV6", 37), col = column_line("UOM", 512);
  EXPECT_EQ(rowbreak_column(split_mapping_line(rb).value), 37);
  EXPECT_EQ(mapping_column(split_mapping_line(col).value), 512);
}
