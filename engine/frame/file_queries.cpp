#include "engine/frame/file_queries.h"

#include "engine/frame/data_access.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/sjis_text.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
int media_class_of(FileQuerySubject subject) {
  switch (subject) {
    case kFileQueryImage: return kMediaClassImage;
    case kFileQuerySound: return kMediaClassSound;
    default: return kMediaClassOther;
  }
}
}  // namespace

int is_directory(const char* path) {
  if (!path || !path[0]) return 0;
  return g_platform.files->is_directory(loose_file_path(path).c_str()) ? 1 : 0;
}

std::string file_query_normalise(const char* name) {
  std::string out = name ? name : "";
  lowercase_sjis_path(out.data());
  return out;
}

int file_query_exists(FileQuerySubject subject, const char* name) {
  const std::string normal = file_query_normalise(name);
  if (subject == kFileQueryFolder) return is_directory(normal.c_str());
  DataItem item;
  std::string found;
  const int result = resolve_media_file(&item, &found, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  return result == 0 ? 1 : 0;
}

int file_query_resolved_name(FileQuerySubject subject, const char* name, std::string* out) {
  out->clear();
  if (subject == kFileQueryFolder) return 0;
  const std::string normal = file_query_normalise(name);
  DataItem item;
  const int result = resolve_media_file(&item, out, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  if (result != 0) out->clear();
  return 0;
}

int file_query_associated_program(FileQuerySubject subject, const char* name, std::string* out) {
  out->clear();
  if (subject == kFileQueryFolder) return 0;
  const std::string normal = file_query_normalise(name);
  DataItem item;
  std::string found;
  const int result = resolve_media_file(&item, &found, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  // Only a file on disk has a program that opens it; archive and memory
  // entries have none.
  if (result != 0 || item.source_kind != kSourceLooseFile || !g_platform.ui) return 0;
  std::string program;
  if (g_platform.ui->find_associated_program(loose_file_path(found.c_str()).c_str(), &program) == 0) *out = program;
  return 0;
}
