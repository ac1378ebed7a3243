// Pixel worker threads, the posting of jobs and the blend and ZCG job bodies.
#include "engine/image/pixel_workers.h"

#include <zlib.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/ztzid.h"
#include "engine/image/blend_kernels.h"
#include "engine/image/layer_image.h"

std::atomic<u32> g_pixel_worker_waiting{0};

namespace {

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// An auto-reset event with one waiter: set releases the wait (or the next
// one) and the wait consumes it. The platform's events share one condition
// variable between every event of the process, so each set wakes every
// waiting thread; a band job sets three events per worker, and with four
// workers that traffic cost more than the blend itself. These wait on their
// own word (a futex), after polling it for a short while: jobs come in
// bursts (one per layer of a frame), and a hand-over that stays awake saves
// a sleep and a wake-up on each side.
class WorkerEvent {
 public:
  void init(bool initially_set) { state_.store(initially_set ? 1 : 0); }
  void set() {
    state_.store(1, std::memory_order_release);
    state_.notify_one();
  }
  void reset() { state_.store(0, std::memory_order_relaxed); }
  void wait() {
    for (int i = 0; i < 500; ++i) {
      if (state_.load(std::memory_order_relaxed) == 1 && state_.exchange(0, std::memory_order_acquire) == 1) return;
      cpu_relax();
    }
    for (;;) {
      if (state_.exchange(0, std::memory_order_acquire) == 1) return;
      state_.wait(0, std::memory_order_relaxed);
    }
  }

