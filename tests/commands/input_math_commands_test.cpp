// Script commands 49 (input switches), 60 and 61 (math), 69 (cursor) and
// 78 (registry reading).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/commands/command_table.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/script_random.h"
#include "engine/vm/vars.h"
#include "platform/cursor.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tests/support/script_asm.h"

i64 random_in_range(i64 a, i64 b, u32 draw);

namespace {

constexpr u32 kInt = 1000, kFloat = 1001, kText = 1002, kIntArr = 1003, kFloatArr = 1004, kIntArr2 = 1005;

std::int64_t quiet_proc(UiWindow, u32, u64, i64) { return 0; }

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    fake_cursor_reset();
    fake_registry_reset();
    reset_error_report_log();
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    for (u32 id : {kInt, kFloat, kText}) var_record(id)->dim_count = 0;
    ASSERT_EQ(var_alloc_int(kInt, -7), 0);
    ASSERT_EQ(var_alloc_double(kFloat, -7), 0);
    ASSERT_EQ(var_alloc_string(kText, "stale", 5), 0);
    for (u32 id : {kIntArr, kFloatArr, kIntArr2}) {
      var_record(id)->dim_count = 1;
      var_record(id)->dims[0] = 40;
    }
    ASSERT_EQ(var_alloc_int(kIntArr, 0), 0);
    ASSERT_EQ(var_alloc_double(kFloatArr, 0), 0);
    ASSERT_EQ(var_alloc_int(kIntArr2, 0), 0);
    g_input_switches = InputSwitches{};
    g_cursor = CursorState{};
  }
  void TearDown() override {
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    fake_ui_reset();
    g_input_switches = InputSwitches{};
    g_cursor = CursorState{};
  }
  // Runs one instruction of command id with the given parameter list and
  // "arg" lines.
  u32 run(u32 id, const std::string& params, const std::string& args, u32 (*handler)()) {
    script_ = assemble_script("command " + std::to_string(id) + " cmd" + std::to_string(id) + " " + params +
                              "\ninstr " + std::to_string(id) + "\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    return handler();
  }
  u32 math(const std::string& args) {
    std::string params = "result:num:0 a:raw:0 b:raw:0 text:text:0";
    for (int p = 4; p <= 22; ++p) params += " s" + std::to_string(p) + ":num:0";
    return run(60, params, args, cmd_math_compute);
  }
  AsmScript script_;
};

