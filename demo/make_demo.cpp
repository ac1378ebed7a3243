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
#include "demo/engine_errors.h"
#include "engine/frame/media_locator.h"
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
std::vector<std::uint8_t> bmp_bytes(int w, int h, const std::vector<std::uint32_t>& px) {
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
  return std::vector<std::uint8_t>(b.begin(), b.end());
}

// The engine's error texts as game-text lines, for "@engine_errors".
std::string engine_error_lines() {
  std::string lines;
  for (const demo::ErrorText& e : demo::kEngineErrorTexts)
    lines += "error " + std::to_string(e.number) + " " + e.text + "\n";
  return lines;
}

// Replaces the first line of the game text that is exactly the token by
// lines (ending in a line feed).
void fill_in(std::string* game, const std::string& token, const std::string& lines) {
  for (std::size_t at = game->find(token); at != std::string::npos; at = game->find(token, at + 1)) {
    const std::size_t end = at + token.size();
    const bool starts = at == 0 || (*game)[at - 1] == '\n';
    const bool ends = end == game->size() || (*game)[end] == '\n' || (*game)[end] == '\r';
    if (starts && ends) {
      game->replace(at, token.size(), lines.empty() || lines.back() != '\n' ? lines : lines.substr(0, lines.size() - 1));
      return;
    }
  }
}

// The lower-case name an item has in the archive ('\\' separators).
std::string archive_name(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
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
  const bool ship = argc > 1 && std::string(argv[1]) == "--ship";
  const int first = ship ? 2 : 1;
  const int args = argc - first;
  if ((ship && args < 3) || (!ship && args != 2 && args != 3)) {
    std::fprintf(stderr,
                 "usage: make_demo <demo.game> <game folder> [<archive name>]\n"
                 "       make_demo --ship <demo.game> <game folder> <archive name> [<file to pack>...]\n"
                 "       make_demo --check-list <game folder>\n");
    return 2;
  }
  const char* game_file = argv[first];
  const std::string folder = argv[first + 1];
  const char* archive = args >= 3 ? argv[first + 2] : nullptr;
  std::ifstream in(game_file);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "make_demo: cannot read %s\n", game_file);
    return 1;
  }
  // Every data file of the game, by its name in the folder ("ztbin\\..."
  // for the compiled engine files).
  GameFiles data;
  try {
    std::string game = text.str();
    fill_in(&game, "@draw_steps", draw_steps());
    fill_in(&game, "@engine_errors", engine_error_lines());
    // The game's texts are Shift-JIS, as the engine reads them.
    std::string sjis;
    if (utf8_to_sjis((demo_commands(game) + game).c_str(), &sjis) != 0)
      throw std::runtime_error("the demo's text has no Shift-JIS form");
    data = build_game(sjis);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_demo: %s\n", e.what());
    return 1;
  }
  // The background also as a zlib ZCG.
  const demo::Picture& bg = demo::kPictures[0];
  data[demo::kBackgroundZcg] = fixtures::write_zcg(demo::picture_pixels(0), bg.width, bg.height, kZcgZlib);
  for (int i = 0; i < demo::kPictureCount; ++i) {
    const demo::Picture& p = demo::kPictures[i];
    data[p.file] = bmp_bytes(p.width, p.height, demo::picture_pixels(i));
  }
  // The card also as a lossless WebP, encoded through libwebp.
  {
    const demo::Picture& card = demo::kPictures[1];
    const std::vector<std::uint32_t> px = demo::picture_pixels(1);
    std::uint8_t* out = nullptr;
    const std::size_t n = WebPEncodeLosslessBGRA(reinterpret_cast<const std::uint8_t*>(px.data()), card.width,
                                                 card.height, card.width * 4, &out);
    if (n == 0) {
      std::fprintf(stderr, "make_demo: cannot encode %s\n", demo::kCardWebp);
      return 1;
    }
    data[demo::kCardWebp] = std::vector<std::uint8_t>(out, out + n);
    WebPFree(out);
  }
  data[demo::kFrameSetFile] = demo::frame_set_file();
  data[demo::kTrayIconFile] = bmp_bytes(demo::kTrayIconSize, demo::kTrayIconSize, demo::tray_icon_pixels());
  // The corner layer's picture until its clip plays.
  data[demo::kCornerLayerPicture] = bmp_bytes(
      demo::kCornerW, demo::kCornerH,
      std::vector<std::uint32_t>(static_cast<std::size_t>(demo::kCornerW) * demo::kCornerH, 0xFF181824u));
  // Files named after the archive are packed under their own names (the
  // demo's sounds).
  for (int i = first + 3; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (!f.good() && !f.eof()) {
      std::fprintf(stderr, "make_demo: cannot read %s\n", argv[i]);
      return 1;
    }
    data[std::filesystem::path(argv[i]).filename().string()] = std::move(bytes);
  }

  // Shipped (--ship): every data file in the archive, nothing loose but the
  // movies. Otherwise every file loose, and with an archive name the
  // compiled engine files also in the archive and the ZCG background only
  // there: the engine then counts its scripts as compiled.
  auto packed = [&](const std::string& name) {
    return archive && (ship || name.rfind("ztbin\\", 0) == 0 || name == demo::kBackgroundZcg);
  };
  auto loose = [&](const std::string& name) { return !ship && !(archive && name == demo::kBackgroundZcg); };
  GameFiles loose_files;
  std::vector<ZpfItem> items;
  for (const auto& [name, bytes] : data) {
    if (loose(name)) loose_files[name] = bytes;
    if (packed(name)) {
      // Each entry carries the media type of its extension (it decides the
      // decoder of a sound or picture found in the archive).
      const std::string entry = archive_name(name);
      items.push_back(zpf_item(entry, std::string(bytes.begin(), bytes.end()), 0,
                               static_cast<std::uint8_t>(media_type_from_extension(entry.c_str()))));
    }
  }
  if (!write_game_folder(folder, loose_files)) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", folder.c_str());
    return 1;
  }
  if (archive && !write_zpf_file(folder + "/" + archive, items)) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", archive);
    return 1;
  }
  // The movies lie loose: the engine plays them from files.
  const std::string movies = demo::write_demo_movies(folder);
  if (!movies.empty()) {
    std::fprintf(stderr, "make_demo: %s\n", movies.c_str());
    return 1;
  }
  return 0;
}
