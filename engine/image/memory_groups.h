// Filling the in-memory file groups (g_memory_groups, searched first by data
// access): files are kept in order of use, the newest last; a group that
// holds kMemoryGroupCapacity files drops its oldest to take another.
#pragma once
#include "engine/frame/data_item.h"

// Adds the image file name (located like any image, extensions tried as
// configured) to group 0..3. A file the group already holds moves to the end
// without being read again. Not found: 0, or with report error 104060
// (fatal) and -1. -1 also for a bad group and after a reported locate or
// load error.
int memory_group_add(int group, const char* name, int report);
// Drops entry index of group 0..3: its byte count leaves the group's total
// and the later entries move down by one. -1 for a bad group or index.
int memory_group_remove(int group, int index);
// Drops every entry of every group.
void memory_groups_clear();
