// Positioned, unbuffered access to one table or memo file. Unbuffered so that every write
// reaches the operating system at once: a killed process leaves on disk exactly what was
// written before it died, in the order written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qm::tables {

class RandomFile {
 public:
  RandomFile();
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
  // Cuts the file to size bytes; raises TableError on failure.
  void truncate(std::uint64_t size);
  // Starts writing bytes [from, to) to the disk without waiting for them; every so many bytes
  // a sync on a thread of its own too, so that the last sync waits for the tail alone.
  void startWriteBack(std::uint64_t from, std::uint64_t to);
  // Waits for that sync; raises TableError when one failed, which a later sync of the file may
  // no longer report.
  void finishWriteBack();
  // The open file, for the operating-system locks on it.
  std::FILE* handle() const { return f_; }

 private:
  struct Syncer;
  void seek(std::uint64_t off);
  std::FILE* f_ = nullptr;
  std::unique_ptr<Syncer> syncer_;
  std::uint64_t syncedTo_ = 0;
  std::string path_;
  bool writable_ = false;
};

}  // namespace qm::tables
