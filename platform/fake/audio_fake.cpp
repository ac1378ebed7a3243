// The fake audio device: buffers are plain rings whose cursors move with the
// platform clock. What passes the write cursor is kept as "heard", so tests
// can compare what a listener would get with what was decoded.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/platform.h"

struct FakeRing : AudioBuffer {
  AudioFormat format;
  std::uint32_t bytes = 0;
  std::vector<std::uint8_t> ring;
  int playing = 0;
  int looping = 0;
  int released = 0;
  std::int32_t volume = 0;
  std::int32_t pan = 0;
  std::uint32_t frequency = 0;
  // Frames played since the cursor was last placed, and where it was placed.
  std::uint64_t base_frame = 0;   // frame the play cursor stood at when play began
  std::uint32_t play_start_ms = 0;
  std::uint64_t frames_before = 0;  // frames played in earlier play spans
  std::uint64_t heard_frames = 0;   // absolute frame (play-cursor frames + lead) heard up to
  std::vector<std::uint8_t> heard;
  std::string calls;
};

namespace {
std::mutex g_fake_mutex;
std::vector<std::unique_ptr<FakeRing>> g_fake_buffers;
std::vector<std::unique_ptr<FakeRing>> g_kept_buffers;  // unreleased at a reset
std::uint32_t g_fail_open = 0;
std::uint32_t g_fail_create = 0;
int g_open = 0;

std::uint32_t frames_of(const FakeRing* b) { return b->bytes / b->format.block_align; }

std::uint64_t lead_frames(const FakeRing* b) {
  std::uint64_t lead = static_cast<std::uint64_t>(b->frequency) * kFakeAudioWriteLeadMs / 1000;
  if (lead >= frames_of(b)) lead = frames_of(b) - 1;
  return lead;
}

// Frames the play cursor moved since it was placed (absolute, not wrapped).
std::uint64_t played_frames(const FakeRing* b) {
  std::uint64_t f = b->frames_before;
  if (b->playing) {
    std::uint32_t elapsed = g_platform.clock->now_ms() - b->play_start_ms;
    f += static_cast<std::uint64_t>(elapsed) * b->frequency / 1000;
  }
  if (!b->looping) {
    std::uint64_t left = frames_of(b) - b->base_frame;
    if (f >= left) f = left;
  }
  return f;
}

// Appends the bytes that have passed the write cursor since the last call.
void catch_up(FakeRing* b) {
  if (!b->playing) return;
  std::uint64_t played = played_frames(b);
  std::uint64_t upto = played + lead_frames(b);
  if (!b->looping && upto > frames_of(b) - b->base_frame) upto = frames_of(b) - b->base_frame;
  std::uint32_t n = frames_of(b);
  while (b->heard_frames < upto) {
    std::uint32_t at = static_cast<std::uint32_t>((b->base_frame + b->heard_frames) % n);
    std::uint64_t run = n - at;
    if (run > upto - b->heard_frames) run = upto - b->heard_frames;
    const std::uint8_t* p = b->ring.data() + static_cast<std::size_t>(at) * b->format.block_align;
    b->heard.insert(b->heard.end(), p, p + run * b->format.block_align);
    b->heard_frames += run;
  }
  if (!b->looping && played >= frames_of(b) - b->base_frame) {
    b->frames_before = played;
    b->playing = 0;
  }
}

std::uint32_t play_cursor(const FakeRing* b) {
  std::uint64_t f = (b->base_frame + played_frames(b)) % frames_of(b);
  return static_cast<std::uint32_t>(f) * b->format.block_align;
}

// Fixes the cursor where it stands (on stop and on a frequency change).
void settle(FakeRing* b) {
  catch_up(b);
  if (b->playing) {
    b->frames_before = played_frames(b);
    b->play_start_ms = g_platform.clock->now_ms();
  }
}

void place_cursor(FakeRing* b, std::uint32_t frame) {
  b->base_frame = frame;
  b->frames_before = 0;
  b->heard_frames = 0;
  b->play_start_ms = g_platform.clock->now_ms();
}

std::uint32_t fake_open() {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (g_fail_open != 0) {
    std::uint32_t r = g_fail_open;
    g_fail_open = 0;
    return r;
  }
  g_open = 1;
  return kAudioOk;
}

void fake_close() {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  for (auto& b : g_fake_buffers) {
    if (!b->released) {
      catch_up(b.get());
      b->playing = 0;
      b->released = 1;
    }
  }
  g_open = 0;
}

bool format_ok(const AudioFormat* f, std::uint32_t bytes) {
  if (!f) return false;
  if (f->bits != 8 && f->bits != 16) return false;
  if (f->channels < 1 || f->channels > 2) return false;
  if (f->block_align != f->channels * f->bits / 8) return false;
  if (f->samples_per_sec < kAudioFrequencyMin || f->samples_per_sec > kAudioFrequencyMax) return false;
  return bytes >= f->block_align && bytes % f->block_align == 0;
}

std::uint32_t fake_create(const AudioFormat* format, std::uint32_t bytes, AudioBuffer** out) {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  *out = nullptr;
  if (g_fail_create != 0) {
    std::uint32_t r = g_fail_create;
    g_fail_create = 0;
    return r;
  }
  if (!g_open) return kAudioErrAllocated;
  if (!format_ok(format, bytes)) return kAudioErrInvalidArg;
  auto b = std::make_unique<FakeRing>();
  b->format = *format;
  b->bytes = bytes;
  b->ring.assign(bytes, format->bits == 8 ? 0x80 : 0);
  b->frequency = format->samples_per_sec;
  *out = b.get();
  g_fake_buffers.push_back(std::move(b));
  return kAudioOk;
}

void fake_release(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab);
  if (!b) return;
  std::lock_guard<std::mutex> g(g_fake_mutex);
  catch_up(b);
  b->playing = 0;
  b->released = 1;
  b->calls += 'r';
}

