#include "engine/vm/save_data.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/ztzid.h"
#include "engine/vm/command_args.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "platform/files.h"
#include "platform/files_durable.h"
#include "platform/platform.h"

SavePackSwitches g_save_pack_switches;
MemoryImage g_memory_images[kMemoryImageCount];

namespace {

constexpr char kMagic[4] = {'Z', 'T', 'S', 'D'};
constexpr const char* kMemoryName = "(mem)";
constexpr u8 kBodyFlag = 1;
// Above this many bytes a single unpacked record is refused as damaged
// (the largest layer is 4 x 8192 x 8192 bytes plus its block).
constexpr u64 kMaxUnpacked = 4ull * 8192 * 8192 + 8 + kLayerBlockSize;

// Neither zlib nor the block compressor packs more than about 1032 bytes
// into one, so a larger unpacked size is damage; it is refused before
// anything of that size is allocated.
bool plausible_unpacked(u64 unpacked, u64 packed) { return unpacked <= packed * 1040 + 1024; }

struct CacheEntry {
  std::vector<u8> body;
  bool used = false;
};
CacheEntry g_cache[kSaveDnoCount + 1];

u32 get_u32(const u8* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }
u16 get_u16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
void put_u32(std::vector<u8>& b, u32 v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<u8>(v >> (8 * i)));
}
void put_u16(std::vector<u8>& b, u16 v) {
  b.push_back(static_cast<u8>(v));
  b.push_back(static_cast<u8>(v >> 8));
}
void set_u32(u8* p, u32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
}
void put_u64(std::vector<u8>& b, u64 v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<u8>(v >> (8 * i)));
}

void out_of_memory() { show_error_box("", "%s", sjis_message("メモリ不足です.")); }

bool damaged(const char* name) {
  report_error_at(kErrSaveNotSaveFile, 1, name);
  return false;
}

const char* command_label(u32 command) {
  return command < kMaxCommands && g_command_list.commands[command].name ? g_command_list.commands[command].name : "";
}

// Pack method of a kind by the switches (kSaveKindGlobalStore: the global
// store, whatever kind its record carries).
u32 method_for(u8 kind) {
  u8 on = kind == kSaveKindLayer ? g_save_pack_switches.layers
          : kind == kSaveKindGlobalStore ? g_save_pack_switches.global_store
                                         : g_save_pack_switches.variables;
  return on ? kPackBlock : kPackZlib;
}
int zlib_level_for(u8 kind) { return kind == kSaveKindGlobalStore ? 1 : 9; }

// Byte 1 of a body is always 1: the packing switches, not the record, say
// how it is packed.
void put_body_header(std::vector<u8>& b, u8 kind, u32 id, u32 packed, u32 unpacked) {
  b.push_back(kind);
  b.push_back(kBodyFlag);
  put_u16(b, static_cast<u16>(id));
  put_u32(b, packed);
  put_u32(b, unpacked);
}

// ---- reading a file or a memory image ----
struct SaveSource {
  std::FILE* file = nullptr;
  const u8* mem = nullptr;
  u64 size = 0;
  // Reads n bytes at offset; false when they are not all there.
  bool read_at(u64 offset, void* dst, u64 n) const {
    if (offset > size || n > size - offset) return false;
    if (mem) {
      if (n) std::memcpy(dst, mem + offset, n);
      return true;
    }
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(dst, 1, n, file) == n;
  }
};

int read_record(const SaveSource& src, const char* name, u32 dno, SaveRecord* out) {
  u8 head[16];
  if (!src.read_at(0, head, 16) || std::memcmp(head, kMagic, 4) != 0) {
    report_error_at(kErrSaveNotSaveFile, 1, name);
    return -1;
  }
  if (get_u32(head + 4) != kSaveVersion) {
    report_error_at(kErrSaveVersion, 1, name);
    return -1;
  }
  // DNO 0 would read the 1024 word at 12 as an offset, and a DNO above 1024
  // would read past the table: neither has a record.
  u8 word[4];
  u32 offset = 0;
  if (dno >= 1 && dno <= kSaveDnoCount) {
    if (!src.read_at(12 + 4ull * dno, word, 4)) {
      damaged(name);
      return -1;
    }
    offset = get_u32(word);
  }
  if (offset == 0) {
    report_error_at(kErrSaveNoRecord, 1, name, dno);
    return -1;
  }
  u8 rh[4 + kSaveBodyHeader];
  if (offset < kSaveRecordsStart || !src.read_at(offset, rh, sizeof rh) || get_u32(rh) != dno) {
    damaged(name);
    return -1;
  }
  out->dno = dno;
  out->kind = rh[4];
  out->flag = rh[5];
  out->var_id = static_cast<u32>(static_cast<i32>(static_cast<i16>(get_u16(rh + 6))));
  const u32 packed = get_u32(rh + 8);
  out->unpacked_size = get_u32(rh + 12);
  if (packed > src.size - offset - sizeof rh) {
    damaged(name);
    return -1;
  }
  out->packed.resize(packed);
  if (!src.read_at(offset + sizeof rh, out->packed.data(), packed)) {
    damaged(name);
    return -1;
  }
  return 0;
}

