// Command 20 run from assembled instructions: layers saved in each format,
// the memory groups it fills, the file chores and its failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/data_access.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/media_locator.h"
#include "engine/image/image_writers.h"
#include "engine/image/layer_image.h"
#include "engine/image/memory_groups.h"
#include "engine/image/png_read.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "platform/process.h"
#include "tests/frame/data_test_env.h"
#include "tests/support/script_asm.h"

namespace {

using Bytes = std::vector<u8>;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class SaveCommandTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    fake_process_reset();
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1200), 0);
    ASSERT_EQ(create_system_objects(), 0);
    // A 3 x 2 leaf layer "pic" under the screen layer.
    ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], "W0/pic", 0, 1);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(create_layer_image(node), 0);
    pic = static_cast<LayerImage*>(node->payload);
    u32* buf = alloc_image_buffer(nullptr, 3, 2, nullptr);
    install_image_buffer(pic, buf, 3, 2);
    for (int i = 0; i < 6; ++i) buf[i] = 0x80102030u + static_cast<u32>(i) * 0x010101u;
    pic->has_alpha = 1;
  }
  void TearDown() override {
    destroy_system_objects();
    memory_groups_clear();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    fake_process_reset();
    DataTest::TearDown();
  }
  // Runs one instruction of command 20 with the given "arg" lines.
  u32 run(const std::string& args) {
    std::string list = "command 20 save";
    for (int p = 0; p <= 17; ++p)
      list += " p" + std::to_string(p) + ((p <= 2 || p == 8 || p == 10) ? ":text:0" : ":num:0");
    script_ = assemble_script(list + "\ninstr 20\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    reset_error_report_log();
    return cmd_layer_save_image();
  }
  // The scratch folder's path as a script writes it, with '/' separators.
  std::string script_path(const std::string& relative) const {
    std::string p = folder.path + "/" + relative;
    return "arg 0 text : \"" + p + "\"\n";
  }
  static std::string text_arg(int id, const std::string& text) {
    return "arg " + std::to_string(id) + " text : \"" + text + "\"\n";
  }
  static std::string num_arg(int id, i64 v) {
    return "arg " + std::to_string(id) + " int : B:" + std::to_string(v) + "\n";
  }
  static Bytes png_of(int w, int h) {
    LayerImage* l = new_layer_image();
    install_image_buffer(l, alloc_image_buffer(nullptr, w, h, nullptr), w, h);
    for (int i = 0; i < w * h; ++i) l->pixels[i] = 0xFF000000u | static_cast<u32>(i * 7);
    DataScratchFolder tmp;
    const std::string path = tmp.path + "/t.png";
    EXPECT_EQ(save_png(l, path.c_str(), 1), 0);
    free_layer_image(l);
    return read_file(path);
  }

  LayerImage* pic = nullptr;
  AsmScript script_;
};

TEST_F(SaveCommandTest, FormatIsChosenByTheLastSelectorAndTheExtensionAdded) {
  struct Case {
    std::string args;
    const char* file;  // written, relative to the folder
    const char* magic;
  };
  const Case cases[] = {
      {"", "a.png", "\x89PNG"},
      {num_arg(12, 1), "a.bmp", "BM"},
      {num_arg(14, 1), "a.jpg", "\xFF\xD8"},
      {num_arg(15, 1), "a.webp", ""},  // no plug-in here: the encode box
      {num_arg(12, 1) + num_arg(14, 1), "a.jpg", "\xFF\xD8"},
      {num_arg(14, 1) + num_arg(12, 1), "a.jpg", "\xFF\xD8"},  // by id, not by order
      {num_arg(12, 2), "a.png", "\x89PNG"},                     // only the value 1 selects
  };
  for (const Case& c : cases) {
    for (const char* f : {"a.png", "a.bmp", "a.jpg", "a.webp"}) std::remove(real(f).c_str());
    const u32 r = run(script_path("A") + text_arg(10, "pic") + c.args);
    if (!c.magic[0]) {
      EXPECT_EQ(r, 0xFFFFFFFFu) << c.file;
      EXPECT_FALSE(exists(real(c.file)));
      continue;
    }
    EXPECT_EQ(r, 0u) << c.args;
    const Bytes b = read_file(real(c.file));
    ASSERT_GE(b.size(), 4u) << c.args;
    EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<long>(std::string(c.magic).size())), c.magic) << c.args;
  }
  // An extension in another case is kept as it stands (the path is lower-cased).
  ASSERT_EQ(run(script_path("Shot.JPG") + text_arg(10, "pic") + num_arg(14, 1)), 0u);
  EXPECT_TRUE(exists(real("shot.jpg")));
  EXPECT_FALSE(exists(real("shot.jpg.jpg")));
  // A suffix names the layer "pic.4".
  EXPECT_EQ(run(script_path("s") + text_arg(10, "pic") + num_arg(11, 4)), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
}

