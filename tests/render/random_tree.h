// The layer tree of the random tests, built the way scripts build it
// (command 1 with its parameters and assignment operators, pictures from a
// memory file group): sized and pure groups three deep, odd sizes, a mask
// and its user, one record shown by three nodes. A failing seed prints the
// steps that lead to it.
#pragma once
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/data_item.h"
#include "engine/image/pixel_workers.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "tests/render/render_fixture.h"
#include "tests/support/script_asm.h"


// Command 1 with parameters 0-57; the text ones as the command list has them.
inline std::string command_list_line() {
  std::string s = "command 1 layer";
  for (int i = 0; i <= 57; ++i) {
    const bool text = i == 0 || i == 43 || i == 46 || i == 47 || i == 48 || i == 51;
    s += " p" + std::to_string(i) + (text ? ":text:0" : ":num:0");
  }
  return s + "\n";
}

// A bottom-up BMP of w x h seeded pixels: 24-bit (opaque) or 32-bit with
// alpha.
inline std::vector<u8> seeded_bmp(int w, int h, u32 seed, bool alpha) {
  const int bits = alpha ? 32 : 24;
  const size_t row = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
  std::vector<u8> b(54 + row * h, 0);
  auto put32 = [&](size_t at, u32 v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<u8>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<u32>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<u32>(w));
  put32(22, static_cast<u32>(h));
  b[26] = 1;
  b[28] = static_cast<u8>(bits);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const u32 v = rng();
      u8* p = b.data() + 54 + row * y + static_cast<size_t>(x) * (bits / 8);
      for (int c = 0; c < bits / 8; ++c) p[c] = static_cast<u8>(v >> (8 * c));
    }
  return b;
}

struct Picture {
  const char* name;
  int w, h;
  bool alpha;
};
// Odd and even widths, with and without alpha; "bg" is the screen's size
// (160 x 120), "m24" the mask's.
inline const Picture kPictures[] = {
    {"bg.bmp", 160, 120, false}, {"a.bmp", 23, 17, true}, {"b.bmp", 40, 31, false},
    {"c.bmp", 1, 9, true},  {"d.bmp", 57, 44, true}, {"e.bmp", 8, 8, false}, {"m24.bmp", 24, 24, false},
    {"f.bmp", 33, 2, true},
};

class RandomTreeTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1200), 0);
    g_memory_groups = MemoryFileGroups();
    u32 seed = 100;
    for (const Picture& p : kPictures) {
      MemoryFileEntry e;
      e.name = p.name;
      e.data = seeded_bmp(p.w, p.h, seed++, p.alpha);
      e.media_type = 1;
      g_memory_groups.groups[0].entries.push_back(e);
    }
  }
  void TearDown() override {
    stop_pixel_workers();
    pixel_jobs_always_share(false);
    g_memory_groups = MemoryFileGroups();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    RenderTest::TearDown();
  }

  // One command 1 with the given "arg" lines (one per line); the step is
  // logged. A failed command fails the test.
  void command(const std::string& args) {
    log.push_back("command 1: " + args);
    std::string lines;
    std::istringstream in(args);
    for (std::string a; std::getline(in, a, ';');) lines += "arg " + a + "\n";
    const AsmScript script = assemble_script(command_list_line() + "instr 1\n" + lines);
    ASSERT_EQ(asm_load_command_list(script), 0);
    asm_select_instruction(script, 0);
    const u32 rc = cmd_layer_load_image();
    ASSERT_EQ(rc, 0u) << "command failed (error " << g_error_report_log.last_number << ")\n" << steps();
  }
  static std::string name_arg(const std::string& n) { return "0 text : \"" + n + "\""; }
  static std::string num(int param, i64 v, const char* op = "set") {
    return std::to_string(param) + " int " + op + " : L:" + std::to_string(v);
  }
  static std::string text(int param, const std::string& v) {
    return std::to_string(param) + " text : \"" + v + "\"";
  }
  std::string steps() const {
    std::string s;
    for (size_t i = 0; i < log.size(); ++i) s += "  " + std::to_string(i) + ": " + log[i] + "\n";
    return s;
  }

  // The tree, built through command 1: sized and pure groups three deep,
  // leaves of odd sizes, a mask and its user, one record shown by three
  // nodes (two of them in groups), and a layer never drawn by the CPU.
  void build_tree();

  std::vector<std::string> log;
};

inline void RandomTreeTest::build_tree() {
  RandomTreeTest* t = this;
  auto add_leaf = [&](const std::string& n, i64 key, const char* pic, i64 x, i64 y) {
    t->command(name_arg(n) + ";" + num(6, key) + ";" + text(46, pic) + ";" + num(4, x) + ";" + num(5, y));
  };
  auto add_group = [&](const std::string& n, i64 key, i64 w, i64 h, i64 x, i64 y) {
    t->command(name_arg(n) + ";" + num(6, key) + ";" + num(9, w) + ";" + num(10, h) + ";" + num(4, x) + ";" +
               num(5, y));
  };
  add_leaf("bg", 1, "bg.bmp", 0, 0);
  add_leaf("m", 2, "m24.bmp", 0, 0);
  t->command(name_arg("m") + ";" + num(2, 0));
  add_leaf("a", 3, "a.bmp", 11, 7);
  add_leaf("a2", 4, "m24.bmp", 90, 60);
  t->command(name_arg("a2") + ";" + text(51, "m") + ";" + num(50, 120) + ";" + num(53, 40));
  add_group("g/", 5, 91, 71, 30, 21);
  add_leaf("g/s1", 1, "d.bmp", 5, 5);
  add_leaf("g/s2", 2, "b.bmp", 51, 41);
  add_group("g/n/", 3, 41, 31, 9, 29);
  add_leaf("g/n/d", 1, "a.bmp", -5, -3);
  add_group("g/n/q/", 2, 0, 0, 3, 3);
  add_leaf("g/n/q/r", 1, "c.bmp", 0, 0);
  add_group("p/", 6, 0, 0, 61, 59);
  add_leaf("p/e", 1, "f.bmp", 0, 0);
  add_leaf("p/f", 2, "b.bmp", 21, -31);
  add_group("p/h/", 3, 33, 21, 1, 1);
  add_leaf("p/h/i", 1, "e.bmp", 3, 1);
  add_leaf("t", 7, "d.bmp", 71, 15);
  t->command(name_arg("u") + ";" + num(6, 8) + ";" + text(47, "t") + ";" + num(4, 5) + ";" + num(5, 70));
  t->command(name_arg("g/n/tw") + ";" + num(6, 9) + ";" + text(47, "t") + ";" + num(4, 2) + ";" + num(5, 2));
  add_leaf("k", 9, "e.bmp", 0, 0);
}