// ---- writing ----
struct WalkedRecord {
  u32 dno;
  u64 at;    // offset of the DNO word
  u64 size;  // 4 + body
};

// Checks src as a save file and lists its records in file order, reading
// only the header and each record's head. 0, or -1 after the report
// (nothing written).
int walk_records(const SaveSource& src, const char* name, std::vector<WalkedRecord>* out) {
  u8 head[16];
  if (src.size < 16 || !src.read_at(0, head, 16) || std::memcmp(head, kMagic, 4) != 0) {
    report_error_at(kErrSaveNotSaveFile, 1, name);
    return -1;
  }
  if (get_u32(head + 4) != kSaveVersion) {
    report_error_at(kErrSaveVersion, 1, name);
    return -1;
  }
  const u64 size = src.size;
  if (size < kSaveRecordsStart) {
    report_error_at(kErrSaveNotSaveFile, 1, name);
    return -1;
  }
  u64 at = kSaveRecordsStart;
  while (at < size) {
    u8 rh[4 + kSaveBodyHeader];
    if (size - at < sizeof rh || !src.read_at(at, rh, sizeof rh)) {
      report_error_at(kErrSaveNotSaveFile, 1, name);
      return -1;
    }
    const u32 dno = get_u32(rh);
    if (dno == 0 || dno > kSaveDnoCount) {
      show_error_box("", sjis_message("( DNO = %d ) 不正なDNO番号を検出しました。"), static_cast<i64>(dno));
      return -1;
    }
    const u64 packed = get_u32(rh + 8);
    if (packed > size - at - sizeof rh) {
      report_error_at(kErrSaveNotSaveFile, 1, name);
      return -1;
    }
    out->push_back({dno, at, sizeof rh + packed});
    at += sizeof rh + packed;
  }
  return 0;
}

// The new file as pieces written in order: its header, old records taken
// where they lie (in the old file's bytes in memory, or in the old file
// itself, which the kernel copies from), and cached records (each its DNO
// word and its body). Nothing is copied here. Kept from one write to the
// next so that its lists are not allocated afresh.
struct SavePlan {
  u8 header[kSaveRecordsStart];
  u8 dno_words[kSaveDnoCount + 1][4];
  std::vector<FilePiece> pieces;
  std::vector<WalkedRecord> walked;
  u64 size = 0;
  void add(const void* data, u64 n) {
    // A piece that goes on where the last one ended in memory joins it.
    if (!pieces.empty() && !pieces.back().from &&
        static_cast<const u8*>(pieces.back().data) + pieces.back().size == data)
      pieces.back().size += static_cast<unsigned long>(n);
    else
      pieces.push_back({data, static_cast<unsigned long>(n)});
    size += n;
  }
  // Old bytes at..at + n of src (the old records kept in their order are
  // one run).
  void add_old(const SaveSource& src, u64 at, u64 n) {
    if (src.mem) {
      add(src.mem + at, n);
      return;
    }
    FilePiece* last = pieces.empty() ? nullptr : &pieces.back();
    if (last && last->from == src.file && last->at + last->size == at)
      last->size += static_cast<unsigned long>(n);
    else
      pieces.push_back({nullptr, static_cast<unsigned long>(n), src.file, at});
    size += n;
  }
  void add_cached(u32 dno, u32 offsets[]) {
    offsets[dno] = static_cast<u32>(size);
    set_u32(dno_words[dno], dno);
    add(dno_words[dno], 4);
    add(g_cache[dno].body.data(), g_cache[dno].body.size());
  }
};
SavePlan g_plan;

int ensure_folder(const std::string& folder) {
  // Every missing folder on the way is made (an existing one is no error).
  std::string so_far;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    so_far.push_back(folder[i]);
    const bool end = folder[i] == '\\' || i + 1 == folder.size();
    if (!end || so_far == "\\" || (so_far.size() == 3 && so_far[1] == ':')) continue;
    if (!g_platform.files->is_directory(so_far.c_str())) g_platform.files->make_directory(so_far.c_str());
  }
  return 0;
}

void report_create_failure(int system_errno) {
  const int n = crt_errno_number(system_errno);
  const char* text = n >= 0 && n < 37 && g_command_list.errno_texts[n] ? g_command_list.errno_texts[n] : "";
  report_error_at(kErrSaveCreate, 1, n, text);
}

