// Every system variable read by a compiled script, compared with the value
// its owner keeps (or the fixed value it always reads).
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/render/compositor.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "platform/process.h"
#include "tests/support/game_writer_run.h"

namespace {

enum Kind { kInt, kFloat, kText };

struct Read {
  u32 id;
  i64 element;
  Kind kind;
  // The value the owner keeps, asked after the script ran (null: checked
  // separately below).
  std::function<i64()> expected_int;
  std::function<std::string()> expected_text;
};

std::tm local_now() {
  std::time_t t = std::time(nullptr);
  std::tm lt{};
  localtime_r(&t, &lt);
  return lt;
}

}  // namespace

TEST(SystemVariablesInScripts, EveryVariableReadsItsOwnersValue) {
  const std::vector<Read> reads = {
      {0, 8, kInt, [] { return g_start_time.year; }, {}},
      {0, 9, kInt, [] { return g_start_time.month; }, {}},
      {0, 10, kInt, [] { return g_start_time.day; }, {}},
      {0, 11, kInt, [] { return g_start_time.day_of_week; }, {}},
      {0, 12, kInt, [] { return g_start_time.hour; }, {}},
      {0, 13, kInt, [] { return g_start_time.minute; }, {}},
      {0, 14, kInt, [] { return g_start_time.second; }, {}},
      {0, 15, kInt, [] { return g_start_time.millisecond; }, {}},
      {1, 2, kInt, [] { return sv_script_clock(1); }, {}},
      {1, 3, kInt, [] { return sv_script_clock(2); }, {}},
      {1, 4, kInt, [] { return sv_script_clock(3); }, {}},
      {2, 0, kInt, [] { return g_os_code; }, {}},
      {3, 0, kInt, [] { return 9; }, {}},
      {4, 0, kInt, [] { return sv_sound_on(); }, {}},
      {8, 0, kInt, [] { return 0; }, {}},
      {11, 0, kInt, [] { return sv_debug_mode(); }, {}},
      {15, 0, kInt, [] { return 15015; }, {}},
      {48, 0, kInt, [] { return 0; }, {}},
      {49, 0, kInt, [] { return 999; }, {}},
      {50, i64{1005} << 32 | 1, kInt, [] { return 42; }, {}},
      {53, 1, kInt, [] { return 0; }, {}},  // no call frame at the top of a task
      {67, 1, kInt, [] { return sv_task_slot_int(1); }, {}},
      {70, i64{1005} << 32, kInt, [] { return kVarInt; }, {}},
      {70, i64{1002} << 32, kInt, [] { return kVarText; }, {}},
      {108, 0, kInt, [] { return 554; }, {}},
      {109, 0, kInt, [] { return 4321; }, {}},
      {110, 0, kInt, [] { return static_cast<i64>(sv_scheduler_frame_counter()); }, {}},
      {111, 0, kInt, [] { return sv_script_clock(0); }, {}},
      {113, 0, kInt, [] { return 1; }, {}},
      {115, 0, kInt, [] { i32 w = 0, h = 0; get_logical_screen_size(&w, &h); return w; }, {}},
      {116, 0, kInt, [] { i32 w = 0, h = 0; get_logical_screen_size(&w, &h); return h; }, {}},
      {119, 0, kInt, [] { return -2; }, {}},
      {124, 0, kInt, [] { return 124124; }, {}},
      {126, 0, kInt, [] { return g_object_roots[kTreeTask]->child_count; }, {}},
      {132, 0, kInt, [] { return -132; }, {}},
      {133, 0, kInt, [] { return sv_mouse_x(0); }, {}},
      {142, 0, kInt, [] { return sv_mouse_y(3); }, {}},
      {144, 65, kInt, [] { return 7; }, {}},
      {147 + 5, 0, kInt, [] { return 7; }, {}},    // script key 5 -> virtual key 65
      {281 + 5, 0, kInt, [] { return -3; }, {}},   // the second set
      {415 + 5, 0, kInt, [] { return 65; }, {}},   // the key map itself
      {276, 0, kInt, [] { return 11; }, {}},       // joystick 0, first entry
      {412, 1, kInt, [] { return 12; }, {}},       // joystick 1, third entry, second set
      {543, 0, kInt, [] { return 11; }, {}},
      {10, 0, kFloat, [] { return 0; }, {}},       // checked as a float below
      {12, 0, kText, {}, [] { return g_args.args[0]; }},
      {52, i64{1002} << 32, kText, {}, [] { return std::string("ref text"); }},
      {103, 0, kText, {}, [] { return g_paths.program_folder_true; }},
      {104, 0, kText, {}, [] { return g_paths.project_folder; }},
      {105, 0, kText, {}, [] { return std::string("C:\\Users\\p\\My Games\\save\\"); }},
      {106, 0, kText, {}, [] { return g_paths.app_data_folder; }},
      {107, 0, kText, {}, [] { return g_paths.documents_folder; }},
      {122, 0, kText, {}, [] { return std::string("first kept text"); }},
      {123, 0, kText, {}, [] { return std::string("second"); }},
      {125, 0, kText, {}, [] { return std::string("SYSTEM"); }},
      {128, 0, kText, {}, [] { return std::string(g_object_base_paths[kTreeLayer]); }},
      {129, 0, kText, {}, [] { return std::string("S0"); }},
      {130, 0, kText, {}, [] { return std::string(g_object_base_paths[kTreeTask]); }},
      {131, 0, kText, {}, [] { return std::string(g_object_base_paths[kTreeMenu]); }},
  };

  // The system variables as the variable table declares them, the results
  // in 1000 (integers), 1001 (floats) and 1002 (texts), the reference
  // targets in 1002 and 1005.
  std::string vars =
      "value124 124124\nkeymap 5 65\n"
      "var 0 int 16 = 0\nvar 1 int 5 = 0\nvar 10 float = 0\nvar 12 text 9 = \"\"\n"
      "var 50 int 1 = 0\nvar 52 text 1 = \"\"\nvar 53 int 17 = 0\nvar 67 int 17 = 0\nvar 70 int 1 = 0\n"
      "var 144 int 256 = 0\nvar 276 int 16 = 0\nvar 412 int 16 = 0\nvar 543 int 16 = 0\n";
  std::vector<bool> declared(1000, false);
  for (u32 id : {0u, 1u, 10u, 12u, 50u, 52u, 53u, 67u, 70u, 144u, 276u, 412u, 543u}) declared[id] = true;
  for (u32 id = 5; id <= 7; ++id) vars += "var " + std::to_string(id) + " int = 0\n", declared[id] = true;
  for (const Read& r : reads) {
    if (declared[r.id]) continue;
    declared[r.id] = true;
    vars += "var " + std::to_string(r.id) + (r.kind == kText ? " text = \"\"\n" : " int = 0\n");
  }
  const size_t n = reads.size() + 8 + 3;
  vars += "var 1000 int " + std::to_string(n) + " = 0\nvar 1001 float " + std::to_string(n) +
          " = 0\nvar 1002 text " + std::to_string(n) + " = \"ref text\"\nvar 1005 int 2 = 42\n";

  // The local date and time (0, elements 0-7) and the memory (5-7) first,
  // then the table.
  std::string body;
  auto element_read = [](u32 id, i64 element) {
    return "V:" + std::to_string(id) + " L:" + std::to_string(element) + " )";
  };
  for (int e = 0; e < 8; ++e) body += "set V:1000 B:" + std::to_string(e) + " ) = " + element_read(0, e) + "\n";
  for (u32 id = 5; id <= 7; ++id)
    body += "set V:1000 B:" + std::to_string(8 + id - 5) + " ) = H:" + std::to_string(id) + "\n";
  for (size_t i = 0; i < reads.size(); ++i) {
    const Read& r = reads[i];
    const std::string slot = "B:" + std::to_string(11 + i) + " )";
    const std::string src = r.element == 0 && r.id != 0 ? "H:" + std::to_string(r.id) : element_read(r.id, r.element);
    if (r.kind == kText) body += "sett V:1002 " + slot + " = " + src + "\n";
    else if (r.kind == kFloat) body += "setf V:1001 " + slot + " = " + src + "\n";
    else body += "set V:1000 " + slot + " = " + src + "\n";
  }

  GameRun run;
  ASSERT_EQ(run.load_text(vars + "script 0 main.txt\nlabel SYSTEM_START\n" + body + "loop L:-1\nwait B:1\nendloop\n"), 0)
      << g_error_report_log.last_message;
  // Owners' values that a fresh test process would leave at 0, set once
  // the game has loaded.
  const u32 saved_dx = g_directx_major_version;
  const u64 saved_frames = g_composed_frame_counter;
  const u8 saved_d3d = g_settings.use_direct3d;
  const std::string saved_save_folder = g_settings.save_folder;
  g_directx_major_version = 9;
  g_composed_frame_counter = 4321;
  g_settings.use_direct3d = 1;
  g_settings.save_folder = "C:\\Users\\p\\My Games\\save\\";
  g_sysvar_store.value_15 = 15015;
  g_sysvar_store.counter_132 = -132;
  g_sysvar_store.switches_117[2] = 0xFE;
  g_start_time = StartTime{2001, 2, 3, 4, 5, 6};
  g_start_time.day_of_week = 6;
  g_start_time.millisecond = 789;
  sv_set_key_counter(0, 65, 7);
  sv_set_key_counter(1, 65, -3);
  sv_set_key_counter(0, 384, 11);
  sv_set_key_counter(1, 384 + 36 + 2, 12);
  TextRecord* saved_text_record = g_text_record;
  TextRecord text_record;
  std::snprintf(text_record.text_a, sizeof text_record.text_a, "first kept text");
  std::snprintf(text_record.text_b, sizeof text_record.text_b, "second");
  g_text_record = &text_record;

  reset_error_report_log();
  const std::tm before = local_now();
  run.frame();
  const std::tm after = local_now();
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;

  // The date of the run: equal to the local date before or after the frame
  // (the two differ only when the frame crossed a minute).
  const i64 date[8] = {var_get_int(1000, 0), var_get_int(1000, 1), var_get_int(1000, 2), var_get_int(1000, 3),
                       var_get_int(1000, 4), var_get_int(1000, 5), var_get_int(1000, 6), var_get_int(1000, 7)};
  auto matches = [&](const std::tm& t) {
    return date[0] == t.tm_year + 1900 && date[1] == t.tm_mon + 1 && date[2] == t.tm_mday && date[3] == t.tm_wday &&
           date[4] == t.tm_hour && date[5] == t.tm_min;
  };
  EXPECT_TRUE(matches(before) || matches(after))
      << date[0] << "-" << date[1] << "-" << date[2] << " (" << date[3] << ") " << date[4] << ":" << date[5];
  EXPECT_GE(date[6], 0);
  EXPECT_LE(date[6], 60);
  EXPECT_GE(date[7], 0);
  EXPECT_LE(date[7], 999);

  // Memory: the total is fixed; what is free moves, so it is bounded by the
  // owner's readings around the check.
  u64 total = 0, available = 0;
  u32 load = 0;
  ASSERT_EQ(system_memory_status(&total, &available, &load), 0);
  EXPECT_EQ(var_get_int(1000, 8), static_cast<i64>(total));
  EXPECT_GT(total, 0u);
  EXPECT_GE(var_get_int(1000, 9), 0);
  EXPECT_LE(var_get_int(1000, 9), 100);
  EXPECT_LE(std::abs(var_get_int(1000, 9) - static_cast<i64>(load)), 20);
  EXPECT_GT(var_get_int(1000, 10), 0);
  EXPECT_LE(var_get_int(1000, 10), static_cast<i64>(total));

  for (size_t i = 0; i < reads.size(); ++i) {
    const Read& r = reads[i];
    const i64 slot = static_cast<i64>(11 + i);
    if (r.kind == kText) {
      const char* got = var_get_string(1002, slot);
      EXPECT_EQ(std::string(got ? got : ""), r.expected_text()) << "variable " << r.id << " element " << r.element;
    } else if (r.kind == kFloat) {
      EXPECT_DOUBLE_EQ(var_get_float(1001, slot), 3.141592653589793) << "variable " << r.id;
    } else {
      EXPECT_EQ(var_get_int(1000, slot), r.expected_int()) << "variable " << r.id << " element " << r.element;
    }
  }

  g_text_record = saved_text_record;
  g_directx_major_version = saved_dx;
  g_composed_frame_counter = saved_frames;
  g_settings.use_direct3d = saved_d3d;
  g_settings.save_folder = saved_save_folder;
  g_sysvar_store = SysvarStore{};
  g_start_time = StartTime{};
  sv_set_key_counter(0, 65, 0);
  sv_set_key_counter(1, 65, 0);
  sv_set_key_counter(0, 384, 0);
  sv_set_key_counter(1, 384 + 36 + 2, 0);
}

// Variable 113 follows the configured GPU drawing switch both ways.
TEST(SystemVariablesInScripts, GpuDrawingSwitch) {
  const u8 saved = g_settings.use_direct3d;
  for (u8 on : {u8{0}, u8{1}}) {
    g_settings.use_direct3d = on;
    GameRun run;
    ASSERT_EQ(run.load_text("var 113 int = 0\nvar 1000 int = 5\nscript 0 main.txt\nlabel SYSTEM_START\n"
                            "set V:1000 ) = H:113\nloop L:-1\nwait B:1\nendloop\n"),
              0);
    run.frame();
    EXPECT_EQ(var_get_int(1000, 0), on);
  }
  g_settings.use_direct3d = saved;
}