TEST_F(SaveCommandTest, LevelAndQualityAreClampedPerFormat) {
  ASSERT_EQ(run(script_path("l12") + text_arg(10, "pic") + num_arg(9, 12)), 0u);
  ASSERT_EQ(run(script_path("l9") + text_arg(10, "pic") + num_arg(9, 9)), 0u);
  ASSERT_EQ(run(script_path("l0") + text_arg(10, "pic") + num_arg(9, 0)), 0u);
  EXPECT_EQ(read_file(real("l12.png")), read_file(real("l9.png")));
  EXPECT_NE(read_file(real("l0.png")), read_file(real("l9.png")));
  ASSERT_EQ(run(script_path("q0") + text_arg(10, "pic") + num_arg(14, 1) + num_arg(9, 0)), 0u);
  ASSERT_EQ(run(script_path("q1") + text_arg(10, "pic") + num_arg(14, 1) + num_arg(9, 1)), 0u);
  ASSERT_EQ(run(script_path("q90") + text_arg(10, "pic") + num_arg(14, 1)), 0u);
  EXPECT_EQ(read_file(real("q0.jpg")), read_file(real("q1.jpg")));
  EXPECT_NE(read_file(real("q90.jpg")), read_file(real("q1.jpg")));
}

TEST_F(SaveCommandTest, TheScreenLayerSavesAsAGroup) {
  LayerImage* screen = static_cast<LayerImage*>(resolve_object_path(g_object_roots[kTreeLayer], "W0", 1)->payload);
  ASSERT_EQ(run(script_path("screen") + text_arg(10, ":W0/")), 0u);
  const Bytes b = read_file(real("screen.png"));
  LayerImage* back = new_layer_image();
  ASSERT_EQ(decode_png_into_layer(b.data(), b.size(), back, "screen.png"), 0);
  EXPECT_EQ(back->width, screen->width);
  EXPECT_EQ(back->height, screen->height);
  free_layer_image(back);
}

