// The menu commands: 62 creates and changes menu items, 63 asks for the
// popup menu of a group, 64 deletes items and groups, 65 queries an item,
// 100 shows, changes or removes the notification-area icon with its menu.
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/commands/result_vars.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/expr.h"
#include "engine/vm/menu_sets.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"
#include "platform/tray.h"

namespace {
constexpr u32 kCmdMenuItemSet = 62;
constexpr u32 kCmdMenuPopup = 63;
constexpr u32 kCmdMenuItemDelete = 64;
constexpr u32 kCmdMenuItemQuery = 65;
constexpr u32 kCmdTrayIconSet = 100;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kErrNoCaption = 100260;
constexpr u32 kErrNoOrderKey = 100240;
constexpr std::size_t kTipSize = 64;
constexpr int kTrayIconSize = 16;
constexpr u32 kTrayCallbackMessage = ui::kWmUser + 10;
constexpr u32 kTrayIconId = 123;

struct TrayState {
  u8 shown = 0;
  std::string tip;  // kept between calls, at most 63 bytes
  u8 hook_set = 0;
  std::vector<u32> pixels;  // the layer's icon; empty: the program's
  std::string menu_path;    // full path of the group its menu was built from
};
TrayState g_tray;

// Menus built from the tree that the scripts changed in this frame: the bar
// of each window and the icon's menu, built again at the end of the frame.
u8 g_bar_stale[kWindowCount] = {};
u8 g_tray_menu_stale = 0;

MenuItem* item_of(ObjectNode* n) {
  return n && n->payload_kind == kPayloadMenuItem ? static_cast<MenuItem*>(n->payload) : nullptr;
}

// The menu-tree node a name gives (a trailing '/' names a group); null when
// missing. *path gets the full path, *kind 1 for a group, 0 for a leaf, -1
// when the name does not make a path (reported).
ObjectNode* menu_node(const char* name, char* path, int* kind) {
  *kind = build_object_path(path, name, g_object_base_paths[kTreeMenu], 0);
  ObjectNode* root = g_object_roots[kTreeMenu];
  if (*kind < 0 || !root) return nullptr;
  return resolve_object_path(root, path, *kind == 1 ? 1 : 0);
}

ObjectNode* menu_group(const char* name) {
  char path[kObjectPathSize];
  int kind = build_object_path(path, name, g_object_base_paths[kTreeMenu], 0);
  ObjectNode* root = g_object_roots[kTreeMenu];
  if (kind < 0 || !root) return nullptr;
  return resolve_object_path(root, path, 1);
}

// Copies a caption into an item's buffer, cut to 260 bytes without
// splitting a double-byte character.
void set_caption(MenuItem* m, const char* caption) {
  if (!m->caption) return;
  std::size_t n = 0;
  while (caption[n] && n < kMenuCaptionSize - 1) {
    std::size_t step = is_sjis_lead(static_cast<unsigned char>(caption[n])) && caption[n + 1] ? 2 : 1;
    if (n + step > kMenuCaptionSize - 1) break;
    n += step;
  }
  std::memcpy(m->caption, caption, n);
  m->caption[n] = 0;
}

i64 combined_key(i64 current, u32 op, i64 value) {
  auto at_least_1 = [](i64 v) { return v < 1 ? 1 : v; };
  switch (op) {
    case 1: return wrap_add(current, value);
    case 2: return at_least_1(wrap_sub(current, value));
    case 3: return at_least_1(wrap_mul(current, value));
    case 4: return value != 0 ? at_least_1(safe_div(current, value)) : at_least_1(current);
    default: return value;
  }
}

// Where the popup and the tray menus appear: the cursor in client pixels
// of the main window.
void cursor_in_main_window(i32* x, i32* y) {
  int cx = 0, cy = 0;
  UiWindow main = main_window_handle();
  if (main != kNoWindow && g_platform.ui->get_cursor_pos(main, &cx, &cy) == 0) {
    *x = cx;
    *y = cy;
  } else {
    *x = *y = 0;
  }
}

// The icon's notifications (a host that reports clicks): a left press
// brings the window forward; a double click or a right release also opens
// the icon's menu at the cursor.
int tray_message(WindowRecord* r, u32 message, u64 wparam, i64 lparam, std::int64_t* result) {
  if (static_cast<u32>(wparam) != kTrayIconId) return 0;
  const u32 what = static_cast<u32>(lparam);
  if (what != ui::kWmLButtonDown && what != ui::kWmLButtonDblClk && what != ui::kWmRButtonUp) return 0;
  if (r->handle != kNoWindow) g_platform.ui->set_foreground(r->handle);
  if (what != ui::kWmLButtonDown && g_menu_sets.handles[kMenuSetTray][0]) {
    g_popup_request.set = kMenuSetTray;
    cursor_in_main_window(&g_popup_request.x, &g_popup_request.y);
  }
  *result = 0;
  return 1;
}

void show_box(const char* sjis_text) { g_platform.ui->message_box(kNoWindow, sjis_text, "", ui::kMbOk); }

// The definition node of the window's bar, or null (no bar, or gone).
ObjectNode* bar_definition(int window) {
  const WindowRecord* r = g_windows[window];
  return r && !r->menu_name.empty() ? menu_group(r->menu_name.c_str()) : nullptr;
}

ObjectNode* tray_menu_group() {
  ObjectNode* root = g_object_roots[kTreeMenu];
  if (g_tray.menu_path.empty() || !root) return nullptr;
  std::vector<char> path(g_tray.menu_path.begin(), g_tray.menu_path.end());
  path.push_back(0);
  return resolve_object_path(root, path.data(), 1);
}

bool lies_under(ObjectNode* node, ObjectNode* group) {
  for (ObjectNode* n = node; n && group; n = n->parent)
    if (n == group) return true;
  return false;
}

// A menu item changed (command 62) or is about to go (command 64): the menus
// built from a group that holds it are built again at the end of the frame,
// so they show the captions, marks and states the scripts set.
void note_menu_item_change(ObjectNode* node) {
  if (!node) return;
  for (int w = 0; w < kWindowCount; ++w)
    if (lies_under(node, bar_definition(w))) g_bar_stale[w] = 1;
  if (g_tray.shown && lies_under(node, tray_menu_group())) g_tray_menu_stale = 1;
}

// Shows (or changes) the icon with the kept image, tip and menu set 2.
void show_tray_icon() {
  const PlatformTray* t = g_platform.tray;
  UiWindow main = main_window_handle();
  if (!g_tray.hook_set) g_tray.hook_set = set_window_message_hook(kTrayCallbackMessage, tray_message) == 0;
  UiMenu menu = g_menu_sets.handles[kMenuSetTray][0]
                    ? g_platform.menus->submenu_of(g_menu_sets.handles[kMenuSetTray][0], 0)
                    : 0;
  const bool own = g_tray.pixels.empty();
  if (t && main != kNoWindow &&
      t->show(main, own ? nullptr : g_tray.pixels.data(), own ? 0 : kTrayIconSize, own ? 0 : kTrayIconSize,
              g_tray.tip.c_str(), menu, kTrayCallbackMessage, kTrayIconId) == 0)
    g_tray.shown = 1;
}

}  // namespace

