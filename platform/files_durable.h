// Copies that survive a crash of the copying program, and the facts about a
// file that such a copy needs. Paths are Shift-JIS with '\' or '/', resolved
// case-insensitively as the files service resolves them. Any thread.
#pragma once
#include <cstdio>
#include <string>

// Copies from_sjis to to_sjis (an existing destination file is truncated and
// overwritten), gives it the source's permission bits and flushes it to disk
// before returning. 0, or -1 with a partly written destination removed.
int files_durable_copy(const char* from_sjis, const char* to_sjis);
// As files_durable_copy into a file made new: nothing may stand at to_sjis
// (O_EXCL), and a symbolic link there, dangling or not, is never followed
// (O_NOFOLLOW), so nothing is written outside the destination's folder. 0,
// or -1 with anything this call made removed.
int files_durable_copy_new(const char* from_sjis, const char* to_sjis);
// Removes what stands at sjis_path unless it is a folder: a file, or a
// symbolic link itself (dangling or not), never what a link points at. 0
// when the name is free now, -1 when a folder or something that can't be
// removed stands there (or a folder on the way is missing).
int files_remove_unless_folder(const char* sjis_path);
// 1 when the file exists and may not be written: no write permission for its
// owner (the read-only attribute), or none for this user. Else 0.
int files_is_read_only(const char* sjis_path);
// Flushes a folder's entries (names made, renamed or removed) to disk. 0 or -1.
int files_sync_folder(const char* sjis_folder);
// The absolute path of an existing file or folder with links resolved and
// every name in its case on disk, '\' between the names and no trailing '\'
// (as the program's own path is given). 0, or -1 when the path does not exist
// or has no Shift-JIS form.
int files_canonical_path(const char* sjis_path, std::string* sjis_out);

// ---- replacing a file's whole contents durably ----
// The system calls a durable replace makes, in one table so that a test can
// wrap them (fail the n-th call, stop the process at a step, record the
// order). Each behaves as its POSIX namesake: -1 with errno set on failure.
struct DurableReplaceCalls {
  long (*write)(int fd, const void* data, unsigned long size);
  int (*fsync)(int fd);  // the new file's contents
  int (*rename)(const char* from_real, const char* to_real);
  int (*fsync_folder)(int folder_fd);  // the folder's entries after the rename
  // Copies up to size bytes of from_fd at offset at to fd's position, as
  // copy_file_range does (through a buffer where the files cannot); the
  // count copied, 0 at the source's end.
  long (*copy)(int from_fd, long long at, int fd, unsigned long size);
};
extern const DurableReplaceCalls kPosixDurableReplaceCalls;
// The table in use (kPosixDurableReplaceCalls unless a test set another).
extern DurableReplaceCalls g_durable_replace_calls;

// Replaces the file sjis_path (made when missing) by size bytes of data so
// that a crash at any moment leaves either the old file or the new one,
// whole. The data goes into a uniquely named temporary file beside it
// ("<name>.tmp-XXXXXX"), which is flushed to disk and renamed over the old
// name; then the folder is flushed. A name that is a symbolic link stays
// one: the file it points at (made when missing) is replaced, from a
// temporary file beside it. The old file is never opened for writing. Temporary files of the same name that an earlier, interrupted
// replace left behind are removed first. 0; or -1 with *error set to the
// errno of the failing call, the temporary file removed and the old file as
// it was.
int files_replace_durably(const char* sjis_path, const void* data, unsigned long size, int* error);
// One piece of a file's new contents: size bytes at data, or, when from is
// set, size bytes of that open file at offset at (copied by the kernel,
// never through the caller's memory).
struct FilePiece {
  const void* data;
  unsigned long size;
  std::FILE* from = nullptr;
  unsigned long long at = 0;
};
// The same with the contents given as count pieces, written in their order
// (no copy of them is made in memory). A file piece whose source ends early
// fails with EIO.
int files_replace_durably_pieces(const char* sjis_path, const FilePiece* pieces, unsigned long count, int* error);
// Closes f (the old file a replace has just taken the name of, or any
// stream). The last close of a file no longer named on disk is where the
// system frees its blocks, milliseconds for a save of megabytes: that close
// runs on a short-lived thread of its own, so the caller does not wait for
// the freeing. 0, or EOF when closing the stream failed.
int files_close_replaced(std::FILE* f);
