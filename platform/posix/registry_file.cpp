// The registry as a GKeyFile: one group per key (its full path from the root
// name), one entry per value. Every change is written to a new file that
// replaces the old one and is flushed, so a crash leaves the old or the new
// store, never a mix.
#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"

namespace {

struct Store {
  std::string path;  // "" : the default place
};

std::recursive_mutex g_mutex;
Store g_file_store;
Store g_fake_store;

std::string default_path() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/k_lumbrane/registry.ini";
}

std::string store_path(const Store& s) { return s.path.empty() ? default_path() : s.path; }

std::string casefold(const std::string& utf8) {
  gchar* f = g_utf8_casefold(utf8.c_str(), static_cast<gssize>(utf8.size()));
  std::string out = f ? f : "";
  g_free(f);
  return out;
}

// The group name of a key: the root's name, then the parts of the path,
// '\' between them, empty parts dropped. False for a bad root or text that
// does not convert.
bool group_name(int root, const char* sjis_key, std::string* out) {
  const char* name = registry_root_name(root);
  if (!*name) return false;
  std::string utf8;
  if (sjis_to_utf8(sjis_key ? sjis_key : "", &utf8) != 0) return false;
  std::string g = name;
  std::string part;
  for (std::size_t i = 0; i <= utf8.size(); ++i) {
    char c = i < utf8.size() ? utf8[i] : '\\';
    if (c == '\\' || c == '/') {
      if (!part.empty()) g += "\\" + part;
      part.clear();
    } else {
      part += c;
    }
  }
  *out = g;
  return true;
}

bool value_key(const char* sjis_name, std::string* out) {
  if (!sjis_name || !*sjis_name) {
    *out = "@";
    return true;
  }
  if (sjis_to_utf8(sjis_name, out) != 0) return false;
  // GKeyFile can't hold these in a key name.
  for (char c : *out)
    if (c == '=' || c == '\n' || c == '\r' || c == '[' || c == ']') return false;
  return !out->empty() && !g_ascii_isspace((*out)[0]) && !g_ascii_isspace(out->back());
}

GKeyFile* load(const Store& s) {
  GKeyFile* kf = g_key_file_new();
  g_key_file_load_from_file(kf, store_path(s).c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
  return kf;
}

int save(const Store& s, GKeyFile* kf) {
  std::string path = store_path(s);
  gchar* dir = g_path_get_dirname(path.c_str());
  g_mkdir_with_parents(dir, 0700);
  g_free(dir);
  gsize length = 0;
  gchar* data = g_key_file_to_data(kf, &length, nullptr);
  if (!data) return -1;
  gboolean ok = g_file_set_contents_full(
      path.c_str(), data, static_cast<gssize>(length),
      static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT | G_FILE_SET_CONTENTS_DURABLE), 0600,
      nullptr);
  g_free(data);
  return ok ? 0 : -1;
}

// The stored group that names the same key (names compared without case).
bool find_group(GKeyFile* kf, const std::string& group, std::string* found) {
  std::string want = casefold(group);
  gsize n = 0;
  gchar** groups = g_key_file_get_groups(kf, &n);
  bool hit = false;
  for (gsize i = 0; i < n && !hit; ++i) {
    if (casefold(groups[i]) == want) {
      *found = groups[i];
      hit = true;
    }
  }
  g_strfreev(groups);
  return hit;
}

bool find_key(GKeyFile* kf, const std::string& group, const std::string& key, std::string* found) {
  std::string want = casefold(key);
  gsize n = 0;
  gchar** keys = g_key_file_get_keys(kf, group.c_str(), &n, nullptr);
  bool hit = false;
  for (gsize i = 0; keys && i < n && !hit; ++i) {
    if (casefold(keys[i]) == want) {
      *found = keys[i];
      hit = true;
    }
  }
  g_strfreev(keys);
  return hit;
}

