// The sound thread, its request queue and the records of sound objects.
//
// Producers (start-up and the sound commands) post into the queue under the
// engine lock; the sound thread takes the lock for each whole cycle, runs the
// requests, the fades, the position tracking and the refills, and leaves it
// before it sleeps. A producer that waits for its request polls the entry's
// done flag outside the lock, and stops waiting when the thread is gone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/system_info.h"
#include "engine/frame/window.h"
#include "engine/sound/sound.h"
#include "engine/sound/sound_objects.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/engine_pause.h"
#include "engine/vm/script_files.h"
#include "engine/vm/sysvars.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/sync.h"
#include "platform/ui.h"

u8 g_sound_switch = 1;
u8 g_sound_focus_muted = 0;
u8 g_sound_device_open = 0;
SoundQueue g_sound_queue;
SoundOpcode g_sound_opcodes[15] = {};

namespace {
std::thread g_sound_thread;
bool g_sound_thread_started = false;

void fill_opcodes() {
  SoundOpcode table[15] = {nullptr,
                           sound_load_request,
                           sound_play_request,
                           sound_pause_request,
                           sound_fade_out_request,
                           sound_volume_request,
                           sound_target_volume_request,
                           sound_loop_count_request,
                           sound_end_pos_request,
                           sound_start_pos_request,
                           sound_loop_pos_request,
                           sound_pan_request,
                           sound_frequency_request,
                           sound_exists_request,
                           sound_stop_request};
  for (int i = 0; i < 15; ++i) g_sound_opcodes[i] = table[i];
}

int make_queue() {
  SoundQueue& q = g_sound_queue;
  if (q.node) return 0;
  q.node = new (std::nothrow) ObjectNode*[kSoundQueueSize]();
  q.opcode = new (std::nothrow) u8[kSoundQueueSize]();
  q.text = new (std::nothrow) char*[kSoundQueueSize]();
  q.value = new (std::nothrow) i32[kSoundQueueSize]();
  q.done = new (std::nothrow) std::atomic<i32>[kSoundQueueSize];
  if (!q.node || !q.opcode || !q.text || !q.value || !q.done) return -1;
  for (u32 i = 0; i < kSoundQueueSize; ++i) {
    q.text[i] = new (std::nothrow) char[kSoundTextSize]();
    if (!q.text[i]) return -1;
    q.done[i].store(1);
  }
  q.head = q.tail = 0;
  return 0;
}

ObjectNode* sound_tree_root() { return g_object_roots[kTreeSound]; }

bool is_sound_object(ObjectNode* node) { return node && node->name && sound_record(node); }

// Mute and unmute of the whole tree (focus lost, engine paused).
int mute_all() {
  g_sound_focus_muted = 1;
  ObjectNode* root = sound_tree_root();
  return root ? sound_mute_tree(root->first_child, 1) : 0;
}

int unmute_all() {
  g_sound_focus_muted = 0;
  ObjectNode* root = sound_tree_root();
  return root ? sound_mute_tree(root->first_child, 0) : 0;
}

int focus_mute_step() {
  const int paused = engine_pause_flag();
  const u8 active = g_windows[0] && g_windows[0]->focused ? 1 : 0;
  if (!engine_runs_in_background()) {
    if (paused == 1) return mute_all();
    if (!active && !g_sound_focus_muted) return mute_all();
    if (paused == 0 && active && g_sound_focus_muted) return unmute_all();
    return 0;
  }
  if (paused == 1 && !g_sound_focus_muted) return mute_all();
  if (paused == 0 && g_sound_focus_muted) return unmute_all();
  return 0;
}

void show_sound_error(int code) {
  char text[1024];
  sound_error_text(code, text, sizeof text);
  g_platform.ui->message_box(kNoWindow, text, "DEBUG Message", ui::kMbOk);
}

// Fades of one object.
void fade_node(ObjectNode* node, SoundBuffer* sb) {
  if (sb->state != kSoundFadingIn && sb->state != kSoundFadingOut) return;
  const u32 now = g_platform.clock->now_ms();
  if (sb->suspend_time != 0) {
    // Suspended: the fade's clock stands still.
    sb->fade_start_time += now - sb->suspend_time;
    sb->suspend_time = now != 0 ? now : 1;
    return;
  }
  const i32 since = static_cast<i32>(now - sb->fade_start_time);
  if (sb->state == kSoundFadingIn && since < 0) {
    sound_near_silent(node);
    return;
  }
  i64 v;
  bool ended;
  if (sb->fade_ms <= 0 || since >= sb->fade_ms) {
    v = sb->target;
    ended = true;
  } else {
    v = sb->fade_start + (static_cast<i64>(sb->target) - sb->fade_start) * (since < 0 ? 0 : since) / sb->fade_ms;
    ended = false;
  }
  if (ended) sb->fade_reached = now != 0 ? now : 1;
  if (g_sound_device_open) sound_set_volume(node, static_cast<i32>(v));
  sb->volume = static_cast<i32>(v);
  if (sb->fade_reached != 0) {
    sb->fade_reached = 0;
    if (sb->state == kSoundFadingIn) {
      sb->state = kSoundPlaying;
    } else {
      sb->state = kSoundIdle;
      sb->volume = sb->target = sb->previous_target = 256;
      sb->fade_start = 0;
      sound_release_buffer(sb);
    }
  }
}
}  // namespace

