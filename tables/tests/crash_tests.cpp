// A process killed in the middle of a series of appends leaves a table that opens, and every
// record its header counts reads back whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "core/tests/run_process.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

void kill_appender_repeatedly(bool writeBehind) {
  ScratchDir dir;
  make_table(dir, "crash", {{"PART", 'C', 12, 0}, {"QTY", 'N', 10, 0}, {"NOTES", 'M', 10, 0}});
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> ms(150, 700);
  // Starting a process can take far longer than the kill delays (a second under Wine): the
  // delays count from when a helper that returns at once would have ended.
  auto t0 = std::chrono::steady_clock::now();
  qm::testkit::run_process({{QM_APPEND_HELPER}});
  double startup = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::int64_t lastCount = 0;
  for (int round = 0; round < 6; ++round) {
    qm::testkit::Command append{{QM_APPEND_HELPER, dir.str(), writeBehind ? "1" : "0"}};
    append.timeout_seconds = startup + ms(rng) / 1000.0;  // killed on purpose
    qm::testkit::run_process(append);
    DbfTable t;
    t.setFolder(dir.str());
    t.setTableName("crash");
    ASSERT_NO_THROW(t.open()) << "round " << round;
    std::int64_t count = t.recordCount();
    EXPECT_GE(count, lastCount);
    std::int64_t n = 0;
    for (t.first(); !t.eof(); t.next()) {
      ++n;
      ASSERT_EQ(t.fieldByName("QTY").asInteger(), n) << "round " << round;
      ASSERT_EQ(t.fieldByName("PART").asString(), "P" + std::to_string(n));
      ASSERT_EQ(t.fieldByName("NOTES").asString(), n % 5 == 0 ? "memo " + std::to_string(n) : "");
    }
    EXPECT_EQ(n, count);
    lastCount = count;
  }
  EXPECT_GT(lastCount, 0) << "the helper never got to append";
}

TEST(CrashSafety, KilledWhileAppending) {
  kill_appender_repeatedly(false);
}
TEST(CrashSafety, KilledWhileAppendingWithWriteBehind) {
  kill_appender_repeatedly(true);
}

}  // namespace
}  // namespace qm::tables
