// An index file's pages: opening and creating it, its header and tag table, reading and
// writing blocks and nodes, and the order of keys.

#include "tables/mdx_internal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::tables {

MdxFile::MdxFile(MdxFile&&) noexcept = default;
MdxFile& MdxFile::operator=(MdxFile&&) noexcept = default;
MdxFile::~MdxFile() = default;

void MdxFile::fail(const std::string& what) const {
  throw TableError("Index file " + path_ + " is damaged or not a dBase index: " + what + ".");
}

MdxFile MdxFile::open(const std::string& path, bool writable) {
  MdxFile f;
  f.path_ = path;
  f.writable_ = writable;
  auto mode = std::ios::in | std::ios::binary;
  if (writable) mode |= std::ios::out;
  f.file_.open(to_fs_path(path), mode);
  if (!f.file_) throw TableError("Cannot open the index file " + path + ".");
  std::error_code ec;
  f.fileSize_ = std::filesystem::file_size(to_fs_path(path), ec);
  if (ec) throw TableError("Cannot open the index file " + path + ".");
  f.readHeader();
  f.readTags();
  return f;
}

MdxFile MdxFile::fromBytes(std::string bytes, std::string name) {
  MdxFile f;
  f.path_ = std::move(name);
  f.memory_ = std::move(bytes);
  f.inMemory_ = true;
  f.fileSize_ = f.memory_.size();
  f.readHeader();
  f.readTags();
  return f;
}

MdxFile MdxFile::create(const std::string& path, std::string_view tableName, int blockLength) {
  if (blockLength < 1024 || blockLength > 32768 || blockLength % kPage != 0)
    throw TableError("Cannot create the index file " + path + ": block length " +
                     std::to_string(blockLength) + " is not possible.");
  std::string h(kHeaderBytes, '\0');
  h[0] = 2;
  put_date(h, 1);
  std::string name = to_upper_ascii(tableName).substr(0, 16);
  std::memcpy(h.data() + 4, name.data(), name.size());
  put16(h, 20, blockLength / kPage);
  put16(h, 22, blockLength);
  h[24] = 1;
  h[25] = 0x30;
  h[26] = kTagEntryLength;
  h[30] = 1;
  h[31] = 0x1B;
  put32(h, 32, kFirstBlockPage);
  put_date(h, 44);
  h[529] = 1;
  {
    std::ofstream out(to_fs_path(path), std::ios::binary | std::ios::trunc);
    out.write(h.data(), static_cast<std::streamsize>(h.size()));
    if (!out) throw TableError("Cannot create the index file " + path + ".");
  }
  return open(path, true);
}

void MdxFile::readHeader() {
  if (fileSize_ < kHeaderBytes)
    fail("the file is " + std::to_string(fileSize_) + " bytes long, shorter than its header");
  std::string h(kHeaderBytes, '\0');
  if (inMemory_) {
    h = memory_.substr(0, kHeaderBytes);
  } else {
    file_.clear();
    file_.seekg(0);
    file_.read(h.data(), kHeaderBytes);
    if (!file_) fail("its header cannot be read");
  }
  int pages = get16(h, 20), length = get16(h, 22);
  if (pages < 1 || pages > 64 || length != pages * static_cast<int>(kPage))
    fail("block size " + std::to_string(length) + " with " + std::to_string(pages) +
         " pages per block is not possible");
  blockLength_ = length;
  blockPages_ = pages;
  headerPages_ = get32(h, 32);
  int count = get16(h, 28);
  if (count > kMaxTags) fail(std::to_string(count) + " tags, more than the 47 a file can hold");
  tags_.assign(count, MdxTag{});
  for (int i = 0; i < count; ++i) {
    size_t e = kTagTableOffset + kTagEntryLength * i;
    tags_[i].slot = i;
    tags_[i].headerPage = get32(h, e);
    tags_[i].name = trim_right(cstr(h, e + 4, 11));
  }
}