bool parse_dword(const std::string& text, std::uint32_t* value) {
  if (text.size() != 14 || text.compare(0, 6, "dword:") != 0) return false;
  std::uint32_t v = 0;
  for (std::size_t i = 6; i < 14; ++i) {
    int d = g_ascii_xdigit_value(text[i]);
    if (d < 0) return false;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

int store_read(const Store& s, int root, const char* sjis_key, const char* sjis_name, std::uint32_t* type,
               std::string* data) {
  std::string group, key;
  if (!group_name(root, sjis_key, &group) || !value_key(sjis_name, &key)) return -1;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GKeyFile* kf = load(s);
  std::string g, k;
  int result = -1;
  if (find_group(kf, group, &g) && find_key(kf, g, key, &k)) {
    gchar* text = g_key_file_get_string(kf, g.c_str(), k.c_str(), nullptr);
    if (text) {
      std::string t = text;
      g_free(text);
      std::uint32_t dword = 0;
      if (parse_dword(t, &dword)) {
        *type = kRegDword;
        data->assign(4, '\0');
        for (int i = 0; i < 4; ++i) (*data)[i] = static_cast<char>((dword >> (8 * i)) & 0xFF);
        result = 0;
      } else {
        if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
        std::string sjis;
        if (utf8_to_sjis(t.c_str(), &sjis) == 0) {
          *type = kRegSz;
          *data = sjis;
          result = 0;
        }
      }
    }
  }
  g_key_file_free(kf);
  return result;
}

int store_write(const Store& s, int root, const char* sjis_key, const char* sjis_name, std::uint32_t type,
                const std::string& data) {
  std::string group, key, text;
  if (!group_name(root, sjis_key, &group) || !value_key(sjis_name, &key)) return -1;
  if (type == kRegDword) {
    if (data.size() != 4) return -1;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    text = buf;
  } else if (type == kRegSz) {
    std::string sjis(data.c_str());  // up to its first NUL, as REG_SZ reads
    if (sjis_to_utf8(sjis.c_str(), &text) != 0) return -1;
    // Quoted when it would read back as something else.
    if (text.compare(0, 6, "dword:") == 0 || (!text.empty() && text.front() == '"')) text = "\"" + text + "\"";
  } else {
    return -1;
  }
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GKeyFile* kf = load(s);
  std::string g = group, k = key;
  if (find_group(kf, group, &g)) find_key(kf, g, key, &k);
  g_key_file_set_string(kf, g.c_str(), k.c_str(), text.c_str());
  int result = save(s, kf);
  g_key_file_free(kf);
  return result;
}

int store_delete_value(const Store& s, int root, const char* sjis_key, const char* sjis_name) {
  std::string group, key;
  if (!group_name(root, sjis_key, &group) || !value_key(sjis_name, &key)) return -1;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GKeyFile* kf = load(s);
  std::string g, k;
  int result = -1;
  if (find_group(kf, group, &g) && find_key(kf, g, key, &k)) {
    g_key_file_remove_key(kf, g.c_str(), k.c_str(), nullptr);
    result = save(s, kf);
  }
  g_key_file_free(kf);
  return result;
}

int store_delete_key(const Store& s, int root, const char* sjis_key) {
  std::string group;
  if (!group_name(root, sjis_key, &group)) return -1;
  if (group == registry_root_name(root)) return -1;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GKeyFile* kf = load(s);
  std::string want = casefold(group);
  std::string below = want + "\\";
  gsize n = 0;
  gchar** groups = g_key_file_get_groups(kf, &n);
  bool any = false;
  for (gsize i = 0; i < n; ++i) {
    std::string f = casefold(groups[i]);
    if (f == want || f.compare(0, below.size(), below) == 0) {
      g_key_file_remove_group(kf, groups[i], nullptr);
      any = true;
    }
  }
  g_strfreev(groups);
  int result = any ? save(s, kf) : -1;
  g_key_file_free(kf);
  return result;
}

// A key exists as a group of its own or as the parent of one.
int store_key_exists(const Store& s, int root, const char* sjis_key) {
  std::string group;
  if (!group_name(root, sjis_key, &group)) return 0;
  if (group == registry_root_name(root)) return 1;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GKeyFile* kf = load(s);
  std::string want = casefold(group);
  std::string below = want + "\\";
  gsize n = 0;
  gchar** groups = g_key_file_get_groups(kf, &n);
  int found = 0;
  for (gsize i = 0; i < n && !found; ++i) {
    std::string f = casefold(groups[i]);
    if (f == want || f.compare(0, below.size(), below) == 0) found = 1;
  }
  g_strfreev(groups);
  g_key_file_free(kf);
  return found;
}

int file_read(int root, const char* key, const char* name, std::uint32_t* type, std::string* data) {
  return store_read(g_file_store, root, key, name, type, data);
}
int file_write(int root, const char* key, const char* name, std::uint32_t type, const std::string& data) {
  return store_write(g_file_store, root, key, name, type, data);
}
int file_delete_value(int root, const char* key, const char* name) {
  return store_delete_value(g_file_store, root, key, name);
}
int file_delete_key(int root, const char* key) { return store_delete_key(g_file_store, root, key); }
int file_key_exists(int root, const char* key) { return store_key_exists(g_file_store, root, key); }

void ensure_fake_path() {
  if (!g_fake_store.path.empty()) return;
  const char* tmp = std::getenv("TMPDIR");
  g_fake_store.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kl_fake_registry_" +
                      std::to_string(static_cast<long>(getpid())) + ".ini";
}
int fake_read(int root, const char* key, const char* name, std::uint32_t* type, std::string* data) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  return store_read(g_fake_store, root, key, name, type, data);
}
int fake_write(int root, const char* key, const char* name, std::uint32_t type, const std::string& data) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  return store_write(g_fake_store, root, key, name, type, data);
}
int fake_delete_value(int root, const char* key, const char* name) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  return store_delete_value(g_fake_store, root, key, name);
}
int fake_delete_key(int root, const char* key) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  return store_delete_key(g_fake_store, root, key);
}
int fake_key_exists(int root, const char* key) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  return store_key_exists(g_fake_store, root, key);
}

}  // namespace

const PlatformRegistry kFileRegistry = {file_read, file_write, file_delete_value, file_delete_key,
                                       file_key_exists};
const PlatformRegistry kFakeRegistry = {fake_read, fake_write, fake_delete_value, fake_delete_key,
                                       fake_key_exists};

void file_registry_set_path(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_file_store.path = path;
}

std::string file_registry_path() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return store_path(g_file_store);
}

void fake_registry_reset() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  ensure_fake_path();
  std::remove(g_fake_store.path.c_str());
}

const char* registry_root_name(int root) {
  static const char* const names[kRegistryRootCount] = {
      "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",     "HKEY_LOCAL_MACHINE", "HKEY_USERS",
      "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
  return root >= 0 && root < kRegistryRootCount ? names[root] : "";
}
