#include "tables/mdx.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::tables {

namespace {

constexpr std::uint32_t kPage = 512;
constexpr std::uint32_t kHeaderBytes = 2048;  // file header and tag table: pages 0-3
constexpr std::uint32_t kFirstBlockPage = 4;
constexpr int kTagTableOffset = 544;
constexpr int kTagEntryLength = 32;
constexpr int kMaxTags = 47;
constexpr int kMaxDepth = 40;
constexpr int kMaxCharKey = 100;

std::uint32_t get32(std::string_view b, size_t at) {
  return std::uint32_t(static_cast<unsigned char>(b[at])) |
         std::uint32_t(static_cast<unsigned char>(b[at + 1])) << 8 |
         std::uint32_t(static_cast<unsigned char>(b[at + 2])) << 16 |
         std::uint32_t(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t get16(std::string_view b, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
void put32(std::string& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put16(std::string& b, size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
std::string cstr(std::string_view b, size_t at, size_t max) {
  std::string_view s = b.substr(at, max);
  return std::string(s.substr(0, std::min(s.find('\0'), s.size())));
}
void put_date(std::string& b, size_t at) {
  Ymd d = ymd_from_day(today().day);
  b[at] = static_cast<char>(std::clamp(d.year - 1900, 0, 255));
  b[at + 1] = static_cast<char>(d.month);
  b[at + 2] = static_cast<char>(d.day);
}

}  // namespace

struct MdxFile::Node {
  std::uint32_t page = 0;
  bool leaf = true;
  std::uint32_t link = 0;
  std::vector<MdxEntry> items;  // recNo holds the child page in interior nodes
  std::uint32_t right = 0;      // interior: the right-most child
  int n() const { return static_cast<int>(items.size()); }
  std::uint32_t child(int i) const { return i < n() ? items[i].recNo : right; }
};

struct MdxFile::Frame {
  Node node;
  int idx = 0;  // interior: the child taken (n = the right-most); leaf: the item
};

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

// --- walking the tree ---

std::vector<MdxFile::Frame> MdxFile::descend(const MdxTag& tag, std::string_view key) {
  std::vector<Frame> path;
  std::uint32_t page = rootPage(tag);
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth)
      fail("tag " + tag.name + " is deeper than " + std::to_string(kMaxDepth) +
           " levels (a cycle)");
    Frame f{readNode(tag, page), 0};
    int n = f.node.n();
    int i = 0;
    while (i < n && compareEntry(tag, f.node.items[i].key, 0, key, 0) < 0) ++i;
    f.idx = i;
    bool leaf = f.node.leaf;
    path.push_back(std::move(f));
    if (leaf) break;
    page = path.back().node.child(i);
  }
  settleForward(tag, path);
  return path;
}

std::vector<MdxFile::Frame> MdxFile::descendEdge(const MdxTag& tag, bool leftmost) {
  std::vector<Frame> path;
  std::uint32_t page = rootPage(tag);
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth)
      fail("tag " + tag.name + " is deeper than " + std::to_string(kMaxDepth) +
           " levels (a cycle)");
    Frame f{readNode(tag, page), 0};
    f.idx = leftmost ? 0 : (f.node.leaf ? f.node.n() - 1 : f.node.n());
    bool leaf = f.node.leaf;
    page = f.node.child(f.idx < 0 ? 0 : f.idx);
    path.push_back(std::move(f));
    if (leaf) break;
  }
  if (leftmost)
    settleForward(tag, path);
  else if (path.back().idx < 0)
    stepBack(tag, path);
  return path;
}

bool MdxFile::settleForward(const MdxTag& tag, std::vector<Frame>& path) {
  while (!path.empty()) {
    Frame& f = path.back();
    if (f.node.leaf) {
      if (f.idx < f.node.n()) return true;
    } else if (f.idx <= f.node.n()) {
      if (static_cast<int>(path.size()) >= kMaxDepth) fail("tag " + tag.name + " has a cycle");
      Node child = readNode(tag, f.node.child(f.idx));
      path.push_back(Frame{std::move(child), 0});
      continue;
    }
    path.pop_back();
    if (!path.empty()) ++path.back().idx;
  }
  return false;
}

bool MdxFile::stepForward(const MdxTag& tag, std::vector<Frame>& path) {
  if (path.empty()) return false;
  ++path.back().idx;
  return settleForward(tag, path);
}

bool MdxFile::stepBack(const MdxTag& tag, std::vector<Frame>& path) {
  if (path.empty()) return false;
  --path.back().idx;
  while (!path.empty()) {
    Frame& f = path.back();
    if (f.idx >= 0) {
      if (f.node.leaf) return true;
      if (static_cast<int>(path.size()) >= kMaxDepth) fail("tag " + tag.name + " has a cycle");
      Node child = readNode(tag, f.node.child(f.idx));
      int idx = child.leaf ? child.n() - 1 : child.n();
      path.push_back(Frame{std::move(child), idx});
      continue;
    }
    path.pop_back();
    if (!path.empty()) --path.back().idx;
  }
  return false;
}

std::optional<MdxEntry> MdxFile::current(const std::vector<Frame>& path) {
  if (path.empty()) return std::nullopt;
  const Frame& f = path.back();
  if (!f.node.leaf || f.idx < 0 || f.idx >= f.node.n()) return std::nullopt;
  return f.node.items[f.idx];
}

std::vector<MdxEntry> MdxFile::entries(int tag) {
  const MdxTag& t = tags_.at(tag);
  std::vector<MdxEntry> out;
  // A forward walk reads every node once; more reads than blocks mean a node is reached twice.
  std::uint64_t blocks = fileSize_ / (kPage * blockPages_) + 1;
  std::uint64_t leaves = 0;
  std::uint32_t lastLeaf = 0;
  auto path = descendEdge(t, true);
  while (auto e = current(path)) {
    if (path.back().node.page != lastLeaf) {
      lastLeaf = path.back().node.page;
      if (++leaves > blocks) fail("tag " + t.name + " reaches a node twice (a cycle)");
    }
    out.push_back(*e);
    stepForward(t, path);
  }
  return out;
}

std::optional<MdxEntry> MdxFile::seek(int tag, std::string_view key) {
  const MdxTag& t = tags_.at(tag);
  return current(descend(t, padKey(t, key)));
}

std::optional<MdxEntry> MdxFile::first(int tag) {
  return current(descendEdge(tags_.at(tag), true));
}
std::optional<MdxEntry> MdxFile::last(int tag) {
  return current(descendEdge(tags_.at(tag), false));
}

std::optional<MdxEntry> MdxFile::next(int tag, std::string_view key, std::uint32_t recNo) {
  const MdxTag& t = tags_.at(tag);
  std::string k = padKey(t, key);
  auto path = descend(t, k);
  while (auto e = current(path)) {
    if (compareEntry(t, e->key, e->recNo, k, recNo) > 0) return e;
    stepForward(t, path);
  }
  return std::nullopt;
}

std::optional<MdxEntry> MdxFile::prior(int tag, std::string_view key, std::uint32_t recNo) {
  const MdxTag& t = tags_.at(tag);
  std::string k = padKey(t, key);
  auto path = descend(t, k);
  while (auto e = current(path)) {
    if (compareEntry(t, e->key, e->recNo, k, recNo) >= 0) {
      stepBack(t, path);
      return current(path);
    }
    stepForward(t, path);
  }
  return last(tag);
}

std::vector<MdxFile::Frame> MdxFile::findExact(const MdxTag& t, std::string_view key,
                                               std::uint32_t recNo) {
  auto path = descend(t, key);
  while (auto e = current(path)) {
    if (compare_keys(t.type, e->key, key) != 0) break;
    if (e->recNo == recNo) return path;
    stepForward(t, path);
  }
  return {};
}

// Returns the highest key of the subtree (empty for an empty leaf).
std::string MdxFile::checkNode(const MdxTag& t, std::uint32_t page, int depth, int* leafDepth,
                               std::uint64_t* visits, const std::string** prev,
                               std::uint32_t* prevRec, std::string* holder) {
  if (depth > kMaxDepth || ++*visits > fileSize_ / kPage) fail("tag " + t.name + " has a cycle");
  Node n = readNode(t, page);
  std::string where = "page " + std::to_string(page) + " of tag " + t.name;
  if (n.leaf) {
    if (*leafDepth < 0) *leafDepth = depth;
    if (*leafDepth != depth) fail(where + " is a leaf at another depth than the first leaf");
    for (const MdxEntry& e : n.items) {
      if (*prev && compareEntry(t, **prev, *prevRec, e.key, e.recNo) > 0)
        fail(where + " holds keys out of order");
      *holder = e.key;
      *prev = holder;
      *prevRec = e.recNo;
    }
    return n.items.empty() ? std::string() : n.items.back().key;
  }
  std::string max;
  for (int i = 0; i <= n.n(); ++i) {
    std::string sub = checkNode(t, n.child(i), depth + 1, leafDepth, visits, prev, prevRec, holder);
    if (i < n.n() && compare_keys(t.type, sub, n.items[i].key) != 0)
      fail(where + ": separator " + std::to_string(i) + " is not the highest key below it");
    max = sub;
  }
  return max;
}

void MdxFile::check(int tag) {
  const MdxTag& t = tags_.at(tag);
  int leafDepth = -1;
  std::uint64_t visits = 0;
  const std::string* prev = nullptr;
  std::uint32_t prevRec = 0;
  std::string holder;
  checkNode(t, rootPage(t), 1, &leafDepth, &visits, &prev, &prevRec, &holder);
}

int MdxFile::depth(int tag) {
  const MdxTag& t = tags_.at(tag);
  std::uint32_t page = rootPage(t);
  for (int d = 1; d <= kMaxDepth; ++d) {
    Node n = readNode(t, page);
    if (n.leaf) return d;
    page = n.child(0);
  }
  fail("tag " + t.name + " has a cycle");
}

bool MdxFile::contains(int tag, std::string_view key, std::uint32_t recNo) {
  const MdxTag& t = tags_.at(tag);
  return !findExact(t, padKey(t, key), recNo).empty();
}

// --- writing ---

void MdxFile::finishTagWrite(const MdxTag& tag, std::int64_t addedPages, bool hasKeys) {
  std::string b = readBlock(tag.headerPage);
  put32(b, 4, static_cast<std::uint32_t>(get32(b, 4) + addedPages));
  b[20] = static_cast<char>(static_cast<unsigned char>(b[20]) + 1);
  b[246] = hasKeys ? 1 : 0;
  writeBlock(tag.headerPage, b);
  // The first and last leaf follow from the tree itself, which is cheaper to walk than to track.
  std::uint32_t leftLeaf = get32(b, 0);
  for (int d = 0; d < kMaxDepth; ++d) {
    Node n = readNode(tag, leftLeaf);
    if (n.leaf) break;
    leftLeaf = n.child(0);
  }
  std::uint32_t rightLeaf = get32(b, 0);
  for (int d = 0; d < kMaxDepth; ++d) {
    Node n = readNode(tag, rightLeaf);
    if (n.leaf) break;
    rightLeaf = n.right;
  }
  put32(b, 248, leftLeaf);
  put32(b, 252, rightLeaf);
  writeBlock(tag.headerPage, b);
  writeHeaderCounts(headerPages_);
}

std::vector<MdxFile::Frame> MdxFile::descendForInsert(const MdxTag& t, std::string_view key,
                                                      std::uint32_t recNo) {
  // The separators carry no record numbers: among equal keys, the child whose last entry has
  // a record number at or above the new one takes it.
  auto lastRecNo = [&](std::uint32_t page) -> std::uint32_t {
    for (int d = 0; d < kMaxDepth; ++d) {
      Node n = readNode(t, page);
      if (n.leaf) return n.items.empty() ? 0 : n.items.back().recNo;
      page = n.right;
    }
    fail("tag " + t.name + " has a cycle");
  };
  std::vector<Frame> path;
  std::uint32_t page = rootPage(t);
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth) fail("tag " + t.name + " has a cycle");
    Frame f{readNode(t, page), 0};
    int n = f.node.n();
    int i = 0;
    if (f.node.leaf) {
      while (i < n && compareEntry(t, f.node.items[i].key, f.node.items[i].recNo, key, recNo) < 0)
        ++i;
    } else {
      for (; i < n; ++i) {
        int c = compareEntry(t, f.node.items[i].key, 0, key, 0);
        if (c > 0 || (c == 0 && lastRecNo(f.node.items[i].recNo) >= recNo)) break;
      }
    }
    f.idx = i;
    bool leaf = f.node.leaf;
    path.push_back(std::move(f));
    if (leaf) return path;
    page = path.back().node.child(i);
  }
}

