// Files named by Shift-JIS paths with '\' or '/' separators, resolved
// case-insensitively component by component as on Windows. The true-case
// path found on disk is used for every I/O call. Relative paths are taken
// against the current folder.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct FolderEntry {
  std::string name;  // Shift-JIS
  bool is_directory;
  std::uint64_t size;
};

struct PlatformFiles {
  // Resolves a Shift-JIS path to the real UTF-8 path (relative when the path
  // is relative). "." and ".." are taken lexically, as on Windows; ASCII
  // letters compare case-insensitively, two-byte characters exactly. Returns
  // 0 when the whole path exists; 1 when only the last component is missing
  // (real_path then holds the resolved folder + the name as given, ready for
  // creation); -1 when a folder on the way is missing or the name cannot be
  // converted. Every function here may be called from any thread.
  int (*resolve)(const char* sjis_path, std::string* real_path);
  // fopen of the resolved path ("rb", "wb", "wbx" (create a new file only),
  // "ab", "r+b"); nullptr on failure
  // and for a folder; reading takes only a regular file (never a FIFO or a
  // device), and no open waits for a FIFO's other end. "w" and "a" create a
  // missing last component. Files are opened close-on-exec, so started
  // programs do not inherit them.
  std::FILE* (*open)(const char* sjis_path, const char* mode);
  // 1 when the path exists as a file / as a folder, else 0.
  int (*is_file)(const char* sjis_path);
  int (*is_directory)(const char* sjis_path);
  // Size in bytes, -1 when missing.
  std::int64_t (*file_size)(const char* sjis_path);
  // 0 on success, -1 on failure. remove_file removes files, not folders.
  int (*remove_file)(const char* sjis_path);
  // Creates one folder; fails when the name exists already (file or folder)
  // or a folder on the way is missing.
  int (*make_directory)(const char* sjis_path);
  // Renames like Windows: fails when the destination exists, unless it is the
  // same file under another case (then the name takes the case as given).
  int (*rename_file)(const char* from_sjis, const char* to_sjis);
  // Copies through a temporary file in the destination folder, then renames
  // it into place, so a failed copy leaves the old destination intact.
  int (*copy_file)(const char* from_sjis, const char* to_sjis);
  // Entries of a folder (not "." or ".."), names in Shift-JIS, sorted by name
  // with ASCII case folded; names without a Shift-JIS form and dangling links
  // are left out. 0 or -1.
  int (*list_folder)(const char* sjis_folder, std::vector<FolderEntry>* out);
  // Free bytes on the file system of the path; -1 on failure.
  std::int64_t (*free_space)(const char* sjis_path);
  // Current folder as a Shift-JIS path with '\' separators and a trailing
  // '\' (empty when it has no Shift-JIS form); set_current_folder returns 0
  // or -1.
  std::string (*current_folder)();
  int (*set_current_folder)(const char* sjis_path);
  // Renames a file over the destination in one step (an existing destination
  // file is replaced atomically). 0 or -1.
  int (*replace_file)(const char* from_sjis, const char* to_sjis);
  // Removes an empty folder (not a file); 0 or -1.
  int (*remove_directory)(const char* sjis_path);
};

extern const PlatformFiles kPosixFiles;

// Folder listings read by the case-insensitive look-up since the start (a
// listing kept from an earlier look-up is not counted). For tests of the
// listing cache.
std::uint64_t files_folder_listings_read();

// Text conversion at the boundary (iconv CP932 <-> UTF-8). Return 0, or -1
// when the input holds a sequence that does not convert.
int sjis_to_utf8(const char* sjis, std::string* utf8);
int utf8_to_sjis(const char* utf8, std::string* sjis);
