// Array, text and number commands: 81, 102, 103, 108 and 112.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/commands/command_results.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/var_reshape.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "platform/platform.h"
#include "platform/text_convert.h"

constexpr u32 kErrSubstringStart = 120010;
constexpr u32 kErrSubstringLength = 120020;
constexpr u32 kErrDeleteStart = 120110;
constexpr u32 kErrDeleteLength = 120120;
constexpr u32 kErrConvertSameKind = 108200;
constexpr u32 kErrEmptyTextClass = 101450;
constexpr u32 kErrTextRecordFull = 102000;
constexpr u32 kErrAppendTooLong = 102030;
constexpr u32 kTextRecordSize = 8192;

void str_upper_sjis(char* text) {
  if (!text) return;
  for (char* p = text; *p;) {
    u32 n = sjis_step(p);
    if (n == 1 && *p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    p += n;
  }
}

namespace {

u32 fail(u32 number) {
  report_error_code_at(number, 1);
  return kCommandFailed;
}

void str_lower_sjis(std::string* text) {
  for (std::size_t i = 0; i < text->size();) {
    u32 n = sjis_step(text->c_str() + i);
    char& c = (*text)[i];
    if (n == 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    i += n;
  }
}

// The byte offset after skipping count characters from offset, or -1 when
// the end comes first.
i64 skip_chars(const char* text, i64 offset, i64 count) {
  for (i64 k = 0; k < count; ++k) {
    if (!text[offset]) return -1;
    offset += sjis_step(text + offset);
  }
  return offset;
}

u32 char_count(const char* text) {
  u32 n = 0;
  for (const char* p = text; *p; p += sjis_step(p)) ++n;
  return n;
}

// Substring deletion (6) and extraction (3).
u32 substring(bool remove, const VarRef& first, const VarRef& dest) {
  if (ref_type(first) != kVarText || ref_type(dest) != kVarText) return fail(kErrNotText);
  std::string text = ref_text(first);
  i64 start = arg_value(4);
  i64 begin = skip_chars(text.c_str(), 0, start > 1 ? start - 1 : 0);
  if (begin < 0) return fail(remove ? kErrDeleteStart : kErrSubstringStart);
  i64 count = arg_value(5);
  i64 end = skip_chars(text.c_str(), begin, count > 0 ? count : 0);
  if (end < 0) return fail(remove ? kErrDeleteLength : kErrSubstringLength);
  std::string out = remove ? text.substr(0, static_cast<std::size_t>(begin)) + text.substr(static_cast<std::size_t>(end))
                           : text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
  return store_text(dest, out.c_str(), static_cast<u32>(out.size())) == 0 ? 0 : kCommandFailed;
}

// "0x..." as a 64-bit number; false when no hexadecimal digits follow or
// another character stands among them.
bool parse_hex(const char* text, i64* out) {
  const char* p = text + 2;
  if (!*p) return false;
  u64 v = 0;
  for (; *p; ++p) {
    char c = *p;
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = (v << 4) | static_cast<u64>(d);
  }
  *out = static_cast<i64>(v);
  return true;
}

// Number <-> text (2).
u32 convert_number_text(const VarRef& first, const VarRef& second) {
  u8 a = ref_type(first), b = ref_type(second);
  bool ok = (a == kVarText) != (b == kVarText) && a != kVarNone && b != kVarNone;
  if (!ok) return fail(kErrConvertSameKind);
  if (a == kVarInt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%" PRId64, var_get_int(first.id, first.element));
    return store_text(second, buf, static_cast<u32>(std::strlen(buf))) == 0 ? 0 : kCommandFailed;
  }
  if (a == kVarFloat) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", var_get_float(first.id, first.element));
    return store_text(second, buf, static_cast<u32>(std::strlen(buf))) == 0 ? 0 : kCommandFailed;
  }
  const char* text = ref_text(first);
  if (text[0] == '0' && text[1] == 'x') {
    i64 v = 0;
    if (!parse_hex(text, &v)) return kCommandFailed;
    return store_number(second, v) == 0 ? 0 : kCommandFailed;
  }
  bool dot = false;
  const char* p = text;
  for (; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (sjis_step(p) == 2 || !((c >= '0' && c <= '9') || c == '.' || c == '-')) break;
    if (c == '.') dot = true;
  }
  if (*p) return fail(kErrNotANumber);
  if (dot) return store_double(second, std::strtod(text, nullptr)) == 0 ? 0 : kCommandFailed;
  return store_number(second, std::strtoll(text, nullptr, 10)) == 0 ? 0 : kCommandFailed;
}

bool one_dimension(const VarRef& r, const char* message) {
  const VarRecord* v = r.valid ? var_record(r.id) : nullptr;
  if (v && v->dim_count == 1) return true;
  show_error_box("", sjis_message(message));
  return false;
}

// Clears element i of a variable to its type's empty value.
void clear_element(VarRecord* v, i64 i) {
  if (v->type == kVarInt && v->ints) v->ints[i] = 0;
  if (v->type == kVarFloat && v->floats) v->floats[i] = 0.0;
  if (v->type == kVarText && v->texts && v->texts[i]) v->texts[i][0] = 0;
}

// Moves element from into element to (texts swap their buffers, so none is
// lost or shared).
void move_element(VarRecord* v, i64 to, i64 from) {
  if (v->type == kVarInt && v->ints) v->ints[to] = v->ints[from];
  if (v->type == kVarFloat && v->floats) v->floats[to] = v->floats[from];
  if (v->type == kVarText && v->texts) {
    std::swap(v->texts[to], v->texts[from]);
    std::swap(v->capacities[to], v->capacities[from]);
  }
}

// Insert (14) and delete (15) at index i of a one-dimensional array. A
// negative index changes nothing: it names no element.
void array_insert(const VarRef& r, i64 i) {
  VarRecord* v = var_record(r.id);
  i64 size = v->count;
  if (i < 0 || size < 1) return;
  if (i >= size - 1) {
    clear_element(v, size - 1);
    return;
  }
  for (i64 k = size - 1; k > i; --k) move_element(v, k, k - 1);
  clear_element(v, i);
}

void array_delete(const VarRef& r, i64 i) {
  VarRecord* v = var_record(r.id);
  i64 size = v->count;
  if (i < 0 || size < 1) return;
  for (i64 k = i; k + 1 < size; ++k) move_element(v, k, k + 1);
  clear_element(v, size - 1);
}

using Convert = int (*)(const char*, std::size_t, std::string*);

}  // namespace

u32 cmd_array_modify() {
  if (decode_command_args(102) != 0) return kCommandFailed;
  VarRef first = arg_ref(0);
  VarRef dest = arg_given(1) ? arg_ref(1) : first;
  VarRef second = dest;
  if (arg_given(6)) return substring(true, first, dest);
  if (arg_given(3)) return substring(false, first, dest);
  if (arg_given(2)) return convert_number_text(first, second);

  // Text conversions, in this order; each reads the first variable.
  static const u32 kTextParams[] = {11, 12, 7, 8, 9, 10};
  for (u32 p : kTextParams) {
    if (!arg_given(p)) continue;
    if (ref_type(first) != kVarText || ref_type(dest) != kVarText) return fail(kErrNotText);
    std::string in = ref_text(first), out;
    const PlatformTextConvert* tc = g_platform.text;
    switch (p) {
      case 11: tc->to_fullwidth(in.data(), in.size(), &out); break;
      case 12: tc->to_halfwidth(in.data(), in.size(), &out); break;
      case 7:
        out = in;
        str_upper_sjis(out.data());
        break;
      case 8: tc->to_upper(in.data(), in.size(), &out); break;
      case 9:
        out = in;
        str_lower_sjis(&out);
        break;
      default: tc->to_lower(in.data(), in.size(), &out); break;
    }
    if (store_text(dest, out.c_str(), static_cast<u32>(out.size())) != 0) return kCommandFailed;
  }
  if (arg_given(13)) {
    if (!one_dimension(first, "配列サイズを変更しようとしましたが、この変数は１次元配列ではありません。"))
      return kCommandFailed;
    const VarRecord* v = var_record(first.id);
    const DecodedSlot& s = g_args_decoded.slots[arg_slot(13)];
    i64 size = apply_assign_op(s.assign_op, v->count, s.value);
    if (size < 1) {
      show_error_box("", sjis_message("変更後の配列サイズが不正です。"));
      return kCommandFailed;
    }
    if (size != v->count && var_resize_1d(first.id, size) != 0) return kCommandFailed;
  }
  if (arg_given(14)) {
    if (!one_dimension(first, "配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。"))
      return kCommandFailed;
    array_insert(first, arg_value(14));
  }
  if (arg_given(15)) {
    if (!one_dimension(first, "配列削除処理をしようとしましたが、この変数は１次元配列ではありません。"))
      return kCommandFailed;
    array_delete(first, arg_value(15));
  }
  if (arg_given(16)) {
    u32 masks[3] = {0, 0, 0};
    for (u32 p = 17; p <= 28; ++p)
      if (arg_given(p)) masks[(p - 17) / 4] |= 1u << ((p - 17) % 4);
    if (reinit_global_variables(masks[0], masks[1], masks[2]) != 0) return kCommandFailed;
  }
  return 0;
}

u32 cmd_var_query() {
  if (decode_command_args(103) != 0) return kCommandFailed;
  VarRef subject = arg_ref(0);
  VarRef result = arg_ref(1);
  const VarRecord* v = subject.valid ? var_record(subject.id) : nullptr;
  for (u32 p = 2; p <= 12; ++p) {
    if (!arg_given(p)) continue;
    if (p == 2) return store_number(result, v ? v->type : 0) == 0 ? 0 : kCommandFailed;
    if (p == 3) {
      const char* t = ref_text(subject);
      if (!*t) {
        report_error_at(kErrEmptyTextClass, 1, command_name(103), command_param_name(103, 3));
        return kCommandFailed;
      }
      return store_number(result, sjis_step(t)) == 0 ? 0 : kCommandFailed;
    }
    if (p == 4) return store_number(result, v ? v->dim_count : 0) == 0 ? 0 : kCommandFailed;
    return store_number(result, v ? v->dims[p - 5] : 0) == 0 ? 0 : kCommandFailed;
  }
  if (arg_given(13)) {
    if (ref_type(subject) != kVarText) return fail(kErrNotText);
    return store_number(result, char_count(ref_text(subject))) == 0 ? 0 : kCommandFailed;
  }
  // The search range: the first dimension, and never past the elements.
  i64 size = v ? (v->dim_count ? static_cast<i64>(v->dims[0]) : 0) : 0;
  if (v && size > v->count) size = v->count;
  i64 start = arg_given(20) ? arg_value(20) : 0;
  if (start < 0) start = 0;
  if (arg_given(14) && v) {
    i64 found = size;
    bool failed = false;
    double wanted_d = v->type == kVarFloat ? arg_double(18, &failed) : 0.0;
    if (failed) return kCommandFailed;
    for (i64 i = start; i < size; ++i) {
      bool eq = v->type == kVarInt     ? v->ints[i] == arg_value(17)
                : v->type == kVarFloat ? v->floats[i] == wanted_d
                : v->type == kVarText  ? std::strcmp(v->texts[i] ? v->texts[i] : "", arg_text(19)) == 0
                                       : false;
      if (eq) {
        found = i;
        break;
      }
    }
    if (store_number(result, found) != 0) return kCommandFailed;
  }
  if (arg_given(15) && v && v->type == kVarText && size > 0) {
    i64 end = arg_given(21) ? arg_value(21) : size - 1;
    if (end > size - 1) end = size - 1;
    if (start <= end) {
      i64 best = start;
      for (i64 i = start + 1; i <= end; ++i) {
        const char* a = v->texts[i] ? v->texts[i] : "";
        const char* b = v->texts[best] ? v->texts[best] : "";
        if (std::strcmp(a, b) < 0) best = i;
      }
      if (store_number(result, best) != 0) return kCommandFailed;
    }
  }
  if (arg_given(16)) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(ref_text(subject));
    i64 code = !t[0] ? 0 : sjis_step(reinterpret_cast<const char*>(t)) == 2 ? t[0] * 256 + t[1] : t[0];
    if (store_number(result, code) != 0) return kCommandFailed;
  }
  return 0;
}

