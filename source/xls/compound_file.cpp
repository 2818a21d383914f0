#include "source/xls/compound_file.h"

#include <algorithm>
#include <cstring>

namespace qm::source::xls {
namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::size_t kHeaderDifat = 109;

std::uint16_t u16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t u32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

char16_t fold(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

bool same_name(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

}  // namespace

CompoundFile::CompoundFile(std::string_view bytes) : bytes_(bytes) {
  static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (bytes_.size() < 512 || std::memcmp(bytes_.data(), sig, 8) != 0)
    throw ContainerError("it is not an Excel 97-2003 workbook (its container header is invalid)");
  std::uint16_t major = u16(bytes_, 26);
  std::uint16_t shift = u16(bytes_, 30);
  std::uint16_t miniShift = u16(bytes_, 32);
  if (u16(bytes_, 28) != 0xFFFE || !((major == 3 && shift == 9) || (major == 4 && shift == 12)) ||
      miniShift != 6)
    throw ContainerError("it is not an Excel 97-2003 workbook (its container header is invalid)");
  sectorSize_ = 1u << shift;
  miniSectorSize_ = 1u << miniShift;
  miniCutoff_ = u32(bytes_, 56);
  if (bytes_.size() <= sectorSize_) throw ContainerError("the file ends early (it is truncated)");
  // A last sector cut short still counts; reading past its end is caught where it happens.
  sectorCount_ = (bytes_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;

  // The allocation table's own sectors: 109 in the header, the rest in a chain of their own.
  std::uint32_t fatSectors = u32(bytes_, 44);
  if (fatSectors == 0 || fatSectors > sectorCount_)
    throw ContainerError("its container is damaged (the allocation table size is impossible)");
  std::vector<std::uint32_t> fatIds;
  fatIds.reserve(fatSectors);
  for (std::size_t i = 0; i < kHeaderDifat && fatIds.size() < fatSectors; ++i)
    fatIds.push_back(u32(bytes_, 76 + 4 * i));
  std::uint32_t difat = u32(bytes_, 68);
  const std::uint32_t perDifat = sectorSize_ / 4 - 1;
  for (std::uint64_t walked = 0; fatIds.size() < fatSectors; ++walked) {
    if (difat >= sectorCount_ || walked >= sectorCount_)
      throw ContainerError("its container is damaged (the allocation table list is broken)");
    std::string_view s = sector(difat);
    if (s.size() < sectorSize_) throw ContainerError("the file ends early (it is truncated)");
    for (std::uint32_t i = 0; i < perDifat && fatIds.size() < fatSectors; ++i)
      fatIds.push_back(u32(s, 4 * i));
    difat = u32(s, 4 * perDifat);
  }
  fat_.reserve(static_cast<std::size_t>(fatSectors) * (sectorSize_ / 4));
  for (std::uint32_t id : fatIds) {
    if (id >= sectorCount_)
      throw ContainerError("its container is damaged (an allocation table sector lies outside it)");
    std::string_view s = sector(id);
    if (s.size() < sectorSize_) throw ContainerError("the file ends early (it is truncated)");
    for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(u32(s, 4 * i));
  }

  // The directory: 128-byte entries in a chain of sectors.
  std::vector<std::uint32_t> dir = chain(fat_, u32(bytes_, 48), sectorCount_, "directory");
  for (std::uint32_t id : dir) {
    std::string_view s = sector(id);
    for (std::size_t at = 0; at + 128 <= s.size(); at += 128) {
      Entry e;
      std::uint16_t nameBytes = std::min<std::uint16_t>(u16(s, at + 64), 64);
      for (std::size_t k = 0; k + 1 < nameBytes; k += 2) {
        char16_t c = static_cast<char16_t>(u16(s, at + k));
        if (c == 0) break;
        e.name.push_back(c);
      }
      e.type = static_cast<std::uint8_t>(s[at + 66]);
      e.start = u32(s, at + 116);
      e.size = u32(s, at + 120);
      // Version 3 files leave the high half of the size undefined.
      if (major == 4) e.size |= static_cast<std::uint64_t>(u32(s, at + 124)) << 32;
      entries_.push_back(std::move(e));
    }
  }
  if (entries_.empty() || entries_[0].type != 5)
    throw ContainerError("its container is damaged (the directory has no root)");

  std::uint32_t miniFatSectors = u32(bytes_, 64);
  if (miniFatSectors > 0) {
    std::vector<std::uint32_t> ids =
        chain(fat_, u32(bytes_, 60), std::min<std::uint64_t>(miniFatSectors, sectorCount_),
              "small-block table");
    for (std::uint32_t id : ids) {
      std::string_view s = sector(id);
      if (s.size() < sectorSize_) throw ContainerError("the file ends early (it is truncated)");
      for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i) miniFat_.push_back(u32(s, 4 * i));
    }
  }
}

std::string_view CompoundFile::sector(std::uint32_t id) const {
  std::uint64_t at = (static_cast<std::uint64_t>(id) + 1) * sectorSize_;
  if (at >= bytes_.size()) return {};
  return bytes_.substr(static_cast<std::size_t>(at), sectorSize_);
}

std::vector<std::uint32_t> CompoundFile::chain(const std::vector<std::uint32_t>& table,
                                               std::uint32_t start, std::uint64_t limit,
                                               const char* what) const {
  std::vector<std::uint32_t> ids;
  std::vector<bool> seen(table.size());
  std::uint32_t id = start;
  while (id != kEndOfChain && ids.size() < limit) {
    if (id >= table.size())
      throw ContainerError(std::string("its container is damaged (the ") + what +
                           " chain points outside the file)");
    if (seen[id])
      throw ContainerError(std::string("its container is damaged (the ") + what +
                           " chain runs in a circle)");
    seen[id] = true;
    ids.push_back(id);
    id = table[id];
  }
  return ids;
}

std::vector<std::uint32_t> CompoundFile::stream_sectors(std::uint32_t start,
                                                        std::uint64_t size) const {
  if (size > static_cast<std::uint64_t>(sectorCount_) * sectorSize_)
    throw ContainerError(
        "the file is truncated or its container damaged (a stream is larger than the file)");
  std::uint64_t need = (size + sectorSize_ - 1) / sectorSize_;
  std::vector<std::uint32_t> ids = chain(fat_, start, need, "stream");
  if (ids.size() < need) throw ContainerError("its container is damaged (a stream ends early)");
  std::uint64_t left = size;
  for (std::uint32_t id : ids) {
    if (id >= sectorCount_)
      throw ContainerError("its container is damaged (a stream lies outside the file)");
    std::uint64_t take = std::min<std::uint64_t>(sectorSize_, left);
    if (sector(id).size() < take) throw ContainerError("the file ends early (it is truncated)");
    left -= take;
  }
  return ids;
}

std::string CompoundFile::read_chain(std::uint32_t start, std::uint64_t size) const {
  std::vector<std::uint32_t> ids = stream_sectors(start, size);
  std::string out;
  out.reserve(static_cast<std::size_t>(size));
  for (std::uint32_t id : ids) {
    std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(sectorSize_, size - out.size()));
    out.append(sector(id).substr(0, take));
  }
  return out;
}

std::string CompoundFile::read_mini(std::uint32_t start, std::uint64_t size) const {
  std::uint64_t need = (size + miniSectorSize_ - 1) / miniSectorSize_;
  std::vector<std::uint32_t> ids = chain(miniFat_, start, need, "small-block");
  if (ids.size() < need) throw ContainerError("its container is damaged (a stream ends early)");
  std::string out;
  out.reserve(static_cast<std::size_t>(size));
  for (std::uint32_t id : ids) {
    std::uint64_t at = static_cast<std::uint64_t>(id) * miniSectorSize_;
    std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(miniSectorSize_, size - out.size()));
    if (at + take > miniStream_.size())
      throw ContainerError("its container is damaged (a small block lies outside its stream)");
    out.append(miniStream_, static_cast<std::size_t>(at), take);
  }
  return out;
}

