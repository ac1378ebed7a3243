#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "engine/commands/command_table.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/support/script_asm.h"

namespace {

int always() { return 1; }

// The command list: commands 105-107 with parameters 0-25, unchecked.
std::string command_lines() {
  std::string s;
  for (int c : {105, 106, 107}) {
    s += "command " + std::to_string(c) + " win" + std::to_string(c);
    // Window 105 names its layer set, menu and layers (21-24) by text.
    for (int p = 0; p < 26; ++p) s += " p" + std::to_string(p) + (c == 105 && p >= 21 && p <= 24 ? ":text:0" : ":num:0");
    s += "\n";
  }
  return s;
}

class WindowCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1200), 0);
    saved_paths_ = g_paths;
    g_paths.instance_name = ":game:k_lumbrane";
    // Records and a screen buffer left by another test's start-up are set
    // aside: window 0 opens at its logical size here.
    free_window_records();
    saved_screen_ = g_screen_buffer;
    g_screen_buffer = ScreenBuffer{};
    ASSERT_EQ(create_window_records(), 0);
    ASSERT_EQ(setup_screen_record(0), 0);
    ASSERT_EQ(create_main_window(), 0);
  }
  void TearDown() override {
    destroy_windows();
    free_window_records();
    while (pump_window_messages(always)) {
    }
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    g_paths = saved_paths_;
    g_screen_buffer = saved_screen_;
    g_quit_requested = 0;
    reset_error_report_log();
    fake_ui_reset();
  }
  // Runs one instruction of command id with the given "arg" lines.
  u32 run(u32 command, const std::string& args) {
    script_ = assemble_script(command_lines() + "instr " + std::to_string(command) + "\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    switch (command) {
      case 105: return cmd_window_show_layerset();
      case 106: return cmd_window_show();
      default: return cmd_window_get_rect();
    }
  }
  static void int_var(u32 id) {
    var_record(id)->dim_count = 0;
    ASSERT_EQ(var_alloc_int(id, -7), 0);
  }
  static void text_var(u32 id) {
    var_record(id)->dim_count = 0;
    ASSERT_EQ(var_alloc_string(id, "", 0), 0);
  }
  AsmScript script_;
  EnginePaths saved_paths_;
  ScreenBuffer saved_screen_;
};

TEST_F(WindowCommandTest, SubWindowMadeOnFirstUse) {
  EXPECT_EQ(run(105, "arg 0 int : B:2\narg 7 int : W:320\narg 8 int : W:240\narg 3 int : B:1\n"), 0u);
  WindowRecord* r = g_windows[2];
  ASSERT_NE(r->handle, kNoWindow);
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(r->handle, &info), 0);
  EXPECT_EQ(info.class_name, ":game:k_lumbrane_sub_2");
  EXPECT_EQ(info.client_width, 320);
  EXPECT_EQ(info.client_height, 240);
  EXPECT_EQ(info.visible, 1);
  // A framed sub window opens at the desktop's origin.
  EXPECT_EQ(info.x, 0);
  EXPECT_EQ(info.y, 0);
  EXPECT_EQ(r->maximise_allowed, 0);
  EXPECT_EQ(g_window_slots[2], 2);
  EXPECT_EQ(g_error_report_log.report_count, 0u);

  // Hidden again, moved, topmost.
  EXPECT_EQ(run(105, "arg 0 int : B:2\narg 3 int : B:0\narg 4 int : W:50\narg 5 int : W:60\narg 6 int : B:1\n"), 0u);
  ASSERT_EQ(fake_ui_window_info(r->handle, &info), 0);
  EXPECT_EQ(info.visible, 0);
  EXPECT_EQ(info.x, 50);
  EXPECT_EQ(info.y, 60);
  EXPECT_EQ(info.z_order, 1);
}

TEST_F(WindowCommandTest, SubWindowOfNoSizeIsRefused) {
  EXPECT_EQ(run(105, "arg 0 int : B:1\narg 3 int : B:1\n"), 0u);
  EXPECT_EQ(g_windows[1]->handle, kNoWindow);
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].text,
            sjis_message("サイズが 0x0 のレイヤセットを表示対象に指定することは出来ません。"));
}

