// Reading a large sheet's rows ahead on a second thread, so that scanning the sheet and using
// its rows (converting them, writing the price file) overlap on a machine of two cores.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "source/reader.h"

namespace qm::source {

// A RowReader over another one. The first rows come straight from the reader, on the
// caller's thread, so that a grid showing the top of a sheet never starts a thread. Past
// them, if prepare() agrees (it runs on the caller's thread and says whether the reader may
// now be used from another thread), the rest is read in batches on a thread of its own, at
// most a few batches ahead. The rows, their order and the errors (raised at the row where the
// reader met them) are those of the reader underneath; only the thread differs.
class RowsAhead : public RowReader {
 public:
  struct Options {
    // More than the sheet layer scans at an open (16,384 rows), so that opening a sheet for
    // the grid never starts the thread nor reads the whole string table.
    std::size_t directRows = 20000;
    // Some 8,000 rows ahead, a few milliseconds of the walk: enough to ride out the reader's
    // thread being held off its core for a while, which at 2,000 rows made the walk wait.
    std::size_t batchRows = 1024;
    std::size_t batchesAhead = 8;
  };
  RowsAhead(std::unique_ptr<RowReader> reader, std::function<bool()> prepare, Options options);
  RowsAhead(std::unique_ptr<RowReader> reader, std::function<bool()> prepare)
      : RowsAhead(std::move(reader), std::move(prepare), Options{}) {}
  ~RowsAhead() override;
  RowsAhead(const RowsAhead&) = delete;
  RowsAhead& operator=(const RowsAhead&) = delete;

  bool nextRow(std::vector<Cell>& cells) override;
  void rewind() override;
  std::int64_t declaredRowCount() const override;
  int declaredColumnCount() const override;
  // Passed on while the reader is used on this thread only; later calls are ignored.
  void limitColumns(std::uint32_t columns) override {
    if (!running()) reader_->limitColumns(columns);
  }

  // The reader's own while it is used on this thread; while the thread reads, as they stood
  // after the last batch it read.
  std::vector<std::string> notes() const override;

  bool running() const { return worker_.joinable(); }

 private:
  struct Batch {
    std::vector<std::vector<Cell>> rows;
    std::size_t used = 0;      // rows filled by the reader
    bool last = false;         // the reader has no rows after these
    std::exception_ptr error;  // what the reader raised after the filled rows
  };
  void work();
  void stop();

  std::unique_ptr<RowReader> reader_;
  std::function<bool()> prepare_;
  const Options options_;
  // The reader's declared sizes as they stood when the thread started.
  std::int64_t declaredRows_ = -1;
  int declaredColumns_ = -1;

  mutable std::mutex mutex_;
  std::vector<std::string> notesRead_;  // the reader's notes after the thread's last batch
  std::condition_variable changed_;
  std::deque<Batch> full_;   // filled, in order, for the caller
  std::vector<Batch> free_;  // handed back for reuse
  bool stopping_ = false;
  std::thread worker_;

  std::size_t direct_ = 0;    // rows read straight from the reader since the last rewind
  bool direct_only_ = false;  // prepare() said no: never start the thread
  Batch current_;             // the batch the caller is taking rows from
  std::size_t taken_ = 0;
  bool ended_ = false;       // the caller has met the end or an error
  bool readerWork_ = false;  // workWhileAhead() has more to do
};

}  // namespace qm::source
