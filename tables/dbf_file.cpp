#include "tables/dbf_file.h"

#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/error.h"
#include "core/platform.h"

namespace qm::tables {

// A virtual disk keeps what it is sent in the host's cache until it is told to sync; told only
// at the end, the build waited 0.3 s for 640 MB there. Synced every 16 MiB, the last sync
// waits for its 16 MiB alone, while the build goes on writing (64 MiB left a 0.03 s wait).
struct RandomFile::Syncer {
  static constexpr std::uint64_t kStep = std::uint64_t{16} << 20;

  explicit Syncer(std::FILE* f) : thread([this, f] { run(f); }) {}
  ~Syncer() { finish(); }
  // Lets a sync asked for run, then stops; true when every sync went well.
  bool finish() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_one();
    if (thread.joinable()) thread.join();
    return !failed;
  }
  void ask() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      asked = true;
    }
    wake.notify_one();
  }
  void run(std::FILE* f) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return asked || stop; });
      if (!asked) return;
      asked = false;
      lock.unlock();
      const bool synced = platform::sync_open_file(f);
      lock.lock();
      failed = failed || !synced;
    }
  }

  std::mutex mutex;
  std::condition_variable wake;
  bool asked = false, stop = false, failed = false;
  std::thread thread;  // last: it starts once the rest is in place
};

RandomFile::RandomFile() = default;

RandomFile::~RandomFile() {
  close();
}

bool RandomFile::open(const std::string& path, bool forWriting) {
  close();
  path_ = path;
  if (forWriting) {
    f_ = platform::open_file(path, "r+b");
    writable_ = f_ != nullptr;
  }
  if (!f_) f_ = platform::open_file(path, "rb");
  if (f_) std::setvbuf(f_, nullptr, _IONBF, 0);
  return f_ != nullptr;
}

void RandomFile::create(const std::string& path) {
  close();
  path_ = path;
  f_ = platform::open_file(path, "w+b");
  if (!f_) throw TableError("Cannot create file '" + path + "'");
  std::setvbuf(f_, nullptr, _IONBF, 0);
  writable_ = true;
}

void RandomFile::close() {
  // Before the file goes: the syncer's thread works on it.
  syncer_.reset();
  syncedTo_ = 0;
  if (f_) std::fclose(f_);
  f_ = nullptr;
  writable_ = false;
}

void RandomFile::seek(std::uint64_t off) {
  // long is 64 bits on the platforms we build for; refuse what it cannot address.
  if (off > static_cast<std::uint64_t>(LONG_MAX) ||
      std::fseek(f_, static_cast<long>(off), SEEK_SET) != 0)
    throw TableError("Cannot position in file '" + path_ + "'");
}

std::uint64_t RandomFile::size() {
  if (!f_ || std::fseek(f_, 0, SEEK_END) != 0)
    throw TableError("Cannot read the size of file '" + path_ + "'");
  long n = std::ftell(f_);
  if (n < 0) throw TableError("Cannot read the size of file '" + path_ + "'");
  return static_cast<std::uint64_t>(n);
}

std::size_t RandomFile::readSome(std::uint64_t off, void* buf, std::size_t n) {
  if (!f_) throw TableError("File '" + path_ + "' is not open");
  if (n == 0) return 0;
  seek(off);
  return std::fread(buf, 1, n, f_);
}

void RandomFile::readAt(std::uint64_t off, void* buf, std::size_t n) {
  if (readSome(off, buf, n) != n)
    throw TableError("Unexpected end of file '" + path_ + "' at offset " + std::to_string(off));
}

void RandomFile::writeAt(std::uint64_t off, const void* buf, std::size_t n) {
  if (!f_ || !writable_) throw TableError("File '" + path_ + "' is read-only");
  if (n == 0) return;
  seek(off);
  if (std::fwrite(buf, 1, n, f_) != n || std::fflush(f_) != 0)
    throw TableError("Cannot write to file '" + path_ + "' (disk full?)");
}

void RandomFile::startWriteBack(std::uint64_t from, std::uint64_t to) {
  if (!f_ || !writable_) return;
  platform::start_writing_to_disk(f_, from, to);
  if (to < syncedTo_ + Syncer::kStep) return;
  if (!syncer_) syncer_ = std::make_unique<Syncer>(f_);
  syncer_->ask();
  syncedTo_ = to;
}

void RandomFile::finishWriteBack() {
  if (!syncer_) return;
  const bool synced = syncer_->finish();
  syncer_.reset();
  syncedTo_ = 0;
  if (!synced) throw TableError("Cannot write to file '" + path_ + "' (disk full?)");
}

void RandomFile::truncate(std::uint64_t size) {
  if (!f_ || !writable_ || !platform::truncate_open_file(f_, size))
    throw TableError("Cannot write to file '" + path_ + "' (disk full?)");
}

}  // namespace qm::tables
