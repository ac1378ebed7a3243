#include "engine/frame/compiler_bridge.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

const char kCompilerBlockName[] = "ZE-TARCompilerFileMapObject";
const char kCompilerListName[] = "ZE-TARCompilerFileMapObject2";
const char kCompilerProgram[] = "system\\DEDad\\DEDad.exe";

namespace {

constexpr u32 kPollMs = 10;
constexpr u32 kDefaultListSize = 16;

std::vector<u8> g_list_copy;
std::vector<CompilerFileRecord> g_records;

u32 get_u32(const u8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24; }
void put_u32(u8* p, u32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
}
// The compiler writes these words while the engine polls them.
u32 load_shared_u32(u8* p) { return __atomic_load_n(reinterpret_cast<u32*>(p), __ATOMIC_ACQUIRE); }
void store_shared_u32(u8* p, u32 v) { __atomic_store_n(reinterpret_cast<u32*>(p), v, __ATOMIC_RELEASE); }

void communication_failed() { show_error_box("", sjis_message("ZE-TARコンパイラとデータ通信が出来ませんでした。")); }

bool compiler_present() {
  const PlatformFiles* f = g_platform.files;
  return f->is_file(kCompilerProgram) || f->is_file("system\\DEDad\\DEDad");
}

// Everything the exchange holds, given back on every way out.
struct Exchange {
  SharedMapping* block = nullptr;
  SharedMapping* list = nullptr;
  ChildProcess* child = nullptr;
  ~Exchange() {
    if (child) {
      g_platform.process->kill_child(child);
      g_platform.process->close_child(child);
    }
    g_platform.shared_memory->release(list);
    g_platform.shared_memory->release(block);
  }
};

// Makes a block. The names are the compiler's and so the same for every
// engine of a user: two development runs of one user take turns instead of
// overwriting each other's blocks. 0 made, 1 the run was asked to close
// while waiting, -1 failed.
int make_block(const char* name, u32 size, SharedMapping** out) {
  for (;;) {
    const int r = g_platform.shared_memory->create(name, size, out);
    if (r != 1) return r;
    if (g_quit_requested) return 1;
    g_platform.clock->sleep_ms(kPollMs);
  }
}

}  // namespace

int parse_compiler_file_list(const u8* data, u32 size, u32 count, std::vector<CompilerFileRecord>* out) {
  out->clear();
  u64 pos = 0;
  for (u32 i = 0; i < count; ++i) {
    if (pos + 4 > size) break;
    const u32 n = get_u32(data + pos);
    pos += 4;
    if (n == 0 || n > size - pos || data[pos + n - 1] != 0) break;
    const char* name = reinterpret_cast<const char*>(data + pos);
    pos += n;
    if (pos + 4 > size) break;
    const u32 s = get_u32(data + pos);
    pos += 4;
    if (s > size - pos) break;
    out->push_back(CompilerFileRecord{name, s, data + pos});
    pos += s;
  }
  if (out->size() == count) return 0;
  out->clear();
  return -1;
}

bool compiler_list_size_fits(u32 count, u32 list_size) {
  return static_cast<u64>(count) * kCompilerMinItemBytes <= list_size;
}

void release_compiler_files() {
  g_compiler_files = CompilerFileList{};
  g_records.clear();
  g_records.shrink_to_fit();
  g_list_copy.clear();
  g_list_copy.shrink_to_fit();
}

int read_compiler_results(const u8* block, const u8* list, u32 list_size, u32 count, u8* result,
                          std::string* project) {
  // 8: one copy of the list, and a record per item inside it. The items are
  // walked where they lie first: what the compiler stated as the list's size
  // only bounds them, and the copy takes the bytes they span, not a stated
  // size far beyond them.
  release_compiler_files();
  if (count > 0 && list_size > 0 && list) {
    u32 extent = 0;
    try {
      if (parse_compiler_file_list(list, list_size, count, &g_records) != 0) {
        communication_failed();
        return -1;
      }
      const CompilerFileRecord& last = g_records.back();
      extent = static_cast<u32>(last.data + last.size - list);
      g_records.clear();
      g_list_copy.assign(list, list + extent);
    } catch (const std::bad_alloc&) {
      release_compiler_files();
      report_error_code(104030, 1);
      return -1;
    }
    // The copy is walked again: its records point into it.
    if (parse_compiler_file_list(g_list_copy.data(), extent, count, &g_records) != 0) {
      release_compiler_files();
      communication_failed();
      return -1;
    }
    g_compiler_files.records = g_records.data();
    g_compiler_files.count = static_cast<u32>(g_records.size());
  }
  // 9: the result and the project folder (bounded by the block).
  *result = block[kCompilerResult];
  const char* text = reinterpret_cast<const char*>(block + kCompilerFolderAt);
  project->assign(text, strnlen(text, kCompilerBlockSize - kCompilerFolderAt));
  return 0;
}

