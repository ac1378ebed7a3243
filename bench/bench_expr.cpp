// Expression evaluation: code that reads 16 elements of an integer array and
// adds them up (16 element reads and 15 additions per run, 31 operations),
// against the same sum compiled by the C++ compiler, the physical limit. The
// rates are in operations per second; ratio_to_native is the evaluator's
// rate over the compiled loop's.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <chrono>
#include <vector>

#include "engine/vm/expr.h"
#include "engine/vm/vars.h"

namespace {

constexpr u32 kElements = 16;
constexpr u32 kArray = 1000;
constexpr i64 kOpsPerRun = 2 * kElements - 1;

void put(std::vector<u8>& code, u8 op, std::initializer_list<u8> operand) {
  code.push_back(op);
  code.push_back(static_cast<u8>(operand.size()));
  code.push_back(0);
  code.insert(code.end(), operand.begin(), operand.end());
}

// V:1000 B:k ) for k = 0..15, with a '+' after each but the first.
const std::vector<u8>& sum_code() {
  static const std::vector<u8> code = [] {
    std::vector<u8> c;
    for (u32 k = 0; k < kElements; ++k) {
      put(c, 'V', {0, static_cast<u8>(kArray & 0xFF), static_cast<u8>(kArray >> 8)});
      put(c, 'B', {static_cast<u8>(k)});
      put(c, ')', {});
      if (k) put(c, '+', {});
    }
    return c;
  }();
  return code;
}

void set_up() {
  static bool done = false;
  if (done) return;
  done = true;
  init_expr_ops(1);
  var_table_create(kArray + 1);
  VarRecord* v = var_record(kArray);
  v->dim_count = 1;
  v->dims[0] = kElements;
  var_alloc_int(kArray, 0);
  for (u32 k = 0; k < kElements; ++k) v->ints[k] = k * 3 + 1;
}

volatile i64 g_sink;
std::vector<i64> g_native(kElements);

void run_evaluator() {
  const std::vector<u8>& code = sum_code();
  g_sink = expr_eval_int(code.data(), static_cast<u32>(code.size()));
}

void run_native() {
  const i64* a = g_native.data();
  benchmark::DoNotOptimize(a);
  i64 s = a[0];
  for (u32 k = 1; k < kElements; ++k) s += a[k];
  g_sink = s;
  benchmark::ClobberMemory();
}

double seconds_per_run(void (*fn)(), int runs) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
}

void BM_EvaluatorSum(benchmark::State& state) {
  set_up();
  for (auto _ : state) run_evaluator();
  i64 expected = 0;
  for (u32 k = 0; k < kElements; ++k) expected += k * 3 + 1;
  if (g_sink != expected) state.SkipWithError("the evaluator computed a wrong sum");
  state.SetItemsProcessed(state.iterations() * kOpsPerRun);
  state.counters["ratio_to_native"] = seconds_per_run(run_native, 2000000) / seconds_per_run(run_evaluator, 200000);
}

void BM_NativeSum(benchmark::State& state) {
  for (u32 k = 0; k < kElements; ++k) g_native[k] = k * 3 + 1;
  for (auto _ : state) run_native();
  state.SetItemsProcessed(state.iterations() * kOpsPerRun);
}

}  // namespace

BENCHMARK(BM_NativeSum);
BENCHMARK(BM_EvaluatorSum);
BENCH_CHECKED_MAIN()
