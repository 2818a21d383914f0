// A small table in a folder of its own, made with the engine, for the data link tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "tables/dbf_table.h"

namespace qm::datalink::testing {

struct Person {
  std::string name, code;
  long long qty;
  bool flag;
  DateTime upd;
  std::vector<std::string> memo;
};

inline std::vector<Person> people() {
  return {
      {"Alice", "aa1", 5, true, DateTime{day_from_ymd(2026, 1, 2), 0}, {"PARTNUMBER=0"}},
      {"Bob", "bb2", 7, false, DateTime{day_from_ymd(2025, 12, 31), 0}, {}},
      {"Carol", "cc3", 9, true, DateTime{}, {"DESC=1", "PRICE=2"}},
  };
}

class TableFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("qm_datalink_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    table.close();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string folder() const { return dir_.string(); }

  static std::vector<tables::FieldDef> defs() {
    return {{"NAME", 'C', 20, 0}, {"CODE", 'C', 10, 0}, {"QTY", 'N', 5, 0},   {"FLAG", 'L', 1, 0},
            {"UPD", 'D', 8, 0},   {"MEMO", 'M', 10, 0}, {"SERIAL", 'C', 1, 0}};
  }

  // Creates the table with the given records and opens `table` on it, on the first record.
  void make(const std::vector<Person>& rows, const std::string& name = "people") {
    tables::DbfTable t;
    t.setFolder(folder());
    t.setTableName(name);
    t.setFieldDefs(defs());
    t.setTableLevel(7);
    t.createTable();
    t.open();
    for (const Person& p : rows) {
      t.append();
      t.fieldByName("NAME").setAsString(p.name);
      t.fieldByName("CODE").setAsString(p.code);
      t.fieldByName("QTY").setAsInteger(p.qty);
      t.fieldByName("FLAG").setAsBoolean(p.flag);
      if (!p.upd.isNull()) t.fieldByName("UPD").setAsDateTime(p.upd);
      t.fieldByName("MEMO").setLines(p.memo);
      t.post();
    }
    t.close();
    table.setFolder(folder());
    table.setTableName(name);
    table.open();
    table.first();
  }

  // The stored text of a field of a record, read through a table object of its own.
  std::string stored(std::int64_t recNo, const std::string& field,
                     const std::string& name = "people") const {
    tables::DbfTable t;
    t.setFolder(folder());
    t.setTableName(name);
    t.open();
    t.goToRecNo(recNo);
    return t.fieldByName(field).asString();
  }
  std::vector<std::string> storedLines(std::int64_t recNo, const std::string& field) const {
    tables::DbfTable t;
    t.setFolder(folder());
    t.setTableName("people");
    t.open();
    t.goToRecNo(recNo);
    return t.fieldByName(field).lines();
  }
  std::int64_t storedCount() const {
    tables::DbfTable t;
    t.setFolder(folder());
    t.setTableName("people");
    t.open();
    return t.recordCount();
  }

  tables::DbfTable table;

 private:
  std::filesystem::path dir_;
};

}  // namespace qm::datalink::testing