// Validated variable data: the layout found in an unpacked value.
struct VarLayout {
  u32 type = 0;
  u32 dims = 0;
  u32 sizes[kMaxSavedDims] = {};
  u64 count = 1;
  u64 values_at = 0;  // the first element (types 1, 2) or length word (3)
};

}  // namespace

// ---- the record cache ----
int save_cache_has(u32 dno) { return dno >= 1 && dno <= kSaveDnoCount && g_cache[dno].used ? 1 : 0; }

int save_cache_put(u32 dno, std::vector<u8>&& body) {
  if (dno < 1 || dno > kSaveDnoCount) {
    report_error_at(kErrRangeMinMax, 1, "", "DNO", static_cast<i64>(dno), 1, static_cast<i64>(kSaveDnoCount));
    return -1;
  }
  if (g_cache[dno].used) {
    report_error_at(kErrSaveDnoCached, 1, dno);
    return -1;
  }
  g_cache[dno].body = std::move(body);
  g_cache[dno].used = true;
  return 0;
}

void free_memory_slot(int n) {
  if (n == -1) {
    for (CacheEntry& e : g_cache) e = CacheEntry{};
    return;
  }
  if (n >= 1 && n <= static_cast<int>(kSaveDnoCount)) g_cache[n] = CacheEntry{};
}

// ---- memory images ----
int memory_image_store(u32 n, const u8* data, u32 size) {
  if (n >= kMemoryImageCount) return -1;
  MemoryImage& m = g_memory_images[n];
  if (size > m.capacity || !m.data) {
    u32 capacity = m.capacity < kMemoryImageMinimum ? kMemoryImageMinimum : m.capacity;
    while (capacity < size) capacity = capacity > 0x7FFFFFFFu ? size : capacity * 2;
    u8* grown = static_cast<u8*>(std::realloc(m.data, capacity));
    if (!grown) {
      out_of_memory();
      return -1;
    }
    m.data = grown;
    m.capacity = capacity;
  }
  if (size) std::memmove(m.data, data, size);
  m.size = size;
  m.read_pos = 0;
  return 0;
}

void free_memory_images() {
  for (MemoryImage& m : g_memory_images) {
    std::free(m.data);
    m = MemoryImage{};
  }
}

// ---- packing ----
int pack_block(const u8* src, u32 length, u32 method, int zlib_level, std::vector<u8>* out) {
  if (method == kPackZlib) {
    uLongf bound = compressBound(length);
    out->resize(bound);
    static const u8 kNothing = 0;
    if (compress2(out->data(), &bound, length ? src : &kNothing, length, zlib_level) != Z_OK) return -1;
    out->resize(bound);
    return 0;
  }
  return ztzid_pack(src, length, out);
}