u32 cmd_menu_item_set() {
  if (decode_command_args(kCmdMenuItemSet) != 0) return kFailed;
  char path[kObjectPathSize];
  int kind = 0;
  ObjectNode* node = menu_node(arg_text(0), path, &kind);
  if (kind < 0) return kFailed;
  const bool has_key = arg_given(2);
  const i64 key = has_key ? combined_key(node ? node->order_key : 1, g_args_decoded.slots[arg_slot(2)].assign_op,
                                         arg_value(2))
                          : 0;
  // What a shown menu built from this item would show, to see whether the
  // command changes it.
  struct Shown {
    bool exists;
    i64 key;
    std::string caption;
    u8 shown, checked;
    u16 enabled;
    i64 command;
    bool operator==(const Shown&) const = default;
  };
  auto shown_of = [](ObjectNode* n) {
    MenuItem* i = item_of(n);
    if (!i) return Shown{false, 0, {}, 0, 0, 0, 0};
    return Shown{true, n->order_key, i->caption ? i->caption : "", i->shown, i->checked, i->enabled, i->command};
  };
  const Shown before = shown_of(node);
  if (!node) {
    if (!arg_given(1)) {
      report_error_at(kErrNoCaption, 1, command_name(kCmdMenuItemSet));
      return kFailed;
    }
    if (!has_key) {
      report_error_at(kErrNoOrderKey, 1, command_name(kCmdMenuItemSet));
      return kFailed;
    }
    node = get_named_object(g_object_roots[kTreeMenu], path, kind == 1 ? 1 : 0, key);
    if (!node) return kFailed;
    node->payload_kind = kPayloadMenuItem;
    if (make_menu_item(node, arg_text(1)) != 0) return kFailed;
  } else {
    if (has_key && key != node->order_key) layer_reorder(node, key);
    if (!item_of(node)) {
      node->payload_kind = kPayloadMenuItem;
      if (make_menu_item(node, arg_text(1)) != 0) return kFailed;
    } else if (arg_given(1)) {
      set_caption(item_of(node), arg_text(1));
    }
  }
  MenuItem* m = item_of(node);
  if (!m) return kFailed;
  if (arg_given(3)) m->shown = static_cast<u8>(arg_value(3));
  if (arg_given(4)) m->enabled = static_cast<u16>(arg_value(4));
  if (arg_given(5)) m->checked = static_cast<u8>(arg_value(5));
  if (arg_given(6)) m->command = arg_value(6);
  if (!(shown_of(node) == before)) note_menu_item_change(node);
  return 0;
}

u32 cmd_menu_popup() {
  if (decode_command_args(kCmdMenuPopup) != 0) return kFailed;
  ObjectNode* group = menu_group(arg_text(0));
  if (!group || !arg_given(1) || arg_value(1) != 1) return 0;
  if (build_popup_set(kMenuSetPopup, group) != 0) return 0;
  g_popup_request.set = kMenuSetPopup;
  cursor_in_main_window(&g_popup_request.x, &g_popup_request.y);
  return 0;
}

