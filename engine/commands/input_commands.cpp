// The input commands: 49 sets the input switches and the cursor-shown
// switch; 69 sets the cursor's visibility mode, position, system shape or a
// shape made from a layer.
#include <cstring>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/input.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "platform/cursor.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
constexpr u32 kCmdInputConfig = 49;
constexpr u32 kCmdCursorSet = 69;
constexpr u32 kFailed = 0xFFFFFFFFu;

// The custom cursor of window 0, and the pixel buffer it was made from.
struct CustomCursor {
  UiCursor handle = 0;
  std::vector<u32> pixels;  // width * height + 256 words
};
CustomCursor g_custom_cursor;

void show_box(const char* utf8) {
  g_platform.ui->message_box(kNoWindow, sjis_message(utf8), "", ui::kMbOk);
}

LayerImage* layer_named(const char* name) {
  char path[kObjectPathSize];
  int kind = build_object_path(path, name, g_object_base_paths[kTreeLayer], 0);
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (kind < 0 || !root) return nullptr;
  ObjectNode* n = resolve_object_path(root, path, kind == 1 ? 1 : 2);
  return n && n->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(n->payload) : nullptr;
}

// Client position of window 0 for a logical position: the image's offset
// and its display scale applied, as the input polling undoes them.
void logical_to_client(const WindowRecord* w, i64 x, i64 y, int* cx, int* cy) {
  const WindowMapping& m = g_window0_mapping;
  if (m.display_width > 0 && w->logical_width > 0) x = x * m.display_width / w->logical_width;
  if (m.display_height > 0 && w->logical_height > 0) y = y * m.display_height / w->logical_height;
  *cx = static_cast<int>(x + m.offset_x);
  *cy = static_cast<int>(y + m.offset_y);
}

}  // namespace

u32 cmd_input_config() {
  if (decode_command_args(kCmdInputConfig) != 0) return kFailed;
  i64 first = arg_value(0), second = arg_value(1);
  // Switch words are 32 bits.
  first = static_cast<i32>(first);
  second = static_cast<i32>(second);
  set_input_switches(arg_given(0) ? &first : nullptr, arg_given(1) ? &second : nullptr);
  if (arg_given(2)) set_cursor_shown_switch(static_cast<u8>(arg_value(2) != 0 ? 1 : 0));
  return 0;
}

// Makes a cursor from the layer's pixels with its hot spot; the previous
// custom cursor goes. Failures show their box and leave no cursor.
UiCursor create_layer_cursor(UiWindow window, const LayerImage* layer, i32 width, i32 height, i32 hot_x, i32 hot_y) {
  const PlatformCursor* c = g_platform.cursor;
  if (!c || !layer || !layer->pixels || width <= 0 || height <= 0 || width > 4096 || height > 4096) {
    show_box("CURSOR CreateDIBSection エラー");
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (g_custom_cursor.pixels.size() != count + 256) g_custom_cursor.pixels.assign(count + 256, 0);
  std::memcpy(g_custom_cursor.pixels.data(), layer->pixels, count * sizeof(u32));
  UiCursor made = c->create_image_cursor(g_custom_cursor.pixels.data(), width, height, hot_x, hot_y);
  if (!made) {
    show_box("CURSOR CreateIconIndirect エラー");
    return 0;
  }
  if (g_custom_cursor.handle) c->destroy_cursor(g_custom_cursor.handle);
  g_custom_cursor.handle = made;
  c->set_image_cursor(window, made);
  return made;
}

u32 cmd_cursor_set() {
  if (decode_command_args(kCmdCursorSet) != 0) return kFailed;
  WindowRecord* w = g_windows[0];
  const PlatformCursor* c = g_platform.cursor;
  CursorState& s = g_cursor;
  if (arg_given(0)) {
    switch (arg_value(0)) {
      case 0:
        if (s.forced_visible) {
          s.request = kCursorRequestHide;
          s.forced_visible = 0;
        }
        s.hidden = 0;
        s.hide_marked = 0;
        s.mode = 0;
        s.auto_hide = 0;
        break;
      case 1:
        if (!s.hidden && !s.forced_visible) request_cursor_visible();
        s.auto_hide = 1;
        s.mode = 1;
        break;
      case 2:
        request_cursor_visible();
        s.hidden = 0;
        s.auto_hide = 0;
        s.mode = 2;
        break;
      default:
        break;
    }
  }
  if (arg_given(1)) s.hide_delay_ms = static_cast<u32>(arg_value(1));
  for (u32 p = 2; p <= 4; ++p)
    if (arg_given(p) && w) w->input_flags[p - 2] = static_cast<u8>(arg_value(p));
  if ((arg_given(5) || arg_given(6)) && w) {
    if (arg_given(5)) w->mouse_x = static_cast<i32>(arg_value(5));
    if (arg_given(6)) w->mouse_y = static_cast<i32>(arg_value(6));
    int cx = 0, cy = 0;
    logical_to_client(w, w->mouse_x, w->mouse_y, &cx, &cy);
    if (c && w->handle != kNoWindow) c->warp(w->handle, cx, cy);
  }
  UiWindow main = w ? w->handle : kNoWindow;
  if (arg_given(7) && c && main != kNoWindow) {
    i64 shape = arg_value(7);
    c->set_shape(main, shape >= kCursorIBeam && shape <= kCursorHelp ? static_cast<int>(shape) : kCursorArrow);
  }
  if (arg_given(10)) {
    LayerImage* layer = layer_named(arg_text(10));
    if (layer && main != kNoWindow) {
      create_layer_cursor(main, layer, layer->width, layer->height, static_cast<i32>(arg_value(8)),
                          static_cast<i32>(arg_value(9)));
    }
  }
  return 0;
}

void restore_cursor() {
  const PlatformCursor* c = g_platform.cursor;
  if (c && g_custom_cursor.handle) c->destroy_cursor(g_custom_cursor.handle);
  g_custom_cursor = CustomCursor{};
  // Shut-down shows the cursor once more.
  if (c) c->show_cursor(1);
}
