// The named-object tree: layers, script tasks, sounds and menu items are
// nodes of four trees below four unnamed roots. A node keeps its children in
// a list ordered by order key and, for look-up by name, in a sorted index of
// child keys (MurmurHash2 of the name, bit 31 set for groups) with buckets by
// the key's top byte.
//
// Every function returns null / -1 after reporting a numbered error (fatal)
// unless it says otherwise; look-ups report nothing.
#pragma once
#include "engine/frame/types.h"

// What a node's payload is. The payload stays null until its owner attaches
// it; the kind tells which owner that is.
enum PayloadKind : u8 {
  kPayloadNone = 0,
  kPayloadLayerImage = 1,     // LayerImage (images)
  kPayloadScriptContext = 2,  // ScriptContext (scheduler)
  kPayloadSoundBuffer = 3,    // SoundBuffer (sound)
  kPayloadMenuItem = 4,       // MenuItem (below)
};

constexpr u32 kObjectIndexCapacity = 4096;  // children a node can hold
constexpr u32 kObjectPathSize = 4096;       // size of a path buffer
constexpr u32 kObjectGroupBit = 0x80000000u;

struct ObjectNode {
  ObjectNode* first_child;  // lowest order key
  ObjectNode* last_child;   // highest order key
  ObjectNode* prev;
  ObjectNode* next;
  ObjectNode* parent;  // null for a root
  char* name;          // last path segment, NUL-terminated; null for a root
  u32 name_length;
  u32 key;                    // bit 31 group flag, bits 0-30 name hash
  u32* index_keys;            // kObjectIndexCapacity sorted child keys
  ObjectNode** index_nodes;   // parallel to index_keys
  u16* bucket_start;          // 257: first index position of top byte b
  u16* bucket_count;          // 257: keys with top byte b
  i32 index_count;
  u32 child_count;
  i64 order_key;
  u8 is_group;
  u8 payload_kind;  // PayloadKind
  void* payload;
};

// Payload of a menu-tree node. An empty caption makes a separator.
constexpr u32 kMenuCaptionSize = 261;
struct MenuItem {
  char* caption;  // kMenuCaptionSize-byte heap buffer
  u8 shown;       // 1 at creation
  u16 enabled;    // 256 at creation; 0 = greyed
  u8 checked;
  i64 command;  // low 32 bits: the menu command identifier
};

// The four trees.
enum ObjectTree : u8 { kTreeLayer = 0, kTreeTask = 1, kTreeSound = 2, kTreeMenu = 3 };
extern ObjectNode* g_object_roots[4];
// The first nodes: "W0" (group, order key 1), "SYSTEM" (leaf), "S0" (group),
// "M0" (group); their names are 256-byte buffers.
extern ObjectNode* g_system_objects[4];
// Base paths that script names are taken relative to, one per tree, set to
// the first nodes' names at start-up. Scripts read them (system variables
// 128-131) and replace the layer and menu ones through set_object_base_path.
// They are buffers of their own, so replacing a base never renames a node.
constexpr u32 kObjectBasePathSize = 256;
extern char g_object_base_paths[4][kObjectBasePathSize];
// Copies text (at most 255 bytes, cut before a split double-byte character).
void set_object_base_path(int tree, const char* text);

// Look-up counters for the debug display.
struct ObjectLookupStats {
  u32 lookups;          // hashes computed
  u32 nodes_visited;
  u32 hash_collisions;  // key matched, name differed
};
extern ObjectLookupStats g_object_lookup_stats;

// MurmurHash2 of the name, masked to 31 bits.
u32 object_name_hash(const char* name, u32 length);

// Full path of name relative to base into out (kObjectPathSize bytes).
// Returns 1 when it names a group (a trailing '/', removed), 0 for a leaf,
// -1 after reporting 100242 (a blank in a segment, unless allow_blank) or
// 100244 (the path does not fit). A plain name (none of '.', ':', '/') is
// joined to base as it stands, blanks included. Otherwise ".." removes the
// segment before it and never steps before the start; "." is dropped; a name
// beginning with ':' starts at the root.
int build_object_path(char* out, const char* name, const char* base, int allow_blank);

// Walks path from root; every segment but the last names a group child. The
// last: mode 0 a leaf through the key index, 1 a group, 2 any child (first
// in list order). Null when missing; nothing is reported.
ObjectNode* resolve_object_path(ObjectNode* root, const char* path, int mode);
// The group child of node named by segment (length bytes, need not end in NUL).
ObjectNode* find_child_by_name(ObjectNode* node, const char* segment, u32 length);
// The leaf child of node named by segment, through the key index.
ObjectNode* find_leaf_child(ObjectNode* node, const char* segment, u32 length);
// The group reached by all but the last segment; reports 100230 (fatal) with
// the missing segment.
ObjectNode* resolve_parent_path(const char* path, ObjectNode* root);
// Creates a new node for path (callers resolve first): 900020 for a null
// path, 100230 for a missing parent, 100250 when the parent is full, 100010.
ObjectNode* get_named_object(ObjectNode* root, const char* path, int is_group, i64 order_key);
// As get_named_object, with a name buffer of name_buffer_size bytes (at
// least the name's length + 1).
ObjectNode* get_named_object_sized(ObjectNode* root, const char* path, int is_group, i64 order_key,
                                   u32 name_buffer_size);

// Key index. Insert: 0, or -1 after reporting 100250 (full) / 100010.
int object_index_insert(ObjectNode* parent, ObjectNode* child);
// Remove: 0 when the entry was found and removed, -1 when it was not there.
int object_index_remove(ObjectNode* parent, ObjectNode* child);
// Child list (also used to restack layers).
void layer_insert_child(ObjectNode* parent, ObjectNode* child, i64 order_key);
void layer_unlink(ObjectNode* parent, ObjectNode* child);
// Restacks node under its parent with order key key (unlinked, then
// inserted after every sibling of a key not above it): 1, or 0 without
// node or parent. Layers, tasks and menu items alike.
int layer_reorder(ObjectNode* node, i64 key);
// Removes node from its parent's index and list (roots included) and clears
// its sibling links; returns the parent. Its children, payload and parent
// pointer stay; a node no longer in its parent's list is left alone.
ObjectNode* object_detach(ObjectNode* node);
// The n-th child (1-based) in list order; the first for n < 2; null past the end.
ObjectNode* object_list_nth(ObjectNode* node, i64 n);

// Payload allocators (nothing for a null node; 100010 fatal on no memory).
int make_menu_item(ObjectNode* node, const char* caption);
void free_menu_item(MenuItem* item);

// Releases a payload of the given kind; owners fill their entry at start-up.
// The menu-item entry is filled here.
extern void (*g_payload_release[5])(void* payload);
// Frees node and everything below it (payloads through g_payload_release; a
// kind without an entry is left alone). The node must be detached first.
void object_subtree_free(ObjectNode* node);

// Creates the four roots and their first nodes; attaches the payloads whose
// owners are built (see object_payloads_pending.cpp). 0 or -1.
int create_system_objects();
// Frees the four trees (shut-down and tests).
void destroy_system_objects();

// Attach the first nodes' payloads. Each is defined by the payload's owner;
// until then object_payloads_pending.cpp leaves the payload null. 0 or -1.
int attach_screen_layer(ObjectNode* w0);
int attach_system_task_context(ObjectNode* system_task);
int attach_root_sound(ObjectNode* s0);
