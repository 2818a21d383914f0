#include "source/xlsx/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "source/xlsx/errors.h"

namespace qm::source::xlsx {
namespace {

std::string lower_slashes(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return r;
}

std::string zip_error_text(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string s = zip_error_strerror(&e);
  zip_error_fini(&e);
  return s;
}

bool starts_like_ole2(std::string_view head) {
  static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return head.size() >= 8 && std::equal(sig, sig + 8, head.begin(), [](unsigned char a, char b) {
           return a == static_cast<unsigned char>(b);
         });
}

// Words for the package failures a user meets: a file that is not a workbook of this kind,
// one cut short by a copy or download, one that cannot be opened at all.
[[noreturn]] void raise_open_error(const std::string& file, int code, std::string_view head,
                                   std::uint64_t size) {
  if (size == 0) raise(file, "", "the file is empty");
  if (starts_like_ole2(head)) {
    raise(file, "",
          "the file is an older Excel workbook (.xls) or a password-protected one, not an "
          "Excel 2007 (.xlsx) workbook");
  }
  switch (code) {
    case ZIP_ER_NOZIP:
      // A package cut short keeps its first entry's signature but loses the directory at the end.
      if (head.substr(0, 4) == std::string_view("PK\x03\x04", 4)) {
        raise(file, "", "the zip package is damaged or incomplete (its directory is missing)");
      }
      raise(file, "", "the file is not an Excel 2007 (.xlsx) workbook (it is not a zip package)");
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_SEEK:
    case ZIP_ER_READ:
      raise(file, "", "the zip package is damaged or incomplete (" + zip_error_text(code) + ")");
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
      raise(file, "", "the file cannot be opened (" + zip_error_text(code) + ")");
    default:
      raise(file, "", "the zip package cannot be read (" + zip_error_text(code) + ")");
  }
}

// Parts smaller than this are inflated as the parser asks: a thread is not worth it for them.
constexpr std::uint64_t kReadAheadFrom = 4u << 20;
constexpr std::size_t kAheadChunk = 256 * 1024;
constexpr std::size_t kAheadChunks = 4;  // inflated and not yet taken: at most 1 MiB

}  // namespace

// One entry's bytes as they come out, read as zip_fread reads: bytes, 0 at the end, -1 for
// damage (error() says which). A deflated entry's packed bytes are taken from libzip and
// inflated here, and what comes out must match the directory's CRC-32 and size; any other
// entry (stored, or packed some rarer way) is read through libzip's own layers.
class EntryReader {
 public:
  EntryReader(zip_file* file, std::unique_ptr<Inflater> inflater, std::uint32_t crc,
              std::uint64_t size)
      : file_(file), inflater_(std::move(inflater)), crc_(crc), size_(size) {
    if (inflater_) in_.resize(kPackedChunk);
  }
  ~EntryReader() { zip_fclose(file_); }
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  zip_int64_t read(char* buffer, std::size_t size) {
    if (!inflater_) {
      zip_int64_t n = zip_fread(file_, buffer, size);
      if (n < 0) error_ = zip_file_strerror(file_);
      return n;
    }
    if (failed_) return -1;
    if (ended_ || size == 0) return 0;
    std::size_t made = 0;
    while (made < size) {
      if (at_ == end_ && !packedEnded_) {
        zip_int64_t n = zip_fread(file_, in_.data(), in_.size());
        if (n < 0) return fail(zip_file_strerror(file_));
        at_ = 0;
        end_ = static_cast<std::size_t>(n);
        packedEnded_ = n == 0;
      }
      std::size_t used = 0, out = 0;
      Inflater::Status st =
          inflater_->inflate(in_.data() + at_, end_ - at_, used, buffer + made, size - made, out);
      at_ += used;
      made += out;
      inflated_ += out;
      if (st == Inflater::Status::Damaged) return fail(inflater_->error());
      if (inflated_ > size_) return fail("the entry is longer than the package's directory says");
      if (st == Inflater::Status::End) {
        if (inflated_ != size_)
          return fail("the entry is shorter than the package's directory says");
        if (inflater_->crc() != crc_) return fail("CRC error");
        ended_ = true;
        break;
      }
      // No progress with the packed bytes all taken: the stream stops before its last block.
      if (used == 0 && out == 0 && (packedEnded_ || at_ < end_))
        return fail("the packed data ends early");
    }
    return static_cast<zip_int64_t>(made);
  }
  const std::string& error() const { return error_; }

 private:
  static constexpr std::size_t kPackedChunk = 64 * 1024;
  zip_int64_t fail(std::string why) {
    failed_ = true;
    error_ = std::move(why);
    return -1;
  }

