// The real audio device on SDL2: one output device (44100 Hz, signed 16-bit
// stereo, 1024-frame periods) whose callback mixes every playing ring.
//
// Each ring is resampled to the device rate by linear interpolation, scaled
// by its gain (10^(dB/2000) from hundredths of a decibel) and its pan (the
// far side attenuated only), and summed in 32 bits, then clipped. The
// callback reads a buffer's settings and moves its read position through
// atomics, so locking a ring or changing a setting never waits for the
// mixer; SDL's device lock guards only the table of buffers.
#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/audio.h"

struct SdlRing : AudioBuffer {
  AudioFormat format;
  std::uint32_t bytes = 0;
  std::uint32_t frames = 0;
  std::uint8_t* ring = nullptr;
  std::atomic<int> playing{0};
  std::atomic<int> looping{0};
  // Read position in frames, 32.32 fixed point, below frames << 32.
  std::atomic<std::uint64_t> position{0};
  // Where the last play began, and how far the mixer has read since (not
  // wrapped), so the play cursor never runs back before the start.
  std::atomic<std::uint64_t> start_position{0};
  std::atomic<std::uint64_t> advanced{0};
  std::atomic<std::uint32_t> frequency{0};
  std::atomic<std::int32_t> volume{0};
  std::atomic<std::int32_t> pan{0};
  // Gains in 1/65536, derived from volume and pan.
  std::atomic<std::int32_t> gain_left{65536};
  std::atomic<std::int32_t> gain_right{65536};
};

