// The named-object tree (see object_tree.h).
#include "engine/vm/object_tree.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/hashes.h"
#include "engine/frame/sjis_text.h"
#include "engine/vm/vm_errors.h"

ObjectNode* g_object_roots[4] = {};
ObjectNode* g_system_objects[4] = {};
char g_object_base_paths[4][kObjectBasePathSize] = {};
ObjectLookupStats g_object_lookup_stats = {};
void (*g_payload_release[5])(void* payload) = {};

namespace {

// Length of the segment that starts at p: up to the next single-byte '/' or
// the end, stepping over double-byte characters (a lead byte at the very end
// counts as one byte).
u32 segment_length(const char* p) {
  u32 n = 0;
  while (p[n] && p[n] != '/') {
    if (is_sjis_lead(static_cast<unsigned char>(p[n])) && p[n + 1]) n += 2;
    else n += 1;
  }
  return n;
}

bool names_equal(const ObjectNode* node, const char* segment, u32 length) {
  return node->name_length == length && (length == 0 || std::memcmp(node->name, segment, length) == 0);
}

// Walks the child list for a key (with or without the group bit) and name.
ObjectNode* find_in_list(ObjectNode* node, const char* segment, u32 length, u32 key, u32 key_mask) {
  for (ObjectNode* c = node->first_child; c; c = c->next) {
    ++g_object_lookup_stats.nodes_visited;
    if ((c->key & key_mask) != key) continue;
    if (names_equal(c, segment, length)) return c;
    ++g_object_lookup_stats.hash_collisions;
  }
  return nullptr;
}

int report_out_of_memory() {
  report_error_code_at(kErrOutOfMemory, 1);
  return -1;
}

int alloc_index(ObjectNode* parent) {
  if (parent->index_keys) return 0;
  auto* keys = static_cast<u32*>(std::calloc(kObjectIndexCapacity, sizeof(u32)));
  auto* nodes = static_cast<ObjectNode**>(std::calloc(kObjectIndexCapacity, sizeof(ObjectNode*)));
  auto* starts = static_cast<u16*>(std::calloc(257, sizeof(u16)));
  auto* counts = static_cast<u16*>(std::calloc(257, sizeof(u16)));
  if (!keys || !nodes || !starts || !counts) {
    std::free(keys);
    std::free(nodes);
    std::free(starts);
    std::free(counts);
    return report_out_of_memory();
  }
  parent->index_keys = keys;
  parent->index_nodes = nodes;
  parent->bucket_start = starts;
  parent->bucket_count = counts;
  parent->index_count = 0;
  return 0;
}

void free_node_storage(ObjectNode* node) {
  std::free(node->name);
  std::free(node->index_keys);
  std::free(node->index_nodes);
  std::free(node->bucket_start);
  std::free(node->bucket_count);
  std::free(node);
}

// Appends n bytes to out (length *len), keeping room for the NUL.
bool append_bytes(char* out, u32* len, const char* p, u32 n) {
  if (*len + n >= kObjectPathSize) return false;
  std::memcpy(out + *len, p, n);
  *len += n;
  return true;
}

void release_menu_item_payload(void* payload) { free_menu_item(static_cast<MenuItem*>(payload)); }

}  // namespace

u32 object_name_hash(const char* name, u32 length) {
  ++g_object_lookup_stats.lookups;
  return murmur_hash2(name, length) & 0x7fffffffu;
}

void set_object_base_path(int tree, const char* text) {
  if (tree < 0 || tree > 3) return;
  char* out = g_object_base_paths[tree];
  u32 n = 0;
  if (text) {
    while (text[n] && n < kObjectBasePathSize - 1) {
      if (is_sjis_lead(static_cast<unsigned char>(text[n])) && text[n + 1]) {
        if (n + 2 > kObjectBasePathSize - 1) break;
        n += 2;
      } else {
        n += 1;
      }
    }
    std::memcpy(out, text, n);
  }
  out[n] = 0;
}

