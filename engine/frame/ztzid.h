// The block-compression library, loaded at start-up by its Windows name
// "ZTZid.dll". Every call goes through the guarded functions below: an export
// that was missing at start-up makes the call fail instead of calling a null
// pointer.
#pragma once
#include <vector>

#include "engine/frame/types.h"
#include "plugins/ztzid/ztzid_api.h"

struct DynLib;

struct ZtzidApi {
  DynLib* lib = nullptr;
  ZTZid_CompressedLength_fn compressed_length = nullptr;
  ZTZid_Compress_fn compress = nullptr;
  ZTZid_UncompressedLength_fn uncompressed_length = nullptr;
  ZTZid_Uncompress_fn uncompress = nullptr;
};
extern ZtzidApi g_ztzid;

// Loads the library and looks up its four exports. A load failure shows the
// library message and returns -1; a missing export shows its message and the
// library stays loaded (0).
int load_ztzid_library();
void unload_ztzid_library();

// Packs src into out (resized to the packed length). -1 when the library or
// an export is missing, the length is out of range, or the pack fails or does
// not fit its buffer.
int ztzid_pack(const void* src, u32 length, std::vector<u8>* out);
// Unpacks exactly expected bytes into dst. -1 when the library or the export
// is missing, the unpack fails, or it yields any other length.
int ztzid_unpack(const void* src, u32 packed_length, void* dst, u32 expected);
