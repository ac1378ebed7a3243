// Memory blocks for large pixel buffers.
#pragma once
#include <cstddef>

// The size of a huge page (2 MB), the unit of the blocks below.
constexpr std::size_t kHugePageBytes = std::size_t{1} << 21;

// A block of `bytes` that starts on a huge-page boundary, for which the
// system is asked to use huge pages (only a hint: where it has none to
// give, small pages serve). Freed with std::free, and std::realloc may take
// it. Null when no such block could be had. Any thread; the same on every
// backend.
void* alloc_huge_page_block(std::size_t bytes);

// The bytes usable in a block from malloc, realloc or alloc_huge_page_block
// (at least what was asked for).
std::size_t memory_block_size(const void* block);

// A block of at least `bytes` of any size: below a huge page an ordinary
// one, from a huge page on alloc_huge_page_block's. Freed with std::free,
// usable with std::realloc and memory_block_size. Null when memory ran out.
void* alloc_on_large_pages(std::size_t bytes);
