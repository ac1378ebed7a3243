// The test table of libraries: each registered Windows name with its exports.
// A loaded library is looked up in the table again at every call, so clearing
// the table makes later look-ups fail instead of returning stale addresses.
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynlib.h"

namespace {

struct FakeLibrary {
  std::string name;
  std::vector<std::pair<std::string, void*>> exports;
};

struct FakeHandle {
  std::string name;
};

std::mutex g_mutex;
std::vector<FakeLibrary> g_table;
int g_loaded = 0;
thread_local std::string t_last_error;

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

FakeLibrary* find_library(const std::string& name) {
  for (FakeLibrary& lib : g_table)
    if (same_name(lib.name, name)) return &lib;
  return nullptr;
}

DynLib* fake_load(const char* windows_name) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!windows_name || !find_library(windows_name)) {
    t_last_error = std::string(windows_name ? windows_name : "(null)") + ": not registered";
    return nullptr;
  }
  ++g_loaded;
  return reinterpret_cast<DynLib*>(new FakeHandle{windows_name});
}

void* fake_symbol(DynLib* lib, const char* name) {
  if (!lib || !name) return nullptr;
  std::lock_guard<std::mutex> guard(g_mutex);
  FakeLibrary* found = find_library(reinterpret_cast<FakeHandle*>(lib)->name);
  if (!found) return nullptr;
  for (const auto& e : found->exports)
    if (e.first == name) return e.second;
  return nullptr;
}

void* fake_symbol_by_ordinal(DynLib* lib, int ordinal) {
  std::string name = "kl_ordinal_" + std::to_string(ordinal);
  return fake_symbol(lib, name.c_str());
}

void fake_unload(DynLib* lib) {
  if (!lib) return;
  std::lock_guard<std::mutex> guard(g_mutex);
  --g_loaded;
  delete reinterpret_cast<FakeHandle*>(lib);
}

std::string fake_last_error() { return t_last_error; }

}  // namespace

const PlatformDynLib kFakeDynLib = {fake_load, fake_symbol, fake_symbol_by_ordinal, fake_unload, fake_last_error};

void fake_dynlib_register(const char* windows_name, const FakeExport* exports, int count) {
  if (!windows_name) return;
  std::lock_guard<std::mutex> guard(g_mutex);
  FakeLibrary* lib = find_library(windows_name);
  if (!lib) {
    g_table.push_back(FakeLibrary{windows_name, {}});
    lib = &g_table.back();
  }
  lib->exports.clear();
  for (int i = 0; exports && i < count; ++i)
    if (exports[i].name) lib->exports.emplace_back(exports[i].name, exports[i].address);
}

void fake_dynlib_clear() {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_table.clear();
}

int fake_dynlib_loaded_count() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_loaded;
}
