// The sound mixer against SDL2's own mixing, and the streaming paths (WAVE
// halves copied, Ogg halves decoded by the stream's kept decoder) against a
// straight decode with vorbisfile. Prints what 32 streams cost in CPU time
// per second of audio, the engine's path against a player library's (one
// open vorbisfile decoder per Ogg stream, SDL's mixer over streams already
// in the device's form). Then the same 32 sounds played for a few seconds on
// SDL's dummy audio driver, once through SDL_mixer (32 channels with their
// volumes and pans, the WAVE data converted at load) and once through the
// engine's device (32 rings), the process's CPU time per second of audio
// the device took, while the main thread sleeps. The two playbacks alternate
// over several rounds and the aims take the median of the rounds' ratios,
// so that one round on a busy moment of the machine decides nothing.
#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <time.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "engine/frame/engine_state.h"
#include "engine/sound/sound.h"
#include "platform/audio.h"
#include "platform/platform.h"

namespace {
constexpr int kRings = 32;
constexpr int kPeriod = 1024;
constexpr int kSeconds = 10;
constexpr int kOutFrames = 44100 * kSeconds;

std::vector<AudioBuffer*> g_rings;
std::vector<std::vector<std::int16_t>> g_peer_streams;  // the same sounds, already at 44100 Hz stereo
std::vector<std::uint8_t> g_ogg, g_wav;
constexpr double kFileSeconds = 60;

void make_rings() {
  const std::uint32_t rates[] = {44100, 22050, 48000, 32000};
  for (int i = 0; i < kRings; ++i) {
    std::uint32_t rate = rates[i % 4];
    std::uint16_t ch = static_cast<std::uint16_t>(1 + (i & 1));
    AudioFormat f{ch, rate, 16, static_cast<std::uint16_t>(ch * 2)};
    AudioBuffer* b = sdl_audio_make_ring(&f, rate * f.block_align);
    void *p1, *p2;
    std::uint32_t n1, n2;
    kSdlAudio.lock(b, 0, rate * f.block_align, &p1, &n1, &p2, &n2);
    auto* s = static_cast<std::int16_t*>(p1);
    for (std::uint32_t k = 0; k < n1 / 2; ++k) s[k] = static_cast<std::int16_t>(bench_noise(k + 77 * i) >> 20);
    kSdlAudio.set_volume(b, -(i * 100));
    kSdlAudio.set_pan(b, (i % 5 - 2) * 1000);
    kSdlAudio.play(b, 1);
    g_rings.push_back(b);
    std::vector<std::int16_t> peer(kPeriod * 2);
    for (auto& x : peer) x = static_cast<std::int16_t>(bench_noise(static_cast<std::uint32_t>(&x - peer.data()) + i) >> 20);
    g_peer_streams.push_back(peer);
  }
}

void mix_ours() {
  std::vector<std::int32_t> sums(kPeriod * 2);
  std::vector<std::int16_t> out(kPeriod * 2);
  for (int done = 0; done < kOutFrames; done += kPeriod) {
    std::memset(sums.data(), 0, sums.size() * 4);
    sdl_audio_mix_buffers(g_rings.data(), kRings, sums.data(), kPeriod);
    sdl_audio_clip(sums.data(), out.data(), kPeriod * 2);
    benchmark::DoNotOptimize(out.data());
  }
}

void mix_sdl() {
  std::vector<std::int16_t> out(kPeriod * 2);
  for (int done = 0; done < kOutFrames; done += kPeriod) {
    std::memset(out.data(), 0, out.size() * 2);
    for (int i = 0; i < kRings; ++i)
      SDL_MixAudioFormat(reinterpret_cast<Uint8*>(out.data()), reinterpret_cast<const Uint8*>(g_peer_streams[i].data()),
                         AUDIO_S16LSB, kPeriod * 4, 100 - i);
    benchmark::DoNotOptimize(out.data());
  }
}

// One stream of the file opened and refilled half by half to its end: the
// seconds that took, or -1 when a refill failed or the stream stopped
// short. The copy of the file into the stream's memory before and its
// release after are left out: they happen once per sound, as SDL_mixer's
// load does (not counted either), and a fresh 10 MB copy costs mostly its
// first-touch page faults, which vary with the machine's state.
double stream_through_refills(const std::vector<std::uint8_t>& file, std::uint8_t codec) {
  auto* sb = static_cast<SoundBuffer*>(std::calloc(1, sizeof(SoundBuffer)));
  sb->data = static_cast<std::uint8_t*>(std::malloc(file.size()));
  std::memcpy(sb->data, file.data(), file.size());
  sb->data_size = static_cast<std::uint32_t>(file.size());
  sb->codec = codec;
  sb->decoder_loops = 1;
  double seconds = -1;
  const auto t0 = std::chrono::steady_clock::now();
  if (sound_open_stream(sb) == 0 && sound_seek_ms(sb, 0) == 0) {
    const std::int64_t total = sb->length_ms * sb->bytes_per_sec / 1000;
    bool ok = true;
    while (ok && sb->source_pos < total && sb->half_buffer) {
      ok = sound_refill(sb) == 0;
      benchmark::DoNotOptimize(sb->half_buffer);
    }
    if (ok && sb->source_pos >= total)
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  sound_release_buffer(sb);
  std::free(sb);
  return seconds;
}
bool g_streams_ok = true;
double checked(double seconds) {
  g_streams_ok &= seconds >= 0;
  return seconds;
}
double ogg_through_refills() { return checked(stream_through_refills(g_ogg, kCodecOgg)); }
double wave_through_refills() { return checked(stream_through_refills(g_wav, kCodecWave)); }

struct MemFile {
  const std::vector<std::uint8_t>* d;
  size_t pos;
};
size_t mf_read(void* p, size_t s, size_t n, void* u) {
  auto* m = static_cast<MemFile*>(u);
  size_t k = std::min(s * n, m->d->size() - m->pos);
  std::memcpy(p, m->d->data() + m->pos, k);
  m->pos += k;
  return k;
}

void ogg_straight() {
  MemFile m{&g_ogg, 0};
  OggVorbis_File vf;
  ov_callbacks cb = {mf_read, nullptr, nullptr, nullptr};
  if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0) return;
  char buf[4096];
  int bs = 0;
  while (ov_read(&vf, buf, sizeof buf, 0, 2, 1, &bs) > 0) benchmark::DoNotOptimize(buf);
  ov_clear(&vf);
}

void BM_MixOurs(benchmark::State& s) {
  for (auto _ : s) mix_ours();
  s.SetItemsProcessed(s.iterations() * kOutFrames);
}
void BM_MixSdl(benchmark::State& s) {
  for (auto _ : s) mix_sdl();
  s.SetItemsProcessed(s.iterations() * kOutFrames);
}
void BM_OggRefills(benchmark::State& s) {
  for (auto _ : s) s.SetIterationTime(std::max(ogg_through_refills(), 0.0));
}
void BM_WaveRefills(benchmark::State& s) {
  for (auto _ : s) s.SetIterationTime(std::max(wave_through_refills(), 0.0));
}
void BM_OggStraight(benchmark::State& s) {
  for (auto _ : s) ogg_straight();
}
BENCHMARK(BM_MixOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixSdl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OggRefills)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OggStraight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveRefills)->UseManualTime()->Unit(benchmark::kMillisecond);

