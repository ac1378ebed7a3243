// The updater: finds the game's install folder in the registry, makes sure
// the game is installed and not running and the package is whole, asks
// twice, and puts the package's four files into the install folder so that
// a crash at any instant leaves every file whole, old or new.
#pragma once
#include <string>

// The program: one copy at a time (a second one ends at once), one update.
// The exit code: 1 when a step failed, else 0 (done, cancelled, or another
// updater runs).
int updater_main();

// The update, step by step; every failure shows its box. 0 when every file
// was replaced, 1 when a question was answered No, else -1.
int run_update();

// The engine's names for the folder it runs from, made from the install
// folder (Shift-JIS, '\' between names, with or without a trailing '\'):
// the lock and window class of the program file, and the lock of the folder.
struct EngineNames {
  std::string instance;  // "<folder>\k_lumbrane" lower-cased, ':' for '\'
  std::string folder;    // "<folder>\" lower-cased, ':' for '\'
};
EngineNames engine_names_for(const std::string& sjis_install_folder);

// 1 when an engine runs from the install folder at any point of its run
// (starting, past its start-up, or holding its instance for the whole run).
int is_engine_running(const std::string& sjis_install_folder);

// The engine's two names for the install folder, held by the updater so
// that no engine starts from there while the files are replaced.
struct NamedLock;
struct HeldEngineNames {
  NamedLock* instance = nullptr;
  NamedLock* folder = nullptr;
};
// Takes both names once no engine is starting: 0 when held; 1 when an
// engine runs from the folder (a name held, or its window there), and then
// nothing is held.
int hold_engine_names(const std::string& sjis_install_folder, HeldEngineNames* held);
void release_engine_names(HeldEngineNames* held);

// The install folder's four targets and their staged copies. The staged name
// is the target's with kStagedSuffix after it: never an archive, check list
// or program name the engine or the checker reads.
constexpr int kUpdateFileCount = 4;
extern const char* const kPackageFiles[kUpdateFileCount];  // relative to the package
extern const char* const kTargetFiles[kUpdateFileCount];   // relative to the install folder
extern const char* const kStagedSuffix;

// Removes what a killed run (or anybody) left at the staged names in the
// install folder: files and symbolic links, never what a link points at.
void remove_staged_leftovers(const std::string& sjis_dir);

// Step 9: stages every file, then renames the staged ones over their targets
// in order. A file that can't be staged (or whose target is read-only) keeps
// its old target; the others are still done. 0 when all four were replaced.
int install_update_files(const std::string& sjis_dir);