namespace {
constexpr int kPeriodFrames = 1024;

SDL_AudioDeviceID g_device = 0;
int g_subsystem_started = 0;
std::vector<AudioBuffer*> g_table;  // guarded by SDL_LockAudioDevice
std::vector<std::int32_t> g_sums;   // the callback's own

std::int32_t db_gain(std::int32_t hundredths) {
  if (hundredths <= kAudioVolumeMin) return 0;
  return static_cast<std::int32_t>(std::lround(std::pow(10.0, hundredths / 2000.0) * 65536.0));
}

void update_gains(SdlRing* b) {
  std::int32_t g = db_gain(b->volume.load());
  std::int32_t p = b->pan.load();
  std::int64_t left = g, right = g;
  if (p > 0) left = static_cast<std::int64_t>(g) * db_gain(-p) >> 16;
  if (p < 0) right = static_cast<std::int64_t>(g) * db_gain(p) >> 16;
  b->gain_left.store(static_cast<std::int32_t>(left));
  b->gain_right.store(static_cast<std::int32_t>(right));
}

// The frame f of a ring of the given sample form as left and right.
template <bool k16, bool kStereo>
inline void sample_at(const std::uint8_t* ring, std::uint32_t f, std::int32_t* l, std::int32_t* r) {
  constexpr std::size_t kAlign = (k16 ? 2 : 1) * (kStereo ? 2 : 1);
  const std::uint8_t* p = ring + static_cast<std::size_t>(f) * kAlign;
  if (k16) {
    std::int16_t s[2] = {0, 0};
    std::memcpy(s, p, kStereo ? 4 : 2);
    *l = s[0];
    *r = kStereo ? s[1] : s[0];
  } else {
    *l = (static_cast<std::int32_t>(p[0]) - 128) << 8;
    *r = kStereo ? (static_cast<std::int32_t>(p[1]) - 128) << 8 : *l;
  }
}

// Adds up to `frames` frames of the ring from pos (32.32 frames) into out,
// interpolating between neighbouring frames. Returns the frames mixed; sets
// *ended when a ring that does not loop reached its end (pos then stays at
// its last frame).
template <bool k16, bool kStereo>
int mix_frames(const SdlRing* b, std::int32_t* out, int frames, std::uint64_t* position, std::uint64_t step,
               std::int64_t gl, std::int64_t gr, bool looping, bool* ended) {
  const std::uint32_t count = b->frames;
  const std::uint64_t end = static_cast<std::uint64_t>(count) << 32;
  const std::uint8_t* ring = b->ring;
  std::uint64_t pos = *position;
  // At the device's own rate from a whole frame, every read falls on a
  // frame: its neighbour adds nothing.
  const bool whole = step == (1ull << 32) && ((pos >> 16) & 0xFFFF) == 0;
  int i = 0;
  // The frames whose neighbour is the next frame of the ring and after which
  // the position stays inside it: no wrap to look for.
  const std::uint64_t last = static_cast<std::uint64_t>(count - 1) << 32;
  const std::uint64_t limit = step > (1ull << 32) ? (end > step ? end - step : 0) : last;
  if (step > 0 && count > 1 && pos < limit) {
    const std::uint64_t inside = (limit - pos + step - 1) / step;  // frames read before pos reaches limit
    const int run = static_cast<int>(std::min<std::uint64_t>(inside, static_cast<std::uint64_t>(frames)));
    if (whole) {
      for (; i < run; ++i) {
        std::int32_t l0, r0;
        sample_at<k16, kStereo>(ring, static_cast<std::uint32_t>(pos >> 32), &l0, &r0);
        out[2 * i] += static_cast<std::int32_t>((l0 * gl) >> 16);
        out[2 * i + 1] += static_cast<std::int32_t>((r0 * gr) >> 16);
        pos += step;
      }
    } else {
      for (; i < run; ++i) {
        const std::uint32_t f = static_cast<std::uint32_t>(pos >> 32);
        std::int32_t l0, r0, l1, r1;
        sample_at<k16, kStereo>(ring, f, &l0, &r0);
        sample_at<k16, kStereo>(ring, f + 1, &l1, &r1);
        const std::int64_t frac = static_cast<std::int64_t>((pos >> 16) & 0xFFFF);
        const std::int64_t l = l0 + (((l1 - l0) * frac) >> 16);
        const std::int64_t r = r0 + (((r1 - r0) * frac) >> 16);
        out[2 * i] += static_cast<std::int32_t>((l * gl) >> 16);
        out[2 * i + 1] += static_cast<std::int32_t>((r * gr) >> 16);
        pos += step;
      }
    }
  }
  for (; i < frames; ++i) {
    const std::uint32_t f = static_cast<std::uint32_t>(pos >> 32);
    std::int32_t l0, r0;
    sample_at<k16, kStereo>(ring, f, &l0, &r0);
    std::int64_t l = l0, r = r0;
    if (!whole) {
      std::uint32_t next = f + 1;
      if (next >= count) next = looping ? 0 : f;
      std::int32_t l1, r1;
      sample_at<k16, kStereo>(ring, next, &l1, &r1);
      const std::int64_t frac = static_cast<std::int64_t>((pos >> 16) & 0xFFFF);
      l = l0 + (((l1 - l0) * frac) >> 16);
      r = r0 + (((r1 - r0) * frac) >> 16);
    }
    out[2 * i] += static_cast<std::int32_t>((l * gl) >> 16);
    out[2 * i + 1] += static_cast<std::int32_t>((r * gr) >> 16);
    pos += step;
    if (pos >= end) {
      if (!looping) {
        *position = end - (1ull << 32);
        *ended = true;
        return i + 1;
      }
      pos -= end;
    }
  }
  *position = pos;
  return frames;
}

void mix_one(SdlRing* b, std::int32_t* out, int frames) {
  if (!b->playing.load(std::memory_order_acquire)) return;
  const std::uint64_t step = (static_cast<std::uint64_t>(b->frequency.load()) << 32) / kSdlMixRate;
  const std::int64_t gl = b->gain_left.load();
  const std::int64_t gr = b->gain_right.load();
  const bool looping = b->looping.load() != 0;
  std::uint64_t pos = b->position.load(std::memory_order_relaxed);
  bool ended = false;
  const bool stereo = b->format.channels == 2;
  int done;
  if (b->format.bits == 16) {
    done = stereo ? mix_frames<true, true>(b, out, frames, &pos, step, gl, gr, looping, &ended)
                  : mix_frames<true, false>(b, out, frames, &pos, step, gl, gr, looping, &ended);
  } else {
    done = stereo ? mix_frames<false, true>(b, out, frames, &pos, step, gl, gr, looping, &ended)
                  : mix_frames<false, false>(b, out, frames, &pos, step, gl, gr, looping, &ended);
  }
  b->position.store(pos, std::memory_order_relaxed);
  b->advanced.fetch_add(step * static_cast<std::uint64_t>(done), std::memory_order_relaxed);
  if (ended) b->playing.store(0);
}

void SDLCALL mix_callback(void*, Uint8* stream, int len) {
  int frames = len / 4;
  if (static_cast<int>(g_sums.size()) < frames * 2) g_sums.resize(frames * 2);
  std::memset(g_sums.data(), 0, sizeof(std::int32_t) * frames * 2);
  sdl_audio_mix_buffers(g_table.data(), static_cast<int>(g_table.size()), g_sums.data(), frames);
  sdl_audio_clip(g_sums.data(), reinterpret_cast<std::int16_t*>(stream), frames * 2);
}

std::uint32_t sdl_open() {
  if (g_device != 0) return kAudioOk;
  if (!g_subsystem_started) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return kAudioErrNoDriver;
    g_subsystem_started = 1;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(kSdlMixRate);
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = kPeriodFrames;
  want.callback = mix_callback;
  SDL_AudioSpec have{};
  g_sums.assign(kPeriodFrames * 2 * 4, 0);
  g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (g_device == 0) {
    const char* err = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_subsystem_started = 0;
    if (err && std::strstr(err, "emory")) return kAudioErrOutOfMemory;
    return kAudioErrAllocated;
  }
  SDL_PauseAudioDevice(g_device, 0);
  return kAudioOk;
}

void sdl_close() {
  if (g_device != 0) {
    SDL_CloseAudioDevice(g_device);  // the callback has ended when this returns
    g_device = 0;
  }
  for (AudioBuffer* ab : g_table) {
    auto* b = static_cast<SdlRing*>(ab);
    std::free(b->ring);
    delete b;
  }
  g_table.clear();
  if (g_subsystem_started) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_subsystem_started = 0;
  }
}