// ---- unpacking what a save holds ----
namespace {
// A zlib stream header: deflate, a window of at most 32 KB, no preset
// dictionary, and the check bits that make the pair a multiple of 31.
bool zlib_header(const u8* p, u32 n) {
  return n >= 6 && (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && (p[1] & 0x20) == 0 && ((p[0] << 8) | p[1]) % 31 == 0;
}
// The whole of src is one zlib stream of exactly dstlen bytes whose Adler-32
// check holds.
bool zlib_unpacks(const u8* src, u32 srclen, u8* dst, u32 dstlen) {
  static u8 spare = 0;
  uLongf n = dstlen;
  uLong used = srclen;
  return uncompress2(dstlen ? dst : &spare, &n, src, &used) == Z_OK && n == dstlen && used == srclen;
}

// 0 when src unpacks to exactly dstlen bytes. *zlib tells whether it was
// taken for a zlib stream.
int unpack_quietly(const u8* src, u32 srclen, u8* dst, u32 dstlen, u8 flag, bool* zlib) {
  static u8 spare = 0;
  if (!dst) dst = &spare;
  if (!srclen) src = &spare;
  // Only this engine's earlier saves wrote 2 (the method) into byte 1.
  *zlib = flag != kPackBlock && zlib_header(src, srclen);
  if (*zlib && zlib_unpacks(src, srclen, dst, dstlen)) return 0;
  return ztzid_unpack(src, srclen, dst, dstlen) == 0 ? 0 : -1;
}
}  // namespace

int unpack_block(const u8* src, u32 srclen, u8* dst, u32 dstlen, u8 flag) {
  bool zlib = false;
  if (unpack_quietly(src, srclen, dst, dstlen, flag, &zlib) == 0) return 0;
  show_error_box("", zlib ? "Uncompress Error." : "Zid Uncompress Error.");
  return -1;
}

// ---- record bodies ----
int save_variable_data(u32 id, int whole, i64 element, std::vector<u8>* out) {
  const VarRecord* v = id >= kFirstUserVar ? var_record(id) : nullptr;
  if (!v || v->type < kVarInt || v->type > kVarText) return -1;
  out->clear();
  put_u32(*out, v->type);
  const bool single = !whole || v->dim_count == 0;
  if (single) {
    if (element < 0 || element >= v->count) return -1;
    put_u32(*out, 0);
    if (v->type == kVarText) {
      const char* t = v->texts && v->texts[element] ? v->texts[element] : "";
      const u32 len = static_cast<u32>(std::strlen(t));
      put_u32(*out, len + 4);
      put_u32(*out, len);
      out->insert(out->end(), t, t + len);
    } else {
      put_u32(*out, 8);
      u64 bits = 0;
      if (v->type == kVarInt) bits = static_cast<u64>(v->ints[element]);
      else std::memcpy(&bits, &v->floats[element], 8);
      put_u64(*out, bits);
    }
    return 0;
  }
  put_u32(*out, v->dim_count);
  for (u32 d = 0; d < v->dim_count; ++d) put_u32(*out, v->dims[d]);
  const u64 count = static_cast<u64>(v->count);
  if (v->type == kVarText) {
    for (u64 e = 0; e < count; ++e) {
      const char* t = v->texts && v->texts[e] ? v->texts[e] : "";
      const u32 len = static_cast<u32>(std::strlen(t));
      put_u32(*out, len);
      out->insert(out->end(), t, t + len);
    }
  } else {
    put_u32(*out, static_cast<u32>(count * 8));
    const std::size_t at = out->size();
    out->resize(at + count * 8);
    const void* src = v->type == kVarInt ? static_cast<const void*>(v->ints) : static_cast<const void*>(v->floats);
    if (count) std::memcpy(out->data() + at, src, count * 8);
  }
  return 0;
}

void save_layer_data(i32 width, i32 height, const u32* pixels, std::vector<u8>* out) {
  const u64 bytes = 4ull * static_cast<u64>(width) * static_cast<u64>(height);
  out->clear();
  out->reserve(8 + kLayerBlockSize + bytes);
  put_u32(*out, kLayerBlockSize);
  put_u32(*out, static_cast<u32>(bytes));
  const std::size_t block = out->size();
  out->resize(block + kLayerBlockSize, 0);
  set_u32(out->data() + block + kLayerWidthAt, static_cast<u32>(width));
  set_u32(out->data() + block + kLayerHeightAt, static_cast<u32>(height));
  const std::size_t at = out->size();
  out->resize(at + bytes);
  if (bytes) std::memcpy(out->data() + at, pixels, bytes);
}

int make_record_body(u8 kind, u32 var_id, const std::vector<u8>& unpacked, std::vector<u8>* body) {
  const u32 method = method_for(kind);
  std::vector<u8> packed;
  if (unpacked.size() > 0xFFFFFFFFull || pack_block(unpacked.data(), static_cast<u32>(unpacked.size()), method,
                                                    zlib_level_for(kind), &packed) != 0) {
    out_of_memory();
    return -1;
  }
  body->clear();
  body->reserve(kSaveBodyHeader + packed.size());
  put_body_header(*body, kind, var_id, static_cast<u32>(packed.size()), static_cast<u32>(unpacked.size()));
  body->insert(body->end(), packed.begin(), packed.end());
  return 0;
}

int make_variables_body(const u32* ids, u32 count, std::vector<u8>* body) {
  const u32 method = method_for(kSaveKindVars);
  std::vector<u8> run, data, packed;
  u64 unpacked_total = 0;
  for (u32 i = 0; i < count; ++i) {
    // Scripts name variables by 16-bit ids; a sub-block carries no more.
    if (ids[i] > 0xFFFFu || save_variable_data(ids[i], 1, 0, &data) != 0) {
      report_error_at(kErrVariableMissing, 1, static_cast<i64>(ids[i]));
      return -1;
    }
    if (pack_block(data.data(), static_cast<u32>(data.size()), method, 9, &packed) != 0) {
      out_of_memory();
      return -1;
    }
    // The first word is not read; it is written 0. The id word holds every
    // id up to 65535 (read unsigned).
    put_u16(run, 0);
    put_u16(run, static_cast<u16>(ids[i]));
    put_u32(run, static_cast<u32>(packed.size()));
    put_u32(run, static_cast<u32>(data.size()));
    run.insert(run.end(), packed.begin(), packed.end());
    unpacked_total += data.size();
  }
  body->clear();
  put_body_header(*body, kSaveKindVars, 0, static_cast<u32>(run.size()),
                  static_cast<u32>(unpacked_total > 0xFFFFFFFFu ? 0xFFFFFFFFu : unpacked_total));
  body->insert(body->end(), run.begin(), run.end());
  return 0;
}

int make_global_store_body(std::vector<u8>* body) {
  const u32 method = method_for(kSaveKindGlobalStore);
  std::vector<u8> run, packed;
  for (const MemoryImage& m : g_memory_images) {
    if (m.size == 0) {
      put_u32(run, 0);
      put_u32(run, 0);
      continue;
    }
    if (pack_block(m.data, m.size, method, zlib_level_for(kSaveKindGlobalStore), &packed) != 0) {
      out_of_memory();
      return -1;
    }
    put_u32(run, m.size);
    put_u32(run, static_cast<u32>(packed.size()));
    run.insert(run.end(), packed.begin(), packed.end());
  }
  body->clear();
  put_body_header(*body, kSaveKindVar, 0, static_cast<u32>(run.size()), static_cast<u32>(run.size()));
  body->insert(body->end(), run.begin(), run.end());
  return 0;
}

// ---- writing ----
std::string save_folder_path() {
  std::string folder = g_settings.save_folder;
  if (!folder.empty() && folder.back() != '\\') folder.push_back('\\');
  const bool absolute = !folder.empty() && (folder[0] == '\\' || folder[0] == '/' || (folder.size() > 1 && folder[1] == ':'));
  if (absolute || g_paths.project_folder.empty()) return folder;
  std::string base = g_paths.project_folder;
  if (base.back() != '\\') base.push_back('\\');
  return base + folder;
}

int save_file_path(const char* name, std::string* path) {
  std::string n = name ? name : "";
  replace_char_sjis(n.data(), '/', '\\');
  if (n.size() > kSaveNameMax) {
    report_error_at(kErrSaveNameLong, 1, n);
    return -1;
  }
  if (n.find('\\') != std::string::npos) {
    // Only a real '\' byte counts, not the second byte of a two-byte character.
    for (std::size_t i = 0; i < n.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(n[i]);
      if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
        ++i;
        continue;
      }
      if (c == '\\') {
        report_error_at(kErrSaveNameBackslash, 1, n);
        return -1;
      }
    }
  }
  const bool has_ext = n.size() >= 3 && n.compare(n.size() - 3, 3, ".sd") == 0;
  if (!has_ext) n += ".sd";
  *path = save_folder_path() + n;
  return 0;
}

