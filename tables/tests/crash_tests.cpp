// A process killed in the middle of a series of appends leaves a table that opens, and every
// record its header counts reads back whole; what the killed process posted is kept.
#include <gtest/gtest.h>

#include <random>

#include "core/tests/run_process.h"
#include "tables/dbf_table.h"
#include "tables/tests/test_util.h"

namespace qm::tables {
namespace {

using namespace test;

// Starts the helper, waits for its line saying that `after` records are posted, and kills it
// then: as late or early as the machine's speed makes it, never before that point.
void run_and_kill_helper(const ScratchDir& dir, bool writeBehind, long long after) {
  testkit::Command c{{QM_APPEND_HELPER, dir.str(), writeBehind ? "1" : "0", std::to_string(after)}};
  c.stop_when = [](std::string_view out) { return out.find("posted ") != std::string_view::npos; };
  const testkit::Outcome r = testkit::run_process(c);
  ASSERT_TRUE(r.started);
  ASSERT_TRUE(r.stopped) << "the helper ended before it said it had posted " << after << ": "
                         << r.err;
}

void kill_appender_repeatedly(bool writeBehind) {
  ScratchDir dir;
  // Wide records, so that a write-behind batch of about 1 MB is some 3,600 of them.
  make_table(
      dir, "crash",
      {{"PART", 'C', 12, 0}, {"QTY", 'N', 10, 0}, {"NOTES", 'M', 10, 0}, {"PAD", 'C', 254, 0}});
  std::mt19937 rng(12345);
  // With write-behind, more than two batches, so that at least one has reached the file when
  // the helper is killed.
  std::uniform_int_distribution<long long> after(writeBehind ? 8000 : 50,
                                                 writeBehind ? 12000 : 3000);
  std::int64_t lastCount = 0;
  for (int round = 0; round < 6; ++round) {
    const long long n = after(rng);
    run_and_kill_helper(dir, writeBehind, n);
    DbfTable t;
    t.setFolder(dir.str());
    t.setTableName("crash");
    ASSERT_NO_THROW(t.open()) << "round " << round;
    std::int64_t count = t.recordCount();
    // Without write-behind every post is on disk before it returns.
    EXPECT_GE(count, lastCount + (writeBehind ? 1 : n)) << "round " << round;
    std::int64_t k = 0;
    for (t.first(); !t.eof(); t.next()) {
      ++k;
      ASSERT_EQ(t.fieldByName("QTY").asInteger(), k) << "round " << round;
      ASSERT_EQ(t.fieldByName("PART").asString(), "P" + std::to_string(k));
      ASSERT_EQ(t.fieldByName("NOTES").asString(), k % 5 == 0 ? "memo " + std::to_string(k) : "");
    }
    EXPECT_EQ(k, count);
    lastCount = count;
  }
}

TEST(CrashSafety, KilledWhileAppending) {
  kill_appender_repeatedly(false);
}
TEST(CrashSafety, KilledWhileAppendingWithWriteBehind) {
  kill_appender_repeatedly(true);
}

}  // namespace
}  // namespace qm::tables