TEST_F(CommandsTest, MathFunctionsInTheirOrder) {
  struct Case {
    const char* args;
    double expected;
  } cases[] = {
      {"arg 1 float : F:0.5\narg 4 int : B:1\n", std::sin(0.5)},
      {"arg 1 float : F:0.5\narg 7 int : B:1\n", std::cos(0.5)},
      {"arg 1 float : F:0.5\narg 10 int : B:1\n", std::tan(0.5)},
      {"arg 1 float : F:0.5\narg 5 int : B:1\n", std::asin(0.5)},
      {"arg 1 float : F:0.5\narg 8 int : B:1\n", std::acos(0.5)},
      {"arg 1 float : F:0.5\narg 6 int : B:1\n", std::sinh(0.5)},
      {"arg 1 float : F:0.5\narg 9 int : B:1\n", std::cosh(0.5)},
      {"arg 1 float : F:0.5\narg 13 int : B:1\n", std::tanh(0.5)},
      {"arg 1 float : F:0.5\narg 11 int : B:1\n", std::atan(0.5)},
      {"arg 1 float : F:1.0\narg 2 float : F:-2.0\narg 12 int : B:1\n", std::atan2(1.0, -2.0)},
      {"arg 1 float : F:2.5\narg 14 int : B:1\n", 2.5},
      {"arg 1 float : F:2.0\narg 16 int : B:1\n", std::exp(2.0)},
      {"arg 1 float : F:2.0\narg 17 int : B:1\n", std::log(2.0)},
      {"arg 1 float : F:1000.0\narg 18 int : B:1\n", 3.0},
      {"arg 1 float : F:2.0\narg 2 float : F:10.0\narg 19 int : B:1\n", 1024.0},
      // The first given selector in the table's order decides: cos (7)
      // comes before arcsine (5).
      {"arg 1 float : F:0.5\narg 5 int : B:1\narg 7 int : B:1\n", std::cos(0.5)},
      // An integer operand is taken as a double.
      {"arg 1 int : B:3\narg 14 int : B:1\n", 3.0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(math(std::string("arg 0 int : v:1001\n") + c.args), 0u) << c.args;
    EXPECT_DOUBLE_EQ(var_get_float(kFloat, 0), c.expected) << c.args;
  }
  // Into an integer variable the double is truncated.
  ASSERT_EQ(math("arg 0 int : v:1000\narg 1 float : F:2.75\narg 14 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), 2);
  // 15 keeps the operand's own type.
  ASSERT_EQ(math("arg 0 int : v:1001\narg 1 int : L:0x7FFFFFFFFFFFFFFF\narg 15 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_float(kFloat, 0), static_cast<double>(INT64_MAX));
  ASSERT_EQ(math("arg 0 int : v:1000\narg 1 int : L:0x7FFFFFFFFFFFFFFF\narg 15 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), INT64_MAX);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(CommandsTest, RandomChecksumAndTextExpression) {
  mt_seed(5489);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(math("arg 0 int : v:1000\narg 1 int : B:10\narg 2 int : B:1\narg 20 int : B:1\n"), 0u);
    const i64 v = var_get_int(kInt, 0);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 10);
  }
  // The MT19937 draw decides the value: low + draw mod span.
  mt_seed(1);
  std::mt19937 reference(1);
  ASSERT_EQ(math("arg 0 int : v:1000\narg 1 int : I:-1000\narg 2 int : I:1000\narg 20 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), -1000 + static_cast<i64>(reference() % 2001));
  // The widest ranges neither overflow nor divide by zero.
  EXPECT_EQ(random_in_range(INT64_MIN, INT64_MAX, 7), INT64_MIN + 7);
  EXPECT_EQ(random_in_range(INT64_MAX, INT64_MIN + 1, 5), INT64_MIN + 1 + 5);
  EXPECT_EQ(random_in_range(-1, INT64_MAX, 3), 2);
  EXPECT_EQ(random_in_range(4, 4, 123456), 4);

  ASSERT_EQ(math("arg 0 int : v:1000\narg 3 text : \"hello\"\narg 21 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), static_cast<i64>(crc32(0, reinterpret_cast<const Bytef*>("hello"), 5)));
  ASSERT_EQ(math("arg 0 int : v:1001\narg 3 text : \"(2+3)*4\"\narg 22 int : B:1\n"), 0u);
  EXPECT_EQ(var_get_float(kFloat, 0), 20.0);
}

TEST_F(CommandsTest, PerspectiveComputation) {
  const std::string params = "ints:num:0 floats:num:0";
  auto set_b = [](int k, double v) { var_record(kFloatArr)->floats[k] = v; };
  // Fixed branch: A[7] set.
  var_record(kIntArr)->ints[7] = 1;
  set_b(13, 50);
  set_b(18, 10);
  set_b(16, 200);
  set_b(14, 30);
  set_b(19, 4);
  set_b(17, 50);
  ASSERT_EQ(run(61, params, "arg 0 int : v:1003\narg 1 int : v:1004\n", cmd_var_compute), 0u);
  EXPECT_DOUBLE_EQ(var_get_float(kFloatArr, 31), 50 - 10 * 200 / 100.0);
  EXPECT_DOUBLE_EQ(var_get_float(kFloatArr, 32), 30 - 4 * 50 / 100.0);
  EXPECT_DOUBLE_EQ(var_get_float(kFloatArr, 33), 200);
  EXPECT_DOUBLE_EQ(var_get_float(kFloatArr, 34), 50);

  // The perspective branch, against the formula written out.
  var_record(kIntArr)->ints[7] = 0;
  var_record(kIntArr)->ints[1] = 1;  // differs from A[2]
  var_record(kIntArr)->ints[5] = 3;
  var_record(kIntArr)->ints[6] = 5;
  for (int k = 3; k <= 30; ++k) set_b(k, k * 1.5);
  auto B = [](int k) { return k * 1.5; };
  ASSERT_EQ(run(61, params, "arg 0 int : v:1003\narg 1 int : v:1004\n", cmd_var_compute), 0u);
  const double p = B(20) / 100, q = B(21) / 100, d = B(5) + B(30);
  const double f = std::pow(2.0, (B(27) - B(8) + d) / 100), g = std::pow(2.0, (B(27) - B(15) + d) / 100);
  double X = ((B(6) - B(9)) - (B(3) + B(28)) * p) * f + B(11) * p + 1.5 + B(9) * f + (B(13) * p - B(18)) * g;
  double Y = ((B(7) - B(10)) - (B(4) + B(29)) * q) * f + B(12) * q + 2.5 + B(10) * f + (B(14) * q - B(19)) * g;
  X += B(18) * (100 - B(16)) * g / 100;
  Y += B(19) * (100 - B(17)) * g / 100;
  EXPECT_NEAR(var_get_float(kFloatArr, 31), X, 1e-9);
  EXPECT_NEAR(var_get_float(kFloatArr, 32), Y, 1e-9);
  EXPECT_NEAR(var_get_float(kFloatArr, 33), B(16) * g, 1e-9);
  EXPECT_NEAR(var_get_float(kFloatArr, 34), B(17) * g, 1e-9);

  // An integer target takes the results rounded, not truncated.
  var_record(kIntArr)->ints[7] = 1;
  for (int k = 0; k < 40; ++k) var_record(kIntArr2)->ints[k] = 0;
  var_record(kIntArr2)->ints[13] = 7;
  var_record(kIntArr2)->ints[18] = 1;
  var_record(kIntArr2)->ints[16] = 50;  // X = 7 - 0.5 = 6.5 -> 7
  ASSERT_EQ(run(61, params, "arg 0 int : v:1003\narg 1 int : v:1005\n", cmd_var_compute), 0u);
  EXPECT_EQ(var_get_int(kIntArr2, 31), 7);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(CommandsTest, RegistryReadByRootAndPath) {
  ASSERT_EQ(kFakeRegistry.write_value(kRegCurrentUser, "Software\\Maker\\Game", "Path", kRegSz, "C:\\Game"), 0);
  ASSERT_EQ(kFakeRegistry.write_value(kRegLocalMachine, "Software\\Maker\\Game", "", kRegSz, "machine"), 0);
  const std::string params = "key:text:0 name:text:0 result:num:0";
  struct Case {
    const char* key;
    const char* name;
    const char* text;  // into the text variable; null: unchanged
  } cases[] = {
      {"HKEY_CURRENT_USER\\\\Software\\\\Maker\\\\Game", "Path", "C:\\Game"},
      {"HKEY_CURRENT_USER/Software/Maker/Game", "path", "C:\\Game"},
      {"HKEY_LOCAL_MACHINE/Software/Maker/Game", "", "machine"},
      {"HKEY_CURRENT_USER/Software/Maker/Game", "Missing", ""},
      {"HKEY_USERS/Software/Maker/Game", "Path", ""},
      // Without a known root (exact case) nothing happens.
      {"hkey_current_user/Software/Maker/Game", "Path", nullptr},
      {"HKCU/Software/Maker/Game", "Path", nullptr},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(store_string_element(kText, 0, "stale", 5), 0);
    ASSERT_EQ(run(78, params,
                  std::string("arg 0 text : \"") + c.key + "\"\narg 1 text : \"" + c.name + "\"\narg 2 int : v:1002\n",
                  cmd_registry_read),
              0u)
        << c.key;
    EXPECT_STREQ(var_get_string(kText, 0), c.text ? c.text : "stale") << c.key << " " << c.name;
  }
  // A number variable: unchanged on success, 0 on failure.
  ASSERT_EQ(run(78, params, "arg 0 text : \"HKEY_CURRENT_USER/Software/Maker/Game\"\narg 1 text : \"Path\"\narg 2 int : v:1000\n",
                cmd_registry_read),
            0u);
  EXPECT_EQ(var_get_int(kInt, 0), -7);
  ASSERT_EQ(run(78, params, "arg 0 text : \"HKEY_CURRENT_USER/Nothing\"\narg 1 text : \"Path\"\narg 2 int : v:1001\n",
                cmd_registry_read),
            0u);
  EXPECT_EQ(var_get_float(kFloat, 0), 0.0);
}

TEST_F(CommandsTest, InputSwitchesAndCursor) {
  const std::string p49 = "first:num:0 second:num:0 shown:num:0";
  ASSERT_EQ(run(49, p49, "arg 0 int : B:0\n", cmd_input_config), 0u);
  EXPECT_EQ(g_input_switches.mouse, 0);
  EXPECT_EQ(g_input_switches.keyboard, 1);
  ASSERT_EQ(run(49, p49, "arg 1 int : B:0\narg 2 int : B:0\n", cmd_input_config), 0u);
  EXPECT_EQ(g_input_switches.keyboard, 0);
  EXPECT_EQ(g_input_switches.joystick, 0);
  EXPECT_EQ(g_cursor.request, kCursorRequestHide);
  ASSERT_EQ(run(49, p49, "arg 0 int : L:0x100000000\narg 2 int : B:1\n", cmd_input_config), 0u);
  EXPECT_EQ(g_input_switches.mouse, 0);  // a 32-bit word: the high bits don't count
  EXPECT_EQ(g_cursor.request, kCursorRequestShow);

  // Command 69 on a main window shown at twice its logical size.
  free_window_records();
  ASSERT_EQ(create_window_records(), 0);
  UiWindowDesc d;
  d.class_name = "cursor_test";
  d.client_width = 640;
  d.client_height = 480;
  d.proc = quiet_proc;
  UiWindow w = g_platform.ui->create_window(&d);
  g_windows[0]->handle = w;
  g_windows[0]->logical_width = 320;
  g_windows[0]->logical_height = 240;
  g_window0_mapping = WindowMapping{0, 0, 640, 480};
  std::string p69 = "mode:num:0 delay:num:0 s2:num:0 s3:num:0 s4:num:0 x:num:0 y:num:0 shape:num:0 hx:num:0 hy:num:0 layer:text:0";
  g_cursor = CursorState{};
  ASSERT_EQ(run(69, p69, "arg 0 int : B:2\narg 1 int : W:500\narg 3 int : B:0\narg 5 int : B:100\narg 6 int : B:50\n",
                cmd_cursor_set),
            0u);
  EXPECT_EQ(g_cursor.mode, 2);
  EXPECT_EQ(g_cursor.auto_hide, 0);
  EXPECT_EQ(g_cursor.forced_visible, 1);
  EXPECT_EQ(g_cursor.hide_delay_ms, 500u);
  EXPECT_EQ(g_windows[0]->input_flags[1], 0);
  EXPECT_EQ(g_windows[0]->mouse_x, 100);
  UiWindow warped = kNoWindow;
  int wx = 0, wy = 0;
  fake_cursor_last_warp(&warped, &wx, &wy);
  EXPECT_EQ(warped, w);
  EXPECT_EQ(wx, 200);  // the logical position scaled to the client area
  EXPECT_EQ(wy, 100);
  ASSERT_EQ(run(69, p69, "arg 0 int : B:0\n", cmd_cursor_set), 0u);
  EXPECT_EQ(g_cursor.request, kCursorRequestHide);  // the show of mode 2 taken back
  EXPECT_EQ(g_cursor.forced_visible, 0);
  struct Shape {
    int given, shown;
  } shapes[] = {{0, kCursorArrow}, {1, kCursorIBeam}, {11, kCursorHand}, {13, kCursorHelp}, {14, kCursorArrow},
                {99, kCursorArrow}};
  for (const Shape& s : shapes) {
    ASSERT_EQ(run(69, p69, "arg 7 int : B:" + std::to_string(s.given) + "\n", cmd_cursor_set), 0u);
    EXPECT_EQ(fake_cursor_shape(w), s.shown) << s.given;
  }
  g_windows[0]->handle = kNoWindow;
  free_window_records();
  g_window0_mapping = WindowMapping{};
}

}  // namespace