namespace {
// Plans the new file: src's records (when has_old) with the cached records
// put in. 0, or -1 after the report.
int plan_save_image(const SaveSource& src, int has_old, SavePlan* plan) {
  u32 offsets[kSaveDnoCount + 1] = {};
  plan->walked.clear();
  plan->pieces.clear();
  plan->size = 0;
  std::memset(plan->header, 0, sizeof plan->header);
  u32 count = 0;
  if (has_old) {
    if (walk_records(src, "", &plan->walked) != 0 || !src.read_at(0, plan->header, 16)) return -1;
    count = get_u32(plan->header + 8);
  } else {
    std::memcpy(plan->header, kMagic, 4);
    set_u32(plan->header + 4, kSaveVersion);
  }
  plan->add(plan->header, kSaveRecordsStart);
  bool placed[kSaveDnoCount + 1] = {};
  for (const WalkedRecord& r : plan->walked) {
    if (g_cache[r.dno].used && !placed[r.dno]) {
      plan->add_cached(r.dno, offsets);
      placed[r.dno] = true;
      continue;
    }
    if (placed[r.dno]) continue;  // a second copy of a replaced record
    offsets[r.dno] = static_cast<u32>(plan->size);
    plan->add_old(src, r.at, r.size);
  }
  for (u32 d = 1; d <= kSaveDnoCount; ++d) {
    if (!g_cache[d].used || placed[d] || offsets[d]) continue;
    plan->add_cached(d, offsets);
    ++count;
  }
  if (plan->size > 0xFFFFFFFFull) {
    out_of_memory();
    return -1;
  }
  set_u32(plan->header + 8, count);
  set_u32(plan->header + 12, kSaveDnoCount);
  for (u32 d = 1; d <= kSaveDnoCount; ++d) set_u32(plan->header + 12 + 4 * d, offsets[d]);
  return 0;
}
}  // namespace

int compose_save_image(const u8* old, u64 old_size, int has_old, std::vector<u8>* out) {
  out->clear();
  static const u8 kEmpty = 0;
  SaveSource src;
  src.mem = old ? old : &kEmpty;
  src.size = old ? old_size : 0;
  if (plan_save_image(src, has_old, &g_plan) != 0) return -1;
  out->resize(g_plan.size);
  u64 at = 0;
  for (const FilePiece& p : g_plan.pieces) {
    std::memcpy(out->data() + at, p.data, p.size);
    at += p.size;
  }
  return 0;
}

