#include "app/datalink/binders.h"

#include <gtest/gtest.h>

#include <QTest>

#include "app/datalink/tests/fixture.h"
#include "core/datetime.h"

namespace qm::datalink {
namespace {

using tables::TableState;
using testing::people;

class BinderTest : public testing::TableFolder {
 protected:
  void SetUp() override {
    TableFolder::SetUp();
    make(people());
  }
};

// Replaces what the box shows by typing, as a user does.
void retype(QLineEdit& e, const QString& text) {
  e.selectAll();
  QTest::keyClick(&e, Qt::Key_Delete);
  QTest::keyClicks(&e, text);
}

TEST_F(BinderTest, TypingEditsTheRecordAndAMovePostsIt) {
  DataSource ds(&table);
  QLineEdit name, code;
  LineEditBinder bn(ds, &name, "NAME");
  LineEditBinder bc(ds, &code, "Code");  // names match without regard to case
  EXPECT_EQ(name.text(), "Alice");
  EXPECT_EQ(code.text(), "aa1");
  EXPECT_EQ(table.state(), TableState::Browse);

  retype(name, "Alice Smith");  // the blank inside must survive keystroke-by-keystroke writes
  EXPECT_EQ(table.state(), TableState::Edit);
  EXPECT_EQ(table.fieldByName("NAME").asString(), "Alice Smith");
  EXPECT_EQ(name.text(), "Alice Smith");
  EXPECT_EQ(stored(1, "NAME"), "Alice");

  table.next();
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(stored(1, "NAME"), "Alice Smith");
  EXPECT_EQ(name.text(), "Bob");
  EXPECT_EQ(code.text(), "bb2");
  table.prior();
  EXPECT_EQ(name.text(), "Alice Smith");
}

TEST_F(BinderTest, ShowingRecordsNeverChangesThem) {
  DataSource ds(&table);
  QLineEdit name, qty, upd;
  QCheckBox flag;
  QComboBox serial;
  serial.setEditable(true);
  QPlainTextEdit memo;
  LineEditBinder b1(ds, &name, "NAME", true);
  LineEditBinder b2(ds, &qty, "QTY");
  DateEditBinder b3(ds, &upd, "UPD");
  CheckBoxBinder b4(ds, &flag, "FLAG");
  ComboBoxBinder b5(ds, &serial, "SERIAL", {"Y", "N"});
  MemoBinder b6(ds, &memo, "MEMO");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table.state(), TableState::Browse) << "record " << table.recNo();
    EXPECT_FALSE(table.modified());
    table.next();
  }
  table.first();
  table.edit();  // an edit in which nothing is changed is cancelled by the move
  table.next();
  EXPECT_EQ(table.state(), TableState::Browse);
  EXPECT_EQ(stored(1, "NAME"), "Alice");
  // An upper-case box shows what is stored as it is; only typing capitalises.
  table.first();
  EXPECT_EQ(name.text(), "Alice");
}

TEST_F(BinderTest, UpperCaseBoxesCapitaliseTypedLetters) {
  DataSource ds(&table);
  QLineEdit upper, plain;
  LineEditBinder bu(ds, &upper, "CODE", true);
  LineEditBinder bp(ds, &plain, "NAME", false);
  retype(upper, "abc-9x");
  EXPECT_EQ(upper.text(), "ABC-9X");
  EXPECT_EQ(table.fieldByName("CODE").asString(), "ABC-9X");
  QTest::keyClick(&upper, Qt::Key_Home);
  QTest::keyClicks(&upper, "q");
  EXPECT_EQ(upper.text(), "QABC-9X");
  EXPECT_EQ(upper.cursorPosition(), 1) << "capitalising must not move the cursor";
  retype(plain, "mixed Case");
  EXPECT_EQ(table.fieldByName("NAME").asString(), "mixed Case");
  table.post();
  EXPECT_EQ(stored(1, "CODE"), "QABC-9X");
}

