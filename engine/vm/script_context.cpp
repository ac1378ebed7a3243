// Script contexts: creation, frames, script switching, the system task's
// context and the system variables that read a context.
#include "engine/vm/script_context.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/frame/errors.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_files.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vm_errors.h"
#include "platform/clock.h"
#include "platform/platform.h"

namespace {

int out_of_memory() {
  report_error_code(kErrOutOfMemory, 1);
  return -1;
}

template <class Frame>
int ensure_frames(Frame** frames, u32 index) {
  if (index >= kStackDepth) index = kStackDepth - 1;
  for (u32 i = 0; i <= index; ++i) {
    if (frames[i]) continue;
    frames[i] = static_cast<Frame*>(std::calloc(1, sizeof(Frame)));
    if (!frames[i]) return out_of_memory();
  }
  return 0;
}

void free_values(CallValues& v) {
  for (char*& t : v.texts) {
    std::free(t);
    t = nullptr;
  }
}

void release_context_payload(void* payload) { free_script_context(static_cast<ScriptContext*>(payload)); }

}  // namespace

int make_script_context(ObjectNode* node) {
  if (!node) return 0;
  auto* ctx = static_cast<ScriptContext*>(std::calloc(1, sizeof(ScriptContext)));
  if (!ctx) return out_of_memory();
  ctx->enable_a = 1;
  ctx->enable_b = 1;
  if (ensure_frames(ctx->block_a_frames, 0) != 0 || ensure_frames(ctx->call_frames, 0) != 0 ||
      ensure_frames(ctx->block_b_frames, 0) != 0) {
    free_script_context(ctx);
    return -1;
  }
  g_payload_release[kPayloadScriptContext] = release_context_payload;
  node->payload_kind = kPayloadScriptContext;
  node->payload = ctx;
  return 0;
}

void free_script_context(ScriptContext* ctx) {
  if (!ctx) return;
  if (g_scheduler.current_context == ctx) {
    g_scheduler.current_context = nullptr;
    g_scheduler.current_task = nullptr;
  }
  for (BlockFrame* f : ctx->block_a_frames) std::free(f);
  for (LoopFrame* f : ctx->block_b_frames) std::free(f);
  for (CallFrame* f : ctx->call_frames) {
    if (!f) continue;
    free_values(f->args);
    free_values(f->rets);
    std::free(f);
  }
  for (char* t : ctx->task_texts) std::free(t);
  std::free(ctx);
}

ScriptContext* task_context(ObjectNode* node) {
  if (!node || node->payload_kind != kPayloadScriptContext) return nullptr;
  return static_cast<ScriptContext*>(node->payload);
}

int ensure_block_frames(ScriptContext* ctx, u32 index) { return ensure_frames(ctx->block_a_frames, index); }
int ensure_loop_frames(ScriptContext* ctx, u32 index) { return ensure_frames(ctx->block_b_frames, index); }
int ensure_call_frames(ScriptContext* ctx, u32 index) { return ensure_frames(ctx->call_frames, index); }

int context_enter_script(ScriptContext* ctx, u32 n) {
  const ScriptRecord* s = load_script_file(n);
  if (!s) return -1;
  ctx->script_no = static_cast<u16>(n);
  ctx->script = s;
  return 0;
}

void set_task_timed_wait(ScriptContext* ctx, u32 ms) {
  ctx->wake_time = g_platform.clock->now_ms() + ms;
  ctx->wake_pending = 1;
}

int store_slot_text(char** slot, u32* capacity, const char* text, u32 length) {
  if (!*slot || *capacity < length + 1) {
    char* grown = static_cast<char*>(std::realloc(*slot, length + 1));
    if (!grown) return out_of_memory();
    *slot = grown;
    *capacity = length + 1;
  }
  std::memcpy(*slot, text, length);
  (*slot)[length] = 0;
  return 0;
}

// The system task's context; the task is pointed at "SYSTEM_START" when the
// engine files are loaded.
int attach_system_task_context(ObjectNode* system_task) {
  if (make_script_context(system_task) != 0) return -1;
  task_context(system_task)->is_system_task = 1;
  return 0;
}

// ---- system variables that read the current task ----

i64 sv_block_b_depth() {
  const ScriptContext* c = g_scheduler.current_context;
  return c ? c->block_b_depth : 0;
}

namespace {
const CallValues* current_call_values(u32 set) {
  const ScriptContext* c = g_scheduler.current_context;
  if (!c || c->call_depth < 0) return nullptr;
  const CallFrame* f = c->call_frames[c->call_depth];
  if (!f) return nullptr;
  return set == 0 ? &f->args : &f->rets;
}
}  // namespace

i64 sv_call_value_int(u32 set, u32 k) {
  const CallValues* v = current_call_values(set);
  return v && k >= 1 && k <= v->int_count && k <= kCallValues ? v->ints[k] : 0;
}
double sv_call_value_float(u32 set, u32 k) {
  const CallValues* v = current_call_values(set);
  return v && k >= 1 && k <= v->float_count && k <= kCallValues ? v->floats[k] : 0.0;
}
const char* sv_call_value_text(u32 set, u32 k) {
  const CallValues* v = current_call_values(set);
  if (!v || k < 1 || k > v->text_count || k > kCallValues || !v->texts[k]) return "";
  return v->texts[k];
}

i64 sv_task_slot_int(u32 k) {
  const ScriptContext* c = g_scheduler.current_context;
  return c && k >= 1 && k <= kCallValues ? c->task_ints[k] : 0;
}
double sv_task_slot_float(u32 k) {
  const ScriptContext* c = g_scheduler.current_context;
  return c && k >= 1 && k <= kCallValues ? c->task_floats[k] : 0.0;
}
const char* sv_task_slot_text(u32 k) {
  const ScriptContext* c = g_scheduler.current_context;
  if (!c || k < 1 || k > kCallValues || !c->task_texts[k]) return "";
  return c->task_texts[k];
}

const char* sv_current_task_name() {
  const ObjectNode* n = g_scheduler.current_task;
  return n && n->name ? n->name : "";
}
