// The E-mote pair: "emotedriver.dll" (only tested for) and "RAVovov.dll",
// whose entries are bound by ordinal at start-up. It plays E-mote motion
// images (".psb", MediaType 9) on layers: a driver made on the GPU device,
// one player a layer, drawn by the player into the layer's one screen-sized
// texture. Without the pair a ".psb" loads as a transparent 2 x 2 layer.
//
// Handles (driver, player) are the library's own and opaque here; floats
// are 32-bit. Everything runs on the thread that runs frames (start-up and
// shut-down on the GUI thread).
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

struct DataItem;
struct DynLib;
struct LayerImage;
struct PlatformGpu;

// What the driver is given as its device: the GPU service it draws with
// and the three transforms of the E-mote view, row-vector 4 x 4 matrices
// (a point p maps to p x world x view x projection, then x and y from -1..1
// across the viewport, y upwards). The engine sets the transforms and the
// viewport before each player draws.
struct EmoteDevice {
  const PlatformGpu* gpu = nullptr;
  // The viewport: the size of the target the player draws into.
  i32 viewport_width = 0, viewport_height = 0;
  float world[16] = {};
  float view[16] = {};
  float projection[16] = {};
};
// The 3-word descriptor of driver creation: {device, 0, 0}.
struct EmoteDriverDescriptor {
  EmoteDevice* device;
  void* reserved[2];
};

// The entries the engine calls, by ordinal.
using EmoteCreateDriverFn = void* (*)(const EmoteDriverDescriptor* descriptor);  // 2: null on failure
using EmoteDriverFn = void (*)(void* driver);                                     // 102: release
using EmoteDriverIntFn = void (*)(void* driver, i32 value);                       // 110
// 119: a player from a file's bytes into *player (null on failure).
using EmoteLoadPlayerFn = void (*)(void* driver, const u8* data, u32 size, void** player);
using EmotePlayerFn = void (*)(void* player);                                 // 202 205 236 253 256
using EmotePlayerFloatFn = void (*)(void* player, float value);               // 214 216 218 254
// 220: place x, y, with a transition time and easing.
using EmoteOffsetFn = void (*)(void* player, float x, float y, float time, float easing);
// 222, 224: scale, rotation (radians), with a transition time and easing.
using EmoteTransformFn = void (*)(void* player, float value, float time, float easing);
// 233: a variable of the motion to value over time (frames of 1/60 s).
using EmoteVariableFn = void (*)(void* player, const char* utf8_name, float value, float time, float easing);
using EmoteFiveFloatsFn = void (*)(void* player, float a, float b, float c, float d, float e);  // 235
using EmoteTimelineFn = void (*)(void* player, const char* utf8_name, i32 flags);              // 245
using EmoteNameFn = void (*)(void* player, const char* utf8_name);                              // 247
// The two state queries of the frame loop: 1 while the player animates.
using EmoteQueryFn = i32 (*)(void* player);                                  // 249
using EmoteNamedQueryFn = i32 (*)(void* player, const char* utf8_name);      // 251

constexpr int kEmoteFirstTable = 101, kEmoteFirstTableCount = 21;    // 101-121
constexpr int kEmoteSecondTable = 201, kEmoteSecondTableCount = 56;  // 201-256

struct EmotePlugin {
  DynLib* lib = nullptr;
  u8 loaded = 0;  // 1 only when every entry was found
  void* entries_low[3] = {};                         // ordinals 1-3
  void* entries_101[kEmoteFirstTableCount] = {};     // index n - 101
  void* entries_201[kEmoteSecondTableCount] = {};    // index n - 201
  void* driver = nullptr;                            // null until made
};
extern EmotePlugin g_emote;
extern EmoteDevice g_emote_device;

// The entry of an ordinal (1-3, 101-121, 201-256), null for any other or
// while the plug-in is not loaded.
void* emote_entry(int ordinal);

// The layers whose players are live: 128 slots (null = free), each with its
// pending animation time in milliseconds, which frame pacing fills and the
// draw (or the next pacing) hands to the player.
constexpr int kEmotePlayerSlots = 128;
struct EmotePlayerTable {
  LayerImage* layers[kEmotePlayerSlots] = {};
  float pending_ms[kEmotePlayerSlots] = {};
};
extern EmotePlayerTable g_emote_players;

// Tests for "emotedriver.dll" (loaded and freed at once), then loads
// "RAVovov.dll" and binds ordinals 1-3, 101-121 and 201-256. A library that
// lacks an entry is unloaded again and stays off. 0 whether or not found.
int load_emote_plugin();
// Releases every player and the driver, then the library.
void unload_emote_plugin();

// The E-mote decoder of the dispatch (MediaType 9): a 2 x 2 transparent
// image and, with the plug-in, a player of the file's bytes. 0 ok, -1 or 1
// failed (after its message).
int load_emote(DataItem* item, LayerImage* image, const char* name);
// Makes image's player of the bytes and puts the layer in the table.
// 0 ok, 1 failed after its message (nothing is left in the layer then).
int emote_load_player(LayerImage* image, const u8* data, u32 size);
// After each device creation: releases every E-mote object, then makes the
// driver on the device when there is none. 0 driver present, 1 none.
int emote_init_driver(const PlatformGpu* gpu);
// The view of scale 1 and rotation 0 (while the plug-in is loaded).
void reset_emote_transforms();
// The E-mote view for a target of width x height whose origin the player
// sees at (x, y), turned by angle degrees. Nothing without a device.
void set_emote_transforms(i32 width, i32 height, float x, float y, float angle);

// Releases image's player: its table slots cleared, the player released
// through the plug-in, emote_player null, content_kind 0. Nothing for a
// null layer or a layer without a player.
void release_emote_object(LayerImage* image);
// Every player of the table (with its layer's textures, which only the
// player drew into), then the driver.
void release_emote_objects();
// The table slot of image, or -1.
int emote_slot_of(const LayerImage* image);

// Calls of the draw, each with the layer's player (nothing without one).
void emote_set_offset(LayerImage* image, float x, float y);
void emote_set_scale(LayerImage* image, float scale);
void emote_set_rotation(LayerImage* image, float radians);
void advance_emote_time(LayerImage* image, float ms);
void emote_draw(LayerImage* image);

// Command 12's calls, each with the layer's player (nothing without one).
// Texts are code page 932, length bytes, converted to UTF-8 for the call.
// A call of ordinal 236 or 253 (player alone).
void emote_player_call(LayerImage* image, int ordinal);
// A call of ordinal 214, 216 or 218 (player, value).
void emote_player_float(LayerImage* image, int ordinal, float value);
// Timeline name: play 1 calls ordinal 245 (player, name, 1), another value
// ordinal 247 (player, name).
void emote_player_timeline(LayerImage* image, const char* sjis, std::size_t length, int play);
// Ordinal 235 with five values.
void emote_player_five(LayerImage* image, const float values[5]);
// One variable setting of command 12: a name (null or empty ends the list)
// and its value.
struct EmoteVariablePair {
  const char* sjis = nullptr;
  std::size_t length = 0;
  float value = 0.0f;
};
// Ordinal 233 (player, name, value, time, 0) for each pair up to the first
// without a name.
void emote_player_variables(LayerImage* image, const EmoteVariablePair* pairs, int count, float time);

// Code page 932 text of count bytes as UTF-8 in a new NUL-terminated heap
// buffer (std::malloc; the caller frees it). A byte that does not convert
// becomes '?'. Null only when memory runs out.
char* sjis_to_utf8(const char* text, std::size_t count);
