// The compiled engine files of "ztbin": error texts (zte), command list
// (ztc), variable table header (ztt), script list (ztt_list), variable
// definitions (ztv), labels (ztl), the engine configuration (ztcfg) and the
// compiled scripts (ztt%05d), loaded on demand and cached for the run.
//
// Every parser reads its bytes field by field: each count, length, offset
// and id is checked against the bytes read and the tables it indexes, and a
// file that does not fit reports kErrCompiledDataDamaged (900080) with the
// file name instead of being read past its end.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "engine/frame/types.h"
#include "engine/vm/command_args.h"
#include "engine/vm/command_dispatch.h"

// Numbers of the engine files' failures.
constexpr u32 kErrEngineFileMissing = 104060;
constexpr u32 kErrEngineFileRead = 104010;
constexpr u32 kErrEngineFileFailed = 901040;
constexpr u32 kErrVarTableVersion = 105000;
constexpr u32 kErrScriptNumberOutside = 901030;
constexpr u32 kErrVarIdOutside = 900070;
constexpr u32 kErrConfigRange = 901020;
constexpr u32 kErrConfigTitle = 901000;
constexpr u32 kErrLabelMissing = 108180;
// A task's program counter at or past the end of its script (a script
// without a terminating command, or a jump past the end). Fatal.
constexpr u32 kErrScriptPcOutside = 900090;

// One loaded compiled script file. Instruction i's records are
// first_records[i][0 .. arg_counts[i]-1]; every one lies inside the argument
// section and every code range inside the expression pool (checked at load).
struct ScriptRecord {
  u32 instruction_count = 0;
  // [0]: run_command_step for every instruction; [1]: the command table's
  // handler of each instruction's command id.
  CommandHandler* handler_tables[2] = {nullptr, nullptr};
  u16* call_words = nullptr;
  u8* arg_counts = nullptr;
  u8* command_ids = nullptr;
  const CommandArgRecord** first_records = nullptr;
  CommandArgRecord* records = nullptr;  // the argument section, parsed
  u32 record_count = 0;
  u8* expr_pool = nullptr;
  u32 expr_pool_size = 0;
  u32* source_lines = nullptr;
};

struct LabelRecord {
  std::string name;
  u32 hash = 0;
  u32 instruction = 0;
  u16 script_no = 0;
  u8 block_a_depth = 0;  // below 64 (checked at load)
  u8 block_b_depth = 0;
};

struct ScriptListEntry {
  std::string source_name;  // Shift-JIS, as error reports show it
  u32 value = 0;            // kept by entry position
};

// One entry of "ztbin\ztv.zbn", kept for the run.
struct VarDefinition {
  u8 scope = 0;  // 1 or 3 global, 2 one script file
  u8 var_class = 0;
  u16 script_no = 0;
  u16 var_id = 0;
  u8 type = 0;  // 1 integer, 2 float, 3 text
  u8 dim_count = 0;
  u32 dims[9] = {};
  i64 int_value = 0;
  double float_value = 0;
  std::vector<u8> text_code;  // text-mode expression code of the initial text
};

// The engine configuration ("ztbin\ztcfg.zbn").
struct EngineConfig {
  u32 screen_width = 800;  // 0 with height 0: the desktop size
  u32 screen_height = 600;
  u32 show_at_first_frame = 1;
  u32 frame_thread_mode = 0;
  u32 debug_mode = 0;
  u32 sound_mode = 1;
  u32 switches[3] = {0, 0, 0};
  u32 texture_size = 1024;  // smallest power of two 256..8192 not below the size
  std::string title;        // Shift-JIS; an empty title becomes " "
};
extern EngineConfig g_engine_config;

struct EngineData {
  std::vector<ScriptListEntry> scripts;  // by script number
  std::vector<ScriptRecord*> cache;      // by script number; null until loaded
  std::vector<VarDefinition> var_defs;
  std::vector<LabelRecord> labels;       // sorted by hash
  u32 bucket_start[256] = {};
};
extern EngineData g_engine_data;

// Parsers of the files' bytes (the loaders below read the file, then parse).
// 0, or -1 after reporting.
int parse_error_texts(const u8* data, std::size_t size, const char* name);
int parse_command_table(const u8* data, std::size_t size, const char* name);
int parse_var_table_header(const u8* data, std::size_t size, const char* name);
int parse_script_list(const u8* data, std::size_t size, const char* name);
int parse_var_defs(const u8* data, std::size_t size, const char* name);
int parse_labels(const u8* data, std::size_t size, const char* name);
int parse_engine_config(const u8* data, std::size_t size, const char* name);
// A compiled script file into a new record (descrambled in a copy). Null
// after reporting.
ScriptRecord* parse_script_file(const u8* data, std::size_t size, const char* name);
void free_script_record(ScriptRecord* record);

// Reads an engine file whole through the data sources in their order: 0 and
// the bytes (the caller frees them with std::free), or -1 after reporting
// 104060 (not found), 104010 (read failure) or 901040 (other failure).
int read_engine_file(const char* name, u8** data, u32* size);

int load_error_texts();
int load_command_table();
int load_var_table_header();
int load_script_list();
int load_var_defs();
int load_labels();
// Creates the variables of script file s (-1: the global ones). 0 or -1.
int load_script_vars(int s);
// Gives variable v (the record of d.var_id) the class, dimensions and
// initial value of its definition: 0, or -1 after a reported error.
struct VarRecord;
int apply_var_definition(VarRecord* v, const VarDefinition& d);
// The record of script file n, loading it the first time: null after
// reporting (a number outside the list, a file that can't be read or is
// damaged); a failed load is not cached, so a later entry tries again.
const ScriptRecord* load_script_file(u32 n);
// Pre-resolves the constant label names of label jumps and calls.
void preresolve_labels(ScriptRecord* record);

// The label index of name (length bytes), or -1.
i32 find_label(const char* name, u32 length);
// The label of index i, or null.
const LabelRecord* label_at(i64 index);

// Frees everything the engine files were loaded into (tests, shut-down).
void free_engine_data();