TEST_F(BinderTest, AValueTheFieldRefusesStaysInTheBoxOnly) {
  DataSource ds(&table);
  QLineEdit qty;
  LineEditBinder b(ds, &qty, "QTY");
  EXPECT_EQ(qty.text(), "5");
  retype(qty, "12");
  EXPECT_EQ(table.fieldByName("QTY").asInteger(), 12);
  retype(qty, "12x");
  EXPECT_EQ(qty.text(), "12x");
  EXPECT_EQ(table.fieldByName("QTY").asString(), "5") << "the field goes back to what it showed";
  table.next();
  EXPECT_EQ(qty.text(), "7");
  EXPECT_EQ(stored(1, "QTY"), "5");
}

TEST_F(BinderTest, CloseDiscardsWhatWasTypedAndBlanksTheControls) {
  DataSource ds(&table);
  QLineEdit name;
  LineEditBinder b(ds, &name, "NAME");
  retype(name, "Typed");
  table.close();
  EXPECT_EQ(name.text(), "");
  EXPECT_TRUE(name.isReadOnly());
  QTest::keyClicks(&name, "zz");
  EXPECT_EQ(name.text(), "");
  table.open();
  table.first();
  EXPECT_EQ(stored(1, "NAME"), "Alice");
  EXPECT_EQ(name.text(), "Alice");
  EXPECT_FALSE(name.isReadOnly());
}

TEST_F(BinderTest, DetachedControlsFollowNothingAndReachNoTable) {
  DataSource ds(&table);
  QLineEdit name;
  QCheckBox flag;
  LineEditBinder bn(ds, &name, "NAME");
  CheckBoxBinder bf(ds, &flag, "FLAG");
  ds.detach();
  EXPECT_EQ(name.text(), "");
  EXPECT_FALSE(flag.isChecked());
  table.next();
  EXPECT_EQ(name.text(), "");
  flag.click();
  EXPECT_FALSE(flag.isChecked()) << "a click with no table behind it must not stick";
  EXPECT_EQ(table.state(), TableState::Browse);
  ds.reattach();
  EXPECT_EQ(name.text(), "Bob");
  EXPECT_FALSE(flag.isChecked());
  table.next();
  EXPECT_TRUE(flag.isChecked());
}

TEST_F(BinderTest, CheckBoxesWriteTrueAndFalseAndShowEachRecord) {
  DataSource ds(&table);
  QCheckBox flag, serialBox;
  CheckBoxBinder b(ds, &flag, "FLAG");
  CheckBoxBinder bs(ds, &serialBox, "CODE");  // a character field takes the texts themselves
  const bool want[] = {true, false, true};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(flag.isChecked(), want[i]) << "record " << i + 1;
    table.next();
  }
  table.first();
  flag.click();
  EXPECT_EQ(table.state(), TableState::Edit);
  EXPECT_EQ(table.fieldByName("FLAG").asString(), "False");
  serialBox.click();
  EXPECT_EQ(table.fieldByName("CODE").asString(), "True");
  table.next();
  EXPECT_FALSE(flag.isChecked());
  flag.click();
  table.next();
  EXPECT_EQ(stored(1, "FLAG"), "False");
  EXPECT_EQ(stored(1, "CODE"), "True");
  EXPECT_EQ(stored(2, "FLAG"), "True");
  table.first();
  EXPECT_FALSE(flag.isChecked());
  EXPECT_TRUE(serialBox.isChecked());
}

