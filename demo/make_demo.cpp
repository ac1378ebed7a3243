// Writes the demo game folder: the compiled engine files of demo.game, the
// picture files of demo_scene.h and its frame set.
//   make_demo <demo.game> <game folder> [<archive name>]
// With an archive name the compiled engine files are also packed into that
// archive in the folder, as a game ships them: the engine then counts its
// scripts as compiled and needs no outside compiler.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>

#include <webp/encode.h>

#include "demo/demo_movies.h"
#include "demo/demo_scene.h"
#include "platform/files.h"
#include "tests/support/game_writer.h"
#include "tests/support/zcg_writer.h"
#include "tests/support/zpf_writer.h"

namespace {

// A command-list line: parameters 0 .. count-1, numbers unless listed as
// texts or as raw expression code.
std::string command_line(int id, const char* name, int count, std::initializer_list<int> texts,
                         std::initializer_list<int> raws = {}) {
  std::string line = "command " + std::to_string(id) + " " + name;
  for (int i = 0; i < count; ++i) {
    const char* kind = "num";
    for (int t : texts) if (t == i) kind = "text";
    for (int r : raws) if (r == i) kind = "raw";
    line += " p" + std::to_string(i) + ":" + kind + ":0";
  }
  return line + "\n";
}

// The commands the demo uses beyond the standard list, with their
// parameters; a game text that lists one of them itself keeps its own line.
std::string demo_commands(const std::string& game) {
  std::string lines;
  std::istringstream all(
      command_line(1, "layer", 58, {0, 43, 46, 47, 48, 51}) +  // layer
         command_line(2, "draw", 71, {0, 1, 2, 3, 11}) +           // layer drawing
         command_line(5, "clipset", 2, {1}) +                      // clipboard
         command_line(10, "dialog", 22, {0, 1, 9}) +               // message box, text input
         command_line(20, "save", 18, {0, 1, 2, 8, 10}) +          // layer saving
         command_line(21, "filequery", 8, {0, 1, 2, 3}) +          // file questions
         command_line(26, "style", 12, {2}) +                      // text style
         command_line(28, "rate", 2, {}) +                         // frame rate
         command_line(60, "math", 23, {3}, {1, 2}) +               // math
         command_line(62, "menuset", 7, {0, 1}) +                  // menu items
         command_line(63, "popup", 2, {0}) +                       // popup menu
         command_line(69, "cursor", 11, {10}) +                    // mouse cursor
         command_line(89, "sound", 14, {0, 2}) +                   // sound objects
         command_line(102, "arraymod", 29, {}) +                   // number <-> text, arrays
         command_line(100, "tray", 4, {1, 2, 3}) +                 // notification-area icon
         command_line(105, "window", 26, {21, 22, 23, 24}) +       // window set-up
         command_line(107, "windowquery", 18, {}) +                // window query
         command_line(109, "frames", 4, {0, 2}) +                  // frame sets
         command_line(112, "append", 1, {}));                      // text record
  for (std::string line; std::getline(all, line);) {
    const std::string head = line.substr(0, line.find(' ', 8) + 1);  // "command <id> "
    if (game.compare(0, head.size(), head) != 0 && game.find("\n" + head) == std::string::npos) lines += line + "\n";
  }
  return lines;
}

// The text style, then each drawing step of demo_scene.h followed by a wait
// of one frame.
std::string draw_steps() {
  std::string s = "instr 26\narg 2 text : \"" + std::string(demo::kTextFace) + "\"\n";
  s += "arg 9 int : I:" + std::to_string(demo::kTextSize) + "\narg 10 int : I:" + std::to_string(demo::kTextSize) + "\n";
  s += "arg 4 int : I:" + std::to_string(demo::kTextColour) + "\narg 5 int : I:" + std::to_string(demo::kTextSecondColour) +
       "\n";
  for (const demo::DrawStep& d : demo::kDrawSteps) {
    s += "instr 2\narg 0 text : \"" + std::string(d.layer) + "\"\n";
    s += "arg " + std::to_string(d.op) + " int : I:0\narg 9 int : L:" + std::to_string(d.value) + "\n";
    if (d.x0 >= 0) {
      const int c[4] = {d.x0, d.y0, d.x1, d.y1};
      for (int i = 0; i < 4; ++i) s += "arg " + std::to_string(12 + i) + " int : I:" + std::to_string(c[i]) + "\n";
    }
    if (d.text) s += "arg 11 text : \"" + std::string(d.text) + "\"\n";
    s += "wait I:1\n";
  }
  return s;
}

void put32(std::string& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put16(std::string& b, std::uint32_t v) {
  for (int i = 0; i < 2; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 24-bit BMP file, rows bottom-up.
bool write_bmp(const std::string& path, int w, int h, const std::vector<std::uint32_t>& px) {
  const int row = (w * 3 + 3) / 4 * 4;
  std::string b = "BM";
  put32(b, static_cast<std::uint32_t>(54 + row * h));
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, static_cast<std::uint32_t>(w));
  put32(b, static_cast<std::uint32_t>(h));
  put16(b, 1);
  put16(b, 24);
  for (int i = 0; i < 6; ++i) put32(b, 0);
  for (int y = h - 1; y >= 0; --y) {
    std::string r;
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = px[static_cast<std::size_t>(y) * w + x];
      r += static_cast<char>(p & 0xFF);
      r += static_cast<char>((p >> 8) & 0xFF);
      r += static_cast<char>((p >> 16) & 0xFF);
    }
    r.resize(static_cast<std::size_t>(row), '\0');
    b += r;
  }
  std::ofstream f(path, std::ios::binary);
  f << b;
  return static_cast<bool>(f);
}

// ---- the data-file checker's list ----
// "ztfchk.ini" names every file the writer put into the game folder with its
// CRC-32: path relative to the folder with '\' separators, a TAB, the value
// in upper-case hexadecimal, CR LF.
bool write_check_list(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> lines;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    std::string rel = fs::relative(entry.path(), folder).generic_string();
    if (rel == "ztfchk.ini") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name;
    if (!in.good() && !in.eof()) return false;
    if (utf8_to_sjis(rel.c_str(), &name) != 0) return false;
    std::replace(name.begin(), name.end(), '/', '\\');
    char value[16];
    std::snprintf(value, sizeof value, "%08lX",
                  crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    lines.push_back(name + "\t" + value + "\r\n");
  }
  if (ec) return false;
  std::sort(lines.begin(), lines.end());
  std::ofstream f(folder + "/ztfchk.ini", std::ios::binary);
  for (const std::string& l : lines) f << l;
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  // The checker's list, over the finished game folder.
  if (argc == 3 && std::string(argv[1]) == "--check-list") {
    if (write_check_list(argv[2])) return 0;
    std::fprintf(stderr, "make_demo: cannot write ztfchk.ini\n");
    return 1;
  }
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: make_demo <demo.game> <game folder> [<archive name>]\n"
                         "       make_demo --check-list <game folder>\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "make_demo: cannot read %s\n", argv[1]);
    return 1;
  }
  try {
    std::string game = text.str();
    const std::size_t at = game.find("@draw_steps");
    if (at != std::string::npos) game.replace(at, 11, draw_steps());
    // The game's texts are Shift-JIS, as the engine reads them.
    std::string sjis;
    if (utf8_to_sjis((demo_commands(game) + game).c_str(), &sjis) != 0)
      throw std::runtime_error("the demo's text has no Shift-JIS form");
    const GameFiles files = build_game(sjis);
    if (!write_game_folder(argv[2], files)) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", argv[2]);
      return 1;
    }
    // The background also as a zlib ZCG: in the archive when there is one,
    // else beside the pictures.
    const demo::Picture& bg = demo::kPictures[0];
    const std::vector<u8> zcg = fixtures::write_zcg(demo::picture_pixels(0), bg.width, bg.height, kZcgZlib);
    if (argc != 4 && !write_bytes_file(std::string(argv[2]) + "/" + demo::kBackgroundZcg, zcg)) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", demo::kBackgroundZcg);
      return 1;
    }
    if (argc == 4) {
      std::vector<ZpfItem> items;
      for (const auto& [name, bytes] : files) items.push_back(zpf_item(name, std::string(bytes.begin(), bytes.end())));
      items.push_back(zpf_item(demo::kBackgroundZcg, std::string(zcg.begin(), zcg.end()), 0, 8));
      if (!write_zpf_file(std::string(argv[2]) + "/" + argv[3], items)) {
        std::fprintf(stderr, "make_demo: cannot write %s\n", argv[3]);
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_demo: %s\n", e.what());
    return 1;
  }
  for (int i = 0; i < demo::kPictureCount; ++i) {
    const demo::Picture& p = demo::kPictures[i];
    if (!write_bmp(std::string(argv[2]) + "/" + p.file, p.width, p.height, demo::picture_pixels(i))) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", p.file);
      return 1;
    }
  }
  // The card also as a lossless WebP, encoded through libwebp.
  {
    const demo::Picture& card = demo::kPictures[1];
    const std::vector<std::uint32_t> px = demo::picture_pixels(1);
    std::uint8_t* out = nullptr;
    const std::size_t n = WebPEncodeLosslessBGRA(reinterpret_cast<const std::uint8_t*>(px.data()), card.width,
                                                 card.height, card.width * 4, &out);
    const bool ok = n > 0 && write_bytes_file(std::string(argv[2]) + "/" + demo::kCardWebp,
                                              std::vector<std::uint8_t>(out, out + n));
    WebPFree(out);
    if (!ok) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", demo::kCardWebp);
      return 1;
    }
  }
  {
    const std::vector<std::uint8_t> frames = demo::frame_set_file();
    std::ofstream f(std::string(argv[2]) + "/" + demo::kFrameSetFile, std::ios::binary);
    f.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
    if (!f) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", demo::kFrameSetFile);
      return 1;
    }
  }
  if (!write_bmp(std::string(argv[2]) + "/" + demo::kTrayIconFile, demo::kTrayIconSize, demo::kTrayIconSize,
                 demo::tray_icon_pixels())) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", demo::kTrayIconFile);
    return 1;
  }
  // The movies, and the corner layer's picture until its clip plays.
  const std::string movies = demo::write_demo_movies(argv[2]);
  if (!movies.empty()) {
    std::fprintf(stderr, "make_demo: %s\n", movies.c_str());
    return 1;
  }
  if (!write_bmp(std::string(argv[2]) + "/" + demo::kCornerLayerPicture, demo::kCornerW, demo::kCornerH,
                 std::vector<std::uint32_t>(static_cast<std::size_t>(demo::kCornerW) * demo::kCornerH, 0xFF181824u))) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", demo::kCornerLayerPicture);
    return 1;
  }
  return 0;
}
