// The bridge to the outside script compiler: without compiled scripts the
// engine starts the compiler, and the two exchange a control block and a
// list of compiled files through named shared memory. The files become the
// compiler files that data access searches before archives and loose files.
#pragma once
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/types.h"

constexpr u32 kCompilerBlockSize = 512;
constexpr u32 kCompilerEngineVersion = 554;
// Offsets in the control block.
constexpr u32 kCompilerReady = 0;
constexpr u32 kCompilerGo = 4;
constexpr u32 kCompilerResult = 12;
constexpr u32 kCompilerFileCount = 16;
constexpr u32 kCompilerListSize = 20;
constexpr u32 kCompilerVersionAt = 128;
constexpr u32 kCompilerFolderAt = 132;
extern const char kCompilerBlockName[];  // "ZE-TARCompilerFileMapObject"
extern const char kCompilerListName[];   // "ZE-TARCompilerFileMapObject2"
extern const char kCompilerProgram[];    // "system\DEDad\DEDad.exe"

// Walks count items of a handed-over file list (u32 N, N bytes of the name
// with its NUL, u32 S, S bytes of data) in the size bytes at data, into
// records whose names and data point into data. 0, or -1 when an item
// passes the end or a name lacks its NUL (out is then empty).
int parse_compiler_file_list(const u8* data, u32 size, u32 count, std::vector<CompilerFileRecord>* out);

// The fewest bytes an item of the file list takes: both sizes and a name of
// its NUL alone.
constexpr u32 kCompilerMinItemBytes = 9;
// Whether a list of list_size bytes can hold count items at all.
bool compiler_list_size_fits(u32 count, u32 list_size);

// What the compiler handed back once it ended: count items of the file list
// (within list_size bytes at list; the bytes they span are copied) become
// the compiler files; the result byte and the project folder (its text
// bounded by the block) come from the kCompilerBlockSize bytes of the
// control block. 0, or -1 after its message
// when the list does not walk or can't be copied (no compiler files then).
int read_compiler_results(const u8* block, const u8* list, u32 list_size, u32 count, u8* result,
                          std::string* project);

// The start-up step: 0 compiled (the project folder is now current and
// g_paths.project_folder names it; without a compiler, a game whose compiled
// files lie loose in "ztbin" runs them from the program folder), 1 stop (no compiler, it did not start,
// ended early, reported failure, or the run was asked to close while it
// worked), -1 the exchange failed (shown in a box).
int run_script_compiler();

// Forgets the compiler files and frees their copy.
void release_compiler_files();
