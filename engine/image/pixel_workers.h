// Pixel worker threads: one to four threads that each take a share of a
// band job (blending a layer onto another, resampling bands, unpacking the
// two halves of a ZCG image). The poster fills one PixelJob per worker (one
// band each), wakes the workers and takes bands itself; every band is taken
// exactly once, by whichever thread comes first, and the poster returns when
// all are done. A job therefore behaves like a synchronous call that uses
// several cores when they are free, and never waits for a worker that has
// not started: on a busy machine the poster simply does the bands itself.
// Whether a job is shared at all follows what jobs of about its size have
// cost lately, shared and on the poster alone: small jobs, and on a busy
// machine even large ones, run on the poster. Workers stay awake for a
// short while after a job, for the next one of the same frame.
//
// Posting is serialised by one lock: two threads (the frame thread and the
// GUI thread's presentation) may post, and only one job runs at a time.
// Without started workers a job runs on the calling thread as one band.
#pragma once
#include <atomic>

#include "engine/frame/types.h"

struct LayerImage;

// One step of a composed area (post_blend_ops): code 0 zeroes the
// destination rectangle; codes 101 and 103 blend as jobs 101 and 103, from
// src_pixels (the pixels the layer is drawn with, possibly a toned copy)
// with src's width, opacity and blend mode.
struct BlendOp {
  i32 code = 0;
  const LayerImage* src = nullptr;
  const u32* src_pixels = nullptr;
  i32 src_x = 0, src_y = 0, dst_x = 0, dst_y = 0, width = 0, height = 0;
};

enum PixelJobCode : i32 {
  kPixelJobNone = 0,
  kPixelJobNearest = 11,          // nearest-neighbour band
  kPixelJobBilinear = 21,         // sharpened bilinear band
  kPixelJobBilinear2 = 29,        // as 21 with the second column tables
  kPixelJobSupersample = 41,      // supersampled bilinear band
  kPixelJobBlendPlain = 101,      // opaque source, layer opacity
  kPixelJobBlendMasked = 102,     // opaque source through a mask
  kPixelJobBlendAlpha = 103,      // per-pixel alpha source
  kPixelJobBlendAlphaMasked = 104,
  kPixelJobBlendOps = 110,        // a list of blends over a band of destination rows
  kPixelJobZcgRaw = 1000,         // ZCG parts: raw copy
  kPixelJobZcgZlib = 1001,        // zlib
  kPixelJobZcgBlock = 1002,       // block compression
  kPixelJobZcgWebp = 1003,        // WebP plug-in
};

// The WebP plug-in's entries as the ZCG jobs call them: the size (1 ok), and
// a decode into dest of capacity bytes (1 ok, 0 failed or too large).
using WebpInfoFn = int (*)(const u8* data, u32 size, i32* width, i32* height);
using WebpDecodeFn = int (*)(const u8* data, u8* dest, u32 size, i32 width, i32 height, u32 capacity);

// The job record of one worker (typed, since it carries pointers).
struct PixelJob {
  i32 index = 0;  // the worker's index, written once at start
  i32 code = 0;   // PixelJobCode

  // Resample jobs 11, 21, 29, 41.
  i32 dst_row_first = 0, dst_row_end = 0;  // destination rows [first, end)
  i32 dst_col_first = 0, dst_col_end = 0;  // computed columns [first, end)
  i32 src_x_origin = 0;  // job 11: pixels; jobs 21, 29: hundredths
  i32 src_y_origin = 0;  // job 11: rows; jobs 21, 29, 41: hundredths
  i32 src_span_end = 0;  // jobs 21, 29, 41: end of the source span (hundredths)
  i32 src_width = 0, src_height = 0;
  i32 dst_width = 0;     // destination width in pixels (the row pitch)
  i32 dst_span = 0;      // jobs 21, 29, 41: destination height x 100
  u32* dst_pixels = nullptr;
  const u32* src_pixels = nullptr;

  // Blend jobs 101-104.
  i32 band_first = 0, band_end = 0;  // rows of the band, relative to the blit
  i32 pixels_per_row = 0;
  i32 src_x = 0, src_y = 0, dst_x = 0, dst_y = 0;
  LayerImage* dst_image = nullptr;
  const LayerImage* src_image = nullptr;
  const LayerImage* mask_image = nullptr;
  const u32* mask_pixels = nullptr;
  // Job 110: the steps, run in order over destination rows [band_first, band_end).
  const BlendOp* ops = nullptr;
  i32 op_count = 0;