// A RIFF WAVE image of ring i's sound (the rings' formats and samples).
std::vector<std::uint8_t> ring_wave(int i) {
  const std::uint32_t rates[] = {44100, 22050, 48000, 32000};
  const std::uint32_t rate = rates[i % 4];
  const std::uint16_t ch = static_cast<std::uint16_t>(1 + (i & 1));
  const std::uint32_t bytes = rate * ch * 2;
  std::vector<std::uint8_t> v;
  auto put32 = [&v](std::uint32_t x) {
    for (int k = 0; k < 4; ++k) v.push_back(static_cast<std::uint8_t>(x >> (8 * k)));
  };
  auto put16 = [&v](std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
  };
  v.insert(v.end(), {'R', 'I', 'F', 'F'});
  put32(36 + bytes);
  v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(16);
  put16(1);
  put16(ch);
  put32(rate);
  put32(rate * ch * 2);
  put16(ch * 2u);
  put16(16);
  v.insert(v.end(), {'d', 'a', 't', 'a'});
  put32(bytes);
  for (std::uint32_t k = 0; k < bytes / 2; ++k) put16(bench_noise(k + 77 * i) >> 20);
  return v;
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds the process spends per second of audio the device took,
// over about `seconds` of sleep after a short settling; frames_played()
// gives the frames at 44100 Hz the device has taken so far (called every
// 20 ms). SDL's dummy driver sleeps a whole period after each callback
// however long the callback took, and a busy machine wakes it late, so it
// takes less than a second of audio per second: the CPU is counted against
// the audio taken, not against the time. -1 when nothing was played.
template <typename FramesPlayed>
double cpu_per_second_of_audio(double seconds, FramesPlayed frames_played) {
  SDL_Delay(300);
  const double c0 = process_cpu_seconds();
  const std::uint64_t f0 = frames_played();
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    SDL_Delay(20);
    frames_played();
  }
  const std::uint64_t f1 = frames_played();
  const double cpu = process_cpu_seconds() - c0;
  if (f1 <= f0) return -1;
  return cpu / (static_cast<double>(f1 - f0) / 44100.0);
}

