// The production index (.mdx) of a dBase table: its tags, each a B-tree of (key, record)
// entries in pages of 512 bytes and nodes of one block (1024 bytes by default).
//
// The file is outside input: every size, page number, count and key length it declares is
// checked before use, and a damaged file raises TableError naming the file and the fault.
// Nothing is cached between calls but the file header, which every write reads again, since
// another program may keep the same index.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/mdx_key.h"

namespace qm::tables {

struct MdxEntry {
  std::string key;  // the key bytes, key-length long
  std::uint32_t recNo = 0;
  friend bool operator==(const MdxEntry&, const MdxEntry&) = default;
};

struct MdxTag {
  std::string name;
  std::string expression;
  std::string forExpression;  // empty: no filter
  KeyType type = KeyType::Character;
  int keyLength = 0;
  int itemLength = 0;
  int maxKeys = 0;  // per node, as this engine fills nodes
  bool descending = false;
  bool unique = false;
  std::uint32_t headerPage = 0;
  int slot = 0;  // in the tag table
};

// What a new tag is made of.
struct MdxTagDefinition {
  std::string name;  // stored upper case, at most 10 characters
  std::string expression;
  KeyType type = KeyType::Character;
  int keyLength = 0;
  bool singleField = true;
  bool descending = false;
};

class MdxFile {
 public:
  // Opens an existing index for reading and writing (or reading only when writable is false).
  static MdxFile open(const std::string& path, bool writable = true);
  // Makes a new, empty index (no tags) for the table of the given base name, replacing any file.
  static MdxFile create(const std::string& path, std::string_view tableName,
                        int blockLength = 1024);
  // Reads an index from memory (for checks of untrusted bytes).
  static MdxFile fromBytes(std::string bytes, std::string name = "index");

  MdxFile(MdxFile&&) noexcept;
  MdxFile& operator=(MdxFile&&) noexcept;
  ~MdxFile();

  const std::string& path() const { return path_; }
  int blockLength() const { return blockLength_; }
  bool writable() const { return writable_ && !inMemory_; }
  const std::vector<MdxTag>& tags() const { return tags_; }
  // Position in tags() of the tag of that name (without regard to case), or -1.
  int findTag(std::string_view name) const;

  // Order of two entries of a tag: by key in the tag's direction, then by record number.
  int compare(int tag, std::string_view keyA, std::string_view keyB) const;

  // Every entry of a tag in index order. Checks the whole tree on the way.
  std::vector<MdxEntry> entries(int tag);
  // First entry whose key is at or after key in the tag's order; nullopt at the end.
  std::optional<MdxEntry> seek(int tag, std::string_view key);
  std::optional<MdxEntry> first(int tag);
  std::optional<MdxEntry> last(int tag);
  // The entry after / before the entry (key, recNo), which need not be in the tag.
  std::optional<MdxEntry> next(int tag, std::string_view key, std::uint32_t recNo);
  std::optional<MdxEntry> prior(int tag, std::string_view key, std::uint32_t recNo);
  // Checks the shape of a tag's tree: entries in order, every separator the highest key of
  // its subtree, all leaves at one depth. Raises TableError naming the first fault.
  void check(int tag);
  // Levels of the tag's tree (1: the root is a leaf).
  int depth(int tag);
  // True when the tag holds exactly this entry.
  bool contains(int tag, std::string_view key, std::uint32_t recNo);

  // Writing. Keys are given key-length long (shorter character keys are space-padded).
  // Adds a tag holding the entries (any order) and links it into the tag table.
  int addTag(const MdxTagDefinition& tagDef, std::vector<MdxEntry> entries);
  // Replaces all entries of a tag, reusing its blocks.
  void rebuildTag(int tag, std::vector<MdxEntry> entries);
  // Adds one entry in its place (after the equal keys of lower record numbers). On a unique
  // tag a key that is already there is not added again.
  void insert(int tag, std::string_view key, std::uint32_t recNo);
  // Removes one entry; false when the tag does not hold it.
  bool remove(int tag, std::string_view key, std::uint32_t recNo);
  void flush();

 private:
  MdxFile() = default;
  struct Node;
  struct Frame;
  struct Header;

  [[noreturn]] void fail(const std::string& what) const;
  void readHeader();
  void readTags();
  void refresh();
  std::string readHeaderPage();
  // The tag, with the file header read again, for a change of its entries.
  const MdxTag& tagToWrite(int tag);
  std::string readBlock(std::uint32_t page);
  void writeBlock(std::uint32_t page, const std::string& block);
  void writeHeaderCounts(std::uint32_t pages);
  std::uint32_t allocatePage();
  Node readNode(const MdxTag& tag, std::uint32_t page);
  void writeNode(const MdxTag& tag, const Node& node);
  std::uint32_t rootPage(const MdxTag& tag);
  void finishTagWrite(const MdxTag& tag, std::int64_t addedPages, bool hasKeys);
  std::string padKey(const MdxTag& tag, std::string_view key) const;
  int compareEntry(const MdxTag& tag, std::string_view ka, std::uint32_t ra, std::string_view kb,
                   std::uint32_t rb) const;
  // From the root down to a leaf, taking in each node the child (in the leaf: the entry) at
  // the place choose(node) gives.
  template <class Choose>
  std::vector<Frame> descendBy(const MdxTag& tag, Choose choose);
  // Descends from the root to the leaf holding the first entry at or after key.
  std::vector<Frame> descend(const MdxTag& tag, std::string_view key);
  std::vector<Frame> descendEdge(const MdxTag& tag, bool leftmost);
  bool stepForward(const MdxTag& tag, std::vector<Frame>& path);
  bool stepBack(const MdxTag& tag, std::vector<Frame>& path);
  bool settleForward(const MdxTag& tag, std::vector<Frame>& path);
  static std::optional<MdxEntry> current(const std::vector<Frame>& path);
  std::vector<Frame> findExact(const MdxTag& tag, std::string_view key, std::uint32_t recNo);
  std::vector<Frame> descendForInsert(const MdxTag& tag, std::string_view key, std::uint32_t recNo);
  void fixSeparators(const MdxTag& tag, std::vector<Frame>& path, size_t level,
                     const std::string& newMax);
  std::uint32_t buildTree(const MdxTag& tag, std::vector<MdxEntry>& entries,
                          std::vector<std::uint32_t> reuse, std::int64_t* addedPages,
                          std::uint32_t* leftLeaf, std::uint32_t* rightLeaf);
  void collectPages(const MdxTag& tag, std::uint32_t page, int depth,
                    std::vector<std::uint32_t>& out);
  std::string checkNode(const MdxTag& tag, std::uint32_t page, int depth, int* leafDepth,
                        std::uint64_t* visits, const std::string** prev, std::uint32_t* prevRec,
                        std::string* holder);
  void sortEntries(const MdxTag& tag, std::vector<MdxEntry>& entries) const;

  std::string path_;
  std::string memory_;  // the bytes of an index read from memory
  bool inMemory_ = false;
  bool writable_ = false;
  std::fstream file_;
  std::uint64_t fileSize_ = 0;
  int blockLength_ = 1024;
  int blockPages_ = 2;
  std::uint32_t headerPages_ = 0;  // page count the header states
  std::vector<MdxTag> tags_;
};

}  // namespace qm::tables
