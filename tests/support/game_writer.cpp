// The game writer (see game_writer.h).
#include "tests/support/game_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

#include "engine/frame/hashes.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/zbn_format.h"
#include "tests/support/script_asm.h"
#include "tests/support/arg_record_writer.h"

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("game_writer: " + what); }

void put_u8(std::vector<u8>& out, u32 v) { out.push_back(static_cast<u8>(v)); }
void put_u16(std::vector<u8>& out, u32 v) {
  out.push_back(static_cast<u8>(v));
  out.push_back(static_cast<u8>(v >> 8));
}
void put_u32(std::vector<u8>& out, u32 v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<u8>(v >> (8 * i)));
}
void put_u64(std::vector<u8>& out, u64 v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<u8>(v >> (8 * i)));
}

std::string trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

i64 to_int(const std::string& s) {
  try {
    std::size_t used = 0;
    long long v = std::stoll(s, &used, 0);
    if (used != s.size()) fail("bad number '" + s + "'");
    return v;
  } catch (const std::invalid_argument&) {
    fail("bad number '" + s + "'");
  } catch (const std::out_of_range&) {
    fail("number out of range '" + s + "'");
  }
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(trim(part));
  return out;
}

std::string hex_record(u32 param, u32 type, u32 op, u32 length, u32 offset) {
  CommandArgRecord r{};
  r.param_id = static_cast<u8>(param);
  r.arg_type = static_cast<u8>(type);
  r.assign_op = static_cast<u8>(op);
  r.code_length = length;
  r.code_offset = offset;
  u8 b[kArgRecordSize];
  write_arg_record(b, r);
  static const char* kHex = "0123456789abcdef";
  std::string out;
  for (u8 x : b) {
    out += kHex[x >> 4];
    out += kHex[x & 15];
  }
  return out;
}

// One line of a script body: assembler text, or a position record waiting
// for its mark.
struct Line {
  std::string text;
  bool is_at = false;
  u32 param = 0;
  std::string mark;
};

struct Structure {
  char kind;  // 'i' if, 'l' loop
  u32 id;
  u32 branch;
};

struct ScriptBuild {
  u32 number = 0;
  std::string source_name;
  u32 value = 0;
  std::vector<Line> lines;
  u32 instructions = 0;
  std::map<std::string, u32> marks;
  std::vector<Structure> open;
  u32 next_id = 0;
  u32 block_depth = 0, loop_depth = 0;
};

struct LabelDef {
  std::string name;
  u32 instruction;
  u32 script;
  u32 depth_a, depth_b;
};

struct VarDef {
  u8 scope;
  u16 script;
  u16 id;
  u8 type;
  std::vector<u32> dims;
  std::string value;
};

struct Game {
  std::map<std::string, std::string> config;
  std::vector<std::pair<u32, std::string>> errors;
  u32 highest = 1199;
  u32 value124 = 0;
  std::vector<VarDef> vars;
  std::string command_lines;
  std::vector<ScriptBuild> scripts;
  std::vector<LabelDef> labels;
};

void emit(ScriptBuild& s, const std::string& text) {
  s.lines.push_back(Line{text, false, 0, ""});
  if (text.rfind("instr ", 0) == 0) ++s.instructions;
}
void emit_at(ScriptBuild& s, u32 param, const std::string& mark) { s.lines.push_back(Line{"", true, param, mark}); }
void set_mark(ScriptBuild& s, const std::string& name) {
  if (s.marks.count(name)) fail("mark '" + name + "' given twice");
  s.marks[name] = s.instructions;
}
std::string auto_mark(char kind, u32 id, const std::string& part) {
  return "~" + std::string(1, kind) + std::to_string(id) + part;
}

