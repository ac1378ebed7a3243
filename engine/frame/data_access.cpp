#include "engine/frame/data_access.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/archive.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/sjis_text.h"
#include "platform/files.h"
#include "platform/platform.h"

MemoryFileGroups g_memory_groups;
CompilerFileList g_compiler_files;
DataAccessConfig g_data_access_config;

namespace {
constexpr u32 kErrReadFailed = 104010;
constexpr u32 kErrNoMemoryForFile = 104030;

// A copy of bytes into a fresh heap buffer for the item; 0 or -3 (reported).
int copy_into_item(DataItem* item, const u8* bytes, std::size_t size, const char* name) {
  u8* data = static_cast<u8*>(std::malloc(size ? size : 1));
  if (!data) {
    report_error_at(kErrNoMemoryForFile, 1, name);
    return -3;
  }
  if (size) std::memcpy(data, bytes, size);
  item->data = data;
  item->size = static_cast<u32>(size);
  return 0;
}
}  // namespace

void free_data_item(DataItem* item) {
  std::free(item->data);
  item->data = nullptr;
  item->size = 0;
}

void data_source_order(DataSource order[4]) {
  const u32 loose_first =
      g_compiled_scripts_present ? g_data_access_config.loose_first_compiled : g_data_access_config.loose_first_development;
  order[0] = kDataSourceMemory;
  order[1] = kDataSourceCompiler;
  if (!g_archive_in_program && loose_first) {
    order[2] = kDataSourceLoose;
    order[3] = kDataSourceArchives;
  } else {
    order[2] = kDataSourceArchives;
    order[3] = kDataSourceLoose;
  }
}

std::string loose_file_path(const char* name) {
  if (name[0] == '\\' || name[0] == '/') return name;
  std::string folder = !g_paths.project_folder.empty() ? g_paths.project_folder : g_paths.program_folder_true;
  if (folder.empty()) return name;
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder + name;
}

int locate_in_memory_groups(DataItem* item, const char* name) {
  for (int g = 0; g < kMemoryGroupCount; ++g) {
    const MemoryFileGroup& group = g_memory_groups.groups[g];
    for (std::size_t i = 0; i < group.entries.size(); ++i) {
      if (sjis_stricmp(group.entries[i].name.c_str(), name) != 0) continue;
      item->source_kind = kSourceMemoryGroup;
      item->group = static_cast<u32>(g);
      item->group_index = static_cast<u32>(i);
      item->entry_type = static_cast<u8>(group.entries[i].media_type);
      return 4;
    }
  }
  return 0;
}

int locate_in_name_list(DataItem* item, const char* name) {
  for (u32 i = 0; i < g_compiler_files.count; ++i) {
    const CompilerFileRecord& record = g_compiler_files.records[i];
    if (!record.name || sjis_stricmp(record.name, name) != 0) continue;
    item->source_kind = kSourceCompilerFile;
    item->compiler_index = i;
    return 3;
  }
  return 0;
}

int file_exists_on_disk(const char* path) {
  if (!path || !path[0]) return 0;
  return g_platform.files->is_file(loose_file_path(path).c_str()) ? 1 : 0;
}

int load_item_from_memory(DataItem* item, const char* name) {
  item->data = nullptr;
  item->size = 0;
  // The group may have changed since the item was located.
  if (item->group >= static_cast<u32>(kMemoryGroupCount) ||
      item->group_index >= g_memory_groups.groups[item->group].entries.size()) {
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  const MemoryFileEntry& entry = g_memory_groups.groups[item->group].entries[item->group_index];
  return copy_into_item(item, entry.data.data(), entry.data.size(), name);
}

int load_item_from_table(DataItem* item, const char* name) {
  item->data = nullptr;
  item->size = 0;
  if (item->compiler_index >= g_compiler_files.count) {
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  const CompilerFileRecord& record = g_compiler_files.records[item->compiler_index];
  if (record.size && !record.data) {
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  return copy_into_item(item, record.data, record.size, name);
}

int load_item_from_file(DataItem* item, const char* name) {
  item->data = nullptr;
  item->size = 0;
  std::FILE* file = g_platform.files->open(loose_file_path(name).c_str(), "rb");
  if (!file) {
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  off_t length = -1;
  if (fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  // The item size is 32 bits: a larger file is refused, not cut short.
  if (static_cast<u64>(length) > 0xFFFFFFFFull) {
    std::fclose(file);
    report_error_at(kErrNoMemoryForFile, 1, name);
    return -3;
  }
  const std::size_t size = static_cast<std::size_t>(length);
  u8* data = static_cast<u8*>(std::malloc(size ? size : 1));
  if (!data) {
    std::fclose(file);
    report_error_at(kErrNoMemoryForFile, 1, name);
    return -3;
  }
  const std::size_t got = size ? std::fread(data, 1, size, file) : 0;
  std::fclose(file);
  if (got != size) {
    std::free(data);
    return -3;  // a short read is not reported
  }
  item->data = data;
  item->size = static_cast<u32>(size);
  return 0;
}

int load_data_item(DataItem* item, const char* name) {
  switch (item->source_kind) {
    case kSourceLooseFile:
      return load_item_from_file(item, name);
    case kSourceArchive:
      return load_item_from_pack(item, name);
    case kSourceCompilerFile:
      return load_item_from_table(item, name);
    case kSourceMemoryGroup:
      return load_item_from_memory(item, name);
    default:
      item->data = nullptr;
      item->size = 0;
      report_error_at(kErrReadFailed, 1, name);
      return -3;
  }
}
