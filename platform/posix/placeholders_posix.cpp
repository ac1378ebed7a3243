// Placeholder backends: every call fails until the real backend replaces this
// file.
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/instances.h"
#include "platform/named_locks.h"
#include "platform/process.h"

namespace {
int no_resolve(const char*, std::string*) { return -1; }
std::FILE* no_open(const char*, const char*) { return nullptr; }
int no_path(const char*) { return 0; }
std::int64_t no_size(const char*) { return -1; }
int no_path_fail(const char*) { return -1; }
int no_two(const char*, const char*) { return -1; }
int no_list(const char*, std::vector<FolderEntry>*) { return -1; }
std::string no_text() { return std::string(); }
int no_lock_create(const char*, NamedLock** out) { *out = nullptr; return -1; }
void no_lock_release(NamedLock*) {}
WindowClassListener* no_announce(const char*, void (*)(void*), void*) { return nullptr; }
void no_withdraw(WindowClassListener*) {}
int no_start(const char*, const std::vector<std::string>&) { return -1; }
DynLib* no_load(const char*) { return nullptr; }
void* no_symbol(DynLib*, const char*) { return nullptr; }
void* no_ordinal(DynLib*, int) { return nullptr; }
void no_unload(DynLib*) {}
}  // namespace

const PlatformFiles kPosixFiles = {no_resolve, no_open, no_path, no_path, no_size, no_path_fail, no_path_fail,
                                   no_two, no_two, no_list, no_size, no_text, no_path_fail};
const PlatformNamedLocks kPosixNamedLocks = {no_lock_create, no_lock_release, no_path};
const PlatformInstanceQuery kPosixInstanceQuery = {no_announce, no_withdraw, no_path, no_path_fail};
const PlatformProcess kPosixProcess = {no_start, no_path_fail, no_text, no_text, no_text};
const PlatformDynLib kPosixDynLib = {no_load, no_symbol, no_ordinal, no_unload, no_text};
const PlatformProcess kFakeProcess = kPosixProcess;
const PlatformDynLib kFakeDynLib = kPosixDynLib;
std::vector<FakeProcessCall>& fake_process_calls() { static std::vector<FakeProcessCall> v; return v; }
void fake_process_set_result(int) {}
void fake_dynlib_register(const char*, const FakeExport*, int) {}
void fake_dynlib_clear() {}
int sjis_to_utf8(const char* s, std::string* out) { *out = s; return 0; }
int utf8_to_sjis(const char* s, std::string* out) { *out = s; return 0; }
