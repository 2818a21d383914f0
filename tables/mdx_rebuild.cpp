// Building a tag's tree from a list of entries: a new tag, or an old one rebuilt in its blocks.

#include "tables/mdx_internal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::tables {

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