std::optional<std::string> CompoundFile::stream(const std::vector<std::u16string>& names) const {
  for (const std::u16string& want : names) {
    for (const Entry& e : entries_) {
      if (e.type != 2 || !same_name(e.name, want)) continue;
      if (e.size >= miniCutoff_) return read_chain(e.start, e.size);
      if (miniStream_.empty() && entries_[0].size > 0)
        miniStream_ = read_chain(entries_[0].start, entries_[0].size);
      return read_mini(e.start, e.size);
    }
  }
  return std::nullopt;
}

std::optional<std::string> CompoundFile::take_stream(const std::vector<std::u16string>& names,
                                                     std::string& bytes) {
  for (const std::u16string& want : names) {
    for (const Entry& e : entries_) {
      if (e.type != 2 || !same_name(e.name, want)) continue;
      if (e.size < miniCutoff_ || bytes.data() != bytes_.data()) return stream(names);
      std::vector<std::uint32_t> ids = stream_sectors(e.start, e.size);
      if (!std::is_sorted(ids.begin(), ids.end())) return stream(names);
      // Sector k moves to offset k * size from (id + 1) * size, never forward, as the ids
      // rise (each at least k): what a later move reads is not yet overwritten.
      std::uint64_t done = 0;
      for (std::uint32_t id : ids) {
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(sectorSize_, e.size - done));
        std::memmove(bytes.data() + done,
                     bytes.data() + (static_cast<std::uint64_t>(id) + 1) * sectorSize_, take);
        done += take;
      }
      bytes.resize(static_cast<std::size_t>(e.size));
      bytes_ = {};
      return std::move(bytes);
    }
  }
  return std::nullopt;
}

}  // namespace qm::source::xls
