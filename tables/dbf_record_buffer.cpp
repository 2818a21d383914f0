// Records between the table and its file: the read cache, the write-behind batch and the
// one place where a record is stored.

#include "tables/dbf_table_internal.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "tables/byte_order.h"
#include "tables/field_codec.h"

namespace qm::tables {

std::uint32_t DbfTable::Impl::readCount() {
  drainWrites();
  const std::uint32_t c = countOnFile();
  if (c != knownCount) cache.clear(), cacheRecords = 0;
  knownCount = c;
  return c;
}

std::uint32_t DbfTable::Impl::countOnFile() {
  unsigned char b[4];
  file.readAt(4, b, 4);
  std::uint32_t c = u32le(b);
  std::uint64_t size = file.size();
  std::uint64_t need = static_cast<std::uint64_t>(hdr.headerLength) +
                       static_cast<std::uint64_t>(c) * static_cast<std::uint64_t>(hdr.recordLength);
  if (need > size)
    corrupt("the header counts " + std::to_string(c) + " records but the file holds only " +
            std::to_string((size - static_cast<std::uint64_t>(hdr.headerLength)) /
                           static_cast<std::uint64_t>(hdr.recordLength)));
  return c;
}

bool DbfTable::Impl::loadRecord(std::int64_t n, char* out) {
  drainWrites();
  if (n < 1 || n > static_cast<std::int64_t>(knownCount)) return false;
  const size_t rl = static_cast<size_t>(hdr.recordLength);
  if (n < cacheFirst || n >= cacheFirst + cacheRecords) {
    std::int64_t want = std::max<std::int64_t>(1, static_cast<std::int64_t>(kReadCacheBytes / rl));
    want = std::min<std::int64_t>(want, static_cast<std::int64_t>(knownCount) - n + 1);
    cache.resize(static_cast<size_t>(want) * rl);
    size_t got = file.readSome(recordOffset(n), cache.data(), cache.size());
    cacheFirst = n;
    cacheRecords = static_cast<std::int64_t>(got / rl);
    if (cacheRecords == 0) return false;
  }
  std::memcpy(out, cache.data() + static_cast<size_t>(n - cacheFirst) * rl, rl);
  return true;
}

void DbfTable::Impl::storeRecord(std::int64_t number, const char* oldRec, const char* newRec) {
  const size_t rl = static_cast<size_t>(hdr.recordLength);
  if (index) index->requireMaintainable();
  // An indexed table writes each append at once: its index entry needs the final number.
  if (!oldRec && writeBehindOn && !index) {
    pending.insert(pending.end(), newRec, newRec + rl);
    ++pendingRecords;
    if (pending.size() >= kPostBatchBytes) {
      if (autoNext.empty())
        postBatch();
      else
        flushPending();
    }
    return;
  }
  if (!oldRec) {
    // Record, end mark, autoincrement values, count: valid after each step.
    appendBuf.assign(newRec, newRec + rl);
    appendBuf.push_back(0x1A);
    file.writeAt(recordOffset(number), appendBuf.data(), appendBuf.size());
    for (const auto& [f, next] : autoNext) writeAutoNext(*f, next);
    writeCount(static_cast<std::uint32_t>(number));
  } else {
    file.writeAt(recordOffset(number), newRec, rl);
    // A changed record is a change of the table: its date says when it last changed.
    unsigned char b[7];
    put_date_and_count(b, today, knownCount);
    file.writeAt(1, b, 3);
  }
  dropCache();
  if (index) index->recordStored(static_cast<std::uint32_t>(number), oldRec, newRec, rl);
}

void DbfTable::Impl::writeCount(std::uint32_t count) {
  unsigned char b[7];
  put_date_and_count(b, today, count);
  file.writeAt(1, b, 7);
  knownCount = count;
}

std::uint32_t DbfTable::Impl::readAutoNext(const FieldLayout& f) {
  unsigned char b[4];
  file.readAt(static_cast<std::uint64_t>(f.descriptorOffset) + 42, b, 4);
  std::uint32_t v = u32le(b);
  return v == 0 ? 1 : v;
}

void DbfTable::Impl::writeAutoNext(const FieldLayout& f, std::uint32_t v) {
  unsigned char b[4];
  put_u32le(b, v);
  file.writeAt(static_cast<std::uint64_t>(f.descriptorOffset) + 42, b, 4);
}

void DbfTable::Impl::writeBack(std::uint64_t end) {
  constexpr std::uint64_t kStep = 1 << 20, kMargin = 1 << 16;
  const std::uint64_t from = std::max(writtenBack, (hdr.headerLength + kMargin) & ~(kMargin - 1));
  const std::uint64_t to = end > kMargin ? (end - kMargin) & ~(kMargin - 1) : 0;
  if (to < from + kStep) return;
  file.startWriteBack(from, to);
  writtenBack = to;
}

void DbfTable::Impl::flushPending() {
  drainWrites();
  if (pendingRecords == 0) return;
  {
    WriteScope lock(*this);
    writeBatch(pending, pendingRecords);
  }
  pending.clear();
  pendingRecords = 0;
  autoNext.clear();
  dropCache();
}

void DbfTable::Impl::writeBatch(std::vector<char>& batch, std::int64_t records) {
  // Another program may have appended since the batch began: ours go after its records. The
  // count is read without readCount's bookkeeping, which belongs to the table's thread.
  const std::uint32_t c = countOnFile();
  batch.push_back(0x1A);
  try {
    const std::uint64_t at = recordOffset(static_cast<std::int64_t>(c) + 1);
    for (std::size_t done = 0; done < batch.size(); done += kWriteBatchBytes)
      file.writeAt(at + done, batch.data() + done, std::min(kWriteBatchBytes, batch.size() - done));
    for (const auto& [f, next] : autoNext) writeAutoNext(*f, next);
    writeCount(c + static_cast<std::uint32_t>(records));
    writeBack(at + batch.size());
  } catch (...) {
    // The batch stays as it was, to be written again.
    batch.pop_back();
    throw;
  }
  batch.pop_back();
}

// The thread and its one batch. While busy the batch, the file and the header's state are the
// thread's; the table's thread touches them again only after drainWrites.
struct DbfTable::Impl::BatchWriter {
  std::mutex mutex;
  std::condition_variable changed;
  bool busy = false, stopping = false;
  std::vector<char> batch;
  std::int64_t records = 0;
  std::uint32_t base = 0;  // the count the batch's records were numbered from
  std::exception_ptr error;
  std::thread thread;