SoundBuffer* sound_record(ObjectNode* node) {
  if (!node || node->payload_kind != kPayloadSoundBuffer) return nullptr;
  return static_cast<SoundBuffer*>(node->payload);
}

SoundBuffer* attach_audio_record(ObjectNode* node) {
  if (!node) return nullptr;
  auto* sb = static_cast<SoundBuffer*>(std::calloc(1, sizeof(SoundBuffer)));
  if (!sb) {
    report_error_code(kErrSoundRecordMemory, 1);
    return nullptr;
  }
  sb->volume = sb->target = sb->previous_target = 256;
  sb->fade_start = 0;
  sb->pan = 256;
  sb->rate = 256;
  sb->enabled = 1;
  node->payload_kind = kPayloadSoundBuffer;
  node->payload = sb;
  g_payload_release[kPayloadSoundBuffer] = free_audio_record;
  return sb;
}

void free_audio_record(void* payload) {
  auto* sb = static_cast<SoundBuffer*>(payload);
  if (!sb) return;
  sound_release_buffer(sb);
  std::free(sb);
}

int attach_root_sound(ObjectNode* s0) { return attach_audio_record(s0) ? 0 : -1; }

i64 sv_sound_on() { return g_sound_switch != 0 ? 1 : 0; }

namespace {

// The machine description's sound devices, as the audio device lists them.
std::vector<SoundDeviceName> sound_device_names(int input) {
  std::vector<SoundDeviceName> out;
  const PlatformAudio* audio = g_platform.audio;
  if (!audio) return out;
  for (const AudioDeviceInfo& d : audio->list_devices(input)) out.push_back(SoundDeviceName{d.name, d.channels});
  return out;
}

const bool kDevicesRegistered = [] {
  g_system_info_sources.sound_device_names = sound_device_names;
  return true;
}();

}  // namespace

// ---- effective values ----
i32 sound_effective_volume(ObjectNode* node) {
  SoundBuffer* sb = sound_record(node);
  if (!sb) return 0;
  i64 v = sb->enabled ? sb->volume : 0;
  if (is_sound_object(node->parent)) v = v * sound_effective_volume(node->parent) >> 8;
  return static_cast<i32>(v);
}

int sound_effectively_enabled(ObjectNode* node) {
  for (ObjectNode* n = node; is_sound_object(n); n = n->parent)
    if (!sound_record(n)->enabled) return 0;
  return 1;
}

