// Script commands 62-65 and 100 and the menu sets they build: the bar, the
// popup menu and the notification-area icon, on the fake menus and tray.
#include <gtest/gtest.h>

#include <string>

#include "engine/commands/command_table.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/menu_sets.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "platform/menus.h"
#include "platform/platform.h"
#include "platform/tray.h"
#include "platform/ui.h"
#include "tests/support/script_asm.h"

namespace {

constexpr u32 kInt = 1000, kText = 1001;
int always() { return 1; }

class MenuCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    fake_menus_reset();
    fake_tray_reset();
    reset_error_report_log();
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    var_record(kInt)->dim_count = 0;
    var_record(kText)->dim_count = 0;
    ASSERT_EQ(var_alloc_int(kInt, -7), 0);
    ASSERT_EQ(var_alloc_string(kText, "stale", 5), 0);
    ASSERT_EQ(create_system_objects(), 0);
    g_paths.instance_name = ":home:me:game:k_lumbrane";
    free_window_records();
    ASSERT_EQ(create_window_records(), 0);
    ASSERT_EQ(setup_screen_record(0), 0);
    ASSERT_EQ(create_main_window(), 0);
    main_ = g_windows[0]->handle;
    g_menu_sets = MenuSets{};
    g_popup_request = PopupRequest{};
  }
  void TearDown() override {
    destroy_menu_sets();
    destroy_windows();
    free_window_records();
    while (pump_window_messages(always)) {
    }
    destroy_system_objects();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    g_quit_requested = 0;
    fake_ui_reset();
    fake_menus_reset();
  }
  u32 run(u32 id, const std::string& params, const std::string& args, u32 (*handler)()) {
    script_ = assemble_script("command " + std::to_string(id) + " cmd" + std::to_string(id) + " " + params +
                              "\ninstr " + std::to_string(id) + "\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    return handler();
  }
  // Command 62 with "arg" lines.
  u32 set(const std::string& args) {
    return run(62, "name:text:0 caption:text:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 value:num:0", args,
               cmd_menu_item_set);
  }
  // An item: name, caption, order key and extra arg lines.
  void item(const std::string& name, const std::string& caption, int key, const std::string& extra = "") {
    ASSERT_EQ(set("arg 0 text : \"" + name + "\"\narg 1 text : \"" + caption + "\"\narg 2 int : B:" +
                  std::to_string(key) + "\n" + extra),
              0u)
        << name << ": " << g_error_report_log.last_message;
  }
  u32 query(const std::string& name, int flag, u32 result = kInt) {
    return run(65,
               "result:num:0 name:text:0 caption:num:0 exists:num:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 "
               "value:num:0",
               "arg 0 int : v:" + std::to_string(result) + "\narg 1 text : \"" + name + "\"\narg " +
                   std::to_string(flag) + " int : B:1\n",
               cmd_menu_item_query);
  }
  void define_bar() {
    item("bar/", "bar", 1);
    item("bar/file/", "&File", 1);
    item("bar/file/open", "Open", 1, "arg 6 int : B:101\n");
    item("bar/file/sep", "", 2, "arg 6 int : B:9\n");
    item("bar/file/quit", "Quit", 3, "arg 4 int : B:0\narg 5 int : B:1\narg 6 int : L:0x112345678\n");
    item("bar/view/", "View", 2);
    item("bar/view/hidden", "Hidden", 1, "arg 3 int : B:0\n");
    item("bar/view/ball", "Ball", 2, "arg 5 int : B:1\narg 6 int : I:70000\n");
    // A group with children but an empty caption is a separator.
    item("bar/view/line/", "", 3);
    item("bar/view/line/x", "x", 1);
  }
  AsmScript script_;
  UiWindow main_ = kNoWindow;
};

