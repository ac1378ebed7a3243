// The task-state text: a task's stacks, state word and script as text.
#include "engine/vm/task_state.h"

#include <cstring>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u8 kSignature[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// ---- the text's numbers ----

void put_number(std::string& out, u64 v, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    u32 d = static_cast<u32>(v >> (4 * i)) & 15u;
    out.push_back(static_cast<char>(i == digits - 1 ? d + 1 : 'a' + d));
  }
}

struct StateReader {
  const u8* p;
  u32 length;
  u32 pos = 0;
  bool ok = true;
  u64 number(int digits) {
    u64 v = 0;
    for (int i = 0; i < digits; ++i) {
      if (!ok || pos >= length) {
        ok = false;
        return 0;
      }
      int b = p[pos++];
      int d = i == 0 ? b - 1 : b - 'a';
      if (d < 0 || d > 15) {
        ok = false;
        return 0;
      }
      v = v << 4 | static_cast<u64>(d);
    }
    return v;
  }
  // A depth: u8, at most 63 (the stacks have 64 frames).
  u32 depth() {
    u64 d = number(2);
    if (d >= kStackDepth) ok = false;
    return static_cast<u32>(d);
  }
};

}  // namespace

std::string encode_task_state(const ScriptContext* c) {
  std::string out(reinterpret_cast<const char*>(kSignature), 8);
  put_number(out, c->block_a_depth, 2);
  for (u32 i = 0; i < c->block_a_depth; ++i) {
    const BlockFrame* f = c->block_a_frames[i];
    put_number(out, f ? f->saved_block_b_depth : 0, 2);
    put_number(out, f ? f->head_pc : 0, 8);
    put_number(out, f ? f->end_pc : 0, 8);
  }
  u32 calls = c->call_depth > 0 ? static_cast<u32>(c->call_depth) : 0;
  put_number(out, calls, 2);
  for (u32 i = 0; i < calls; ++i) {
    const CallFrame* f = c->call_frames[i];
    put_number(out, f ? f->saved_block_a_depth : 0, 2);
    put_number(out, f ? f->saved_block_b_depth : 0, 2);
    put_number(out, f ? f->return_pc : 0, 8);
    put_number(out, f ? f->return_script : 0, 4);
    put_number(out, f ? f->call_line & 0xFFFFu : 0, 4);
  }
  put_number(out, c->block_b_depth, 2);
  for (u32 i = 0; i < c->block_b_depth; ++i) {
    const LoopFrame* f = c->block_b_frames[i];
    put_number(out, f ? f->saved_block_a_depth : 0, 2);
    put_number(out, f ? f->body_pc : 0, 8);
    put_number(out, f ? f->end_pc : 0, 8);
    put_number(out, f ? static_cast<u32>(f->counter) : 0, 8);
    put_number(out, f ? static_cast<u32>(f->count) : 0, 8);
  }
  put_number(out, c->state_word, 8);
  const std::string& name =
      c->script_no < g_engine_data.scripts.size() ? g_engine_data.scripts[c->script_no].source_name : std::string();
  u32 n = static_cast<u32>(name.size() > kMaxTaskStateName ? kMaxTaskStateName : name.size());
  put_number(out, n, 8);
  put_number(out, 0, 8);
  out.append(name, 0, n);
  return out;
}