int build_object_path(char* out, const char* name, const char* base, int allow_blank) {
  if (!base) base = "";
  if (!name) name = "";
  u32 len = 0;
  out[0] = 0;
  bool special = false;
  for (const char* p = name; *p; ++p) {
    if (*p == '.' || *p == ':' || *p == '/') {
      special = true;
      break;
    }
    if (is_sjis_lead(static_cast<unsigned char>(*p)) && p[1]) ++p;
  }

  // A plain name (no '.', ':' or '/') is only joined to the base: nothing in
  // it is a segment rule, and blanks are kept ("bg 1" names a leaf).
  if (!special) {
    u32 nb = static_cast<u32>(std::strlen(base));
    u32 nn = static_cast<u32>(std::strlen(name));
    u32 total = nb + (nb ? 1 : 0) + nn;
    if (total >= kObjectPathSize) {
      report_error_code_at(kErrObjectPathTooLong, 1);
      return -1;
    }
    std::memcpy(out, base, nb);
    if (nb) out[nb++] = '/';
    std::memcpy(out + nb, name, nn);
    out[total] = 0;
    return 0;
  }

  // The work string: what gets copied segment by segment.
  const char* parts[3] = {"", "", ""};
  if (name[0] == ':') {
    parts[2] = name[1] == '/' ? name + 2 : name + 1;
  } else {
    parts[0] = base;
    parts[1] = *base ? "/" : "";
    parts[2] = name[0] == '/' ? name + 1 : name;
  }
  char work[2 * kObjectPathSize + 2];
  u32 wlen = 0;
  for (const char* part : parts) {
    u32 n = static_cast<u32>(std::strlen(part));
    if (wlen + n >= sizeof work) {
      report_error_code_at(kErrObjectPathTooLong, 1);
      return -1;
    }
    std::memcpy(work + wlen, part, n);
    wlen += n;
  }
  work[wlen] = 0;

  // Start offsets in out of the segments copied so far, for "..".
  u32 starts[kObjectPathSize];
  u32 depth = 0;
  const char* p = work;
  while (*p) {
    u32 seg = segment_length(p);
    bool followed_by_slash = p[seg] == '/';
    if (followed_by_slash && seg == 2 && p[0] == '.' && p[1] == '.') {
      if (depth > 0) len = starts[--depth];
      p += 3;
      continue;
    }
    if (followed_by_slash && seg == 1 && p[0] == '.') {
      p += 2;
      continue;
    }
    if (!allow_blank) {
      for (u32 i = 0; i < seg; ++i) {
        if (is_sjis_lead(static_cast<unsigned char>(p[i])) && i + 1 < seg) {
          ++i;
        } else if (p[i] == ' ') {
          out[len] = 0;
          report_error_code_at(kErrObjectNameBlank, 1);
          return -1;
        }
      }
    }
    u32 start = len;
    u32 slashes = 0;
    while (p[seg + slashes] == '/') ++slashes;
    if (!append_bytes(out, &len, p, seg + slashes)) {
      out[start] = 0;
      report_error_code_at(kErrObjectPathTooLong, 1);
      return -1;
    }
    starts[depth++] = start;
    p += seg + slashes;
  }
  out[len] = 0;
  if (len > 0 && out[len - 1] == '/') {
    out[len - 1] = 0;
    return 1;
  }
  return 0;
}

ObjectNode* find_child_by_name(ObjectNode* node, const char* segment, u32 length) {
  if (!node) return nullptr;
  u32 key = object_name_hash(segment, length) | kObjectGroupBit;
  return find_in_list(node, segment, length, key, 0xffffffffu);
}

ObjectNode* find_leaf_child(ObjectNode* node, const char* segment, u32 length) {
  if (!node || !node->index_keys || node->index_count <= 0) return nullptr;
  u32 h = object_name_hash(segment, length);
  u32 b = h >> 24;
  // The bucket's entries are exactly [start, start + count), inside the index.
  u32 begin = node->bucket_start[b];
  u32 end = begin + node->bucket_count[b];
  if (end > static_cast<u32>(node->index_count)) end = static_cast<u32>(node->index_count);
  for (u32 i = begin; i < end; ++i) {
    ++g_object_lookup_stats.nodes_visited;
    if (node->index_keys[i] != h) continue;
    ObjectNode* c = node->index_nodes[i];
    if (names_equal(c, segment, length)) return c;
    ++g_object_lookup_stats.hash_collisions;
  }
  return nullptr;
}

ObjectNode* resolve_object_path(ObjectNode* root, const char* path, int mode) {
  if (!root || !path) return nullptr;
  ObjectNode* node = root;
  const char* p = path;
  for (;;) {
    u32 seg = segment_length(p);
    if (p[seg] == '/') {
      node = find_child_by_name(node, p, seg);
      if (!node) return nullptr;
      p += seg + 1;
      continue;
    }
    switch (mode) {
      case 0:
        return find_leaf_child(node, p, seg);
      case 1:
        return find_child_by_name(node, p, seg);
      default: {
        u32 h = object_name_hash(p, seg);
        return find_in_list(node, p, seg, h, 0x7fffffffu);
      }
    }
  }
}

ObjectNode* resolve_parent_path(const char* path, ObjectNode* root) {
  ObjectNode* node = root;
  const char* p = path;
  for (;;) {
    u32 seg = segment_length(p);
    if (p[seg] != '/') return node;
    ObjectNode* child = find_child_by_name(node, p, seg);
    if (!child) {
      char missing[kObjectPathSize];
      u32 n = seg < kObjectPathSize - 1 ? seg : kObjectPathSize - 1;
      std::memcpy(missing, p, n);
      missing[n] = 0;
      report_error_at(kErrObjectParentMissing, 1, missing);
      return nullptr;
    }
    node = child;
    p += seg + 1;
  }
}

