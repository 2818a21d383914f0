// Reads an index from arbitrary bytes: every tag walked in order and searched.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "tables/mdx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    auto mdx =
        qm::tables::MdxFile::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    for (int t = 0; t < static_cast<int>(mdx.tags().size()); ++t) {
      try {
        auto all = mdx.entries(t);
        mdx.seek(t, "M");
        auto last = mdx.last(t);
        if (last) mdx.prior(t, last->key, last->recNo);
        auto first = mdx.first(t);
        if (first) mdx.next(t, first->key, first->recNo);
      } catch (const qm::TableError&) {
      }
    }
  } catch (const qm::TableError&) {
  }
  return 0;
}
