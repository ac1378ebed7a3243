// Font slots, measuring and commands 26 and 27 on the fixed-metric glyph
// source of the fake fonts service.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/image/font_slots.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/platform.h"
#include "tests/support/script_asm.h"

// fontconfig keeps the memory of its parsed configuration until the process
// ends; the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

std::string sjis(const char* utf8) {
  std::string s;
  EXPECT_EQ(utf8_to_sjis(utf8, &s), 0);
  return s;
}

std::string command_lines() {
  std::string s = "command 26 style";
  for (int i = 0; i <= 11; ++i) s += " p" + std::to_string(i) + (i == 2 ? ":text:0" : ":num:0");
  s += "\ncommand 27 measure";
  for (int i = 0; i <= 18; ++i) s += " q" + std::to_string(i) + (i == 17 ? ":text:0" : ":num:0");
  return s + "\n";
}

class TextCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    ASSERT_EQ(var_alloc_int(1000, -1), 0);
    ASSERT_EQ(var_alloc_string(1001, "x", 1), 0);
    delete g_text_record;
    g_text_record = new TextRecord();
    fake_fonts_set_empty(false);
    ASSERT_EQ(build_font_list(), 0);
  }
  void TearDown() override {
    free_font_slots();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    fake_fonts_set_empty(false);
  }
  u32 run(int command, const std::string& args) {
    script = assemble_script(command_lines() + "instr " + std::to_string(command) + "\n" + args);
    EXPECT_EQ(asm_load_command_list(script), 0);
    asm_select_instruction(script, 0);
    reset_error_report_log();
    return command == 26 ? cmd_text_style_set() : cmd_text_measure();
  }
  i64 query(const std::string& args) {
    EXPECT_EQ(run(27, args + "arg 18 int : v:1000\n"), 0u);
    return var_get_int(1000, 0);
  }
  AsmScript script;
};

TEST_F(TextCommandsTest, FontListAndDefaults) {
  ASSERT_EQ(get_font_count(), 3);
  // "ＭＳ ゴシック" is preferred over every other face, in every slot.
  const i32 ms_gothic = find_font_by_name(sjis("ＭＳ ゴシック").c_str());
  ASSERT_GE(ms_gothic, 0);
  for (int s = 0; s < kFontSlotCount; ++s) EXPECT_EQ(g_font_list.slot_font[s], ms_gothic);
  EXPECT_EQ(g_font_list.current_slot, 0);
  EXPECT_EQ(get_font_script_flag(find_font_by_name("Fake Sans")), 1);
  EXPECT_EQ(get_font_script_flag(ms_gothic), 0);
  EXPECT_EQ(get_slot_font_pitch_flag(), 0);
  // The tables.
  EXPECT_EQ(g_glyph_coverage[0x00], 0x404u);
  EXPECT_EQ(g_glyph_coverage[0xF0], 0x004u);
  EXPECT_EQ(g_glyph_coverage[0x5A], 0x202u);
  EXPECT_EQ(g_glyph_grey[14], 252);
  EXPECT_EQ(g_glyph_grey[15], 255);
  EXPECT_EQ(g_dib_side[0], 64u);
  EXPECT_EQ(g_dib_side[20], 128u);
  EXPECT_EQ(g_dib_side[256], 1088u);
  // No family at all: every slot keeps index 0 and nothing breaks.
  free_font_slots();
  fake_fonts_set_empty(true);
  ASSERT_EQ(build_font_list(), 0);
  EXPECT_EQ(get_font_count(), 0);
  EXPECT_STREQ(get_slot_font_name(), "");
  EXPECT_EQ(g_font_list.slot_font[7], 0);
}

TEST_F(TextCommandsTest, WithoutTheUsualFacesSlotsTakeTheSystemsJapaneseFamily) {
  // This machine has none of the Windows faces: the slots take the family
  // fontconfig picks for Japanese sans-serif text.
  free_font_slots();
  const PlatformFonts* saved = g_platform.fonts;
  g_platform.fonts = &kFreetypeFonts;
  ASSERT_EQ(build_font_list(), 0);
  char name[128] = {};
  ASSERT_EQ(kFreetypeFonts.default_japanese_family(name, sizeof name), 0);
  EXPECT_STREQ(get_slot_font_name(), name);
  EXPECT_EQ(g_font_list.slot_font[7], find_font_by_name(name));
  // Its glyphs measure through the real backend.
  i32 w = 0, h = 0;
  measure_text_gdi(sjis("漢").c_str(), 24, 24, 0, 1, &w, &h);
  EXPECT_GT(w, 0);
  free_font_slots();
  g_platform.fonts = saved;
}

