// Pixel worker threads, the posting of jobs and the blend and ZCG job bodies.
#include "engine/image/pixel_workers.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "platform/clock.h"
#include "engine/frame/ztzid.h"
#include "engine/image/blend_kernels.h"
#include "engine/image/layer_image.h"
#include "engine/image/share_choice.h"
#include "engine/image/span_kernels.h"

std::atomic<u32> g_pixel_worker_waiting{0};

namespace {

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

i64 now_ns();

// How long a worker stays awake after its last band, watching for the next
// job. The jobs of one frame come close together (a composed area, then a
// masked layer, a resampled one, the next window), and a sleeping thread is
// slow to wake: a futex wake-up, and on a virtual machine often the wake-up
// of an idle processor, costs more than a partial frame's bands. A frame
// every 16 ms keeps the workers awake for a small part of it.
constexpr i64 kWorkerSpinNs = 250'000;
constexpr i64 kWorkerPreemptedNs = 50'000;
// Time in its bands that a worker did not run before it counts as having
// held the poster up. A virtual machine takes a core away for a few to a few
// tens of microseconds now and then even when idle, which holds nobody up
// noticeably; a busy machine takes it for a time slice (milliseconds).
constexpr i64 kWorkerHeldUpNs = 200'000;

// When a worker last lost its core to another thread in the middle of its
// bands for longer than kWorkerHeldUpNs: for a short while after that the
// machine counts as busy and jobs run on the poster alone. A worker that
// loses its core in the middle of a band holds the poster up until it runs
// again, which on a busy machine takes milliseconds; the poster alone is
// held up by nobody. The hold is short because a virtual machine takes a
// core away now and then even when idle, and a long hold would then keep
// the workers out of every frame.
//
// A machine that stays busy takes the core of a worker again and again: a
// loss that comes soon after the last hold ended doubles the hold, up to
// half a second, so that a lasting load keeps jobs on the poster instead of
// costing one held-up frame every few milliseconds; a loss long after the
// last one starts again from the short hold.
constexpr i64 kBusyHoldNs = 2'000'000;
constexpr i64 kBusyHoldMostNs = 500'000'000;
std::atomic<i64> g_preempted_at{0};
std::atomic<i64> g_busy_hold_ns{kBusyHoldNs};

// A worker lost its core in the middle of its bands, for long enough to
// hold the poster up, at `at`.
void note_preempted(i64 at) {
  const i64 previous = g_preempted_at.load(std::memory_order_relaxed);
  const i64 hold = g_busy_hold_ns.load(std::memory_order_relaxed);
  // Soon after the last hold ended: the load goes on.
  const i64 next = at - previous < 4 * hold ? std::min(hold * 2, kBusyHoldMostNs) : kBusyHoldNs;
  g_busy_hold_ns.store(next, std::memory_order_relaxed);
  g_preempted_at.store(at, std::memory_order_relaxed);
}

// The start event of one worker: set wakes it when it sleeps. The platform's
// events share one condition variable between every event of the process,
// so each set wakes every waiting thread; these wait on their own word (a
// futex) instead.
class WorkerEvent {
 public:
  void init(bool initially_set) { state_.store(initially_set ? 1 : 0); }
  void set() {
    // The wake-up (a system call, and on a busy machine often a switch to
    // the woken thread) only when the waiter has gone to sleep.
    state_.store(1, std::memory_order_seq_cst);
    if (sleeping_.load(std::memory_order_seq_cst)) state_.notify_one();
  }
  // Wakes the waiter only when it sleeps (a waiter that is awake or spinning
  // is left alone).
  void set_if_sleeping() {
    if (is_sleeping()) set();
  }
  bool is_sleeping() const { return sleeping_.load(std::memory_order_seq_cst) != 0; }
  // Sleeps until set, unless ready() holds once the sleep is announced (a
  // poster that published work before it saw the announcement does not
  // wake this waiter, so the waiter looks again itself).
  template <typename Ready>
  void sleep_unless(Ready ready) {
    sleeping_.store(1, std::memory_order_seq_cst);
    if (!ready()) {
      for (;;) {
        if (state_.exchange(0, std::memory_order_seq_cst) == 1) break;
        state_.wait(0, std::memory_order_relaxed);
      }
    }
    sleeping_.store(0, std::memory_order_relaxed);
  }

