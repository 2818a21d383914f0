// Memory for tables of a million entries: filled once, read often, freed at the end.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "core/platform.h"

namespace qm {

// Blocks start on a large page's boundary.
constexpr std::size_t kLargePage = platform::kLargePageBytes;

struct LargeBlockDelete {
  void operator()(char* block) const;
};
// A block left uninitialised (it is written before it is read) and in large pages where the
// system gives them: clearing it first, and a fault per small page, cost more than filling it.
using LargeBlock = std::unique_ptr<char[], LargeBlockDelete>;
LargeBlock make_large_block(std::size_t bytes);

// Room for n elements, in large pages where the system gives them; call before the elements
// are first written.
template <typename T>
void reserve_in_large_pages(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  platform::advise_large_pages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace qm