TEST_F(WindowCommandTest, SubWindowFromAnotherThreadIsMadeByTheGuiThread) {
  u32 result = 1;
  std::thread frame([&] { result = run(105, "arg 0 int : B:1\narg 7 int : W:64\narg 8 int : W:32\n"); });
  frame.join();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(g_windows[1]->handle, kNoWindow);
  pump_window_messages(always);
  ASSERT_NE(g_windows[1]->handle, kNoWindow);
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(g_windows[1]->handle, &info), 0);
  EXPECT_EQ(info.client_width, 64);
}

TEST_F(WindowCommandTest, CloseStateAndZOrderChecks) {
  EXPECT_EQ(run(105, "arg 18 int : B:0\n"), 0u);
  EXPECT_EQ(g_windows[0]->close_state, kCloseScriptDecides);
  EXPECT_EQ(run(105, "arg 18 int : B:3\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(g_windows[0]->close_state, kCloseScriptDecides);
  EXPECT_EQ(run(105, "arg 6 int : B:3\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101310u);
  EXPECT_EQ(run(105, "arg 24 text : \"nolayer\"\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
}

TEST_F(WindowCommandTest, LogicalSizeChangeResizesWindowAndImage) {
  EXPECT_EQ(run(105, "arg 7 int : W:400\narg 8 int : W:300\n"), 0u);
  WindowRecord* r = g_windows[0];
  EXPECT_EQ(r->logical_width, 400);
  EXPECT_EQ(r->logical_height, 300);
  ASSERT_NE(r->own_image, nullptr);
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(r->handle, &info), 0);
  EXPECT_EQ(info.client_width, 400);
  EXPECT_EQ(info.client_height, 300);
  // Shown client width: the height follows the aspect ratio.
  EXPECT_EQ(run(105, "arg 9 int : W:800\n"), 0u);
  ASSERT_EQ(fake_ui_window_info(r->handle, &info), 0);
  EXPECT_EQ(info.client_width, 800);
  EXPECT_EQ(info.client_height, 600);
  EXPECT_EQ(r->logical_width, 400);
}

TEST_F(WindowCommandTest, ShowMainWindow) {
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(g_windows[0]->handle, &info), 0);
  EXPECT_EQ(info.visible, 0);
  EXPECT_EQ(run(106, ""), 0u);
  ASSERT_EQ(fake_ui_window_info(g_windows[0]->handle, &info), 0);
  EXPECT_EQ(info.visible, 1);
}

TEST_F(WindowCommandTest, Queries) {
  int_var(1000);
  text_var(1001);
  g_windows[0]->title = "Title";
  struct Case {
    const char* args;
    i64 expected;
  } cases[] = {
      {"arg 2 int : B:0\n", 1},
      {"arg 0 int : B:3\narg 2 int : B:0\n", 0},
      {"arg 3 int : B:0\n", 256},
      {"arg 10 int : B:0\n", g_windows[0]->logical_width},
      {"arg 11 int : B:0\n", g_windows[0]->logical_height},
      {"arg 12 int : B:0\n", g_windows[0]->logical_width},
      {"arg 4 int : B:0\n", 0},
      {"arg 17 int : B:0\n", 0},
      // The first given in the fixed order answers: 3 before 10.
      {"arg 10 int : B:0\narg 3 int : B:0\n", 256},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(run(107, std::string("arg 1 int : v:1000\n") + c.args), 0u) << c.args;
    EXPECT_EQ(var_get_int(1000, 0), c.expected) << c.args;
  }
  EXPECT_EQ(run(107, "arg 1 int : v:1001\narg 6 int : B:0\n"), 0u);
  EXPECT_STREQ(var_get_string(1001, 0), "Title");
  // A number into a text variable, a text into a number one: 101140.
  EXPECT_EQ(run(107, "arg 1 int : v:1001\narg 10 int : B:0\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101140u);
  reset_error_report_log();
  EXPECT_EQ(run(107, "arg 1 int : v:1000\narg 6 int : B:0\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101140u);
}

}  // namespace

// The layer set and the drag layer are looked up in the layer tree: a new
// sub window takes the set's picture size, the window-root flag moves with
// the choice, and a drag layer that exists is kept.
TEST_F(WindowCommandTest, LayerSetsAndTheDragLayerByName) {
  ASSERT_EQ(create_system_objects(), 0);
  ObjectNode* sets[2] = {};
  for (int i = 0; i < 2; ++i) {
    sets[i] = get_named_object(g_object_roots[kTreeLayer], i ? "W0/SetB" : "W0/SetA", 0, 10 + i);
    ASSERT_NE(sets[i], nullptr);
    LayerImage* img = get_or_create_layer_image(sets[i]);
    ASSERT_NE(img, nullptr);
    install_image_buffer(img, alloc_image_buffer(nullptr, 30 + i, 20 + i, nullptr), 30 + i, 20 + i);
  }
  auto image = [](ObjectNode* n) { return static_cast<LayerImage*>(n->payload); };
  EXPECT_EQ(run(105, "arg 0 int : B:1\narg 21 text : \"SetA\"\narg 3 int : B:1\n"), 0u)
      << g_error_report_log.last_number;
  WindowRecord* r = g_windows[1];
  EXPECT_EQ(r->root_layer, sets[0]);
  EXPECT_EQ(r->logical_width, 30);
  EXPECT_EQ(r->logical_height, 20);
  EXPECT_EQ(image(sets[0])->is_window_root, 1);

  EXPECT_EQ(run(105, "arg 0 int : B:1\narg 21 text : \"SetB\"\narg 24 text : \"SetB\"\n"), 0u);
  EXPECT_EQ(r->root_layer, sets[1]);
  EXPECT_EQ(r->drag_layer, sets[1]);
  EXPECT_EQ(image(sets[0])->is_window_root, 0);
  EXPECT_EQ(image(sets[1])->is_window_root, 1);

  // A set that is not there changes nothing.
  EXPECT_EQ(run(105, "arg 0 int : B:1\narg 21 text : \"SetC\"\narg 3 int : B:0\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  EXPECT_EQ(r->root_layer, sets[1]);
  EXPECT_EQ(r->shown, 1);
  r->root_layer = nullptr;
  r->drag_layer = nullptr;
  destroy_system_objects();
}

namespace {

TEST_F(WindowCommandTest, MaximiseBoxFollowsThePermissionAndARestoreGivesTheSizeBack) {
  WindowRecord* r = g_windows[0];
  const UiWindow h = r->handle;
  const PlatformUi* u = g_platform.ui;
  FakeUiWindowInfo info;
  auto style = [&] {
    EXPECT_EQ(fake_ui_window_info(h, &info), 0);
    return info.style;
  };
  // Window 0 may be maximised: it has the box (which a desktop needs to
  // offer maximising at all), but no sizing frame.
  EXPECT_NE(style() & ui::kWsMaximizeBox, 0u);
  EXPECT_EQ(style() & ui::kWsThickFrame, 0u);
  EXPECT_EQ(run(105, "arg 0 int : B:0\narg 16 int : B:0\n"), 0u);
  EXPECT_EQ(style() & ui::kWsMaximizeBox, 0u);
  EXPECT_EQ(run(105, "arg 0 int : B:0\narg 16 int : B:1\n"), 0u);
  EXPECT_NE(style() & ui::kWsMaximizeBox, 0u);

  const int width = info.client_width, height = info.client_height;
  // Maximised (the desktop's button): sizable while maximised, grown by the
  // desktop; restored: the frame goes and the size before comes back.
  u->send_message(h, ui::kWmSysCommand, ui::kScMaximize, 0);
  EXPECT_EQ(r->maximised, 1);
  EXPECT_NE(style() & ui::kWsThickFrame, 0u);
  EXPECT_EQ(info.maximized, 1);
  u->set_client_size(h, width * 2, height * 2);
  u->send_message(h, ui::kWmSysCommand, ui::kScRestore, 0);
  EXPECT_EQ(r->maximised, 0);
  EXPECT_EQ(style() & ui::kWsThickFrame, 0u);
  EXPECT_EQ(info.client_width, width);
  EXPECT_EQ(info.client_height, height);
}

}  // namespace
