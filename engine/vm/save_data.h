// Save data: the ".sd" file, the per-DNO record cache, the 500 memory images
// and the global store that packs them.
//
// File (little-endian): "ZTSD", u32 480, u32 record count, u32 1024, then
// u32 offsets of DNO 1..1024 at 12 + 4 x DNO (0 = no record); records from
// 4112, each a u32 DNO and a body. Body: u8 kind, u8 1, i16 variable id
// (kind 0), u32 packed size P, u32 unpacked size U, P packed bytes. How a
// record is packed is chosen by the packing switches when it is written.
//
// Kinds: 0 one variable, 1 one layer image, 2 several variables (sub-blocks
// of u16 not read (written 0), u16 id, u32 P, u32 U, packed bytes; they fill
// the body's P, and the body's U is their unpacked total). DNO 1024 holds the
// global store, written as kind 0: for each memory image u32 U, u32 P,
// packed bytes, filling the body's P (its U is P too).
//
// Reading takes this engine's earlier saves as well: byte 1 held the method
// (1 zlib, 2 the block compressor), a sub-block's first word the id's high
// bits (always 0: ids are 16-bit), and the global store was kind 3. A record
// is unpacked as zlib when its bytes are one whole zlib stream of U bytes
// (header and Adler-32 check), else by the block compressor, so a save reads
// back whatever the switches were when it was written. A record at DNO 1024
// is the global store when it is kind 3 or its bytes walk as the 500 images
// exactly; otherwise (an earlier save's ordinary record there) its kind
// says what it is.
//
// Unpacked variable: u32 type (1-3), u32 dimension count d, d x u32 sizes;
// types 1 and 2: u32 byte count (8 x elements) and the i64 / f64 elements;
// type 3: per element u32 length and the text. d = 0 is one element: type,
// 0, then u32 8 and the value (types 1, 2), or u32 length + 4, u32 length
// and the text (type 3).
//
// Unpacked layer: u32 1680, u32 pixel byte count (4 x w x h), a 1680-byte
// block holding the width (i32 at 136) and the height (i32 at 140), zeros
// elsewhere, then the pixels.
#pragma once
#include <string>
#include <vector>

#include "engine/frame/types.h"

constexpr u32 kSaveVersion = 480;
constexpr u32 kSaveDnoCount = 1024;  // DNO 1..1024
constexpr u32 kGlobalStoreDno = 1024;
constexpr u32 kSaveRecordsStart = 4112;
constexpr u32 kSaveBodyHeader = 12;
constexpr u32 kSaveSubHeader = 12;
constexpr u32 kMemoryImageCount = 500;
constexpr i64 kGlobalStoreRequest = 99999;  // parameter 1 of the write command
constexpr u32 kMemoryImageMinimum = 51200;
constexpr u32 kLayerBlockSize = 1680;
constexpr u32 kLayerWidthAt = 136;
constexpr u32 kLayerHeightAt = 140;
constexpr u64 kMaxSavedElements = 40000000;
// A variable has up to 9 dimensions, and every one it can have loads back.
constexpr u32 kMaxSavedDims = 9;
constexpr u32 kSaveNameMax = 32;

// kSaveKindGlobalStore is the global store's kind in this engine's earlier
// saves (read, never written).
enum SaveKind : u8 { kSaveKindVar = 0, kSaveKindLayer = 1, kSaveKindVars = 2, kSaveKindGlobalStore = 3 };
// Packing methods; byte 1 of an earlier save's body held one of them.
enum SavePackMethod : u8 { kPackZlib = 1, kPackBlock = 2 };

constexpr u32 kErrSaveNoRecord = 102110;
constexpr u32 kErrSaveTypeDiffers = 102120;
constexpr u32 kErrSaveCreate = 102140;
constexpr u32 kErrSaveNameBackslash = 102150;
constexpr u32 kErrSaveNameLong = 102160;
constexpr u32 kErrSaveDnoCached = 102170;
constexpr u32 kErrSaveNotSaveFile = 108030;  // also a damaged structure
constexpr u32 kErrSaveVersion = 108040;
constexpr u32 kErrSaveKindVariable = 108050;
constexpr u32 kErrSaveDimsDiffer = 108070;
constexpr u32 kErrSaveTooManyDims = 108080;
constexpr u32 kErrSaveTooManyElements = 108090;
constexpr u32 kErrSaveKindLayer = 108100;
constexpr u32 kErrSaveLayerBlock = 108110;
constexpr u32 kErrSaveBadType = 900000;
constexpr u32 kErrSaveFileMissing = 104060;

// The packing switches (1 = the block compressor): variable records (on at
// start), layer records (off: zlib level 9), the global store (off: zlib
// level 1).
struct SavePackSwitches {
  u8 variables = 1;
  u8 layers = 0;
  u8 global_store = 0;
};
extern SavePackSwitches g_save_pack_switches;

// ---- the record cache ----
// 1 when DNO d (1..1024) has a cached body.
int save_cache_has(u32 dno);
// Takes body as DNO's record: 0; -1 after 102170 when it is cached already
// (or 101000 for a DNO outside 1..1024).
int save_cache_put(u32 dno, std::vector<u8>&& body);
// Frees the cached body of DNO n; -1 frees all.
void free_memory_slot(int n);

