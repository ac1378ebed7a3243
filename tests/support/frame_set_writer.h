// Writes JPEG frame-set files for tests and the demo: the header, the three
// tables and each frame's colour and alpha JPEG, scrambled as the reader
// expects (engine/image/frame_set_format.h). Field overrides make damaged
// files for the reader's tests.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

struct FrameSetFrame {
  std::vector<std::uint8_t> colour;  // a JPEG file's bytes
  std::vector<std::uint8_t> alpha;   // a one-component JPEG, or empty
};

struct FrameSetSpec {
  std::int32_t alpha_flag = 0;
  std::int32_t value_a = 0, value_b = 0, value_c = 0;
  std::vector<FrameSetFrame> frames;
  // What the header and tables say instead of the truth, when set.
  std::optional<std::int32_t> count;
  std::vector<std::optional<std::uint32_t>> offsets, sizes, alpha_sizes;  // by frame
  // Bytes cut from the end of the file.
  std::size_t cut = 0;
};

std::vector<std::uint8_t> write_frame_set(const FrameSetSpec& spec);

// A baseline JPEG of pixels (width x height x components bytes, RGB or
// grey) through libjpeg at quality.
std::vector<std::uint8_t> encode_jpeg(int width, int height, int components, const std::uint8_t* pixels,
                                      int quality = 90);
