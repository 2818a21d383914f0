#include <gtest/gtest.h>

#include "config/field_mapping.h"
#include "core/error.h"
#include "core/messages.h"
#include "core/text.h"

using namespace qm;
using namespace qm::config;

namespace {

using Lines = std::vector<std::string>;

const char* kSelectBoth =
    "You must select a Field in the field \r\ncombobox and a field in the listbox.";

AddMappingResult add(const Lines& lines, const std::string* field, int column, bool rowBreak,
                     std::string constant, ScriptedMessages& msgs) {
  AddMappingRequest r;
  r.field = field;
  r.column = column;
  r.rowBreak = rowBreak;
  r.constant = std::move(constant);
  return add_mapping_line(lines, r, msgs);
}

TEST(AddMappingLine, TheThreeKindsOfLine) {
  const std::string part = "PARTNUMBER", lev1 = "LEV1", lev2 = "LEV2", level = "ALEVEL",
                    lower = "lev3";
  struct Case {
    const std::string* field;
    int column;
    bool rowBreak;
    const char* constant;
    const char* line;
    bool clears;
  } cases[] = {
      {&part, 0, false, "", "PARTNUMBER=0", false},
      {&lev1, 4, false, "", "LEV1=4", false},
      {&lev1, 4, true, "", "LEV1=ROWBREAK-4", false},
      // The break-level case wins over a typed constant, which stays in the box.
      {&lev1, 4, true, "A", "LEV1=ROWBREAK-4", false},
      {&level, 12, true, "", "ALEVEL=ROWBREAK-12", false},  // "LEV" anywhere in the name
      {&lower, 2, true, "", "lev3=2", false},               // but in capitals only
      {&part, 7, true, "X", "PARTNUMBER=CONS-X", true},     // no LEV: the constant as usual
      {&lev2, 1, false, "A", "LEV2=CONS-A", true},
      {&lev2, 1, false, "   ", "LEV2=CONS-   ", true},  // blanks are a constant
      {&lev2, 1, false, "a=b", "LEV2=CONS-a=b", true},  // stored as typed
      {&part, 999, false, "", "PARTNUMBER=999", false},
  };
  for (const auto& c : cases) {
    ScriptedMessages msgs;
    AddMappingResult r = add({}, c.field, c.column, c.rowBreak, c.constant, msgs);
    EXPECT_TRUE(r.added) << c.line;
    EXPECT_EQ(r.line, c.line);
    EXPECT_EQ(r.clearConstant, c.clears) << c.line;
    EXPECT_TRUE(msgs.shown.empty()) << c.line;
  }
}

TEST(AddMappingLine, RefusedWithoutBothSelections) {
  const std::string part = "PARTNUMBER";
  for (auto [field, column] :
       {std::pair<const std::string*, int>{nullptr, 0}, {&part, -1}, {nullptr, -1}}) {
    ScriptedMessages msgs;
    AddMappingResult r = add({"PARTNUMBER=0"}, field, column, false, "C", msgs);
    EXPECT_FALSE(r.added);
    EXPECT_FALSE(r.clearConstant);
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
    EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(msgs.shown[0].text, kSelectBoth);
  }
}

TEST(AddMappingLine, ADuplicateByPrefixIsAskedAbout) {
  const std::string lev1 = "LEV1", lev10 = "LEV10", part = "PART";
  const Lines lines = {"DESCRIPTN=1", "LEV10=ROWBREAK-3"};
  const std::string question =
      "\"LEV1\" has already been included in a field to be exported!\r\nWould you like to "
      "continue?";

  ScriptedMessages msgs;
  msgs.answer(MsgAnswer::No);
  AddMappingResult no = add(lines, &lev1, 2, false, "K", msgs);
  EXPECT_FALSE(no.added);
  EXPECT_FALSE(no.clearConstant) << "a refused line leaves the constant in its box";
  ASSERT_EQ(msgs.shown.size(), 1u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Warning);
  EXPECT_EQ(msgs.shown[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(msgs.shown[0].text, question);

  msgs.answer(MsgAnswer::Yes);
  AddMappingResult yes = add(lines, &lev1, 2, false, "", msgs);
  EXPECT_TRUE(yes.added);
  EXPECT_EQ(yes.line, "LEV1=2");

  // The test looks at the beginning of each line, never the other way round.
  ScriptedMessages quiet;
  EXPECT_TRUE(add({"LEV1=2"}, &lev10, 3, false, "", quiet).added);
  EXPECT_TRUE(add({"APART=2", "X=PART"}, &part, 3, false, "", quiet).added);
  EXPECT_TRUE(quiet.shown.empty());
  EXPECT_TRUE(mapping_has_field({"PARTNUMBER=0"}, "PART"));
  EXPECT_FALSE(mapping_has_field({"PARTNUMBER=0"}, "part"));
}

TEST(RemoveMappingLine, AsksWithTheLineAndRefusesWithoutASelection) {
  const Lines lines = {"PARTNUMBER=0", "LEV1=CONS-A"};
  ScriptedMessages msgs;
  for (int sel : {-1, 2}) EXPECT_FALSE(confirm_remove_mapping_line(lines, sel, msgs));
  ASSERT_EQ(msgs.shown.size(), 2u);
  EXPECT_EQ(msgs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(msgs.shown[0].text, "You must select a export field to delete.");

  msgs.answer(MsgAnswer::Cancel);
  EXPECT_FALSE(confirm_remove_mapping_line(lines, 1, msgs));
  msgs.answer(MsgAnswer::Yes);
  EXPECT_TRUE(confirm_remove_mapping_line(lines, 1, msgs));
  ASSERT_EQ(msgs.shown.size(), 4u);
  EXPECT_EQ(msgs.shown[2].kind, MsgKind::Confirmation);
  EXPECT_EQ(msgs.shown[2].buttons, MsgButtons::YesCancel);
  EXPECT_EQ(msgs.shown[2].text, "Are you sure to delete this field?\r\nLEV1=CONS-A");
}

// A source of three columns.
class ThreeColumns : public Dataset {
 public:
  struct F : Field {
    explicit F(std::string name) : n(std::move(name)) {}
    std::string n;
    const std::string& name() const override { return n; }
    int displayWidth() const override { return 10; }
    void setDisplayWidth(int) override {}
    bool isNull() const override { return false; }
    std::string asString() const override { return n; }
    void setAsString(std::string_view) override {}
  };
  ThreeColumns() {
    for (const char* n : {"A", "B", "C"}) fields_.emplace_back(n);
  }
  void open() override {}
  void close() override {}
  bool active() const override { return true; }
  void first() override {}
  void next() override {}
  bool eof() const override { return true; }
  std::int64_t recordCount() override { return 0; }
  int fieldCount() const override { return 3; }
  Field& field(int i) override {
    if (i < 0 || i >= 3) throw ListIndexError(i);
    return fields_[static_cast<size_t>(i)];
  }
  Field* findField(std::string_view) override { return nullptr; }

 private:
  std::vector<F> fields_;
};

TEST(ColumnView, OneColumnPerLineBoundByTheReadingRule) {
  ThreeColumns src;
  const Lines lines = {"DESCRIPTN=2", "PARTNUMBER=0", "LEV1=ROWBREAK-1",
                       "LEV2=CONS-A", "LISTPRICE=3",  "X=01",
                       "Y=1234",      "Z=2=K",        "NOEQUALS"};
  std::vector<ColumnViewColumn> cols = column_view_columns(lines, src);
  ASSERT_EQ(cols.size(), lines.size());
  struct Expect {
    const char* title;
    int field;
    const char* errorStart;  // nullptr: bound
  } expect[] = {
      {"DESCRIPTN", 2, nullptr},
      {"PARTNUMBER", 0, nullptr},
      {"LEV1", -1, "'ROW' is not a valid integer value"},
      {"LEV2", -1, "'CON' is not a valid integer value"},
      {"LISTPRICE", -1, "List index out of bounds (3)"},
      {"X", 1, nullptr},
      {"Y", -1, "List index out of bounds (123)"},      // three characters only
      {"Z", -1, "'2=K' is not a valid integer value"},  // split at the first "="
      {"NOEQUALS", -1, "''"},
  };
  for (size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(cols[i].title, expect[i].title);
    EXPECT_EQ(cols[i].field, expect[i].field) << expect[i].title;
    if (!expect[i].errorStart) {
      EXPECT_TRUE(cols[i].error.empty()) << cols[i].error;
    } else {
      EXPECT_TRUE(starts_with(cols[i].error, expect[i].errorStart)) << cols[i].error;
      EXPECT_TRUE(ends_with(cols[i].error, std::string("\r\nFor Field: ") + expect[i].title))
          << cols[i].error;
    }
  }
}

}  // namespace