std::atomic<std::uint64_t> g_mixer_frames{0};
void SDLCALL count_mixed_frames(void*, Uint8*, int len) { g_mixer_frames += static_cast<std::uint64_t>(len) / 4; }

// SDL_mixer playing the 32 sounds on 32 channels; -1 when it could not.
double sdl_mixer_playback(double seconds) {
  if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, kPeriod) != 0) return -1;
  Mix_SetPostMix(count_mixed_frames, nullptr);
  Mix_AllocateChannels(kRings);
  std::vector<Mix_Chunk*> chunks;
  for (int i = 0; i < kRings; ++i) {
    const std::vector<std::uint8_t> wave = ring_wave(i);
    Mix_Chunk* c = Mix_LoadWAV_RW(SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size())), 1);
    if (!c) break;
    chunks.push_back(c);
    // The engine's volume in hundredths of a decibel as SDL_mixer's 0..128.
    Mix_Volume(i, static_cast<int>(std::lround(128 * std::pow(10.0, -(i * 100) / 2000.0))));
    const int pan = (i % 5 - 2) * 1000;
    if (pan != 0) {
      const int quieter = static_cast<int>(std::lround(255 * std::pow(10.0, -std::abs(pan) / 2000.0)));
      Mix_SetPanning(i, static_cast<Uint8>(pan > 0 ? quieter : 255), static_cast<Uint8>(pan > 0 ? 255 : quieter));
    }
    Mix_PlayChannel(i, c, -1);
  }
  const double cpu = static_cast<int>(chunks.size()) == kRings
                         ? cpu_per_second_of_audio(seconds, [] { return g_mixer_frames.load(); })
                         : -1;
  Mix_HaltChannel(-1);
  Mix_SetPostMix(nullptr, nullptr);
  for (Mix_Chunk* c : chunks) Mix_FreeChunk(c);
  Mix_CloseAudio();
  return cpu;
}

