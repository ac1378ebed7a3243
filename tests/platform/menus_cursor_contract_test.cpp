// The menus and the cursor: the same cases on the fakes and on GTK. The
// GTK cases need a display (the platform_contract end-to-end script runs
// them under Xvfb); without one they are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/cursor.h"
#include "platform/menus.h"
#include "platform/ui.h"

namespace {

std::int64_t quiet_proc(UiWindow, std::uint32_t, std::uint64_t, std::int64_t) { return 0; }

struct Backends {
  const char* name;
  const PlatformUi* ui;
  const PlatformMenus* menus;
  const PlatformCursor* cursor;
};

class MenusCursorContract : public ::testing::TestWithParam<Backends> {
 protected:
  void SetUp() override {
    b_ = GetParam();
    if (b_.ui == &kGtkUi) {
      const char* d = std::getenv("DISPLAY");
      if (!d || !*d || !b_.ui->available()) GTEST_SKIP() << "no display";
    } else {
      fake_ui_reset();
      fake_menus_reset();
      fake_cursor_reset();
    }
    UiWindowDesc d;
    d.class_name = "contract";
    d.client_width = 200;
    d.client_height = 100;
    d.proc = quiet_proc;
    window_ = b_.ui->create_window(&d);
    ASSERT_NE(window_, kNoWindow);
    b_.ui->show_window(window_, ui::kSwShow);
    pump();
  }
  void TearDown() override {
    if (window_ != kNoWindow) b_.ui->destroy_window(window_);
    pump();
  }
  void pump() {
    UiMessage m;
    for (int i = 0; i < 50; ++i) {
      b_.ui->process_desktop_events();
      while (b_.ui->peek_message(&m, 1)) b_.ui->dispatch_message(&m);
    }
  }
  Backends b_{};
  UiWindow window_ = kNoWindow;
};

TEST_P(MenusCursorContract, MenusOwnTheirSubmenusAndDeadHandlesAreHarmless) {
  const PlatformMenus* m = b_.menus;
  UiMenu bar = m->create_menu(0);
  UiMenu sub = m->create_menu(1);
  UiMenu deeper = m->create_menu(1);
  ASSERT_NE(bar, 0u);
  ASSERT_NE(sub, 0u);
  UiMenuItem item;
  item.caption = "&File";
  item.submenu = sub;
  ASSERT_EQ(m->insert_item(bar, 0, &item), 0);
  UiMenuItem open;
  open.caption = "Open";
  open.id = 70000;
  open.checked = 1;
  ASSERT_EQ(m->insert_item(sub, 0, &open), 0);
  UiMenuItem sep;
  sep.separator = 1;
  ASSERT_EQ(m->insert_item(sub, 0, &sep), 0);  // before "Open"
  item.caption = "More";
  item.submenu = deeper;
  ASSERT_EQ(m->insert_item(sub, 99, &item), 0);  // past the end: appended
  EXPECT_EQ(m->submenu_of(bar, 0), sub);
  EXPECT_EQ(m->submenu_of(sub, 2), deeper);
  EXPECT_EQ(m->submenu_of(sub, 1), 0u);
  EXPECT_EQ(m->submenu_of(sub, 3), 0u);
  // A submenu has one parent; it can't be its own ancestor either.
  item.submenu = sub;
  EXPECT_EQ(m->insert_item(deeper, 0, &item), -1);
  ASSERT_EQ(m->set_window_menu(window_, bar), 0);
  pump();
  int w = 0, h = 0;
  ASSERT_EQ(b_.ui->get_client_size(window_, &w, &h), 0);
  EXPECT_EQ(w, 200);
  // Destroying the bar takes its submenus and the window's bar with it.
  m->destroy_menu(bar);
  pump();
  EXPECT_EQ(m->is_menu(bar), 0);
  EXPECT_EQ(m->is_menu(sub), 0);
  EXPECT_EQ(m->is_menu(deeper), 0);
  m->destroy_menu(bar);  // dead: nothing
  EXPECT_EQ(m->insert_item(bar, 0, &open), -1);
  UiMenu fresh = m->create_menu(0);
  EXPECT_NE(fresh, bar);  // a handle is never given out again
  EXPECT_EQ(m->set_window_menu(window_, fresh), 0);
  EXPECT_EQ(m->set_window_menu(window_, 0), 0);
  EXPECT_EQ(m->set_window_menu(kNoWindow, fresh), -1);
  EXPECT_EQ(m->set_window_menu(window_, bar), -1);
  m->destroy_menu(fresh);
}

// The bar shows exactly the captions, marks and grayed states it was given,
// and a choice changes none of them (a checked item does not uncheck itself,
// an unchecked one does not check itself): only the program changes them.
TEST_P(MenusCursorContract, BarShowsTheGivenStateAndChoicesChangeNothing) {
  static std::vector<std::uint32_t> commands;
  commands.clear();
  UiWindowDesc d;
  d.class_name = "contract_bar";
  d.client_width = 200;
  d.client_height = 100;
  d.proc = [](UiWindow, std::uint32_t msg, std::uint64_t wparam, std::int64_t) -> std::int64_t {
    if (msg == ui::kWmCommand) commands.push_back(static_cast<std::uint32_t>(wparam));
    return 0;
  };
  UiWindow win = b_.ui->create_window(&d);
  ASSERT_NE(win, kNoWindow);
  b_.ui->show_window(win, ui::kSwShow);
  const PlatformMenus* m = b_.menus;
  UiMenu bar = m->create_menu(0), file = m->create_menu(1), view = m->create_menu(1);
  auto add = [m](UiMenu menu, const char* caption, std::uint32_t id, int checked, int grayed, UiMenu sub = 0) {
    UiMenuItem i;
    i.caption = caption;
    i.separator = caption == nullptr;
    i.id = id;
    i.checked = checked;
    i.grayed = grayed;
    i.submenu = sub;
    ASSERT_EQ(m->insert_item(menu, 99, &i), 0);
  };
  add(bar, "&File", 0, 0, 0, file);
  add(file, "&Open", 1, 1, 0);
  add(file, "Save && go", 2, 0, 0);
  add(file, nullptr, 0, 0, 0);
  add(file, "Quit", 3, 0, 1);
  add(bar, "&View", 0, 0, 0, view);
  add(view, "Ball", 4, 1, 1);
  add(view, "Pa_use", 5, 0, 0);
  ASSERT_EQ(m->set_window_menu(win, bar), 0);
  pump();
  auto shown = [&] { return b_.ui == &kGtkUi ? gtk_menu_shown(win) : fake_menu_shown(win); };
  const std::vector<ShownMenuItem> want = {
      {"&File", 0, 0, 0, 0}, {"&Open", 1, 0, 0, 1}, {"Save && go", 1, 0, 0, 0}, {"", 1, 1, 0, 0},
      {"Quit", 1, 0, 1, 0},  {"&View", 0, 0, 0, 0}, {"Ball", 1, 0, 1, 1},       {"Pa_use", 1, 0, 0, 0},
  };
  ASSERT_EQ(shown(), want);
  for (std::uint32_t id : {1u, 2u, 5u, 1u}) {
    if (b_.ui == &kGtkUi) ASSERT_EQ(gtk_menu_choose(win, id), 0) << id;
    else fake_menu_choose(win, id);
    pump();
    EXPECT_EQ(shown(), want) << "after choosing " << id;
  }
  EXPECT_EQ(commands, (std::vector<std::uint32_t>{1, 2, 5, 1}));
  m->destroy_menu(bar);
  b_.ui->destroy_window(win);
  pump();
}

TEST_P(MenusCursorContract, CursorCountShapesImagesAndWarps) {
  const PlatformCursor* c = b_.cursor;
  const int base = c->show_cursor(0);
  EXPECT_EQ(c->show_cursor(1), base + 1);
  c->show_cursor(1);
  for (int shape : {0, 1, 4, 11, 13, 99, -1})
    c->set_shape(window_, shape);
  std::vector<std::uint32_t> px(32 * 32, 0x80FF0000u);
  EXPECT_EQ(c->create_image_cursor(px.data(), 0, 32, 0, 0), 0u);
  EXPECT_EQ(c->create_image_cursor(nullptr, 32, 32, 0, 0), 0u);
  UiCursor cur = c->create_image_cursor(px.data(), 32, 32, 5, 6);
  ASSERT_NE(cur, 0u);
  c->set_image_cursor(window_, cur);
  c->destroy_cursor(cur);
  c->destroy_cursor(cur);  // dead: nothing
  c->destroy_cursor(0);
  EXPECT_EQ(c->warp(window_, 10, 20), 0);
  pump();
  if (b_.ui == &kGtkUi) {
    // The pointer lands when the server has the warp, up to 5 s on a busy
    // machine; a window manager that places the window afterwards moves the
    // window from under it, so the warp is asked again while waiting.
    int x = -1, y = -1;
    for (int i = 0; i < 100 && (x != 10 || y != 20); ++i) {
      if (i > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (i % 10 == 0) {
          EXPECT_EQ(c->warp(window_, 10, 20), 0);
        }
      }
      pump();
      ASSERT_EQ(b_.ui->get_cursor_pos(window_, &x, &y), 0);
    }
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
  } else {
    UiWindow w = kNoWindow;
    int x = 0, y = 0;
    fake_cursor_last_warp(&w, &x, &y);
    EXPECT_EQ(w, window_);
    EXPECT_EQ(x, 10);
  }
  // A warp to desktop positions moves the pointer by their difference.
  EXPECT_EQ(c->warp(kNoWindow, 100, 100), 0);
  if (b_.ui == &kGtkUi) {
    // The pointer in the window plus the window's place: the desktop
    // position up to a fixed offset, so that a move of the window by the
    // window manager between two readings does not count as a move of the
    // pointer.
    auto pointer = [&](int* x, int* y) {
      int wx = 0, wy = 0, ww = 0, wh = 0, cx = 0, cy = 0;
      pump();
      if (b_.ui->get_window_rect(window_, &wx, &wy, &ww, &wh) != 0 || b_.ui->get_cursor_pos(window_, &cx, &cy) != 0)
        return false;
      *x = wx + cx;
      *y = wy + cy;
      return true;
    };
    // The first warp has landed once the pointer left (10, 20) in the window
    // and two readings 50 ms apart agree (up to 5 s on a busy machine).
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (int i = 0, last_x = -1, last_y = -1; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      int cx = 0, cy = 0;
      ASSERT_EQ(b_.ui->get_cursor_pos(window_, &cx, &cy), 0);
      ASSERT_TRUE(pointer(&x0, &y0));
      if ((cx != 10 || cy != 20) && x0 == last_x && y0 == last_y) break;
      last_x = x0;
      last_y = y0;
    }
    EXPECT_EQ(c->warp(kNoWindow, 130, 150), 0);
    // Waits for the pointer to be 30 and 50 further on (up to 5 s).
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ASSERT_TRUE(pointer(&x1, &y1));
      if (x1 - x0 == 30 && y1 - y0 == 50) break;
    }
    EXPECT_EQ(x1 - x0, 30);
    EXPECT_EQ(y1 - y0, 50);
  } else {
    UiWindow w = window_;
    int x = 0, y = 0;
    fake_cursor_last_warp(&w, &x, &y);
    EXPECT_EQ(w, kNoWindow);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 100);
  }
}

INSTANTIATE_TEST_SUITE_P(FakeAndGtk, MenusCursorContract,
                         ::testing::Values(Backends{"Fake", &kFakeUi, &kFakeMenus, &kFakeCursor},
                                           Backends{"Gtk", &kGtkUi, &kGtkMenus, &kGtkCursor}),
                         [](const ::testing::TestParamInfo<Backends>& i) { return std::string(i.param.name); });

}  // namespace