 private:
  std::atomic<u32> state_{0};
  std::atomic<u32> sleeping_{0};
};

// Each worker sleeps on its start event. Nobody waits for a worker any more
// (the poster waits for the bands, whoever runs them), so a worker has no
// acknowledgement or done event of its own.
struct WorkerSlot {
  WorkerEvent start;
  std::thread thread;
};

WorkerSlot g_workers[kMaxPixelWorkers];
// Band records of the job being posted: one per worker, or more for jobs
// whose bytes do not depend on the split (finer bands even out a busy
// machine, where some threads run late).
constexpr int kMaxPixelBands = 32;
PixelJob g_jobs[kMaxPixelBands];
int g_running = 0;  // workers started; changed only under g_post_mutex
// Asks the workers to end. The engine's quit flag does not: a job posted
// after a fatal error has set it must still run rather than leave the poster
// waiting for a worker that has gone.
std::atomic<u8> g_stop{0};
std::recursive_mutex g_post_mutex;


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

// Blends rows [first, end) (relative to the blit) of one unmasked blend.
void blend_rows(i32 code, u32* dst_base, i32 dst_w, const LayerImage* src, const u32* src_base, i32 src_x, i32 src_y,
                i32 dst_x, i32 dst_y, i32 width, i32 first, i32 end) {
  const int mode = layer_mode(src);
  BlendRowKernel kernel = code == kPixelJobBlendPlain ? g_blend_kernels.plain[blend_kernel_index(mode, layer_opacity(src))]
                                                      : g_blend_kernels.alpha[blend_kernel_index(mode, layer_opacity(src))];
  // A run narrower than the layer's rows starts each row at a new place in
  // memory, where the processor's own prefetch (which follows a stream and
  // stops at a page boundary) does not go: the source run four rows ahead is
  // asked for while this row blends, or every row would start with a wait
  // for memory. Whole rows are one stream and need no help.
  const bool narrow = width < src->width;
  const i32 run_bytes = width * 4;
  if (narrow)
    for (i32 r = first; r < std::min(first + 4, end); ++r) {
      const char* row = reinterpret_cast<const char*>(row_at(src_base, src->width, src_x, src_y + r));
      for (i32 b = 0; b < run_bytes; b += 64) __builtin_prefetch(row + b);
    }
  for (i32 r = first; r < end; ++r) {
    if (narrow && r + 4 < end) {
      const char* ahead = reinterpret_cast<const char*>(row_at(src_base, src->width, src_x, src_y + r + 4));
      for (i32 b = 0; b < run_bytes; b += 64) __builtin_prefetch(ahead + b);
      __builtin_prefetch(ahead + run_bytes - 1);
    }
    // The layer opacity is read again for every row. The run is blended by
    // the columns of the layer's own row, so a partial redraw gives the
    // bytes of a full one.
    blend_row_columns(kernel, row_at(dst_base, dst_w, dst_x, dst_y + r), row_at(src_base, src->width, src_x, src_y + r),
                      layer_opacity(src), src_x, width, src->width);
  }
}

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
  blend_rows(job.code, dst_base, dst->width, src, src_base, job.src_x, job.src_y, job.dst_x, job.dst_y, job.pixels_per_row,
             job.band_first, job.band_end);
}

// Job 110: every step over the band's destination rows, in order.
void run_blend_ops_job(const PixelJob& job) {
  LayerImage* dst = job.dst_image;
  if (!dst || !job.ops || job.band_first >= job.band_end) return;
  u32* dst_base = dst->owned_pixels ? dst->owned_pixels : dst->pixels;
  if (!dst_base) return;
  for (i32 i = 0; i < job.op_count; ++i) {
    const BlendOp& op = job.ops[i];
    if (op.width <= 0) continue;
    // The step's rows that fall in this band, relative to the step.
    const i32 first = std::max(job.band_first - op.dst_y, 0);
    const i32 end = std::min(job.band_end - op.dst_y, op.height);
    if (first >= end) continue;
    if (op.code == 0) {
      for (i32 r = first; r < end; ++r) g_span_kernels.zero(row_at(dst_base, dst->width, op.dst_x, op.dst_y + r), op.width * 4);
      continue;
    }
    if (!op.src || !op.src_pixels) continue;
    blend_rows(op.code, dst_base, dst->width, op.src, op.src_pixels, op.src_x, op.src_y, op.dst_x, op.dst_y, op.width,
               first, end);
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
      // The part's own header decides how much the decoder writes: it must
      // be exactly the part's share of the buffer.
      if (job.webp_info(src, static_cast<u32>(packed), &w, &h) == 0 || w <= 0 || h <= 0 ||
          static_cast<u64>(w) * static_cast<u64>(h) * 4u != unpacked) {
        job.status = -1;
        return;
      }
      if (job.webp_decode(src, dst, static_cast<u32>(packed), w, h, static_cast<u32>(unpacked)) == 0) job.status = -1;
      return;
    }
    default: return;
  }
}