int run_script_compiler() {
  // 1: no compiler. A game whose compiled files lie loose beside the program
  // (no archive holds them) runs them, as from an archive; without those
  // either, the library notices.
  if (!compiler_present()) {
    if (g_platform.files->is_file("ztbin\\ztcfg.zbn")) {
      g_compiled_scripts_present = 1;
      g_paths.project_folder = g_paths.program_folder_true;
      return 0;
    }
    set_error_dialog_caption("License Information");
    report_error_code(100000, 1);
    return 1;
  }
  Exchange x;
  // 2: the control block, with the engine's version and folder.
  const int made = make_block(kCompilerBlockName, kCompilerBlockSize, &x.block);
  if (made == 1) return 1;
  if (made != 0) {
    communication_failed();
    return -1;
  }
  u8* block = g_platform.shared_memory->data(x.block);
  put_u32(block + kCompilerVersionAt, kCompilerEngineVersion);
  const std::string& folder = g_paths.program_folder_true;
  const std::size_t room = kCompilerBlockSize - kCompilerFolderAt - 1;
  std::memcpy(block + kCompilerFolderAt, folder.data(), folder.size() < room ? folder.size() : room);
  // 3: the compiler, in the program folder.
  if (g_platform.process->start_child(kCompilerProgram, {"zt"}, folder.c_str(), &x.child) != 0) {
    g_platform.shared_memory->release(x.block);
    x.block = nullptr;
    show_error_box("", sjis_message("ZE-TARコンパイラを起動できませんでした。"));
    return 1;
  }
  // 4: the engine's own initialisation while the compiler works.
  g_platform.clock->sleep_ms(kPollMs);
  engine_global_init();
  // 5: until the compiler is ready; its end first, or a close of the run,
  // stops here.
  while (load_shared_u32(block + kCompilerReady) != 1) {
    if (g_platform.process->child_exit_code(x.child) != kChildStillActive) return 1;
    if (g_quit_requested) return 1;
    g_platform.clock->sleep_ms(kPollMs);
  }
  // 6: the file list's block, then go.
  const u32 count = get_u32(block + kCompilerFileCount);
  u32 list_size = get_u32(block + kCompilerListSize);
  if (list_size == 0) list_size = kDefaultListSize;
  if (!compiler_list_size_fits(count, list_size)) {
    communication_failed();
    return -1;
  }
  const int list_made = make_block(kCompilerListName, list_size, &x.list);
  if (list_made == 1) return 1;
  if (list_made != 0) {
    communication_failed();
    return -1;
  }
  store_shared_u32(block + kCompilerGo, 1);
  // 7: the list is read only once the compiler has ended.
  while (g_platform.process->child_exit_code(x.child) == kChildStillActive) {
    if (g_quit_requested) return 1;
    g_platform.clock->sleep_ms(kPollMs);
  }
  g_platform.process->close_child(x.child);
  x.child = nullptr;
  // 8-9: the files, the result and the project folder.
  u8 result = 0;
  std::string project;
  const u8* list = count > 0 && list_size > 0 ? g_platform.shared_memory->data(x.list) : nullptr;
  if (read_compiler_results(block, list, list_size, count, &result, &project) != 0) return -1;
  // 10: only a successful compile goes on, in the project folder.
  if (result != 1) {
    release_compiler_files();
    return 1;
  }
  if (project.empty() || g_platform.files->set_current_folder(project.c_str()) != 0) {
    release_compiler_files();
    communication_failed();
    return 1;
  }
  g_paths.project_folder = project;
  return 0;
}
