#include "source/rows_ahead.h"

namespace qm::source {

RowsAhead::RowsAhead(std::unique_ptr<RowReader> reader, std::function<bool()> prepare,
                     Options options)
    : reader_(std::move(reader)), prepare_(std::move(prepare)), options_(options) {
  if (options_.batchRows == 0 || options_.batchesAhead == 0) direct_only_ = true;
}

RowsAhead::~RowsAhead() {
  stop();
}

std::int64_t RowsAhead::declaredRowCount() const {
  return running() ? declaredRows_ : reader_->declaredRowCount();
}

int RowsAhead::declaredColumnCount() const {
  return running() ? declaredColumns_ : reader_->declaredColumnCount();
}

void RowsAhead::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  for (Batch& b : full_) free_.push_back(std::move(b));
  full_.clear();
  stopping_ = false;
}

void RowsAhead::work() {
  for (;;) {
    Batch b;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || full_.size() < options_.batchesAhead; });
      if (stopping_) return;
      if (!free_.empty()) {
        b = std::move(free_.back());
        free_.pop_back();
      }
    }
    b.used = 0;
    b.last = false;
    b.error = nullptr;
    if (b.rows.size() < options_.batchRows) b.rows.resize(options_.batchRows);
    try {
      while (b.used < options_.batchRows) {
        if (!reader_->nextRow(b.rows[b.used])) {
          b.last = true;
          break;
        }
        ++b.used;
      }
    } catch (...) {
      b.error = std::current_exception();
      b.last = true;
    }
    const bool last = b.last;
    std::vector<std::string> notes = reader_->notes();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      full_.push_back(std::move(b));
      notesRead_ = std::move(notes);
    }
    changed_.notify_all();
    if (last) return;
  }
}

bool RowsAhead::nextRow(std::vector<Cell>& cells) {
  if (ended_) return false;
  if (!running() && !current_.last) {
    if (direct_only_ || direct_ < options_.directRows) {
      ++direct_;
      // An error is the reader's to repeat on the next call, as it does.
      bool more = reader_->nextRow(cells);
      if (!more) ended_ = true;
      return more;
    }
    if (!prepare_ || !prepare_()) {
      direct_only_ = true;
      return nextRow(cells);
    }
    declaredRows_ = reader_->declaredRowCount();
    declaredColumns_ = reader_->declaredColumnCount();
    worker_ = std::thread([this] { work(); });
    readerWork_ = true;
  }
  while (taken_ == current_.used) {
    if (current_.last) {
      // The thread has finished: it ended after queuing its last batch.
      if (worker_.joinable()) worker_.join();
      // A failed reader fails again on every later call, as the reader itself does.
      if (current_.error) std::rethrow_exception(current_.error);
      ended_ = true;
      return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!current_.rows.empty()) free_.push_back(std::move(current_));
    current_ = Batch{};
    changed_.notify_all();
    // Nothing to take yet: the reader's own work meanwhile (the rest of a workbook's strings),
    // rather than holding the thread back while it is done first.
    while (readerWork_ && full_.empty()) {
      lock.unlock();
      readerWork_ = reader_->workWhileAhead();
      lock.lock();
    }
    changed_.wait(lock, [this] { return !full_.empty(); });
    current_ = std::move(full_.front());
    full_.pop_front();
    taken_ = 0;
  }
  // The caller's row goes back into the batch, so that its cells' storage is used again.
  cells.swap(current_.rows[taken_++]);
  return true;
}

std::vector<std::string> RowsAhead::notes() const {
  if (!running()) return reader_->notes();
  std::lock_guard<std::mutex> lock(mutex_);
  return notesRead_;
}

void RowsAhead::rewind() {
  stop();
  if (!current_.rows.empty()) free_.push_back(std::move(current_));
  current_ = Batch{};
  taken_ = 0;
  direct_ = 0;
  ended_ = false;
  readerWork_ = false;
  reader_->rewind();
}

}  // namespace qm::source