void MdxFile::insert(int tag, std::string_view rawKey, std::uint32_t recNo) {
  refresh();
  const MdxTag& t = tags_.at(tag);
  if (t.maxKeys < 3)
    throw TableError("Index file " + path_ + ": tag " + t.name +
                     " has keys too long for this engine to write.");
  std::string key = padKey(t, rawKey);
  if (t.unique) {
    auto e = seek(tag, key);
    if (e && compare_keys(t.type, e->key, key) == 0) return;
  }
  auto path = descendForInsert(t, key, recNo);
  std::int64_t added = 0;
  {
    Frame& leaf = path.back();
    leaf.node.items.insert(leaf.node.items.begin() + leaf.idx, MdxEntry{key, recNo});
  }
  for (int level = static_cast<int>(path.size()) - 1; level >= 0; --level) {
    Node& node = path[level].node;
    if (node.n() <= t.maxKeys) {
      writeNode(t, node);
      break;
    }
    Node right;
    right.page = allocatePage();
    added += blockPages_;
    right.leaf = node.leaf;
    right.link = node.page;
    std::string sep;
    if (node.leaf) {
      // An entry added past the end starts a new node of its own, so appends fill nodes.
      bool atEnd = path[level].idx == node.n() - 1;
      int m = atEnd ? node.n() - 1 : node.n() / 2;
      right.items.assign(node.items.begin() + m, node.items.end());
      node.items.resize(m);
      sep = node.items.back().key;
    } else {
      int m = node.n() / 2;
      sep = node.items[m].key;
      right.items.assign(node.items.begin() + m + 1, node.items.end());
      right.right = node.right;
      node.right = node.items[m].recNo;
      node.items.resize(m);
    }
    writeNode(t, node);
    writeNode(t, right);
    if (level == 0) {
      Node root;
      root.page = allocatePage();
      added += blockPages_;
      root.leaf = false;
      root.link = right.page;
      root.items.push_back(MdxEntry{sep, node.page});
      root.right = right.page;
      writeNode(t, root);
      std::string h = readBlock(t.headerPage);
      put32(h, 0, root.page);
      writeBlock(t.headerPage, h);
      break;
    }
    Frame& parent = path[level - 1];
    int c = parent.idx;
    if (c < parent.node.n()) {
      parent.node.items[c].recNo = right.page;
      parent.node.items.insert(parent.node.items.begin() + c, MdxEntry{sep, node.page});
    } else {
      parent.node.items.push_back(MdxEntry{sep, node.page});
      parent.node.right = right.page;
    }
  }
  finishTagWrite(t, added, true);
}