namespace {

// Appends bytes to the text record with a class byte per character.
void append_to_text_record(const char* bytes, u32 length, bool blank_controls) {
  TextRecord* t = g_text_record;
  std::size_t tl = std::strlen(t->text_a), cl = std::strlen(t->text_b);
  for (u32 i = 0; i < length && tl + 2 < kTextRecordSize && cl + 1 < kTextRecordSize;) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (lead && i + 1 < length && bytes[i + 1]) {
      t->text_a[tl++] = bytes[i];
      t->text_a[tl++] = bytes[i + 1];
      t->text_b[cl++] = '2';
      i += 2;
      continue;
    }
    t->text_a[tl++] = blank_controls && (c < 0x20 || c > 0x7E) ? ' ' : bytes[i];
    t->text_b[cl++] = '1';
    ++i;
  }
  t->text_a[tl] = 0;
  t->text_b[cl] = 0;
}

}  // namespace

u32 cmd_text_append() {
  const CurrentInstruction& in = g_current_instruction;
  if (!g_text_record || in.record_count < 1 || !in.records) return 0;
  const CommandArgRecord& r = in.records[0];
  if (u64{r.code_offset} + r.code_length > in.expr_pool_size || (r.code_length && !in.expr_pool)) {
    report_error_code_at(kErrCompiledDataDamaged, 1);
    return kCommandFailed;
  }
  const char* bytes = reinterpret_cast<const char*>(in.expr_pool) + r.code_offset;
  u32 n = r.code_length;
  u32 literal = static_cast<u32>(strnlen(bytes, n));
  u64 length = std::strlen(g_text_record->text_a);
  if (static_cast<i64>(n) + static_cast<i64>(length) - 1 >= 8190) return fail(kErrTextRecordFull);
  append_to_text_record(bytes, literal, false);
  return 0;
}