u32 cmd_menu_item_delete() {
  if (decode_command_args(kCmdMenuItemDelete) != 0) return kFailed;
  char path[kObjectPathSize];
  int kind = 0;
  ObjectNode* node = menu_node(arg_text(0), path, &kind);
  if (!node) {
    // A name without the group mark may still name a group.
    if (kind == 0) node = resolve_object_path(g_object_roots[kTreeMenu], path, 1);
    if (!node) return 0;
  }
  // The root and the base group "M0" are held by the engine: never freed.
  if (node == g_object_roots[kTreeMenu] || node == g_system_objects[kTreeMenu] || !node->parent) return 0;
  note_menu_item_change(node);
  object_detach(node);
  object_subtree_free(node);
  return 0;
}

u32 cmd_menu_item_query() {
  if (decode_command_args(kCmdMenuItemQuery) != 0) return kFailed;
  ResultVar out;
  if (!result_var(0, &out)) return 0;
  char path[kObjectPathSize];
  int kind = 0;
  ObjectNode* node = menu_node(arg_text(1), path, &kind);
  MenuItem* m = item_of(node);
  if (!m) {
    store_empty_result(out);
    return 0;
  }
  auto number = [&](i64 v) {
    if (out.type == kVarText) {
      report_error_code_at(kErrTypeMismatch, 1);
      return kFailed;
    }
    var_set_number(out.id, out.element, v);
    return 0u;
  };
  if (arg_given(3)) return number(1);
  if (arg_given(5)) return number(m->shown);
  if (arg_given(6)) return number(m->enabled);
  if (arg_given(4)) return number(node->order_key);
  if (arg_given(7)) return number(m->checked);
  if (arg_given(8)) return number(m->command);
  if (arg_given(2) && out.type == kVarText) var_set_string(out.id, out.element, m->caption ? m->caption : "");
  return 0;
}

void refresh_changed_menu_bars() {
  for (int w = 0; w < kWindowCount; ++w) {
    if (!g_bar_stale[w]) continue;
    g_bar_stale[w] = 0;
    // A definition deleted meanwhile leaves the bar as it was.
    if (bar_definition(w)) load_menu_bar(g_windows[w]->menu_name.c_str(), w);
  }
  if (g_tray_menu_stale) {
    g_tray_menu_stale = 0;
    ObjectNode* group = tray_menu_group();
    if (g_tray.shown && group && build_popup_set(kMenuSetTray, group) == 0) show_tray_icon();
  }
}

void remove_tray_icon() {
  if (!g_tray.shown) return;
  const PlatformTray* t = g_platform.tray;
  if (t) t->remove(main_window_handle());
  g_tray.shown = 0;
}

u32 cmd_tray_icon_set() {
  if (decode_command_args(kCmdTrayIconSet) != 0) return kFailed;
  LayerImage* layer = nullptr;
  if (arg_given(2)) {
    char path[kObjectPathSize];
    int kind = build_object_path(path, arg_text(2), g_object_base_paths[kTreeLayer], 0);
    ObjectNode* root = g_object_roots[kTreeLayer];
    ObjectNode* n = kind >= 0 && root ? resolve_object_path(root, path, kind == 1 ? 1 : 2) : nullptr;
    if (!n) return 0;
    layer = n->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(n->payload) : nullptr;
  }
  if (arg_given(1)) {
    // The tip has 64 bytes with its NUL.
    std::string tip = arg_text(1);
    std::size_t n = 0;
    while (n < tip.size() && n < kTipSize - 1) {
      std::size_t step = is_sjis_lead(static_cast<unsigned char>(tip[n])) && n + 1 < tip.size() ? 2 : 1;
      if (n + step > kTipSize - 1) break;
      n += step;
    }
    g_tray.tip = tip.substr(0, n);
  }
  if (arg_given(3)) {
    char path[kObjectPathSize];
    int kind = build_object_path(path, arg_text(3), g_object_base_paths[kTreeMenu], 0);
    ObjectNode* root = g_object_roots[kTreeMenu];
    ObjectNode* group = kind >= 0 && root ? resolve_object_path(root, path, 1) : nullptr;
    if (group) {
      g_tray.menu_path = path;
      build_popup_set(kMenuSetTray, group);
    }
  }
  if (arg_value(0) == 1 && arg_given(0)) {
    std::vector<u32> pixels;
    if (layer) {
      if (layer->width != kTrayIconSize || layer->height != kTrayIconSize) {
        char text[128];
        std::snprintf(text, sizeof text, sjis_message("ICON ERR.\r\nレイヤサイズが %dx%d ではありません。"),
                      kTrayIconSize, kTrayIconSize);
        show_box(text);
      } else if (!layer->pixels) {
        show_box(sjis_message("ICON CreateDIBSection エラー"));
      } else {
        pixels.assign(layer->pixels, layer->pixels + kTrayIconSize * kTrayIconSize);
      }
    }
    // Added when not shown, changed when shown: an icon removed before is
    // shown again.
    g_tray.pixels = std::move(pixels);
    show_tray_icon();
  } else if (arg_given(0)) {
    remove_tray_icon();
  }
  return 0;
}
