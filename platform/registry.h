// The registry: text and 32-bit values under keys below the standard roots,
// read and deleted by the engine and the updater.
//
// Key paths are Shift-JIS with '\' between the parts; names of keys and
// values are compared without regard to case, as Windows compares them. The
// unnamed (default) value has the empty name.
//
// Threads: any; each call is complete on return (a delete is on disk).
#pragma once
#include <cstdint>
#include <string>

enum RegistryRoot : int {
  kRegClassesRoot = 0,
  kRegCurrentUser = 1,
  kRegLocalMachine = 2,
  kRegUsers = 3,
  kRegPerformanceData = 4,
  kRegCurrentConfig = 5,
  kRegDynData = 6,
};
constexpr int kRegistryRootCount = 7;

// Value types, the Windows numbers.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;

struct PlatformRegistry {
  // Reads a value: its type and its bytes (REG_SZ: the Shift-JIS text
  // without its NUL; REG_DWORD: 4 bytes, little-endian). 0, or -1 when the
  // key or the value does not exist.
  int (*read_value)(int root, const char* sjis_key, const char* sjis_name, std::uint32_t* type,
                    std::string* data);
  // Writes a value, making the key (and the keys above it) as needed. 0 or -1.
  int (*write_value)(int root, const char* sjis_key, const char* sjis_name, std::uint32_t type,
                     const std::string& data);
  // Deletes a value. 0, or -1 when the key or the value does not exist.
  int (*delete_value)(int root, const char* sjis_key, const char* sjis_name);
  // Deletes a key with its values and every key below it. 0, or -1 when it
  // does not exist (a root itself can't be deleted).
  int (*delete_key)(int root, const char* sjis_key);
  // 1 when the key exists (with or without values), else 0. Reads only.
  int (*key_exists)(int root, const char* sjis_key);
};

// A GKeyFile store: "$XDG_CONFIG_HOME/k_lumbrane/registry.ini" (or
// ~/.config/...), one group per key, e.g. [HKEY_CURRENT_USER\Software\Game],
// values as name=value with "@" for the unnamed value, REG_SZ as its UTF-8
// text and REG_DWORD as dword:xxxxxxxx (as .reg files write them). Written
// whole to a new file that replaces the old one, flushed to disk.
extern const PlatformRegistry kFileRegistry;
// The same store over a file of the caller's choosing ("" goes back to the
// default place); tests and the fake use it.
void file_registry_set_path(const std::string& path);
std::string file_registry_path();

// The fake: the same store in a temporary file of its own.
extern const PlatformRegistry kFakeRegistry;
void fake_registry_reset();

// Root names as the registry writes them ("HKEY_CURRENT_USER", ...).
const char* registry_root_name(int root);