bool format_ok(const AudioFormat* f, std::uint32_t bytes) {
  if (!f) return false;
  if (f->bits != 8 && f->bits != 16) return false;
  if (f->channels < 1 || f->channels > 2) return false;
  if (f->block_align != f->channels * f->bits / 8) return false;
  if (f->samples_per_sec < kAudioFrequencyMin || f->samples_per_sec > kAudioFrequencyMax) return false;
  return bytes >= f->block_align && bytes % f->block_align == 0;
}

std::uint32_t sdl_create(const AudioFormat* format, std::uint32_t bytes, AudioBuffer** out) {
  *out = nullptr;
  if (g_device == 0) return kAudioErrAllocated;
  if (!format_ok(format, bytes)) return kAudioErrInvalidArg;
  SdlRing* b = new (std::nothrow) SdlRing;
  if (!b) return kAudioErrOutOfMemory;
  b->ring = static_cast<std::uint8_t*>(std::malloc(bytes));
  if (!b->ring) {
    delete b;
    return kAudioErrOutOfMemory;
  }
  std::memset(b->ring, format->bits == 8 ? 0x80 : 0, bytes);
  b->format = *format;
  b->bytes = bytes;
  b->frames = bytes / format->block_align;
  b->frequency = format->samples_per_sec;
  update_gains(b);
  SDL_LockAudioDevice(g_device);
  g_table.push_back(b);
  SDL_UnlockAudioDevice(g_device);
  *out = b;
  return kAudioOk;
}

