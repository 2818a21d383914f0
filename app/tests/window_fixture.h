// The fixture of the window tests: a program folder made for each test, the start window
// over it, and the source engine or a scripted stand-in behind the wizard.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/convert_window.h"
#include "app/splash_window.h"
#include "app/tests/fake_source.h"
#include "core/paths.h"
#include "core/profile.h"
#include "source/dao_engine.h"

namespace qm::test {

namespace fs = std::filesystem;
using namespace qm::app;
using qm::tables::DbfTable;
using qm::tables::FieldDef;

inline QApplication& application() {
  static int argc = 1;
  static char name[] = "window_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The fields of the stored configuration table; the template adds a 29th.
inline std::vector<FieldDef> store_fields() {
  return {{"STORENAME", 'C', 40, 0}, {"FILENAME", 'C', 8, 0},    {"CODE", 'C', 10, 0},
          {"PARAMETER", 'C', 20, 0}, {"SOURCE_ID", 'C', 10, 0},  {"DEPT", 'C', 4, 0},
          {"UPDATEDATE", 'D', 8, 0}, {"EXPORTDBF", 'C', 4, 0},   {"STARTEXPRT", 'N', 6, 0},
          {"SHEET", 'C', 40, 0},     {"COMPANY", 'C', 40, 0},    {"PRICESHEET", 'C', 30, 0},
          {"STREET", 'C', 40, 0},    {"CITY", 'C', 30, 0},       {"STATE", 'C', 2, 0},
          {"ZIP", 'C', 10, 0},       {"PHONE", 'C', 20, 0},      {"FAX", 'C', 20, 0},
          {"APPENDDATA", 'L', 1, 0}, {"BREAKONROW", 'L', 1, 0},  {"SOURCE", 'C', 40, 0},
          {"ADDDESCRIP", 'L', 1, 0}, {"FIELDSLIST", 'M', 10, 0}, {"CONVERSION", 'C', 10, 0},
          {"US_CANADA", 'L', 1, 0},  {"CABLE", 'L', 1, 0},       {"SERIALNUM", 'C', 1, 0},
          {"CONTRACTPR", 'L', 1, 0}};
}

inline std::vector<FieldDef> template_fields() {
  auto f = store_fields();
  f.push_back({"REMARKS", 'C', 60, 0});
  return f;
}

inline void make_table(const std::string& folder, const std::string& name,
                       std::vector<FieldDef> defs) {
  DbfTable t;
  t.setFolder(folder);
  t.setTableName(name);
  t.setFieldDefs(std::move(defs));
  t.setTableLevel(7);
  t.createTable();
}

inline void make_flistwin(const std::string& folder, std::vector<std::string> names) {
  std::vector<FieldDef> defs;
  for (auto& n : names) defs.push_back({n, 'C', 20, 0});
  make_table(folder, "flistwin.dbf", defs);
}

inline const std::vector<std::string> kDestFields{"DEPT",      "PARTNUMBER", "DESCRIPTN",
                                                  "LISTPRICE", "COST_OF_1",  "LEV1"};

inline std::string slurp(const std::string& path) {
  std::ifstream in(to_fs_path(path), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// One program folder and the two windows over it.
struct Windows : ::testing::Test {
  std::string folder;
  ScriptedMessages msgs;
  AppShell shell;
  int quits = 0;
  std::unique_ptr<TfrmSplash> splash;
  std::vector<std::string> dialogAnswers;  // paths the file dialog returns, in turn
  FakeDatabase* fakeDb = nullptr;
  FakeTable* fakeTable = nullptr;
  bool useFake = false;

  void SetUp() override {
    application();
    fs::path dir =
        fs::temp_directory_path() /
        ("qm_win_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    folder = from_fs_path(dir) + separator_string();
    shell.programFolder = folder;
    shell.messages = &msgs;
    shell.quit = [this] { ++quits; };
    shell.topLevel = std::make_unique<TopLevel>(msgs, shell.quit);
    shell.openDialog = [this](const OpenDialog&) -> std::optional<std::string> {
      if (dialogAnswers.empty()) return std::nullopt;
      std::string a = dialogAnswers.front();
      dialogAnswers.erase(dialogAnswers.begin());
      return a;
    };
    shell.sources = [this]() -> SourceComponents {
      if (!useFake) return make_source_components();
      FakeSource f;
      fakeDb = f.db;
      fakeTable = f.table;
      return std::move(f.components);
    };
  }
  void TearDown() override {
    splash.reset();
    source::engine_machine() = source::EngineMachine{};
    fs::remove_all(to_fs_path(folder));
  }

  void make_program_folder() {
    make_table(folder, "exprtwin.dbf", template_fields());
    make_flistwin(folder, kDestFields);
  }

  // Starts the program as far as the wizard's first activation.
  TfrmConvert& start() {
    splash = std::make_unique<TfrmSplash>(shell);
    splash->show();
    QApplication::setActiveWindow(splash.get());
    splash->findChild<QPushButton*>("btnNext")->click();
    TfrmConvert* w = splash->frmConvert();
    EXPECT_NE(w, nullptr) << (msgs.shown.empty() ? std::string("no message")
                                                 : msgs.shown.back().text);
    QApplication::setActiveWindow(w);
    EXPECT_TRUE(w->firstActivated());
    return *w;
  }

  template <class W>
  W* get(QWidget& w, const char* name) {
    W* c = w.findChild<W*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }

  QStringList items(QWidget& w, const char* name) {
    QStringList r;
    auto* l = get<QListWidget>(w, name);
    for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
    return r;
  }
};

}  // namespace qm::test
