// The sound system: one sound thread that owns every audio buffer, the
// request queue the script thread posts into, and the record of each sound
// object (the payload of a node of the sound tree).
//
// Everything below runs on the sound thread under the engine lock unless it
// says otherwise. Results: negative codes are the sound thread's own error
// numbers (the box shows the number without its sign); they end the thread.
#pragma once
#include <atomic>

#include "engine/frame/types.h"
#include "platform/audio.h"

struct ObjectNode;

// ---- global state ----
// 0 = sound off, 1 = on, 2 = required (before the device is opened); 1 or 0
// after create_direct_sound.
extern u8 g_sound_switch;
// -1 before the thread runs, 0 while it runs, 1 after it ended (engine lock).
// Kept in g_sound_thread_state of the engine state; these name its values.
// 1 while the sound thread holds all sound muted (pause or lost focus).
extern u8 g_sound_focus_muted;
// 1 once the audio device is open (the system's DirectSound object).
extern u8 g_sound_device_open;

constexpr i64 kSoundSilentId = 999999999;  // SOUND_SILENT_ID: the generated silent sound
constexpr u32 kSoundNameSize = 261;
constexpr u32 kSoundTextSize = 256;
constexpr u32 kSoundQueueSize = 1024;

// Numbers of the sound system's reported errors.
constexpr u32 kErrSoundRecordMemory = 100010;
constexpr u32 kErrSoundCooperative = 110010;
constexpr u32 kErrSoundQueueFull = 110200;

enum SoundCodec : u8 { kCodecNone = 0, kCodecOgg = 1, kCodecWave = 2 };
enum SoundDataForm : u8 { kFormPcmImage = 0, kFormOgg = 1, kFormConverted = 2 };
enum SoundState : i8 { kSoundIdle = 0, kSoundLoaded = 1, kSoundFadingIn = 2, kSoundPlaying = 3, kSoundFadingOut = 4 };

// The format of the audio buffer (always PCM).
struct SoundPcmFormat {
  u16 format_tag = 1;
  u16 channels = 0;
  u32 samples_per_sec = 0;
  u32 avg_bytes_per_sec = 0;
  u16 block_align = 0;
  u16 bits = 0;
};

struct SoundBuffer {
  char name[kSoundNameSize];
  u8 codec;
  u8 enabled;
  u8 data_form;
  i8 state;
  u8 paused;
  i32 tracked_loops;
  i32 loops_done;
  i32 decoder_loops;
  i64 position;
  i64 length_ms;
  i32 start_ms;
  i32 loop_ms;
  u32 suspend_time;
  i32 end_ms;
  i32 pending_loop_ms;
  i32 pending_end_ms;
  i32 pan;
  i32 rate;
  i32 volume;
  i32 fade_start;
  i32 target;
  i32 previous_target;
  i32 fade_ms;
  i32 fade_rate;
  u32 fade_start_time;
  u32 fade_reached;
  u8* data;
  u8* half_buffer;
  u8* carry;
  u32 write_offset;
  u32 last_cursor;
  i32 source_pos;
  u8 last_half;
  i64 stream_pos;
  i32 carried;
  i64 silence_left;
  i64 bytes_per_sec;
  AudioBuffer* buffer;
  u32 read_pos;
  u32 data_size;
  u8* pcm;
  u32 pcm_size;
  u32 buffer_bytes;
  SoundPcmFormat format;
  // The Ogg decoder (an OggVorbis_File) the stream keeps while it plays on
  // in the same file, or null; opened by the first open, seek or refill that
  // needs it, closed with the buffer or the file.
  void* ogg_decoder;
};

// ---- the queue ----
struct SoundQueue {
  ObjectNode** node = nullptr;
  u8* opcode = nullptr;
  char** text = nullptr;
  i32* value = nullptr;
  std::atomic<i32>* done = nullptr;
  u32 head = 0;  // moved by the sound thread only
  u32 tail = 0;  // moved by producers only
};
extern SoundQueue g_sound_queue;

using SoundOpcode = int (*)(u32 entry);
extern SoundOpcode g_sound_opcodes[15];  // 1..14

// Posts one request under the engine lock: the entry's index, or -1 after
// reporting 110200 (queue full: nothing was written) or when the queue does
// not exist. For opcode 1 text is the file name (cut to 255 bytes).
int sound_post(ObjectNode* node, u8 opcode, i32 value, const char* text);
// Waits (outside the lock) until the entry is done. Gives up when the sound
// thread is not running or quit is requested. 1 done, 0 given up.
int sound_wait(int entry);