int object_index_insert(ObjectNode* parent, ObjectNode* child) {
  if (alloc_index(parent) != 0) return -1;
  if (parent->index_count >= static_cast<i32>(kObjectIndexCapacity)) {
    report_error_code_at(kErrObjectTooManyChildren, 1);
    return -1;
  }
  u32 key = child->key;
  u32 b = key >> 24;
  u32 pos = parent->bucket_start[b];
  u32 end = pos + parent->bucket_count[b];
  while (pos < end && parent->index_keys[pos] < key) ++pos;
  u32 count = static_cast<u32>(parent->index_count);
  std::memmove(parent->index_keys + pos + 1, parent->index_keys + pos, (count - pos) * sizeof(u32));
  std::memmove(parent->index_nodes + pos + 1, parent->index_nodes + pos, (count - pos) * sizeof(ObjectNode*));
  parent->index_keys[pos] = key;
  parent->index_nodes[pos] = child;
  for (u32 c = b + 1; c <= 256; ++c) parent->bucket_start[c]++;
  parent->bucket_count[b]++;
  parent->index_count++;
  return 0;
}

int object_index_remove(ObjectNode* parent, ObjectNode* child) {
  if (!parent || !child || !parent->index_keys || parent->index_count <= 0) return -1;
  u32 key = child->key;
  u32 b = key >> 24;
  u32 begin = parent->bucket_start[b];
  u32 end = begin + parent->bucket_count[b];
  u32 count = static_cast<u32>(parent->index_count);
  if (end > count) end = count;
  for (u32 i = begin; i < end; ++i) {
    if (parent->index_keys[i] != key || parent->index_nodes[i] != child) continue;
    for (u32 c = b + 1; c <= 256; ++c) parent->bucket_start[c]--;
    parent->bucket_count[b]--;
    std::memmove(parent->index_keys + i, parent->index_keys + i + 1, (count - i - 1) * sizeof(u32));
    std::memmove(parent->index_nodes + i, parent->index_nodes + i + 1, (count - i - 1) * sizeof(ObjectNode*));
    parent->index_keys[count - 1] = 0;
    parent->index_nodes[count - 1] = nullptr;
    parent->index_count--;
    return 0;
  }
  return -1;
}

void layer_insert_child(ObjectNode* parent, ObjectNode* child, i64 order_key) {
  child->parent = parent;
  child->order_key = order_key;
  ObjectNode* at = parent->first_child;
  while (at && at->order_key <= order_key) at = at->next;
  if (at) {
    child->next = at;
    child->prev = at->prev;
    if (at->prev) at->prev->next = child;
    else parent->first_child = child;
    at->prev = child;
  } else {
    child->next = nullptr;
    child->prev = parent->last_child;
    if (parent->last_child) parent->last_child->next = child;
    else parent->first_child = child;
    parent->last_child = child;
  }
  parent->child_count++;
}

void layer_unlink(ObjectNode* parent, ObjectNode* child) {
  if (child->prev) child->prev->next = child->next;
  else if (parent->first_child == child) parent->first_child = child->next;
  if (child->next) child->next->prev = child->prev;
  else if (parent->last_child == child) parent->last_child = child->prev;
  if (parent->child_count > 0) parent->child_count--;
  if (parent->child_count == 0) parent->first_child = parent->last_child = nullptr;
}

int layer_reorder(ObjectNode* node, i64 key) {
  if (!node || !node->parent) return 0;
  ObjectNode* parent = node->parent;
  layer_unlink(parent, node);
  layer_insert_child(parent, node, key);
  return 1;
}

ObjectNode* object_detach(ObjectNode* node) {
  if (!node) return nullptr;
  ObjectNode* parent = node->parent;
  if (!parent) return nullptr;
  // A node detached before keeps its parent pointer but is no longer in the
  // list: detaching it again changes nothing (the child count stays right).
  bool linked = node->prev ? node->prev->next == node : parent->first_child == node;
  if (!linked) return parent;
  object_index_remove(parent, node);
  layer_unlink(parent, node);
  node->prev = nullptr;
  node->next = nullptr;
  return parent;
}

ObjectNode* object_list_nth(ObjectNode* node, i64 n) {
  if (!node) return nullptr;
  ObjectNode* c = node->first_child;
  for (i64 i = 1; c && i < n; ++i) c = c->next;
  return c;
}