TEST_F(SaveCommandTest, AFailedSaveEndsTheCommandBeforeTheChores) {
  write_text("keep.txt", "keep");
  // A missing layer: fatal 101250, nothing written, no chore done.
  EXPECT_EQ(run(script_path("keep.txt") + text_arg(10, "nothing") + text_arg(2, folder.path + "/made") +
                num_arg(3, 1) + num_arg(5, 1)),
            0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  EXPECT_TRUE(exists(real("keep.txt")));
  EXPECT_FALSE(exists(real("made")));
  // A writer that fails: its box, -1, and the same.
  EXPECT_EQ(run(script_path("no/such/x") + text_arg(10, "pic") + text_arg(2, folder.path + "/made") + num_arg(3, 1)),
            0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_box_text.rfind("[SavePNG] File Create Error.", 0), 0u);
  EXPECT_FALSE(exists(real("made")));
  EXPECT_TRUE(fake_process_calls().empty());
}

TEST_F(SaveCommandTest, ChoresMakeFoldersCopyDeleteAndOpen) {
  // Folders made (a '\' is added to the folder path), then the saved file
  // copied over an existing destination.
  make_folder("out");
  write_text("out/old.png", "old");
  ASSERT_EQ(run(script_path("shot") + text_arg(10, "pic") + text_arg(2, folder.path + "/a/b") + num_arg(3, 1) +
                text_arg(1, folder.path + "/out/old.png") + num_arg(4, 1)),
            0u);
  struct stat st;
  ASSERT_EQ(stat(real("a/b").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(read_file(real("out/old.png")), read_file(real("shot.png")));
  // Delete the file and remove the (empty) folder.
  ASSERT_EQ(run(script_path("shot.png") + text_arg(2, folder.path + "/a/b") + num_arg(5, 1)), 0u);
  EXPECT_FALSE(exists(real("shot.png")));
  EXPECT_FALSE(exists(real("a/b")));
  EXPECT_TRUE(exists(real("a")));
  // Opening with the shell: parameter 6 goes on, parameter 7 waits for the
  // opener (both through the process service); 6 wins over 7.
  ASSERT_EQ(run(script_path("out/old.png") + num_arg(6, 1) + num_arg(7, 1)), 0u);
  ASSERT_EQ(run(script_path("out/old.png") + num_arg(7, 1)), 0u);
  ASSERT_EQ(fake_process_calls().size(), 2u);
  for (const FakeProcessCall& c : fake_process_calls()) {
    EXPECT_TRUE(c.shell);
    EXPECT_NE(c.program.find("out\\old.png"), std::string::npos) << c.program;
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(SaveCommandTest, MemoryGroupsTakeFilesInOrderOfUse) {
  write_bytes_file(real("a.png"), png_of(2, 2));
  write_bytes_file(real("b.png"), png_of(3, 3));
  ASSERT_EQ(run(text_arg(0, "A") + num_arg(16, 2)), 0u);
  ASSERT_EQ(run(text_arg(0, "b") + num_arg(16, 2)), 0u);  // found with its extension
  const MemoryFileGroup& g = g_memory_groups.groups[1];
  ASSERT_EQ(g.entries.size(), 2u);
  EXPECT_EQ(g.entries[0].name, "a.png");
  EXPECT_EQ(g.entries[1].name, "b.png");
  EXPECT_EQ(g.entries[1].media_type, kMediaPng);
  EXPECT_EQ(g.total_bytes, static_cast<i32>(g.entries[0].data.size() + g.entries[1].data.size()));
  // The files are gone from disk: data access reads them from the group.
  std::remove(real("a.png").c_str());
  std::remove(real("b.png").c_str());
  DataItem item;
  ASSERT_EQ(find_and_load_data_item(&item, "a.png"), 0);
  EXPECT_EQ(Bytes(item.data, item.data + item.size), g.entries[0].data);
  free_data_item(&item);
  // Re-adding a held file moves it to the end without reading it again.
  const i32 total = g.total_bytes;
  ASSERT_EQ(run(text_arg(0, "a.png") + num_arg(16, 2)), 0u);
  ASSERT_EQ(g.entries.size(), 2u);
  EXPECT_EQ(g.entries[0].name, "b.png");
  EXPECT_EQ(g.entries[1].name, "a.png");
  EXPECT_EQ(g.entries[1].data, png_of(2, 2));
  EXPECT_EQ(g.total_bytes, total);
  // A file held by another group is copied from there.
  ASSERT_EQ(run(text_arg(0, "b.png") + num_arg(17, 4)), 0u);
  ASSERT_EQ(g_memory_groups.groups[3].entries.size(), 1u);
  EXPECT_EQ(g_memory_groups.groups[3].entries[0].data, g.entries[0].data);
  // A missing file: skipped by 16, reported by 17.
  EXPECT_EQ(run(text_arg(0, "gone.png") + num_arg(16, 1)), 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_TRUE(g_memory_groups.groups[0].entries.empty());
  EXPECT_EQ(run(text_arg(0, "gone.png") + num_arg(17, 1)), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 104060u);
  // Groups are 1..4.
  for (i64 n : {0, 5, -1}) {
    EXPECT_EQ(run(text_arg(0, "a.png") + num_arg(16, n)), 0xFFFFFFFFu) << n;
    EXPECT_EQ(g_error_report_log.last_number, 101000u) << n;
  }
}

TEST_F(SaveCommandTest, AFullGroupDropsItsOldestFile) {
  for (int i = 0; i <= kMemoryGroupCapacity; ++i)
    write_text("f" + std::to_string(i) + ".png", std::to_string(i));
  for (int i = 0; i < kMemoryGroupCapacity; ++i) ASSERT_EQ(memory_group_add(0, ("f" + std::to_string(i) + ".png").c_str(), 1), 0);
  MemoryFileGroup& g = g_memory_groups.groups[0];
  ASSERT_EQ(g.entries.size(), 512u);
  // Re-adding the oldest keeps all 512 and makes it the newest.
  ASSERT_EQ(memory_group_add(0, "f0.png", 1), 0);
  EXPECT_EQ(g.entries.back().name, "f0.png");
  EXPECT_EQ(g.entries.front().name, "f1.png");
  ASSERT_EQ(run(text_arg(0, "f512.png") + num_arg(16, 1)), 0u);
  ASSERT_EQ(g.entries.size(), 512u);
  EXPECT_EQ(g.entries.front().name, "f2.png");
  EXPECT_EQ(g.entries.back().name, "f512.png");
  i64 total = 0;
  for (const MemoryFileEntry& e : g.entries) total += static_cast<i64>(e.data.size());
  EXPECT_EQ(g.total_bytes, total);
  DataItem item;
  EXPECT_EQ(locate_in_memory_groups(&item, "f1.png"), 0);
  EXPECT_EQ(locate_in_memory_groups(&item, "f0.png"), 4);
}

}  // namespace
