#include "tables/dbf_index.h"

#include "core/error.h"
#include "core/paths.h"

namespace qm::tables {

ProductionIndex::ProductionIndex(const std::string& mdxPath, const std::string& tablePath,
                                 std::vector<KeyField> fields, int codepage, bool writable)
    : mdx_([&] {
        if (!file_exists(mdxPath))
          throw TableError("Index not found: the production index '" + mdxPath + "' of table '" +
                           tablePath + "' is missing");
        try {
          return MdxFile::open(mdxPath, writable);
        } catch (const TableError& e) {
          throw TableError("Cannot open the production index of table '" + tablePath +
                           "': " + e.what());
        }
      }()),
      tablePath_(tablePath),
      codepage_(codepage) {
  for (const MdxTag& t : mdx_.tags()) {
    std::string why;
    auto e = KeyExpression::compile(t.expression, fields, &why);
    if (e && e->type() != t.type) why = "its key type does not match the expression", e.reset();
    if (e && e->length() != t.keyLength)
      why = "the expression gives keys of " + std::to_string(e->length()) + " bytes, the tag " +
            std::to_string(t.keyLength),
      e.reset();
    if (e && !t.forExpression.empty()) why = "FOR conditions are not supported", e.reset();
    keys_.push_back(std::move(e));
    problems_.push_back(why);
  }
}

int ProductionIndex::usableTag(std::string_view name) const {
  int i = mdx_.findTag(name);
  if (i < 0)
    throw TableError("Index '" + std::string(name) + "' not found in table '" + tablePath_ + "'");
  if (!keys_[i])
    throw TableError("Index '" + mdx_.tags()[i].name + "' of table '" + tablePath_ +
                     "' cannot be used: its key '" + mdx_.tags()[i].expression + "' is not " +
                     "understood (" + problems_[i] + ")");
  return i;
}

std::vector<std::string> ProductionIndex::tagNames() const {
  std::vector<std::string> r;
  for (const MdxTag& t : mdx_.tags()) r.push_back(t.name);
  return r;
}

std::string ProductionIndex::keyOf(int tag, std::string_view record) const {
  return keys_.at(tag)->evaluate(record, codepage_);
}

void ProductionIndex::requireMaintainable() const {
  // Writing past a tag we cannot compute would leave it stale, and the other programs trust it.
  for (size_t i = 0; i < keys_.size(); ++i)
    if (!keys_[i])
      throw TableError("Table '" + tablePath_ + "' cannot be changed: its index tag '" +
                       mdx_.tags()[i].name + "' (key '" + mdx_.tags()[i].expression +
                       "') cannot be kept up to date (" + problems_[i] + ")");
}

void ProductionIndex::recordStored(std::uint32_t recNo, const char* oldRecord,
                                   const char* newRecord, std::size_t length) {
  for (size_t i = 0; i < keys_.size(); ++i) {
    int tag = static_cast<int>(i);
    std::string now = keyOf(tag, std::string_view(newRecord, length));
    if (oldRecord) {
      std::string before = keyOf(tag, std::string_view(oldRecord, length));
      if (before == now) continue;
      mdx_.remove(tag, before, recNo);
    }
    mdx_.insert(tag, now, recNo);
  }
  mdx_.flush();
}

}  // namespace qm::tables
