// The compiled engine files: what a whole game loads into, and what damaged
// files report instead of being read past their ends.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/hashes.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/window.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "engine/vm/zbn_format.h"
#include "platform/ui.h"
#include "tests/support/game_writer_run.h"

namespace {

void put32(std::vector<u8>& b, std::size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<u8>(v >> (8 * i));
}
void put16(std::vector<u8>& b, std::size_t at, u32 v) {
  b.at(at) = static_cast<u8>(v);
  b.at(at + 1) = static_cast<u8>(v >> 8);
}
// Writes a byte of a scrambled section (offset inside the section).
void put_scrambled(std::vector<u8>& b, std::size_t section_start, std::size_t offset, u8 value) {
  b.at(section_start + offset) = value ^ kScriptSectionKey[offset & 3];
}

const char* const kGame =
    "config width=1024 height=768 show=0 frame_thread=0 debug=1 loose1=1 image=0302010000000000 title=My Game\n"
    "error 101300 block text\n"
    "error 500 another\n"
    "value124 77\n"
    "var 1000 int = -5\n"
    "var 1001 int 3 4 = 9\n"
    "var 1002 float = 2.5\n"
    "var 1003 text 2 = \"abc\"\n"
    "var@1 1004 int = 41\n"
    "script 0 main.txt value=11\n"
    "label SYSTEM_START\n"
    "nop\n"
    "label second\n"
    "jump second\n"
    "script 1 other.txt\n"
    "label in_other\n"
    "set V:1004 ) = B:1\n"
    "end\n";

}  // namespace

TEST(ZbnFiles, WholeGameLoads) {
  GameRun run;
  ASSERT_EQ(run.load_text(kGame), 0) << g_error_report_log.last_message;
  EXPECT_EQ(g_engine_config.screen_width, 1024u);
  EXPECT_EQ(g_engine_config.texture_size, 1024u);
  EXPECT_EQ(g_engine_config.debug_mode, 1u);
  EXPECT_EQ(g_window_config.main_title, "My Game");
  EXPECT_EQ(g_window_config.show_at_first_frame, 0);
  EXPECT_EQ(g_data_access_config.image_priority[0], 3);
  EXPECT_EQ(g_data_access_config.loose_first_development, 1u);
  i32 w = 0, h = 0;
  get_logical_screen_size(&w, &h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  EXPECT_STREQ(error_text_for_code(500), "another");
  EXPECT_EQ(g_sysvar_store.ztt_value_124, 77u);
  EXPECT_EQ(var_get_int(1000, 0), -5);
  EXPECT_EQ(var_record(1001)->count, 12);
  EXPECT_EQ(var_get_int(1001, 11), 9);
  EXPECT_DOUBLE_EQ(var_get_float(1002, 0), 2.5);
  EXPECT_STREQ(var_get_string(1003, 1), "abc");
  // A variable of script 1 exists only once script 1 is loaded.
  EXPECT_EQ(var_record(1004)->type, 0);
  ASSERT_EQ(g_engine_data.scripts.size(), 2u);
  EXPECT_EQ(g_engine_data.scripts[1].source_name, "other.txt");
  EXPECT_EQ(g_engine_data.scripts[0].value, 11u);
  // The system task stands at SYSTEM_START of script 0.
  ScriptContext* c = task_context(g_system_objects[kTreeTask]);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->is_system_task, 1);
  EXPECT_EQ(c->pc, 0u);
  ASSERT_NE(c->script, nullptr);
  EXPECT_EQ(c->script->instruction_count, 2u);
  // Loading script 1 makes its variables; a second load is the cached record
  // and makes nothing again.
  const ScriptRecord* s1 = load_script_file(1);
  ASSERT_NE(s1, nullptr);
  EXPECT_EQ(var_get_int(1004, 0), 41);
  ASSERT_EQ(var_alloc_int(1004, 3), 0);
  EXPECT_EQ(load_script_file(1), s1);
  EXPECT_EQ(var_get_int(1004, 0), 3);
}

TEST(ZbnFiles, FindLabel) {
  GameRun run;
  ASSERT_EQ(run.load_text(kGame), 0);
  i32 i = find_label("second", 6);
  ASSERT_GE(i, 0);
  EXPECT_EQ(label_at(i)->instruction, 1u);
  EXPECT_EQ(find_label("in_other", 8) >= 0, true);
  EXPECT_EQ(label_at(find_label("in_other", 8))->script_no, 1);
  EXPECT_EQ(find_label("secon", 5), -1);
  EXPECT_EQ(label_at(-1), nullptr);
  EXPECT_EQ(label_at(99), nullptr);
  // A name whose hash's top byte has no labels scans on to the end: -1.
  std::string lonely;
  for (int k = 0; k < 100000; ++k) {
    lonely = "n" + std::to_string(k);
    u32 top = murmur_hash2(lonely.data(), lonely.size()) >> 24;
    bool taken = false;
    for (const LabelRecord& l : g_engine_data.labels) taken |= (l.hash >> 24) == top;
    if (!taken) break;
  }
  EXPECT_EQ(find_label(lonely.c_str(), static_cast<u32>(lonely.size())), -1);
}