// "i: code", "f: code", "t: code" value lists of call and return.
void emit_values(ScriptBuild& s, const std::vector<std::string>& parts, std::size_t from, u32 int_base,
                 u32 float_base, u32 text_base, u32* word) {
  u32 ni = 0, nf = 0, nt = 0;
  for (std::size_t i = from; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    if (p.empty()) continue;
    if (p.size() < 2 || p[1] != ':') fail("value '" + p + "' needs i:, f: or t:");
    std::string code = trim(p.substr(2));
    if (p[0] == 'i') emit(s, "arg " + std::to_string(int_base + ++ni) + " int : " + code);
    else if (p[0] == 'f') emit(s, "arg " + std::to_string(float_base + ++nf) + " float : " + code);
    else if (p[0] == 't') emit(s, "arg " + std::to_string(text_base + ++nt) + " text : " + code);
    else fail("value '" + p + "' needs i:, f: or t:");
  }
  if (ni > 31 || nf > 31 || nt > 31) fail("too many values");
  *word = (ni << 3) | (nf / 4) | ((nf % 4) << 14) | (nt << 9);
}

u32 assign_op_of(const std::string& t) {
  static const std::map<std::string, u32> kOps{{"=", 0},  {"+=", 1}, {"-=", 2}, {"*=", 3}, {"/=", 4},
                                               {"%=", 5}, {"&=", 6}, {"|=", 7}, {"^=", 8}};
  auto it = kOps.find(t);
  return it == kOps.end() ? 99 : it->second;
}

// Splits "target <op> value" at the first operator word.
bool split_assignment(const std::string& rest, std::string* target, u32* op, std::string* value) {
  std::istringstream in(rest);
  std::string w, left;
  while (in >> w) {
    u32 o = assign_op_of(w);
    if (o != 99) {
      std::string v;
      std::getline(in, v);
      *target = trim(left);
      *op = o;
      *value = trim(v);
      return true;
    }
    left += w + " ";
  }
  return false;
}

