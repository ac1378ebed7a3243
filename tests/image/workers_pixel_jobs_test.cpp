#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/image/blend_kernels.h"
#include "engine/image/blend_tables.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/span_kernels.h"

namespace {

// A layer record with its own random pixels.
struct TestLayer {
  LayerImage image;
  std::vector<u32> store;
  TestLayer(i32 w, i32 h, u32 seed) : store(static_cast<size_t>(w) * h + w + 1) {
    std::mt19937 rng(seed);
    for (auto& p : store) p = rng();
    image.width = image.loaded_width = w;
    image.height = image.loaded_height = h;
    image.pixels = image.owned_pixels = store.data();
  }
  ~TestLayer() { image.pixels = image.owned_pixels = nullptr; }
};

class PixelWorkersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_span_ops();
    init_blend_tables();
  }
  void TearDown() override {
    stop_pixel_workers();
    pixel_jobs_always_share(false);
  }
};

TEST_F(PixelWorkersTest, BandsSplitRowsByIntegerDivision) {
  const i32 want[4][2] = {{0, 2}, {2, 5}, {5, 7}, {7, 10}};
  for (int i = 0; i < 4; ++i) {
    i32 a, b;
    pixel_band_rows(10, i, 4, &a, &b);
    EXPECT_EQ(a, want[i][0]);
    EXPECT_EQ(b, want[i][1]);
  }
  i32 a, b;
  pixel_band_rows(10, 0, 1, &a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 10);
  pixel_band_rows(3, 0, 4, &a, &b);  // fewer rows than workers: an empty band
  EXPECT_EQ(a, b);
}

// The four blend jobs give the same bytes on one to four workers as on the
// calling thread (no workers), for every mode, opacity and a mask.
TEST_F(PixelWorkersTest, BlendJobsAreIdenticalOnOneToFourWorkers) {
  for (int m = 0; m < 256; ++m) g_mask_weights[m] = m + 1;
  const i32 kW = 53, kH = 37;
  TestLayer src(kW, kH, 1), mask(kW, kH, 2);
  std::vector<std::vector<u32>> reference;
  pixel_jobs_always_share(true);
  for (int workers = 0; workers <= 4; ++workers) {
    if (workers == 0)
      stop_pixel_workers();
    else
      ASSERT_EQ(start_pixel_workers_count(workers), 0);
    EXPECT_EQ(pixel_worker_count(), workers == 0 ? 1 : workers);
    int run = 0;
    for (i32 code : {101, 102, 103, 104}) {
      for (int mode = 0; mode < kBlendModeCount; mode += 3) {
        for (int op : {256, 100}) {
          TestLayer dst(kW + 9, kH + 5, 3);
          src.image.blend_mode = static_cast<u8>(mode);
          src.image.alpha = static_cast<i16>(op);
          ASSERT_EQ(post_blend_job(code, &dst.image, &src.image, &mask.image, mask.image.pixels, 2, 3, 7, 1, kW - 4, kH - 6), 0);
          if (workers == 0) {
            reference.push_back(dst.store);
          } else {
            ASSERT_EQ(dst.store, reference[run]) << "job " << code << " mode " << mode << " op " << op << " workers " << workers;
          }
          ++run;
        }
      }
    }
  }
}