void MdxFile::refresh() {
  if (inMemory_) return;
  std::error_code ec;
  auto size = std::filesystem::file_size(to_fs_path(path_), ec);
  if (!ec) fileSize_ = size;
  std::string h(kPage, '\0');
  file_.clear();
  file_.seekg(0);
  file_.read(h.data(), kPage);
  if (!file_) fail("its header cannot be read");
  headerPages_ = get32(h, 32);
}

void MdxFile::readTags() {
  for (MdxTag& t : tags_) {
    if (t.name.empty()) fail("tag " + std::to_string(t.slot + 1) + " has no name");
    std::string b = readBlock(t.headerPage);
    char type = b[9];
    if (type != 'C' && type != 'N' && type != 'D')
      fail("tag " + t.name + " has the unknown key type " + std::to_string(int(type)));
    t.type = static_cast<KeyType>(type);
    t.keyLength = get16(b, 12);
    t.itemLength = get16(b, 18);
    if (t.type == KeyType::Numeric && t.keyLength != kNumericKeyLength)
      fail("numeric tag " + t.name + " has keys of " + std::to_string(t.keyLength) + " bytes");
    if (t.type == KeyType::Date && t.keyLength != kDateKeyLength)
      fail("date tag " + t.name + " has keys of " + std::to_string(t.keyLength) + " bytes");
    if (t.keyLength < 1 || t.itemLength < t.keyLength + 4 || t.itemLength > blockLength_ - 12)
      fail("tag " + t.name + " has keys of " + std::to_string(t.keyLength) + " bytes in items of " +
           std::to_string(t.itemLength));
    int capacity = (blockLength_ - 12) / t.itemLength;
    int stored = get16(b, 14);
    t.maxKeys = stored >= 1 && stored <= capacity ? stored : capacity;
    t.descending = (b[8] & 0x08) != 0;
    t.unique = (b[8] & 0x40) != 0 || b[23] == 1;
    t.expression = trim(cstr(b, 24, 221));
    if (b[245] == 1 && blockLength_ > 762) t.forExpression = trim(cstr(b, 762, blockLength_ - 762));
    if (b[245] == 1 && t.forExpression.empty()) t.forExpression = "?";
    rootPage(t);
  }
}

int MdxFile::findTag(std::string_view name) const {
  for (size_t i = 0; i < tags_.size(); ++i)
    if (iequals(tags_[i].name, trim(name))) return static_cast<int>(i);
  return -1;
}

std::string MdxFile::readBlock(std::uint32_t page) {
  std::uint64_t at = std::uint64_t(page) * kPage;
  if (page < kFirstBlockPage || at + blockLength_ > fileSize_)
    fail("page " + std::to_string(page) + " lies outside the file");
  std::string b(blockLength_, '\0');
  if (inMemory_) {
    b = memory_.substr(at, blockLength_);
  } else {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(at));
    file_.read(b.data(), blockLength_);
    if (!file_) fail("page " + std::to_string(page) + " cannot be read");
  }
  return b;
}

void MdxFile::writeBlock(std::uint32_t page, const std::string& block) {
  if (!writable_ || inMemory_) throw TableError("Index file " + path_ + " is open read-only.");
  std::uint64_t at = std::uint64_t(page) * kPage;
  file_.clear();
  file_.seekp(static_cast<std::streamoff>(at));
  file_.write(block.data(), static_cast<std::streamsize>(block.size()));
  if (!file_) throw TableError("Cannot write the index file " + path_ + ".");
  fileSize_ = std::max<std::uint64_t>(fileSize_, at + block.size());
}

void MdxFile::flush() {
  if (!inMemory_ && writable_) file_.flush();
}

