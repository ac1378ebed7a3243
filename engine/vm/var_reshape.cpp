// Resizing one-dimensional arrays and resetting globals.
#include "engine/vm/var_reshape.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/vm/expr.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

namespace {
int no_memory() {
  report_error_code_at(kErrOutOfMemory, 1);
  return -1;
}
}  // namespace

int var_resize_1d(u32 id, i64 n) {
  VarRecord* v = var_record(id);
  if (!v || n < 1) return -1;
  // The bound comes first: a huge n must not reach the allocator.
  if (n > kMaxVarElements) {
    report_error_at(kErrTooManyElements, 1, static_cast<i64>(kMaxVarElements));
    return -1;
  }
  i64 old = v->count;
  i64 keep = old < n ? old : n;
  std::size_t count = static_cast<std::size_t>(n);
  if (v->type == kVarInt) {
    i64* ints = static_cast<i64*>(std::calloc(count, sizeof(i64)));
    if (!ints) return no_memory();
    if (v->ints && keep > 0) std::memcpy(ints, v->ints, static_cast<std::size_t>(keep) * sizeof(i64));
    std::free(v->ints);
    v->ints = ints;
  } else if (v->type == kVarFloat) {
    double* floats = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (!floats) return no_memory();
    if (v->floats && keep > 0) std::memcpy(floats, v->floats, static_cast<std::size_t>(keep) * sizeof(double));
    std::free(v->floats);
    v->floats = floats;
  } else if (v->type == kVarText) {
    char** texts = static_cast<char**>(std::calloc(count, sizeof(char*)));
    u16* caps = static_cast<u16*>(std::calloc(count, sizeof(u16)));
    if (!texts || !caps) {
      std::free(texts);
      std::free(caps);
      return no_memory();
    }
    bool ok = true;
    for (i64 i = keep; i < n && ok; ++i) {
      texts[i] = static_cast<char*>(std::calloc(1, 1));
      caps[i] = 1;
      ok = texts[i] != nullptr;
    }
    if (!ok) {
      for (i64 i = keep; i < n; ++i) std::free(texts[i]);
      std::free(texts);
      std::free(caps);
      return no_memory();
    }
    for (i64 i = 0; i < keep; ++i) {
      texts[i] = v->texts ? v->texts[i] : nullptr;
      caps[i] = v->capacities ? v->capacities[i] : 0;
    }
    for (i64 i = keep; i < old; ++i)
      if (v->texts) std::free(v->texts[i]);
    std::free(v->texts);
    std::free(v->capacities);
    v->texts = texts;
    v->capacities = caps;
  } else {
    return -1;
  }
  v->dims[0] = static_cast<u32>(n);
  v->count = n;
  return 0;
}

int reinit_global_variables(u32 int_mask, u32 float_mask, u32 text_mask) {
  for (const VarDefinition& d : g_engine_data.var_defs) {
    if (d.scope != 1) continue;
    u32 mask = d.type == kVarInt ? int_mask : d.type == kVarFloat ? float_mask : d.type == kVarText ? text_mask : 0;
    if (d.var_class < 1 || d.var_class > 4 || !(mask & (1u << (d.var_class - 1)))) continue;
    VarRecord* v = var_record(d.var_id);
    if (!v) {
      report_error_at(kErrVarDefinitionOutside, 1, static_cast<u32>(d.var_id));
      return -1;
    }
    if (apply_var_definition(v, d) != 0) return -1;
  }
  return 0;
}
