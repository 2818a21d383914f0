// The compound file container of Excel 97-2003 workbooks (the "OLE2" structured storage): a
// file of fixed-size sectors, a sector allocation table that chains them into streams, and a
// directory that names the streams. Only reading one named stream is needed. Every sector
// number, chain and size comes from the file, so each is checked against the file's real size
// before it is followed, and chains are walked at most once round the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::source::xls {

// What is wrong with a container, as words for the user ("its container is damaged: ...").
class ContainerError {
 public:
  explicit ContainerError(std::string what) : what_(std::move(what)) {}
  const std::string& what() const { return what_; }

 private:
  std::string what_;
};

class CompoundFile {
 public:
  // Reads the header, the allocation tables and the directory of the file's bytes (kept by
  // reference: they must outlive the object). Raises ContainerError.
  explicit CompoundFile(std::string_view bytes);

  // The bytes of the first stream with one of these names (compared without regard to case),
  // or nothing when there is none. Raises ContainerError for a damaged chain.
  std::optional<std::string> stream(const std::vector<std::u16string>& names) const;
  // The same, taken out of bytes (the very buffer the object reads) where it can be: a
  // stream whose sectors lie in rising order is moved together in place and the buffer
  // handed back as the stream, so that a large workbook is not held twice. The object reads
  // nothing after that.
  std::optional<std::string> take_stream(const std::vector<std::u16string>& names,
                                         std::string& bytes);

 private:
  struct Entry {
    std::u16string name;
    std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
    std::uint32_t start = 0;
    std::uint64_t size = 0;
  };

  std::string_view sector(std::uint32_t id) const;
  // The sectors of a chain through table, beginning at start; at most limit sectors.
  std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                   std::uint64_t limit, const char* what) const;
  // A stream's sectors, each checked to lie whole inside the file.
  std::vector<std::uint32_t> stream_sectors(std::uint32_t start, std::uint64_t size) const;
  std::string read_chain(std::uint32_t start, std::uint64_t size) const;
  std::string read_mini(std::uint32_t start, std::uint64_t size) const;

  std::string_view bytes_;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniSectorSize_ = 64;
  std::uint32_t miniCutoff_ = 4096;
  std::uint64_t sectorCount_ = 0;  // whole sectors in the file after the header
  std::vector<std::uint32_t> fat_, miniFat_;
  std::vector<Entry> entries_;
  mutable std::string miniStream_;  // read when a small stream is first asked for
};

}  // namespace qm::source::xls