TEST(ZbnFiles, ConstantLabelsArePreresolved) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 text = \"x\"\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "jump x\n"
                          "instr 42\narg 0 text : H:1000\n"
                          "call x\n"
                          "label x\n"
                          "end\n"),
            0);
  const ScriptRecord* s = task_context(g_system_objects[kTreeTask])->script;
  u32 x = static_cast<u32>(find_label("x", 1));
  EXPECT_EQ(s->first_records[0][0].code_length, kResolvedLabelBase + x);
  // Computed from a variable: looked up when it runs.
  EXPECT_LT(s->first_records[1][0].code_length, kResolvedLabelBase);
  const CommandArgRecord& call = s->first_records[2][0];
  EXPECT_EQ(static_cast<u32>(call.arg_type) | static_cast<u32>(call.assign_op) << 8, x);
}

TEST(ZbnFiles, CallsToLabelsBeyondSixteenBitsAreLookedUpWhenTheyRun) {
  // 65600 labels: the call's label sits above index 65535, which the 16-bit
  // field can't hold, so it is left for the run-time look-up.
  std::string text = "var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n";
  for (int i = 0; i < 65600; ++i) text += "label f" + std::to_string(i) + "\n";
  text += "nop\n";
  GameFiles files = build_game(text);
  // Find a label whose index lands above 65535 and call it.
  GameRun probe;
  ASSERT_EQ(probe.load(files), 0);
  std::string far;
  for (const LabelRecord& l : g_engine_data.labels) {
    if (find_label(l.name.c_str(), static_cast<u32>(l.name.size())) > 65535) {
      far = l.name;
      break;
    }
  }
  ASSERT_FALSE(far.empty());
  std::string text2 = "var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\ncall " + far +
                      "\n";
  for (int i = 0; i < 65600; ++i) {
    if ("f" + std::to_string(i) == far) text2 += "label " + far + "\nset V:1000 ) = B:7\njump stop\n";
    else text2 += "label f" + std::to_string(i) + "\n";
  }
  text2 += "label stop\nloop L:-1\nwait B:1\nendloop\n";
  GameRun run;
  ASSERT_EQ(run.load_text(text2), 0);
  const ScriptRecord* s = task_context(g_system_objects[kTreeTask])->script;
  const CommandArgRecord& call = s->first_records[0][0];
  EXPECT_EQ(call.arg_type, 0);
  EXPECT_EQ(call.assign_op, 0);
  reset_error_report_log();
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 7) << g_error_report_log.last_message;
}

