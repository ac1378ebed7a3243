// Huge-page blocks: posix_memalign on a huge-page boundary and madvise.
#include "platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdlib>

void* alloc_huge_page_block(std::size_t bytes) {
  void* p = nullptr;
  if (bytes == 0 || posix_memalign(&p, kHugePageBytes, bytes) != 0) return nullptr;
  // Only the whole small pages of the block: the hint must not reach
  // memory of other blocks.
  madvise(p, bytes & ~std::size_t{4095}, MADV_HUGEPAGE);
  return p;
}

std::size_t memory_block_size(const void* block) { return block ? malloc_usable_size(const_cast<void*>(block)) : 0; }

void* alloc_on_large_pages(std::size_t bytes) {
  if (bytes < kHugePageBytes) return std::malloc(bytes ? bytes : 1);
  return alloc_huge_page_block(bytes);
}
