// Named shared memory in place of named file mappings: a block that another
// process opens by the same name while both have it mapped.
#pragma once
#include <cstddef>
#include <cstdint>

struct SharedMapping;

struct PlatformSharedMemory {
  // Makes the block name (ASCII, no '/') of size bytes afresh, zero-filled,
  // and maps it read-write: a block of that name left behind earlier is
  // replaced. A name is held by one process at a time, until its release
  // or the process's end: 0 with *out set; 1 while another process holds
  // the name (nothing is made, the caller may try again); -1 when it can't
  // be made or mapped. Never blocks. Any thread.
  int (*create)(const char* name, std::size_t size, SharedMapping** out);
  // The mapped bytes and their count.
  std::uint8_t* (*data)(SharedMapping* mapping);
  std::size_t (*size)(SharedMapping* mapping);
  // Unmaps the block and removes its name; null is ignored.
  void (*release)(SharedMapping* mapping);
};

// shm_open of "/" + name, ftruncate, mmap MAP_SHARED; release unmaps and
// shm_unlinks. A name is held through an open-file-description lock on the
// shared-memory object "/" + name + ".lock." + the user's id (one per user,
// so another user's left-over lock object is never in the way), which ends
// with its holder and is removed by it. The same code serves the tests.
extern const PlatformSharedMemory kPosixSharedMemory;