TEST(ZbnFiles, DamagedFilesAreReported) {
  const char* game =
      "var 1000 int 2 = 1\n"
      "script 0 main.txt\n"
      "label SYSTEM_START\n"
      "set V:1000 B:0 ) = B:1\n"
      "end\n";
  struct Case {
    const char* name;
    std::function<void(GameFiles&)> damage;
    u32 error;
  } cases[] = {
      {"script list count beyond the file", [](GameFiles& f) { put32(f["ztbin\\ztt_list.zbn"], 8, 0x10000000); },
       kErrCompiledDataDamaged},
      {"script number outside the list", [](GameFiles& f) { put32(f["ztbin\\ztt_list.zbn"], 12, 5); },
       kErrScriptNumberOutside},
      {"script name length beyond the file", [](GameFiles& f) { put32(f["ztbin\\ztt_list.zbn"], 16, 0xFFFFFFF0u); },
       kErrCompiledDataDamaged},
      {"label count beyond the file", [](GameFiles& f) { put32(f["ztbin\\ztl.zbn"], 8, 1000); },
       kErrCompiledDataDamaged},
      {"label script outside the list",
       [](GameFiles& f) {
         auto& b = f["ztbin\\ztl.zbn"];
         put16(b, kLabelsStart + 1 + 12 + 8, 3);
       },
       kErrScriptNumberOutside},
      {"label depth of 64",
       [](GameFiles& f) {
         auto& b = f["ztbin\\ztl.zbn"];
         b.at(kLabelsStart + 1 + 12 + 10) = 64;
       },
       kErrCompiledDataDamaged},
      {"label name past the end", [](GameFiles& f) { f["ztbin\\ztl.zbn"].at(kLabelsStart) = 200; },
       kErrCompiledDataDamaged},
      {"ten dimensions", [](GameFiles& f) { f["ztbin\\ztv.zbn"].at(10 + 7) = 10; }, kErrCompiledDataDamaged},
      {"unknown variable type", [](GameFiles& f) { f["ztbin\\ztv.zbn"].at(10 + 6) = 7; }, kErrCompiledDataDamaged},
      {"variable count beyond the file", [](GameFiles& f) { put16(f["ztbin\\ztv.zbn"], 8, 2); },
       kErrCompiledDataDamaged},
      {"variable id outside the table", [](GameFiles& f) { put16(f["ztbin\\ztv.zbn"], 10 + 4, 5000); },
       kErrVarIdOutside},
      {"table version", [](GameFiles& f) { put32(f["ztbin\\ztt.zbn"], 4, 553); }, kErrVarTableVersion},
      {"command list above 121 commands", [](GameFiles& f) { put32(f["ztbin\\ztc.zbn"], 8, 122); },
       kErrCompiledDataDamaged},
      {"error texts beyond the file", [](GameFiles& f) { put32(f["ztbin\\zte.zbn"], 8, 3); },
       kErrCompiledDataDamaged},
      {"instruction section size", [](GameFiles& f) { put32(f["ztbin\\ztt00000.zbn"], 12, 12); },
       kErrCompiledDataDamaged},
      {"line section size", [](GameFiles& f) { put32(f["ztbin\\ztt00000.zbn"], 24, 4); }, kErrCompiledDataDamaged},
      {"sections beyond the file", [](GameFiles& f) { put32(f["ztbin\\ztt00000.zbn"], 20, 100000); },
       kErrCompiledDataDamaged},
      {"argument counts beyond the argument section",
       [](GameFiles& f) { put_scrambled(f["ztbin\\ztt00000.zbn"], 32, 1, 9); }, kErrCompiledDataDamaged},
      {"command id beyond the table", [](GameFiles& f) { put_scrambled(f["ztbin\\ztt00000.zbn"], 32, 0, 200); },
       kErrCompiledDataDamaged},
      {"no SYSTEM_START", [](GameFiles& f) { f["ztbin\\ztl.zbn"].at(kLabelsStart + 1) = 'X'; }, kErrLabelMissing},
      {"missing script file", [](GameFiles& f) { f.erase("ztbin\\ztt00000.zbn"); }, kErrEngineFileMissing},
      {"missing labels", [](GameFiles& f) { f.erase("ztbin\\ztl.zbn"); }, kErrEngineFileMissing},
  };
  for (const Case& k : cases) {
    GameFiles files = build_game(game);
    k.damage(files);
    GameRun run;
    EXPECT_NE(run.load(files), 0) << k.name;
    EXPECT_EQ(g_error_report_log.last_number, k.error) << k.name << ": " << g_error_report_log.last_message;
  }
}

TEST(ZbnFiles, ConfigurationChecks) {
  struct Case {
    const char* config;
    int ok;
    u32 error;
    u32 texture;
  } cases[] = {
      {"config width=0 height=0", 1, 0, 256},
      {"config width=128 height=16", 1, 0, 256},
      {"config width=8192 height=600", 1, 0, 8192},
      {"config width=4097 height=600", 1, 0, 8192},
      {"config width=127 height=600", 0, kErrConfigRange, 0},
      {"config width=640 height=8193", 0, kErrConfigRange, 0},
      {"config width=640 height=0", 0, kErrConfigRange, 0},
      {"config frame_thread=2", 0, kErrConfigRange, 0},
  };
  g_desktop_metrics[0] = 1280;
  g_desktop_metrics[1] = 720;
  for (const Case& k : cases) {
    GameRun run;
    int r = run.load_text(std::string(k.config) + "\nscript 0 a.txt\nlabel SYSTEM_START\nnop\n");
    EXPECT_EQ(r == 0, k.ok == 1) << k.config << " " << g_error_report_log.last_message;
    if (k.ok) {
      EXPECT_EQ(g_engine_config.texture_size, k.texture) << k.config;
      i32 w = 0, h = 0;
      get_logical_screen_size(&w, &h);
      if (g_engine_config.screen_width == 0) {
        EXPECT_EQ(w * 10000 + h, 1280 * 10000 + 720);
      }
    } else {
      EXPECT_EQ(g_error_report_log.last_number, k.error) << k.config;
    }
  }
  // The title: longer than 128 bytes, or running past the file.
  GameFiles files = build_game("config title=x\nscript 0 a.txt\nlabel SYSTEM_START\nnop\n");
  put16(files["ztbin\\ztcfg.zbn"], 76, 129);
  GameRun run;
  EXPECT_EQ(run.load(files), -2);
  EXPECT_EQ(g_error_report_log.last_number, kErrConfigTitle);
  put16(files["ztbin\\ztcfg.zbn"], 76, 100);
  GameRun run2;
  EXPECT_EQ(run2.load(files), -2);
  EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged);
  // An empty title becomes one blank.
  put16(files["ztbin\\ztcfg.zbn"], 76, 0);
  GameRun run3;
  EXPECT_EQ(run3.load(files), 0);
  EXPECT_EQ(g_window_config.main_title, " ");
}

