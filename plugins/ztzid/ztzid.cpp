// Stand-in for the block-compression library, on liblz4's block format.
#include <lz4.h>

#include "plugins/ztzid/ztzid_api.h"

#define ZTZID_EXPORT extern "C" __attribute__((visibility("default")))

ZTZID_EXPORT int ZTZid_CompressedLength(int unpacked_length) {
  if (unpacked_length < 0 || unpacked_length > LZ4_MAX_INPUT_SIZE) return 0;
  return LZ4_compressBound(unpacked_length);
}

ZTZID_EXPORT int ZTZid_Compress(const void* src, int src_length, void* dst, int* dst_length) {
  if (!src || !dst || !dst_length || src_length < 0 || *dst_length < 0) return -1;
  int n = LZ4_compress_default(static_cast<const char*>(src), static_cast<char*>(dst), src_length, *dst_length);
  if (n <= 0 && src_length > 0) return -1;
  *dst_length = n;
  return 0;
}

ZTZID_EXPORT int ZTZid_UncompressedLength(const void*, int) { return -1; }

ZTZID_EXPORT int ZTZid_Uncompress(const void* src, int src_length, void* dst, int* dst_length) {
  if (!src || !dst || !dst_length || src_length < 0 || *dst_length < 0) return -1;
  int n = LZ4_decompress_safe(static_cast<const char*>(src), static_cast<char*>(dst), src_length, *dst_length);
  if (n < 0) return -1;
  *dst_length = n;
  return 0;
}
