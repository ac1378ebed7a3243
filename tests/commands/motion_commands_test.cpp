// Command 12 against the recording test E-mote pair: each parameter row
// reaches its ordinal with the values it gives, in the command's order.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/image/emote_plugin.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/commands/commands_fixture.h"
#include "tests/support/emote_pair/emote_pair_log.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kHeader = command_line(12, 18, {0, 12}) + "var 1000 text 300 = \"\"\nvar 1001 int 300 = 0\n" +
                            "var 1002 float 300 = 0\n";

std::string sjis(const char* utf8) {
  std::string s;
  EXPECT_EQ(utf8_to_sjis(utf8, &s), 0);
  return s;
}

class MotionCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dynlib = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_EMOTE_PAIR_DIR);
    load_emote_plugin();
    ASSERT_EQ(g_emote.loaded, 1) << kPosixDynLib.last_error();
    ASSERT_EQ(emote_init_driver(g_platform.gpu), 0);
  }
  void TearDown() override {
    unload_emote_plugin();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
  }
  // Loads the game with body, makes "W0/chara.3" with a player (unless
  // with_player is false), lets prepare fill the variables, runs one frame:
  // the first error reported (0 none).
  u32 run(const std::string& body, bool with_player = true, void (*prepare)() = nullptr) {
    if (!g_text_record) g_text_record = new TextRecord();
    EXPECT_EQ(game.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdleLoop), 0)
        << g_error_report_log.last_message;
    ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], "W0/chara.3", 0, 1);
    EXPECT_NE(node, nullptr);
    node->payload_kind = kPayloadLayerImage;
    image = get_or_create_layer_image(node);
    release_emote_object(image);
    if (with_player) {
      const u8 data[] = {'P', 'S', 'B'};
      EXPECT_EQ(emote_load_player(image, data, 3), 0);
    }
    if (prepare) prepare();
    pair_export<void (*)()>(kEmotePairReset)();
    reset_error_report_log();
    game.frame();
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
  template <typename F>
  F pair_export(const char* name) {
    return reinterpret_cast<F>(g_platform.dynlib->symbol(g_emote.lib, name));
  }
  Lines calls() {
    Lines out;
    std::istringstream in(pair_export<const char* (*)()>(kEmotePairLog)());
    // Players are told apart by their number in the record; one player
    // per run here, so the number is left out.
    for (std::string line; std::getline(in, line);) out.push_back(std::regex_replace(line, std::regex(" p[0-9]+"), " p"));
    return out;
  }

  GameRun game;
  LayerImage* image = nullptr;
  const PlatformDynLib* saved_dynlib = nullptr;
};

const std::string kLayer = "instr 12\narg 0 text : \"chara\"\narg 1 int : B:3\n";

void two_pairs() {
  store_string_element(1000, 0, "smile", 5);
  store_string_element(1000, 1, "blink", 5);
  g_var_ops.int_ops[0](1001, 0, 7);
  g_var_ops.int_ops[0](1001, 1, -3);
}

}  // namespace

TEST_F(MotionCommand, EveryRowInTheCommandsOrder) {
  const std::string name = sjis("キャラ");
  const std::string body = kLayer + "arg 12 text : \"" + name +
                           "\"\narg 13 int : B:1\narg 11 int : B:1\narg 2 int : W:5000\narg 3 int : W:10000\n"
                           "arg 4 int : B:0\narg 5 int : B:1\narg 6 float : F:0.25\narg 7 int : B:2\n"
                           "arg 15 int : v:1000\narg 16 int : v:1001\narg 17 int : B:2\narg 14 int : B:100\n";
  ASSERT_EQ(run(body, true, two_pairs), 0u) << g_error_report_log.last_message;
  EXPECT_EQ(calls(), (Lines{"245 p キャラ 1", "253 p", "214 p 0.5", "218 p 1", "216 p 0",
                            "235 p 0.25 2 1 1 1", "233 p smile 7 6 0", "233 p blink -3 6 0"}));
}

TEST_F(MotionCommand, TheOtherValuesOfEachRow) {
  struct Case {
    std::string args;
    Lines want;
  } cases[] = {
      {"arg 12 text : \"idle\"\narg 13 int : B:0\n", {"247 p idle"}},
      {"arg 12 text : \"idle\"\n", {}},  // a name without parameter 13 does nothing
      {"arg 11 int : B:0\n", {}},
      {"arg 5 int : B:0\n", {"236 p"}},
      {"arg 5 int : B:7\n", {"235 p 0 1 1 1 1"}},  // the defaults
      {"arg 15 int : v:1000\narg 16 int : v:1001\narg 17 int : B:0\n", {}},
      {"arg 15 int : v:1000\narg 16 int : v:1002\narg 17 int : B:1\n", {"233 p smile 0 0 0"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(run(kLayer + c.args, true, two_pairs), 0u) << c.args;
    EXPECT_EQ(calls(), c.want) << c.args;
  }
}

TEST_F(MotionCommand, PairsStopAtTheFirstEmptyNameAndAreCutTo256) {
  const std::string pairs = "arg 15 int : v:1000\narg 16 int : v:1001\narg 14 int : B:0\n";
  // 300 named pairs: 256 reach the player.
  ASSERT_EQ(run(kLayer + pairs + "arg 17 int : W:300\n", true,
                [] {
                  for (int i = 0; i < 300; ++i) {
                    const std::string n = "v" + std::to_string(i);
                    store_string_element(1000, i, n.c_str(), static_cast<u32>(n.size()));
                    g_var_ops.int_ops[0](1001, i, i);
                  }
                }),
            0u);
  Lines c = calls();
  ASSERT_EQ(c.size(), 256u);
  EXPECT_EQ(c.back(), "233 p v255 255 0 0");
  // A gap ends the list; a count beyond the arrays is cut to them.
  ASSERT_EQ(run(kLayer + pairs + "arg 17 int : L:100000\n", true,
                [] {
                  two_pairs();
                  store_string_element(1000, 3, "after", 5);
                }),
            0u);
  EXPECT_EQ(calls(), (Lines{"233 p smile 7 0 0", "233 p blink -3 0 0"}));
}

TEST_F(MotionCommand, LongTextsAreCutToTheWorkBuffer) {
  // A text of 3000 bytes: 1023 of them are handed on, not cutting the
  // double-byte character that would straddle the end.
  ASSERT_EQ(run(kLayer + "arg 15 int : v:1000\narg 16 int : v:1001\narg 17 int : B:1\n", true,
                [] {
                  std::string t(1022, 'a');
                  t += sjis("あ");  // bytes 1022 and 1023
                  t += std::string(3000 - t.size(), 'b');
                  store_string_element(1000, 0, t.c_str(), static_cast<u32>(t.size()));
                }),
            0u);
  const Lines c = calls();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0], "233 p " + std::string(1022, 'a') + " 0 0 0");
}

TEST_F(MotionCommand, WithoutAPlayerOrALayerNothingIsCalled) {
  ASSERT_EQ(run(kLayer + "arg 11 int : B:1\narg 5 int : B:0\n", false), 0u);
  EXPECT_EQ(calls(), Lines{});
  ASSERT_EQ(run("instr 12\narg 0 text : \"nobody\"\narg 11 int : B:1\n"), 0u);
  EXPECT_EQ(calls(), Lines{});
}
