// Dynamic libraries loaded by their Windows name: "ZTZid.dll" is the shared
// library "libZTZid.so" in the program folder.
#pragma once
#include <string>

struct DynLib;

struct PlatformDynLib {
  // Loads by Windows name: only the file name counts (a folder part is
  // ignored), ".dll" (any case) is replaced by ".so" and "lib" prefixed, and
  // the file is looked up in the program folder, the name as given first,
  // then with ASCII case folded. Null on failure, with the reason in
  // last_error. Any thread.
  DynLib* (*load)(const char* windows_name);
  // Export by name; null when missing or lib is null.
  void* (*symbol)(DynLib* lib, const char* name);
  // Export by ordinal; our stand-ins export ordinal N as "kl_ordinal_N".
  void* (*symbol_by_ordinal)(DynLib* lib, int ordinal);
  // Unloads; null is ignored.
  void (*unload)(DynLib* lib);
  // Text of the last load failure of this thread.
  std::string (*last_error)();
};

extern const PlatformDynLib kPosixDynLib;

// Folder (a real UTF-8 path) searched by kPosixDynLib instead of the program
// folder; null or "" goes back to the program folder. For tests and tools
// whose program file lives apart from the libraries.
void dynlib_set_search_folder(const char* utf8_folder);

// Static table: tests register a library's exports under a Windows name
// (compared case-insensitively; the table copies the names). An ordinal N is
// found as the export "kl_ordinal_N". Loading a name not registered fails.
extern const PlatformDynLib kFakeDynLib;
struct FakeExport {
  const char* name;
  void* address;
};
void fake_dynlib_register(const char* windows_name, const FakeExport* exports, int count);
void fake_dynlib_clear();
// Loads not yet unloaded (to check that shut-down frees what it loaded).
int fake_dynlib_loaded_count();
