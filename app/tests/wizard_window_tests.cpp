// The wizard driven from the keyboard and seen as a user sees it: focus order, Enter and the
// accelerators of each page, where message boxes open, the source grid's rows, the listing,
// the date box, and the window's place kept between runs.
#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <map>
#include <set>

#include "app/datalink/navigator.h"
#include "app/qt_messages.h"
#include "app/screen_grid.h"
#include "app/tests/window_fixture.h"

namespace qm::test {
namespace {

using datalink::NavButton;

struct Wizard : Windows {
  // Starts over the scripted source with a sheet of `rows` rows of two columns open.
  TfrmConvert& startWithRows(int rows, std::int64_t known = -1) {
    useFake = true;
    make_program_folder();
    TfrmConvert& w = start();
    auto& book = fakeDb->files["/prices/list.xls"];
    book.tables = {"Master$"};
    book.columns["Master$"] = {"PART", "DESC"};
    for (int i = 1; i <= rows; ++i)
      book.rows["Master$"].push_back({"P-" + std::to_string(i), "Item"});
    fakeTable->known = known;
    w.edtDir->setText("/prices/");
    w.edtFileName->setText("list.xls");
    w.btnOpenSourceFile->click();
    EXPECT_TRUE(msgs.shown.empty()) << msgs.texts()[0];
    return w;
  }