u32 cmd_text_append_value() {
  const CurrentInstruction& in = g_current_instruction;
  if (!g_text_record || in.record_count < 1 || !in.records) return 0;
  const CommandArgRecord& r = in.records[0];
  static const u8 kNoCode[1] = {0};
  if (r.arg_type < 1 || r.arg_type > 4 || u64{r.code_offset} + r.code_length > in.expr_pool_size) {
    report_error_code_at(kErrCompiledDataDamaged, 1);
    return kCommandFailed;
  }
  const u8* code = r.code_length && in.expr_pool ? in.expr_pool + r.code_offset : kNoCode;
  char text[kExprTextSize];
  u32 n;
  if (r.arg_type == 1) {
    n = static_cast<u32>(std::snprintf(text, sizeof text, "%" PRId64, g_arg_eval.number[1](code, r.code_length)));
  } else if (r.arg_type == 2) {
    n = static_cast<u32>(std::snprintf(text, sizeof text, "%f", g_arg_eval.real[2](code, r.code_length)));
  } else {
    n = g_arg_eval.text[r.arg_type](text, code, r.code_length);
  }
  if (expr_last_failed()) return kCommandFailed;
  if (n >= sizeof text) n = sizeof text - 1;
  u64 length = std::strlen(g_text_record->text_a);
  if (length + n > 8189) return fail(kErrTextRecordFull);
  if (n > 1024) return fail(kErrAppendTooLong);
  append_to_text_record(text, n, true);
  return 0;
}

u32 cmd_text_end() {
  const CurrentInstruction& in = g_current_instruction;
  ScriptContext* ctx = g_scheduler.current_context;
  if (ctx && in.record_count >= 1 && in.records) {
    const CommandArgRecord& r = in.records[0];
    ctx->text_tag[0] = static_cast<u32>(r.param_id) | static_cast<u32>(r.unused) << 8 |
                       static_cast<u32>(r.arg_type) << 16 | static_cast<u32>(r.assign_op) << 24;
    ctx->text_tag[1] = r.code_length;
  }
  if (g_text_record) {
    TextRecord* t = g_text_record;
    t->complete = 1;
    std::size_t cl = std::strlen(t->text_b);
    if (cl + 1 < kTextRecordSize) {
      t->text_b[cl] = 'E';
      t->text_b[cl + 1] = 0;
    }
  }
  if (ctx) ctx->text_reset_pending = 1;
  return kCommandFailed;
}
