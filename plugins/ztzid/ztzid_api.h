// Exports of the block-compression library, as the engine calls them. The
// packed format is the LZ4 block format. Lengths are in bytes.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
// Largest packed length for unpacked_length bytes; 0 for a bad length.
typedef int (*ZTZid_CompressedLength_fn)(int unpacked_length);
// Packs src into dst; *dst_length holds dst's size on entry and the packed
// count on return. 0 on success, -1 when it does not fit or a length is bad.
typedef int (*ZTZid_Compress_fn)(const void* src, int src_length, void* dst, int* dst_length);
// The unpacked length cannot be told from an LZ4 block alone: always -1.
typedef int (*ZTZid_UncompressedLength_fn)(const void* src, int src_length);
// Unpacks src into dst; *dst_length holds dst's capacity (the expected size)
// on entry and the unpacked count on return. 0 on success, -1 on bad data.
typedef int (*ZTZid_Uncompress_fn)(const void* src, int src_length, void* dst, int* dst_length);
#ifdef __cplusplus
}
#endif