int crt_errno_number(int e) {
  // The C runtime numbers 1-34 are the POSIX ones; a few differ above.
  if (e >= 1 && e <= 34) return e;
  switch (e) {
    case EDEADLK: return 36;
    case ENAMETOOLONG: return 38;
    case ENOLCK: return 39;
    case ENOSYS: return 40;
    case ENOTEMPTY: return 41;
    case EILSEQ: return 42;
    case EDQUOT: return 28;  // out of space, as the C runtime has it
    default: return 5;       // an input/output error
  }
}

int write_save_cache(const char* name, i64 memory_image) {
  std::vector<u8> image;
  int rc = 0;
  if (memory_image >= 0 && memory_image < static_cast<i64>(kMemoryImageCount)) {
    MemoryImage& m = g_memory_images[memory_image];
    rc = compose_save_image(m.data, m.size, m.size > 0, &image);
    if (rc == 0 && memory_image_store(static_cast<u32>(memory_image), image.data(), static_cast<u32>(image.size())) != 0)
      rc = -1;
    free_memory_slot(-1);
    return rc;
  }
  std::string path;
  if (save_file_path(name, &path) != 0) {
    free_memory_slot(-1);
    return -1;
  }
  ensure_folder(save_folder_path());
  // Only the old file's header and record heads are read; the new file is
  // written from pieces: the kept records copied by the kernel from the old
  // file, the cached ones from the cache. The old file stays open (and
  // unchanged: it is replaced by a rename, never written) until then.
  SaveSource src;
  const bool exists = g_platform.files->is_file(path.c_str()) != 0;
  if (exists) {
    src.file = g_platform.files->open(path.c_str(), "rb");
    long end = -1;
    if (src.file && std::fseek(src.file, 0, SEEK_END) == 0) end = std::ftell(src.file);
    if (end < 0) {
      report_create_failure(errno ? errno : EIO);
      if (src.file) std::fclose(src.file);
      free_memory_slot(-1);
      return -1;
    }
    src.size = static_cast<u64>(end);
  }
  rc = plan_save_image(src, exists, &g_plan);
  if (rc == 0) {
    int error = 0;
    if (files_replace_durably_pieces(path.c_str(), g_plan.pieces.data(), g_plan.pieces.size(), &error) != 0) {
      report_create_failure(error);
      rc = -1;
    }
  }
  // The old file, replaced, is freed by the system at its last close: not
  // waited for here.
  if (src.file) files_close_replaced(src.file);
  free_memory_slot(-1);
  return rc;
}

// ---- reading ----
int read_save_record_from(const u8* file, u64 size, u32 dno, SaveRecord* out) {
  SaveSource src;
  src.mem = file;
  src.size = size;
  return read_record(src, kMemoryName, dno, out);
}

int read_save_record(const char* name, i64 memory_image, u32 dno, SaveRecord* out) {
  if (memory_image >= 0) {
    if (memory_image >= static_cast<i64>(kMemoryImageCount)) return -1;
    MemoryImage& m = g_memory_images[memory_image];
    static const u8 kEmpty = 0;
    m.read_pos = 0;
    return read_save_record_from(m.data ? m.data : &kEmpty, m.size, dno, out);
  }
  std::string path;
  if (save_file_path(name, &path) != 0) return -1;
  std::FILE* f = g_platform.files->open(path.c_str(), "rb");
  if (!f) {
    report_error_at(kErrSaveFileMissing, 1, path);
    return -1;
  }
  std::unique_ptr<char[]> buffer(new char[16384]);
  std::setvbuf(f, buffer.get(), _IOFBF, 16384);
  SaveSource src;
  src.file = f;
  std::fseek(f, 0, SEEK_END);
  long end = std::ftell(f);
  src.size = end > 0 ? static_cast<u64>(end) : 0;
  int rc = read_record(src, path.c_str(), dno, out);
  std::fclose(f);
  return rc;
}

int unpack_record(const SaveRecord& record, std::vector<u8>* out) {
  if (record.unpacked_size > kMaxUnpacked || !plausible_unpacked(record.unpacked_size, record.packed.size())) {
    report_error_at(kErrSaveNotSaveFile, 1, "");
    return -1;
  }
  out->resize(record.unpacked_size);
  return unpack_block(record.packed.data(), static_cast<u32>(record.packed.size()), out->data(), record.unpacked_size,
                      record.flag);
}

namespace {
// Walks a global store's run: for each of the 500 memory images u32 U, u32
// P and P bytes, filling the run exactly. Calls each(i, U, P, bytes) and stops
// when it returns false. false when the run is not such a walk.
template <class Each>
bool walk_global_store(const u8* p, u64 size, Each each) {
  u64 at = 0;
  for (u32 i = 0; i < kMemoryImageCount; ++i) {
    if (size - at < 8) return false;
    const u32 unpacked = get_u32(p + at), packed = get_u32(p + at + 4);
    at += 8;
    if (packed > size - at) return false;
    if (!each(i, unpacked, packed, p + at)) return false;
    at += packed;
  }
  return at == size;
}
}  // namespace

