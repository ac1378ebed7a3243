// Libraries by Windows name, loaded with dlopen from the program folder (the
// folder of /proc/self/exe) or the folder set for tests. Always by a full
// path: a bare name would make dlopen search the system's folders.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/posix/program_file.h"

namespace {

std::mutex g_folder_mutex;
std::string g_search_folder;
thread_local std::string t_last_error;

std::string program_folder() {
  std::string path = real_program_file();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string search_folder() {
  {
    std::lock_guard<std::mutex> guard(g_folder_mutex);
    if (!g_search_folder.empty()) return g_search_folder;
  }
  return program_folder();
}

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The file-name part of a Shift-JIS name (after the last single-byte '\' or '/').
std::string file_part(const char* name) {
  const char* start = name;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p;) {
    if (is_lead_byte(*p) && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '\\' || *p == '/') start = reinterpret_cast<const char*>(p + 1);
    ++p;
  }
  return start;
}

bool ascii_equal_nocase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The .so file name of a Windows library name, in UTF-8; empty when the
// name is empty or does not convert.
std::string so_name(const char* windows_name) {
  std::string sjis = file_part(windows_name);
  std::string base;
  if (sjis.empty() || sjis_to_utf8(sjis.c_str(), &base) != 0) return std::string();
  if (base.size() > 4 && ascii_equal_nocase(base.substr(base.size() - 4), ".dll")) base.resize(base.size() - 4);
  if (base.empty()) return std::string();
  return "lib" + base + ".so";
}

DynLib* posix_load(const char* windows_name) {
  if (!windows_name) {
    t_last_error = "no library name";
    return nullptr;
  }
  std::string file = so_name(windows_name);
  if (file.empty()) {
    t_last_error = std::string("bad library name: ") + windows_name;
    return nullptr;
  }
  std::string folder = search_folder();
  if (folder.empty()) {
    t_last_error = "the program folder is unknown";
    return nullptr;
  }
  std::string path = folder + "/" + file;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    // As on Windows, the case of the name does not matter.
    if (DIR* dir = opendir(folder.c_str())) {
      while (dirent* e = readdir(dir)) {
        if (ascii_equal_nocase(e->d_name, file)) {
          path = folder + "/" + e->d_name;
          break;
        }
      }
      closedir(dir);
    }
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    t_last_error = why ? why : (path + ": cannot be loaded");
    return nullptr;
  }
  return reinterpret_cast<DynLib*>(handle);
}

void* posix_symbol(DynLib* lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(reinterpret_cast<void*>(lib), name);
}

void* posix_symbol_by_ordinal(DynLib* lib, int ordinal) {
  std::string name = "kl_ordinal_" + std::to_string(ordinal);
  return posix_symbol(lib, name.c_str());
}

void posix_unload(DynLib* lib) {
  if (lib) dlclose(reinterpret_cast<void*>(lib));
}

std::string posix_last_error() { return t_last_error; }

}  // namespace

void dynlib_set_search_folder(const char* utf8_folder) {
  std::lock_guard<std::mutex> guard(g_folder_mutex);
  g_search_folder = utf8_folder ? utf8_folder : "";
}

const PlatformDynLib kPosixDynLib = {posix_load, posix_symbol, posix_symbol_by_ordinal, posix_unload,
                                     posix_last_error};
