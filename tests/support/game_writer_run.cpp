// The in-process game runner (see game_writer_run.h).
#include "tests/support/game_writer_run.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "engine/frame/archive.h"
#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"

namespace {
int g_run_serial = 0;

void clear_engine() {
  destroy_system_objects();
  reset_scheduler();
  free_engine_data();
  var_table_free();
  free_command_list();
  g_current_instruction = CurrentInstruction{};
}
}  // namespace

GameRun::GameRun() {
  char name[64];
  std::snprintf(name, sizeof name, "kl_game_%d_%d", static_cast<int>(getpid()), ++g_run_serial);
  folder = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
}

GameRun::~GameRun() {
  clear_engine();
  g_engine_config = EngineConfig{};
  g_paths = EnginePaths();
  g_quit_requested = 0;
  g_run_again_request = 0;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

int GameRun::load(const GameFiles& files) {
  if (!write_game_folder(folder, files)) throw std::runtime_error("game folder not written");
  g_memory_groups = MemoryFileGroups();
  return start();
}

int GameRun::start() {
  clear_engine();
  reset_error_report_log();
  g_quit_requested = 0;
  g_run_again_request = 0;
  reset_archive_index();
  g_archive_in_program = 0;
  g_compiled_scripts_present = 1;
  g_data_access_config = DataAccessConfig();
  g_compiler_files = CompilerFileList();
  std::string sjis = folder;
  for (char& c : sjis)
    if (c == '/') c = '\\';
  if (sjis.back() != '\\') sjis += '\\';
  g_paths.program_folder_true = sjis;
  g_paths.program_folder = sjis;
  g_paths.project_folder = sjis;
  init_expr_ops(1);
  init_var_ops();
  init_arg_eval_tables();
  g_expr_declaration = 0;
  g_pacing.frame_counter = 0;
  if (load_engine_config() != 0) return -2;
  if (create_system_objects() != 0) return -2;
  reset_engine_clocks();
  return load_engine_data();
}

u32 wait_frames_stand_in() {
  if (decode_command_args(104) != 0) return static_cast<u32>(-1);
  if (g_scheduler.current_context) g_scheduler.current_context->wait_frames = static_cast<u32>(arg_value(0));
  return 1;
}

int GameRun::frame() {
  g_pacing.frame_counter += 1;
  int passes = 0;
  do {
    g_run_again_request = 0;
    ++passes;
    if (run_script_tasks() != 0) g_quit_requested = 1;
    if (g_quit_requested) break;
  } while (g_run_again_request != 0 && passes < 1000);
  return passes;
}

void GameRun::frames(int count) {
  for (int i = 0; i < count && !g_quit_requested; ++i) frame();
}

void GameRun::override_command(u32 id, CommandHandler handler) {
  if (id >= kCommandCount) return;
  g_command_table[id] = handler;
  for (ScriptRecord* r : g_engine_data.cache) {
    if (!r) continue;
    for (u32 i = 0; i < r->instruction_count; ++i)
      if (r->command_ids[i] == id) r->handler_tables[1][i] = handler;
  }
}