 private:
  std::atomic<u32> state_{0};
};

struct WorkerSlot {
  WorkerEvent start;
  WorkerEvent ack;
  WorkerEvent done;
  std::thread thread;
};

WorkerSlot g_workers[kMaxPixelWorkers];
PixelJob g_jobs[kMaxPixelWorkers];
int g_running = 0;  // workers started; changed only under g_post_mutex
// Asks the workers to end. The engine's quit flag does not: a job posted
// after a fatal error has set it must still run rather than leave the poster
// waiting for a worker that has gone.
std::atomic<u8> g_stop{0};
std::recursive_mutex g_post_mutex;
std::atomic<int> g_posting{0};


// ---- blend jobs ----

u8* row_at(u32* base, i32 pitch, i32 x, i32 y) {
  return reinterpret_cast<u8*>(base + static_cast<i64>(y) * pitch + x);
}
const u8* row_at(const u32* base, i32 pitch, i32 x, i32 y) {
  return reinterpret_cast<const u8*>(base + static_cast<i64>(y) * pitch + x);
}

int layer_opacity(const LayerImage* image) {
  const int a = image->alpha;
  return a < 0 ? 0 : (a > 256 ? 256 : a);
}
int layer_mode(const LayerImage* image) { return image->blend_mode < kBlendModeCount ? image->blend_mode : 0; }

void run_blend_job(const PixelJob& job) {
  LayerImage* dst = job.dst_image;
  const LayerImage* src = job.src_image;
  if (!dst || !src || job.band_first >= job.band_end || job.pixels_per_row <= 0) return;
  u32* dst_base = dst->owned_pixels ? dst->owned_pixels : dst->pixels;
  const u32* src_base = src->pixels;
  if (!dst_base || !src_base) return;
  const i32 n = job.pixels_per_row * 4;
  const int mode = layer_mode(src);
  const bool masked = job.code == kPixelJobBlendMasked || job.code == kPixelJobBlendAlphaMasked;
  if (masked) {
    if (!job.mask_image || !job.mask_pixels) return;
    BlendMaskRowKernel kernel = job.code == kPixelJobBlendMasked
                                    ? g_blend_kernels.masked[blend_kernel_index(mode, layer_opacity(src))]
                                    : g_blend_kernels.alpha_masked[mode * 2];
    for (i32 r = job.band_first; r < job.band_end; ++r) {
      kernel(row_at(dst_base, dst->width, job.dst_x, job.dst_y + r), row_at(src_base, src->width, job.src_x, job.src_y + r),
             row_at(job.mask_pixels, job.mask_image->width, job.src_x, job.src_y + r), src->mask_fade, src->mask_softness, n);
    }
    return;
  }
  BlendRowKernel kernel = job.code == kPixelJobBlendPlain ? g_blend_kernels.plain[blend_kernel_index(mode, layer_opacity(src))]
                                                          : g_blend_kernels.alpha[blend_kernel_index(mode, layer_opacity(src))];
  for (i32 r = job.band_first; r < job.band_end; ++r) {
    // The layer opacity is read again for every row. The run is blended by
    // the columns of the layer's own row, so a partial redraw gives the
    // bytes of a full one.
    blend_row_columns(kernel, row_at(dst_base, dst->width, job.dst_x, job.dst_y + r),
                      row_at(src_base, src->width, job.src_x, job.src_y + r), layer_opacity(src), job.src_x,
                      job.pixels_per_row, src->width);
  }
}

// ---- ZCG parts ----

constexpr u64 kZcgHeaderSize = 56;

// Worker 0 unpacks part 1 to the buffer start, worker 1 part 2 behind it.
// Every range is checked against the file and the buffer before use.
void run_zcg_job(PixelJob& job) {
  if (job.index > 1) return;
  const bool second = job.index == 1;
  const u64 unpacked = second ? job.part2_size : job.part1_size;
  const u64 packed = job.code == kPixelJobZcgRaw ? unpacked : (second ? job.part2_packed : job.part1_packed);
  const u64 src_off = kZcgHeaderSize + (second ? job.part1_packed : 0);
  const u64 dst_off = second ? job.part1_size : 0;
  if (!job.file || !job.zcg_dest || src_off > job.file_size || packed > job.file_size - src_off ||
      dst_off > job.zcg_dest_size || unpacked > job.zcg_dest_size - dst_off) {
    job.status = -1;
    return;
  }
  const u8* src = job.file + src_off;
  u8* dst = job.zcg_dest + dst_off;
  switch (job.code) {
    case kPixelJobZcgRaw:
      if (unpacked) std::memcpy(dst, src, unpacked);
      return;
    case kPixelJobZcgZlib: {
      uLongf len = static_cast<uLongf>(unpacked);
      const int r = uncompress(dst, &len, src, static_cast<uLong>(packed));
      if (r != Z_OK || len != unpacked) job.status = -1;
      return;
    }
    case kPixelJobZcgBlock:
      if (ztzid_unpack(src, static_cast<u32>(packed), dst, static_cast<u32>(unpacked)) != 0) job.status = -1;
      return;
    case kPixelJobZcgWebp: {
      i32 w = 0, h = 0;
      if (!job.webp_info || !job.webp_decode) {
        job.status = -1;
        return;
      }
      job.webp_info(src, static_cast<u32>(packed), &w, &h);
      // The part's own header decides how much the decoder writes: it must
      // be exactly the part's share of the buffer.
      if (w <= 0 || h <= 0 || static_cast<u64>(w) * static_cast<u64>(h) * 4u != unpacked) {
        job.status = -1;
        return;
      }
      job.webp_decode(src, dst, static_cast<u32>(packed), w, h);
      return;
    }
    default: return;
  }
}

// Ends and joins every running worker (the posting lock is held).
void stop_workers_locked() {
  g_stop = 1;
  for (int i = 0; i < g_running; ++i) g_workers[i].start.set();
  for (int i = 0; i < g_running; ++i)
    if (g_workers[i].thread.joinable()) g_workers[i].thread.join();
  g_running = 0;
  g_stop = 0;
}

}  // namespace

void run_pixel_job(PixelJob* job) {
  switch (job->code) {
    case kPixelJobBlendPlain:
    case kPixelJobBlendMasked:
    case kPixelJobBlendAlpha:
    case kPixelJobBlendAlphaMasked: run_blend_job(*job); break;
    case kPixelJobZcgRaw:
    case kPixelJobZcgZlib:
    case kPixelJobZcgBlock:
    case kPixelJobZcgWebp: run_zcg_job(*job); break;
    case kPixelJobNearest:
    case kPixelJobBilinear:
    case kPixelJobBilinear2:
    case kPixelJobSupersample: run_resample_job(*job); break;
    default: break;  // an unknown code does nothing
  }
}

// The worker's slot comes from its record's index as it was when the thread
// was made: a poster may be rewriting the record by the time the thread runs.
int pixel_job_worker(PixelJob* job, int index) {
  WorkerSlot& w = g_workers[index];
  for (;;) {
    g_pixel_worker_waiting = 1;
    w.start.wait();
    g_pixel_worker_waiting = 0;
    w.done.reset();
    w.ack.set();
    if (g_stop) {
      w.done.set();
      return 0;
    }
    run_pixel_job(job);
    w.done.set();
  }
}