i64 now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The bands of the job being posted, in one word: the job's generation
// (bits 16 up), its band count (bits 8-15) and the next band not yet taken
// (bits 0-7). A taker claims a band by compare-and-swap, so a band runs
// exactly once and a taker holding an old generation claims nothing of a
// newer job.
std::atomic<u64> g_claim{0};
std::atomic<i32> g_bands_left{0};  // bands not yet finished
std::atomic<int> g_started{0};  // workers running (read by the workers to wake the next)
// The choice between sharing a job and running it on the poster alone rests
// on what each has cost lately for jobs of about the same size (a class per
// power of two of pixels): a hand-over pays on an idle machine, and on a
// busy one, where a worker may lose its core in the middle of a band and
// hold the poster up, it may not. Changed only under g_post_mutex.
constexpr int kJobClasses = 40;
JobTimes g_job_times[kJobClasses];
std::atomic<bool> g_always_share{false};

// Takes and runs open bands of the current job; returns how many it ran.
// The poster, after its first band, wakes every worker the chain of wake-ups
// has not reached yet (one that is not given a core holds up the chain).
int take_bands(bool poster) {
  int ran = 0;
  u64 c = g_claim.load(std::memory_order_acquire);
  for (;;) {
    const u64 next = c & 0xFF, count = (c >> 8) & 0xFF;
    if (next >= count) return ran;
    if (!g_claim.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
    run_pixel_job(&g_jobs[next]);
    ++ran;
    if (g_bands_left.fetch_sub(1, std::memory_order_acq_rel) == 1) g_bands_left.notify_all();
    c = g_claim.load(std::memory_order_acquire);
    if (poster && ran == 1 && (c & 0xFF) < ((c >> 8) & 0xFF)) {
      const int n = g_started.load(std::memory_order_relaxed);
      for (int i = 1; i < n; ++i) g_workers[i].start.set_if_sleeping();
    }
  }
}

// Waits until every band of the current job has finished.
void wait_bands_done() {
  for (int i = 0; i < 2000; ++i) {
    if (g_bands_left.load(std::memory_order_acquire) == 0) return;
    cpu_relax();
  }
  for (;;) {
    const i32 left = g_bands_left.load(std::memory_order_acquire);
    if (left == 0) return;
    g_bands_left.wait(left, std::memory_order_acquire);
  }
}

// Ends and joins every running worker (the posting lock is held).
void stop_workers_locked() {
  g_stop = 1;
  for (int i = 0; i < g_running; ++i) g_workers[i].start.set();
  for (int i = 0; i < g_running; ++i)
    if (g_workers[i].thread.joinable()) g_workers[i].thread.join();
  g_running = 0;
  g_started.store(0);
  g_stop = 0;
}

}  // namespace

