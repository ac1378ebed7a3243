// Command 2 run from assembled instructions: its arguments reach the layer
// drawing request with their operators and names.
#include <gtest/gtest.h>

#include <string>

#include "engine/commands/command_table.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "tests/support/script_asm.h"

namespace {

std::string command_line() {
  std::string s = "command 2 layer_draw";
  for (int i = 0; i <= 70; ++i) s += " p" + std::to_string(i) + (i <= 3 || i == 11 ? ":text:0" : ":num:0");
  return s + "\n";
}

class LayerDrawCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    ASSERT_EQ(create_system_objects(), 0);
    ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], "W0/pic3", 0, 1);
    LayerImage* img = get_or_create_layer_image(n);
    u32* buf = alloc_image_buffer(nullptr, 4, 2, nullptr);
    install_image_buffer(img, buf, 4, 2);
    for (int i = 0; i < 8; ++i) buf[i] = 0xFF000000u | static_cast<u32>(i * 16);
    image = img;
  }
  void TearDown() override {
    destroy_system_objects();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
  }
  u32 run(const std::string& args) {
    script = assemble_script(command_line() + "instr 2\n" + args);
    EXPECT_EQ(asm_load_command_list(script), 0);
    asm_select_instruction(script, 0);
    reset_error_report_log();
    return cmd_layer_draw();
  }
  AsmScript script;
  LayerImage* image = nullptr;
};

TEST_F(LayerDrawCommandTest, ArgumentsReachTheRequest) {
  // Brightness 128 + 40 through "set"; the name "pic" with 3 appended.
  ASSERT_EQ(run("arg 0 text : \"pic\"\narg 4 int : B:3\narg 42 int : B:0\narg 9 int : I:168\n"), 0u);
  EXPECT_EQ(image->owned_pixels[1], 0xFF000000u | 40u << 16 | 40u << 8 | (16u + 40u));
  // The value through its operator: subtract gives 0 - 10, out of range.
  EXPECT_EQ(run("arg 0 text : \"pic3\"\narg 42 int : B:0\narg 9 int sub : I:10\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  // A missing target is no error.
  EXPECT_EQ(run("arg 0 text : \"none\"\narg 57 int : B:1\n"), 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

}  // namespace