TEST_F(BinderTest, MemoRoundTripsLinesPerRecord) {
  DataSource ds(&table);
  QPlainTextEdit memo;
  MemoBinder b(ds, &memo, "MEMO");
  EXPECT_EQ(b.lines(), std::vector<std::string>{"PARTNUMBER=0"});
  table.next();
  EXPECT_TRUE(b.lines().empty());
  EXPECT_EQ(memo.toPlainText(), "");
  table.next();
  EXPECT_EQ(b.lines(), (std::vector<std::string>{"DESC=1", "PRICE=2"}));

  const std::vector<std::string> mapping = {"PARTNUMBER=0", "ROWBREAK-3", "CONS-Each", ""};
  table.prior();
  b.setLines(mapping);
  EXPECT_EQ(table.state(), TableState::Edit);
  table.next();
  EXPECT_EQ(b.lines(), (std::vector<std::string>{"DESC=1", "PRICE=2"}));
  const auto back = storedLines(2, "MEMO");
  ASSERT_GE(back.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(back.begin(), back.begin() + 3),
            std::vector<std::string>(mapping.begin(), mapping.begin() + 3));
  table.prior();
  const auto shown = b.lines();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 3),
            std::vector<std::string>(mapping.begin(), mapping.begin() + 3));
}

TEST_F(BinderTest, DateBoxShowsTheShortDateAndSurvivesNonDates) {
  DataSource ds(&table);
  QLineEdit upd;
  DateEditBinder b(ds, &upd, "UPD");
  EXPECT_EQ(upd.text().toStdString(), format_short_date(DateTime{day_from_ymd(2026, 1, 2), 0}));

  struct Case {
    const char* typed;
    bool isDate;
    Ymd want;
  };
  const Case cases[] = {
      {"12/9/2026", true, {2026, 12, 9}}, {"hello", false, {}}, {"13/45/2026", false, {}},
      {"2026-03-04", true, {2026, 3, 4}}, {"", true, {}},
  };
  for (const Case& c : cases) {
    table.first();
    const std::string before = table.fieldByName("UPD").asString();
    b.setText(QString::fromUtf8(c.typed));
    EXPECT_EQ(upd.text().toStdString(), c.typed) << "the box keeps what was typed";
    const auto& f = table.fieldByName("UPD");
    if (!c.isDate) {
      EXPECT_EQ(f.asString(), before) << c.typed;
    } else if (std::string(c.typed).empty()) {
      EXPECT_TRUE(f.isNull());
    } else {
      EXPECT_EQ(f.asDateTime(), (DateTime{day_from_ymd(c.want.year, c.want.month, c.want.day), 0}))
          << c.typed;
    }
    table.next();  // posts; the box shows the next record's date again
    table.first();
    EXPECT_EQ(upd.text().toStdString(),
              table.fieldByName("UPD").isNull()
                  ? std::string()
                  : format_short_date(table.fieldByName("UPD").asDateTime()));
  }
  table.goToRecNo(3);
  EXPECT_EQ(upd.text(), "") << "a blank date shows blank";
}

TEST_F(BinderTest, ComboBoxTakesItsItemsAndTypedText) {
  DataSource ds(&table);
  QComboBox serial;
  serial.setEditable(true);
  ComboBoxBinder b(ds, &serial, "SERIAL", {"Y", "N"}, true);
  ASSERT_EQ(serial.count(), 2);
  EXPECT_EQ(serial.currentText(), "");
  emit serial.activated(1);  // the user picks "N"
  EXPECT_EQ(table.fieldByName("SERIAL").asString(), "N");
  table.next();
  EXPECT_EQ(serial.currentText(), "");
  serial.lineEdit()->selectAll();
  QTest::keyClicks(serial.lineEdit(), "y");
  EXPECT_EQ(table.fieldByName("SERIAL").asString(), "Y");
  table.first();
  EXPECT_EQ(serial.currentText(), "N");
  EXPECT_EQ(serial.currentIndex(), 1);
  EXPECT_EQ(stored(2, "SERIAL"), "Y");
}

TEST_F(BinderTest, ControlsShowFieldsTheProgramWrites) {
  DataSource ds(&table);
  QLineEdit code;
  LineEditBinder b(ds, &code, "CODE", true);
  // As the vendor lookup does: edit, then write the field directly.
  table.edit();
  table.fieldByName("CODE").setAsString("V123");
  EXPECT_EQ(code.text(), "V123");
  table.cancel();
  EXPECT_EQ(code.text(), "aa1");
}

}  // namespace
}  // namespace qm::datalink