  zip_file* file_;
  std::unique_ptr<Inflater> inflater_;  // null: libzip inflates
  std::uint32_t crc_;
  std::uint64_t size_, inflated_ = 0;
  std::vector<char> in_;
  std::size_t at_ = 0, end_ = 0;
  bool packedEnded_ = false, ended_ = false, failed_ = false;
  std::string error_;
};

// Inflates one part on a thread of its own, into a few buffers that the reader takes in turn;
// the thread waits while they are all full, so memory stays bounded. It owns its own handle of
// the package. Damage is reported at the point of the part where it was met.
class ReadAhead {
 public:
  ReadAhead(zip* archive, std::unique_ptr<EntryReader> entry)
      : zip_(archive), entry_(std::move(entry)) {
    worker_ = std::thread([this] { work(); });
  }
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    worker_.join();
    entry_.reset();
    zip_discard(zip_);
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // As EntryReader::read.
  zip_int64_t read(char* buffer, std::size_t size) {
    if (at_ == current_.size()) {
      std::unique_lock<std::mutex> lock(m_);
      if (current_.capacity() > 0) spare_.push_back(std::move(current_));
      current_.clear();
      at_ = 0;
      cv_.notify_all();
      cv_.wait(lock, [&] { return !full_.empty() || finished_; });
      if (full_.empty()) return failed_ ? -1 : 0;
      current_ = std::move(full_.front());
      full_.pop_front();
      cv_.notify_all();
    }
    std::size_t n = std::min(size, current_.size() - at_);
    std::memcpy(buffer, current_.data() + at_, n);
    at_ += n;
    return static_cast<zip_int64_t>(n);
  }
  const std::string& error() const { return error_; }

 private:
  void work() {
    try {
      for (;;) {
        std::vector<char> chunk;
        {
          std::unique_lock<std::mutex> lock(m_);
          cv_.wait(lock, [&] { return stop_ || full_.size() < kAheadChunks; });
          if (stop_) return;
          if (!spare_.empty()) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
          }
        }
        chunk.resize(kAheadChunk);
        zip_int64_t n = entry_->read(chunk.data(), chunk.size());
        std::lock_guard<std::mutex> lock(m_);
        if (n <= 0) {
          if (n < 0) {
            failed_ = true;
            error_ = entry_->error();
          }
          finished_ = true;
          cv_.notify_all();
          return;
        }
        chunk.resize(static_cast<std::size_t>(n));
        full_.push_back(std::move(chunk));
        cv_.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(m_);
      failed_ = finished_ = true;
      error_ = "out of memory";
      cv_.notify_all();
    }
  }

  zip* zip_;
  std::unique_ptr<EntryReader> entry_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::vector<char>> full_;  // inflated, in order
  std::vector<std::vector<char>> spare_;
  bool stop_ = false, finished_ = false, failed_ = false;
  std::string error_;
  // The reader's side, touched by the reader only.
  std::vector<char> current_;
  std::size_t at_ = 0;
  std::thread worker_;
};

zip* ZipArchive::reopen() const {
  if (!fromBytes_) {
    int err = 0;
    return zip_open(file_.c_str(), ZIP_RDONLY, &err);
  }
  zip_error_t e;
  zip_error_init(&e);
  zip_source_t* src = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &e);
  zip* z = src ? zip_open_from_source(src, ZIP_RDONLY, &e) : nullptr;
  if (src && !z) zip_source_free(src);
  zip_error_fini(&e);
  return z;
}

std::shared_ptr<ZipArchive> ZipArchive::open_file(const std::string& path, const Limits& limits,
                                                  InflaterKind inflater) {
  std::shared_ptr<ZipArchive> a(new ZipArchive(path, limits, inflater));
  std::string head(8, '\0');
  {
    std::ifstream in(to_fs_path(path), std::ios::binary);
    if (!in) raise(path, "", "the file cannot be opened");
    in.read(head.data(), 8);
    head.resize(static_cast<std::size_t>(in.gcount()));
    in.seekg(0, std::ios::end);
    a->fileSize_ = static_cast<std::uint64_t>(std::max<std::streamoff>(0, in.tellg()));
  }
  if (a->fileSize_ == 0) raise_open_error(path, ZIP_ER_NOZIP, head, 0);
  int err = 0;
  a->zip_ = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!a->zip_) raise_open_error(path, err, head, a->fileSize_);
  return a;
}