std::uint32_t MdxFile::allocatePage() {
  // The header's count may lag behind a file another program grew; never hand out a used page.
  std::uint64_t byFile = (fileSize_ + kPage - 1) / kPage;
  std::uint64_t page = std::max<std::uint64_t>({headerPages_, byFile, kFirstBlockPage});
  if (page + blockPages_ > 0xFFFFFFF0u) throw TableError("Index file " + path_ + " is full.");
  writeBlock(static_cast<std::uint32_t>(page), std::string(blockLength_, '\0'));
  headerPages_ = static_cast<std::uint32_t>(page + blockPages_);
  return static_cast<std::uint32_t>(page);
}

void MdxFile::writeHeaderCounts(std::uint32_t pages) {
  std::string h(kPage, '\0');
  file_.clear();
  file_.seekg(0);
  file_.read(h.data(), kPage);
  if (!file_) fail("its header cannot be read");
  put32(h, 32, pages);
  put_date(h, 44);
  writeBlock(0, h);
}

std::uint32_t MdxFile::rootPage(const MdxTag& tag) {
  std::string b = readBlock(tag.headerPage);
  std::uint32_t root = get32(b, 0);
  if (root == tag.headerPage) fail("the root of tag " + tag.name + " is its own header");
  return root;
}

MdxFile::Node MdxFile::readNode(const MdxTag& tag, std::uint32_t page) {
  if (page == tag.headerPage) fail("tag " + tag.name + " points at its own header as a node");
  std::string b = readBlock(page);
  Node node;
  node.page = page;
  std::uint32_t n = get32(b, 0);
  std::uint32_t capacity = (blockLength_ - 12) / tag.itemLength;
  if (n > capacity)
    fail("page " + std::to_string(page) + " of tag " + tag.name + " claims " + std::to_string(n) +
         " keys where " + std::to_string(capacity) + " fit");
  node.link = get32(b, 4);
  node.items.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    size_t at = 8 + size_t(i) * tag.itemLength;
    node.items[i].recNo = get32(b, at);
    node.items[i].key = b.substr(at + 4, tag.keyLength);
  }
  node.right = get32(b, 8 + size_t(n) * tag.itemLength);
  node.leaf = node.right == 0;
  return node;
}

void MdxFile::writeNode(const MdxTag& tag, const Node& node) {
  std::string b(blockLength_, '\0');
  put32(b, 0, node.n());
  put32(b, 4, node.link);
  for (int i = 0; i < node.n(); ++i) {
    size_t at = 8 + size_t(i) * tag.itemLength;
    put32(b, at, node.items[i].recNo);
    std::memcpy(b.data() + at + 4, node.items[i].key.data(),
                std::min<size_t>(node.items[i].key.size(), tag.keyLength));
  }
  if (!node.leaf) put32(b, 8 + size_t(node.n()) * tag.itemLength, node.right);
  writeBlock(node.page, b);
}

std::string MdxFile::padKey(const MdxTag& tag, std::string_view key) const {
  std::string k(key.substr(0, tag.keyLength));
  k.resize(tag.keyLength, tag.type == KeyType::Character ? ' ' : '\0');
  return k;
}

int MdxFile::compare(int tag, std::string_view a, std::string_view b) const {
  const MdxTag& t = tags_.at(tag);
  int c = compare_keys(t.type, a, b);
  return t.descending ? -c : c;
}

int MdxFile::compareEntry(const MdxTag& tag, std::string_view ka, std::uint32_t ra,
                          std::string_view kb, std::uint32_t rb) const {
  int c = compare_keys(tag.type, ka, kb);
  if (tag.descending) c = -c;
  if (c != 0) return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

void MdxFile::sortEntries(const MdxTag& tag, std::vector<MdxEntry>& entries) const {
  for (MdxEntry& e : entries) e.key = padKey(tag, e.key);
  std::stable_sort(entries.begin(), entries.end(), [&](const MdxEntry& a, const MdxEntry& b) {
    return compareEntry(tag, a.key, a.recNo, b.key, b.recNo) < 0;
  });
}

}  // namespace qm::tables