void run_pixel_job(PixelJob* job) {
  switch (job->code) {
    case kPixelJobBlendPlain:
    case kPixelJobBlendMasked:
    case kPixelJobBlendAlpha:
    case kPixelJobBlendAlphaMasked: run_blend_job(*job); break;
    case kPixelJobBlendOps: run_blend_ops_job(*job); break;
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
  (void)job;
  WorkerSlot& w = g_workers[index];
  auto open = [] {
    const u64 c = g_claim.load(std::memory_order_seq_cst);
    return (c & 0xFF) < ((c >> 8) & 0xFF);
  };
  for (;;) {
    // A worker sleeps until a job comes (a new one too: it has nothing to
    // wait for yet).
    g_pixel_worker_waiting = 1;
    w.start.sleep_unless([&] { return open() || g_stop.load(std::memory_order_relaxed) != 0; });
    g_pixel_worker_waiting = 0;
    if (g_stop) return 0;
    // The poster wakes only the first sleeping worker (one wake-up on its
    // side, which on a busy machine may hand its core to the woken thread);
    // each woken worker wakes the next while bands are open.
    if (open() && index + 1 < g_started.load(std::memory_order_relaxed)) g_workers[index + 1].start.set_if_sleeping();
    // Then it stays awake for a while after each band: a job posted
    // meanwhile is seen at once, without any wake-up. A worker that finds it
    // has lost its core meanwhile (a gap between two looks at the clock)
    // goes to sleep at once: the machine is busy, and its spinning would
    // take time from other threads, the poster's too.
    i64 last = now_ns(), until = last + kWorkerSpinNs;
    for (int polls = 0;; ++polls) {
      if (g_stop.load(std::memory_order_relaxed)) return 0;
      if (open()) {
        const i64 start = now_ns(), cpu_before = thread_cpu_ns();
        take_bands(false);
        last = now_ns();
        until = last + kWorkerSpinNs;
        // The part of that time in which this thread did not run.
        if ((last - start) - (thread_cpu_ns() - cpu_before) > kWorkerHeldUpNs) note_preempted(last);
        continue;
      }
      cpu_relax();
      if ((polls & 63) == 63) {
        const i64 now = now_ns();
        // Lost the core while only watching: nobody was held up, but the
        // core is wanted elsewhere, so sleep.
        if (now - last > kWorkerPreemptedNs) break;
        if (now >= until) break;
        last = now;
      }
    }
  }
}

int pixel_worker_count() {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  return g_running > 0 ? g_running : 1;
}

void pixel_jobs_lock() { g_post_mutex.lock(); }
void pixel_jobs_unlock() { g_post_mutex.unlock(); }

void pixel_jobs_always_share(bool on) { g_always_share.store(on); }

void pixel_band_rows(i32 h, int i, int count, i32* first, i32* end) {
  *first = static_cast<i32>(static_cast<i64>(h) * i / count);
  *end = static_cast<i32>(static_cast<i64>(h) * (i + 1) / count);
}

namespace {

// Runs the job on this thread alone, as one band per would-be worker so
// that index-bound jobs (the ZCG halves) find every share.
int run_here(PixelJobFill fill, void* ctx, int count, i32 statuses[kMaxPixelWorkers]) {
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    PixelJob job{};
    fill(&job, i, count, ctx);
    job.index = i;
    job.status = 0;
    run_pixel_job(&job);
    if (statuses) statuses[i] = job.status;
    if (job.status != 0) failed = 1;
  }
  return failed;
}

int job_class(i64 work) {
  int c = 0;
  while (c + 1 < kJobClasses && (i64{1} << (c + 1)) <= work) ++c;
  return c;
}

// A job of fewer pixels than this takes the poster alone about as long as
// the hand-over to a worker that is awake (a few microseconds): it never pays
// for one, and runs on the poster without being timed or probed.
constexpr i64 kAloneBelowPixels = 32768;

// Whether a job of `work` pixels is handed over.
bool worth_sharing(i64 work) {
  if (work <= 0 || g_always_share.load(std::memory_order_relaxed)) return true;  // no size given: always shared
  if (work < kAloneBelowPixels) return false;
  // Only a worker that lost its core in the middle of its bands counts: the
  // poster itself is held up by nobody when it loses its core (the system
  // takes it away now and then even on an idle machine).
  const i64 now = now_ns();
  if (now - g_preempted_at.load(std::memory_order_relaxed) < g_busy_hold_ns.load(std::memory_order_relaxed)) return false;
  return choose_sharing(g_job_times[job_class(work)]);
}

void note_job_time(i64 work, i64 ns, bool shared) {
  if (work <= 0 || ns <= 0) return;
  note_job_cost(g_job_times[job_class(work)], ns * 1000 / work, shared);
}

}  // namespace