  void run(Impl& m) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return busy || stopping; });
      if (!busy) return;
      lock.unlock();
      std::exception_ptr failed;
      try {
        // The lock as a WriteScope takes it; the tail was checked by the batch's first post.
        m.writeLock.lockOpenFile(m.file.handle(), true, 1, true);
        try {
          m.writeBatch(batch, records);
        } catch (...) {
          m.writeLock.release();
          throw;
        }
        m.writeLock.release();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      error = failed;
      busy = false;
      changed.notify_all();
    }
  }

  static void stop(BatchWriter* w) {
    {
      std::lock_guard<std::mutex> lock(w->mutex);
      w->stopping = true;
    }
    w->changed.notify_all();
    // A batch still being written is finished first: the thread ends only when idle.
    if (w->thread.joinable()) w->thread.join();
    delete w;
  }
};

void DbfTable::Impl::postBatch() {
  drainWrites();
  if (!writer) {
    writer = {new BatchWriter, &BatchWriter::stop};
    writer->thread = std::thread([this] { writer->run(*this); });
  }
  {
    std::lock_guard<std::mutex> lock(writer->mutex);
    // The buffers change places: the next batch is filled into the last one's room.
    writer->batch.swap(pending);
    writer->records = pendingRecords;
    writer->base = pendingBase;
    writer->busy = true;
  }
  writer->changed.notify_all();
  batchPosted = true;
  // The next batch is numbered on from this one, as the file will count once it is written.
  pendingBase += static_cast<std::uint32_t>(pendingRecords);
  pending.clear();
  pendingRecords = 0;
  dropCache();
}

void DbfTable::Impl::drainWrites() {
  if (!batchPosted) return;
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->changed.wait(lock, [this] { return !writer->busy; });
  batchPosted = false;
  if (!writer->error) return;
  std::exception_ptr e = std::exchange(writer->error, nullptr);
  writer->batch.insert(writer->batch.end(), pending.begin(), pending.end());
  pending.swap(writer->batch);
  writer->batch.clear();
  pendingRecords += writer->records;
  pendingBase = writer->base;
  std::rethrow_exception(e);
}

