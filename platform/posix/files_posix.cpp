// Files named by Shift-JIS paths, found case-insensitively as on Windows.
//
// A path is split at single-byte '\' and '/' (a trail byte 0x5C of a
// two-byte character is part of its character), each component is converted
// to UTF-8, and the components are looked up one by one: the name as given
// first (one stat, the usual case), then a listing of the folder compared with
// ASCII letters folded. UTF-8 keeps every non-ASCII character in bytes >= 0x80,
// so folding ASCII bytes of UTF-8 names folds exactly the single-byte letters
// of the Shift-JIS names and compares two-byte characters exactly.
//
// Folder listings are cached by device and inode together with the folder's
// modification time. A cached listing is used only while the folder's time
// is unchanged and was already more than a few seconds old when the listing
// was read, because file systems stamp times with a coarse clock: a name added
// in the same tick as the listing would otherwise go unseen.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/fd_write.h"

namespace {

constexpr std::size_t kMaxCachedFolders = 512;
constexpr long kTrustAgeSeconds = 3;

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

void fold_ascii(std::string* s) {
  for (char& c : *s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

const char* as_dir(const std::string& folder) { return folder.empty() ? "." : folder.c_str(); }

// Splits a Shift-JIS path into UTF-8 components with "." dropped and ".."
// taken away lexically, as Windows does. Returns -1 when a component does not
// convert.
int split_path(const char* sjis, bool* absolute, std::vector<std::string>* parts) {
  parts->clear();
  *absolute = sjis[0] == '\\' || sjis[0] == '/';
  std::string piece;
  auto flush = [&]() -> int {
    if (piece.empty() || piece == ".") {
      piece.clear();
      return 0;
    }
    if (piece == "..") {
      if (!parts->empty() && parts->back() != "..")
        parts->pop_back();
      else if (!*absolute)
        parts->push_back("..");
      piece.clear();
      return 0;
    }
    std::string utf8;
    if (sjis_to_utf8(piece.c_str(), &utf8) != 0) return -1;
    parts->push_back(std::move(utf8));
    piece.clear();
    return 0;
  };
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis); *p;) {
    if (is_lead_byte(*p) && p[1]) {
      piece.push_back(static_cast<char>(p[0]));
      piece.push_back(static_cast<char>(p[1]));
      p += 2;
      continue;
    }
    if (*p == '\\' || *p == '/') {
      if (flush() != 0) return -1;
    } else {
      piece.push_back(static_cast<char>(*p));
    }
    ++p;
  }
  return flush();
}

struct FolderListing {
  timespec mtime;
  bool trusted;
  std::unordered_map<std::string, std::string> by_folded;  // folded name -> real name
};

std::mutex g_cache_mutex;
std::map<std::pair<dev_t, ino_t>, FolderListing> g_cache;
std::uint64_t g_listings_read = 0;  // under g_cache_mutex

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

int read_listing(const std::string& folder, const struct stat& st, FolderListing* out) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  DIR* dir = opendir(as_dir(folder));
  if (!dir) return -1;
  out->mtime = st.st_mtim;
  out->trusted = now.tv_sec - st.st_mtim.tv_sec > kTrustAgeSeconds;
  out->by_folded.clear();
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::string real = e->d_name;
    std::string folded = real;
    fold_ascii(&folded);
    auto [it, added] = out->by_folded.emplace(folded, real);
    // Two names that differ only in case: take the smaller one, so that the
    // choice does not depend on the order the file system lists them in.
    if (!added && real < it->second) it->second = real;
  }
  closedir(dir);
  return 0;
}