TEST_F(MenuCommandsTest, BarIsBuiltFromTheTreeAndAChoiceReachesTheScripts) {
  define_bar();
  ASSERT_EQ(load_menu_bar("bar/", 0), 0);
  UiMenu bar = fake_menu_window_bar(main_);
  ASSERT_NE(bar, 0u);
  auto top = fake_menu_items(bar);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].caption, "&File");
  EXPECT_EQ(top[1].caption, "View");
  auto file = fake_menu_items(top[0].submenu);
  ASSERT_EQ(file.size(), 3u);
  EXPECT_EQ(file[0].id, 101u);
  EXPECT_EQ(file[1].separator, 1);
  EXPECT_EQ(file[2].grayed, 1);
  EXPECT_EQ(file[2].checked, 1);
  EXPECT_EQ(file[2].id, 0x12345678u);  // the low 32 bits of the value
  auto view = fake_menu_items(top[1].submenu);
  ASSERT_EQ(view.size(), 2u);  // the hidden item leaves no gap
  EXPECT_EQ(view[0].caption, "Ball");
  EXPECT_EQ(view[1].separator, 1);
  EXPECT_EQ(view[1].submenu, 0u);
  // Handles: the bar, then the submenus in the order they were made.
  EXPECT_EQ(g_menu_sets.handles[kMenuSetBar][0], bar);
  EXPECT_EQ(g_menu_sets.handles[kMenuSetBar][1], top[0].submenu);
  EXPECT_EQ(g_menu_sets.handles[kMenuSetBar][2], top[1].submenu);

  // An id above 16 bits comes back whole.
  fake_menu_choose(main_, 70000);
  while (pump_window_messages(always)) {
  }
  EXPECT_EQ(sysvar_int(145, 0), 70000);

  // Loading again replaces every menu of the set; "" removes the bar.
  ASSERT_EQ(load_menu_bar("bar/", 0), 0);
  EXPECT_EQ(fake_menu_live_count(), 3);
  ASSERT_EQ(load_menu_bar("", 0), 0);
  EXPECT_EQ(fake_menu_window_bar(main_), 0u);
  EXPECT_EQ(fake_menu_live_count(), 0);
  for (UiMenu h : g_menu_sets.handles[kMenuSetBar]) EXPECT_EQ(h, 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// The bar and the icon's menu follow the items the scripts change: a mark,
// a grayed state or a caption set by command 62, and an item deleted by
// command 64, show from the end of that frame; a change outside the bar's
// definition, or one that changes nothing, leaves the bar's menus alone.
TEST_F(MenuCommandsTest, BarFollowsTheItemsTheScriptsChange) {
  define_bar();
  item("other/", "other", 5);
  item("other/x", "x", 1);
  g_windows[0]->menu_name = "bar/";
  ASSERT_EQ(load_menu_bar("bar/", 0), 0);
  // The icon's menu from the same group.
  ASSERT_EQ(run(100, "show:num:0 tip:text:0 layer:text:0 menu:text:0", "arg 0 int : B:1\narg 3 text : \"bar/view/\"\n",
                cmd_tray_icon_set),
            0u);
  auto ball = [&] {
    for (const ShownMenuItem& i : fake_menu_shown(main_))
      if (i.caption == "Ball" || i.caption == "Ball!") return i;
    return ShownMenuItem{};
  };
  auto tray_ball = [&] {
    for (const FakeMenuItem& i : fake_menu_items(fake_tray_state().menu))
      if (i.caption == "Ball" || i.caption == "Ball!") return ShownMenuItem{i.caption, 1, 0, i.grayed, i.checked};
    return ShownMenuItem{};
  };
  EXPECT_EQ(ball().checked, 1);
  EXPECT_EQ(tray_ball().checked, 1);
  const UiMenu first = fake_menu_window_bar(main_);
  ASSERT_EQ(set("arg 0 text : \"other/x\"\narg 5 int : B:1\n"), 0u);
  refresh_changed_menu_bars();
  EXPECT_EQ(fake_menu_window_bar(main_), first);  // not built again
  // Nor when a bar item is set to what it holds already.
  ASSERT_EQ(set("arg 0 text : \"bar/view/ball\"\narg 5 int : B:1\narg 1 text : \"Ball\"\n"), 0u);
  refresh_changed_menu_bars();
  EXPECT_EQ(fake_menu_window_bar(main_), first);
  struct Case {
    const char* args;
    ShownMenuItem want;
  } cases[] = {
      {"arg 5 int : B:0\n", {"Ball", 1, 0, 0, 0}},
      {"arg 5 int : B:1\narg 4 int : B:0\n", {"Ball", 1, 0, 1, 1}},
      {"arg 1 text : \"Ball!\"\narg 4 int : B:1\n", {"Ball!", 1, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(set(std::string("arg 0 text : \"bar/view/ball\"\n") + c.args), 0u) << c.args;
    refresh_changed_menu_bars();
    EXPECT_EQ(ball(), c.want) << c.args;
    EXPECT_EQ(tray_ball(), c.want) << c.args;
  }
  ASSERT_EQ(run(64, "name:text:0", "arg 0 text : \"bar/view/ball\"\n", cmd_menu_item_delete), 0u);
  refresh_changed_menu_bars();
  EXPECT_EQ(ball().caption, "");
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  g_windows[0]->menu_name.clear();
}

TEST_F(MenuCommandsTest, InFullScreenTheBarRidesTheStripShownAtTheTop) {
  define_bar();
  ASSERT_EQ(create_menu_strip_window(), 0);
  UiWindow strip = g_menu_strip_window;
  WindowRecord* w = g_windows[0];
  w->menu_name = "bar/";
  ASSERT_EQ(load_menu_bar("bar/", 0), 0);
  ASSERT_NE(fake_menu_window_bar(main_), 0u);
  // Windowed, a cursor at the top shows no strip.
  fake_ui_set_cursor(main_, 50, 2);
  w->mouse_y = 2;
  update_fullscreen_menu_strip();
  EXPECT_EQ(g_platform.ui->is_visible(strip), 0);

  ASSERT_EQ(apply_screen_mode(1), 1);
  EXPECT_EQ(fake_menu_window_bar(main_), 0u);
  UiMenu bar = fake_menu_window_bar(strip);
  ASSERT_NE(bar, 0u);
  EXPECT_EQ(fake_menu_items(bar).size(), 2u);
  EXPECT_EQ(fake_menu_live_count(), 3);  // the old bar's menus are gone
  struct Step {
    int y;
    int shown;
  };
  // Below the strip's height: hidden; above it: shown; at it: hidden again.
  for (Step s : {Step{200, 0}, Step{g_menu_strip_height - 1, 1}, Step{5, 1}, Step{g_menu_strip_height, 0}}) {
    fake_ui_set_cursor(main_, 50, s.y);
    w->mouse_y = s.y;
    update_fullscreen_menu_strip();
    EXPECT_EQ(g_platform.ui->is_visible(strip), s.shown) << "y " << s.y;
    EXPECT_EQ(g_menu_strip_shown, s.shown) << "y " << s.y;
  }
  // Hiding it draws again what it covered: the whole picture changed.
  LayerImage* root = static_cast<LayerImage*>(g_system_objects[kTreeLayer]->payload);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->dirty_whole, 1);
  EXPECT_EQ(root->is_dirty, 1);
  root->dirty_whole = 0;
  // While shown, the strip reads the cursor itself: the record keeps a
  // stale position while the main window has no focus.
  fake_ui_set_cursor(main_, 50, 1);
  w->mouse_y = 1;
  update_fullscreen_menu_strip();
  ASSERT_EQ(g_platform.ui->is_visible(strip), 1);
  fake_ui_set_cursor(main_, 50, 250);
  update_fullscreen_menu_strip();
  EXPECT_EQ(g_platform.ui->is_visible(strip), 0);
  EXPECT_EQ(w->mouse_y, 250);
  // Shown, then the cursor read again: it left the strip at once.
  fake_ui_set_cursor(main_, 50, 300);
  w->mouse_y = 0;
  update_fullscreen_menu_strip();
  EXPECT_EQ(g_platform.ui->is_visible(strip), 0);
  EXPECT_EQ(w->mouse_y, 300);
  EXPECT_EQ(root->dirty_whole, 1);

  // Back to the window: the strip goes away and the bar comes back.
  fake_ui_set_cursor(main_, 50, 1);
  w->mouse_y = 1;
  update_fullscreen_menu_strip();
  ASSERT_EQ(g_platform.ui->is_visible(strip), 1);
  ASSERT_EQ(apply_screen_mode(0), 1);
  update_fullscreen_menu_strip();
  EXPECT_EQ(g_platform.ui->is_visible(strip), 0);
  EXPECT_EQ(g_menu_strip_shown, 0);
  EXPECT_EQ(fake_menu_window_bar(strip), 0u);
  EXPECT_NE(fake_menu_window_bar(main_), 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MenuCommandsTest, InFullScreenNoStripWithoutABar) {
  ASSERT_EQ(create_menu_strip_window(), 0);
  ASSERT_EQ(apply_screen_mode(1), 1);
  fake_ui_set_cursor(main_, 50, 1);
  g_windows[0]->mouse_y = 1;
  update_fullscreen_menu_strip();
  EXPECT_EQ(g_platform.ui->is_visible(g_menu_strip_window), 0);
  ASSERT_EQ(apply_screen_mode(0), 1);
}

TEST_F(MenuCommandsTest, MissingDefinitionAndTooManyMenus) {
  EXPECT_EQ(load_menu_bar("nothing/", 0), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  reset_error_report_log();
  define_bar();
  ASSERT_EQ(load_menu_bar("bar/", 0), 0);
  // 127 submenus and the bar: 128 menus, one too many for a set.
  item("big/", "big", 1);
  for (int i = 0; i < 127; ++i) {
    std::string g = "big/g" + std::to_string(i) + "/";
    item(g, "g", i + 1);
    item(g + "x", "x", 1);
  }
  ASSERT_EQ(load_menu_bar("big/", 0), 0);
  EXPECT_EQ(fake_menu_window_bar(main_), 0u);  // no bar attached
  EXPECT_EQ(fake_menu_live_count(), 0);        // and nothing left behind
  // One submenu fewer fits.
  ASSERT_EQ(run(64, "name:text:0", "arg 0 text : \"big/g0/\"\n", cmd_menu_item_delete), 0u);
  ASSERT_EQ(load_menu_bar("big/", 0), 0);
  EXPECT_NE(fake_menu_window_bar(main_), 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MenuCommandsTest, ItemCreationErrorsOrderKeysAndCaptions) {
  EXPECT_EQ(set("arg 0 text : \"a\"\narg 2 int : B:1\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 100260u);
  EXPECT_EQ(set("arg 0 text : \"a\"\narg 1 text : \"A\"\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 100240u);
  reset_error_report_log();
  item("k", "K", 3);
  struct Case {
    const char* op;
    int value;
    i64 key;
  } cases[] = {
      {"sub", 5, 1},  // 3 - 5, but at least 1
      {"add", 9, 10}, {"mul", 3, 30}, {"mul", 0, 1}, {"add", 7, 8},
      {"div", 0, 8},  // a zero divisor changes nothing
      {"div", 3, 2},  {"div", 5, 1}, {"set", 4, 4},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(set(std::string("arg 0 text : \"k\"\narg 2 int ") + c.op + " : B:" + std::to_string(c.value) + "\n"),
              0u);
    ASSERT_EQ(query("k", 4), 0u);
    EXPECT_EQ(var_get_int(kInt, 0), c.key) << c.op << " " << c.value;
  }
  // A caption longer than the item's buffer is cut to 260 bytes.
  std::string longcap(600, 'c');
  ASSERT_EQ(set("arg 0 text : \"k\"\narg 1 text : \"" + longcap + "\"\n"), 0u);
  ASSERT_EQ(run(65, "result:num:0 name:text:0 caption:num:0", "arg 0 int : v:1001\narg 1 text : \"k\"\narg 2 int : B:1\n",
                cmd_menu_item_query),
            0u);
  EXPECT_EQ(std::string(var_get_string(kText, 0)), std::string(260, 'c'));
  // Order keys place the items: "k" (key 1) moved before "m" (key 5).
  item("m", "M", 5);
  ASSERT_EQ(set("arg 0 text : \"m\"\narg 2 int : B:0\n"), 0u);  // set to 0
  ObjectNode* base = g_system_objects[kTreeMenu];
  ASSERT_NE(base->first_child, nullptr);
  EXPECT_STREQ(base->first_child->name, "m");
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MenuCommandsTest, QueriesAndDeletes) {
  define_bar();
  struct Case {
    int flag;
    i64 expected;
  } cases[] = {{3, 1}, {5, 1}, {6, 0}, {4, 3}, {7, 1}, {8, 0x112345678}};
  for (const Case& c : cases) {
    ASSERT_EQ(query("bar/file/quit", c.flag), 0u) << c.flag;
    EXPECT_EQ(var_get_int(kInt, 0), c.expected) << c.flag;
  }
  ASSERT_EQ(query("bar/file/none", 3), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), 0);
  ASSERT_EQ(query("bar/file/none", 2, kText), 0u);
  EXPECT_STREQ(var_get_string(kText, 0), "");
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(query("bar/file/open", 3, kText), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101140u);
  reset_error_report_log();

  auto del = [&](const char* name) { return run(64, "name:text:0", std::string("arg 0 text : \"") + name + "\"\n", cmd_menu_item_delete); };
  ASSERT_EQ(del("bar/file/"), 0u);
  ASSERT_EQ(query("bar/file/open", 3), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), 0);
  ASSERT_EQ(query("bar/view/ball", 3), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), 1);
  EXPECT_EQ(del("bar/file/"), 0u);  // gone: nothing happens
  // The menu tree's base group is never freed, whatever the path.
  EXPECT_EQ(del(":M0/"), 0u);
  EXPECT_EQ(del("../"), 0u);
  EXPECT_EQ(del(".."), 0u);
  ASSERT_NE(g_system_objects[kTreeMenu], nullptr);
  ASSERT_EQ(query("bar/view/ball", 3), 0u);
  EXPECT_EQ(var_get_int(kInt, 0), 1);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MenuCommandsTest, PopupIsShownAtTheEndOfTheFrameAndItsChoiceArrives) {
  define_bar();
  fake_ui_set_cursor(main_, 30, 40);
  const std::string params = "name:text:0 show:num:0";
  ASSERT_EQ(run(63, params, "arg 0 text : \"bar/view\"\narg 1 int : B:0\n", cmd_menu_popup), 0u);
  EXPECT_EQ(g_popup_request.set, 0);
  ASSERT_EQ(run(63, params, "arg 0 text : \"nothing\"\narg 1 int : B:1\n", cmd_menu_popup), 0u);
  EXPECT_EQ(g_popup_request.set, 0);
  ASSERT_EQ(run(63, params, "arg 0 text : \"bar/view\"\narg 1 int : B:1\n", cmd_menu_popup), 0u);
  ASSERT_EQ(g_popup_request.set, kMenuSetPopup);
  auto top = fake_menu_items(g_menu_sets.handles[kMenuSetPopup][0]);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].caption, "MENUSET");
  fake_menu_push_popup_choice(70000);
  show_pending_popup_menu();
  EXPECT_EQ(g_popup_request.set, 0);
  ASSERT_EQ(fake_menu_popups().size(), 1u);
  EXPECT_EQ(fake_menu_popups()[0].menu, top[0].submenu);
  EXPECT_EQ(fake_menu_popups()[0].x, 30);
  EXPECT_EQ(fake_menu_popups()[0].y, 40);
  auto shown = fake_menu_items(top[0].submenu);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "Ball");
  while (pump_window_messages(always)) {
  }
  EXPECT_EQ(sysvar_int(145, 0), 70000);
  // A popup closed without a choice leaves the id alone.
  ASSERT_EQ(run(63, params, "arg 0 text : \"bar/view\"\narg 1 int : B:1\n", cmd_menu_popup), 0u);
  show_pending_popup_menu();
  while (pump_window_messages(always)) {
  }
  EXPECT_EQ(sysvar_int(145, 0), 70000);
  show_pending_popup_menu();  // nothing pending: nothing shown
  EXPECT_EQ(fake_menu_popups().size(), 2u);
}

TEST_F(MenuCommandsTest, TrayIconTipLayerAndMenu) {
  define_bar();
  auto layer = [&](const char* name, int size, u32 colour) {
    ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], (std::string("W0/") + name).c_str(), 0, 1);
    LayerImage* img = get_or_create_layer_image(n);
    u32* px = alloc_image_buffer(nullptr, size, size, nullptr);
    for (int i = 0; i < size * size; ++i) px[i] = colour;
    install_image_buffer(img, px, size, size);
  };
  layer("ball", 16, 0xFF00FF00u);
  layer("big", 32, 0xFFFF0000u);
  const std::string params = "show:num:0 tip:text:0 layer:text:0 menu:text:0";
  auto tray = [&](const std::string& args) { return run(100, params, args, cmd_tray_icon_set); };
  std::string tip(100, 't');
  ASSERT_EQ(tray("arg 0 int : B:1\narg 1 text : \"" + tip + "\"\narg 2 text : \"ball\"\narg 3 text : \"bar/view\"\n"), 0u);
  const FakeTrayState& s = fake_tray_state();
  EXPECT_EQ(s.shown, 1);
  EXPECT_EQ(s.own_icon, 0);
  ASSERT_EQ(s.pixels.size(), 256u);
  EXPECT_EQ(s.pixels[0], 0xFF00FF00u);
  EXPECT_EQ(s.tip, std::string(63, 't'));  // the tip's 64 bytes hold 63 and the NUL
  auto items = fake_menu_items(s.menu);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].caption, "Ball");
  // Clicks on the icon: the left button brings the window forward, the
  // right one also asks for the icon's menu at the end of the frame; the
  // middle one does nothing.
  struct Click {
    int button;
    int forward;
    u8 popup_set;
  } clicks[] = {{1, 1, 0}, {2, 1, kMenuSetTray}, {3, 0, 0}};
  UiWindowDesc other_desc;
  other_desc.class_name = "other";
  other_desc.proc = [](UiWindow, std::uint32_t, std::uint64_t, std::int64_t) -> std::int64_t { return 0; };
  UiWindow other = g_platform.ui->create_window(&other_desc);
  for (const Click& c : clicks) {
    g_popup_request = PopupRequest{};
    g_platform.ui->set_foreground(other);
    ASSERT_EQ(fake_tray_click(c.button), 0);
    while (pump_window_messages(always)) {
    }
    EXPECT_EQ(g_platform.ui->focus_window() == main_, c.forward == 1) << c.button;
    EXPECT_EQ(g_popup_request.set, c.popup_set) << c.button;
  }
  g_popup_request = PopupRequest{};
  g_platform.ui->destroy_window(other);
  // A layer of another size: the message and the program's icon; the tip
  // is kept.
  ASSERT_EQ(tray("arg 0 int : B:1\narg 2 text : \"big\"\n"), 0u);
  ASSERT_FALSE(fake_ui_boxes().empty());
  EXPECT_EQ(fake_ui_boxes().back().text, sjis_message("ICON ERR.\r\nレイヤサイズが 16x16 ではありません。"));
  EXPECT_EQ(fake_ui_boxes().back().caption, "");
  EXPECT_EQ(s.own_icon, 1);
  EXPECT_EQ(s.tip, std::string(63, 't'));
  // A missing layer ends the command.
  const int calls = s.show_calls;
  ASSERT_EQ(tray("arg 0 int : B:1\narg 2 text : \"none\"\n"), 0u);
  EXPECT_EQ(s.show_calls, calls);
  // Removed, then shown again.
  ASSERT_EQ(tray("arg 0 int : B:0\n"), 0u);
  EXPECT_EQ(s.shown, 0);
  ASSERT_EQ(tray("arg 0 int : B:1\n"), 0u);
  EXPECT_EQ(s.shown, 1);
  // The window going away takes the icon with it.
  destroy_windows();
  EXPECT_EQ(s.shown, 0);
}

}  // namespace