  static QString focused() {
    QWidget* f = QApplication::focusWidget();
    return f ? f->objectName() : QString("(none)");
  }
};

TEST_F(Wizard, TabWalksEachPageInItsNumberedOrderAndOnThroughTheGrid) {
  TfrmConvert& w = startWithRows(3);
  w.chkVendInfo->setChecked(true);
  w.pnlFinial->setVisible(true);
  w.btnNextPage2->setEnabled(false);
  struct Case {
    const char* page;
    QStringList chain;  // from the first control, Tab by Tab, back to the first
  } cases[] = {
      {"Page1",
       {"edtDir", "edtFileName", "btnBrowse", "btnOpenSourceFile", "Button2",
        "UseOlderExcelDrivers", "cmbSheets", "btnLookAtList", "DBGrid1", "edtDir"}},
      {"Page2",
       {"btnNewConfig", "btnPrevious", "lsbConfigNames", "btnDeleteConfig", "btnbackPage1",
        "DBGrid1", "btnNewConfig"}},
      {"Page3",
       {"lstbFields", "lstFields", "cmbFields", "chkSort", "chkRowBreak", "chkAddTitletoDesc",
        "txtConstant", "btnAdd", "btnDelete", "btnViewSelect", "btnSuggest", "lstbNew2",
        "btnBackPage2", "DBGrid1", "lstbFields"}},
      {"Page4", {"edeDBF",        "edtDestFolder",    "btnDest",     "txtCompany",
                 "dbeSaveAsName", "chkAddToExisting", "edeStart",    "txtUpdate",
                 "dttimDueDate",  "txtPriceSheet",    "DBEdit1",     "chkVendInfo",
                 "edtManlist",    "btnAlaLoc",        "Button4",     "dbeVendCode",
                 "dbeVendSource", "txtDept",          "dbeParam",    "DBEdit2",
                 "DBCheckBox1",   "DBEdit4",          "DBCheckBox2", "DBComboBox1",
                 "DBCheckBox3",   "MultipleTabs",     "btnBackPage", "btnPreview",
                 "Button1",       "DBGrid1",          "edeDBF"}},
  };
  w.grpExcel->setVisible(true);
  w.grpExcel->setEnabled(true);
  for (const auto& c : cases) {
    w.showPage(c.page);
    w.btnNextPage3->setEnabled(false);
    w.btnNextPage4->setEnabled(false);
    w.btnNextPage2->setEnabled(false);
    QApplication::setActiveWindow(&w);
    get<QWidget>(w, c.chain[0].toUtf8().constData())->setFocus();
    QStringList walked{focused()};
    for (int i = 1; i < c.chain.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      walked << focused();
    }
    EXPECT_EQ(walked.join(" ").toStdString(), c.chain.join(" ").toStdString()) << c.page;
  }
}

TEST_F(Wizard, EnterPressesTheFocusedButtonElseThePagesDefault) {
  TfrmConvert& w = startWithRows(3);
  w.lstbNew2->addItem("PARTNUMBER=0");
  struct Case {
    const char* page;
    const char* focus;      // where Enter is pressed
    const char* pressed;    // the button that runs
    const char* isDefault;  // the page's default button
  } cases[] = {
      {"Page1", "edtDir", "btnNextPage2", "btnNextPage2"},
      {"Page2", "lsbConfigNames", "btnNextPage3", "btnNextPage3"},
      {"Page3", "txtConstant", "btnNextPage4", "btnNextPage4"},
      {"Page3", "btnBackPage2", "btnBackPage2", "btnNextPage4"},
      {"Page4", "edeDBF", "Button1", "Button1"},
      {"Page4", "DBGrid1", "Button1", "Button1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.page) + " " + c.focus);
    w.showPage(c.page);
    for (auto* b : {w.btnNextPage2, w.btnNextPage3, w.btnNextPage4}) b->setEnabled(true);
    EXPECT_EQ(w.defaultButton()->objectName(), c.isDefault);
    EXPECT_TRUE(w.defaultButton()->isDefault());
    QSignalSpy spy(get<QPushButton>(w, c.pressed), &QPushButton::clicked);
    QApplication::setActiveWindow(&w);
    get<QWidget>(w, c.focus)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(spy.count(), 1);
  }
}

TEST_F(Wizard, EachPagesAcceleratorsAreItsOwn) {
  TfrmConvert& w = startWithRows(1);
  w.chkVendInfo->setChecked(true);
  w.pnlFinial->setVisible(true);
  w.grpExcel->setVisible(true);
  for (const char* name : {"Page1", "Page2", "Page3", "Page4"}) {
    QWidget* page = get<QWidget>(w, name);
    std::map<QChar, QStringList> keys;
    for (QWidget* c : page->findChildren<QWidget*>()) {
      QString text;
      if (auto* b = qobject_cast<QAbstractButton*>(c)) text = b->text();
      if (auto* l = qobject_cast<QLabel*>(c); l && l->buddy()) text = l->text();
      if (auto* g = qobject_cast<QGroupBox*>(c)) text = g->title();
      const int at = text.replace("&&", "").indexOf('&');
      if (at >= 0 && at + 1 < text.size()) keys[text[at + 1].toLower()] << text;
    }
    EXPECT_FALSE(keys.empty()) << name;
    for (const auto& [key, owners] : keys)
      EXPECT_EQ(owners.size(), 1) << name << " Alt+" << QString(key).toStdString() << ": "
                                  << owners.join(" | ").toStdString();
  }
}

// A box raised while the column view (kept on top) is open must open over it.
TEST_F(Wizard, AMessageBoxOpensOverTheWindowKeptOnTop) {
  TfrmConvert& w = startWithRows(2);
  w.show();
  struct Case {
    bool columnView;
    bool onTop;
  } cases[] = {{false, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columnView);
    if (c.columnView) w.btnViewSelect->click();
    ASSERT_EQ(w.frmScreenGrid != nullptr, c.columnView);
    QApplication::setActiveWindow(&w);
    QWidget* owner = nullptr;
    bool boxOnTop = false;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      owner = box->parentWidget();
      boxOnTop = box->windowFlags() & Qt::WindowStaysOnTopHint;
      static_cast<QMessageBox*>(box)->accept();
    });
    QtMessages(&w).error("Field not found");
    QWidget* expected = c.columnView ? static_cast<QWidget*>(w.frmScreenGrid.data()) : &w;
    EXPECT_EQ(owner, expected);
    EXPECT_EQ(boxOnTop, c.onTop);
  }
  w.frmScreenGrid->close();
}

TEST_F(Wizard, TheGridCountsItsRowsAndNumbersEachAfterScrolling) {
  struct Case {
    int rows;
    std::int64_t known;
    QString before;  // the count under the grid before the end is reached
  } cases[] = {
      {2500, -1, "1000 rows shown, more to come"},
      {2500, 2500, "1000 of 2500 rows shown"},
      {12, -1, "12 rows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    TearDown();
    SetUp();
    TfrmConvert& w = startWithRows(c.rows, c.known);
    w.show();
    auto* grid = w.DBGrid1;
    EXPECT_EQ(w.lblRowCount->text(), c.before);
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(grid->model()->rowCount(), c.rows);
    EXPECT_EQ(grid->currentIndex().row(), c.rows - 1);
    EXPECT_EQ(w.lblRowCount->text(), QString("%1 rows").arg(c.rows));
    const int last = c.rows - 1;
    EXPECT_EQ(grid->model()->headerData(last, Qt::Vertical).toInt(), c.rows);
    EXPECT_EQ(grid->model()->index(last, 0).data().toString(), QString("P-%1").arg(c.rows));
    const QFontMetrics fm(grid->verticalHeader()->font());
    EXPECT_GE(grid->verticalHeader()->width(), fm.horizontalAdvance(QString::number(c.rows)));
  }
}

TEST_F(Wizard, TheListingReadsChangesMadeElsewhereAndItsNavigatorKnowsTheEnds) {
  TfrmConvert& w = startWithRows(1);
  for (int i = 0; i < 3; ++i) {
    w.cdsStore.append();
    w.cdsStore.fieldByName("STORENAME").setAsString("Config " + std::to_string(i));
    w.cdsStore.post();
  }
  w.show();
  w.btnLookAtList->click();
  // Every column's title shows whole.
  const QFontMetrics fm(w.DBGrid2->horizontalHeader()->font());
  for (int c = 0; c < w.DBGrid2->model()->columnCount(); ++c) {
    const QString title = w.DBGrid2->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_GT(w.DBGrid2->columnWidth(c), fm.horizontalAdvance(title)) << title.toStdString();
  }
  auto* nav = w.DBNavigator1;
  auto on = [&](NavButton b) { return nav->button(b)->isEnabled(); };
  struct Step {
    std::vector<NavButton> presses;
    bool firstPrior, nextLast;
  } steps[] = {
      {{NavButton::First}, false, true},
      {{NavButton::Next}, true, true},
      {{NavButton::Next}, true, false},  // the last record reached by Next
      {{NavButton::Prior}, true, true},
      {{NavButton::Prior}, false, true},  // the first reached by Prior
      {{NavButton::Last}, true, false},
  };
  for (const auto& s : steps) {
    for (NavButton b : s.presses) nav->press(b);
    EXPECT_EQ(on(NavButton::First), s.firstPrior) << w.cdsStore.recNo();
    EXPECT_EQ(on(NavButton::Prior), s.firstPrior) << w.cdsStore.recNo();
    EXPECT_EQ(on(NavButton::Next), s.nextLast) << w.cdsStore.recNo();
    EXPECT_EQ(on(NavButton::Last), s.nextLast) << w.cdsStore.recNo();
  }

  // Another program adds a configuration; coming back to the window shows it.
  EXPECT_EQ(w.DBGrid2->model()->rowCount(), 3);
  {
    DbfTable other;
    other.setFolder(folder);
    other.setTableName("storelst.dbf");
    other.open();
    other.append();
    other.fieldByName("STORENAME").setAsString("Made elsewhere");
    other.post();
  }
  QApplication::setActiveWindow(splash.get());
  QApplication::setActiveWindow(&w);
  ASSERT_EQ(w.DBGrid2->model()->rowCount(), 4);
  EXPECT_EQ(w.DBGrid2->model()->index(3, 0).data().toString(), "Made elsewhere");
  EXPECT_TRUE(on(NavButton::Next));  // the current record is no longer the last
}

// Only the arrow opens the calendar; a press anywhere else in the box leaves the date.
TEST_F(Wizard, APressOnTheDateBoxOutsideItsArrowKeepsTheDate) {
  TfrmConvert& w = startWithRows(1);
  w.show();
  w.showPage("Page4");
  QApplication::processEvents();
  QDateEdit* d = w.dttimDueDate;
  const QDate start(2026, 3, 7);
  const QRect r = d->rect();
  const QPoint points[] = {
      r.topLeft(), {r.center().x(), r.top()}, r.bottomLeft(), {r.left(), r.center().y()}};
  for (const QPoint& at : points) {
    d->setDate(start);
    QTest::mouseClick(d, Qt::LeftButton, {}, at);
    EXPECT_EQ(d->date(), start) << at.x() << "," << at.y();
  }
}

TEST_F(Wizard, TheWindowsPlaceIsKeptInItsOwnSectionOfConvertIni) {
  make_program_folder();
  {
    IniFile ini(folder + "Convert.ini");
    ini.writeString("Update", "Level", "7");
  }
  struct Case {
    QRect placed;    // where the user leaves the window; empty: it is not moved
    QRect expected;  // where the next start opens it
  } cases[] = {
      {QRect(20, 10, 780, 560), QRect(20, 10, 780, 560)},
      {QRect(), QRect(20, 10, 780, 560)},
  };
  for (const auto& c : cases) {
    TfrmConvert& w = start();
    w.show();
    QApplication::processEvents();
    if (!c.placed.isNull()) w.setGeometry(c.placed);
    w.close();
    splash.reset();
    IniFile ini(folder + "Convert.ini");
    EXPECT_EQ(ini.readString("Update", "Level", ""), "7");
    EXPECT_EQ(ini.readInteger("Window", "Width", 0), c.expected.width());
    TfrmConvert& again = start();
    EXPECT_EQ(again.geometry(), c.expected);
    again.close();
    splash.reset();
  }
  // A place on no screen is not taken: the window opens where it would without one.
  {
    IniFile ini(folder + "Convert.ini");
    ini.writeInteger("Window", "Left", 50000);
  }
  TfrmConvert& w = start();
  EXPECT_LT(w.geometry().left(), 50000);
  EXPECT_EQ(w.size(), TfrmConvert::defaultSize().boundedTo(w.screen()->availableGeometry().size()) -
                          (w.frameGeometry().size() - w.size()));
}

TEST_F(Wizard, BrowseForTheManufacturerListOffersTheNameTheFileHas) {
  struct Case {
    const char* onDisk;  // nullptr: no list in the folder
    const char* offered;
  } cases[] = {{"MANULIST.DBF", "MANULIST.DBF"},
               {"manulist.dbf", "manulist.dbf"},
               {nullptr, "Manulist.dbf"}};
  make_program_folder();
  TfrmConvert& w = start();
  int n = 0;
  for (const auto& c : cases) {
    const std::string data = folder + "data" + std::to_string(++n) + separator_string();
    fs::create_directories(to_fs_path(data));
    if (c.onDisk) make_table(data, c.onDisk, {{"FILE", 'C', 8, 0}});
    std::string offered;
    shell.openDialog = [&](const OpenDialog& d) -> std::optional<std::string> {
      offered = d.fileName;
      return std::nullopt;
    };
    w.edtManlist->setText(QString::fromStdString(data));
    w.btnAlaLoc->click();
    EXPECT_EQ(offered, c.offered);
  }
}

}  // namespace
}  // namespace qm::test

// Fontconfig keeps its caches until the process ends; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
