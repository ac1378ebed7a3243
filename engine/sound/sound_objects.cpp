#include "engine/sound/sound_objects.h"

#include <cstring>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/window.h"
#include "engine/sound/sound.h"
#include "engine/sound/sound_control.h"
#include "engine/vm/object_tree.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace {

using namespace sound_param;

// Deleted nodes a pending request still named when they were taken out.
std::vector<ObjectNode*> g_deleted_sounds;

// Waits outside the lock until the object's state is idle; 0 when the wait
// ended because the sound thread will not answer any more.
int wait_until_idle(ObjectNode* node) {
  for (;;) {
    SoundBuffer* sb = sound_record(node);
    {
      EngineLockGuard lock;
      if (!sb || sb->state == kSoundIdle) return 1;
    }
    if (!sound_thread_answers()) return 0;
    if (!wait_for_thread_step()) return 0;
  }
}

// The node of a name: 1 found / 0 missing into *node, -1 when the name does
// not form a path (reported). *group says whether a group was named.
int find_sound(const char* name, ObjectNode** node, int* group, std::string* path) {
  char buf[kObjectPathSize];
  int g = build_object_path(buf, name ? name : "", g_object_base_paths[kTreeSound], 0);
  if (g < 0) return -1;
  *group = g;
  if (path) *path = buf;
  EngineLockGuard lock;
  *node = resolve_object_path(g_object_roots[kTreeSound], buf, g);
  return *node ? 1 : 0;
}

ObjectNode* create_sound(const std::string& path, int group) {
  EngineLockGuard lock;
  ObjectNode* n = get_named_object(g_object_roots[kTreeSound], path.c_str(), group, 1);
  if (!n) return nullptr;
  if (!attach_audio_record(n)) {
    object_detach(n);
    object_subtree_free(n);
    return nullptr;
  }
  return n;
}

// The low 32 bits of a parameter's number, as the sound thread takes them.
i32 low(const ParamSet& p, u32 id) { return static_cast<i32>(static_cast<u32>(p.value(id))); }

int load_file(ObjectNode* node, const char* file) {
  SoundBuffer* sb = sound_record(node);
  i8 state;
  {
    EngineLockGuard lock;
    state = sb->state;
  }
  if (state != kSoundIdle) {
    if (sound_control_stop(node, 0) < 0) return -1;
    if (!wait_until_idle(node)) return -1;
  }
  DataItem item;
  std::string found;
  int r = resolve_media_file(&item, &found, file, kMediaClassSound);
  if (r < 0) return -1;
  if (r != 0) return 1;  // no such file: the request ends here, quietly
  MediaType type = item.entry_type ? static_cast<MediaType>(item.entry_type) : kMediaNone;
  if (type != kMediaWave && type != kMediaOgg) type = media_type_from_extension(found.c_str());
  if (type != kMediaWave && type != kMediaOgg) {
    report_error_at(kErrSoundFileType, 1, found.c_str());
    return -1;
  }
  i32 loops;
  {
    EngineLockGuard lock;
    loops = sb->tracked_loops;
  }
  // The codec is set under the lock before the request is posted.
  int done = sound_control_load(node, found.c_str(), type == kMediaWave ? kCodecWave : kCodecOgg, loops, 1);
  return done == 1 ? 0 : -1;
}

void free_node(ObjectNode* node) {
  node->parent = nullptr;
  object_subtree_free(node);
}

// Stops, detaches and frees one object (its children are gone already).
void delete_one(ObjectNode* node) {
  sound_control_stop(node, 0);
  wait_until_idle(node);
  {
    EngineLockGuard lock;
    object_detach(node);
  }
  if (!sound_queue_names(node)) free_node(node);
  else g_deleted_sounds.push_back(node);
}

void delete_tree(ObjectNode* node) {
  // Children in list order, each group child after its own descendants.
  for (ObjectNode* c = node->first_child; c;) {
    ObjectNode* next = c->next;
    delete_tree(c);
    c = next;
  }
  delete_one(node);
}

}  // namespace

int sound_object_control(const ParamSet& p) {
  if (g_sound_switch == 0) return 0;
  ObjectNode* node = nullptr;
  int group = 0;
  std::string path;
  int found = find_sound(p.text(kName), &node, &group, &path);
  if (found < 0) return -1;
  const bool has_file = p.given(kFile);
  if (!found) {
    if (group && has_file) {
      report_error_code_at(kErrSoundGroupWithFile, 1);
      return -1;
    }
    if (!group && !has_file) return 0;
    node = create_sound(path, group);
    if (!node) return -1;
  }
  if (!sound_record(node)) return 0;  // a node of the tree's own making without a record
  if (has_file) {
    int r = load_file(node, p.text(kFile));
    if (r != 0) return r < 0 ? -1 : 0;
  }
  auto posted = [](int r) { return r >= 0; };
  if (p.given(kEnabled) && !posted(sound_control_enable(node, p.value(kEnabled) != 0, 0))) return -1;
  if (p.given(kStartMs) && !posted(sound_control_start_ms(node, low(p, kStartMs), 0))) return -1;
  if (p.given(kLoopMs) && !posted(sound_control_loop_ms(node, low(p, kLoopMs), 0))) return -1;
  if (p.given(kEndMs) && !posted(sound_control_end_ms(node, low(p, kEndMs), 0))) return -1;
  if (p.given(kLoopCount)) {
    {
      EngineLockGuard lock;
      sound_record(node)->tracked_loops = low(p, kLoopCount);
    }
    if (!posted(sound_control_loop_count(node, low(p, kLoopCount), 0))) return -1;
  }
  if (p.given(kPan) && !posted(sound_control_pan(node, low(p, kPan), 0))) return -1;
  if (p.given(kRate) && !posted(sound_control_rate(node, low(p, kRate), 0))) return -1;
  if (p.given(kMarker) && sound_post(node, 13, low(p, kMarker), nullptr) < 0) return -1;
  if (p.given(kVolume)) {
    int r = p.given(kPlay) ? sound_control_target(node, low(p, kVolume), 0)
                           : sound_control_volume(node, low(p, kVolume), 0);
    if (!posted(r)) return -1;
  }
  const i32 fade = p.given(kFadeMs) ? low(p, kFadeMs) : 0;
  if (p.given(kPlay)) {
    if (p.value(kPlay) == 1) {
      if (sound_control_play(node, fade, 1) != 1) return -1;
    } else if (!posted(sound_control_fade_out(node, fade, 0))) {
      return -1;
    }
  }
  if (p.given(kPause) && sound_control_pause(node, p.value(kPause) == 1 ? 1 : 0, 1) != 1) return -1;
  return 0;
}