// A list of steps posted at once (each worker runs all of them over its band
// of rows) gives the bytes of the steps posted one by one, on the calling
// thread and on one to four workers, shared or kept by size.
TEST_F(PixelWorkersTest, BlendStepsEqualTheirJobsPostedOneByOne) {
  const i32 kW = 61, kH = 47;
  TestLayer a(40, 30, 21), b(kW, kH, 22), c(7, 45, 23);
  a.image.blend_mode = kBlendScreen;
  a.image.alpha = 180;
  b.image.blend_mode = kBlendNormal;
  c.image.blend_mode = kBlendOverlay;
  c.image.alpha = 256;
  struct Step {
    i32 code;
    TestLayer* src;
    i32 sx, sy, dx, dy, w, h;
  };
  // Steps that start above, inside and below band borders, and a zeroing.
  const Step steps[] = {{0, nullptr, 0, 0, 3, 2, 50, 40},   {103, &b, 0, 0, 0, 0, kW, kH}, {101, &a, 5, 3, 10, 9, 30, 25},
                        {103, &c, 0, 1, 50, 0, 7, 44},      {0, nullptr, 0, 0, 20, 20, 5, 3}, {101, &c, 2, 10, 1, 30, 5, 17},
                        {103, &a, 0, 0, 21, 0, 40, 1}};
  TestLayer want(kW + 3, kH + 2, 24);
  for (const Step& st : steps) {
    if (st.code == 0) {
      for (i32 r = 0; r < st.h; ++r)
        std::memset(&want.store[static_cast<size_t>((st.dy + r) * want.image.width + st.dx)], 0, st.w * 4u);
    } else {
      post_blend_job(st.code, &want.image, &st.src->image, nullptr, nullptr, st.sx, st.sy, st.dx, st.dy, st.w, st.h);
    }
  }
  std::vector<BlendOp> ops;
  for (const Step& st : steps) {
    BlendOp op;
    op.code = st.code;
    op.src = st.src ? &st.src->image : nullptr;
    op.src_pixels = st.src ? st.src->store.data() : nullptr;
    op.src_x = st.sx;
    op.src_y = st.sy;
    op.dst_x = st.dx;
    op.dst_y = st.dy;
    op.width = st.w;
    op.height = st.h;
    ops.push_back(op);
  }
  for (int workers = 0; workers <= 4; ++workers) {
    if (workers == 0) stop_pixel_workers();
    else ASSERT_EQ(start_pixel_workers_count(workers), 0);
    for (bool share : {true, false}) {
      pixel_jobs_always_share(share);
      for (int round = 0; round < 20; ++round) {
        TestLayer got(kW + 3, kH + 2, 24);
        ASSERT_EQ(post_blend_ops(&got.image, ops.data(), static_cast<int>(ops.size()), 0, kH), 0);
        ASSERT_EQ(got.store, want.store) << "workers " << workers << " round " << round;
      }
    }
  }
}

TEST_F(PixelWorkersTest, BlendJobRunsTheKernelOverTheBandRows) {
  const i32 kW = 16, kH = 8;
  TestLayer src(kW, kH, 4), dst(kW, kH, 5);
  std::vector<u32> want = dst.store;
  src.image.blend_mode = kBlendMultiply;
  src.image.alpha = 200;
  for (i32 r = 0; r < 5; ++r)
    g_blend_kernels.plain[blend_kernel_index(kBlendMultiply, 200)](
        reinterpret_cast<u8*>(&want[(r + 2) * kW + 3]), reinterpret_cast<const u8*>(&src.store[(r + 1) * kW]), 200, 10 * 4);
  ASSERT_EQ(start_pixel_workers_count(3), 0);
  post_blend_job(101, &dst.image, &src.image, nullptr, nullptr, 0, 1, 3, 2, 10, 5);
  EXPECT_EQ(dst.store, want);
  // Zero rows call no kernel.
  std::vector<u32> before = dst.store;
  post_blend_job(101, &dst.image, &src.image, nullptr, nullptr, 0, 1, 3, 2, 10, 0);
  EXPECT_EQ(dst.store, before);
}