void script_line(Game& g, ScriptBuild& s, const std::string& line) {
  std::istringstream words(line);
  std::string head;
  words >> head;
  std::string rest;
  std::getline(words, rest);
  rest = trim(rest);
  if (head == "instr" || head == "arg" || head == "rawarg") {
    emit(s, line);
  } else if (head == "at") {
    std::istringstream r(rest);
    u32 param;
    std::string mark;
    if (!(r >> param >> mark)) fail("at needs a parameter and a mark");
    emit_at(s, param, mark);
  } else if (head == "mark") {
    set_mark(s, rest);
  } else if (head == "label") {
    g.labels.push_back(LabelDef{rest, s.instructions, s.number, s.block_depth, s.loop_depth});
  } else if (head == "set" || head == "sett" || head == "setf") {
    std::string target, value;
    u32 op;
    if (!split_assignment(rest, &target, &op, &value)) fail("set needs 'target = value'");
    const char* type = head == "set" ? "int" : head == "sett" ? "text" : "float";
    emit(s, "instr 53");
    emit(s, "arg 0 int " + std::to_string(op) + " : " + target);
    emit(s, std::string("arg 1 ") + type + " : " + value);
  } else if (head == "dim" || head == "dimf" || head == "dims") {
    std::string target, value;
    u32 op;
    if (!split_assignment(rest, &target, &op, &value)) fail("dim needs 'target = value'");
    emit(s, head == "dim" ? "instr 50" : head == "dimf" ? "instr 25" : "instr 92");
    emit(s, "arg 0 int : " + target);
    emit(s, std::string("arg 1 ") + (head == "dim" ? "int" : head == "dimf" ? "float" : "text") + " : " + value);
  } else if (head == "if") {
    u32 id = s.next_id++;
    s.open.push_back(Structure{'i', id, 0});
    emit(s, "instr 44");
    emit(s, "arg 0 int : " + rest);
    emit_at(s, 1, auto_mark('i', id, "b0"));
    emit_at(s, 2, auto_mark('i', id, "end"));
    ++s.block_depth;
  } else if (head == "elif" || head == "else") {
    if (s.open.empty() || s.open.back().kind != 'i') fail(head + " outside an if");
    Structure& b = s.open.back();
    emit(s, "instr 45");
    set_mark(s, auto_mark('i', b.id, "b" + std::to_string(b.branch)));
    ++b.branch;
    emit(s, "instr 11");
    if (head == "elif") {
      emit(s, "arg 0 int : " + rest);
      emit_at(s, 1, auto_mark('i', b.id, "b" + std::to_string(b.branch)));
    }
  } else if (head == "endif") {
    if (s.open.empty() || s.open.back().kind != 'i') fail("endif outside an if");
    Structure b = s.open.back();
    s.open.pop_back();
    set_mark(s, auto_mark('i', b.id, "b" + std::to_string(b.branch)));
    set_mark(s, auto_mark('i', b.id, "end"));
    emit(s, "instr 48");
    --s.block_depth;
  } else if (head == "loop") {
    u32 id = s.next_id++;
    s.open.push_back(Structure{'l', id, 0});
    emit(s, "instr 55");
    emit(s, "arg 0 int : " + rest);
    emit_at(s, 1, auto_mark('l', id, "end"));
    ++s.loop_depth;
  } else if (head == "endloop") {
    if (s.open.empty() || s.open.back().kind != 'l') fail("endloop outside a loop");
    set_mark(s, auto_mark('l', s.open.back().id, "end"));
    s.open.pop_back();
    emit(s, "instr 58");
    --s.loop_depth;
  } else if (head == "break" || head == "continue" || head == "bbreak" || head == "bcontinue") {
    emit(s, head == "break" ? "instr 56" : head == "continue" ? "instr 57" : head == "bbreak" ? "instr 46" : "instr 47");
    if (!rest.empty()) emit(s, "arg 0 int : " + rest);
  } else if (head == "jump") {
    emit(s, "instr 42");
    emit(s, "arg 0 text : \"" + rest + "\"");
  } else if (head == "call" || head == "return") {
    std::vector<std::string> parts = split(rest, '|');
    bool call = head == "call";
    if (call && (parts.empty() || parts[0].empty())) fail("call needs a label");
    std::size_t at = s.lines.size();
    emit(s, "instr 0");  // rewritten below with the call word
    if (call) emit(s, "arg 0 text : \"" + parts[0] + "\"");
    u32 word = 0;
    emit_values(s, parts, call ? 1 : (parts.size() == 1 && parts[0].empty() ? 1 : 0), call ? 0 : static_cast<u32>(-1),
                call ? 16 : 15, call ? 32 : 31, &word);
    s.lines[at].text = std::string("instr ") + (call ? "43" : "79") + " call=" + std::to_string(word);
  } else if (head == "start") {
    std::vector<std::string> parts = split(rest, '|');
    std::istringstream first(parts.at(0));
    std::string task, label;
    first >> task >> label;
    emit(s, "instr 95");
    if (!task.empty() && task != "-") emit(s, "arg 0 text : \"" + task + "\"");
    if (!label.empty() && label != "-") emit(s, "arg 34 text : \"" + label + "\"");
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const std::string& p = parts[i];
      std::size_t colon = p.find(':');
      std::string name = trim(p.substr(0, colon));
      std::string code = colon == std::string::npos ? "" : trim(p.substr(colon + 1));
      std::istringstream nw(name);
      std::string key, op = "set";
      nw >> key >> op;
      if (key == "again") emit(s, "arg 37 int : B:1");
      else if (key == "key") emit(s, "arg 3 int " + op + " : " + code);
      else if (key == "enable_a") emit(s, "arg 1 int : " + code);
      else if (key == "enable_b") emit(s, "arg 2 int : " + code);
      else if (key == "state") emit(s, "arg 35 text : " + code);
      else if (key.size() > 1 && key[0] == 'i') emit(s, "arg " + std::to_string(3 + to_int(key.substr(1))) + " int : " + code);
      else if (key.size() > 1 && key[0] == 'f') emit(s, "arg " + std::to_string(13 + to_int(key.substr(1))) + " int : " + code);
      else fail("unknown start option '" + p + "'");
    }
  } else if (head == "stop") {
    emit(s, "instr 96");
    if (!rest.empty()) emit(s, "arg 0 text : \"" + rest + "\"");
  } else if (head == "wait") {
    emit(s, "instr 104");
    emit(s, "arg 0 int : " + rest);
  } else if (head == "nop") {
    emit(s, "instr 0");
  } else if (head == "end") {
    emit(s, "instr 79");
  } else {
    fail("unknown statement '" + head + "'");
  }
}