std::shared_ptr<ZipArchive> ZipArchive::open_bytes(const std::string& name, std::string bytes,
                                                   const Limits& limits, InflaterKind inflater) {
  std::shared_ptr<ZipArchive> a(new ZipArchive(name, limits, inflater));
  a->bytes_ = std::move(bytes);
  a->fromBytes_ = true;
  a->fileSize_ = a->bytes_.size();
  if (a->fileSize_ == 0) raise_open_error(name, ZIP_ER_NOZIP, "", 0);
  zip_error_t e;
  zip_error_init(&e);
  zip_source_t* src = zip_source_buffer_create(a->bytes_.data(), a->bytes_.size(), 0, &e);
  if (!src) {
    zip_error_fini(&e);
    raise(name, "", "out of memory");
  }
  a->zip_ = zip_open_from_source(src, ZIP_RDONLY, &e);
  if (!a->zip_) {
    int code = zip_error_code_zip(&e);
    zip_error_fini(&e);
    zip_source_free(src);
    raise_open_error(name, code, a->bytes_, a->fileSize_);
  }
  zip_error_fini(&e);
  return a;
}

ZipArchive::~ZipArchive() {
  if (zip_) zip_discard(zip_);
}

std::optional<std::uint64_t> ZipArchive::find(const std::string& name) const {
  zip_int64_t i = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
  if (i >= 0) return static_cast<std::uint64_t>(i);
  // Some writers store "xl\worksheets\sheet1.xml"; the central directory has to be walked for
  // those, which only happens for a part the quick look did not find.
  std::string want = lower_slashes(name);
  zip_int64_t n = zip_get_num_entries(zip_, 0);
  for (zip_int64_t k = 0; k < n; ++k) {
    const char* entry = zip_get_name(zip_, static_cast<zip_uint64_t>(k), 0);
    if (entry && lower_slashes(entry) == want) return static_cast<std::uint64_t>(k);
  }
  return std::nullopt;
}

std::unique_ptr<EntryReader> ZipArchive::open_entry(zip* z, std::uint64_t index) const {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(z, index, 0, &st) != 0) return nullptr;
  const zip_uint64_t needed =
      ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
  bool deflated = (st.valid & needed) == needed && st.comp_method == ZIP_CM_DEFLATE &&
                  st.encryption_method == ZIP_EM_NONE;
  zip_file* f = zip_fopen_index(z, index, deflated ? ZIP_FL_COMPRESSED : 0);
  if (!f) return nullptr;
  return std::make_unique<EntryReader>(f, deflated ? Inflater::make(inflater_) : nullptr, st.crc,
                                       st.size);
}

std::unique_ptr<PartStream> ZipArchive::open(std::uint64_t index, std::string where) const {
  std::unique_ptr<PartStream> s(new PartStream);
  s->archive_ = this;
  s->where_ = std::move(where);
  const char* n = zip_get_name(zip_, index, 0);
  s->name_ = n ? n : "?";
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip_, index, 0, &st) != 0) {
    raise(file_, s->where_,
          "the package entry " + s->name_ + " cannot be read (" + std::string(zip_strerror(zip_)) +
              ")");
  }
  // The packed size is taken from the directory, which may lie; it is only used to judge the
  // inflation ratio, and never more than the file's real size counts.
  std::uint64_t packed = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : fileSize_;
  s->packed_ = std::max<std::uint64_t>(1, std::min(packed, fileSize_));
  if ((st.valid & ZIP_STAT_SIZE) && st.size >= kReadAheadFrom) {
    // What the directory says only chooses the way of reading; the limits count real bytes.
    if (zip* other = reopen()) {
      if (auto entry = open_entry(other, index)) {
        s->ahead_ = std::make_unique<ReadAhead>(other, std::move(entry));
        return s;
      }
      zip_discard(other);
    }
  }
  s->entry_ = open_entry(zip_, index);
  if (!s->entry_) {
    raise(file_, s->where_,
          "the package entry " + s->name_ + " cannot be opened (" +
              std::string(zip_strerror(zip_)) + ")");
  }
  return s;
}

PartStream::~PartStream() = default;

std::size_t PartStream::read(char* buffer, std::size_t size) {
  zip_int64_t n = ahead_ ? ahead_->read(buffer, size) : entry_->read(buffer, size);
  if (n < 0) {
    raise(file(), where_,
          "the package entry " + name_ + " is damaged (" +
              (ahead_ ? ahead_->error() : entry_->error()) + ")");
  }
  inflated_ += static_cast<std::uint64_t>(n);
  const Limits& lim = archive_->limits();
  if (inflated_ > lim.maxPartBytes) {
    raise(file(), where_,
          "the package entry " + name_ + " inflates to more than " +
              std::to_string(lim.maxPartBytes >> 20) + " MiB, which no workbook needs");
  }
  if (inflated_ > lim.ratioFreeBytes && inflated_ / packed_ > lim.maxRatio) {
    raise(file(), where_,
          "the package entry " + name_ + " inflates to more than " + std::to_string(lim.maxRatio) +
              " times its packed size of " + std::to_string(packed_) + " bytes (a zip bomb?)");
  }
  return static_cast<std::size_t>(n);
}

}  // namespace qm::source::xlsx