// Two threads post at once: each job still runs whole and alone.
TEST_F(PixelWorkersTest, PostsFromTwoThreadsAreSerialised) {
  ASSERT_EQ(start_pixel_workers_count(4), 0);
  const i32 kW = 40, kH = 33;
  TestLayer src_a(kW, kH, 6), src_b(kW, kH, 7);
  src_a.image.blend_mode = kBlendScreen;
  src_b.image.blend_mode = kBlendDifference;
  src_b.image.alpha = 77;
  TestLayer want_a(kW, kH, 8), want_b(kW, kH, 9);
  const std::vector<u32> start_a = want_a.store, start_b = want_b.store;
  constexpr int kRounds = 40;
  for (int i = 0; i < kRounds; ++i) {
    post_blend_job(103, &want_a.image, &src_a.image, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
    post_blend_job(101, &want_b.image, &src_b.image, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
  }
  TestLayer got_a(kW, kH, 8), got_b(kW, kH, 9);
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) post_blend_job(101, &got_b.image, &src_b.image, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
  });
  for (int i = 0; i < kRounds; ++i) post_blend_job(103, &got_a.image, &src_a.image, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
  other.join();
  EXPECT_EQ(got_a.store, want_a.store);
  EXPECT_EQ(got_b.store, want_b.store);
}

TEST_F(PixelWorkersTest, StoppedWorkersEndAndLaterPostsRunHere) {
  ASSERT_EQ(start_pixel_workers_count(2), 0);
  // Each worker eventually sits waiting for its start event.
  for (int i = 0; i < 200 && g_pixel_worker_waiting.load() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(g_pixel_worker_waiting.load(), 1u);
  stop_pixel_workers();
  EXPECT_EQ(pixel_worker_count(), 1);
  TestLayer src(8, 4, 10), dst(8, 4, 11);
  const std::vector<u32> before = dst.store;
  EXPECT_EQ(post_blend_job(101, &dst.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 8, 4), 0);
  EXPECT_NE(dst.store, before);  // opaque normal mode copies the source rows
  EXPECT_EQ(std::memcmp(dst.store.data(), src.store.data(), 8 * 4 * 4), 0);
  // A count beyond four is held at four.
  ASSERT_EQ(start_pixel_workers_count(9), 0);
  EXPECT_EQ(pixel_worker_count(), 4);
}

// Workers stay awake only briefly after a job: idle workers cost the
// process next to no processor time, however many jobs came before.
TEST_F(PixelWorkersTest, IdleWorkersGoToSleepAfterTheirJobs) {
  ASSERT_EQ(start_pixel_workers_count(4), 0);
  pixel_jobs_always_share(true);
  TestLayer src(64, 64, 20), dst(64, 64, 21);
  src.image.has_alpha = 1;
  for (int i = 0; i < 50; ++i) ASSERT_EQ(post_blend_job(103, &dst.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 64, 64), 0);
  auto cpu_ms = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double before = cpu_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Four spinning workers would take about 1200 ms of it.
  EXPECT_LT(cpu_ms() - before, 100.0);
  // And a job after the sleep still runs on every share.
  const std::vector<u32> expected = [&] {
    TestLayer alone(64, 64, 21);
    stop_pixel_workers();
    post_blend_job(103, &alone.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 64, 64);
    return alone.store;
  }();
  ASSERT_EQ(start_pixel_workers_count(4), 0);
  TestLayer again(64, 64, 21);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(post_blend_job(103, &again.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 64, 64), 0);
  EXPECT_EQ(again.store, expected);
}

// A job too small to pay for any hand-over runs on the poster: the sleeping
// workers are not woken for it, however many come.
TEST_F(PixelWorkersTest, SmallJobsRunOnThePosterWithoutWakingTheWorkers) {
  ASSERT_EQ(start_pixel_workers_count(4), 0);
  for (int i = 0; i < 400 && g_pixel_worker_waiting.load() != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(g_pixel_worker_waiting.load(), 1u);
  TestLayer src(96, 96, 30), dst(96, 96, 31), alone(96, 96, 31);
  src.image.has_alpha = 1;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(post_blend_job(103, &dst.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 96, 96), 0);
    ASSERT_EQ(g_pixel_worker_waiting.load(), 1u) << "a worker woke for job " << i;
  }
  stop_pixel_workers();
  for (int i = 0; i < 200; ++i) post_blend_job(103, &alone.image, &src.image, nullptr, nullptr, 0, 0, 0, 0, 96, 96);
  EXPECT_EQ(dst.store, alone.store);
}

// ---- ZCG parts ----

struct ZcgPost {
  i32 code;
  std::vector<u8>* file;
  u32 p1, p1_packed, p2, p2_packed;
  std::vector<u8>* dest;
  u64 dest_size;
  WebpInfoFn info = nullptr;
  WebpDecodeFn decode = nullptr;
};
void fill_zcg(PixelJob* job, int, int, void* ctx) {
  const ZcgPost& p = *static_cast<const ZcgPost*>(ctx);
  job->code = p.code;
  job->part1_size = p.p1;
  job->part1_packed = p.p1_packed;
  job->part2_size = p.p2;
  job->part2_packed = p.p2_packed;
  job->file = p.file->data();
  job->file_size = p.file->size();
  job->zcg_dest = p.dest->data();
  job->zcg_dest_size = p.dest_size;
  job->webp_info = p.info;
  job->webp_decode = p.decode;
}

std::vector<u8> pack(const std::vector<u8>& raw) {
  uLongf len = compressBound(static_cast<uLong>(raw.size()));
  std::vector<u8> out(len);
  compress(out.data(), &len, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(len);
  return out;
}

TEST_F(PixelWorkersTest, ZcgPartsUnpackOnTwoWorkersAndFailuresAreReported) {
  ASSERT_EQ(start_pixel_workers_count(3), 0);
  std::vector<u8> image(4 * 6 * 5);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<u8>(i * 7);
  const u32 p1 = 4 * 6 * 2, p2 = static_cast<u32>(image.size()) - p1;
  // Raw: the parts follow the 56-byte header.
  std::vector<u8> raw(56);
  raw.insert(raw.end(), image.begin(), image.end());
  std::vector<u8> dest(image.size() + 8, 0xEE);
  ZcgPost post{1000, &raw, p1, p1, p2, p2, &dest, image.size()};
  i32 st[4];
  EXPECT_EQ(post_pixel_job(fill_zcg, &post, st), 0);
  EXPECT_EQ(std::memcmp(dest.data(), image.data(), image.size()), 0);
  EXPECT_EQ(dest[image.size()], 0xEE);

  // zlib parts.
  std::vector<u8> a = pack(std::vector<u8>(image.begin(), image.begin() + p1));
  std::vector<u8> b = pack(std::vector<u8>(image.begin() + p1, image.end()));
  std::vector<u8> z(56);
  z.insert(z.end(), a.begin(), a.end());
  z.insert(z.end(), b.begin(), b.end());
  std::fill(dest.begin(), dest.end(), 0xEE);
  ZcgPost zp{1001, &z, p1, static_cast<u32>(a.size()), p2, static_cast<u32>(b.size()), &dest, image.size()};
  EXPECT_EQ(post_pixel_job(fill_zcg, &zp, st), 0);
  EXPECT_EQ(std::memcmp(dest.data(), image.data(), image.size()), 0);

  // A damaged second part is a failure of worker 1, not a silent success.
  z[56 + a.size() + 2] ^= 0xFF;
  z[56 + a.size() + 3] ^= 0x55;
  EXPECT_EQ(post_pixel_job(fill_zcg, &zp, st), -1);
  EXPECT_EQ(st[0], 0);
  EXPECT_EQ(st[1], -1);
  EXPECT_EQ(st[2], 0);

  // Sizes that point past the file or the buffer are refused unwritten.
  std::fill(dest.begin(), dest.end(), 0xEE);
  ZcgPost past_file{1000, &raw, p1, p1, p2 + 100, p2 + 100, &dest, image.size() + 200};
  EXPECT_EQ(post_pixel_job(fill_zcg, &past_file, st), -1);
  EXPECT_EQ(st[1], -1);
  ZcgPost past_buffer{1000, &raw, p1, p1, p2, p2, &dest, image.size() - 4};
  EXPECT_EQ(post_pixel_job(fill_zcg, &past_buffer, st), -1);
  EXPECT_EQ(dest[p1], 0xEE);
}

int g_decode_calls = 0;
int fake_info(const u8* data, u32, i32* w, i32* h) {
  *w = data[0];
  *h = data[1];
  return 1;
}
int fake_decode(const u8* data, u8* dest, u32, i32 w, i32 h, u32) {
  ++g_decode_calls;
  std::memset(dest, data[2], static_cast<size_t>(w) * h * 4);
  return 1;
}

TEST_F(PixelWorkersTest, ZcgWebpPartMustMatchItsShareOfTheBuffer) {
  ASSERT_EQ(start_pixel_workers_count(2), 0);
  // Part 1: 2 x 3 pixels (24 bytes), part 2 claims 9 x 9 but has a 16-byte share.
  std::vector<u8> file(56);
  const u8 part1[4] = {2, 3, 0x11, 0};
  const u8 part2[4] = {9, 9, 0x22, 0};
  file.insert(file.end(), part1, part1 + 4);
  file.insert(file.end(), part2, part2 + 4);
  std::vector<u8> dest(40 + 400, 0);
  g_decode_calls = 0;
  ZcgPost post{1003, &file, 24, 4, 16, 4, &dest, 40, fake_info, fake_decode};
  i32 st[4];
  EXPECT_EQ(post_pixel_job(fill_zcg, &post, st), -1);
  EXPECT_EQ(st[0], 0);
  EXPECT_EQ(st[1], -1);
  EXPECT_EQ(g_decode_calls, 1);
  EXPECT_EQ(dest[0], 0x11);
  EXPECT_EQ(dest[24], 0);  // the oversized part was not decoded
}

}  // namespace
