#include "pricefile/price_sink.h"

#include <charconv>
#include <stdexcept>

#include "core/error.h"
#include "core/text.h"

namespace qm::pricefile {

bool PriceSink::trySetFieldText(int field, std::string_view text) {
  try {
    setFieldText(field, text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void PriceSink::raiseMissingField(std::string_view name) {
  throw Error("Field '" + std::string(name) + "' not found");
}

MemoryPriceSink::MemoryPriceSink(std::vector<FieldSpec> f) : fields(std::move(f)) {}

void MemoryPriceSink::requireEditing() const {
  if (!inserting_) throw TableError("Dataset not in edit or insert mode");
}

void MemoryPriceSink::append() {
  if (inserting_) post();
  if (refuseAppendAt >= 0 && posted >= refuseAppendAt) throw TableError("Append refused");
  current_.resize(fields.size());
  for (std::string& v : current_) v.clear();  // keeps the buffers for the next record
  inserting_ = true;
}

void MemoryPriceSink::post() {
  requireEditing();
  if (refusePostAt >= 0 && posted >= refusePostAt) throw TableError("Post refused");
  if (keepRecords) records.push_back(current_);
  ++posted;
  inserting_ = false;
}

void MemoryPriceSink::close() {
  inserting_ = false;
  ++closes;
}

int MemoryPriceSink::findField(std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (iequals(fields[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::string MemoryPriceSink::fieldText(int field) {
  requireEditing();
  return current_.at(static_cast<std::size_t>(field));
}

void MemoryPriceSink::setFieldText(int field, std::string_view text) {
  requireEditing();
  const FieldSpec& f = fields.at(static_cast<std::size_t>(field));
  std::string& slot = current_[static_cast<std::size_t>(field)];
  if (f.type == 'N') {
    std::string t = trim(text);
    double v = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (!t.empty() && (res.ec != std::errc() || res.ptr != t.data() + t.size()))
      throw TableError("'" + std::string(text) + "' is not a valid value for field " + f.name);
    if (static_cast<int>(t.size()) > f.width)
      throw TableError("Value " + t + " does not fit field " + f.name);
    slot = t;
  } else {
    slot.assign(text.substr(0, static_cast<std::size_t>(f.width)));
    // Trailing blanks do not read back from a character field.
    while (!slot.empty() && static_cast<unsigned char>(slot.back()) <= ' ') slot.pop_back();
  }
}

PriceSink::Shape MemoryPriceSink::fieldShape(int field) {
  const FieldSpec& f = fields.at(static_cast<std::size_t>(field));
  return {f.type, f.width};
}

const std::string& MemoryPriceSink::text(std::size_t record, std::string_view field) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (iequals(fields[i].name, field)) return records.at(record).at(i);
  throw std::out_of_range("no field " + std::string(field));
}

}  // namespace qm::pricefile
