// Named shared memory in place of named file mappings: a block that another
// process opens by the same name while both have it mapped.
#pragma once
#include <cstddef>
#include <cstdint>

struct SharedMapping;

struct PlatformSharedMemory {
  // Makes the block name (ASCII, no '/') of size bytes afresh, zero-filled,
  // and maps it read-write: a block of that name left behind earlier is
  // replaced. 0 with *out set, -1 when it can't be made or mapped. Any
  // thread.
  int (*create)(const char* name, std::size_t size, SharedMapping** out);
  // The mapped bytes and their count.
  std::uint8_t* (*data)(SharedMapping* mapping);
  std::size_t (*size)(SharedMapping* mapping);
  // Unmaps the block and removes its name; null is ignored.
  void (*release)(SharedMapping* mapping);
};

// shm_open of "/" + name, ftruncate, mmap MAP_SHARED; release unmaps and
// shm_unlinks. The same code serves the tests.
extern const PlatformSharedMemory kPosixSharedMemory;
