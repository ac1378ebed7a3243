// Runs a small game whose main compiled script comes from the input, for a
// few frames. The input is the script file as the compiler writes it before
// scrambling (header, then instructions, arguments, expression pool and
// lines); the target scrambles its sections with the section key. The other
// engine files are those of the game below, served from a memory group.
//
// The seeds (corpus/script_run) are that game's own script and variants.
// Each run is bounded: every command handler goes through a counter that
// asks the engine to quit after a fixed number of instructions, so a
// mutated endless loop ends too. Commands outside the script machine's own
// (layers, sound, windows) are stand-ins that do nothing: they need the
// subsystems a full start-up makes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/main_loop.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_files.h"
#include "engine/vm/zbn_format.h"
#include "platform/platform.h"
#include "tests/support/game_writer.h"
#include "tests/support/game_writer_run.h"

namespace {

// Every kind of control flow, calls with values, tasks started, restarted
// from a task-state text and stopped, declarations, texts and waits, and a
// jump into a second script file.
const char* const kGame =
    "config width=128 height=16\n"  // a small screen layer: cheap to make every run
    "var 53 int 17 = 0\n"
    "var 54 float 17 = 0\n"
    "var 55 text 17 = \"\"\n"
    "var 60 int 17 = 0\n"
    "var 61 float 17 = 0\n"
    "var 62 text 17 = \"\"\n"
    "var 67 int 17 = 0\n"
    "var 1000 int = 0\n"
    "var 1001 float = 0\n"
    "var 1002 text 2 = \"\"\n"
    "var 1003 int 3 = 0\n"
    "script 0 main.txt\n"
    "label SYSTEM_START\n"
    "start t worker | i1: B:3 | key: B:5\n"
    "start u worker | again\n"
    "loop B:4\n"
    "  set V:1000 ) += B:1\n"
    "  if H:1000 B:2 =\n"
    "    call sub | i: H:1000 | f: F:1.5 | t: \"x\"\n"
    "  elif H:1000 B:3 =\n"
    "    bbreak\n"
    "  else\n"
    "    nop\n"
    "  endif\n"
    "  wait B:1\n"
    "endloop\n"
    "dim V:1003 B:3 ) = B:7\n"
    "dims V:1002 B:2 ) = \"ab\"\n"
    "sett V:1002 B:1 ) = \"c\x82\xa0\" \"d\" +\n"
    "start t worker | state: \"\x01\x02\x03\x04\x05\x06\x07\x08\x01\x01\x01\x01\x01\x01\x01"
    "aaaaaaa\x01"
    "aaaaaai\x01"
    "aaaaaaamain.txt\"\n"
    "stop u\n"
    "jump tail\n"
    "label sub\n"
    "loop L:-1\n"
    "  break\n"
    "endloop\n"
    "return | i: V:53 B:1 ) B:1 + | f: V:54 B:1 ) | t: V:55 B:1 ) \"!\" +\n"
    "label worker\n"
    "set V:1003 B:1 ) = V:67 B:1 )\n"
    "wait B:2\n"
    "end\n"
    "script 1 other.txt\n"
    "label tail\n"
    "loop L:-1\n"
    "  wait B:1\n"
    "endloop\n";

constexpr u32 kInstructionBudget = 4000;
constexpr int kFrames = 6;
u32 g_executed = 0;
CommandHandler g_real[kCommandCount];

// The commands of the script machine itself (those of the game writer's
// standard command list); any other id does nothing here.
bool vm_command(u32 id) {
  static const u32 kIds[] = {0, 11, 25, 42, 43, 44, 45, 46, 47, 48, 50, 52, 53, 55, 56, 57, 58, 79, 92, 95, 96, 104};
  for (u32 k : kIds)
    if (k == id) return true;
  return false;
}

template <u32 Id>
u32 counted() {
  if (++g_executed > kInstructionBudget) {
    g_quit_requested = 1;
    return 1;
  }
  return vm_command(Id) && g_real[Id] ? g_real[Id]() : 0;
}

template <u32... Ids>
void bind_counted(std::integer_sequence<u32, Ids...>, GameRun& run) {
  init_command_table();
  ((g_real[Ids] = g_command_bindings[Ids]), ...);
  (run.override_command(Ids, counted<Ids>), ...);
}

const GameFiles& game_files() {
  static const GameFiles files = build_game(kGame);
  return files;
}

// The plain script bytes scrambled as the engine expects them.
std::vector<u8> scrambled(const u8* data, std::size_t size) {
  std::vector<u8> b(data, data + size);
  auto word = [&](std::size_t at) -> u64 {
    if (at + 4 > b.size()) return 0;
    return static_cast<u64>(b[at]) | static_cast<u64>(b[at + 1]) << 8 | static_cast<u64>(b[at + 2]) << 16 |
           static_cast<u64>(b[at + 3]) << 24;
  };
  u64 pos = kScriptHeaderSize;
  for (std::size_t s = 0; s < 4; ++s) {
    u64 length = word(12 + 4 * s);
    for (u64 i = 0; i < length && pos + i < b.size(); ++i) b[pos + i] ^= kScriptSectionKey[i & 3];
    pos += length;
  }
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static GameRun* run = [] {
    platform_select_fakes();
    g_errors_quiet = true;
    init_command_table();
    return new GameRun();
  }();
  if (size > 65536) return 0;
  // Every file of the game from memory group 0, the main script from the input.
  g_memory_groups = MemoryFileGroups();
  for (const auto& [name, bytes] : game_files()) {
    MemoryFileEntry e;
    e.name = name;
    for (char& c : e.name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    e.data = name == "ztbin\\ztt00000.zbn" ? scrambled(data, size) : bytes;
    g_memory_groups.groups[0].entries.push_back(std::move(e));
  }
  g_executed = 0;
  if (run->start() == 0) {
    bind_counted(std::make_integer_sequence<u32, kCommandCount>{}, *run);
    run->frames(kFrames);
  }
  g_quit_requested = 0;
  g_run_again_request = 0;
  g_memory_groups = MemoryFileGroups();
  return 0;
}
