// Large blocks aligned to 2 MB with the large-page advice on the whole 2 MB
// pages they hold; the tail beyond the last whole page keeps small pages, so
// no more memory is touched than the block's own bytes.
#include "platform/large_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

void* alloc_on_large_pages(std::size_t bytes) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  if (bytes < kLargePage) return std::malloc(bytes ? bytes : 1);
  void* p = nullptr;
  if (posix_memalign(&p, kLargePage, bytes) != 0) return nullptr;
  madvise(p, bytes / kLargePage * kLargePage, MADV_HUGEPAGE);
  return p;
}