ObjectNode* get_named_object_sized(ObjectNode* root, const char* path, int is_group, i64 order_key,
                                   u32 name_buffer_size) {
  if (!path) {
    report_error_code_at(kErrObjectNullPath, 1);
    return nullptr;
  }
  ObjectNode* parent = resolve_parent_path(path, root);
  if (!parent) return nullptr;
  if (parent->index_count >= static_cast<i32>(kObjectIndexCapacity)) {
    report_error_code_at(kErrObjectTooManyChildren, 1);
    return nullptr;
  }
  // The last segment: after the last single-byte '/'.
  const char* last = path;
  for (const char* p = path;;) {
    u32 seg = segment_length(p);
    if (p[seg] != '/') {
      last = p;
      break;
    }
    p += seg + 1;
  }
  u32 length = segment_length(last);
  if (name_buffer_size < length + 1) name_buffer_size = length + 1;
  auto* node = static_cast<ObjectNode*>(std::calloc(1, sizeof(ObjectNode)));
  char* name = static_cast<char*>(std::calloc(name_buffer_size, 1));
  if (!node || !name) {
    std::free(node);
    std::free(name);
    report_out_of_memory();
    return nullptr;
  }
  std::memcpy(name, last, length);
  node->name = name;
  node->name_length = length;
  node->is_group = is_group ? 1 : 0;
  node->key = (is_group ? kObjectGroupBit : 0u) | object_name_hash(last, length);
  node->order_key = order_key;
  if (object_index_insert(parent, node) != 0) {
    free_node_storage(node);
    return nullptr;
  }
  layer_insert_child(parent, node, order_key);
  return node;
}

ObjectNode* get_named_object(ObjectNode* root, const char* path, int is_group, i64 order_key) {
  return get_named_object_sized(root, path, is_group, order_key, 0);
}

int make_menu_item(ObjectNode* node, const char* caption) {
  if (!node) return 0;
  auto* item = static_cast<MenuItem*>(std::calloc(1, sizeof(MenuItem)));
  char* text = static_cast<char*>(std::calloc(kMenuCaptionSize, 1));
  if (!item || !text) {
    std::free(item);
    std::free(text);
    return report_out_of_memory();
  }
  if (caption) {
    u32 n = 0;
    while (caption[n] && n < kMenuCaptionSize - 1) {
      if (is_sjis_lead(static_cast<unsigned char>(caption[n])) && caption[n + 1]) {
        if (n + 2 > kMenuCaptionSize - 1) break;
        n += 2;
      } else {
        n += 1;
      }
    }
    std::memcpy(text, caption, n);
  }
  item->caption = text;
  item->shown = 1;
  item->enabled = 256;
  if (node->payload_kind == kPayloadMenuItem && node->payload) free_menu_item(static_cast<MenuItem*>(node->payload));
  node->payload = item;
  node->payload_kind = kPayloadMenuItem;
  return 0;
}

void free_menu_item(MenuItem* item) {
  if (!item) return;
  std::free(item->caption);
  std::free(item);
}

void object_subtree_free(ObjectNode* node) {
  if (!node) return;
  ObjectNode* c = node->first_child;
  while (c) {
    ObjectNode* next = c->next;
    object_subtree_free(c);
    c = next;
  }
  if (node->payload && node->payload_kind < 5 && g_payload_release[node->payload_kind]) {
    g_payload_release[node->payload_kind](node->payload);
  }
  free_node_storage(node);
}

int create_system_objects() {
  g_payload_release[kPayloadMenuItem] = release_menu_item_payload;
  static const char* const kNames[4] = {"W0", "SYSTEM", "S0", "M0"};
  static const u8 kGroup[4] = {1, 0, 1, 1};
  static const i64 kOrder[4] = {1, 0, 0, 0};
  static const u8 kKinds[4] = {kPayloadLayerImage, kPayloadScriptContext, kPayloadSoundBuffer, kPayloadMenuItem};
  for (int t = 0; t < 4; ++t) {
    if (!g_object_roots[t]) {
      g_object_roots[t] = static_cast<ObjectNode*>(std::calloc(1, sizeof(ObjectNode)));
      if (!g_object_roots[t]) return report_out_of_memory();
    }
    ObjectNode* first = get_named_object_sized(g_object_roots[t], kNames[t], kGroup[t], kOrder[t], 256);
    if (!first) return -1;
    first->payload_kind = kKinds[t];
    g_system_objects[t] = first;
    set_object_base_path(t, kNames[t]);
  }
  if (attach_screen_layer(g_system_objects[kTreeLayer]) != 0) return -1;
  if (attach_system_task_context(g_system_objects[kTreeTask]) != 0) return -1;
  if (attach_root_sound(g_system_objects[kTreeSound]) != 0) return -1;
  return make_menu_item(g_system_objects[kTreeMenu], "");
}

void destroy_system_objects() {
  for (int t = 0; t < 4; ++t) {
    object_subtree_free(g_object_roots[t]);
    g_object_roots[t] = nullptr;
    g_system_objects[t] = nullptr;
    g_object_base_paths[t][0] = 0;
  }
}
