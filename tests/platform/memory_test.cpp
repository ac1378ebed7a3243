#include "platform/memory.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Every size gives a block of at least its bytes, aligned to 2 MB from 2 MB
// on, that holds what is written at both ends, grows with realloc keeping
// its bytes and is freed with free.
TEST(HugePageBlocks, BlocksOfEverySizeWorkAsMallocs) {
  constexpr std::size_t kLarge = std::size_t{2} << 20;
  const std::size_t sizes[] = {0, 1, 4096, kLarge - 1, kLarge, kLarge + 1, 9 * kLarge + 12345};
  for (std::size_t bytes : sizes) {
    auto* p = static_cast<unsigned char*>(alloc_on_large_pages(bytes));
    ASSERT_NE(p, nullptr) << bytes;
    EXPECT_GE(malloc_usable_size(p), bytes) << bytes;
    if (bytes >= kLarge) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kLarge, 0u) << bytes;
    }
    if (bytes > 0) {
      p[0] = 0x5A;
      p[bytes - 1] = 0xA5;
    }
    auto* q = static_cast<unsigned char*>(std::realloc(p, bytes + kLarge));
    ASSERT_NE(q, nullptr) << bytes;
    if (bytes > 0) {
      EXPECT_EQ(q[0], bytes == 1 ? 0xA5 : 0x5A) << bytes;
      EXPECT_EQ(q[bytes - 1], 0xA5) << bytes;
    }
    q[bytes + kLarge - 1] = 1;
    std::free(q);
  }
}

}  // namespace