int save_record_is_global_store(const SaveRecord& record) {
  if (record.kind == kSaveKindGlobalStore) return 1;  // the form of this engine's earlier saves
  if (record.dno != kGlobalStoreDno) return 0;
  return walk_global_store(record.packed.data(), record.packed.size(), [](u32, u32, u32, const u8*) { return true; })
             ? 1
             : 0;
}

int load_global_store(const SaveRecord& record) {
  std::vector<std::vector<u8>> images(kMemoryImageCount);
  bool unpacked_all = true;
  const bool walked = walk_global_store(
      record.packed.data(), record.packed.size(), [&](u32 i, u32 unpacked, u32 packed, const u8* bytes) {
        if (unpacked == 0) return true;  // an empty image
        if (unpacked > 0x7FFFFFFFu || !plausible_unpacked(unpacked, packed)) return false;
        images[i].resize(unpacked);
        bool zlib = false;
        if (unpack_quietly(bytes, packed, images[i].data(), unpacked, record.flag, &zlib) != 0) {
          unpacked_all = false;
          return false;
        }
        return true;
      });
  if (!unpacked_all) {
    show_error_box("", "Uncompress Status Error 4.");
    return -1;
  }
  if (!walked) {
    show_error_box("", "Load Error.");
    return -1;
  }
  for (u32 i = 0; i < kMemoryImageCount; ++i) {
    if (images[i].empty()) {
      g_memory_images[i].size = 0;
      g_memory_images[i].read_pos = 0;
    } else if (memory_image_store(i, images[i].data(), static_cast<u32>(images[i].size())) != 0) {
      return -1;
    }
  }
  return 0;
}

namespace {
// Reads the layout of an unpacked value and checks it against the
// destination variable, in the order of the checks listed in the header.
int check_value(const VarRecord* v, const u8* data, u32 size, u32 command, VarLayout* l) {
  if (size < 8) {
    report_error_at(kErrSaveNotSaveFile, 1, "");
    return -1;
  }
  l->type = get_u32(data);
  l->dims = get_u32(data + 4);
  if (l->type < 1 || l->type > 3) {
    report_error_at(kErrSaveBadType, 1);
    return -1;
  }
  if (l->type != v->type) {
    const u32 declare = l->type == kVarInt ? 50 : l->type == kVarFloat ? 25 : 92;
    report_error_at(kErrSaveTypeDiffers, 1, command_label(command), command_label(declare));
    return -1;
  }
  if (l->dims > kMaxSavedDims) {
    report_error_at(kErrSaveTooManyDims, 1, command_label(command));
    return -1;
  }
  if (size < 8 + 4ull * l->dims) {
    report_error_at(kErrSaveNotSaveFile, 1, "");
    return -1;
  }
  l->count = 1;
  for (u32 d = 0; d < l->dims; ++d) {
    l->sizes[d] = get_u32(data + 8 + 4 * d);
    l->count *= l->sizes[d];
    if (l->count > kMaxSavedElements) break;
  }
  if (l->count > kMaxSavedElements) {
    report_error_at(kErrSaveTooManyElements, 1, command_label(command));
    return -1;
  }
  if (l->dims > 0) {
    bool fits = l->dims == v->dim_count && l->count == static_cast<u64>(v->count);
    for (u32 d = 0; fits && d < l->dims; ++d) fits = l->sizes[d] == v->dims[d];
    if (!fits) {
      report_error_at(kErrSaveDimsDiffer, 1, command_label(command));
      return -1;
    }
  }
  l->values_at = 8 + 4ull * l->dims;
  return 0;
}
}  // namespace