void MdxFile::fixSeparators(const MdxTag& t, std::vector<Frame>& path, size_t level,
                            const std::string& newMax) {
  // The highest key of the subtree changed: the nearest ancestor that names it by a
  // separator (rather than as its right-most child) gets the new key.
  for (size_t l = level; l > 0; --l) {
    Frame& parent = path[l - 1];
    if (parent.idx < parent.node.n()) {
      parent.node.items[parent.idx].key = newMax;
      writeNode(t, parent.node);
      return;
    }
  }
}

bool MdxFile::remove(int tag, std::string_view rawKey, std::uint32_t recNo) {
  refresh();
  const MdxTag& t = tags_.at(tag);
  std::string key = padKey(t, rawKey);
  auto path = findExact(t, key, recNo);
  if (path.empty()) return false;
  size_t level = path.size() - 1;
  {
    Node& leaf = path[level].node;
    int idx = path[level].idx;
    leaf.items.erase(leaf.items.begin() + idx);
    if (!leaf.items.empty() || level == 0) {
      writeNode(t, leaf);
      if (idx == leaf.n() && !leaf.items.empty())
        fixSeparators(t, path, level, leaf.items.back().key);
      finishTagWrite(t, 0, !leaf.items.empty() || level > 0);
      return true;
    }
  }
  // The node is empty: it is dropped from its parent (and left stranded, as dBase does).
  for (;;) {
    Node& gone = path[level].node;
    gone.items.clear();
    gone.leaf = true;
    gone.right = 0;
    writeNode(t, gone);
    Frame& parent = path[level - 1];
    Node& p = parent.node;
    if (p.items.empty()) {
      if (level - 1 == 0) {
        p.leaf = true;
        p.right = 0;
        writeNode(t, p);
        break;
      }
      --level;
      continue;
    }
    if (parent.idx < p.n()) {
      p.items.erase(p.items.begin() + parent.idx);
      writeNode(t, p);
    } else {
      p.right = p.items.back().recNo;
      std::string newMax = p.items.back().key;
      p.items.pop_back();
      writeNode(t, p);
      fixSeparators(t, path, level - 1, newMax);
    }
    break;
  }
  // A root left with a single child hands the root over to it.
  for (int d = 0; d < kMaxDepth; ++d) {
    std::string h = readBlock(t.headerPage);
    Node root = readNode(t, get32(h, 0));
    if (root.leaf || !root.items.empty()) break;
    put32(h, 0, root.right);
    writeBlock(t.headerPage, h);
    root.leaf = true;
    root.right = 0;
    writeNode(t, root);
  }
  auto firstEntry = first(tag);
  finishTagWrite(t, 0, firstEntry.has_value());
  return true;
}