int restore_task_state(const char* text, u32 length, ScriptContext* c) {
  const u8* p = reinterpret_cast<const u8*>(text);
  if (length < 8 || std::memcmp(p, kSignature, 8) != 0) {
    report_error_code_at(kErrTaskStateSignature, 1);
    return 0;
  }
  StateReader r{p, length};
  r.pos = 8;
  // Everything is read into copies first: a text that fails half way
  // leaves the task as it was.
  u32 a = r.depth();
  std::vector<BlockFrame> blocks(a);
  for (BlockFrame& f : blocks) {
    f.saved_block_b_depth = static_cast<u8>(r.depth());
    f.head_pc = static_cast<u32>(r.number(8));
    f.end_pc = static_cast<u32>(r.number(8));
  }
  u32 calls = r.depth();
  std::vector<CallFrame> frames(calls);
  for (CallFrame& f : frames) {
    f.saved_block_a_depth = static_cast<u8>(r.depth());
    f.saved_block_b_depth = static_cast<u8>(r.depth());
    f.return_pc = static_cast<u32>(r.number(8));
    f.return_script = static_cast<u16>(r.number(4));
    f.call_line = static_cast<u32>(r.number(4));
  }
  u32 b = r.depth();
  std::vector<LoopFrame> loops(b);
  for (LoopFrame& f : loops) {
    f.saved_block_a_depth = static_cast<u8>(r.depth());
    f.body_pc = static_cast<u32>(r.number(8));
    f.end_pc = static_cast<u32>(r.number(8));
    f.counter = static_cast<i32>(static_cast<u32>(r.number(8)));
    f.count = static_cast<i32>(static_cast<u32>(r.number(8)));
  }
  u32 state_word = static_cast<u32>(r.number(8));
  u32 name_length = static_cast<u32>(r.number(8));
  r.number(8);
  if (name_length > kMaxTaskStateName) name_length = kMaxTaskStateName;
  if (!r.ok || r.pos > length || name_length > length - r.pos) {
    report_error_code_at(kErrTaskStateDamaged, 1);
    return -1;
  }
  std::string name(text + r.pos, name_length);
  r.pos += name_length;
  i64 script = -1;
  for (std::size_t i = 0; i < g_engine_data.scripts.size(); ++i) {
    if (g_engine_data.scripts[i].source_name == name) {
      script = static_cast<i64>(i);
      break;
    }
  }
  if (script < 0) {
    report_error_at(kErrTaskStateScript, 1, command_name_of(95), name.c_str());
    return 0;
  }
  for (u32 i = 0; i < calls; ++i) {
    if (frames[i].return_script >= g_engine_data.scripts.size()) {
      report_error_code_at(kErrTaskStateDamaged, 1);
      return -1;
    }
  }
  // The depths saved inside the frames become depths again (a loop end
  // restores its block depth, a break or a return theirs): frames exist up
  // to the deepest of them, so no later command meets a missing frame.
  u32 need_a = a, need_b = b;
  for (const BlockFrame& f : blocks) need_b = f.saved_block_b_depth > need_b ? f.saved_block_b_depth : need_b;
  for (const LoopFrame& f : loops) need_a = f.saved_block_a_depth > need_a ? f.saved_block_a_depth : need_a;
  for (const CallFrame& f : frames) {
    need_a = f.saved_block_a_depth > need_a ? f.saved_block_a_depth : need_a;
    need_b = f.saved_block_b_depth > need_b ? f.saved_block_b_depth : need_b;
  }
  if (ensure_block_frames(c, need_a) != 0 || ensure_call_frames(c, calls) != 0 || ensure_loop_frames(c, need_b) != 0)
    return -1;
  for (u32 i = 0; i < a; ++i) *c->block_a_frames[i] = blocks[i];
  for (u32 i = 0; i < calls; ++i) {
    CallFrame* f = c->call_frames[i];
    f->saved_block_a_depth = frames[i].saved_block_a_depth;
    f->saved_block_b_depth = frames[i].saved_block_b_depth;
    f->return_pc = frames[i].return_pc;
    f->return_script = frames[i].return_script;
    f->call_line = frames[i].call_line;
  }
  for (u32 i = 0; i < b; ++i) *c->block_b_frames[i] = loops[i];
  c->block_a_depth = static_cast<u8>(a);
  c->call_depth = static_cast<i8>(calls);
  c->block_b_depth = static_cast<u8>(b);
  c->state_word = state_word;
  c->script_no = static_cast<u16>(script);
  return static_cast<int>(r.pos);
}