std::vector<u8> config_bytes(const std::map<std::string, std::string>& c) {
  auto num = [&](const char* k, u32 d) { return c.count(k) ? static_cast<u32>(to_int(c.at(k))) : d; };
  auto hex = [&](const char* k, std::vector<u8> d) {
    if (!c.count(k)) return d;
    std::vector<u8> out;
    const std::string& h = c.at(k);
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<u8>(std::stoul(h.substr(i, 2), nullptr, 16)));
    out.resize(d.size(), 0);
    return out;
  };
  std::vector<u8> b(16, 0);
  put_u32(b, num("width", 640));
  put_u32(b, num("height", 480));
  put_u32(b, num("show", 1));
  for (u8 x : hex("image", {1, 2, 3, 4, 5, 6, 0, 0})) b.push_back(x);
  for (u8 x : hex("sound", {1, 2, 0, 0})) b.push_back(x);
  put_u32(b, num("frame_thread", 0));
  put_u32(b, num("debug", 0));
  put_u32(b, num("sound_mode", 0));
  put_u32(b, num("switch0", 0));
  put_u32(b, num("switch1", 0));
  put_u32(b, num("switch2", 0));
  put_u32(b, num("loose0", 0));
  put_u32(b, num("loose1", 0));
  put_u32(b, 0);
  std::string title = c.count("title") ? c.at("title") : "k_lumbrane test";
  put_u16(b, static_cast<u32>(title.size()));
  b.insert(b.end(), title.begin(), title.end());
  return b;
}

}  // namespace

const std::string& standard_commands() {
  static const std::string kText = [] {
    auto params = [](const char* prefix, int from, int to, const char* kind) {
      std::string out;
      for (int i = from; i <= to; ++i) out += std::string(" ") + prefix + std::to_string(i) + ":" + kind + ":0";
      return out;
    };
    std::string t;
    t += "command 0 nop\n";
    t += "command 11 else\n";
    t += "command 25 dimf target:raw:0 value:num:0\n";
    t += "command 42 jump\n";
    t += "command 43 call label:text:0" + params("i", 1, 16, "num") + params("f", 1, 16, "raw") +
         params("t", 1, 16, "text") + "\n";
    t += "command 44 if\n";
    t += "command 45 skip\n";
    t += "command 46 bbreak n:num:0\n";
    t += "command 47 bcontinue n:num:0\n";
    t += "command 48 endif\n";
    t += "command 50 dim target:raw:0 value:num:0\n";
    t += "command 52 labelexists name:text:0 result:num:0\n";
    t += "command 53 set\n";
    t += "command 55 loop count:num:0 end:raw:0\n";
    t += "command 56 break n:num:0\n";
    t += "command 57 continue n:num:0\n";
    t += "command 58 endloop\n";
    t += "command 79 return" + params("i", 1, 16, "num") + params("f", 1, 16, "raw") + params("t", 1, 16, "text") + "\n";
    t += "command 92 dims target:raw:0 value:text:0\n";
    t += "command 95 start task:text:0 enable_a:num:0 enable_b:num:0 key:num:0" + params("i", 1, 10, "num") +
         params("f", 1, 10, "num") + params("p", 24, 33, "num") + " label:text:0 state:text:0 p36:num:0 again:num:0\n";
    t += "command 96 stop task:text:0\n";
    t += "command 104 wait frames:num:0 ms:num:0\n";
    return t;
  }();
  return kText;
}

std::vector<u8> script_file_bytes(const std::vector<u8>& instructions, const std::vector<u8>& arguments,
                                  const std::vector<u8>& pool, const std::vector<u32>& lines) {
  std::vector<u8> b(8, 0);
  put_u32(b, static_cast<u32>(instructions.size() / 4));
  put_u32(b, static_cast<u32>(instructions.size()));
  put_u32(b, static_cast<u32>(arguments.size()));
  put_u32(b, static_cast<u32>(pool.size()));
  put_u32(b, static_cast<u32>(lines.size() * 4));
  b.resize(kScriptHeaderSize, 0);
  std::vector<u8> line_bytes;
  for (u32 l : lines) put_u32(line_bytes, l);
  const std::vector<u8>* sections[4] = {&instructions, &arguments, &pool, &line_bytes};
  for (const std::vector<u8>* section : sections) {
    for (std::size_t i = 0; i < section->size(); ++i) b.push_back((*section)[i] ^ kScriptSectionKey[i & 3]);
  }
  return b;
}