int sound_effectively_paused(ObjectNode* node) {
  for (ObjectNode* n = node; is_sound_object(n); n = n->parent)
    if (sound_record(n)->paused) return 1;
  return 0;
}

void sound_near_silent(ObjectNode* node) {
  if (!node) return;
  if (node->is_group) {
    sound_update_tree(node->first_child);
    return;
  }
  if (is_sound_object(node->parent)) {
    sound_apply_volume(node, sound_effective_volume(node->parent) * 2 >> 8);
  } else {
    sound_apply_volume(node, 2);
  }
}

// ---- the queue ----
int sound_post(ObjectNode* node, u8 opcode, i32 value, const char* text) {
  EngineLockGuard lock;
  SoundQueue& q = g_sound_queue;
  if (!q.node) return -1;
  const u32 next = (q.tail + 1) % kSoundQueueSize;
  if (next == q.head) {
    // Full: nothing is written, so no pending entry is lost and nobody waits
    // on an entry that will never run.
    report_error_code(kErrSoundQueueFull, 0);
    return -1;
  }
  const u32 e = q.tail;
  q.node[e] = node;
  q.opcode[e] = opcode;
  q.value[e] = value;
  if (opcode == 1) {
    std::size_t n = text ? std::strlen(text) : 0;
    if (n > kSoundTextSize - 1) n = kSoundTextSize - 1;
    if (n) std::memcpy(q.text[e], text, n);
    q.text[e][n] = 0;
  }
  q.done[e].store(0);
  q.tail = next;
  return static_cast<int>(e);
}

int sound_wait(int entry) {
  if (entry < 0 || entry >= static_cast<int>(kSoundQueueSize)) return 0;
  for (;;) {
    if (g_sound_queue.done[entry].load() != 0) return 1;
    if (g_quit_requested) return 0;
    u8 state;
    {
      EngineLockGuard lock;
      state = g_sound_thread_state;
    }
    // A thread that was started but has not run its first cycle yet is
    // waited for; one that ended (or never started) will not answer.
    if (state == kSoundThreadEnded || (state != kThreadRunning && !g_sound_thread_started)) return 0;
    // The sound thread may be waiting for its error box on this thread.
    if (!wait_for_thread_step()) return 0;
  }
}

int sound_thread_answers() {
  if (g_quit_requested) return 0;
  EngineLockGuard lock;
  const u8 state = g_sound_thread_state;
  return state == kSoundThreadEnded || (state != kThreadRunning && !g_sound_thread_started) ? 0 : 1;
}

int sound_queue_names(const ObjectNode* node) {
  EngineLockGuard lock;
  const SoundQueue& q = g_sound_queue;
  if (!q.node) return 0;
  for (u32 e = q.head; e != q.tail; e = (e + 1) % kSoundQueueSize)
    if (q.node[e] == node) return 1;
  return 0;
}

int sound_drain_queue() {
  SoundQueue& q = g_sound_queue;
  while (q.head != q.tail) {
    const u32 e = q.head;
    int r = 1;
    if (q.node[e]) {
      const u8 op = q.opcode[e];
      r = op >= 1 && op <= 14 && g_sound_opcodes[op] ? g_sound_opcodes[op](e) : 1;
    }
    if (r < 0) return r;
    if (r == 0) return 0;
    q.done[e].store(1);
    q.head = (e + 1) % kSoundQueueSize;
  }
  return 0;
}

void sound_update_fades(ObjectNode* first) {
  for (ObjectNode* n = first; n; n = n->next) {
    if (SoundBuffer* sb = sound_record(n)) fade_node(n, sb);
    if (n->is_group) sound_update_fades(n->first_child);
  }
}