// Finds the real name of a component in folder by folded comparison.
// Returns 0 with *real set, 1 when no entry matches, -1 when the folder
// cannot be read.
int find_folded(const std::string& folder, const std::string& name, std::string* real) {
  struct stat st;
  if (stat(as_dir(folder), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  std::string folded = name;
  fold_ascii(&folded);
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  auto key = std::make_pair(st.st_dev, st.st_ino);
  auto it = g_cache.find(key);
  FolderListing fresh;
  const FolderListing* listing = nullptr;
  if (it != g_cache.end() && it->second.trusted && same_time(it->second.mtime, st.st_mtim)) {
    listing = &it->second;
  } else {
    if (it != g_cache.end()) g_cache.erase(it);
    if (read_listing(folder, st, &fresh) != 0) return -1;
    ++g_listings_read;
    if (fresh.trusted) {
      if (g_cache.size() >= kMaxCachedFolders) g_cache.clear();
      listing = &g_cache.emplace(key, std::move(fresh)).first->second;
    } else {
      listing = &fresh;
    }
  }
  auto found = listing->by_folded.find(folded);
  if (found == listing->by_folded.end()) return 1;
  *real = found->second;
  return 0;
}

// Outcome of a resolve: the real folder, the real name of the last
// component (or the name as given when missing), and its status.
struct Resolved {
  int rc = -1;            // 0 exists, 1 last component missing, -1 failure
  std::string folder;     // real UTF-8 folder ("" is the current folder)
  std::string name;       // real name, or the name as given when missing
  std::string given;      // last component as given
  struct stat st {};      // of the whole path when rc == 0
  bool whole_folder = false;  // the path named the root or the current folder
  std::string path() const {
    if (whole_folder) return folder.empty() ? std::string(".") : folder;
    return join(folder, name);
  }
};

Resolved resolve_path(const char* sjis) {
  Resolved r;
  if (!sjis || !*sjis) return r;
  bool absolute = false;
  std::vector<std::string> parts;
  if (split_path(sjis, &absolute, &parts) != 0) return r;
  std::string base = absolute ? "/" : "";
  if (parts.empty()) {
    r.folder = base;
    r.whole_folder = true;
    if (stat(as_dir(base), &r.st) != 0) return r;
    r.rc = 0;
    return r;
  }
  r.given = parts.back();
  // The name as given, whole: one stat settles the usual case.
  std::string exact = base;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) exact = join(exact, parts[i]);
  std::string exact_folder = exact;
  exact = join(exact, parts.back());
  if (stat(exact.c_str(), &r.st) == 0) {
    r.folder = exact_folder;
    r.name = parts.back();
    r.rc = 0;
    return r;
  }
  // Component by component.
  std::string folder = base;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    std::string real;
    std::string candidate = join(folder, parts[i]);
    struct stat st;
    int found;
    if (parts[i] == ".." || lstat(candidate.c_str(), &st) == 0) {
      real = parts[i];
      found = 0;
    } else {
      found = find_folded(folder, parts[i], &real);
    }
    if (found < 0) return r;
    if (found == 1) {
      if (!last) return r;
      r.folder = folder;
      r.name = parts[i];
      r.rc = 1;
      return r;
    }
    std::string path = join(folder, real);
    if (stat(path.c_str(), &st) != 0) {
      // A dangling link counts as missing.
      if (!last) return r;
      r.folder = folder;
      r.name = real;
      r.rc = 1;
      return r;
    }
    if (last) {
      r.folder = folder;
      r.name = real;
      r.st = st;
      r.rc = 0;
      return r;
    }
    if (!S_ISDIR(st.st_mode)) return r;
    folder = path;
  }
  return r;
}

int posix_resolve(const char* sjis_path, std::string* real_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc >= 0 && real_path) *real_path = r.path();
  return r.rc;
}

std::FILE* posix_open(const char* sjis_path, const char* mode) {
  if (!mode || !*mode || std::strlen(mode) > 8) return nullptr;
  bool creates = mode[0] == 'w' || mode[0] == 'a';
  if (!creates && mode[0] != 'r') return nullptr;
  Resolved r = resolve_path(sjis_path);
  if (r.rc < 0 || (r.rc == 1 && !creates)) return nullptr;
  if (r.rc == 0 && S_ISDIR(r.st.st_mode)) return nullptr;
  const bool plus = std::strchr(mode, '+') != nullptr;
  int flags = plus ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
  if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;
  if (mode[0] == 'w' && std::strchr(mode, 'x')) flags |= O_EXCL;
  // Opened without waiting (a FIFO put under a file's name would hold the
  // open for ever; for writing, one without a reader fails at once) and
  // close on exec (a started program must not inherit our files); only a
  // regular file is read.
  int fd = ::open(r.path().c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  const bool refused = fstat(fd, &st) != 0 || (mode[0] == 'r' && !S_ISREG(st.st_mode));
  if (refused || fcntl(fd, F_SETFL, flags & O_APPEND) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* f = fdopen(fd, mode);
  if (!f) close(fd);
  return f;
}

int posix_is_file(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  return r.rc == 0 && S_ISREG(r.st.st_mode) ? 1 : 0;
}

int posix_is_directory(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  return r.rc == 0 && S_ISDIR(r.st.st_mode) ? 1 : 0;
}

std::int64_t posix_file_size(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc != 0 || !S_ISREG(r.st.st_mode)) return -1;
  return static_cast<std::int64_t>(r.st.st_size);
}

int posix_remove_file(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc != 0 || S_ISDIR(r.st.st_mode)) return -1;
  return unlink(r.path().c_str()) == 0 ? 0 : -1;
}

int posix_remove_directory(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc != 0 || r.whole_folder || !S_ISDIR(r.st.st_mode)) return -1;
  return rmdir(r.path().c_str()) == 0 ? 0 : -1;
}

int posix_make_directory(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc != 1) return -1;  // a folder on the way is missing, or the name exists
  return mkdir(r.path().c_str(), 0777) == 0 ? 0 : -1;
}

// rename that refuses to replace an existing destination.
int rename_no_replace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // The file system cannot refuse by itself: link, then drop the old name.
  if (link(from.c_str(), to.c_str()) != 0) return -1;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return -1;
  }
  return 0;
}