void MdxFile::collectPages(const MdxTag& t, std::uint32_t page, int depth,
                           std::vector<std::uint32_t>& out) {
  if (depth >= kMaxDepth) fail("tag " + t.name + " has a cycle");
  if (out.size() > fileSize_ / kPage) fail("tag " + t.name + " reaches a node twice");
  Node n = readNode(t, page);
  out.push_back(page);
  if (n.leaf) return;
  for (int i = 0; i <= n.n(); ++i) collectPages(t, n.child(i), depth + 1, out);
}

std::uint32_t MdxFile::buildTree(const MdxTag& t, std::vector<MdxEntry>& entries,
                                 std::vector<std::uint32_t> reuse, std::int64_t* addedPages,
                                 std::uint32_t* leftLeaf, std::uint32_t* rightLeaf) {
  std::sort(reuse.begin(), reuse.end());
  reuse.erase(std::unique(reuse.begin(), reuse.end()), reuse.end());
  size_t nextReuse = 0;
  auto takePage = [&]() {
    if (nextReuse < reuse.size()) return reuse[nextReuse++];
    *addedPages += blockPages_;
    return allocatePage();
  };
  struct Built {
    std::uint32_t page;
    std::string maxKey;
  };
  std::vector<Built> level;
  size_t per = static_cast<size_t>(t.maxKeys);
  for (size_t i = 0; i < entries.size() || level.empty(); i += per) {
    Node leaf;
    leaf.page = takePage();
    size_t end = std::min(entries.size(), i + per);
    leaf.items.assign(entries.begin() + std::min(i, entries.size()), entries.begin() + end);
    writeNode(t, leaf);
    level.push_back({leaf.page, leaf.items.empty() ? std::string() : leaf.items.back().key});
    if (entries.empty()) break;
  }
  *leftLeaf = level.front().page;
  *rightLeaf = level.back().page;
  while (level.size() > 1) {
    size_t groups = (level.size() + per) / (per + 1);
    size_t base = level.size() / groups, extra = level.size() % groups;
    std::vector<Built> up;
    size_t at = 0;
    for (size_t g = 0; g < groups; ++g) {
      size_t count = base + (g < extra ? 1 : 0);
      Node node;
      node.page = takePage();
      node.leaf = false;
      for (size_t c = 0; c + 1 < count; ++c)
        node.items.push_back(MdxEntry{level[at + c].maxKey, level[at + c].page});
      node.right = level[at + count - 1].page;
      writeNode(t, node);
      up.push_back({node.page, level[at + count - 1].maxKey});
      at += count;
    }
    level = std::move(up);
  }
  // Blocks of the old tree that the new one does not need are left empty.
  for (; nextReuse < reuse.size(); ++nextReuse) {
    Node empty;
    empty.page = reuse[nextReuse];
    writeNode(t, empty);
  }
  return level.front().page;
}

