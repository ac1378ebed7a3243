// The calling interface of "TheoraLib.dll": Ogg Theora movies decoded frame
// by frame into a caller's rows, with the Vorbis stream's timing. Shared by
// the library and the engine, which looks the 24 exports up by name.
#pragma once
#include <cstdint>

extern "C" {
// Copies up to length bytes at offset of the movie (base as given to load)
// into dest; returns the count copied (0 at or past the end).
typedef int (*TheoraReadFn)(const void* base, void* dest, int offset, int length);
// The movie's size in bytes.
typedef int (*TheoraSizeFn)();
// Pointer to row y of the frame buffer (w x 4 bytes, B, G, R, A).
typedef void* (*TheoraRowFn)(void* handle, int y);
// The frame size is w x h: the caller gets its buffer ready; 0 or h on
// success, negative to refuse the movie.
typedef int (*TheoraResizeFn)(void* handle, int w, int h);

typedef void* (*theoralib_m_create_fn)();
typedef void (*theoralib_m_free_fn)(void* movie);
typedef int (*theoralib_m_init_fn)(void* movie);
// Reads the headers, calls resize with the picture size: 0, or -1 when the
// data holds no Theora stream (or resize refused it).
typedef int (*theoralib_m_load_fn)(void* movie, const void* base, TheoraReadFn read, TheoraSizeFn size,
                                   void* frame_buffer, TheoraRowFn row, TheoraResizeFn resize, int flags);
typedef int (*theoralib_m_exists_fn)(void* movie);
// Decodes up to frame index and writes it through row: 1 written, 0 past
// the end, -1 not loaded.
typedef int (*theoralib_m_decodeframe_fn)(void* movie, int index);
// 1: row 0 is the top row of the picture; 0: the bottom row.
typedef void (*theoralib_m_setvrevers_fn)(void* movie, int top_first);
typedef void (*theoralib_m_setdecodemode_fn)(void* movie, int mode);
typedef int (*theoralib_m_nowframe_fn)(void* movie);
typedef int (*theoralib_m_totalframe_fn)(void* movie);
// Milliseconds.
typedef int (*theoralib_m_totaltime_fn)(void* movie);
// 0 width, 1 height, 2 frame rate numerator, 3 its denominator, 4 pixel
// format (0 4:2:0, 2 4:2:2, 3 4:4:4); -1 otherwise.
typedef int (*theoralib_m_info_fn)(void* movie, int what);
// Comment i of the stream ("" when there is none); valid until free.
typedef const char* (*theoralib_m_comment_fn)(void* movie, int index);

typedef void* (*theoralib_w_create_fn)();
typedef void (*theoralib_w_free_fn)(void* sound);
typedef int (*theoralib_w_init_fn)(void* sound);
// Reads the Vorbis headers and the stream's length: 0, or -1 without one.
typedef int (*theoralib_w_load_fn)(void* sound, const void* base, TheoraReadFn read, TheoraSizeFn size);
typedef int (*theoralib_w_exists_fn)(void* sound);
// Samples are not decoded: 0 samples given.
typedef int (*theoralib_w_decodesample_fn)(void* sound, short* out, int count);
// The sample position of the time of the picture last decoded from the same
// data.
typedef int (*theoralib_w_nowsample_fn)(void* sound);
typedef int (*theoralib_w_totalsample_fn)(void* sound);
typedef int (*theoralib_w_totaltime_fn)(void* sound);
// 0 sample rate, 1 channels; -1 otherwise.
typedef int (*theoralib_w_info_fn)(void* sound, int what);
typedef const char* (*theoralib_w_comment_fn)(void* sound, int index);
}
