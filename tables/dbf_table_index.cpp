#include "tables/dbf_table_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "tables/codepage.h"
#include "tables/dbf_file.h"
#include "tables/dbf_header.h"
#include "tables/field_codec.h"
#include "tables/memo_file.h"

namespace qm::tables {

// The table's indexes.
// The production index: opened with the table when its header says there is one, followed by
// the moves when a tag is chosen, and kept right by storeRecord.

namespace {

std::vector<KeyField> key_fields(const DbfTable::Impl& m) {
  std::vector<KeyField> r;
  for (const FieldLayout* f : m.layoutOf)
    r.push_back({f->def.name, f->def.type, f->offset, f->def.length, f->def.decimals});
  return r;
}

std::vector<KeyField> key_fields(const DbfHeader& h) {
  std::vector<KeyField> r;
  for (const FieldLayout& f : h.fields)
    if (!f.hidden()) r.push_back({f.def.name, f.def.type, f.offset, f.def.length, f.def.decimals});
  return r;
}

std::string mdx_path_of(const std::string& tablePath) {
  return resolve_path(companion_path(tablePath, ".mdx"));
}

}  // namespace

void open_index(DbfTable::Impl& m, const std::string& tablePath) {
  m.index.reset();
  m.indexTag = -1;
  if (!m.hdr.productionIndex) {
    if (!m.indexName.empty())
      throw TableError("Index '" + m.indexName + "' not found in table '" + tablePath +
                       "': the table has no production index");
    return;
  }
  m.index = std::make_unique<ProductionIndex>(mdx_path_of(tablePath), tablePath, key_fields(m.hdr),
                                              m.hdr.codepage, m.file.writable());
  if (!m.indexName.empty()) m.indexTag = m.index->usableTag(m.indexName);
}

void index_move(DbfTable& self, DbfTable::Impl& m, IndexMove how) {
  m.endEdit(self);
  m.flushPending();
  m.readCount();
  m.dropCache();
  m.memoPending.assign(m.fields.size(), std::nullopt);
  MdxFile& f = m.index->file();
  const int tag = m.indexTag;
  const bool forward = how == IndexMove::First || how == IndexMove::Next;
  std::vector<char> keep = m.rec;
  std::optional<MdxEntry> e;
  if (how == IndexMove::First) {
    e = f.first(tag);
  } else if (how == IndexMove::Last) {
    e = f.last(tag);
  } else if (m.recNo != 0) {
    std::string key = m.index->keyOf(tag, std::string_view(m.rec.data(), m.rec.size()));
    e = forward ? f.next(tag, key, static_cast<std::uint32_t>(m.recNo))
                : f.prior(tag, key, static_cast<std::uint32_t>(m.recNo));
  }
  // Deleted records stay in the index; the moves pass over them as physical moves do.
  while (e && !(e->recNo <= m.knownCount && m.liveAt(e->recNo)))
    e = forward ? f.next(tag, e->key, e->recNo) : f.prior(tag, e->key, e->recNo);
  if (e) {
    m.recNo = e->recNo;
    m.eofFlag = m.bofFlag = false;
    if (how == IndexMove::First) m.bofFlag = true;
    if (how == IndexMove::Last) m.eofFlag = true;
  } else if (how == IndexMove::First || how == IndexMove::Last || m.recNo == 0) {
    m.positionNone();
    m.eofFlag = m.bofFlag = true;
  } else {
    m.rec = keep;
    (forward ? m.eofFlag : m.bofFlag) = true;
  }
  m.notify(&TableListener::afterScroll);
}

void DbfTable::setIndexName(std::string tag) {
  Impl& m = *impl_;
  tag = trim(tag);
  if (tag.empty()) {
    m.indexName.clear();
    m.indexTag = -1;
    return;
  }
  if (m.active) {
    if (!m.index)
      throw TableError("Index '" + tag + "' not found in table '" + m.file.path() +
                       "': the table has no production index");
    m.indexTag = m.index->usableTag(tag);
  }
  m.indexName = tag;
}
const std::string& DbfTable::indexName() const {
  return impl_->indexName;
}
std::vector<std::string> DbfTable::tagNames() const {
  const Impl& m = *impl_;
  if (m.active) return m.index ? m.index->tagNames() : std::vector<std::string>{};
  std::string p = path();
  RandomFile f;
  if (!f.open(p, false)) throw TableError("Cannot open table '" + p + "'");
  if (!read_header_file(f).productionIndex) return {};
  std::string mp = mdx_path_of(p);
  if (!file_exists(mp)) throw TableError("Index not found: '" + mp + "' of table '" + p + "'");
  std::vector<std::string> r;
  // The index object must outlive the loop: a range over a temporary's member would not.
  MdxFile mdx = MdxFile::open(mp, false);
  for (const MdxTag& t : mdx.tags()) r.push_back(t.name);
  return r;
}

void DbfTable::setKey() {
  Impl& m = *impl_;
  m.requireActive();
  if (m.indexTag < 0)
    throw TableError("Table '" + m.file.path() + "' has no index chosen for a key search");
  m.endEdit(*this);
  m.flushPending();
  m.keySaved = m.rec;
  m.rec = m.blank;
  m.setState(TableState::SetKey);
}

namespace {

// The key typed since setKey(), with the table back on its record.
std::string take_search_key(DbfTable::Impl& m) {
  if (m.st != TableState::SetKey)
    throw TableError("Table '" + m.file.path() + "' is not in key mode (setKey)");
  std::string key = m.index->keyOf(m.indexTag, std::string_view(m.rec.data(), m.rec.size()));
  m.rec = m.keySaved;
  m.modifiedFlag = false;
  m.setState(TableState::Browse);
  return key;
}

}  // namespace

bool DbfTable::gotoKey() {
  Impl& m = *impl_;
  m.requireActive();
  std::string key = take_search_key(m);
  m.readCount();
  m.dropCache();
  MdxFile& f = m.index->file();
  KeyType type = m.index->keyType(m.indexTag);
  std::vector<char> keep = m.rec;
  for (auto e = f.seek(m.indexTag, key); e && compare_keys(type, e->key, key) == 0;
       e = f.next(m.indexTag, e->key, e->recNo)) {
    if (e->recNo <= m.knownCount && m.liveAt(e->recNo)) {
      m.recNo = e->recNo;
      m.eofFlag = m.bofFlag = false;
      m.notify(&TableListener::afterScroll);
      return true;
    }
  }
  m.rec = keep;
  return false;
}

void DbfTable::gotoNearest() {
  Impl& m = *impl_;
  m.requireActive();
  std::string key = take_search_key(m);
  m.readCount();
  m.dropCache();
  MdxFile& f = m.index->file();
  auto e = f.seek(m.indexTag, key);
  while (e && !(e->recNo <= m.knownCount && m.liveAt(e->recNo)))
    e = f.next(m.indexTag, e->key, e->recNo);
  if (!e) {
    // Nothing at or after the key: the table ends up at its end, on the last record.
    index_move(*this, m, IndexMove::Last);
    m.eofFlag = true;
    return;
  }
  m.recNo = e->recNo;
  m.eofFlag = m.bofFlag = false;
  m.notify(&TableListener::afterScroll);
}

void DbfTable::addIndex(const std::string& tagName, const std::string& fieldName) {
  Impl& m = *impl_;
  m.requireWritable();
  if (!m.exclusiveOpen)
    throw TableError("Index '" + tagName + "' cannot be added to table '" + m.file.path() +
                     "': the table is not open for exclusive use");
  m.endEdit(*this);
  m.flushPending();
  int fi = m.names.find(fieldName);
  if (fi < 0)
    throw TableError("Field '" + fieldName + "' not found in table '" + m.file.path() + "'");
  const FieldLayout& lay = *m.layoutOf[static_cast<size_t>(fi)];
  MdxTagDefinition tagDef;
  tagDef.name = tagName;
  tagDef.expression = to_upper_ascii(lay.def.name);
  switch (lay.def.type) {
    case 'C':
      tagDef.type = KeyType::Character;
      tagDef.keyLength = lay.def.length;
      break;
    case 'N':
    case 'F':
      tagDef.type = KeyType::Numeric;
      break;
    case 'D':
      tagDef.type = KeyType::Date;
      break;
    default:
      throw TableError("Index '" + tagName + "' cannot be added to table '" + m.file.path() +
                       "': fields of type " + std::string(1, lay.def.type) +
                       " cannot be index keys");
  }
  auto expr = KeyExpression::compile(tagDef.expression, key_fields(m));
  // Every record is indexed, deleted ones included, as dBase does.
  std::vector<MdxEntry> entries;
  std::uint32_t count = m.readCount();
  std::vector<char> buf(static_cast<size_t>(m.hdr.recordLength));
  for (std::uint32_t n = 1; n <= count; ++n) {
    if (!m.loadRecord(n, buf.data())) m.corrupt("record " + std::to_string(n) + " cannot be read");
    entries.push_back(
        {expr->evaluate(std::string_view(buf.data(), buf.size()), m.hdr.codepage), n});
  }
  std::string p = m.file.path();
  std::string mp = mdx_path_of(p);
  {
    // A file left over while the header says there is none is stale: it is replaced.
    auto mdx =
        m.hdr.productionIndex && file_exists(mp) && m.index
            ? MdxFile::open(mp, true)
            : MdxFile::create(mp, file_name_of(p.substr(0, p.size() - extension_of(p).size())));
    mdx.addTag(tagDef, std::move(entries));
  }
  unsigned char one = 1;
  m.file.writeAt(28, &one, 1);
  m.file.writeAt(static_cast<std::uint64_t>(lay.descriptorOffset) +
                     (m.hdr.dialect == Dialect::Level7 ? 37 : 31),
                 &one, 1);
  m.hdr.productionIndex = true;
  std::string keepName = m.indexName;
  open_index(m, p);
}

}  // namespace qm::tables