void sdl_release(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab);
  if (!b) return;
  if (g_device != 0) SDL_LockAudioDevice(g_device);
  for (std::size_t i = 0; i < g_table.size(); ++i) {
    if (g_table[i] == b) {
      g_table.erase(g_table.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  if (g_device != 0) SDL_UnlockAudioDevice(g_device);
  std::free(b->ring);
  delete b;
}

std::uint32_t sdl_play(AudioBuffer* ab, int looping) {
  auto* b = static_cast<SdlRing*>(ab);
  b->looping.store(looping ? 1 : 0);
  if (!b->playing.load()) {
    b->start_position.store(b->position.load());
    b->advanced.store(0);
  }
  b->playing.store(1, std::memory_order_release);
  return kAudioOk;
}

// What SDL's own buffer holds, in frames of the ring at its frequency.
std::uint64_t held_fixed(const SdlRing* b) {
  return (static_cast<std::uint64_t>(b->frequency.load()) << 32) / kSdlMixRate * kPeriodFrames;
}

// Play cursor as 32.32 frames: it trails the mixer by what SDL's buffer
// holds, but never runs back before the point the play began.
std::uint64_t play_fixed(const SdlRing* b) {
  std::uint64_t pos = b->position.load(std::memory_order_relaxed);
  if (!b->playing.load()) return pos;
  std::uint64_t end = static_cast<std::uint64_t>(b->frames) << 32;
  std::uint64_t adv = b->advanced.load(std::memory_order_relaxed);
  std::uint64_t held = held_fixed(b);
  std::uint64_t heard = adv > held ? adv - held : 0;
  return (b->start_position.load() + heard % end) % end;
}

std::uint32_t sdl_get_position(AudioBuffer* ab, std::uint32_t* play, std::uint32_t* write) {
  auto* b = static_cast<SdlRing*>(ab);
  std::uint32_t w = static_cast<std::uint32_t>(b->position.load(std::memory_order_relaxed) >> 32);
  if (play) *play = static_cast<std::uint32_t>(play_fixed(b) >> 32) * b->format.block_align;
  if (write) *write = w * b->format.block_align;
  return kAudioOk;
}

std::uint32_t sdl_stop(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab);
  if (!b->playing.load()) return kAudioOk;
  std::uint64_t at = play_fixed(b) >> 32;
  b->playing.store(0);
  // The cursor stays where the listener was.
  if (g_device != 0) SDL_LockAudioDevice(g_device);
  b->position.store(at << 32);
  if (g_device != 0) SDL_UnlockAudioDevice(g_device);
  return kAudioOk;
}

std::uint32_t sdl_set_position(AudioBuffer* ab, std::uint32_t at) {
  auto* b = static_cast<SdlRing*>(ab);
  if (at >= b->bytes) return kAudioErrInvalidArg;
  b->position.store(static_cast<std::uint64_t>(at / b->format.block_align) << 32);
  b->start_position.store(b->position.load());
  b->advanced.store(0);
  return kAudioOk;
}

std::uint32_t sdl_lock(AudioBuffer* ab, std::uint32_t offset, std::uint32_t bytes, void** p1, std::uint32_t* n1,
                       void** p2, std::uint32_t* n2) {
  auto* b = static_cast<SdlRing*>(ab);
  if (offset >= b->bytes || bytes == 0 || bytes > b->bytes) return kAudioErrInvalidArg;
  std::uint32_t first = b->bytes - offset;
  if (first > bytes) first = bytes;
  *p1 = b->ring + offset;
  *n1 = first;
  if (p2) *p2 = first < bytes ? b->ring : nullptr;
  if (n2) *n2 = bytes - first;
  return kAudioOk;
}

std::uint32_t sdl_unlock(AudioBuffer*, void*, std::uint32_t, void*, std::uint32_t) {
  std::atomic_thread_fence(std::memory_order_release);
  return kAudioOk;
}

std::uint32_t sdl_set_volume(AudioBuffer* ab, std::int32_t v) {
  auto* b = static_cast<SdlRing*>(ab);
  if (v < kAudioVolumeMin || v > kAudioVolumeMax) return kAudioErrInvalidArg;
  b->volume.store(v);
  update_gains(b);
  return kAudioOk;
}

std::uint32_t sdl_set_pan(AudioBuffer* ab, std::int32_t p) {
  auto* b = static_cast<SdlRing*>(ab);
  if (p < kAudioPanLeft || p > kAudioPanRight) return kAudioErrInvalidArg;
  b->pan.store(p);
  update_gains(b);
  return kAudioOk;
}

std::uint32_t sdl_set_frequency(AudioBuffer* ab, std::uint32_t f) {
  auto* b = static_cast<SdlRing*>(ab);
  if (f < kAudioFrequencyMin || f > kAudioFrequencyMax) return kAudioErrInvalidArg;
  b->frequency.store(f);
  return kAudioOk;
}

std::int32_t sdl_get_volume(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab); return b->volume.load(); }
std::int32_t sdl_get_pan(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab); return b->pan.load(); }
std::uint32_t sdl_get_frequency(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab); return b->frequency.load(); }
int sdl_is_playing(AudioBuffer* ab) {
  auto* b = static_cast<SdlRing*>(ab); return b->playing.load(); }
