#include "engine/image/memory_groups.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "engine/frame/data_access.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"

namespace {
constexpr u32 kErrFileMissing = 104060;

bool valid_group(int group) { return group >= 0 && group < kMemoryGroupCount; }
}  // namespace

int memory_group_remove(int group, int index) {
  if (!valid_group(group)) return -1;
  MemoryFileGroup& g = g_memory_groups.groups[group];
  if (index < 0 || static_cast<std::size_t>(index) >= g.entries.size()) return -1;
  g.total_bytes -= static_cast<i32>(g.entries[static_cast<std::size_t>(index)].data.size());
  g.entries.erase(g.entries.begin() + index);
  return 0;
}

int memory_group_add(int group, const char* name, int report) {
  if (!valid_group(group) || !name) return -1;
  MemoryFileGroup& g = g_memory_groups.groups[group];
  DataItem item;
  std::string found;
  const int located = resolve_media_file(&item, &found, name, kMediaClassImage);
  if (located < 0) return -1;
  if (located == 1) {
    if (!report) return 0;
    report_error_at(kErrFileMissing, 1, name);
    return -1;
  }
  if (item.source_kind == kSourceMemoryGroup && item.group == static_cast<u32>(group) &&
      item.group_index < g.entries.size()) {
    // Already held: the entry itself moves to the end, name and bytes
    // with it; the group's total does not change.
    MemoryFileEntry entry = std::move(g.entries[item.group_index]);
    g.entries.erase(g.entries.begin() + item.group_index);
    g.entries.push_back(std::move(entry));
    return 0;
  }
  if (load_data_item(&item, found.c_str()) != 0) return -1;
  MemoryFileEntry entry;
  entry.name = found;
  entry.data.assign(item.data, item.data + item.size);
  entry.media_type = item.source_kind == kSourceLooseFile || !item.entry_type
                         ? static_cast<i32>(media_type_from_extension(found.c_str()))
                         : static_cast<i32>(item.entry_type);
  free_data_item(&item);
  if (g.entries.size() >= static_cast<std::size_t>(kMemoryGroupCapacity)) memory_group_remove(group, 0);
  g.total_bytes += static_cast<i32>(entry.data.size());
  g.entries.push_back(std::move(entry));
  return 0;
}

void memory_groups_clear() {
  for (MemoryFileGroup& g : g_memory_groups.groups) {
    g.entries.clear();
    g.total_bytes = 0;
  }
}
