// What the sound commands call: each function posts its request to the sound
// thread (under the engine lock) and, when asked, waits for it outside the
// lock. They never touch an audio buffer themselves. A wait ends when the
// request is done, or early when the sound thread has ended or the run is
// ending, so a caller never hangs on a request that will not run.
//
// Results: 1 posted and done (or posted without waiting), 0 posted but the
// wait ended early, -1 not posted (null object, no queue, or a full queue,
// reported as 110200).
#pragma once
#include "engine/frame/types.h"

struct ObjectNode;

// Loads name (Shift-JIS, at most 255 bytes used) with codec 1 (Ogg) or 2
// (WAVE) into the object. tracked_loops is the tracker's loop count (0 =
// endless), written at once.
int sound_control_load(ObjectNode* node, const char* name, u8 codec, i32 tracked_loops, int wait);
int sound_control_play(ObjectNode* node, i32 fade_in_ms, int wait);
int sound_control_stop(ObjectNode* node, int wait);
int sound_control_pause(ObjectNode* node, int paused, int wait);
int sound_control_fade_out(ObjectNode* node, i32 ms, int wait);
// Volume 0-256 at once (target and previous target too).
int sound_control_volume(ObjectNode* node, i32 volume, int wait);
// The volume the next fade-in ends at.
int sound_control_target(ObjectNode* node, i32 volume, int wait);
int sound_control_loop_count(ObjectNode* node, i32 loops, int wait);
int sound_control_end_ms(ObjectNode* node, i32 ms, int wait);
int sound_control_start_ms(ObjectNode* node, i32 ms, int wait);
int sound_control_loop_ms(ObjectNode* node, i32 ms, int wait);
int sound_control_pan(ObjectNode* node, i32 pan, int wait);
int sound_control_rate(ObjectNode* node, i32 rate, int wait);
// Enables (1) or disables (0) an object; its volume is applied again.
int sound_control_enable(ObjectNode* node, int enabled, int wait);

// What the query command reads, under the engine lock.
struct SoundQuery {
  i32 state = 0;       // 0 idle .. 4 fading out
  i32 volume = 0;
  i32 pan = 256;
  i32 rate = 256;
  i64 position_ms = 0;  // played since the start position
  i64 length_ms = 0;
  i32 loops_done = 0;
  i32 paused = 0;
  i32 enabled = 1;
};
// 0 and *out, or -1 when the object has no sound record.
int sound_control_query(ObjectNode* node, SoundQuery* out);
