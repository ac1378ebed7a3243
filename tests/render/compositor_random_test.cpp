// Random sequences of layer changes, made the ways scripts make them
// (command 1 with its parameters and assignment operators) and directly on
// the records: after every frame the partial composition equals a full
// redraw. Each seed is a test of its own; a failing one prints the steps
// that lead to the difference.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "engine/image/pixel_workers.h"
#include "tests/render/render_fixture.h"
#include "tests/support/script_asm.h"

namespace {

// Command 1 with parameters 0-57; the text ones as the command list has them.
std::string command_list_line() {
  std::string s = "command 1 layer";
  for (int i = 0; i <= 57; ++i) {
    const bool text = i == 0 || i == 43 || i == 46 || i == 47 || i == 48 || i == 51;
    s += " p" + std::to_string(i) + (text ? ":text:0" : ":num:0");
  }
  return s + "\n";
}

// A bottom-up BMP of w x h seeded pixels: 24-bit (opaque) or 32-bit with
// alpha.
std::vector<u8> seeded_bmp(int w, int h, u32 seed, bool alpha) {
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
const Picture kPictures[] = {
    {"bg.bmp", 160, 120, false}, {"a.bmp", 23, 17, true}, {"b.bmp", 40, 31, false},
    {"c.bmp", 1, 9, true},  {"d.bmp", 57, 44, true}, {"e.bmp", 8, 8, false}, {"m24.bmp", 24, 24, false},
    {"f.bmp", 33, 2, true},
};

class RandomCompositorTest : public RenderTest, public ::testing::WithParamInterface<u32> {
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

void RandomCompositorTest::build_tree() {
  RandomCompositorTest* t = this;
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

TEST_P(RandomCompositorTest, ChangesMatchTheFullRedraw) {
  const u32 seed = GetParam();
  // The seeds run on the calling thread alone and on one to four workers,
  // every blend handed over however small.
  const int workers = static_cast<int>(seed % 5);
  if (workers > 0) {
    ASSERT_EQ(start_pixel_workers_count(workers), 0);
  }
  pixel_jobs_always_share(true);
  build_tree();
  ASSERT_FALSE(HasFatalFailure());
  static_cast<LayerImage*>(leaf_node("W0/k")->payload)->content_kind = 1;
  ASSERT_EQ(frame(), 0);
  ASSERT_EQ(first_difference(shown(), reference()), "");

  const char* leaves[] = {"a", "g/s1", "g/s2", "g/n/d", "g/n/q/r", "p/e", "p/f", "p/h/i", "t", "u", "g/n/tw", "bg", "k"};
  const char* groups[] = {"g/", "g/n/", "g/n/q/", "p/", "p/h/"};
  const char* pictures[] = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"};
  const char* ops[] = {"set", "add", "sub"};
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<u32>(n)); };
  auto any_leaf = [&]() { return std::string(leaves[pick(13)]); };
  auto any_layer = [&]() { return pick(3) == 0 ? std::string(groups[pick(5)]) : any_leaf(); };
  for (int step = 0; step < 250; ++step) {
    const int changes = 1 + pick(3);
    for (int c = 0; c < changes; ++c) {
      switch (pick(13)) {
        case 0: {  // move, by pixels or hundredths, any assignment operator
          const std::string n = any_layer();
          const char* op = ops[pick(3)];
          if (pick(4) == 0) command(name_arg(n) + ";" + num(28, pick(4001) - 2000, op));
          else command(name_arg(n) + ";" + num(4, pick(41) - 20, op) + ";" + num(5, pick(31) - 15, op));
          break;
        }
        case 1: command(name_arg(any_layer()) + ";" + num(2, pick(2))); break;  // hide or show, groups at every depth
        case 2: command(name_arg(any_leaf()) + ";" + num(3, pick(4) == 0 ? 256 : pick(257), ops[pick(3)])); break;
        case 3: command(name_arg(any_leaf()) + ";" + num(54, pick(19))); break;
        case 4: {  // a new picture; the shared record changes for all its nodes
          const std::string n = any_leaf();
          if (n == "bg") break;
          command(name_arg(n) + ";" + text(46, pictures[pick(6)]));
          break;
        }
        case 5: {
          const std::string n = any_leaf();
          const i64 colour = pick(3) == 0 ? 0x808080 : static_cast<i64>(rng() & 0xFFFFFF);
          command(name_arg(n) + ";" + num(8, colour) + ";" + num(7, pick(3) == 0 ? 128 : pick(257)));
          break;
        }
        case 6:  // the mask's threshold and softness
          command(name_arg("a2") + ";" + num(50, pick(4) == 0 ? 256 : pick(257)) + ";" +
                  num(53, pick(2) ? 256 : pick(300)) + ";" + text(51, pick(4) == 0 ? "" : "m"));
          break;
        case 7: command(name_arg(any_layer()) + ";" + num(6, 1 + pick(12))); break;  // restack
        case 8: {  // a group resized, to 0 and back, odd sizes
          const std::string g = groups[pick(5)];
          const bool zero = pick(3) == 0;
          command(name_arg(g) + ";" + num(9, zero ? 0 : 1 + pick(120)) + ";" + num(10, zero ? 0 : 1 + pick(90)));
          break;
        }
        case 9: command(name_arg("a2") + ";" + text(48, "m")); break;  // the mask's blue into the alpha
        case 10: {  // a picture cut or padded to a size of its own
          const std::string n = any_leaf();
          if (n == "bg") break;
          command(name_arg(n) + ";" + text(46, pictures[pick(6)]) + ";" + num(9, 1 + pick(60)) + ";" +
                  num(10, 1 + pick(50)));
          break;
        }
        case 11: {  // direct changes no command makes: content kind, per-pixel alpha
          ObjectNode* n = leaf_node(("W0/" + any_leaf()).c_str());
          LayerImage* im = static_cast<LayerImage*>(n->payload);
          // The record that three nodes show changes in all three places.
          std::vector<ObjectNode*> places = {n};
          if (im == static_cast<LayerImage*>(leaf_node("W0/t")->payload))
            places = {leaf_node("W0/t"), leaf_node("W0/u"), leaf_node("W0/g/n/tw")};
          for (ObjectNode* p : places) mark_layer_dirty(p);
          if (pick(2)) im->content_kind = static_cast<u8>(pick(4) == 0 ? 1 : 0);
          else im->has_alpha = static_cast<u8>(pick(2));
          for (ObjectNode* p : places) mark_layer_dirty(p);
          log.push_back(std::string("direct: ") + (n->name ? n->name : "") + " kind " +
                        std::to_string(im->content_kind) + " has_alpha " + std::to_string(im->has_alpha));
          break;
        }
        default: command(name_arg(any_leaf()) + ";" + num(4, pick(2001) - 1000, "add")); break;  // far away and back
      }
      if (HasFatalFailure()) return;
    }
    log.push_back("frame " + std::to_string(step));
    ASSERT_EQ(frame(), 0) << "seed " << seed << "\n" << steps();
    const std::string diff = first_difference(shown(), reference());
    ASSERT_EQ(diff, "") << "seed " << seed << ", steps:\n" << steps();
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomCompositorTest, ::testing::Range(1u, 41u));

}  // namespace
