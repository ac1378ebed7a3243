// Dynamic libraries loaded by their Windows name: "ZTZid.dll" is the shared
// library "libZTZid.so" in the program folder.
#pragma once
#include <string>

struct DynLib;

struct PlatformDynLib {
  // Loads by Windows name (case of the name kept, ".dll" replaced by ".so",
  // "lib" prefixed, looked up in the program folder). Null on failure, with
  // the reason in last_error.
  DynLib* (*load)(const char* windows_name);
  // Export by name; null when missing.
  void* (*symbol)(DynLib* lib, const char* name);
  // Export by ordinal; our stand-ins export ordinal N as "kl_ordinal_N".
  void* (*symbol_by_ordinal)(DynLib* lib, int ordinal);
  void (*unload)(DynLib* lib);
  // Text of the last load failure of this thread.
  std::string (*last_error)();
};

extern const PlatformDynLib kPosixDynLib;

// Static table: tests register a library's exports under a Windows name.
extern const PlatformDynLib kFakeDynLib;
struct FakeExport {
  const char* name;
  void* address;
};
void fake_dynlib_register(const char* windows_name, const FakeExport* exports, int count);
void fake_dynlib_clear();
