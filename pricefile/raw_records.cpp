#include "pricefile/raw_records.h"

#include <fstream>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "tables/field_codec.h"

namespace qm::pricefile {

namespace {

constexpr std::size_t kBlockBytes = 1 << 20;

unsigned u16(const unsigned char* p) {
  return p[0] | unsigned(p[1]) << 8;
}

[[noreturn]] void not_a_table() {
  throw Error("Not a dBase table");
}

}  // namespace

RawRecords::RawRecords(std::istream& in) : in_(in) {
  unsigned char head[32];
  if (!in_.read(reinterpret_cast<char*>(head), sizeof head)) not_a_table();
  const int level = head[0] & 7;
  if (level != 3 && level != 4) not_a_table();
  count_ = head[4] | std::int64_t(head[5]) << 8 | std::int64_t(head[6]) << 16 |
           std::int64_t(head[7]) << 24;
  const unsigned headerLength = u16(head + 8);
  recordLength_ = u16(head + 10);
  const unsigned start = level == 4 ? 68 : 32, size = level == 4 ? 48 : 32;
  const unsigned nameLength = level == 4 ? 32 : 11;
  if (headerLength < start + 1 || recordLength_ == 0) not_a_table();
  std::string header(headerLength, '\0');
  std::copy(head, head + sizeof head, header.begin());
  if (!in_.read(header.data() + sizeof head, std::streamsize(headerLength - sizeof head)))
    not_a_table();
  int offset = 1;
  for (unsigned at = start; at + size <= headerLength && header[at] != '\r'; at += size) {
    const auto* d = reinterpret_cast<const unsigned char*>(header.data() + at);
    Column c;
    std::string_view name(header.data() + at, nameLength);
    c.name = std::string(name.substr(0, name.find('\0')));
    c.type = static_cast<char>(d[nameLength]);
    c.length = level == 4 ? d[33] : d[16];
    c.offset = offset;
    offset += c.length;
    if (static_cast<std::size_t>(offset) > recordLength_) not_a_table();
    columns_.push_back(std::move(c));
  }
  blockRecords_ = std::max<std::size_t>(1, kBlockBytes / recordLength_);
}

int RawRecords::find(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (iequals(columns_[i].name, name)) return static_cast<int>(i);
  return -1;
}

bool RawRecords::fill() {
  const std::int64_t left = count_ - number_;
  const auto n =
      static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(blockRecords_)));
  if (n == 0) return false;
  block_.resize(n * recordLength_);
  in_.read(block_.data(), std::streamsize(block_.size()));
  // A file shorter than its header says ends at its last whole record.
  block_.resize(static_cast<std::size_t>(in_.gcount()) / recordLength_ * recordLength_);
  at_ = 0;
  return !block_.empty();
}

bool RawRecords::next() {
  for (;;) {
    if (number_ >= count_) return false;
    if (at_ >= block_.size() && !fill()) return false;
    record_ = block_.data() + at_;
    at_ += recordLength_;
    ++number_;
    if (record_[0] != '*') return true;
  }
}

std::string_view RawRecords::field(const Column& c, const char* record) {
  const char* v = record + c.offset;
  return {v, tables::codec::text_end(v, static_cast<std::size_t>(c.length))};
}

std::int64_t raw_record_count(const std::string& path) {
  std::ifstream f(to_fs_path(path), std::ios::binary);
  return RawRecords(f).count();
}

}  // namespace qm::pricefile