std::uint32_t fake_play(AudioBuffer* ab, int looping) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  b->calls += 'p';
  if (b->playing) {
    catch_up(b);
    b->looping = looping;
    return kAudioOk;
  }
  place_cursor(b, play_cursor(b) / b->format.block_align);
  b->looping = looping;
  b->playing = 1;
  return kAudioOk;
}

std::uint32_t fake_stop(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  b->calls += 's';
  settle(b);
  if (b->playing) {
    std::uint32_t at = play_cursor(b);
    b->playing = 0;
    place_cursor(b, at / b->format.block_align);
  }
  return kAudioOk;
}

std::uint32_t fake_get_position(AudioBuffer* ab, std::uint32_t* play, std::uint32_t* write) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  catch_up(b);
  std::uint32_t p = play_cursor(b);
  std::uint32_t w = p;
  if (b->playing) w = static_cast<std::uint32_t>((p / b->format.block_align + lead_frames(b)) % frames_of(b)) *
                      b->format.block_align;
  if (play) *play = p;
  if (write) *write = w;
  return kAudioOk;
}

std::uint32_t fake_set_position(AudioBuffer* ab, std::uint32_t at) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (at >= b->bytes) return kAudioErrInvalidArg;
  catch_up(b);
  place_cursor(b, at / b->format.block_align);
  return kAudioOk;
}

std::uint32_t fake_lock(AudioBuffer* ab, std::uint32_t offset, std::uint32_t bytes, void** p1, std::uint32_t* n1,
                        void** p2, std::uint32_t* n2) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (offset >= b->bytes || bytes == 0 || bytes > b->bytes) return kAudioErrInvalidArg;
  catch_up(b);  // what was committed before the lock is heard as it was
  b->calls += 'l';
  std::uint32_t first = b->bytes - offset;
  if (first > bytes) first = bytes;
  *p1 = b->ring.data() + offset;
  *n1 = first;
  if (p2) *p2 = first < bytes ? b->ring.data() : nullptr;
  if (n2) *n2 = bytes - first;
  return kAudioOk;
}

std::uint32_t fake_unlock(AudioBuffer*, void*, std::uint32_t, void*, std::uint32_t) { return kAudioOk; }

std::uint32_t fake_set_volume(AudioBuffer* ab, std::int32_t v) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (v < kAudioVolumeMin || v > kAudioVolumeMax) return kAudioErrInvalidArg;
  b->volume = v;
  b->calls += 'v';
  return kAudioOk;
}

std::uint32_t fake_set_pan(AudioBuffer* ab, std::int32_t p) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (p < kAudioPanLeft || p > kAudioPanRight) return kAudioErrInvalidArg;
  b->pan = p;
  b->calls += 'n';
  return kAudioOk;
}

std::uint32_t fake_set_frequency(AudioBuffer* ab, std::uint32_t f) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  if (f < kAudioFrequencyMin || f > kAudioFrequencyMax) return kAudioErrInvalidArg;
  settle(b);
  b->frequency = f;
  b->calls += 'f';
  return kAudioOk;
}

std::int32_t fake_get_volume(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab); return b->volume; }
std::int32_t fake_get_pan(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab); return b->pan; }
std::uint32_t fake_get_frequency(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab); return b->frequency; }
int fake_is_playing(AudioBuffer* ab) {
  auto* b = static_cast<FakeRing*>(ab);
  std::lock_guard<std::mutex> g(g_fake_mutex);
  catch_up(b);
  return b->playing;
}
// One stereo output and one mono input, like a plain sound card.
std::vector<AudioDeviceInfo> fake_list_devices(int input) {
  if (input) return {AudioDeviceInfo{"Fake microphone", 1}};
  return {AudioDeviceInfo{"Fake speakers", 2}};
}

}  // namespace

const PlatformAudio kFakeAudio = {fake_open,         fake_close,      fake_create,       fake_release,
                                  fake_play,         fake_stop,       fake_get_position, fake_set_position,
                                  fake_lock,         fake_unlock,     fake_set_volume,   fake_set_pan,
                                  fake_set_frequency, fake_get_volume, fake_get_pan,      fake_get_frequency,
                                  fake_is_playing, fake_list_devices};

void fake_audio_fail_open(std::uint32_t result) {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  g_fail_open = result;
}

void fake_audio_fail_create(std::uint32_t result) {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  g_fail_create = result;
}

int fake_audio_buffer_count() {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  return static_cast<int>(g_fake_buffers.size());
}

FakeAudioRecord fake_audio_record(int i) {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  FakeAudioRecord r;
  if (i < 0 || i >= static_cast<int>(g_fake_buffers.size())) return r;
  FakeRing* b = g_fake_buffers[i].get();
  if (!b->released) catch_up(b);
  r.format = b->format;
  r.bytes = b->bytes;
  r.released = b->released;
  r.heard = b->heard.data();
  r.heard_size = b->heard.size();
  r.volume = b->volume;
  r.pan = b->pan;
  r.frequency = b->frequency;
  r.playing = b->playing;
  r.calls = b->calls.c_str();
  return r;
}

void fake_audio_reset() {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  // Buffers still held by someone stay alive, only out of the records.
  for (auto& b : g_fake_buffers)
    if (!b->released) g_kept_buffers.push_back(std::move(b));
  g_fake_buffers.clear();
  g_fail_open = g_fail_create = 0;
}

int fake_audio_device_open() {
  std::lock_guard<std::mutex> g(g_fake_mutex);
  return g_open;
}
