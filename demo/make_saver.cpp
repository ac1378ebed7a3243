// Writes a game in its screen-saver form for the end-to-end tests: the
// engine program with the game folder's files appended as an archive behind
// a trailer that marks saver mode and carries the preview bitmap.
//   make_saver <engine program> <game folder> <saver out> <preview bmp out>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/frame/media_locator.h"
#include "tests/support/zpf_writer.h"

namespace {

void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 2; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A 24-bit bottom-up BMP of a width whose rows are padded.
std::vector<std::uint8_t> preview_bmp() {
  const int w = 151, h = 97, stride = (w * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> b = {'B', 'M'};
  put32(b, static_cast<std::uint32_t>(54 + stride * h));
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, w);
  put32(b, h);
  put16(b, 1);
  put16(b, 24);
  for (int i = 0; i < 6; ++i) put32(b, 0);
  for (int row = 0; row < h; ++row) {
    const int y = h - 1 - row;
    for (int x = 0; x < w; ++x) {
      b.push_back(static_cast<std::uint8_t>(x * 255 / w));          // blue
      b.push_back(static_cast<std::uint8_t>(y * 255 / h));          // green
      b.push_back(static_cast<std::uint8_t>((x / 10 + y / 10) % 2 ? 200 : 40));  // red
    }
    for (int pad = w * 3; pad < stride; ++pad) b.push_back(0);
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_saver <engine> <game folder> <saver> <preview.bmp>\n");
    return 2;
  }
  std::vector<ZpfItem> items;
  const std::filesystem::path root(argv[2]);
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string name = std::filesystem::relative(e.path(), root).string();
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
      return c == '/' ? '\\' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    ZpfItem item;
    item.name = name;
    item.data = read_file(e.path());
    item.media_type = static_cast<std::uint8_t>(media_type_from_extension(name.c_str()));
    items.push_back(std::move(item));
  }
  const ZpfArchive archive = build_zpf(items);
  const std::vector<std::uint8_t> bmp = preview_bmp();
  std::vector<std::uint8_t> out = read_file(argv[1]);
  for (char c : std::string("ZTER")) out.push_back(static_cast<std::uint8_t>(c));
  put32(out, static_cast<std::uint32_t>(16 + bmp.size()));
  put32(out, static_cast<std::uint32_t>(bmp.size()));
  put32(out, 0);
  out.insert(out.end(), bmp.begin(), bmp.end());
  out.insert(out.end(), archive.bytes.begin(), archive.bytes.end());
  if (!write_bytes_file(argv[3], out) || !write_bytes_file(argv[4], bmp)) return 1;
  chmod(argv[3], 0755);
  return 0;
}