TEST(ZbnFiles, DebugModeOffersTheEditButton) {
  for (u32 debug : {0u, 1u, 2u}) {
    GameRun run;
    ASSERT_EQ(run.load_text("config debug=" + std::to_string(debug) + "\nscript 0 a.txt\nlabel SYSTEM_START\nnop\n"), 0);
    reset_error_report_log();
    fake_ui_reset();
    show_error_dialog("x");
    ASSERT_EQ(fake_ui_error_dialogs().size(), 1u);
    // No script position yet: the button shows, disabled.
    EXPECT_EQ(fake_ui_error_dialogs()[0].edit_button, debug == 1 ? 1 : 0) << debug;
  }
  set_error_editor_button(0);
  reset_error_report_log();
  fake_ui_reset();
}

TEST(ZbnFiles, ErrorTextsAndTableSize) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "error " + std::to_string(200000 + i) + " text " + std::to_string(i) + "\n";
  text += "highest 4294967295\nscript 0 a.txt\nlabel SYSTEM_START\nnop\n";
  GameRun run;
  ASSERT_EQ(run.load_text(text), 0) << g_error_report_log.last_message;
  // The table keeps 256 texts; the rest are dropped.
  EXPECT_STREQ(error_text_for_code(200255), "text 255");
  EXPECT_STREQ(error_text_for_code(200256), error_text_for_code(999999));
  // A highest id of 0xFFFFFFFF can't wrap the table to nothing.
  EXPECT_EQ(g_vars.count, 0x10000u);
}

TEST(ZbnFiles, UnreadableScriptIsReportedAndTriedAgain) {
  GameFiles files = build_game(
      "script 0 main.txt\nlabel SYSTEM_START\nnop\n"
      "script 1 other.txt\nlabel there\nnop\n");
  files.erase("ztbin\\ztt00001.zbn");
  GameRun run;
  ASSERT_EQ(run.load(files), 0);
  reset_error_report_log();
  EXPECT_EQ(load_script_file(1), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrEngineFileMissing);
  EXPECT_EQ(g_engine_data.cache[1], nullptr);
  EXPECT_EQ(load_script_file(7), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrScriptNumberOutside);
  // Once the file is there, the next entry loads it.
  GameFiles again = build_game(
      "script 0 main.txt\nlabel SYSTEM_START\nnop\n"
      "script 1 other.txt\nlabel there\nnop\n");
  ASSERT_TRUE(write_game_folder(run.folder, {{"ztbin\\ztt00001.zbn", again["ztbin\\ztt00001.zbn"]}}));
  EXPECT_NE(load_script_file(1), nullptr);
}

TEST(ZbnFiles, AScriptWhoseVariablesFailIsTriedAgain) {
  GameRun run;
  ASSERT_EQ(run.load_text("var@1 1300 int = 0\n"
                          "script 0 main.txt\nlabel SYSTEM_START\nnop\n"
                          "script 1 other.txt\nlabel there\nnop\n"),
            0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    reset_error_report_log();
    EXPECT_EQ(load_script_file(1), nullptr) << attempt;
    EXPECT_EQ(g_error_report_log.last_number, kErrVarIdOutside) << attempt;
    EXPECT_EQ(g_engine_data.cache[1], nullptr) << attempt;
  }
  g_quit_requested = 0;
}

TEST(ZbnFiles, CodeOutsideThePoolIsReportedWhereItIsRead) {
  GameFiles files = build_game(
      "var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\nset V:1000 ) = B:1\nif B:1\nendif\nnop\n");
  // Record 1's code offset (the assignment's value), and the block head's
  // condition record, far past the pool.
  auto& b = files["ztbin\\ztt00000.zbn"];
  const std::size_t args = 32 + 4 * 4;
  GameRun run;
  put_scrambled(b, args, 12 + 8 + 3, 0x40);
  ASSERT_EQ(run.load(files), 0);
  run.frame();
  EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged);
  EXPECT_EQ(var_get_int(1000, 0), 0);
  GameFiles files2 = build_game(
      "var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\nif B:1\nendif\nnop\n");
  put_scrambled(files2["ztbin\\ztt00000.zbn"], 32 + 3 * 4, 8 + 3, 0x40);
  GameRun run2;
  ASSERT_EQ(run2.load(files2), 0);
  run2.frame();
  EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged);
}
