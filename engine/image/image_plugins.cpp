// The optional image plug-ins, loaded once at start-up and unloaded at
// shut-down.
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/webp_plugin.h"

void load_optional_plugins() {
  // The E-mote pair runs on systems from code 65 up (every system here
  // reports 255). Its players draw only on the GPU device, so a loaded pair
  // turns GPU drawing on.
  if (g_os_code >= 65) load_emote_plugin();
  if (g_emote.loaded) {
    g_settings.use_direct3d = 1;
    if (g_settings.cpu_scaling_flag > 1) g_settings.cpu_scaling_flag = 1;
    g_settings.fullscreen_switch_a = 0;
  }
  load_webp_plugin();
}

void unload_optional_plugins() {
  unload_emote_plugin();
  unload_webp_plugin();
}
