// Large blocks on the system's 2 MB pages where it gives them: a walk through
// a buffer of many megabytes then costs a TLB miss every 2 MB instead of
// every 4 KB, and its first touch a page fault every 2 MB. One implementation
// serves the program and the tests.
#pragma once
#include <cstddef>

// A block of at least bytes (any size; below 2 MB an ordinary one), freed
// with std::free and usable with realloc and malloc_usable_size; the whole
// 2 MB pages inside it are asked for as large pages (advice only: the
// system may refuse). Null when memory ran out.
void* alloc_on_large_pages(std::size_t bytes);