// ---- the memory images ----
struct MemoryImage {
  u8* data = nullptr;
  u32 size = 0;      // bytes of the file image; 0 = empty
  u32 capacity = 0;  // at least 51,200 once used, grown as needed
  u32 read_pos = 0;
};
extern MemoryImage g_memory_images[kMemoryImageCount];
// Makes image n hold size bytes of data (growing its buffer). 0, or -1 after
// "メモリ不足です.".
int memory_image_store(u32 n, const u8* data, u32 size);
void free_memory_images();

// ---- packing ----
// Packs length bytes with method (zlib at zlib_level, or the block
// compressor) into out. 0, or -1 (nothing reported).
int pack_block(const u8* src, u32 length, u32 method, int zlib_level, std::vector<u8>* out);
// Unpacks exactly dstlen bytes of a record whose byte 1 is flag: zlib when
// src is one whole zlib stream of that length (never for flag 2), else the
// block compressor. 0, or -1 after the box "Uncompress Error." (taken for
// zlib) / "Zid Uncompress Error.".
int unpack_block(const u8* src, u32 srclen, u8* dst, u32 dstlen, u8 flag);

// ---- record bodies ----
// The unpacked form of variable id: whole (every element, with its sizes)
// or its one element. 0, or -1 when id names no ordinary variable or the
// element lies outside.
int save_variable_data(u32 id, int whole, i64 element, std::vector<u8>* out);
// The unpacked form of a layer of width x height pixels (B, G, R, A bytes).
void save_layer_data(i32 width, i32 height, const u32* pixels, std::vector<u8>* out);
// A body (header + packed bytes) of kind, packed by the method the switches
// give for that kind. 0, or -1 after "メモリ不足です.".
int make_record_body(u8 kind, u32 var_id, const std::vector<u8>& unpacked, std::vector<u8>* body);
// Kind 2: one sub-block per variable (whole variables; ids up to 65535).
int make_variables_body(const u32* ids, u32 count, std::vector<u8>* body);
// The global store's body: the 500 memory images.
int make_global_store_body(std::vector<u8>* body);

// ---- writing ----
// Path of a save name: '/' becomes '\', at most 32 bytes (102160), no '\'
// (102150), ".sd" appended unless it ends in it, behind the save folder.
// 0, or -1 after the report.
int save_file_path(const char* name, std::string* path);
// The save folder as files are written into it: the configured folder, taken
// against the project folder when it is relative ('\' at its end).
std::string save_folder_path();
// The new file image: old (when has_old) with the cached records put in
// (each replaces the record of its DNO, or is appended). 0, or -1 after
// 108030 / 108040 / the bad-DNO box.
int compose_save_image(const u8* old, u64 old_size, int has_old, std::vector<u8>* out);
// Writes the cache into the save name (memory_image -1) or memory image n,
// then frees the whole cache. Files are replaced durably; a failure reports
// 102140 with the C runtime's errno number and text. 0 or -1.
int write_save_cache(const char* name, i64 memory_image);
// The C runtime's errno number for a system errno (the numbers the
// command list's errno texts are indexed by).
int crt_errno_number(int system_errno);

// ---- reading ----
struct SaveRecord {
  u32 dno = 0;
  u8 kind = 0;
  u8 flag = 0;  // byte 1 as the file has it
  u32 var_id = 0;
  u32 unpacked_size = 0;
  std::vector<u8> packed;  // P bytes
};
// Reads the record of dno from the save name (memory_image -1) or memory
// image n: 104060 (missing file), 108030, 108040, 102110 (no record; DNO
// outside 1..1024 too), damaged offsets and sizes 108030. 0 or -1.
int read_save_record(const char* name, i64 memory_image, u32 dno, SaveRecord* out);
// The same on a whole file image in memory.
int read_save_record_from(const u8* file, u64 size, u32 dno, SaveRecord* out);
// Unpacks a record of kind 0 or 1 into out (U bytes). 0 or -1.
int unpack_record(const SaveRecord& record, std::vector<u8>* out);
// 1 when the record is a global store (see the top of this file).
int save_record_is_global_store(const SaveRecord& record);
// Unpacks every image of a global store into its memory image; nothing
// changes unless all of them unpack ("Uncompress Status Error 4." / "Load
// Error."). 0 or -1.
int load_global_store(const SaveRecord& record);
// Writes an unpacked variable value (size bytes) into variable id: d = 0
// into element, else the whole variable, whose dimensions must match. The
// checks, in order: 900000, 102120 (command's name and the declaration
// command of the saved type), 108080, 108090, 108070; damaged data 108030.
// Nothing is changed when a check fails. 0 or -1.
int restore_typed_value(u32 id, i64 element, const u8* data, u32 size, u32 command);
// Kind 2: every sub-block restored into the variable its id word names (an
// id below 1000: 101150; outside the table: 108010). 0 or -1.
int restore_saved_variables(const SaveRecord& record, u32 command);
// A layer record's width, height and pixels (4 x w x h bytes), checked
// against the data: 108110 for a block size other than 1680 or a pixel
// count that does not fit. The size itself is judged by the layer code.
int parse_saved_layer(const u8* data, u32 size, i32* width, i32* height, const u8** pixels);