int posix_rename_file(const char* from_sjis, const char* to_sjis) {
  Resolved from = resolve_path(from_sjis);
  if (from.rc != 0 || from.whole_folder) return -1;
  Resolved to = resolve_path(to_sjis);
  if (to.rc < 0 || to.whole_folder) return -1;
  if (to.rc == 0) {
    // Only a change of case of the same file is allowed over an existing name.
    if (to.st.st_dev != from.st.st_dev || to.st.st_ino != from.st.st_ino) return -1;
    if (to.folder == from.folder && to.given == from.name) return 0;
    return rename(from.path().c_str(), join(to.folder, to.given).c_str()) == 0 ? 0 : -1;
  }
  return rename_no_replace(from.path(), to.path());
}

int posix_replace_file(const char* from_sjis, const char* to_sjis) {
  Resolved from = resolve_path(from_sjis);
  if (from.rc != 0 || from.whole_folder || S_ISDIR(from.st.st_mode)) return -1;
  Resolved to = resolve_path(to_sjis);
  if (to.rc < 0 || to.whole_folder) return -1;
  if (to.rc == 0 && S_ISDIR(to.st.st_mode)) return -1;
  return rename(from.path().c_str(), to.path().c_str()) == 0 ? 0 : -1;
}

int posix_copy_file(const char* from_sjis, const char* to_sjis) {
  Resolved from = resolve_path(from_sjis);
  if (from.rc != 0 || !S_ISREG(from.st.st_mode)) return -1;
  Resolved to = resolve_path(to_sjis);
  if (to.rc < 0 || to.whole_folder) return -1;
  if (to.rc == 0 && S_ISDIR(to.st.st_mode)) return -1;
  int in = open(from.path().c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  std::string temp = join(to.folder, ".kl_copy_XXXXXX");
  int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    close(in);
    return -1;
  }
  int rc = 0;
  std::vector<char> buffer(1 << 16);
  while (rc == 0) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      rc = -1;
    } else if (n == 0) {
      break;
    } else {
      rc = fd_write_all(out, buffer.data(), static_cast<std::size_t>(n));
    }
  }
  close(in);
  if (rc == 0 && fchmod(out, from.st.st_mode & 0777) != 0) rc = -1;
  if (rc == 0 && fsync(out) != 0) rc = -1;
  if (close(out) != 0) rc = -1;
  if (rc == 0 && rename(temp.c_str(), to.path().c_str()) != 0) rc = -1;
  if (rc != 0) unlink(temp.c_str());
  return rc;
}

int posix_list_folder(const char* sjis_folder, std::vector<FolderEntry>* out) {
  if (!out) return -1;
  out->clear();
  Resolved r = resolve_path(sjis_folder);
  if (r.rc != 0 || !S_ISDIR(r.st.st_mode)) return -1;
  std::string path = r.path();
  DIR* dir = opendir(path.c_str());
  if (!dir) return -1;
  int dfd = dirfd(dir);
  std::vector<std::pair<std::string, FolderEntry>> found;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dfd, e->d_name, &st, 0) != 0) continue;  // dangling link
    FolderEntry entry;
    // A name that has no Shift-JIS form cannot be named by the engine.
    if (utf8_to_sjis(e->d_name, &entry.name) != 0) continue;
    entry.is_directory = S_ISDIR(st.st_mode);
    entry.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    std::string key = e->d_name;
    fold_ascii(&key);
    found.emplace_back(std::move(key), std::move(entry));
  }
  closedir(dir);
  // A stable order, case-folded as Windows file systems list their folders.
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return a.second.name < b.second.name;
  });
  out->reserve(found.size());
  for (auto& f : found) out->push_back(std::move(f.second));
  return 0;
}

std::int64_t posix_free_space(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc < 0) return -1;
  std::string path = r.rc == 0 ? r.path() : std::string(as_dir(r.folder));
  struct statvfs vs;
  if (statvfs(path.c_str(), &vs) != 0) return -1;
  return static_cast<std::int64_t>(vs.f_bavail) * static_cast<std::int64_t>(vs.f_frsize);
}

std::string posix_current_folder() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  std::string sjis;
  if (utf8_to_sjis(buffer.data(), &sjis) != 0) return std::string();
  // 0x2F is never a trail byte, so every '/' byte is a separator.
  for (char& c : sjis)
    if (c == '/') c = '\\';
  if (sjis.empty() || sjis.back() != '\\') sjis += '\\';
  return sjis;
}

int posix_set_current_folder(const char* sjis_path) {
  Resolved r = resolve_path(sjis_path);
  if (r.rc != 0 || !S_ISDIR(r.st.st_mode)) return -1;
  return chdir(r.path().c_str()) == 0 ? 0 : -1;
}

}  // namespace

const PlatformFiles kPosixFiles = {
    posix_resolve,     posix_open,        posix_is_file,       posix_is_directory,    posix_file_size,
    posix_remove_file, posix_make_directory, posix_rename_file, posix_copy_file,     posix_list_folder,
    posix_free_space,  posix_current_folder, posix_set_current_folder, posix_replace_file, posix_remove_directory};

std::uint64_t files_folder_listings_read() {
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  return g_listings_read;
}