std::int64_t DbfTable::Impl::prepareAppend() {
  std::int64_t number;
  bool batchStart = !writeBehindOn || pendingRecords == 0;
  // After a posted batch the count is known without reading the file, which is the writer's
  // meanwhile; such a table has no autoincrement values to read.
  if (batchStart && batchPosted && writeBehindOn) batchStart = false;
  if (batchStart) {
    pendingBase = readCount();
    autoNext.clear();
    for (const FieldLayout& f : hdr.fields)
      if (f.def.type == '+' && hdr.dialect == Dialect::Level7)
        autoNext.emplace_back(&f, readAutoNext(f));
  }
  number = static_cast<std::int64_t>(pendingBase) + pendingRecords + 1;
  if (number > 0xFFFFFFFFll) throw TableError("Table '" + file.path() + "' is full");
  for (auto& [f, next] : autoNext) {
    codec::put_long7(rec.data() + f->offset, static_cast<std::int32_t>(next));
    ++next;
  }
  return number;
}

namespace {

// Tables up to this many records have the memo space their records no longer use found and
// reused when a record's memo is rewritten; larger ones append, as dBase does.
constexpr std::uint32_t kMaxMemoReuseRecords = 20000;

}  // namespace

std::vector<std::pair<std::uint64_t, std::uint64_t>> DbfTable::Impl::unusedMemoRuns() {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> used, runs;
  if (!memo || memo->kind() != MemoKind::Dbt4 || knownCount > kMaxMemoReuseRecords) return runs;
  // Another open may hold appended records back (write-behind) whose memos are already on
  // disk: space that looks unused may be theirs.
  if (openLock.othersHold(file.handle())) return runs;
  // The records as they are on disk: the one being changed still points at its old memos,
  // which must survive until its new image is written.
  std::vector<char> buf(static_cast<size_t>(hdr.recordLength));
  for (std::int64_t n = 1; n <= static_cast<std::int64_t>(knownCount); ++n) {
    if (!loadRecord(n, buf.data())) return {};
    for (size_t i = 0; i < layoutOf.size(); ++i) {
      if (!memoField[i]) continue;
      std::uint64_t block = 0;
      if (!codec::get_memo_block(buf.data() + layoutOf[i]->offset, layoutOf[i]->def.length,
                                 block) ||
          block == 0)
        continue;
      std::uint64_t blocks = memo->extent(block);
      if (blocks == 0) return {};  // a memo we cannot measure: reuse nothing
      used.emplace_back(block, block + blocks);
    }
  }
  std::sort(used.begin(), used.end());
  std::uint64_t at = 1;
  for (const auto& [from, to] : used) {
    if (from > at) runs.emplace_back(at, from);
    at = std::max(at, to);
  }
  const std::uint64_t end = memo->endBlock();
  if (end > at) runs.emplace_back(at, end);
  return runs;
}

void DbfTable::Impl::writeMemos() {
  if (!anyMemoPending) return;
  // Rewriting a record's memos leaves the old ones unused; they are taken again by a later
  // rewrite, so that a table whose memos change at every use does not grow without end.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
  if (st == TableState::Edit) runs = unusedMemoRuns();
  for (size_t i = 0; i < memoPending.size(); ++i) {
    if (!memoPending[i]) continue;
    const FieldLayout& f = *layoutOf[i];
    std::uint64_t block = 0;
    if (!memoPending[i]->empty()) {
      if (!memo)
        throw TableError("Table '" + file.path() + "' has no memo file for field '" + f.def.name +
                         "'");
      const std::uint64_t need = memo->blocksFor(memoPending[i]->size());
      auto fit = std::find_if(runs.begin(), runs.end(),
                              [&](const auto& r) { return r.second - r.first >= need; });
      if (fit != runs.end()) {
        block = fit->first;
        memo->writeInto(block, *memoPending[i]);
        fit->first += need;
      } else {
        block = memo->append(*memoPending[i]);
      }
    }
    codec::put_memo_block(rec.data() + f.offset, f.def.length, block,
                          hdr.dialect == Dialect::Level7);
  }
}

}  // namespace qm::tables
