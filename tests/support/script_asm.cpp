// The script assembler (see script_asm.h).
#include "tests/support/script_asm.h"
#include "tests/support/arg_record_writer.h"

#include <cctype>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("script_asm: " + what); }

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

i64 parse_int(const std::string& s) {
  if (s.empty()) fail("missing number");
  std::size_t used = 0;
  long long v;
  try {
    bool neg = s[0] == '-';
    std::string body = neg ? s.substr(1) : s;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
      unsigned long long u = std::stoull(body, &used, 16);
      v = static_cast<long long>(neg ? 0 - u : u);
      used += neg ? 1 : 0;
    } else {
      v = std::stoll(s, &used, 10);
    }
  } catch (...) {
    fail("bad number '" + s + "'");
  }
  if (used != s.size()) fail("bad number '" + s + "'");
  return v;
}

std::vector<u8> parse_hex(const std::string& s) {
  std::vector<u8> out;
  std::string digits;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2) fail("odd hex '" + s + "'");
  for (std::size_t i = 0; i < digits.size(); i += 2) out.push_back(static_cast<u8>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

void instruction(std::vector<u8>& out, u8 op, const std::vector<u8>& operand) {
  out.push_back(op);
  put_u16(out, static_cast<u32>(operand.size()));
  out.insert(out.end(), operand.begin(), operand.end());
}

// Splits expression text into tokens; a quoted text is one token with its quotes.
std::vector<std::string> tokens_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    std::size_t start = i;
    if (text[i] == '"') {
      ++i;
      while (i < text.size() && text[i] != '"') {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        if ((lead || c == '\\') && i + 1 < text.size()) ++i;  // a pair or an escape
        ++i;
      }
      if (i >= text.size()) fail("unterminated text");
      ++i;
    } else {
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    }
    out.push_back(text.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::vector<u8> asm_expr(const std::string& text) {
  std::vector<u8> out;
  for (const std::string& t : tokens_of(text)) {
    if (t[0] == '"') {
      std::vector<u8> operand{'"'};
      operand.insert(operand.end(), t.begin() + 1, t.end());  // text and closing quote
      instruction(out, 'M', operand);
      continue;
    }
    if (t.size() == 1 && std::strchr("+-*/%=!<>SZ&|AO^Rsi,)", t[0])) {
      instruction(out, static_cast<u8>(t[0]), {});
      continue;
    }
    if (t.size() >= 2 && std::strchr("HVv", t[0]) && std::strchr(":#`", t[1])) {
      u32 id = static_cast<u32>(parse_int(t.substr(2)));
      if (id > 0xFFFF) fail("variable id above 65535");
      std::vector<u8> operand{static_cast<u8>(t[1] == ':' ? 0 : t[1])};
      put_u16(operand, id);
      instruction(out, static_cast<u8>(t[0]), operand);
      continue;
    }
    std::size_t colon = t.find(':');
    if (colon == std::string::npos) fail("unknown token '" + t + "'");
    std::string head = t.substr(0, colon), rest = t.substr(colon + 1);
    std::vector<u8> operand;
    if (head == "B" || head == "W" || head == "I" || head == "L") {
      u64 v = static_cast<u64>(parse_int(rest));
      u32 size = head == "B" ? 1 : head == "W" ? 2 : head == "I" ? 4 : 8;
      for (u32 i = 0; i < size; ++i) operand.push_back(static_cast<u8>(v >> (8 * i)));
      instruction(out, static_cast<u8>(head[0]), operand);
    } else if (head == "F") {
      double d = std::stod(rest);
      u64 bits;
      std::memcpy(&bits, &d, 8);
      put_u64(operand, bits);
      instruction(out, 'F', operand);
    } else if (head == "op") {
      std::size_t c2 = rest.find(':');
      std::string code = rest.substr(0, c2);
      u8 op = code.size() == 1 ? static_cast<u8>(code[0]) : static_cast<u8>(parse_int(code));
      instruction(out, op, c2 == std::string::npos ? std::vector<u8>{} : parse_hex(rest.substr(c2 + 1)));
    } else if (head == "x") {
      std::vector<u8> raw = parse_hex(rest);
      out.insert(out.end(), raw.begin(), raw.end());
    } else {
      fail("unknown token '" + t + "'");
    }
  }
  return out;
}

AsmScript assemble_script(const std::string& text) {
  AsmScript s;
  struct Command {
    std::string name;
    std::vector<std::tuple<std::string, u8, u8>> params;
  };
  std::map<u32, Command> commands;
  u8 key_map[256] = {};
  std::istringstream in(text);
  std::string line;
  bool in_instruction = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == '#') continue;
    if (word == "command") {
      u32 id;
      Command c;
      if (!(words >> id >> c.name)) fail("command needs an id and a name");
      std::string p;
      while (words >> p) {
        std::size_t a = p.find(':'), b = p.rfind(':');
        if (a == std::string::npos || a == b) fail("parameter '" + p + "' needs name:kind:range");
        std::string kind = p.substr(a + 1, b - a - 1);
        u8 k = kind == "num" ? 0 : kind == "text" ? 1 : kind == "raw" ? 2 : static_cast<u8>(parse_int(kind));
        c.params.emplace_back(p.substr(0, a), k, static_cast<u8>(parse_int(p.substr(b + 1))));
      }
      commands[id] = c;
    } else if (word == "keymap") {
      std::string key, vk;
      if (!(words >> key >> vk) || parse_int(key) < 0 || parse_int(key) > 255) fail("keymap needs a key and a code");
      key_map[parse_int(key)] = static_cast<u8>(parse_int(vk));
    } else if (word == "instr") {
      u32 id;
      if (!(words >> id)) fail("instr needs a command id");
      u32 call = 0, src_line = static_cast<u32>(s.lines.size() + 1);
      std::string opt;
      while (words >> opt) {
        if (opt.rfind("call=", 0) == 0) call = static_cast<u32>(parse_int(opt.substr(5)));
        else if (opt.rfind("line=", 0) == 0) src_line = static_cast<u32>(parse_int(opt.substr(5)));
        else fail("unknown instr option '" + opt + "'");
      }
      s.command_ids.push_back(static_cast<u8>(id));
      s.arg_counts.push_back(0);
      s.call_words.push_back(static_cast<u16>(call));
      s.first_record.push_back(static_cast<u32>(s.records.size()));
      s.lines.push_back(src_line);
      in_instruction = true;
    } else if (word == "arg" || word == "rawarg") {
      if (!in_instruction) fail("arg outside an instruction");
      CommandArgRecord r{};
      if (word == "rawarg") {
        std::string rest;
        std::getline(words, rest);
        std::vector<u8> raw = parse_hex(rest);
        if (raw.size() != kArgRecordSize) fail("rawarg needs 12 bytes");
        r = read_arg_record(raw.data());
      } else {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) fail("arg needs ': code'");
        std::istringstream head(line.substr(0, colon));
        std::string w, type, op = "set";
        u32 param;
        head >> w >> param >> type;
        head >> op;
        static const std::map<std::string, u8> kTypes{{"int", 1}, {"float", 2}, {"text", 3}, {"textf", 4}};
        static const std::map<std::string, u8> kOps{{"set", 0}, {"add", 1}, {"sub", 2}, {"mul", 3}, {"div", 4}};
        r.param_id = static_cast<u8>(param);
        r.arg_type = kTypes.count(type) ? kTypes.at(type) : static_cast<u8>(parse_int(type));
        r.assign_op = kOps.count(op) ? kOps.at(op) : static_cast<u8>(parse_int(op));
        std::vector<u8> code = asm_expr(line.substr(colon + 1));
        r.code_offset = static_cast<u32>(s.expr_pool.size());
        r.code_length = static_cast<u32>(code.size());
        s.expr_pool.insert(s.expr_pool.end(), code.begin(), code.end());
      }
      u8 bytes[kArgRecordSize];
      write_arg_record(bytes, r);
      s.arguments.insert(s.arguments.end(), bytes, bytes + kArgRecordSize);
      s.records.push_back(r);
      s.arg_counts.back()++;
    } else {
      fail("unknown statement '" + word + "'");
    }
  }
  for (std::size_t i = 0; i < s.command_ids.size(); ++i) {
    s.instructions.push_back(s.command_ids[i]);
    s.instructions.push_back(s.arg_counts[i]);
    put_u16(s.instructions, s.call_words[i]);
  }
  // The command list: 8 bytes not read, the count, 4 bytes not read, the
  // commands, 37 errno texts and the key map.
  u32 count = commands.empty() ? 0 : commands.rbegin()->first + 1;
  std::vector<u8>& c = s.command_list;
  c.assign(8, 0);
  put_u32(c, count);
  put_u32(c, 0);
  for (u32 id = 0; id < count; ++id) {
    auto it = commands.find(id);
    std::string name = it != commands.end() ? it->second.name : "";
    c.insert(c.end(), name.begin(), name.end());
    c.push_back(0);
    if (it == commands.end()) {
      c.push_back(0);
      continue;
    }
    c.push_back(static_cast<u8>(it->second.params.size()));
    for (const auto& [pname, kind, range] : it->second.params) {
      c.insert(c.end(), pname.begin(), pname.end());
      c.push_back(0);
      c.push_back(kind);
      c.push_back(range);
    }
  }
  for (int e = 0; e < 37; ++e) {
    std::string t = "errno " + std::to_string(e);
    c.insert(c.end(), t.begin(), t.end());
    c.push_back(0);
  }
  c.insert(c.end(), key_map, key_map + 256);
  return s;
}

int asm_load_command_list(const AsmScript& script) {
  return parse_command_list(script.command_list.data(), script.command_list.size());
}

void asm_select_instruction(const AsmScript& script, u32 n) {
  CurrentInstruction& in = g_current_instruction;
  in.command_id = script.command_ids.at(n);
  in.records = script.records.empty() ? nullptr : script.records.data() + script.first_record.at(n);
  in.record_count = script.arg_counts.at(n);
  in.expr_pool = script.expr_pool.data();
  in.expr_pool_size = static_cast<u32>(script.expr_pool.size());
}
