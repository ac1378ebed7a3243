// Script throughput: a compiled loop of two assignments, a conditional block
// and a jump back to its label (four instructions a pass), run by the
// scheduler's turn loop through the handler tables, against the same loop
// compiled by the C++ compiler, the physical limit. Rates are instructions
// per second; ratio_to_native is the scheduler's rate over the compiled
// loop's (the compiled loop counts its four statements as instructions).
//
//   top: set v1000 += 1
//        set v1001 = v1000 * 3
//        if v1000 < N
//          jump top
//        endif
//        return (ends the turn)
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "engine/frame/hashes.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "engine/vm/zbn_format.h"
#include "tests/support/arg_record_writer.h"

namespace {

constexpr u32 kPasses = 1000;
constexpr i64 kInstructionsPerRun = 4 * kPasses + 2;

void put_u16(std::vector<u8>& b, u32 v) {
  b.push_back(static_cast<u8>(v));
  b.push_back(static_cast<u8>(v >> 8));
}
void put_u32(std::vector<u8>& b, u32 v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<u8>(v >> (8 * i)));
}
void op(std::vector<u8>& code, u8 opcode, std::initializer_list<u8> operand) {
  code.push_back(opcode);
  put_u16(code, static_cast<u32>(operand.size()));
  code.insert(code.end(), operand.begin(), operand.end());
}
void var_op(std::vector<u8>& code, u8 opcode, u32 id) { op(code, opcode, {0, static_cast<u8>(id), static_cast<u8>(id >> 8)}); }

// A command list of 121 commands without names or parameters.
std::vector<u8> command_list() {
  std::vector<u8> c(8, 0);
  put_u32(c, kCommandCount);
  put_u32(c, 0);
  for (u32 i = 0; i < kCommandCount; ++i) {
    c.push_back(0);
    c.push_back(0);
  }
  for (int e = 0; e < 37; ++e) c.push_back(0);
  c.resize(c.size() + 256, 0);
  return c;
}

struct Asm {
  std::vector<u8> instr, args, pool;
  u32 count = 0;
  void instruction(u8 cmd, u8 nargs) {
    instr.push_back(cmd);
    instr.push_back(nargs);
    put_u16(instr, 0);
    ++count;
  }
  void record(u8 param, u8 type, u8 assign, const std::vector<u8>& code) {
    CommandArgRecord r{param, 0, type, assign, static_cast<u32>(code.size()), static_cast<u32>(pool.size())};
    raw(r);
    pool.insert(pool.end(), code.begin(), code.end());
  }
  void raw(const CommandArgRecord& r) {
    u8 b[kArgRecordSize];
    write_arg_record(b, r);
    args.insert(args.end(), b, b + kArgRecordSize);
  }
  std::vector<u8> file() const {
    std::vector<u8> b(8, 0);
    put_u32(b, count);
    put_u32(b, count * 4);
    put_u32(b, static_cast<u32>(args.size()));
    put_u32(b, static_cast<u32>(pool.size()));
    put_u32(b, count * 4);
    b.resize(kScriptHeaderSize, 0);
    std::vector<u8> lines;
    for (u32 i = 0; i < count; ++i) put_u32(lines, i + 1);
    const std::vector<u8>* sections[4] = {&instr, &args, &pool, &lines};
    for (const std::vector<u8>* s : sections)
      for (std::size_t i = 0; i < s->size(); ++i) b.push_back((*s)[i] ^ kScriptSectionKey[i & 3]);
    return b;
  }
};

ScriptRecord* g_script = nullptr;
ScriptContext* g_ctx = nullptr;

void set_up() {
  if (g_script) return;
  init_expr_ops(1);
  init_var_ops();
  init_arg_eval_tables();
  // The command layer binds its handlers before the command list is read,
  // as at start-up; without them every instruction is refused as damaged.
  init_command_table();
  std::vector<u8> list = command_list();
  if (parse_command_list(list.data(), list.size()) != 0) return;
  fill_command_table();
  var_table_create(1100);
  var_alloc_int(1000, 0);
  var_alloc_int(1001, 0);
  Asm a;
  std::vector<u8> c;
  a.instruction(53, 2);  // set v1000 += 1
  c.clear();
  var_op(c, 'V', 1000);
  op(c, ')', {});
  a.record(0, 1, 1, c);
  c.clear();
  op(c, 'B', {1});
  a.record(1, 1, 0, c);
  a.instruction(53, 2);  // set v1001 = v1000 * 3
  c.clear();
  var_op(c, 'V', 1001);
  op(c, ')', {});
  a.record(0, 1, 0, c);
  c.clear();
  var_op(c, 'H', 1000);
  op(c, 'B', {3});
  op(c, '*', {});
  a.record(1, 1, 0, c);
  a.instruction(44, 3);  // if v1000 < N
  c.clear();
  var_op(c, 'H', 1000);
  op(c, 'I', {static_cast<u8>(kPasses), static_cast<u8>(kPasses >> 8), 0, 0});
  op(c, '<', {});
  a.record(0, 1, 0, c);
  a.raw(CommandArgRecord{1, 0, 1, 0, 0, 0});  // no further branch
  a.raw(CommandArgRecord{2, 0, 1, 0, 4, 0});  // the end command
  a.instruction(42, 1);                       // jump top (resolved)
  a.raw(CommandArgRecord{0, 0, 3, 0, kResolvedLabelBase + 0, 0});
  a.instruction(48, 0);  // endif
  a.instruction(79, 0);  // return: ends the turn of a task that was not called
  std::vector<u8> file = a.file();
  g_script = parse_script_file(file.data(), file.size(), "bench");
  if (!g_script) return;
  LabelRecord top;
  top.name = "top";
  top.hash = murmur_hash2("top", 3);
  g_engine_data.labels.push_back(top);
  g_ctx = static_cast<ScriptContext*>(std::calloc(1, sizeof(ScriptContext)));
  ensure_block_frames(g_ctx, 1);
  ensure_loop_frames(g_ctx, 0);
  ensure_call_frames(g_ctx, 0);
  g_ctx->script = g_script;
}

void run_script() {
  var_record(1000)->ints[0] = 0;
  g_ctx->pc = 0;
  g_ctx->block_a_depth = 0;
  run_task_turn(g_ctx, nullptr);
}

volatile i64 g_sink;

void run_native() {
  i64 a = 0, b = 0;
  for (;;) {
    benchmark::DoNotOptimize(a);
    a += 1;
    b = a * 3;
    benchmark::DoNotOptimize(b);
    if (!(a < kPasses)) break;
  }
  g_sink = b;
}

double seconds_per_run(void (*fn)(), int runs) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
}

void BM_ScriptLoop(benchmark::State& state) {
  set_up();
  if (!g_ctx) {
    state.SkipWithError("the loop script did not load");
    return;
  }
  for (auto _ : state) run_script();
  if (var_get_int(1001, 0) != 3 * kPasses) state.SkipWithError("the loop computed a wrong value");
  state.SetItemsProcessed(state.iterations() * kInstructionsPerRun);
  state.counters["ratio_to_native"] = seconds_per_run(run_native, 20000) / seconds_per_run(run_script, 200);
}

void BM_NativeLoop(benchmark::State& state) {
  for (auto _ : state) run_native();
  state.SetItemsProcessed(state.iterations() * kInstructionsPerRun);
}

}  // namespace

BENCHMARK(BM_NativeLoop);
BENCHMARK(BM_ScriptLoop);
BENCH_CHECKED_MAIN()