int MdxFile::addTag(const MdxTagDefinition& tagDef, std::vector<MdxEntry> entries) {
  refresh();
  std::string name = to_upper_ascii(trim(tagDef.name));
  if (name.empty() || name.size() > 10)
    throw TableError("Index file " + path_ + ": the tag name '" + tagDef.name +
                     "' must have 1 to 10 characters.");
  if (findTag(name) >= 0)
    throw TableError("Index file " + path_ + " already has a tag " + name + ".");
  if (static_cast<int>(tags_.size()) >= kMaxTags)
    throw TableError("Index file " + path_ + " has no room for another tag.");
  int keyLength = tagDef.type == KeyType::Numeric ? kNumericKeyLength
                  : tagDef.type == KeyType::Date  ? kDateKeyLength
                                                : tagDef.keyLength;
  if (keyLength < 1 || keyLength > kMaxCharKey)
    throw TableError("Index file " + path_ + ": a key of " + std::to_string(keyLength) +
                     " characters is not possible (1 to 100).");

  MdxTag t;
  t.name = name;
  t.expression = tagDef.expression;
  t.type = tagDef.type;
  t.keyLength = keyLength;
  t.itemLength = (keyLength + 4 + 3) / 4 * 4;
  t.maxKeys = (blockLength_ - 12) / t.itemLength;
  t.descending = tagDef.descending;
  t.slot = static_cast<int>(tags_.size());
  t.headerPage = allocatePage();

  std::string h(blockLength_, '\0');
  put32(h, 0, 0);
  h[8] = static_cast<char>(0x10 | (tagDef.descending ? 0x08 : 0));
  h[9] = static_cast<char>(tagDef.type);
  h[11] = 0x1B;
  put16(h, 12, t.keyLength);
  put16(h, 14, t.maxKeys);
  put16(h, 16, tagDef.type == KeyType::Date ? 1 : 0);
  put16(h, 18, t.itemLength);
  std::string expr = tagDef.expression.substr(0, 220);
  std::memcpy(h.data() + 24, expr.data(), expr.size());
  put_date(h, 257);
  h[480] = tagDef.singleField ? 1 : 0;
  writeBlock(t.headerPage, h);

  sortEntries(t, entries);
  std::int64_t added = 0;
  std::uint32_t leftLeaf = 0, rightLeaf = 0;
  std::uint32_t root = buildTree(t, entries, {}, &added, &leftLeaf, &rightLeaf);
  h = readBlock(t.headerPage);
  put32(h, 0, root);
  put32(h, 4, static_cast<std::uint32_t>(added));
  h[246] = entries.empty() ? 0 : 1;
  put32(h, 248, leftLeaf);
  put32(h, 252, rightLeaf);
  writeBlock(t.headerPage, h);

  // The tag table: the new entry, hung into the tree of names (1-based slot links).
  std::string table(kHeaderBytes, '\0');
  file_.clear();
  file_.seekg(0);
  file_.read(table.data(), kHeaderBytes);
  if (!file_) fail("its header cannot be read");
  size_t e = kTagTableOffset + kTagEntryLength * t.slot;
  put32(table, e, t.headerPage);
  std::memcpy(table.data() + e + 4, name.data(), name.size());
  table[e + 15] = 0x10;
  table[e + 19] = 0x02;
  table[e + 20] = static_cast<char>(tagDef.type);
  if (t.slot > 0) {
    int at = 0;
    for (int guard = 0; guard <= kMaxTags; ++guard) {
      size_t a = kTagTableOffset + kTagEntryLength * at;
      std::string other = trim_right(cstr(table, a + 4, 11));
      size_t link = name < other ? a + 16 : a + 17;
      int child = static_cast<unsigned char>(table[link]);
      if (child == 0 || child > t.slot) {
        table[link] = static_cast<char>(t.slot + 1);
        table[e + 18] = static_cast<char>(at + 1);
        break;
      }
      at = child - 1;
    }
  }
  put16(table, 28, t.slot + 1);
  table[30] =
      static_cast<char>(std::max<int>(static_cast<unsigned char>(table[30]), t.slot + 1) + 1);
  put32(table, 32, headerPages_);
  put_date(table, 44);
  writeBlock(0, table);
  flush();
  tags_.push_back(t);
  return t.slot;
}

void MdxFile::rebuildTag(int tag, std::vector<MdxEntry> entries) {
  refresh();
  const MdxTag& t = tags_.at(tag);
  if (t.maxKeys < 3)
    throw TableError("Index file " + path_ + ": tag " + t.name +
                     " has keys too long for this engine to write.");
  std::vector<std::uint32_t> old;
  try {
    collectPages(t, rootPage(t), 0, old);
  } catch (const TableError&) {
    old.clear();  // a damaged tree is replaced by new blocks
  }
  sortEntries(t, entries);
  std::int64_t added = 0;
  std::uint32_t leftLeaf = 0, rightLeaf = 0;
  std::uint32_t root = buildTree(t, entries, old, &added, &leftLeaf, &rightLeaf);
  std::string h = readBlock(t.headerPage);
  put32(h, 0, root);
  put32(h, 4, static_cast<std::uint32_t>(old.size() * blockPages_ + added));
  h[20] = static_cast<char>(static_cast<unsigned char>(h[20]) + 1);
  h[246] = entries.empty() ? 0 : 1;
  put32(h, 248, leftLeaf);
  put32(h, 252, rightLeaf);
  writeBlock(t.headerPage, h);
  writeHeaderCounts(headerPages_);
}

}  // namespace qm::tables