  // ZCG jobs 1000-1003: worker 0 unpacks part 1, worker 1 part 2.
  u32 part1_size = 0, part1_packed = 0, part2_size = 0, part2_packed = 0;
  const u8* file = nullptr;  // the whole file image
  u64 file_size = 0;
  u8* zcg_dest = nullptr;    // the pixel buffer
  u64 zcg_dest_size = 0;     // bytes the buffer holds for the image
  WebpInfoFn webp_info = nullptr;
  WebpDecodeFn webp_decode = nullptr;

  // Result of this worker's share: 0, or -1 when its part failed.
  i32 status = 0;
};

constexpr int kMaxPixelWorkers = 4;

// The worker waiting flag: set by a worker just before it waits for its
// start event, cleared when it wakes. A hint for the message pump in
// frame-thread mode, not a count.
extern std::atomic<u32> g_pixel_worker_waiting;

// Number of running workers (1..4), or 1 when none are started. Posters
// split their work by this count.
int pixel_worker_count();

// Writes worker `worker`'s share of a job into its record (code and words).
using PixelJobFill = void (*)(PixelJob* job, int worker, int count, void* ctx);
// Runs one job on every worker and waits until all are done. Returns 0, or
// -1 when any worker's share failed; statuses (when given) receives each
// worker's status (count entries, the rest 0).
int post_pixel_job(PixelJobFill fill, void* ctx, i32 statuses[kMaxPixelWorkers] = nullptr);
// The same for a job of about `work` pixels: one that lately has run faster
// on the calling thread alone than shared runs there (still as one record
// per worker).
// A work of 0 or less always shares.
int post_pixel_job_sized(PixelJobFill fill, void* ctx, i64 work, i32 statuses[kMaxPixelWorkers] = nullptr);

// Tests: with on set, every job is handed to the workers whatever its size.
void pixel_jobs_always_share(bool on);

// Rows of band i of count over h rows: [h * i / count, h * (i + 1) / count).
void pixel_band_rows(i32 h, int i, int count, i32* first, i32* end);

// Holds the posting lock for longer than one post (a resize that builds the
// shared position tables and then posts), so that no other poster's work
// interleaves. Recursive: a holder may post.
void pixel_jobs_lock();
void pixel_jobs_unlock();
struct PixelJobsLockGuard {
  PixelJobsLockGuard() { pixel_jobs_lock(); }
  ~PixelJobsLockGuard() { pixel_jobs_unlock(); }
  PixelJobsLockGuard(const PixelJobsLockGuard&) = delete;
  PixelJobsLockGuard& operator=(const PixelJobsLockGuard&) = delete;
};

// Posts blend job 101-104 over `height` rows of `width` pixels: source rows
// from (src_x, src_y) of src, destination rows from (dst_x, dst_y) of dst;
// mask and mask_pixels for 102 and 104 (else null). The caller has clipped
// the rectangle to both images (and to the mask, which has the source's
// size). Returns 0.
int post_blend_job(i32 code, LayerImage* dst, const LayerImage* src, const LayerImage* mask, const u32* mask_pixels,
                   i32 src_x, i32 src_y, i32 dst_x, i32 dst_y, i32 width, i32 height);

// Runs `count` steps over dst in order, with one hand-over for all of them:
// each worker takes a band of the destination rows [top, end) and runs every
// step on its rows, so a band's rows stay in its cache from the first layer
// to the last. The bytes equal those of the steps posted one by one.
int post_blend_ops(LayerImage* dst, const BlendOp* ops, int count, i32 top, i32 end);

// The worker procedure (runs one worker's loop until stopped). Returns 0.
int pixel_job_worker(PixelJob* job, int index);
// Runs one record's job on the calling thread (what a worker does on wake).
void run_pixel_job(PixelJob* job);
// The resample job bodies (codes 11, 21, 29, 41).
void run_resample_job(const PixelJob& job);

// Starts workers for an explicit count (clamped to 1..4); the start-up step
// start_pixel_workers uses the engine's worker count. 0, or -1 when a thread
// or event could not be made (the workers started so far are stopped).
int start_pixel_workers_count(int count);
