// Random sequences of layer changes, made the ways scripts make them
// (command 1 with its parameters and assignment operators) and directly on
// the records: after every frame the partial composition equals a full
// redraw. Each seed is a test of its own; a failing one prints the steps
// that lead to the difference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/render/random_tree.h"

namespace {

class RandomCompositorTest : public RandomTreeTest, public ::testing::WithParamInterface<u32> {};

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