// The engine's device playing the 32 rings; -1 when it could not.
double engine_device_playback(double seconds) {
  if (kSdlAudio.open_device() != kAudioOk) return -1;
  bool ok = true;
  AudioBuffer* first = nullptr;  // ring 0: 44100 Hz, one channel, one second
  for (int i = 0; i < kRings && ok; ++i) {
    const std::vector<std::uint8_t> wave = ring_wave(i);
    AudioFormat f{static_cast<std::uint16_t>(1 + (i & 1)), static_cast<std::uint32_t>(wave[24] | wave[25] << 8 | wave[26] << 16), 16,
                  static_cast<std::uint16_t>(2 * (1 + (i & 1)))};
    const std::uint32_t bytes = static_cast<std::uint32_t>(wave.size() - 44);
    AudioBuffer* b = nullptr;
    ok = kSdlAudio.create_buffer(&f, bytes, &b) == kAudioOk;
    if (!ok) break;
    void *p1, *p2;
    std::uint32_t n1, n2;
    ok = kSdlAudio.lock(b, 0, bytes, &p1, &n1, &p2, &n2) == kAudioOk;
    if (!ok) break;
    std::memcpy(p1, wave.data() + 44, n1);
    kSdlAudio.unlock(b, p1, n1, p2, n2);
    kSdlAudio.set_volume(b, -(i * 100));
    kSdlAudio.set_pan(b, (i % 5 - 2) * 1000);
    kSdlAudio.play(b, 1);
    if (i == 0) first = b;
  }
  // Frames taken, from ring 0's play cursor (it moves less than a second,
  // the ring's length, between two looks).
  std::uint32_t last = 0;
  std::uint64_t bytes_played = 0;
  auto frames_played = [&] {
    std::uint32_t play = 0, write = 0;
    kSdlAudio.get_position(first, &play, &write);
    bytes_played += (play + 88200u - last) % 88200u;
    last = play;
    return bytes_played / 2;
  };
  if (ok) frames_played();
  const double cpu = ok ? cpu_per_second_of_audio(seconds, frames_played) : -1;
  kSdlAudio.close_device();
  return cpu;
}

}  // namespace