// ---- the thread ----
int sound_cycle() {
  SoundQueue& q = g_sound_queue;
  g_platform.clock->sleep_ms(q.head != q.tail ? 3 : 20);
  EngineLockGuard lock;
  ObjectNode* root = sound_tree_root();
  if (!root) return 0;
  int r = focus_mute_step();
  if (r < 0) return r;
  r = sound_drain_queue();
  if (r < 0) return r;
  sound_update_fades(root->first_child);
  r = update_sound_streams(root->first_child);
  if (r < 0) return r;
  r = sound_refill_streams(root->first_child);
  if (r < 0) return r;
  return g_quit_requested ? 1 : 0;
}

int sound_loop() {
  for (;;) {
    int r = sound_cycle();
    if (r == 1) return 0;
    if (r < 0) {
      show_sound_error(r);
      g_quit_requested = 1;
      mark_run_failed();
      return r;
    }
  }
}

void sound_stop_all() {
  g_platform.clock->sleep_ms(20);
  EngineLockGuard lock;
  // Each record loses its buffer and is left idle: an end by an error skips
  // the cycle that quiets the sounding ones, and a record that still claimed
  // to sound without a buffer would be taken for a lost buffer (error 310) by
  // the walks of a sound thread started later.
  struct Walk {
    static void run(ObjectNode* first) {
      for (ObjectNode* n = first; n; n = n->next) {
        if (SoundBuffer* sb = sound_record(n)) {
          sound_release_buffer(sb);
          sb->state = kSoundIdle;
        }
        if (n->is_group) run(n->first_child);
      }
    }
  };
  if (ObjectNode* root = sound_tree_root()) Walk::run(root->first_child);
}

void sound_thread_main() {
  thread_lower_priority();
  {
    EngineLockGuard lock;
    g_sound_thread_state = kThreadRunning;
  }
  sound_loop();
  sound_stop_all();
  EngineLockGuard lock;
  g_sound_thread_state = kSoundThreadEnded;
}

int start_sound_thread() {
  try {
    g_sound_thread = std::thread(sound_thread_main);
  } catch (...) {
    return -1;
  }
  g_sound_thread_started = true;
  return 0;
}

int start_root_sound() {
  ObjectNode* root = sound_tree_root();
  if (!root) return -1;
  ObjectNode* node = resolve_object_path(root, "ROOT", 0);
  if (!node) node = get_named_object(root, "ROOT", 0, kSoundSilentId);
  if (!node) return -1;
  SoundBuffer* sb = sound_record(node);
  if (!sb) sb = attach_audio_record(node);
  if (!sb) return -1;
  std::memcpy(sb->name, " ", 2);
  sb->codec = kCodecWave;
  sound_post(node, 5, 2, nullptr);
  sound_post(node, 1, 0, " ");
  sound_post(node, 2, 0, nullptr);
  return 0;
}

int start_sound_system() {
  if (make_queue() != 0) {
    report_error_code(kErrSoundRecordMemory, 1);
    return -1;
  }
  fill_opcodes();
  // The root sound's record is made and its requests queued before the
  // thread starts: its first cycle finds them, and no cycle walks the sound
  // tree while the record is being added to it.
  if (g_sound_switch != 0 && start_root_sound() != 0) return -1;
  return start_sound_thread() != 0 ? -1 : 0;
}

int create_direct_sound() {
  u32 mode = g_engine_config.sound_mode;
  g_sound_switch = static_cast<u8>(mode > 2 ? 1 : mode);
  if (g_sound_switch == 0) return 0;
  const u32 r = g_platform.audio->open_device();
  if (r == kAudioOk) {
    g_sound_switch = 1;
    g_sound_device_open = 1;
    return 0;
  }
  const char* text = nullptr;
  switch (r) {
    case kAudioErrAllocated:
      text = "サウンドリソースが使用中でした。他の音楽プレーヤー等、起動、常駐しているソフトがあれば終了させてください。";
      break;
    case kAudioErrNoDriver:
      text = "利用可能なサウンドドライバが存在しませんでした。起動にはサウンド機能が正常に動作している必要があります。";
      break;
    case kAudioErrOutOfMemory: text = "メモリ不足です。"; break;
    case kAudioErrInvalidArg: text = "無効なパラメータです。"; break;
    case kAudioErrNoAggregation: text = "このオブジェクトは集合体をサポートしません。"; break;
    default: break;
  }
  if (text) show_error_box(sjis_message("サウンド初期化エラー"), "%s", sjis_message(text));
  if (g_sound_switch == 2) return -1;
  g_sound_switch = 0;
  return 0;
}