int restore_typed_value(u32 id, i64 element, const u8* data, u32 size, u32 command) {
  VarRecord* v = id >= kFirstUserVar ? var_record(id) : nullptr;
  if (!v) {
    report_error_at(kErrVariableMissing, 1, static_cast<i64>(id));
    return -1;
  }
  VarLayout l;
  if (check_value(v, data, size, command, &l) != 0) return -1;
  const u8* p = data + l.values_at;
  const u64 left = size - l.values_at;
  if (l.dims == 0) {
    if (element < 0 || element >= v->count) {
      report_error_at(kErrSaveDimsDiffer, 1, command_label(command));
      return -1;
    }
    if (l.type == kVarText) {
      if (left < 8 || get_u32(p) != get_u32(p + 4) + 4ull || get_u32(p + 4) > left - 8) {
        report_error_at(kErrSaveNotSaveFile, 1, "");
        return -1;
      }
      return store_string_element(id, element, reinterpret_cast<const char*>(p + 8), get_u32(p + 4));
    }
    if (left < 12 || get_u32(p) != 8) {
      report_error_at(kErrSaveNotSaveFile, 1, "");
      return -1;
    }
    if (l.type == kVarInt) std::memcpy(&v->ints[element], p + 4, 8);
    else std::memcpy(&v->floats[element], p + 4, 8);
    return 0;
  }
  if (l.type != kVarText) {
    if (left < 4 || get_u32(p) != l.count * 8 || l.count * 8 > left - 4) {
      report_error_at(kErrSaveNotSaveFile, 1, "");
      return -1;
    }
    void* dst = l.type == kVarInt ? static_cast<void*>(v->ints) : static_cast<void*>(v->floats);
    if (l.count) std::memcpy(dst, p + 4, l.count * 8);
    return 0;
  }
  // Texts: every length is checked before the first element changes.
  u64 at = 0;
  for (u64 e = 0; e < l.count; ++e) {
    if (left - at < 4) {
      report_error_at(kErrSaveNotSaveFile, 1, "");
      return -1;
    }
    const u32 len = get_u32(p + at);
    if (len > left - at - 4) {
      report_error_at(kErrSaveNotSaveFile, 1, "");
      return -1;
    }
    if (len > kMaxElementText) {
      report_error_at(kErrTextTooLong, 1, command_label(command));
      return -1;
    }
    at += 4 + len;
  }
  at = 0;
  for (u64 e = 0; e < l.count; ++e) {
    const u32 len = get_u32(p + at);
    if (store_string_element(id, static_cast<i64>(e), reinterpret_cast<const char*>(p + at + 4), len) != 0) return -1;
    at += 4 + len;
  }
  return 0;
}

int restore_saved_variables(const SaveRecord& record, u32 command) {
  const u8* p = record.packed.data();
  const u64 size = record.packed.size();
  // The walk is checked whole before any variable changes.
  u64 at = 0;
  while (at < size) {
    if (size - at < kSaveSubHeader || get_u32(p + at + 4) > size - at - kSaveSubHeader ||
        get_u32(p + at + 8) > kMaxUnpacked || !plausible_unpacked(get_u32(p + at + 8), get_u32(p + at + 4))) {
      report_error_at(kErrSaveNotSaveFile, 1, "");
      return -1;
    }
    // The sub-block's first word is not read (this engine's earlier saves
    // wrote 0 there); the id word is unsigned, so ids up to 65535 come back.
    const u32 id = get_u16(p + at + 2);
    if (id < kFirstUserVar) {
      report_error_at(kErrSysvarReadOnly, 1, command_label(command), static_cast<i64>(id));
      return -1;
    }
    if (!var_record(id)) {
      report_error_at(kErrVariableMissing, 1, static_cast<i64>(id));
      return -1;
    }
    at += kSaveSubHeader + get_u32(p + at + 4);
  }
  std::vector<u8> data;
  at = 0;
  while (at < size) {
    const u32 id = get_u16(p + at + 2);
    const u32 packed = get_u32(p + at + 4), unpacked = get_u32(p + at + 8);
    data.resize(unpacked);
    if (unpack_block(p + at + kSaveSubHeader, packed, data.data(), unpacked, record.flag) != 0) return -1;
    if (restore_typed_value(id, 0, data.data(), unpacked, command) != 0) return -1;
    at += kSaveSubHeader + packed;
  }
  return 0;
}

int parse_saved_layer(const u8* data, u32 size, i32* width, i32* height, const u8** pixels) {
  if (size < 8 || get_u32(data) != kLayerBlockSize || size - 8 < kLayerBlockSize) {
    report_error_code_at(kErrSaveLayerBlock, 1);
    return -1;
  }
  const i32 w = static_cast<i32>(get_u32(data + 8 + kLayerWidthAt));
  const i32 h = static_cast<i32>(get_u32(data + 8 + kLayerHeightAt));
  const u64 bytes = get_u32(data + 4);
  // Sizes outside 1..8192 are left to the layer code's size check; the pixel
  // bytes must be exactly the image's.
  if (w >= 1 && h >= 1 && w <= 8192 && h <= 8192) {
    const u64 expected = 4ull * static_cast<u64>(w) * static_cast<u64>(h);
    if (bytes != expected || bytes != u64{size} - 8 - kLayerBlockSize) {
      report_error_code_at(kErrSaveLayerBlock, 1);
      return -1;
    }
  }
  *width = w;
  *height = h;
  *pixels = data + 8 + kLayerBlockSize;
  return 0;
}

// ---- start-up and shut-down ----
void clear_save_data_cache() { free_memory_slot(-1); }

void free_memory_save_slots() {
  free_memory_slot(-1);
  free_memory_images();
  g_plan.pieces = {};
  g_plan.walked = {};
}
