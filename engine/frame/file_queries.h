// Small file-system queries of the file commands: folder tests and the
// answers of the file-query command (exists, resolved name, associated
// program) for a folder, an image, a sound or any other file.
#pragma once
#include <string>

#include "engine/frame/types.h"

// 1 when the path names an existing folder, else 0. A relative path is taken
// in the project folder, as loose files are.
int is_directory(const char* path);

// Subject of a file query: the parameter that named it.
enum FileQuerySubject : int {
  kFileQueryFolder = 0,
  kFileQueryImage = 1,
  kFileQuerySound = 2,
  kFileQueryOther = 3,
};

// The name as the command uses it: lower-cased (Shift-JIS aware).
std::string file_query_normalise(const char* name);
// 1 exists, 0 not, -1 after a reported error (an archive did not open).
int file_query_exists(FileQuerySubject subject, const char* name);
// The name found with its extension, or empty (also for a folder). -1 after
// a reported error, else 0.
int file_query_resolved_name(FileQuerySubject subject, const char* name, std::string* out);
// The program the desktop opens the file with, for a file found on disk;
// empty when there is none or the file is an archive or memory entry. 0, or
// -1 after a reported error.
int file_query_associated_program(FileQuerySubject subject, const char* name, std::string* out);
