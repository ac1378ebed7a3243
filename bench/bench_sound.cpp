// The sound mixer against SDL2's own mixing, and the Ogg streaming path
// (the decoder reopened and seeked for every half) against a straight
// decode with vorbisfile.
#include <SDL2/SDL.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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
std::vector<std::uint8_t> g_ogg;

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

void ogg_through_refills() {
  auto* sb = static_cast<SoundBuffer*>(std::calloc(1, sizeof(SoundBuffer)));
  sb->data = static_cast<std::uint8_t*>(std::malloc(g_ogg.size()));
  std::memcpy(sb->data, g_ogg.data(), g_ogg.size());
  sb->data_size = static_cast<std::uint32_t>(g_ogg.size());
  sb->codec = kCodecOgg;
  sb->decoder_loops = 1;
  if (sound_open_stream(sb) == 0 && sound_seek_ms(sb, 0) == 0) {
    const std::int64_t total = sb->length_ms * sb->bytes_per_sec / 1000;
    while (sb->source_pos < total && sb->half_buffer) {
      if (sound_refill(sb) != 0) break;
      benchmark::DoNotOptimize(sb->half_buffer);
    }
  }
  sound_release_buffer(sb);
  std::free(sb);
}

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
  for (auto _ : s) ogg_through_refills();
}
void BM_OggStraight(benchmark::State& s) {
  for (auto _ : s) ogg_straight();
}
BENCHMARK(BM_MixOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixSdl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OggRefills)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OggStraight)->Unit(benchmark::kMillisecond);

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
    FILE* f = std::fopen(ogg.c_str(), "rb");
    std::uint8_t buf[65536];
    size_t n;
    while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0) g_ogg.insert(g_ogg.end(), buf, buf + n);
    if (f) std::fclose(f);
  }
  if (g_ogg.empty()) bench_fail("the Ogg test file could not be made (sox and oggenc)");
  benchmark::Initialize(&argc, argv);
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  double ours = 1e30, sdl = 1e30, refill = 1e30, straight = 1e30;
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, best_of(2, mix_ours));
    sdl = std::min(sdl, best_of(2, mix_sdl));
    if (!g_ogg.empty()) {
      refill = std::min(refill, best_of(1, ogg_through_refills));
      straight = std::min(straight, best_of(1, ogg_straight));
    }
  }
  std::printf("mixer, 32 rings, %d s of 44.1 kHz stereo: %.1f ms, SDL_MixAudioFormat %.1f ms, ratio %.2f; "
              "share of a core %.2f %%\n",
              kSeconds, ours * 1e3, sdl * 1e3, ours / sdl, ours / kSeconds * 100);
  if (!g_ogg.empty())
    std::printf("Ogg 60 s through the refills: %.1f ms, ov_read straight %.1f ms, ratio %.2f\n", refill * 1e3,
                straight * 1e3, refill / straight);
  for (AudioBuffer* b : g_rings) sdl_audio_free_ring(b);
  return bench_exit_status();
}
