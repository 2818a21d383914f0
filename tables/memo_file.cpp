#include "tables/memo_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/error.h"
#include "tables/byte_order.h"

namespace qm::tables {

void MemoFile::bad(const std::string& what) const {
  throw TableError("Corrupt memo file '" + file_.path() + "': " + what);
}

MemoFile::MemoFile(const std::string& path, MemoKind kind, bool forWriting) : kind_(kind) {
  if (!file_.open(path, forWriting && kind != MemoKind::Fpt))
    throw TableError("Memo file '" + path + "' not found or not readable");
  std::uint64_t size = file_.size();
  unsigned char h[24] = {};
  if (size < 24) bad("the header is truncated");
  file_.readAt(0, h, sizeof h);
  switch (kind) {
    case MemoKind::Dbt3:
      blockSize_ = 512;  // dBase III memos always use 512-byte blocks
      break;
    case MemoKind::Dbt4: {
      std::uint32_t bs = u16le(h + 20);
      blockSize_ = bs == 0 ? 512 : bs;
      if (blockSize_ < 16) bad("the block size " + std::to_string(bs) + " is too small");
      break;
    }
    case MemoKind::Fpt: {
      std::uint32_t bs = h[6] << 8 | h[7];
      if (bs == 0) bad("the block size is 0");
      blockSize_ = bs;
      break;
    }
    case MemoKind::None:
      bad("the table has no memo file");
  }
}

void MemoFile::create(const std::string& path, std::uint32_t blockSize) {
  RandomFile f;
  f.create(path);
  std::vector<unsigned char> h(blockSize, 0);
  put_u32le(h.data(), 1);  // next free block
  h[20] = static_cast<unsigned char>(blockSize & 0xFF);
  h[21] = static_cast<unsigned char>(blockSize >> 8);
  f.writeAt(0, h.data(), h.size());
}

std::string MemoFile::read(std::uint64_t block) {
  if (block == 0) return {};
  std::uint64_t size = file_.size();
  if (block >= (size + blockSize_ - 1) / blockSize_)
    bad("memo block " + std::to_string(block) + " lies beyond the end of the file");
  std::uint64_t off = block * blockSize_;
  std::string out;
  if (kind_ == MemoKind::Fpt) {
    unsigned char p[8];
    if (off + 8 > size) bad("memo block " + std::to_string(block) + " is truncated");
    file_.readAt(off, p, 8);
    std::uint64_t len = u32be(p + 4);
    if (off + 8 + len > size)
      bad("memo block " + std::to_string(block) + " claims " + std::to_string(len) +
          " bytes, more than the file holds");
    out.resize(static_cast<size_t>(len));
    file_.readAt(off + 8, out.data(), out.size());
    return out;
  }
  if (kind_ == MemoKind::Dbt4) {
    unsigned char p[8];
    if (off + 8 <= size) {
      file_.readAt(off, p, 8);
      if (p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00) {
        std::uint64_t len = u32le(p + 4);
        if (len < 8)
          bad("memo block " + std::to_string(block) + " has the impossible length " +
              std::to_string(len));
        if (off + len > size)
          bad("memo block " + std::to_string(block) + " claims " + std::to_string(len) +
              " bytes, more than the file holds");
        out.resize(static_cast<size_t>(len - 8));
        file_.readAt(off + 8, out.data(), out.size());
        return out;
      }
    }
    // A block without the prefix: read it the dBase III way.
  }
  // Text up to the first 0x1A (dBase III writes two), or the end of the file.
  char buf[4096];
  while (off < size) {
    size_t n = file_.readSome(off, buf,
                              static_cast<size_t>(std::min<std::uint64_t>(sizeof buf, size - off)));
    if (n == 0) break;
    const void* end = std::memchr(buf, 0x1A, n);
    if (end) {
      out.append(buf, static_cast<const char*>(end) - buf);
      return out;
    }
    out.append(buf, n);
    off += n;
  }
  return out;
}

std::vector<char> MemoFile::encode(std::string_view data) const {
  std::vector<char> buf;
  if (kind_ == MemoKind::Dbt3) {
    buf.assign(data.begin(), data.end());
    buf.push_back(0x1A);
    buf.push_back(0x1A);
  } else {
    buf.resize(8 + data.size());
    buf[0] = buf[1] = static_cast<char>(0xFF);
    buf[2] = 0x08;
    buf[3] = 0x00;
    put_u32le(reinterpret_cast<unsigned char*>(&buf[4]),
              static_cast<std::uint32_t>(data.size() + 8));
    if (!data.empty()) std::memcpy(&buf[8], data.data(), data.size());
  }
  buf.resize(static_cast<size_t>(blocksFor(data.size()) * blockSize_), 0);
  return buf;
}

std::uint64_t MemoFile::blocksFor(std::size_t n) const {
  const std::uint64_t bytes = n + (kind_ == MemoKind::Dbt3 ? 2 : 8);
  return (bytes + blockSize_ - 1) / blockSize_;
}

std::uint64_t MemoFile::endBlock() {
  unsigned char h[4];
  file_.readAt(0, h, 4);
  std::uint64_t next = u32le(h);
  std::uint64_t fileEnd = (file_.size() + blockSize_ - 1) / blockSize_;
  return std::max<std::uint64_t>({next, fileEnd, 1});
}

std::uint64_t MemoFile::extent(std::uint64_t block) {
  if (kind_ != MemoKind::Dbt4 || block == 0) return 0;
  const std::uint64_t off = block * blockSize_;
  unsigned char p[8];
  if (file_.readSome(off, p, 8) != 8) return 0;
  if (!(p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00)) return 0;
  const std::uint64_t len = u32le(p + 4);
  if (len < 8) return 0;
  return (len + blockSize_ - 1) / blockSize_;
}

void MemoFile::writeInto(std::uint64_t block, std::string_view data) {
  if (!file_.writable()) throw TableError("Memo file '" + file_.path() + "' is read-only");
  std::vector<char> buf = encode(data);
  file_.writeAt(block * blockSize_, buf.data(), buf.size());
}

std::uint64_t MemoFile::append(std::string_view data) {
  if (!file_.writable()) throw TableError("Memo file '" + file_.path() + "' is read-only");
  // Never write over what is in the file, whatever the header says.
  std::uint64_t next = endBlock();
  if (data.size() > 0xFFFFFFF0ull) throw TableError("Memo file '" + file_.path() + "' is full");
  std::vector<char> buf = encode(data);
  std::uint64_t newNext = next + buf.size() / blockSize_;
  if (newNext > 0xFFFFFFFFull) throw TableError("Memo file '" + file_.path() + "' is full");
  file_.writeAt(next * blockSize_, buf.data(), buf.size());
  unsigned char nh[4];
  put_u32le(nh, static_cast<std::uint32_t>(newNext));
  file_.writeAt(0, nh, 4);
  return next;
}

}  // namespace qm::tables
