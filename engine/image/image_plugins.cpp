// The optional image plug-ins, loaded once at start-up and unloaded at
// shut-down.
#include "engine/frame/engine_steps.h"
#include "engine/image/webp_plugin.h"

void load_optional_plugins() { load_webp_plugin(); }

void unload_optional_plugins() { unload_webp_plugin(); }
