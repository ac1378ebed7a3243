// Shared set-up of the script-machine tests: evaluator, operator and
// evaluator tables filled, a variable table of ids 0-1199, errors captured.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "tests/support/script_asm.h"

class VmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    g_expr_declaration = 0;
    ASSERT_EQ(var_table_create(1200), 0);
  }
  void TearDown() override {
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
  }
  static void declare(u32 id, std::initializer_list<u32> dims) {
    VarRecord* v = var_record(id);
    v->dim_count = static_cast<u8>(dims.size());
    u32 k = 0;
    for (u32 d : dims) v->dims[k++] = d;
  }
  static void int_var(u32 id, std::initializer_list<u32> dims, i64 value) {
    declare(id, dims);
    ASSERT_EQ(var_alloc_int(id, value), 0);
  }
  static void float_var(u32 id, std::initializer_list<u32> dims, double value) {
    declare(id, dims);
    ASSERT_EQ(var_alloc_double(id, value), 0);
  }
  static void text_var(u32 id, std::initializer_list<u32> dims, const std::string& value) {
    declare(id, dims);
    ASSERT_EQ(var_alloc_string(id, value.c_str(), static_cast<u32>(value.size())), 0);
  }
  static i64 eval_int(const std::string& code) {
    std::vector<u8> c = asm_expr(code);
    return expr_eval_int(c.data(), static_cast<u32>(c.size()));
  }
  static double eval_double(const std::string& code) {
    std::vector<u8> c = asm_expr(code);
    return expr_eval_double(c.data(), static_cast<u32>(c.size()));
  }
  static std::string eval_text(const std::string& code, bool float_mode = false) {
    std::vector<u8> c = asm_expr(code);
    char out[kExprTextSize];
    u32 n = float_mode ? expr_eval_string_float(out, c.data(), static_cast<u32>(c.size()))
                       : expr_eval_string(out, c.data(), static_cast<u32>(c.size()));
    return std::string(out, n);
  }
  // The error number of evaluating code in integer mode (0 when none).
  static u32 error_of(const std::string& code, u32 mode = kExprInt) {
    reset_error_report_log();
    std::vector<u8> c = asm_expr(code);
    int r = expr_run(mode, c.data(), static_cast<u32>(c.size()));
    EXPECT_EQ(r != 0, g_error_report_log.report_count != 0) << code;
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
};