namespace {

// Posts a job of `bands` records (filled as band i of bands), or of one
// record per worker when bands is 0. Bands beyond the worker count suit only
// jobs whose result does not depend on the split; on the poster alone such a
// job runs as one band.
int post_bands(PixelJobFill fill, void* ctx, i64 work, int bands, i32 statuses[kMaxPixelWorkers]) {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  if (statuses)
    for (int i = 0; i < kMaxPixelWorkers; ++i) statuses[i] = 0;
  int failed = 0;
  const int workers = g_running > 0 ? g_running : 1;
  const i64 t0 = now_ns();
  if (g_running == 0 || !worth_sharing(work)) {
    failed = run_here(fill, ctx, bands > 0 ? 1 : workers, statuses);
    if (g_running > 0 && work >= kAloneBelowPixels) note_job_time(work, now_ns() - t0, false);
  } else {
    const int count = bands > 0 ? std::min(bands, kMaxPixelBands) : workers;
    for (int i = 0; i < count; ++i) {
      PixelJob& job = g_jobs[i];
      job = PixelJob{};
      fill(&job, i, count, ctx);
      job.index = i;
      job.status = 0;
    }
    g_bands_left.store(count, std::memory_order_relaxed);
    // Publishing the new generation opens the bands: the records are written
    // before any taker reads them, and a worker that announces its sleep
    // after this store sees the bands itself (the look at the sleeping flags
    // below comes after it).
    const u64 gen = (g_claim.load(std::memory_order_relaxed) >> 16) + 1;
    g_claim.store((gen << 16) | (static_cast<u64>(count) << 8), std::memory_order_seq_cst);
    // Workers still awake from an earlier job take bands at once; the first
    // sleeping one is woken (it wakes the next, and so on). None is waited
    // for. The poster takes bands itself, so a worker that is slow to
    // run (a busy machine) costs at most the band it took, and a band nobody
    // took is done here.
    for (int i = 0; i < g_running; ++i)
      if (g_workers[i].start.is_sleeping()) {
        g_workers[i].start.set();
        break;
      }
    take_bands(true);
    wait_bands_done();
    note_job_time(work, now_ns() - t0, true);
    for (int i = 0; i < count; ++i) {
      if (statuses && i < kMaxPixelWorkers) statuses[i] = g_jobs[i].status;
      if (g_jobs[i].status != 0) failed = 1;
    }
  }
  return failed ? -1 : 0;
}

}  // namespace

int post_pixel_job_sized(PixelJobFill fill, void* ctx, i64 work, i32 statuses[kMaxPixelWorkers]) {
  return post_bands(fill, ctx, work, 0, statuses);
}

int post_pixel_job(PixelJobFill fill, void* ctx, i32 statuses[kMaxPixelWorkers]) {
  return post_pixel_job_sized(fill, ctx, 0, statuses);
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
  if (width <= 0 || height <= 0) return 0;  // no rows: no kernel runs
  BlendPost p{code, dst, src, mask, mask_pixels, src_x, src_y, dst_x, dst_y, width, height};
  // The bytes of a blend do not depend on its split into bands: three bands a
  // worker, so that a band that starts late or is interrupted holds the
  // poster up for less.
  return post_bands(fill_blend, &p, i64{width} * height, 3 * pixel_worker_count(), nullptr);
}

namespace {
struct OpsPost {
  LayerImage* dst;
  const BlendOp* ops;
  int count;
  i32 top, end;
};
void fill_ops(PixelJob* job, int worker, int count, void* ctx) {
  const OpsPost& p = *static_cast<const OpsPost*>(ctx);
  job->code = kPixelJobBlendOps;
  pixel_band_rows(p.end - p.top, worker, count, &job->band_first, &job->band_end);
  job->band_first += p.top;
  job->band_end += p.top;
  job->dst_image = p.dst;
  job->ops = p.ops;
  job->op_count = p.count;
}
}  // namespace

int post_blend_ops(LayerImage* dst, const BlendOp* ops, int count, i32 top, i32 end) {
  if (!dst || !ops || count <= 0 || end <= top) return 0;
  i64 work = 0;
  for (int i = 0; i < count; ++i) work += i64{ops[i].width > 0 ? ops[i].width : 0} * (ops[i].height > 0 ? ops[i].height : 0);
  if (work <= 0) return 0;
  OpsPost p{dst, ops, count, top, end};
  // Three bands a worker: a band that starts late or is interrupted holds
  // the poster up for less.
  return post_bands(fill_ops, &p, work, 3 * pixel_worker_count(), nullptr);
}

int start_pixel_workers_count(int count) {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  if (g_running > 0) stop_workers_locked();
  count = count < 1 ? 1 : (count > kMaxPixelWorkers ? kMaxPixelWorkers : count);
  for (int i = 0; i < count; ++i) {
    WorkerSlot& w = g_workers[i];
    w.start.init(false);
    g_jobs[i] = PixelJob{};
    g_jobs[i].index = i;
    try {
      w.thread = std::thread(pixel_job_worker, &g_jobs[i], i);
    } catch (const std::system_error&) {
      stop_workers_locked();
      return -1;
    }
    g_running = i + 1;
    g_started.store(i + 1);
  }
  return 0;
}

int start_pixel_workers() { return start_pixel_workers_count(g_worker_count); }

void stop_pixel_workers() {
  std::lock_guard<std::recursive_mutex> lock(g_post_mutex);
  if (g_running > 0) stop_workers_locked();
}
