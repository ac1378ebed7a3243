// Data access over the four sources: the locators and loaders of the memory
// groups, the compiler's files and loose files (the archive ones live in
// archive.h), and the source order.
//
// Names are passed lower-cased with '\' separators. Name comparisons fold
// ASCII letters only outside double-byte characters, so two Shift-JIS names
// that differ in a trail byte never match.
#pragma once
#include <string>

#include "engine/frame/data_item.h"

// The order of the locate walk: memory groups, compiler files, archives,
// loose files; loose files come before archives when the configuration asks
// for it and the archive does not ride in the program file.
void data_source_order(DataSource order[4]);

// The path that is opened for a loose file name: a relative name is taken in
// the project folder (the program folder until the project folder is known),
// so a change of the current folder does not move it.
std::string loose_file_path(const char* name);

// 4 found (group, index and entry type set), 0 not found.
int locate_in_memory_groups(DataItem* item, const char* name);
// 3 found (compiler index set), 0 not found.
int locate_in_name_list(DataItem* item, const char* name);
// 1 when the path names an existing file that is not a folder, else 0.
int file_exists_on_disk(const char* path);

// Loaders: 0 loaded (size and data set, the caller owns data); -2 damaged;
// -3 open, memory or read failure. Every failure but a short loose-file
// read is reported; after any failure data is null and size 0.
int load_item_from_memory(DataItem* item, const char* name);
int load_item_from_table(DataItem* item, const char* name);
int load_item_from_file(DataItem* item, const char* name);
// The loader of the item's source kind (archives included).
int load_data_item(DataItem* item, const char* name);
