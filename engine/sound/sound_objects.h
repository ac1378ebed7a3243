// Sound objects as scripts see them: create one, load a file into it and
// change any of its settings in one call; delete objects (groups with all
// they hold); read one of an object's properties. Settings arrive as plain
// values by parameter id (the command layer fills them from a script's
// arguments); every change to a sound goes through the sound queue.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct ObjectNode;

// Parameter ids of the control request.
namespace sound_param {
constexpr u32 kName = 0, kEnabled = 1, kFile = 2, kPlay = 3, kPause = 4, kFadeMs = 5, kStartMs = 6,
              kLoopMs = 7, kEndMs = 8, kLoopCount = 9, kVolume = 10, kPan = 11, kRate = 12, kMarker = 13;
}

constexpr u32 kErrSoundGroupWithFile = 101292;
constexpr u32 kErrSoundFileType = 100030;

// Creates (when asked for) and changes the sound object params names: the
// file first (the old sound stopped, the new one loaded before anything
// else), then enabled, start, loop and end positions, loop count, pan,
// rate, marker, volume (a fade target when play is given), play or fade out,
// pause. A missing file ends the request quietly. 0, or -1 after a reported
// error (the sound off: 0, nothing done).
int sound_object_control(const ParamSet& params);

// Deletes the named object: a group's descendants first (each group after
// its own), the group last. Each is stopped, taken out of the tree under the
// engine lock and freed once no pending request names it. 0 (also for a
// missing object), -1 when the name does not form a path.
int sound_object_delete(const char* name);

// The answer of a query: nothing found (the caller stores the empty value of
// its variable's type), a number or a text.
struct SoundAnswer {
  enum Kind : u8 { kMissing, kNumber, kText } kind = kMissing;
  i64 number = 0;
  std::string text;
};
// Query parameters 1-7 (the first given answers) and 8-22 (the last given
// wins), see sound_objects.cpp. 0, or -1 when the name does not form a path.
int sound_object_query(const char* name, const ParamSet& params, SoundAnswer* out);

// The level of one channel at the play cursor (0 left, 1 right; a mono
// sound answers its only channel), as a magnitude; -1 when it cannot be read.
i64 sound_level_at_cursor(ObjectNode* node, int channel);

// Deleted objects whose memory waits for the sound thread to finish a
// request naming them: freed when nothing names them any more (called by
// every delete; all of them, named or not, once the sound thread has ended
// at shut-down). The number still waiting.
u32 sound_free_deleted_objects(int all);