u32 sound_free_deleted_objects(int all) {
  std::vector<ObjectNode*> keep;
  for (ObjectNode* n : g_deleted_sounds) {
    if (!all && sound_queue_names(n)) keep.push_back(n);
    else free_node(n);
  }
  g_deleted_sounds.swap(keep);
  return static_cast<u32>(g_deleted_sounds.size());
}

int sound_object_delete(const char* name) {
  sound_free_deleted_objects(0);
  ObjectNode* node = nullptr;
  int group = 0;
  int found = find_sound(name, &node, &group, nullptr);
  if (found <= 0) return found;
  // The first nodes made at start-up stay: the engine holds them by pointer.
  for (ObjectNode* s : g_system_objects)
    if (s == node) return 0;
  delete_tree(node);
  return 0;
}

i64 sound_level_at_cursor(ObjectNode* node, int channel) {
  EngineLockGuard lock;
  SoundBuffer* sb = sound_record(node);
  if (!sb || !sb->buffer) return -1;
  const u16 channels = sb->format.channels, bits = sb->format.bits, align = sb->format.block_align;
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || align == 0) return -1;
  u32 play = 0, write = 0;
  if (g_platform.audio->get_position(sb->buffer, &play, &write) != kAudioOk) return -1;
  void* p1 = nullptr;
  void* p2 = nullptr;
  u32 n1 = 0, n2 = 0;
  if (g_platform.audio->lock(sb->buffer, play, align, &p1, &n1, &p2, &n2) != kAudioOk) return -1;
  i64 level = -1;
  if (n1 >= align && p1) {
    const int index = channels == 2 ? channel : 0;
    if (bits == 16) {
      const u8* b = static_cast<const u8*>(p1) + 2 * index;
      const i16 s = static_cast<i16>(static_cast<u16>(b[0] | (b[1] << 8)));
      level = s < 0 ? -static_cast<i64>(s) : s;
    } else {
      const int s = static_cast<const u8*>(p1)[index] - 128;
      level = s < 0 ? -s : s;
    }
  }
  g_platform.audio->unlock(sb->buffer, p1, n1, p2, n2);
  return level;
}

int sound_object_query(const char* name, const ParamSet& p, SoundAnswer* out) {
  *out = SoundAnswer{};
  ObjectNode* node = nullptr;
  int group = 0;
  int found = find_sound(name, &node, &group, nullptr);
  if (found < 0) return -1;
  if (!found || !sound_record(node)) return 0;
  SoundQuery q;
  sound_control_query(node, &q);
  SoundBuffer snapshot;
  {
    EngineLockGuard lock;
    snapshot = *sound_record(node);
  }
  const SoundBuffer& sb = snapshot;
  auto number = [out](i64 v) {
    out->kind = SoundAnswer::kNumber;
    out->number = v;
    out->text.clear();
  };
  // 1-7: the first given answers.
  const i64 first[8] = {0,
                        sb.codec > 0 ? 1 : 0,
                        sb.enabled,
                        sb.state >= kSoundFadingIn && sb.state <= kSoundFadingOut ? 1 : 0,
                        sb.paused,
                        sb.volume,
                        sb.pan,
                        sb.rate};
  for (u32 id = 1; id <= 7; ++id)
    if (p.given(id)) {
      number(first[id]);
      return 0;
    }
  // Then 9, 8, 10-22: each given one answers in turn, the last wins.
  if (p.given(9)) number(sb.codec);
  if (p.given(8)) {
    out->kind = SoundAnswer::kText;
    out->text.assign(sb.name, strnlen(sb.name, kSoundNameSize));
  }
  const i64 later[13] = {sb.start_ms,
                         sb.loop_ms,
                         sb.end_ms,
                         sb.tracked_loops,
                         sb.loops_done,
                         q.position_ms,  // 0 for an object with no sound loaded (no rate to divide by)
                         sb.length_ms,
                         sb.format.channels,
                         sb.format.bits,
                         sb.format.samples_per_sec,
                         0,
                         0,
                         sb.data_form};
  for (u32 id = 10; id <= 22; ++id) {
    if (!p.given(id)) continue;
    if (id == 20 || id == 21) number(sound_level_at_cursor(node, id == 20 ? 0 : 1));
    else number(later[id - 10]);
  }
  return 0;
}