int pixel_worker_count() {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  return g_running > 0 ? g_running : 1;
}

int pixel_workers_idle() { return g_posting.load() == 0 ? 1 : 0; }

void pixel_jobs_lock() { g_post_mutex.lock(); }
void pixel_jobs_unlock() { g_post_mutex.unlock(); }

void pixel_band_rows(i32 h, int i, int count, i32* first, i32* end) {
  *first = static_cast<i32>(static_cast<i64>(h) * i / count);
  *end = static_cast<i32>(static_cast<i64>(h) * (i + 1) / count);
}

int post_pixel_job(PixelJobFill fill, void* ctx, i32 statuses[kMaxPixelWorkers]) {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  ++g_posting;
  int failed = 0;
  if (statuses)
    for (int i = 0; i < kMaxPixelWorkers; ++i) statuses[i] = 0;
  if (g_running == 0) {
    // No workers: the whole job as one band on this thread.
    PixelJob job{};
    fill(&job, 0, 1, ctx);
    job.index = 0;
    job.status = 0;
    run_pixel_job(&job);
    if (statuses) statuses[0] = job.status;
    failed = job.status != 0;
  } else {
    const int count = g_running;
    for (int i = 0; i < count; ++i) {
      PixelJob& job = g_jobs[i];
      job = PixelJob{};
      fill(&job, i, count, ctx);
      job.index = i;
      job.status = 0;
      g_workers[i].start.set();
      g_workers[i].ack.wait();
    }
    for (int i = 0; i < count; ++i) g_workers[i].done.wait();
    for (int i = 0; i < count; ++i) {
      if (statuses) statuses[i] = g_jobs[i].status;
      if (g_jobs[i].status != 0) failed = 1;
    }
  }
  --g_posting;
  return failed ? -1 : 0;
}

namespace {
struct BlendPost {
  i32 code;
  LayerImage* dst;
  const LayerImage* src;
  const LayerImage* mask;
  const u32* mask_pixels;
  i32 src_x, src_y, dst_x, dst_y, width, height;
};
void fill_blend(PixelJob* job, int worker, int count, void* ctx) {
  const BlendPost& p = *static_cast<const BlendPost*>(ctx);
  job->code = p.code;
  pixel_band_rows(p.height, worker, count, &job->band_first, &job->band_end);
  job->pixels_per_row = p.width;
  job->src_x = p.src_x;
  job->src_y = p.src_y;
  job->dst_x = p.dst_x;
  job->dst_y = p.dst_y;
  job->dst_image = p.dst;
  job->src_image = p.src;
  const bool masked = p.code == kPixelJobBlendMasked || p.code == kPixelJobBlendAlphaMasked;
  job->mask_image = masked ? p.mask : nullptr;
  job->mask_pixels = masked ? p.mask_pixels : nullptr;
}
}  // namespace

int post_blend_job(i32 code, LayerImage* dst, const LayerImage* src, const LayerImage* mask, const u32* mask_pixels,
                   i32 src_x, i32 src_y, i32 dst_x, i32 dst_y, i32 width, i32 height) {
  BlendPost p{code, dst, src, mask, mask_pixels, src_x, src_y, dst_x, dst_y, width, height};
  return post_pixel_job(fill_blend, &p);
}

int start_pixel_workers_count(int count) {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  if (g_running > 0) stop_workers_locked();
  count = count < 1 ? 1 : (count > kMaxPixelWorkers ? kMaxPixelWorkers : count);
  for (int i = 0; i < count; ++i) {
    WorkerSlot& w = g_workers[i];
    w.start.init(false);
    w.ack.init(false);
    w.done.init(true);  // set, so that a first wait returns at once
    g_jobs[i] = PixelJob{};
    g_jobs[i].index = i;
    try {
      w.thread = std::thread(pixel_job_worker, &g_jobs[i], i);
    } catch (const std::system_error&) {
      stop_workers_locked();
      return -1;
    }
    g_running = i + 1;
  }
  return 0;
}

int start_pixel_workers() { return start_pixel_workers_count(g_worker_count); }

void stop_pixel_workers() {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  if (g_running > 0) stop_workers_locked();
}