TEST_F(TextCommandsTest, MeasureByPitch) {
  i32 w = 0, h = 0;
  // Fixed pitch: the glyph width, half of it for a single-byte character.
  measure_text_gdi(sjis("漢").c_str(), 20, 22, 0, 1, &w, &h);
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 22);
  measure_text_gdi("W", 20, 22, 0, 1, &w, &h);
  EXPECT_EQ(w, 10);
  // Variable pitch: by the ink. The fake inks columns 1 .. ink at 4x (80 px
  // font): rightmost column = 1 + ink - 1.
  ASSERT_EQ(set_slot_font_by_name(sjis("ＭＳ Ｐゴシック").c_str()), 1);
  const int cases[][3] = {{'i', 1, 0}, {'W', 1, 0}, {'i', 0, 0}, {'W', 0, 0}, {'W', 1, 1}};
  for (const auto& c : cases) {
    const char ch[2] = {static_cast<char>(c[0]), 0};
    const int scale = c[1] == 1 ? 4 : 1;
    const int ink = fake_glyph_ink_width(static_cast<unsigned char>(c[0]), 20 * scale, false) + c[2];
    measure_text_gdi(ch, 20, 20, c[2], c[1], &w, &h);
    EXPECT_EQ(w, std::min(20, ink / scale + 4)) << ch << " smoothing " << c[1];
    // Ink from row 1 of the bitmap.
    const int side = 128;
    EXPECT_EQ(h, std::min(20, (side - 1) / scale + 4));
  }
  measure_text_gdi("i", 20, 20, 0, 1, &w, &h);
  i32 wide = 0;
  measure_text_gdi("W", 20, 20, 0, 1, &wide, &h);
  EXPECT_LT(w, wide);
  // A space has no ink: half the width, the whole height.
  measure_text_gdi(" ", 20, 20, 0, 1, &w, &h);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 20);
  // Widths outside the side table are clamped, never read past it.
  measure_text_gdi("W", -5, 20, 0, 1, &w, &h);
  EXPECT_EQ(w, 0);
  measure_text_gdi("W", 100000, 20, 0, 0, &w, &h);
  EXPECT_GT(w, 0);
  EXPECT_EQ(g_font_slots[0].last_width, w);
}

