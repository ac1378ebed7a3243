// Named locks in place of named mutexes: created or found existing, held
// until released or until the process ends. Another process (or another
// handle in this one) can test a name without taking it.
#pragma once
#include <string>

struct NamedLock;

struct PlatformNamedLocks {
  // Creates the lock under name (any bytes; names are case-sensitive, as
  // mutex names are) and takes it. Returns 0 with *out set when this call now
  // holds it; 1 when it exists already (held by another process or by another
  // create in this one; *out is null); -1 when it can't be created. Any thread.
  int (*create)(const char* name, NamedLock** out);
  // Releases and forgets the lock; null is ignored.
  void (*release)(NamedLock* lock);
  // 1 when some holder (any process) has the name, else 0. Takes nothing.
  int (*exists)(const char* name);
};

// A lock file per name in $XDG_RUNTIME_DIR/k_lumbrane (else
// /tmp/k_lumbrane-<uid>), held with an open-file-description lock; the lock
// is not inherited by started programs.
extern const PlatformNamedLocks kPosixNamedLocks;

// Why the lock files' folder can't be used, for a message when create
// returned -1.
enum class LockFolderProblem {
  kNone,        // usable (made now when it was missing)
  kOtherOwner,  // the name is taken: another user's folder, a link or a file
  kCannotMake,  // it can't be made, or not closed to other users
};
// Checks (and makes when missing) the folder; its path (UTF-8) in *folder.
LockFolderProblem named_lock_folder_problem(std::string* folder);
