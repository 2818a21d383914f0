// Rows read ahead on a second thread must be the reader's rows, in order, with the reader's
// errors at the reader's row, whatever the batch sizes, and after any rewind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/error.h"
#include "source/rows_ahead.h"

namespace qm::source {
namespace {

// Rows "r0", "r1", ...; fails at row failAt (when set) on that and every later call, as the
// workbook readers do. Notes the threads it was read from.
class CountingReader : public RowReader {
 public:
  CountingReader(int rows, int failAt = -1) : rows_(rows), failAt_(failAt) {}
  bool nextRow(std::vector<Cell>& cells) override {
    if (std::this_thread::get_id() != owner_ && ++foreignReads == 1) {
      // The thread's first row waits for the reader's work on the caller's side to be done.
      for (int i = 0; i < 5000 && worked < workSteps; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (failAt_ >= 0 && next_ >= failAt_)
      throw DatabaseError("row " + std::to_string(failAt_) + " is damaged");
    if (next_ >= rows_) return false;
    cells.assign(2, Cell{});
    cells[0].kind = Cell::Kind::Text;
    cells[0].text = "r" + std::to_string(next_);
    cells[1].kind = Cell::Kind::Number;
    cells[1].number = next_;
    ++next_;
    return true;
  }
  void rewind() override {
    next_ = 0;
    ++rewinds;
  }
  std::int64_t declaredRowCount() const override { return rows_; }
  bool prepareForThread() override {
    ++prepared;
    return allowThread;
  }
  bool workWhileAhead() override { return ++worked < workSteps; }
  std::vector<std::string> notes() const override { return {"read " + std::to_string(next_)}; }

  std::atomic<int> foreignReads{0};
  std::atomic<int> worked{0};
  int workSteps = 0;  // calls of workWhileAhead until it has nothing left
  int rewinds = 0, prepared = 0;
  bool allowThread = true;

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  int rows_, failAt_;
  int next_ = 0;
};

// Reads up to limit rows, checking each is the next one; returns how many came.
int read_rows(RowsAhead& r, int from = 0, int limit = 1 << 30) {
  std::vector<Cell> row;
  int n = 0;
  while (n < limit && r.nextRow(row)) {
    EXPECT_EQ(row.size(), 2u);
    EXPECT_EQ(row[0].text, "r" + std::to_string(from + n));
    EXPECT_EQ(row[1].number, from + n);
    ++n;
  }
  return n;
}

TEST(RowsAhead, GivesTheReadersRowsInOrderForAnyBatchSize) {
  for (auto [direct, batch, ahead] : {std::tuple<std::size_t, std::size_t, std::size_t>{0, 1, 1},
                                      {3, 7, 2},
                                      {2000, 512, 4},
                                      {10, 1000, 3}}) {
    SCOPED_TRACE(std::to_string(direct) + "/" + std::to_string(batch));
    auto owned = std::make_unique<CountingReader>(5003);
    CountingReader& reader = *owned;
    RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); },
                {direct, batch, ahead});
    EXPECT_EQ(read_rows(r), 5003);
    std::vector<Cell> row;
    EXPECT_FALSE(r.nextRow(row));  // and stays at the end
    EXPECT_EQ(r.notes(), std::vector<std::string>{"read 5003"});
    EXPECT_EQ(reader.prepared, direct < 5003 ? 1 : 0);
    EXPECT_GT(reader.foreignReads.load(), 0);
  }
}

TEST(RowsAhead, TheTopOfASheetIsReadWithoutAThread) {
  auto owned = std::make_unique<CountingReader>(100000);
  CountingReader& reader = *owned;
  RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); }, {2000, 512, 4});
  EXPECT_EQ(read_rows(r, 0, 2000), 2000);
  EXPECT_FALSE(r.running());
  EXPECT_EQ(reader.foreignReads.load(), 0);
  EXPECT_EQ(reader.prepared, 0);
  EXPECT_EQ(r.notes(), std::vector<std::string>{"read 2000"});
  EXPECT_EQ(r.declaredRowCount(), 100000);
}

TEST(RowsAhead, AReaderThatMayNotMoveStaysOnTheCallersThread) {
  auto owned = std::make_unique<CountingReader>(3000);
  CountingReader& reader = *owned;
  reader.allowThread = false;
  RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); }, {10, 16, 2});
  EXPECT_EQ(read_rows(r), 3000);
  EXPECT_EQ(reader.prepared, 1);
  EXPECT_EQ(reader.foreignReads.load(), 0);
}

TEST(RowsAhead, AnErrorComesAtItsRowAndAgainAfter) {
  for (int failAt : {5, 700, 1024}) {  // before the thread, inside a batch, at a batch's edge
    SCOPED_TRACE(failAt);
    auto owned = std::make_unique<CountingReader>(5000, failAt);
    CountingReader& reader = *owned;
    RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); }, {100, 256, 3});
    std::vector<Cell> row;
    int n = 0;
    try {
      while (r.nextRow(row)) ++n;
      ADD_FAILURE() << "no error";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), "row " + std::to_string(failAt) + " is damaged");
    }
    EXPECT_EQ(n, failAt);
    EXPECT_THROW(r.nextRow(row), DatabaseError);
  }
}

TEST(RowsAhead, RewindStartsOverFromAnyPoint) {
  auto owned = std::make_unique<CountingReader>(4000);
  CountingReader& reader = *owned;
  RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); }, {50, 64, 4});
  EXPECT_EQ(read_rows(r, 0, 1234), 1234);  // the thread is well ahead by now
  EXPECT_TRUE(r.running());
  r.rewind();
  EXPECT_FALSE(r.running());
  EXPECT_EQ(read_rows(r, 0, 10), 10);
  r.rewind();
  EXPECT_EQ(read_rows(r), 4000);
  r.rewind();
  EXPECT_EQ(reader.rewinds, 3);
  EXPECT_EQ(read_rows(r, 0, 3000), 3000);
  // Destroyed while the thread reads ahead: it is stopped and joined.
}

// While no row is ready, the caller's thread does the reader's own work, and stops asking once
// the reader has none left.
TEST(RowsAhead, DoesTheReadersWorkWhileNoRowIsReady) {
  auto owned = std::make_unique<CountingReader>(3000);
  CountingReader& reader = *owned;
  reader.workSteps = 3;
  RowsAhead r(std::move(owned), [&] { return reader.prepareForThread(); }, {10, 64, 2});
  EXPECT_EQ(read_rows(r), 3000);
  EXPECT_EQ(reader.worked, 3);
}

}  // namespace
}  // namespace qm::source