TEST_F(TextCommandsTest, SlotCacheAndFailure) {
  EXPECT_EQ(prepare_slot_font(20, 20, 0, 80, 128), 1);
  PlatformFace* face = g_font_slots[0].face;
  EXPECT_EQ(prepare_slot_font(20, 20, 0, 80, 128), 0);
  EXPECT_EQ(g_font_slots[0].face, face);
  EXPECT_EQ(prepare_slot_font(20, 20, 1, 80, 128), 1);
  // A slot whose family is gone: 102040, both measures 0.
  g_font_list.slot_font[1] = 0;
  std::free(g_font_list.faces[0]);
  g_font_list.faces[0] = strdup("gone");
  select_font_slot(1);
  i32 w = 5, h = 5;
  measure_text_gdi("W", 20, 20, 0, 1, &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(g_error_report_log.last_number, 102040u);
  EXPECT_EQ(select_font_slot(8), -1);
  EXPECT_EQ(g_font_list.current_slot, 1);
}

TEST_F(TextCommandsTest, StyleCommandMirrorsSlotZeroAndChecksNumbers) {
  // Slot 0: every field reaches the text record, and command 27 reads it.
  ASSERT_EQ(run(26, "arg 4 int : I:0x123456\narg 5 int : I:0x654321\narg 6 int : B:3\narg 7 int : B:2\n"
                    "arg 8 int : B:1\narg 9 int : B:24\narg 10 int : B:26\narg 11 int : B:1\narg 3 int : B:0\n"),
            0u);
  EXPECT_EQ(query("arg 3 int : B:1\n"), 0x123456);
  EXPECT_EQ(query("arg 4 int : B:1\n"), 0x654321);
  EXPECT_EQ(query("arg 5 int : B:1\n"), 3);
  EXPECT_EQ(query("arg 6 int : B:1\n"), 2);
  EXPECT_EQ(query("arg 7 int : B:1\n"), 1);
  EXPECT_EQ(query("arg 8 int : B:1\n"), 24);
  EXPECT_EQ(query("arg 9 int : B:1\n"), 26);
  EXPECT_EQ(query("arg 10 int : B:1\n"), 1);
  EXPECT_EQ(query("arg 2 int : B:1\n"), 0);
  // Another slot keeps its own style, the record stays; slot 0 is current after.
  ASSERT_EQ(run(26, "arg 0 int : B:3\narg 9 int : B:40\n"), 0u);
  EXPECT_EQ(g_slot_styles.width[3], 40);
  EXPECT_EQ(g_text_record->line_pitch_a, 24);
  EXPECT_EQ(g_font_list.current_slot, 0);
  // Operators stop at the bounds; set stores as given.
  ASSERT_EQ(run(26, "arg 9 int add : W:1000\n"), 0u);
  EXPECT_EQ(g_slot_styles.width[0], 256);
  ASSERT_EQ(run(26, "arg 9 int sub : W:1000\n"), 0u);
  EXPECT_EQ(g_slot_styles.width[0], 0);
  ASSERT_EQ(run(26, "arg 9 int : W:300\n"), 0u);
  EXPECT_EQ(g_slot_styles.width[0], 300);
  // Font numbers: 1-based, 0 and count + 1 refused; the count is the last.
  EXPECT_EQ(run(26, "arg 1 int : B:0\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101010u);
  EXPECT_EQ(run(26, "arg 1 int : B:4\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101240u);
  ASSERT_EQ(run(26, "arg 1 int : B:3\n"), 0u);
  EXPECT_EQ(get_slot_font_index(), 2);
  // Slot numbers past the eight slots are refused.
  EXPECT_EQ(run(26, "arg 0 int : B:8\narg 9 int : B:1\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(g_font_list.current_slot, 0);
  // By face name; an unknown name changes nothing.
  ASSERT_EQ(run(26, "arg 2 text : \"Fake Sans\"\n"), 0u);
  EXPECT_EQ(get_slot_font_index(), 0);
  ASSERT_EQ(run(26, "arg 2 text : \"nothing\"\n"), 0u);
  EXPECT_EQ(get_slot_font_index(), 0);
}

TEST_F(TextCommandsTest, MeasureCommandQueries) {
  EXPECT_EQ(query("arg 11 int : B:1\n"), 3);
  EXPECT_EQ(query("arg 12 int : B:1\n"), 0);
  EXPECT_EQ(query(""), 0);
  // Measured with the text record's style (20 x 20, smoothing): the fixed
  // default face gives half the width for "A".
  EXPECT_EQ(query("arg 14 int : B:1\narg 17 text : \"A\"\n"), 10);
  EXPECT_EQ(query("arg 15 int : B:1\narg 17 text : \"A\"\n"), 20);
  // Face names and script flags by font number, numbered as command 26 does.
  ASSERT_EQ(run(27, "arg 1 int : B:1\narg 0 int : B:1\narg 18 text : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(1001, 0), "Fake Sans");
  ASSERT_EQ(run(27, "arg 1 int : B:1\narg 18 text : v:1001\n"), 0u);
  EXPECT_EQ(std::string(var_get_string(1001, 0)), sjis("ＭＳ ゴシック"));
  EXPECT_EQ(query("arg 13 int : B:1\narg 0 int : B:1\n"), 1);
  EXPECT_EQ(query("arg 13 int : B:1\narg 0 int : B:3\n"), 0);
  EXPECT_EQ(run(27, "arg 13 int : B:1\narg 0 int : B:4\narg 18 int : v:1000\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101240u);
  EXPECT_EQ(run(27, "arg 1 int : B:1\narg 0 int : B:0\narg 18 int : v:1000\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101010u);
}

}  // namespace
