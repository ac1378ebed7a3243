// The TheoraLib stand-in decoding a 1280 x 720 Theora movie into a frame
// buffer (decode and our colour conversion to BGRA), in frames a second,
// against libtheora's decode with th_decode_ycbcr_out alone. The movies are
// made by gst-launch-1.0 at the start (the argument picks one):
//   0  4:2:0 (what Theora movies are made with nearly always), a small ball
//      moving over black: almost nothing to decode, the conversion's worst
//      case;
//   1  the same in 4:4:4;
//   2  4:2:0, a picture with detail everywhere that moves each frame
//      (colour bars scrolling under a turning zone plate) at 4 Mbit/s, a
//      usual rate for a 720p movie: closer to what a game's movie asks of
//      the decoder.
#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/memory.h"
#include "plugins/theoralib/theoralib_api.h"

extern "C" {
void* theoralib_m_create();
void theoralib_m_free(void*);
int theoralib_m_load(void*, const void*, TheoraReadFn, TheoraSizeFn, void*, TheoraRowFn, TheoraResizeFn, int);
int theoralib_m_decodeframe(void*, int);
void theoralib_m_setvrevers(void*, int);
int theoralib_m_totalframe(void*);
}

namespace {

struct MovieKind {
  const char* name;
  const char* source;   // gst-launch-1.0's pipeline up to the encoder
  const char* encoder;  // and the encoder with its settings
};
#define KL_HD "width=1280,height=720,framerate=30/1"
const MovieKind kMovies[3] = {
    {"I420 ball", "videotestsrc num-buffers=60 pattern=ball ! video/x-raw,format=I420," KL_HD, "theoraenc"},
    {"Y444 ball", "videotestsrc num-buffers=60 pattern=ball ! video/x-raw,format=Y444," KL_HD, "theoraenc"},
    {"I420 detail",
     "videotestsrc num-buffers=60 pattern=smpte horizontal-speed=3 ! video/x-raw," KL_HD
     " ! mix. videotestsrc num-buffers=60 pattern=zone-plate kx2=20 ky2=20 kt=1 ! video/x-raw," KL_HD
     " ! mix. compositor name=mix sink_1::alpha=0.5 ! video/x-raw,format=I420," KL_HD,
     "theoraenc bitrate=4000"},
};
#undef KL_HD
constexpr int kMovieCount = 3;
std::vector<unsigned char> g_movies[kMovieCount];
std::vector<unsigned char> g_movie;  // the one of the running benchmark
// The frame as the engine keeps it (on large pages where the system gives
// them).
struct Frame {
  unsigned char* bytes = nullptr;
  ~Frame() { std::free(bytes); }
  unsigned char* data() const { return bytes; }
} g_frame;
int g_w = 0;

int read_cb(const void*, void* dest, int offset, int length) {
  if (offset < 0 || offset >= static_cast<int>(g_movie.size())) return 0;
  int n = length;
  if (offset + n > static_cast<int>(g_movie.size())) n = static_cast<int>(g_movie.size()) - offset;
  std::memcpy(dest, g_movie.data() + offset, static_cast<size_t>(n));
  return n;
}
int size_cb() { return static_cast<int>(g_movie.size()); }
void* row_cb(void*, int y) { return g_frame.data() + static_cast<size_t>(y) * static_cast<size_t>(g_w) * 4; }
int resize_cb(void*, int w, int h) {
  g_w = w;
  const size_t n = static_cast<size_t>(w) * 4 * static_cast<size_t>(h);
  std::free(g_frame.bytes);
  g_frame.bytes = static_cast<unsigned char*>(alloc_on_large_pages(n));
  if (!g_frame.bytes) return -1;
  std::memset(g_frame.bytes, 0, n);
  return 0;
}

void BM_StandInIntoFrame(benchmark::State& state) {
  g_movie = g_movies[state.range(0)];
  void* movie = theoralib_m_create();
  theoralib_m_setvrevers(movie, 1);
  theoralib_m_load(movie, g_movie.data(), read_cb, size_cb, nullptr, row_cb, resize_cb, 0);
  const int n = theoralib_m_totalframe(movie);
  for (auto _ : state) {
    // Restart from frame 0 on each pass: the decode goes forward.
    theoralib_m_decodeframe(movie, 0);
    for (int i = 1; i < n; ++i) benchmark::DoNotOptimize(theoralib_m_decodeframe(movie, i));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  theoralib_m_free(movie);
}

// libtheora alone: the same packets, decoded and handed out as Y'CbCr.
void BM_LibtheoraAlone(benchmark::State& state) {
  g_movie = g_movies[state.range(0)];
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buf = ogg_sync_buffer(&sync, static_cast<long>(g_movie.size()));
  std::memcpy(buf, g_movie.data(), g_movie.size());
  ogg_sync_wrote(&sync, static_cast<long>(g_movie.size()));
  ogg_stream_state stream;
  bool have_stream = false;
  std::vector<std::vector<unsigned char>> packets;
  ogg_page page;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (!have_stream) {
      ogg_stream_init(&stream, ogg_page_serialno(&page));
      have_stream = true;
    }
    if (ogg_page_serialno(&page) != stream.serialno) continue;
    ogg_stream_pagein(&stream, &page);
    ogg_packet p;
    while (ogg_stream_packetout(&stream, &p) == 1) packets.emplace_back(p.packet, p.packet + p.bytes);
  }
  th_info info;
  th_comment comment;
  th_info_init(&info);
  th_comment_init(&comment);
  th_setup_info* setup = nullptr;
  size_t first = 0;
  for (; first < packets.size(); ++first) {
    ogg_packet p{};
    p.packet = packets[first].data();
    p.bytes = static_cast<long>(packets[first].size());
    p.b_o_s = first == 0;
    if (th_decode_headerin(&info, &comment, &setup, &p) <= 0) break;
  }
  int n = 0;
  for (auto _ : state) {
    th_dec_ctx* dec = th_decode_alloc(&info, setup);
    n = 0;
    for (size_t i = first; i < packets.size(); ++i) {
      ogg_packet p{};
      p.packet = packets[i].data();
      p.bytes = static_cast<long>(packets[i].size());
      p.packetno = static_cast<ogg_int64_t>(i);
      th_decode_packetin(dec, &p, nullptr);
      th_ycbcr_buffer yuv;
      th_decode_ycbcr_out(dec, yuv);
      benchmark::DoNotOptimize(yuv[0].data);
      ++n;
    }
    th_decode_free(dec);
  }
  state.SetItemsProcessed(state.iterations() * n);
  th_setup_free(setup);
  th_info_clear(&info);
  th_comment_clear(&comment);
  if (have_stream) ogg_stream_clear(&stream);
  ogg_sync_clear(&sync);
}

BENCHMARK(BM_StandInIntoFrame)->DenseRange(0, kMovieCount - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtheoraAlone)->DenseRange(0, kMovieCount - 1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/klbenchtheoraXXXXXX";
  if (!mkdtemp(folder)) return 1;
  for (int f = 0; f < kMovieCount; ++f) {
    const std::string file = std::string(folder) + "/hd" + std::to_string(f) + ".ogv";
    const std::string cmd = "gst-launch-1.0 -q " + std::string(kMovies[f].source) +
                            " ! " + kMovies[f].encoder + " ! oggmux ! filesink location=" + file + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return 1;
    if (std::FILE* fp = std::fopen(file.c_str(), "rb")) {
      unsigned char b[65536];
      size_t n;
      while ((n = std::fread(b, 1, sizeof b, fp)) > 0) g_movies[f].insert(g_movies[f].end(), b, b + n);
      std::fclose(fp);
    }
  }
  std::system(("rm -rf " + std::string(folder)).c_str());
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int f = 0; f < kMovieCount; ++f) {
    const std::string arg = "/" + std::to_string(f);
    const double ours = reporter.rate["BM_StandInIntoFrame" + arg], peer = reporter.rate["BM_LibtheoraAlone" + arg];
    if (ours > 0 && peer > 0) {
      std::printf("Theora 1280x720 %s: stand-in %.1f frames/s, libtheora alone %.1f frames/s\n", kMovies[f].name, ours,
                  peer);
      bench_aim_at_least(("Theora " + std::string(kMovies[f].name) + ", stand-in rate / libtheora rate").c_str(),
                         ours / peer, 0.7);
    } else {
      bench_fail("Theora %s: the stand-in or libtheora did not run", kMovies[f].name);
    }
  }
  return bench_exit_status();
}
