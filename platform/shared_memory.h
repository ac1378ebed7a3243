// Named shared memory in place of named file mappings: a block that another
// process opens by the same name while both have it mapped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct SharedMapping;

struct PlatformSharedMemory {
  // Makes the block name (ASCII, no '/') of size bytes afresh, zero-filled,
  // and maps it read-write: a block of that name left behind earlier is
  // replaced. A name is held by one process of a user at a time, until its
  // release or the process's end; other users have names of their own: 0
  // with *out set; 1 while another process of this user holds the name
  // (nothing is made, the caller may try again); -1 when it can't be made
  // or mapped (also when another user has taken this user's name). Never
  // blocks. Any thread.
  int (*create)(const char* name, std::size_t size, SharedMapping** out);
  // The mapped bytes and their count.
  std::uint8_t* (*data)(SharedMapping* mapping);
  std::size_t (*size)(SharedMapping* mapping);
  // Unmaps the block and removes its name and its lock; null is ignored.
  void (*release)(SharedMapping* mapping);
};

// The shared-memory object that holds the block name for the user uid:
// "/" + name + "." + uid. Another program of that user (the script
// compiler) opens the block under this name.
std::string shared_memory_object_name(const char* name, unsigned long uid);

// shm_open of shared_memory_object_name(name, the real user), ftruncate,
// mmap MAP_SHARED; release unmaps and shm_unlinks. A name is held through
// an open-file-description lock on the object of the same name with ".lock"
// after it, which ends with its holder and is removed by its release. The
// same code serves the tests.
extern const PlatformSharedMemory kPosixSharedMemory;