// 1 while the sound thread runs (or was started and has not run its first
// cycle yet) and quit is not requested: a wait for it can end.
int sound_thread_answers();
// 1 when a request not yet carried out names node (engine lock taken).
int sound_queue_names(const ObjectNode* node);

// ---- set-up and the thread ----
// Makes the record of a node (100010 fatal on no memory); null for a null node.
SoundBuffer* attach_audio_record(ObjectNode* node);
// Frees a record and everything it holds (the tree's payload release).
void free_audio_record(void* payload);
int start_sound_system();
// Opens the device as the sound switch says (start-up): 0, or -1 when a
// required device failed.
int create_direct_sound();
int start_sound_thread();
int start_root_sound();
// Waits for the sound thread to end (when it was started), then closes the device.
void release_direct_sound();
// One cycle of the sound loop (its sleep included): 0 go on, 1 quit seen,
// negative an error code (the box is the caller's).
int sound_cycle();
int sound_loop();
void sound_thread_main();
int sound_drain_queue();
void sound_update_fades(ObjectNode* first);
// The sound thread's end: every record's buffer released, every record idle.
void sound_stop_all();
// The "DEBUG Message" text of an error code (Shift-JIS).
const char* sound_error_text(int code, char* out, u32 size);
// The effective volume of an object (its own enabled flag counted).
i32 sound_effective_volume(ObjectNode* node);
int sound_effectively_enabled(ObjectNode* node);
int sound_effectively_paused(ObjectNode* node);
void sound_near_silent(ObjectNode* node);
// Tests: forgets the queue and the thread state (the queue must be idle).
void sound_system_reset_for_tests();

// ---- playback ----
int sound_load(SoundBuffer* sb, i64 order_key);
int sound_open_stream(SoundBuffer* sb);
int ogg_open(SoundBuffer* sb);
int wave_open(SoundBuffer* sb);
int create_sound_buffer(SoundBuffer* sb, u16 channels, u32 samples_per_sec, u32 avg_bytes, u16 block_align,
                        u16 bits);
int sound_seek_ms(SoundBuffer* sb, i32 ms);
int sound_refill(SoundBuffer* sb);
int sound_write_half(SoundBuffer* sb, u32 offset);
int sound_refill_streams(ObjectNode* first);
int update_sound_streams(ObjectNode* first);
void sound_apply_volume(ObjectNode* node, i32 v);
void sound_set_volume(ObjectNode* node, i32 v);
void sound_update_tree(ObjectNode* first);
void sound_apply_pan(SoundBuffer* sb, i32 p);
void sound_apply_rate(SoundBuffer* sb, i32 r);
int sound_mute_tree(ObjectNode* first, int value);
int sound_mute_node(ObjectNode* node, int value);
int sound_suspend(ObjectNode* node);
int sound_resume(ObjectNode* node);
int stop_sound_buffer(SoundBuffer* sb);
void sound_release_buffer(SoundBuffer* sb);
// Closes the stream's kept Ogg decoder (the next seek or refill opens one
// again and seeks to the stream position).
void sound_close_decoder(SoundBuffer* sb);
void sound_release_device_buffer(SoundBuffer* sb);
// Volume in hundredths of a decibel for the 0-256 scale; pan likewise for 0-512.
i32 sound_volume_hundredths(i32 v);
i32 sound_pan_hundredths(i32 p);
u32 sound_rate_frequency(u32 f, i32 r);
// The generated silent sound (4044 bytes).
constexpr u32 kSilentSoundSize = 4044;
void make_silent_sound(u8 out[kSilentSoundSize]);

// The payload of a node when it is a sound record, else null.
SoundBuffer* sound_record(ObjectNode* node);

// The opcodes' handlers.
int sound_load_request(u32 e);
int sound_play_request(u32 e);
int sound_pause_request(u32 e);
int sound_fade_out_request(u32 e);
int sound_volume_request(u32 e);
int sound_target_volume_request(u32 e);
int sound_loop_count_request(u32 e);
int sound_end_pos_request(u32 e);
int sound_start_pos_request(u32 e);
int sound_loop_pos_request(u32 e);
int sound_pan_request(u32 e);
int sound_frequency_request(u32 e);
int sound_exists_request(u32 e);
int sound_stop_request(u32 e);
