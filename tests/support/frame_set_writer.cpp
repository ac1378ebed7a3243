#include "tests/support/frame_set_writer.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "engine/image/frame_set_format.h"

std::vector<std::uint8_t> write_frame_set(const FrameSetSpec& spec) {
  const std::size_t n = spec.frames.size();
  std::vector<std::uint8_t> out(kFrameSetHeaderBytes + kFrameSetTableWords * 4 * n, 0);
  frame_set_put_u32(&out[kFrameSetOffCount], static_cast<u32>(spec.count ? *spec.count : static_cast<std::int32_t>(n)));
  frame_set_put_u32(&out[kFrameSetOffAlphaFlag], static_cast<u32>(spec.alpha_flag));
  frame_set_put_u32(&out[kFrameSetOffValueA], static_cast<u32>(spec.value_a));
  frame_set_put_u32(&out[kFrameSetOffValueB], static_cast<u32>(spec.value_b));
  frame_set_put_u32(&out[kFrameSetOffValueC], static_cast<u32>(spec.value_c));
  auto pick = [](const std::vector<std::optional<std::uint32_t>>& v, std::size_t k, std::uint32_t truth) {
    return k < v.size() && v[k] ? *v[k] : truth;
  };
  for (std::size_t k = 0; k < n; ++k) {
    const FrameSetFrame& f = spec.frames[k];
    const std::size_t at = out.size();
    std::vector<std::uint8_t> colour = f.colour, alpha = f.alpha;
    frame_part_scramble(colour.data(), colour.size());
    frame_part_scramble(alpha.data(), alpha.size());
    out.insert(out.end(), colour.begin(), colour.end());
    out.insert(out.end(), alpha.begin(), alpha.end());
    std::uint8_t* tables = &out[kFrameSetHeaderBytes];
    frame_set_put_u32(tables + 4 * k, pick(spec.offsets, k, static_cast<std::uint32_t>(at)));
    frame_set_put_u32(tables + 4 * (n + k), pick(spec.sizes, k, static_cast<std::uint32_t>(colour.size())));
    frame_set_put_u32(tables + 4 * (2 * n + k), pick(spec.alpha_sizes, k, static_cast<std::uint32_t>(alpha.size())));
  }
  out.resize(spec.cut < out.size() ? out.size() - spec.cut : 0);
  return out;
}

std::vector<std::uint8_t> encode_jpeg(int width, int height, int components, const std::uint8_t* pixels,
                                      int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long mem_size = 0;
  jpeg_mem_dest(&c, &mem, &mem_size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(c.next_scanline) * width * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<std::uint8_t> out(mem, mem + mem_size);
  std::free(mem);
  return out;
}
