// Walking a tag's tree: seeks, steps, the whole list of entries and the check of its shape.

#include "tables/mdx_internal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/datetime.h"
#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"

namespace qm::tables {

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

}  // namespace qm::tables
