// The copy behind the presentation call of the windowing backends: a block
// of a 32-bit image put into a window's kept client image, scaled by nearest
// neighbour when the two blocks differ in size (what StretchDIBits does with
// COLORONCOLOR and SRCCOPY). Everything outside the image or the client
// image is dropped.
#pragma once
#include <cstdint>

// dst: the client image, dst_w x dst_h pixels, dst_pitch pixels a row.
// out_rect receives the client rectangle written (x, y, w, h; w or h 0 when
// nothing was).
inline void present_blit(std::uint32_t* dst, int dst_w, int dst_h, int dst_pitch, const std::uint32_t* image,
                         int image_w, int image_h, int src_x, int src_y, int src_w, int src_h, int to_x, int to_y,
                         int to_w, int to_h, int out_rect[4]) {
  out_rect[0] = out_rect[1] = out_rect[2] = out_rect[3] = 0;
  if (!dst || !image || image_w <= 0 || image_h <= 0 || src_w <= 0 || src_h <= 0 || to_w <= 0 || to_h <= 0) return;
  const std::int64_t x0 = to_x < 0 ? 0 : to_x, y0 = to_y < 0 ? 0 : to_y;
  const std::int64_t x1 = std::int64_t{to_x} + to_w < dst_w ? std::int64_t{to_x} + to_w : dst_w;
  const std::int64_t y1 = std::int64_t{to_y} + to_h < dst_h ? std::int64_t{to_y} + to_h : dst_h;
  if (x0 >= x1 || y0 >= y1) return;
  std::int64_t wx0 = x1, wx1 = x0, wy0 = y1, wy1 = y0;
  const bool same = src_w == to_w;
  for (std::int64_t y = y0; y < y1; ++y) {
    const std::int64_t sy = src_y + (y - to_y) * src_h / to_h;
    if (sy < 0 || sy >= image_h) continue;
    const std::uint32_t* srow = image + sy * image_w;
    std::uint32_t* drow = dst + y * dst_pitch;
    bool any = false;
    for (std::int64_t x = x0; x < x1; ++x) {
      const std::int64_t sx = same ? src_x + (x - to_x) : src_x + (x - to_x) * src_w / to_w;
      if (sx < 0 || sx >= image_w) continue;
      drow[x] = srow[sx];
      any = true;
      if (x < wx0) wx0 = x;
      if (x + 1 > wx1) wx1 = x + 1;
    }
    if (!any) continue;
    if (y < wy0) wy0 = y;
    wy1 = y + 1;
  }
  if (wx0 >= wx1 || wy0 >= wy1) return;
  out_rect[0] = static_cast<int>(wx0);
  out_rect[1] = static_cast<int>(wy0);
  out_rect[2] = static_cast<int>(wx1 - wx0);
  out_rect[3] = static_cast<int>(wy1 - wy0);
}
