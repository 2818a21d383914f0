// The zip package of a workbook, read through libzip. Parts are found by name without regard
// to case (package part names are case-insensitive) and read as bounded streams: the inflated
// bytes are counted as they arrive and a part that inflates beyond the limits is refused. A
// deflated part's packed bytes are inflated here (with ISA-L where the build has it) and its
// CRC-32 and size checked against the directory; other parts are left to libzip.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "source/xlsx/inflate.h"
#include "source/xlsx/xlsx_reader.h"

struct zip;

namespace qm::source::xlsx {

class PartStream;
class EntryReader;

class ZipArchive {
 public:
  static std::shared_ptr<ZipArchive> open_file(const std::string& path, const Limits& limits,
                                               InflaterKind inflater = fastest_inflater());
  static std::shared_ptr<ZipArchive> open_bytes(const std::string& name, std::string bytes,
                                                const Limits& limits,
                                                InflaterKind inflater = fastest_inflater());
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Index of the part with this name ("xl/workbook.xml"), found without regard to case and
  // also when the package writes "\" for "/".
  std::optional<std::uint64_t> find(const std::string& name) const;
  // Opens a part for reading; where names it in messages ("sheet \"Prices\""). A large part
  // (by the size the directory gives) is inflated ahead on a second thread, through a handle
  // of the package of its own, so that inflating and parsing overlap.
  std::unique_ptr<PartStream> open(std::uint64_t index, std::string where) const;

  const std::string& file() const { return file_; }
  const Limits& limits() const { return limits_; }

 private:
  ZipArchive(std::string file, const Limits& limits, InflaterKind inflater)
      : file_(std::move(file)), limits_(limits), inflater_(inflater) {}
  // The entry's bytes through handle z, inflated here when they are deflated; null when libzip
  // cannot open it.
  std::unique_ptr<EntryReader> open_entry(zip* z, std::uint64_t index) const;
  // Another handle of the same package, for a thread of its own (libzip handles are not shared
  // between threads); null when it cannot be opened.
  zip* reopen() const;
  std::string file_;
  Limits limits_;
  InflaterKind inflater_;
  std::string bytes_;  // the package when read from memory
  bool fromBytes_ = false;
  zip* zip_ = nullptr;
  std::uint64_t fileSize_ = 0;
};

class ReadAhead;

class PartStream {
 public:
  ~PartStream();
  PartStream(const PartStream&) = delete;
  PartStream& operator=(const PartStream&) = delete;
  // Reads up to size bytes; 0 at the end of the part. Raises on damaged data and on a part
  // that inflates beyond the limits.
  std::size_t read(char* buffer, std::size_t size);
  const std::string& name() const { return name_; }
  const std::string& where() const { return where_; }
  const std::string& file() const { return archive_->file(); }
  // True when the part is read through a package handle of its own (a large part), so that
  // reading it on another thread does not share libzip's state with the rest of the package.
  bool ownHandle() const { return ahead_ != nullptr; }

 private:
  friend class ZipArchive;
  PartStream() = default;
  const ZipArchive* archive_ = nullptr;
  std::unique_ptr<EntryReader> entry_;
  std::unique_ptr<ReadAhead> ahead_;  // instead of entry_, for a large part
  std::string name_, where_;
  std::uint64_t packed_ = 0, inflated_ = 0;
};

}  // namespace qm::source::xlsx
