// Writes the demo game folder: the compiled engine files of demo.game and
// the picture files of demo_scene.h.
//   make_demo <demo.game> <game folder> [<archive name>]
// With an archive name the compiled engine files are also packed into that
// archive in the folder, as a game ships them: the engine then counts its
// scripts as compiled and needs no outside compiler.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "demo/demo_scene.h"
#include "platform/files.h"
#include "tests/support/game_writer.h"
#include "tests/support/zpf_writer.h"

namespace {

// The layer command with its 58 parameters (texts: names and file names).
std::string layer_command() {
  std::string line = "command 1 layer";
  for (int i = 0; i <= 57; ++i) {
    const bool text = i == 0 || i == 43 || i == 46 || i == 47 || i == 48 || i == 51;
    line += " p" + std::to_string(i) + (text ? ":text:0" : ":num:0");
  }
  return line + "\n";
}

// Commands 2 (layer drawing) and 26 (text style) with their parameters.
std::string draw_commands() {
  std::string line = "command 2 draw";
  for (int i = 0; i <= 70; ++i) line += " p" + std::to_string(i) + (i <= 3 || i == 11 ? ":text:0" : ":num:0");
  line += "\ncommand 26 style";
  for (int i = 0; i <= 11; ++i) line += " p" + std::to_string(i) + (i == 2 ? ":text:0" : ":num:0");
  return line + "\n";
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: make_demo <demo.game> <game folder> [<archive name>]\n");
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
    if (utf8_to_sjis((layer_command() + draw_commands() + game).c_str(), &sjis) != 0)
      throw std::runtime_error("the demo's text has no Shift-JIS form");
    const GameFiles files = build_game(sjis);
    if (!write_game_folder(argv[2], files)) {
      std::fprintf(stderr, "make_demo: cannot write %s\n", argv[2]);
      return 1;
    }
    if (argc == 4) {
      std::vector<ZpfItem> items;
      for (const auto& [name, bytes] : files) items.push_back(zpf_item(name, std::string(bytes.begin(), bytes.end())));
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
  return 0;
}
