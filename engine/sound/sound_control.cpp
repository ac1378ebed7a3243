#include "engine/sound/sound_control.h"

#include "engine/sound/sound.h"
#include "engine/vm/object_tree.h"
#include "platform/sync.h"

namespace {
int post_and_wait(ObjectNode* node, u8 opcode, i32 value, const char* text, int wait) {
  if (!node || !sound_record(node)) return -1;
  int e = sound_post(node, opcode, value, text);
  if (e < 0) return -1;
  if (!wait) return 1;
  return sound_wait(e);
}
}  // namespace

int sound_control_load(ObjectNode* node, const char* name, u8 codec, i32 tracked_loops, int wait) {
  SoundBuffer* sb = sound_record(node);
  if (!sb) return -1;
  {
    EngineLockGuard lock;
    sb->codec = codec;
    sb->tracked_loops = tracked_loops;
    sb->loops_done = 0;
  }
  return post_and_wait(node, 1, 0, name ? name : "", wait);
}

int sound_control_play(ObjectNode* node, i32 ms, int wait) { return post_and_wait(node, 2, ms, nullptr, wait); }
int sound_control_stop(ObjectNode* node, int wait) { return post_and_wait(node, 14, 0, nullptr, wait); }
int sound_control_pause(ObjectNode* node, int paused, int wait) {
  return post_and_wait(node, 3, paused, nullptr, wait);
}
int sound_control_fade_out(ObjectNode* node, i32 ms, int wait) { return post_and_wait(node, 4, ms, nullptr, wait); }
int sound_control_volume(ObjectNode* node, i32 v, int wait) { return post_and_wait(node, 5, v, nullptr, wait); }
int sound_control_target(ObjectNode* node, i32 v, int wait) { return post_and_wait(node, 6, v, nullptr, wait); }
int sound_control_loop_count(ObjectNode* node, i32 n, int wait) { return post_and_wait(node, 7, n, nullptr, wait); }
int sound_control_end_ms(ObjectNode* node, i32 ms, int wait) { return post_and_wait(node, 8, ms, nullptr, wait); }
int sound_control_start_ms(ObjectNode* node, i32 ms, int wait) { return post_and_wait(node, 9, ms, nullptr, wait); }
int sound_control_loop_ms(ObjectNode* node, i32 ms, int wait) { return post_and_wait(node, 10, ms, nullptr, wait); }
int sound_control_pan(ObjectNode* node, i32 p, int wait) { return post_and_wait(node, 11, p, nullptr, wait); }
int sound_control_rate(ObjectNode* node, i32 r, int wait) { return post_and_wait(node, 12, r, nullptr, wait); }

int sound_control_enable(ObjectNode* node, int enabled, int wait) {
  SoundBuffer* sb = sound_record(node);
  if (!sb) return -1;
  i32 volume;
  {
    EngineLockGuard lock;
    sb->enabled = enabled ? 1 : 0;
    volume = sb->volume;
  }
  // The volume request applies the product again on the sound thread.
  return post_and_wait(node, 5, volume, nullptr, wait);
}

int sound_control_query(ObjectNode* node, SoundQuery* out) {
  EngineLockGuard lock;
  SoundBuffer* sb = sound_record(node);
  if (!sb) return -1;
  out->state = sb->state;
  out->volume = sb->volume;
  out->pan = sb->pan;
  out->rate = sb->rate;
  out->position_ms = sb->bytes_per_sec > 0 ? sb->position * 1000 / sb->bytes_per_sec : 0;
  out->length_ms = sb->length_ms;
  out->loops_done = sb->loops_done;
  out->paused = sb->paused;
  out->enabled = sb->enabled;
  return 0;
}
