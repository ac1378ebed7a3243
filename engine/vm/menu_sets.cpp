#include "engine/vm/menu_sets.h"

#include <cstring>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "platform/platform.h"

MenuSets g_menu_sets = {};
PopupRequest g_popup_request = {};

namespace {

constexpr u32 kErrMenuDefinitionMissing = 101250;

const PlatformMenus* menus() { return g_platform.menus ? g_platform.menus : &kFakeMenus; }

MenuItem* item_of(ObjectNode* n) {
  return n && n->payload_kind == kPayloadMenuItem ? static_cast<MenuItem*>(n->payload) : nullptr;
}

const char* current_command_name() {
  u32 c = g_current_instruction.command_id;
  const char* n = c < g_command_list.count ? g_command_list.commands[c].name : nullptr;
  return n ? n : "";
}

}  // namespace

void destroy_menu_set(int set) {
  if (set < 0 || set >= kMenuSetCount) return;
  // Destroying a menu destroys its submenus; a handle already dead is a
  // no-op. Every slot is cleared, so no later destroy meets an old handle.
  for (UiMenu& h : g_menu_sets.handles[set]) {
    if (h) menus()->destroy_menu(h);
    h = 0;
  }
}

int build_menu(int set, ObjectNode* node) {
  if (set < 0 || set >= kMenuSetCount || !node) return -1;
  i32 level = g_menu_sets.level_counter;
  g_menu_sets.level_counter += 1;
  if (g_menu_sets.level_counter >= kMenuSetHandles) return -1;
  UiMenu menu = g_menu_sets.handles[set][level];
  int position = 0;
  for (ObjectNode* child = node->first_child; child; child = child->next) {
    MenuItem* m = item_of(child);
    if (!m || !m->shown) continue;
    UiMenuItem item;
    item.id = static_cast<u32>(static_cast<u64>(m->command) & 0xFFFFFFFFu);
    item.grayed = m->enabled == 0 ? 1 : 0;
    item.checked = m->checked ? 1 : 0;
    const char* caption = m->caption ? m->caption : "";
    bool submenu = false;
    if (!*caption) {
      item.separator = 1;
    } else {
      item.caption = caption;
      if (child->is_group && child->child_count > 0) {
        i32 index = g_menu_sets.level_counter;
        if (index >= kMenuSetHandles) return -1;
        item.submenu = menus()->create_menu(1);
        if (!item.submenu) return -1;
        g_menu_sets.handles[set][index] = item.submenu;
        submenu = true;
      }
    }
    if (menus()->insert_item(menu, position, &item) != 0) return -1;
    position += 1;
    if (submenu && build_menu(set, child) != 0) return -1;
  }
  return 0;
}

void attach_menu_bar(UiWindow window, UiMenu menu) {
  if (g_screen_mode == 1 && g_menu_strip_window != kNoWindow) {
    menus()->set_window_menu(g_menu_strip_window, menu);
    return;
  }
  menus()->set_window_menu(window, menu);
}

int load_menu_bar(const char* name, int window) {
  UiWindow h = window >= 0 && window < kWindowCount && g_windows[window] ? g_windows[window]->handle : kNoWindow;
  if (!name || !*name) {
    destroy_menu_set(kMenuSetBar);
    g_menu_sets.level_counter = 0;
    if (h != kNoWindow) attach_menu_bar(h, 0);
    return 0;
  }
  char path[kObjectPathSize];
  int kind = build_object_path(path, name, g_object_base_paths[kTreeMenu], 0);
  ObjectNode* node = kind < 0 ? nullptr : resolve_object_path(g_object_roots[kTreeMenu], path, 1);
  if (!node) {
    if (kind >= 0) report_error_at(kErrMenuDefinitionMissing, 1, current_command_name(), name);
    return -1;
  }
  // The old bar goes away with its menus (the platform takes a destroyed
  // bar off its window), so a failed build leaves no bar attached.
  destroy_menu_set(kMenuSetBar);
  g_menu_sets.level_counter = 0;
  g_menu_sets.handles[kMenuSetBar][0] = menus()->create_menu(0);
  if (!g_menu_sets.handles[kMenuSetBar][0] || build_menu(kMenuSetBar, node) != 0) {
    destroy_menu_set(kMenuSetBar);
    if (h != kNoWindow) attach_menu_bar(h, 0);
    return 0;
  }
  if (h != kNoWindow) attach_menu_bar(h, g_menu_sets.handles[kMenuSetBar][0]);
  return 0;
}

int build_popup_set(int set, ObjectNode* group) {
  if (set != kMenuSetPopup && set != kMenuSetTray) return -1;
  destroy_menu_set(set);
  UiMenu top = menus()->create_menu(1);
  UiMenu sub = menus()->create_menu(1);
  g_menu_sets.handles[set][0] = top;
  g_menu_sets.handles[set][1] = sub;
  if (!top || !sub) {
    if (sub && !top) menus()->destroy_menu(sub);
    destroy_menu_set(set);
    return -1;
  }
  UiMenuItem item;
  item.caption = "MENUSET";
  item.submenu = sub;
  if (menus()->insert_item(top, 0, &item) != 0) {
    menus()->destroy_menu(sub);
    destroy_menu_set(set);
    return -1;
  }
  g_menu_sets.level_counter = 1;
  if (build_menu(set, group) != 0) {
    destroy_menu_set(set);
    return -1;
  }
  return 0;
}

void destroy_menu_sets() {
  remove_tray_icon();
  for (int s = 0; s < kMenuSetCount; ++s) destroy_menu_set(s);
  g_menu_sets.level_counter = 0;
  g_popup_request = PopupRequest{};
}

void destroy_main_menus() { destroy_menu_set(kMenuSetBar); }

void show_pending_popup_menu() {
  PopupRequest r = g_popup_request;
  if (!r.set) return;
  g_popup_request = PopupRequest{};
  if (r.set >= kMenuSetCount) return;
  UiWindow main = main_window_handle();
  UiMenu sub = menus()->submenu_of(g_menu_sets.handles[r.set][0], 0);
  if (!sub || main == kNoWindow) return;
  u32 id = menus()->track_popup(sub, main, r.x, r.y);
  // A popup closed without a choice leaves the last chosen id alone.
  if (id) g_platform.ui->post_message(main, ui::kWmCommand, id, 0);
}
