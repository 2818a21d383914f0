// Adding and removing single entries, splitting a full node on the way.

#include "tables/mdx_internal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::tables {

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

}  // namespace qm::tables