GameFiles build_game(const std::string& text) {
  Game g;
  ScriptBuild* current = nullptr;
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string head;
    words >> head;
    std::string rest;
    std::getline(words, rest);
    rest = trim(rest);
    if (head == "config") {
      std::istringstream kv(rest);
      std::string item;
      while (kv >> item) {
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) fail("config needs key=value");
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        if (key == "title") {  // the title takes the rest of the line
          std::string more;
          std::getline(kv, more);
          value += more;
        }
        g.config[key] = value;
      }
    } else if (head == "error") {
      std::istringstream e(rest);
      u32 n;
      e >> n;
      std::string t;
      std::getline(e, t);
      g.errors.emplace_back(n, trim(t));
    } else if (head == "highest") {
      g.highest = static_cast<u32>(to_int(rest));
    } else if (head == "value124") {
      g.value124 = static_cast<u32>(to_int(rest));
    } else if (head.rfind("var", 0) == 0) {
      VarDef v{1, 0, 0, 0, {}, ""};
      if (head.size() > 4 && head[3] == '@') {
        v.scope = 2;
        v.script = static_cast<u16>(to_int(head.substr(4)));
      }
      std::size_t eq = rest.find('=');
      if (eq == std::string::npos) fail("var needs '= value'");
      std::istringstream d(rest.substr(0, eq));
      std::string id, type, size;
      d >> id >> type;
      v.id = static_cast<u16>(to_int(id));
      v.type = type == "int" ? 1 : type == "float" ? 2 : type == "text" ? 3 : 0;
      if (!v.type) fail("var type '" + type + "'");
      while (d >> size) v.dims.push_back(static_cast<u32>(to_int(size)));
      v.value = trim(rest.substr(eq + 1));
      g.vars.push_back(v);
    } else if (head == "command" || head == "keymap") {
      g.command_lines += line + "\n";
    } else if (head == "script") {
      std::istringstream sw(rest);
      ScriptBuild s;
      std::string opt;
      sw >> s.number >> s.source_name;
      while (sw >> opt)
        if (opt.rfind("value=", 0) == 0) s.value = static_cast<u32>(to_int(opt.substr(6)));
      g.scripts.push_back(s);
      current = &g.scripts.back();
    } else {
      if (!current) fail("'" + head + "' before any script");
      script_line(g, *current, line);
    }
  }

  GameFiles files;
  std::string commands = standard_commands() + g.command_lines;
  u32 script_count = 0;
  for (const ScriptBuild& s : g.scripts) script_count = std::max(script_count, s.number + 1);
  // The scripts.
  std::vector<u8> command_list;
  for (ScriptBuild& s : g.scripts) {
    if (!s.open.empty()) fail("script " + std::to_string(s.number) + " leaves a block or loop open");
    std::string body = commands;
    for (const Line& l : s.lines) {
      if (!l.is_at) {
        body += l.text + "\n";
        continue;
      }
      auto it = s.marks.find(l.mark);
      if (it == s.marks.end()) fail("mark '" + l.mark + "' is never set");
      body += "rawarg " + hex_record(l.param, 1, 0, it->second, 0) + "\n";
    }
    AsmScript a = assemble_script(body);
    command_list = a.command_list;
    char name[32];
    std::snprintf(name, sizeof name, "ztbin\\ztt%05u.zbn", s.number);
    files[name] = script_file_bytes(a.instructions, a.arguments, a.expr_pool, a.lines);
  }
  if (command_list.empty()) command_list = assemble_script(commands).command_list;
  files["ztbin\\ztc.zbn"] = command_list;

  // The script list.
  std::vector<u8> list(8, 0);
  put_u32(list, script_count);
  for (u32 n = 0; n < script_count; ++n) {
    const ScriptBuild* s = nullptr;
    for (const ScriptBuild& x : g.scripts)
      if (x.number == n) s = &x;
    std::string source = s ? s->source_name : "unused" + std::to_string(n) + ".txt";
    put_u32(list, n);
    put_u32(list, static_cast<u32>(source.size()));
    list.insert(list.end(), source.begin(), source.end());
    list.resize(list.size() + 16, 0);
    put_u32(list, s ? s->value : 0);
  }
  files["ztbin\\ztt_list.zbn"] = list;

  // Variable table header and definitions.
  std::vector<u8> ztt(4, 0);
  put_u32(ztt, kVarTableVersion);
  put_u32(ztt, g.highest);
  put_u32(ztt, g.value124);
  files["ztbin\\ztt.zbn"] = ztt;
  std::vector<u8> ztv(8, 0);
  put_u16(ztv, static_cast<u32>(g.vars.size()));
  for (const VarDef& v : g.vars) {
    put_u8(ztv, v.scope);
    put_u8(ztv, 0);
    put_u16(ztv, v.script);
    put_u16(ztv, v.id);
    put_u8(ztv, v.type);
    put_u8(ztv, static_cast<u32>(v.dims.size()));
    for (u32 d : v.dims) put_u32(ztv, d);
    if (v.type == 1) {
      put_u64(ztv, static_cast<u64>(to_int(v.value)));
    } else if (v.type == 2) {
      double d = std::stod(v.value);
      u64 bits;
      std::memcpy(&bits, &d, 8);
      put_u64(ztv, bits);
    } else {
      std::vector<u8> code = asm_expr(v.value);
      put_u16(ztv, static_cast<u32>(code.size()));
      ztv.insert(ztv.end(), code.begin(), code.end());
    }
  }
  files["ztbin\\ztv.zbn"] = ztv;

  // Labels, sorted by hash, with the bucket starts.
  struct Hashed {
    u32 hash;
    const LabelDef* def;
  };
  std::vector<Hashed> sorted;
  for (const LabelDef& l : g.labels) sorted.push_back(Hashed{murmur_hash2(l.name.data(), l.name.size()), &l});
  std::stable_sort(sorted.begin(), sorted.end(), [](const Hashed& a, const Hashed& b) { return a.hash < b.hash; });
  std::vector<u8> ztl(8, 0);
  put_u32(ztl, static_cast<u32>(sorted.size()));
  for (u32 b = 0; b < 256; ++b) {
    u32 first = 0;
    while (first < sorted.size() && (sorted[first].hash >> 24) < b) ++first;
    put_u32(ztl, first);
  }
  for (const Hashed& h : sorted) {
    const LabelDef& l = *h.def;
    if (l.name.size() > 255) fail("label name too long");
    put_u8(ztl, static_cast<u32>(l.name.size()));
    ztl.insert(ztl.end(), l.name.begin(), l.name.end());
    put_u32(ztl, h.hash);
    put_u32(ztl, l.instruction);
    put_u16(ztl, l.script);
    put_u8(ztl, l.depth_a);
    put_u8(ztl, l.depth_b);
  }
  files["ztbin\\ztl.zbn"] = ztl;

  // Error texts and the configuration.
  std::vector<u8> zte(8, 0);
  put_u32(zte, static_cast<u32>(g.errors.size()));
  put_u32(zte, 0);
  for (const auto& [number, t] : g.errors) {
    put_u32(zte, number);
    zte.insert(zte.end(), t.begin(), t.end());
    zte.push_back(0);
  }
  files["ztbin\\zte.zbn"] = zte;
  files["ztbin\\ztcfg.zbn"] = config_bytes(g.config);
  return files;
}

bool write_game_folder(const std::string& folder, const GameFiles& files) {
  for (const auto& [name, bytes] : files) {
    std::string path = folder;
    for (char c : "/" + name) path += c == '\\' ? '/' : c;
    std::size_t slash = path.find_last_of('/');
    std::string dir = path.substr(0, slash);
    // Folders one by one (mkdir -p).
    for (std::size_t i = 1; i <= dir.size(); ++i) {
      if (i == dir.size() || dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0755);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  return true;
}
