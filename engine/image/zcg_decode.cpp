// The ZCG decoder.
#include "engine/image/zcg_decode.h"

#include <cstring>

#include "engine/frame/data_access.h"
#include "engine/frame/data_item.h"
#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/webp_plugin.h"
#include "engine/image/zcg_format.h"

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

struct ZcgUnpack {
  i32 code;
  const ZcgHeader* header;
  const u8* file;
  u64 file_size;
  u8* dest;
  u64 dest_size;
};

void fill_zcg_job(PixelJob* job, int, int, void* ctx) {
  const ZcgUnpack& u = *static_cast<const ZcgUnpack*>(ctx);
  job->code = u.code;
  job->part1_size = u.header->part1_size;
  job->part1_packed = u.header->part1_packed;
  job->part2_size = u.header->part2_size;
  job->part2_packed = u.header->part2_packed;
  job->file = u.file;
  job->file_size = u.file_size;
  job->zcg_dest = u.dest;
  job->zcg_dest_size = u.dest_size;
  job->webp_info = g_webp.info;
  job->webp_decode = g_webp.decode;
}

// Unpacks both parts: on the workers when two or more run, else here, one
// part after the other through the same job bodies, so every worker count
// gives the same bytes and the same failure. statuses receives part 1's
// and part 2's result.
void unpack_parts(ZcgUnpack* u, i32 statuses[kMaxPixelWorkers]) {
  for (int i = 0; i < kMaxPixelWorkers; ++i) statuses[i] = 0;
  if (pixel_worker_count() >= 2) {
    post_pixel_job(fill_zcg_job, u, statuses);
    return;
  }
  for (int part = 0; part < 2; ++part) {
    PixelJob job{};
    fill_zcg_job(&job, part, 2, u);
    job.index = part;
    run_pixel_job(&job);
    statuses[part] = job.status;
  }
}

}  // namespace

int decode_zcg_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  bool boxed = false;
  auto damaged = [&boxed]() {
    if (!boxed) show_error_box("", "File Check Error.");
    boxed = true;
    return -1;
  };
  if (!data || size < kZcgHeaderBytes) return damaged();
  const ZcgHeader h = zcg_read_header(data);
  // A wrong magic is only reported: the content may still be a good image.
  if (std::memcmp(h.magic, kZcgMagic, 4) != 0) damaged();
  if (h.width > kMaxImageSide || h.height > kMaxImageSide) {
    report_error_fmt(100091, 1, text_or_empty(name));
    return -1;
  }
  if (h.width < 1 || h.height < 1) return damaged();
  const u64 pixel_bytes = static_cast<u64>(h.width) * static_cast<u64>(h.height) * 4u;
  const u64 body = size - kZcgHeaderBytes;
  const u64 parts_unpacked = u64{h.part1_size} + h.part2_size;
  bool by_parts = true;
  switch (h.method) {
    case kZcgRaw:
      if (pixel_bytes > body) return damaged();
      // Part fields that do not describe the raw pixels exactly are not
      // used: the image is copied in one piece.
      by_parts = parts_unpacked == pixel_bytes && h.part1_packed == h.part1_size && h.part2_packed == h.part2_size;
      break;
    case kZcgZlib:
    case kZcgBlock:
    case kZcgWebp:
      if (parts_unpacked != pixel_bytes || u64{h.part1_packed} + h.part2_packed > body) return damaged();
      break;
    default: return damaged();
  }
  if (h.method == kZcgWebp && !g_webp.loaded) {
    show_error_box("", "Uncompress Status Error 1.");
    return -1;
  }

  u32* buf = alloc_image_buffer(image->owned_pixels, h.width, h.height, name);
  if (!buf) return -1;
  install_image_buffer(image, buf, h.width, h.height);
  image->has_alpha = 1;
  u8* dest = reinterpret_cast<u8*>(buf);
  if (!by_parts) {
    std::memcpy(dest, data + kZcgHeaderBytes, pixel_bytes);
    return 0;
  }
  ZcgUnpack u{kPixelJobZcgRaw + h.method, &h, data, size, dest, pixel_bytes};
  i32 statuses[kMaxPixelWorkers];
  unpack_parts(&u, statuses);
  if (statuses[0] == 0 && statuses[1] == 0) return 0;
  // No half-unpacked picture stays behind.
  std::memset(dest, 0, pixel_bytes);
  show_error_box("", statuses[0] != 0 ? "Uncompress Status Error 1." : "Uncompress Status Error 2.");
  return -1;
}

int load_zcg(DataItem* item, LayerImage* image, const char* name) {
  const u32 reports = g_error_report_log.report_count;
  if (load_data_item(item, name) != 0 || !item->data) {
    free_data_item(item);
    if (g_error_report_log.report_count == reports) report_error_fmt(104010, 1, text_or_empty(name));
    return -1;
  }
  const int r = decode_zcg_into_layer(item->data, item->size, image, name);
  free_data_item(item);
  return r;
}