int main(int argc, char** argv) {
  platform_select_fakes();
  g_errors_quiet = true;
  g_sound_switch = 1;
  g_sound_device_open = 0;  // the refills decode only
  make_rings();
  const std::string wav = "/tmp/kl_bench_sound_60s.wav", ogg = "/tmp/kl_bench_sound_60s.ogg";
  if (std::system(("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 60 sine 440 sine 554 gain -6 && oggenc -Q -o " + ogg +
                   " " + wav).c_str()) == 0) {
    for (auto [path, out] : {std::pair{&ogg, &g_ogg}, std::pair{&wav, &g_wav}}) {
      FILE* f = std::fopen(path->c_str(), "rb");
      std::uint8_t buf[65536];
      size_t n;
      while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
      if (f) std::fclose(f);
    }
  }
  if (g_ogg.empty() || g_wav.empty()) {
    bench_fail("the test files could not be made (sox and oggenc)");
    return bench_exit_status();
  }
  benchmark::Initialize(&argc, argv);
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  double ours = 1e30, sdl = 1e30, refill = 1e30, straight = 1e30, wave = 1e30;
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, best_of(2, mix_ours));
    sdl = std::min(sdl, best_of(2, mix_sdl));
    refill = std::min(refill, ogg_through_refills());
    straight = std::min(straight, best_of(1, ogg_straight));
    wave = std::min(wave, wave_through_refills());
  }
  bench_expect(g_streams_ok, "a stream failed or stopped short in its refills");
  std::printf("mixer, 32 rings, %d s of 44.1 kHz stereo: %.1f ms, SDL_MixAudioFormat %.1f ms, ratio %.2f\n", kSeconds,
              ours * 1e3, sdl * 1e3, ours / sdl);
  std::printf("Ogg 60 s through the refills: %.1f ms, ov_read straight %.1f ms, ratio %.2f\n", refill * 1e3,
              straight * 1e3, refill / straight);
  // CPU time per second of audio of 32 streams: their decoding (or copying)
  // and their mixing.
  const double mix_ours_s = ours / kSeconds, mix_peer_s = sdl / kSeconds;
  const double ogg_ours = kRings * refill / kFileSeconds + mix_ours_s, ogg_peer = kRings * straight / kFileSeconds + mix_peer_s;
  const double wave_ours = kRings * wave / kFileSeconds + mix_ours_s, wave_peer = mix_peer_s;
  // Against mixing alone (the aims are against SDL_mixer playing, below).
  std::printf("32 Ogg streams: %.2f ms of CPU per second of audio, vorbisfile decoders + SDL mixing %.2f ms, "
              "ratio %.3f\n",
              ogg_ours * 1e3, ogg_peer * 1e3, ogg_ours / ogg_peer);
  std::printf("32 WAVE streams: %.2f ms of CPU per second of audio, SDL_MixAudioFormat alone %.2f ms, ratio %.3f\n",
              wave_ours * 1e3, wave_peer * 1e3, wave_ours / wave_peer);
  // Playback on SDL's dummy driver (a device that takes the samples at the
  // audio rate and plays nothing): rounds of one playback each, the one
  // that goes first changing from round to round; the aims take the median
  // of the rounds' ratios.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    bench_fail("SDL's dummy audio driver did not start: %s", SDL_GetError());
  } else {
    constexpr int kRounds = 7;
    std::vector<double> mixer_cpu, engine_cpu, wave_ratio, ogg_ratio;
    for (int round = 0; round < kRounds; ++round) {
      double m, e;
      if (round % 2 == 0) {
        m = sdl_mixer_playback(1.5);
        e = engine_device_playback(1.5);
      } else {
        e = engine_device_playback(1.5);
        m = sdl_mixer_playback(1.5);
      }
      if (m <= 0 || e <= 0) {
        bench_fail("a playback did not start or played nothing: %s", SDL_GetError());
        break;
      }
      // The engine's streams also copy (WAVE) or decode (Ogg) their halves
      // on the sound thread; SDL_mixer's Ogg player decodes with vorbisfile.
      mixer_cpu.push_back(m);
      engine_cpu.push_back(e);
      wave_ratio.push_back((e + kRings * wave / kFileSeconds) / m);
      ogg_ratio.push_back((e + kRings * refill / kFileSeconds) / (m + kRings * straight / kFileSeconds));
    }
    if (static_cast<int>(wave_ratio.size()) == kRounds) {
      const double wave_worst = worst_of(wave_ratio), ogg_worst = worst_of(ogg_ratio);
      const double mixer = median_of(mixer_cpu), engine = median_of(engine_cpu);
      const double wave_engine = engine + kRings * wave / kFileSeconds;
      const double ogg_engine = engine + kRings * refill / kFileSeconds;
      const double ogg_player = mixer + kRings * straight / kFileSeconds;
      std::printf("playing 32 sounds (median of %d rounds): SDL_mixer %.2f ms of CPU per second of audio "
                  "(%.2f-%.2f), the engine's device %.2f ms (%.2f-%.2f); with the sound thread's refills, "
                  "32 WAVE streams %.2f ms, 32 Ogg streams %.2f ms (SDL_mixer's mixing + 32 vorbisfile "
                  "decoders %.2f ms)\n",
                  kRounds, mixer * 1e3, mixer_cpu.front() * 1e3, mixer_cpu.back() * 1e3, engine * 1e3,
                  engine_cpu.front() * 1e3, engine_cpu.back() * 1e3, wave_engine * 1e3, ogg_engine * 1e3,
                  ogg_player * 1e3);
      std::printf("worst round: WAVE %.3f, Ogg %.3f\n", wave_worst, ogg_worst);
      bench_aim_at_most("32 WAVE streams played, engine CPU / SDL_mixer CPU (median of the rounds)",
                        median_of(wave_ratio), 1.1);
      bench_aim_at_most("32 Ogg streams played, engine CPU / SDL_mixer + vorbisfile CPU (median of the rounds)",
                        median_of(ogg_ratio), 2.0);
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  for (AudioBuffer* b : g_rings) sdl_audio_free_ring(b);
  return bench_exit_status();
}
