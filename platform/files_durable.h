// Copies that survive a crash of the copying program, and the facts about a
// file that such a copy needs. Paths are Shift-JIS with '\' or '/', resolved
// case-insensitively as the files service resolves them. Any thread.
#pragma once
#include <string>

// Copies from_sjis to to_sjis (an existing destination file is truncated and
// overwritten), gives it the source's permission bits and flushes it to disk
// before returning. 0, or -1 with a partly written destination removed.
int files_durable_copy(const char* from_sjis, const char* to_sjis);
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
