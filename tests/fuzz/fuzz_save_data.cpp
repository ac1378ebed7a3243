// The save reader on arbitrary bytes: the header, the offsets, each record
// read, unpacked and restored by its kind (variables of every type, a
// layer's block, several variables, the global store), and the writer's
// walk over the file as an old save with one record cached. A file the
// writer accepts must come out whole: every record it holds reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/ztzid.h"
#include "engine/vm/save_data.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"

extern "C" {
int ZTZid_CompressedLength(int);
int ZTZid_Compress(const void*, int, void*, int*);
int ZTZid_Uncompress(const void*, int, void*, int*);
}

namespace {

void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  g_ztzid.compressed_length = ZTZid_CompressedLength;
  g_ztzid.compress = ZTZid_Compress;
  g_ztzid.uncompress = ZTZid_Uncompress;
}

void make_vars() {
  var_table_create(1010);
  VarRecord* v = var_record(1000);
  v->dim_count = 2;
  v->dims[0] = 3;
  v->dims[1] = 2;
  var_alloc_int(1000, 1);
  var_record(1001)->dim_count = 1;
  var_record(1001)->dims[0] = 4;
  var_alloc_double(1001, 0.5);
  var_record(1002)->dim_count = 1;
  var_record(1002)->dims[0] = 3;
  var_alloc_string(1002, "ab", 2);
  var_alloc_int(1003, 7);
  var_alloc_string(1004, "", 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (set_up(), true);
  (void)ready;
  if (size > (1u << 20)) return 0;
  make_vars();
  // The records that the offsets name (DNO 1 of a file shorter than the
  // table), at most 8 of them.
  u32 tried = 0;
  for (u32 dno = 1; dno <= kSaveDnoCount && tried < 8; ++dno) {
    const std::size_t at = 12 + 4 * dno;
    if (size < 16 + 4 * kSaveDnoCount ? dno > 1 : !(data[at] | data[at + 1] | data[at + 2] | data[at + 3])) continue;
    ++tried;
    SaveRecord r;
    if (read_save_record_from(data, size, dno, &r) != 0) continue;
    std::vector<u8> out;
    if (save_record_is_global_store(r)) {
      load_global_store(r);
      continue;
    }
    switch (r.kind) {
      case kSaveKindVar:
        if (unpack_record(r, &out) == 0)
          restore_typed_value(1000 + (r.var_id & 7) % 5, r.var_id >> 8 & 3, out.data(), static_cast<u32>(out.size()), 54);
        break;
      case kSaveKindLayer:
        if (unpack_record(r, &out) == 0) {
          i32 w = 0, h = 0;
          const u8* pixels = nullptr;
          if (parse_saved_layer(out.data(), static_cast<u32>(out.size()), &w, &h, &pixels) == 0 && w >= 1 && h >= 1 &&
              w <= 8192 && h <= 8192) {
            volatile u8 last = pixels[4ull * w * h - 1];
            (void)last;
          }
        }
        break;
      case kSaveKindVars: restore_saved_variables(r, 54); break;
      default: break;
    }
  }
  // The writer's walk: the file as the old save, DNO 2 cached.
  std::vector<u8> body;
  std::vector<u8> value;
  save_variable_data(1003, 1, 0, &value);
  if (make_record_body(kSaveKindVar, 1003, value, &body) == 0 && save_cache_put(2, std::move(body)) == 0) {
    std::vector<u8> image;
    if (compose_save_image(data, size, 1, &image) == 0) {
      SaveRecord r;
      if (read_save_record_from(image.data(), image.size(), 2, &r) != 0) __builtin_trap();
    }
  }
  free_memory_slot(-1);
  free_memory_images();
  var_table_free();
  g_quit_requested = 0;
  return 0;
}
