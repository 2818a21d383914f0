// The production index as an open table sees it: the .mdx with every tag's key expression
// compiled against the table's fields, kept right on every stored record.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/mdx.h"
#include "tables/mdx_key.h"

namespace qm::tables {

class ProductionIndex {
 public:
  // Opens the index of the table; raises TableError naming the table and the index file when
  // it is missing or unreadable.
  ProductionIndex(const std::string& mdxPath, const std::string& tablePath,
                  std::vector<KeyField> fields, int codepage, bool writable);

  MdxFile& file() { return mdx_; }
  const std::string& path() const { return mdx_.path(); }
  // Position of the tag (name without regard to case); TableError naming the tag and the
  // table when there is none or its key cannot be computed here.
  int usableTag(std::string_view name) const;
  std::vector<std::string> tagNames() const;
  KeyType keyType(int tag) const { return mdx_.tags()[tag].type; }
  // The key a record (deletion byte first) has in a tag.
  std::string keyOf(int tag, std::string_view record) const;
  // Raises TableError when some tag could not be kept up to date by a write.
  void requireMaintainable() const;
  // Brings every tag up to date with a stored record: an append when oldRecord is null.
  void recordStored(std::uint32_t recNo, const char* oldRecord, const char* newRecord,
                    std::size_t length);

 private:
  MdxFile mdx_;
  std::string tablePath_;
  int codepage_;
  std::vector<std::optional<KeyExpression>> keys_;
  std::vector<std::string> problems_;
};

}  // namespace qm::tables