// Devices by name; the audio subsystem is started for the question when the
// device is not open and stopped again after it.
std::vector<AudioDeviceInfo> sdl_list_devices(int input) {
  std::vector<AudioDeviceInfo> out;
  const bool started_here = !g_subsystem_started;
  if (started_here && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return out;
  const int capture = input ? 1 : 0;
  const int count = SDL_GetNumAudioDevices(capture);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, capture);
    SDL_AudioSpec spec{};
    AudioDeviceInfo d;
    d.name = name ? name : "";
    d.channels = SDL_GetAudioDeviceSpec(i, capture, &spec) == 0 ? spec.channels : 0;
    // A driver that does not say plays what the engine opens: stereo.
    if (d.channels < 1) d.channels = 2;
    out.push_back(d);
  }
  if (out.empty() && !capture) {
    char* name = nullptr;
    SDL_AudioSpec spec{};
    if (SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0) {
      out.push_back(AudioDeviceInfo{name ? name : "", spec.channels >= 1 ? spec.channels : 2});
      SDL_free(name);
    }
  }
  if (started_here) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return out;
}

}  // namespace

void sdl_audio_mix_buffers(AudioBuffer* const* buffers, int count, std::int32_t* out, int frames) {
  for (int i = 0; i < count; ++i) mix_one(static_cast<SdlRing*>(buffers[i]), out, frames);
}

AudioBuffer* sdl_audio_make_ring(const AudioFormat* format, std::uint32_t bytes) {
  if (!format_ok(format, bytes)) return nullptr;
  SdlRing* b = new (std::nothrow) SdlRing;
  if (!b) return nullptr;
  b->ring = static_cast<std::uint8_t*>(std::calloc(1, bytes));
  if (!b->ring) {
    delete b;
    return nullptr;
  }
  b->format = *format;
  b->bytes = bytes;
  b->frames = bytes / format->block_align;
  b->frequency = format->samples_per_sec;
  update_gains(b);
  return b;
}

void sdl_audio_free_ring(AudioBuffer* ab) {
  if (!ab) return;
  auto* ring = static_cast<SdlRing*>(ab);
  std::free(ring->ring);
  delete ring;
}

void sdl_audio_clip(const std::int32_t* sums, std::int16_t* out, int samples) {
  for (int i = 0; i < samples; ++i) {
    std::int32_t s = sums[i];
    out[i] = static_cast<std::int16_t>(s > 32767 ? 32767 : s < -32768 ? -32768 : s);
  }
}

const PlatformAudio kSdlAudio = {sdl_open,         sdl_close,      sdl_create,        sdl_release,
                                 sdl_play,         sdl_stop,       sdl_get_position,  sdl_set_position,
                                 sdl_lock,         sdl_unlock,     sdl_set_volume,    sdl_set_pan,
                                 sdl_set_frequency, sdl_get_volume, sdl_get_pan,       sdl_get_frequency,
                                 sdl_is_playing, sdl_list_devices};