void release_direct_sound() {
  if (g_sound_thread_started) {
    // The thread ends once it sees quit-requested; shut-down waits for it
    // whatever state start-up left it in, so no cycle runs on a closed device.
    g_quit_requested = 1;
    for (;;) {
      u8 state;
      {
        EngineLockGuard lock;
        state = g_sound_thread_state;
      }
      if (state == kSoundThreadEnded) break;
      // A box the sound thread shows meanwhile needs the desktop's events.
      g_platform.ui->process_desktop_events();
      g_platform.clock->sleep_ms(1);
    }
    if (g_sound_thread.joinable()) g_sound_thread.join();
    g_sound_thread_started = false;
  }
  // No request will run any more: deleted objects still named by one go now.
  sound_free_deleted_objects(1);
  if (g_sound_device_open) {
    g_platform.audio->close_device();
    g_sound_device_open = 0;
  }
}

void sound_system_reset_for_tests() {
  SoundQueue& q = g_sound_queue;
  if (q.node)
    for (u32 i = 0; i < kSoundQueueSize; ++i) {
      q.node[i] = nullptr;
      q.done[i].store(1);
    }
  q.head = q.tail = 0;
  g_sound_focus_muted = 0;
  make_queue();
  fill_opcodes();
}

const char* sound_error_text(int code, char* out, u32 size) {
  const char* body;
  bool numbered = true;
  switch (code) {
    case -1: case -310: case -330: case -410: case -430: case -1010:
      body = "サウンドバッファがありませんでした。"; break;
    case -110: case -120: case -440: body = "サウンド再生エラーです。"; break;
    case -320: case -340: case -420: body = "サウンド再生位置取得エラーです。"; break;
    case -1020: body = "ファイルが開けませんでした。"; break;
    case -1030: body = "oggファイルとして正しく認識できませんでした。"; break;
    case -1040: body = "シークできないoggファイルでした。"; break;
    case -1045:
      body = "複数曲連結OGGには対応していません。";
      numbered = false;
      break;
    case -1050: body = "oggファイルの詳細を取得できませんでした。"; break;
    case -1060: case -1080: body = "DirectSoundバッファエラーです。"; break;
    case -1070: case -1090: body = "DirectSoundバッファが確保できませんでした。"; break;
    case -1120: body = "DirectSoundバッファ作成エラーです。"; break;
    case -2020: case -3020: body = "oggファイルをシークできませんでした。"; break;
    case -2010: case -3010: body = "oggファイルを正しく開けませんでした。"; break;
    case -3030: body = "サウンドバッファに書き込みできませんでした。"; break;
    case -3040: body = "サウンドバッファをロックできませんでした。"; break;
    case -90001: case -90002: body = "oggデコードエラーです。"; break;
    default:
      body = "サウンド関係で内部エラーが発生しました。処理を停止します。\n\n"
             "このエラーが発生した場合、宜しければエラー番号と一緒に\n"
             "システム制作者までご報告いただけますと非常に助かります。";
      break;
  }
  // The texts are literals, so each is converted once and kept.
  const char* sjis_body = sjis_message(body);
  if (numbered) {
    std::snprintf(out, size, "%s%d\n\n%s", sjis_message("エラー番号："), -code, sjis_body);
  } else {
    std::snprintf(out, size, "%s", sjis_body);
  }
  return out;
}
