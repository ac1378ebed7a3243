// The copy behind the presentation call of the windowing backends: a block
// of a 32-bit image put into a window's kept client image, scaled by nearest
// neighbour when the two blocks differ in size (what StretchDIBits does with
// COLORONCOLOR and SRCCOPY). Everything outside the image or the client
// image is dropped.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

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
  // The columns that land on the image, and their source column.
  std::int64_t cx0 = x1, cx1 = x0;
  std::vector<std::int32_t> column(static_cast<std::size_t>(x1 - x0));
  for (std::int64_t x = x0; x < x1; ++x) {
    const std::int64_t sx = src_x + (x - to_x) * src_w / to_w;
    column[static_cast<std::size_t>(x - x0)] = static_cast<std::int32_t>(sx);
    if (sx < 0 || sx >= image_w) continue;
    if (x < cx0) cx0 = x;
    cx1 = x + 1;
  }
  if (cx0 >= cx1) return;
  // Between cx0 and cx1 every column is inside (the mapping is monotonic).
  const bool straight = src_w == to_w;
  std::int64_t wy0 = y1, wy1 = y0;
  for (std::int64_t y = y0; y < y1; ++y) {
    const std::int64_t sy = src_y + (y - to_y) * src_h / to_h;
    if (sy < 0 || sy >= image_h) continue;
    const std::uint32_t* srow = image + sy * image_w;
    std::uint32_t* drow = dst + y * dst_pitch;
    if (straight) {
      std::memcpy(drow + cx0, srow + column[static_cast<std::size_t>(cx0 - x0)],
                  static_cast<std::size_t>(cx1 - cx0) * 4);
    } else {
      for (std::int64_t x = cx0; x < cx1; ++x) drow[x] = srow[column[static_cast<std::size_t>(x - x0)]];
    }
    if (y < wy0) wy0 = y;
    wy1 = y + 1;
  }
  const std::int64_t wx0 = cx0, wx1 = cx1;
  if (wx0 >= wx1 || wy0 >= wy1) return;
  out_rect[0] = static_cast<int>(wx0);
  out_rect[1] = static_cast<int>(wy0);
  out_rect[2] = static_cast<int>(wx1 - wx0);
  out_rect[3] = static_cast<int>(wy1 - wy0);
}
