#include "core/memory.h"

#include <new>

namespace qm {

void LargeBlockDelete::operator()(char* block) const {
  ::operator delete[](block, std::align_val_t(kLargePage));
}

LargeBlock make_large_block(std::size_t bytes) {
  LargeBlock block(static_cast<char*>(::operator new[](bytes, std::align_val_t(kLargePage))));
  platform::advise_large_pages(block.get(), bytes);
  return block;
}

}  // namespace qm
