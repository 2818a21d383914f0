// Positioned, unbuffered access to one table or memo file. Unbuffered so that every write
// reaches the operating system at once: a killed process leaves on disk exactly what was
// written before it died, in the order written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace qm::tables {

class RandomFile {
 public:
  RandomFile() = default;
  ~RandomFile();
  RandomFile(const RandomFile&) = delete;
  RandomFile& operator=(const RandomFile&) = delete;

  // Opens an existing file, for writing when asked (falling back to reading when the file
  // may not be written). Returns false when the file cannot be opened at all.
  bool open(const std::string& path, bool forWriting);
  // Creates (or empties) a file for reading and writing; raises TableError on failure.
  void create(const std::string& path);
  void close();
  bool isOpen() const { return f_ != nullptr; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  std::uint64_t size();
  // Reads up to n bytes at off; returns how many were read.
  std::size_t readSome(std::uint64_t off, void* buf, std::size_t n);
  // Reads exactly n bytes or raises TableError naming the file.
  void readAt(std::uint64_t off, void* buf, std::size_t n);
  void writeAt(std::uint64_t off, const void* buf, std::size_t n);

  // Bulk appends: the pieces are written in order on a second thread while the caller goes on
  // filling its next batch. Every other call on this file first waits for them, and the first
  // to do so raises their error, so the file's order of writes and its errors are those of
  // writeAt. Only one batch is in flight: a second call waits for the first.
  struct Piece {
    std::uint64_t off = 0;
    std::vector<char> bytes;
  };
  void writeInBackground(std::vector<Piece> pieces);
  // The largest buffer of the batch written last, emptied, for the next batch to reuse.
  std::vector<char> takeSpareBuffer();
  // Waits for the batch in flight and raises its error.
  void settle();

 private:
  void seek(std::uint64_t off);
  void writeNow(std::uint64_t off, const void* buf, std::size_t n);
  std::thread writer_;
  std::vector<Piece> inFlight_;
  std::exception_ptr writeError_;
  std::vector<char> spare_;
  std::FILE* f_ = nullptr;
  std::string path_;
  bool writable_ = false;
};

}  // namespace qm::tables
